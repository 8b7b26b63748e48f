// Failures of the operating system below the file classes, made by the fault-injecting
// files: the exact messages, and that a failed write, flush or close loses nothing that
// can still be saved.

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>

#include "io/KsIO.h"
#include "io/KsIOFactory.h"
#include "io/KsIOUnbuffered.h"
#include "platform/KsSystemError.h"
#include "support/FaultInjectingFile.h"
#include "support/KsErrorCapture.h"
#include "support/TempDir.h"

namespace {

using kstest::CaughtError;
using kstest::ErrorOf;
using kstest::FaultInjectingFactory;
using kstest::FaultOp;
using kstest::MessageOf;
using kstest::Pattern;
using kstest::ReadWholeFile;
using kstest::WriteWholeFile;

// " -- " and the system's text for the error.
std::string Reason(int errorNumber) {
    return " -- " + KsSystemErrorText(errorNumber);
}

class KsIOFaultTest : public ::testing::Test {
protected:
    kstest::TempDir dir;
    std::string path = dir.File("data.bin");
    FaultInjectingFactory factory;

    std::unique_ptr<KsIOInterface> OpenFile(int flags = 27) {
        return factory.Open(path.c_str(), flags);
    }
};

// A flush that fails, wholly or after some bytes, leaves the file open with every byte
// pending: the retry writes the pending range again, so nothing is lost or doubled.
TEST_F(KsIOFaultTest, FailedFlushKeepsTheBytesForARetry) {
    for (std::size_t bytesFirst : {0u, 4u}) {
        const int errorNumber = bytesFirst == 0 ? ENOSPC : EIO;
        const std::string unable =
            bytesFirst == 0 ? "Unable to write 10 bytes" : "Only able to write 4 bytes of 10 bytes";
        factory.Plan().Reset();
        WriteWholeFile(path, "");
        auto file = OpenFile();
        file->Write("abc", 3);
        file->Flush();
        file->Write("0123456789", 10);
        factory.Plan().FailShort(FaultOp::kFlush, 2, bytesFirst, errorNumber);
        EXPECT_EQ(ErrorOf([&] { file->Flush(); }), unable + " at offset 3 of file \"" + path +
                                                       "\"" + Reason(errorNumber) +
                                                       " / KsIO / Flush() of KsIO");
        EXPECT_TRUE(file->IsOpen());
        EXPECT_EQ(file->Tell(), 13);
        EXPECT_EQ(file->GetFileSize(), 13);
        file->Write("!", 1);
        // Close fails the same way and still keeps the file open.
        factory.Plan().Fail(FaultOp::kFlush, 3, EIO);
        EXPECT_STREQ(CaughtError([&] { file->Close(); }).GetCallpath(), "Close() of KsIO");
        EXPECT_TRUE(file->IsOpen());
        file->Close();
        EXPECT_EQ(ReadWholeFile(path), "abc0123456789!");
        EXPECT_EQ(factory.Plan().Failures(FaultOp::kFlush), 2);
    }
}

// A Write that fills the buffer writes it out; when that fails, the bytes the buffer took
// stay pending and Tell shows how many there are.
TEST_F(KsIOFaultTest, FailedWriteNamesTheWindowAndKeepsWhatTheBufferTook) {
    auto file = OpenFile();
    std::string bytes = Pattern(20000);
    factory.Plan().Fail(FaultOp::kWrite, 2, ENOSPC);
    EXPECT_EQ(ErrorOf([&] { file->Write(bytes.data(), 20000); }),
              "Unable to write 8000 bytes at offset 8000 of file \"" + path + "\"" +
                  Reason(ENOSPC) + " / KsIO / Write() of KsIO");
    EXPECT_EQ(file->Tell(), 16000);
    file->Write(bytes.data() + 16000, 4000);  // the caller goes on from there
    file->Close();
    EXPECT_TRUE(ReadWholeFile(path) == bytes);
    EXPECT_EQ(factory.Plan().Calls(FaultOp::kWrite), 3);
    EXPECT_EQ(factory.Plan().Calls(FaultOp::kFlush), 1);
}

TEST_F(KsIOFaultTest, PositionedWritesTruncationAndCloseReportTheSystemsReason) {
    auto file = OpenFile();
    file->Write(Pattern(9000).data(), 9000);  // the window now starts at 8000
    factory.Plan().FailShort(FaultOp::kWriteTo, 1, 2, EIO);
    EXPECT_EQ(ErrorOf([&] { file->WriteTo(10, "12345", 5); }),
              "Unable to write 5 bytes at position 10 of file \"" + path + "\"" + Reason(EIO) +
                  " / KsIO / WriteTo() of KsIO");
    EXPECT_EQ(file->Tell(), 9000);

    factory.Plan().Fail(FaultOp::kTruncate, 1, EIO);
    EXPECT_EQ(MessageOf([&] { file->Truncate(100); }), "Win32 Error : " + KsSystemErrorText(EIO));
    EXPECT_EQ(file->GetFileSize(), 9000);

    // A failed close has still released the file: what Close reports may have been lost.
    factory.Plan().Fail(FaultOp::kClose, 1, EIO);
    EXPECT_EQ(ErrorOf([&] { file->Close(); }),
              "Unable to close file \"" + path + "\"" + Reason(EIO) + " / KsIO / Close() of KsIO");
    EXPECT_FALSE(file->IsOpen());
    EXPECT_EQ(ReadWholeFile(path), Pattern(9000).replace(10, 2, "12"));
}

TEST_F(KsIOFaultTest, UnbufferedFilesFailTheirWritesAndCloses) {
    kstest::FaultInjectingUnbufferedFile file(factory.SharedPlan(), path.c_str(), 27);
    factory.Plan().FailShort(FaultOp::kWrite, 1, 2, ENOSPC);
    EXPECT_EQ(MessageOf([&] { file.Write("hello", 5); }),
              "Could not write 5 bytes to \"" + path + "\"");
    EXPECT_EQ(ReadWholeFile(path), "he");
    factory.Plan().Fail(FaultOp::kWriteTo, 1, EIO);
    EXPECT_EQ(MessageOf([&] { file.WriteTo(0, "xy", 2); }),
              "Could not write 2 bytes to 0 in file \"" + path + "\"" + Reason(EIO));
    factory.Plan().Fail(FaultOp::kTruncate, 1, EIO);
    EXPECT_EQ(MessageOf([&] { file.Truncate(0); }), "Win32 Error : " + KsSystemErrorText(EIO));
    factory.Plan().Fail(FaultOp::kClose, 1, EIO);
    EXPECT_EQ(ErrorOf([&] { file.Close(); }), "Unable to close file \"" + path + "\"" +
                                                  Reason(EIO) +
                                                  " / KsIOUnbuffered / Close() of KsIOUnbuffered");
    EXPECT_FALSE(file.IsOpen());
}

// Replace never copies: a failed rename leaves both files as they were. A successful one
// keeps the permissions of the file it replaces; a new file gets those of a plain create.
TEST_F(KsIOFaultTest, ReplaceIsOneStepAndKeepsPermissions) {
    std::string replacement = dir.File("new.bin");
    WriteWholeFile(path, "old");
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    WriteWholeFile(replacement, "new");
    ASSERT_EQ(chmod(replacement.c_str(), 0600), 0);
    factory.Plan().Fail(FaultOp::kRename, 1, EXDEV);
    EXPECT_EQ(ErrorOf([&] { factory.Replace(path.c_str(), replacement.c_str()); }),
              "Unable to rename \"" + replacement + "\" to \"" + path + "\"" + Reason(EXDEV) +
                  " / KsIOInterface / Replace() of KsIOInterface");
    EXPECT_EQ(ReadWholeFile(path), "old");
    EXPECT_EQ(ReadWholeFile(replacement), "new");

    factory.Replace(path.c_str(), replacement.c_str());
    EXPECT_EQ(ReadWholeFile(path), "new");
    EXPECT_FALSE(factory.Exists(replacement.c_str()));
    struct stat status;
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);

    std::string fresh = dir.File("fresh.bin");
    WriteWholeFile(replacement, "newer");
    ASSERT_EQ(chmod(replacement.c_str(), 0600), 0);
    mode_t mask = umask(027);
    factory.Replace(fresh.c_str(), replacement.c_str());
    umask(mask);
    ASSERT_EQ(stat(fresh.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);
}

// Rename falls back to copying through the factory's own files and deleting (here as if
// across file systems); a failed delete is reported with the system's reason.
TEST_F(KsIOFaultTest, RenameFallsBackToCopyAndDeleteReportsItsReason) {
    std::string target = dir.File("target.bin");
    WriteWholeFile(path, "content");
    factory.Plan().Fail(FaultOp::kRename, 1, EXDEV);
    factory.Rename(target.c_str(), path.c_str());
    EXPECT_EQ(ReadWholeFile(target), "content");
    EXPECT_FALSE(factory.Exists(path.c_str()));
    EXPECT_EQ(factory.Plan().Calls(FaultOp::kFlush), 1);  // the copy wrote through the plan
    EXPECT_EQ(factory.Plan().Calls(FaultOp::kDelete), 1);

    factory.Plan().Fail(FaultOp::kDelete, 2, EACCES);
    auto failed = CaughtError<KsFileOpenFailedException>([&] { factory.Delete(target.c_str()); });
    EXPECT_EQ(failed.GetErrorMessage(),
              "Error in deleting file '" + target + "'.  Permission denied.");
    EXPECT_EQ(ReadWholeFile(target), "content");
}

// A copy that fails at any step raises: with 600000 bytes and 256 KiB windows it writes
// two full windows while copying and the rest when it flushes, and closes both files.
TEST_F(KsIOFaultTest, CopyFailingAtEachStepRaises) {
    std::string source = dir.File("source.bin");
    std::string bytes = Pattern(600000);
    WriteWholeFile(source, bytes);
    KsIOInterface::Copy(path.c_str(), source.c_str(), nullptr, factory);
    ASSERT_TRUE(ReadWholeFile(path) == bytes);
    const kstest::FaultPlan clean = factory.Plan();
    ASSERT_EQ(clean.Calls(FaultOp::kWrite), 2);
    ASSERT_EQ(clean.Calls(FaultOp::kFlush), 1);
    ASSERT_EQ(clean.Calls(FaultOp::kTruncate), 1);
    ASSERT_EQ(clean.Calls(FaultOp::kClose), 2);

    auto unableToWrite = [&](int count, int offset) {
        return "Unable to write " + std::to_string(count) + " bytes at offset " +
               std::to_string(offset) + " of file \"" + path + "\"" + Reason(ENOSPC);
    };
    const std::pair<FaultOp, std::string> steps[] = {
        {FaultOp::kWrite, unableToWrite(262144, 0)},
        {FaultOp::kWrite, unableToWrite(262144, 262144)},
        {FaultOp::kFlush, unableToWrite(600000 - 524288, 524288)},
        {FaultOp::kTruncate, "Win32 Error : " + KsSystemErrorText(ENOSPC)},
        {FaultOp::kClose, "Unable to close file \"" + path + "\"" + Reason(ENOSPC)},
        {FaultOp::kClose, "Unable to close file \"" + source + "\"" + Reason(ENOSPC)},
    };
    int nth[kstest::kFaultOpCount] = {};
    for (const auto& [op, message] : steps) {
        FaultInjectingFactory failing;
        failing.Plan().Fail(op, ++nth[static_cast<int>(op)], ENOSPC);
        KsException error = CaughtError(
            [&] { KsIOInterface::Copy(path.c_str(), source.c_str(), nullptr, failing); });
        EXPECT_EQ(error.GetErrorMessage(), message);
        EXPECT_NE(std::string(error.GetCallpath()).find("Copy() of KsIOInterface"),
                  std::string::npos);
        EXPECT_EQ(failing.Plan().Failures(op), 1);
    }
}

}  // namespace
