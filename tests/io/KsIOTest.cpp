#include "KsIO.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "ChildProcess.h"
#include "KsErrorCapture.h"
#include "TempDir.h"

namespace {

using kstest::CaughtError;
using kstest::MessageOf;
using kstest::ReadWholeFile;
using kstest::WriteWholeFile;

class KsIOTest : public ::testing::Test {
protected:
    kstest::TempDir dir;
    std::string path = dir.File("data.bin");

    std::string ReadAll(KsIO& file, std::int32_t count) {
        std::string bytes(static_cast<std::size_t>(count), '\0');
        bytes.resize(static_cast<std::size_t>(file.Read(bytes.data(), count, false)));
        return bytes;
    }
};

TEST_F(KsIOTest, OpeningAMissingFileNamesTheFileAndTheReason) {
    KsIO file;
    KsFileOpenFailedException error =
        CaughtError<KsFileOpenFailedException>([&] { file.Open(path.c_str(), IO_READ); });
    EXPECT_EQ(std::string(error.GetErrorMessage()),
              "Error in opening file '" + path + "'.  No such file or directory.");
    EXPECT_STREQ(error.GetClassName(), "KsIO");
    EXPECT_STREQ(error.GetCallpath(), "Open of KsIO");
    EXPECT_FALSE(file.IsOpen());
    EXPECT_STREQ(file.GetFileName(), "");

    KsFileOpenFailedException constructed = CaughtError<KsFileOpenFailedException>(
        [&] { KsIO missing(dir.File("none/x").c_str(), 27); });
    EXPECT_STREQ(constructed.GetCallpath(), "Open of KsIO\r\nConstructor(char * sFile...) of KsIO");
    EXPECT_EQ(MessageOf([&] { KsIO directory(dir.Path().c_str(), IO_READ); }),
              "Error in opening file '" + dir.Path().string() + "'.  Permission denied.");
}

TEST_F(KsIOTest, FlagsAndNamesAreCheckedBeforeAnythingChanges) {
    WriteWholeFile(path, "abc");
    KsIO file(path.c_str(), IO_READ);
    for (int flags : {0, IO_TEXT, IO_CREATE | IO_TRUNCATE}) {
        KsException error = CaughtError([&] { file.Open(dir.File("other").c_str(), flags); });
        EXPECT_STREQ(error.GetErrorMessage(), "Invalid file flags");
        EXPECT_STREQ(error.GetClassName(), "KsIO");
    }
    EXPECT_EQ(MessageOf([&] { file.Open(nullptr, IO_READ); }), "Null pointer to filename");
    // The open file was left alone.
    EXPECT_TRUE(file.IsOpen());
    EXPECT_EQ(file.GetFlags(), IO_READ);
    EXPECT_EQ(ReadAll(file, 10), "abc");
    // Reopening under its own name works although Close clears the name first.
    file.Open(file.GetFileName(), 3);
    EXPECT_EQ(std::string(file.GetFileName()), path);
    EXPECT_EQ(ReadAll(file, 10), "abc");
}

TEST_F(KsIOTest, RunningOutOfDescriptorsIsReportedAsSuch) {
#ifdef __SANITIZE_ADDRESS__
    // The sanitizers need descriptors of their own to check memory in the child.
    GTEST_SKIP() << "not under the sanitizers";
#endif
    WriteWholeFile(path, "abc");
    int result = kstest::RunInChild([&] {
        struct rlimit none = {0, 0};
        setrlimit(RLIMIT_NOFILE, &none);
        std::string message = MessageOf([&] { KsIO file(path.c_str(), IO_READ); });
        return message == "Error in opening file '" + path + "'.  Too many open files." ? 0 : 1;
    });
    EXPECT_EQ(result, 0);
}

TEST_F(KsIOTest, ConverterFlagsCreateOrEmptyTheOutput) {
    {
        KsIO out(path.c_str(), 27);
        out.WriteString("record", false);
        out.WriteString("\n", false);
    }
    EXPECT_EQ(ReadWholeFile(path), "record\n");
    {
        KsIO out(path.c_str(), 27);
        EXPECT_EQ(out.GetFileSize(), 0);
    }
    EXPECT_EQ(ReadWholeFile(path), "");
    // Lock hints are kept with the flags and mean nothing else.
    KsIO hinted(path.c_str(), IO_READ | LOCK_READ | LOCK_WRITE);
    EXPECT_EQ(hinted.GetFlags(), 0x301);
}

TEST_F(KsIOTest, ReadAndWritePermissionsFollowTheFlags) {
    WriteWholeFile(path, "abc");
    KsIO reader(path.c_str(), IO_READ);
    KsException error = CaughtError([&] { reader.Write("x", 1); });
    EXPECT_STREQ(error.GetErrorMessage(), "Attempt to write to a read-only file");
    EXPECT_STREQ(error.GetCallpath(), "Write() of KsIO");
    EXPECT_EQ(MessageOf([&] { reader.WriteTo(0, "x", 1); }),
              "Attempt to write to a read-only file");

    KsIO writer(path.c_str(), 26);
    char c;
    error = CaughtError([&] { writer.Read(&c, 1, false); });
    EXPECT_STREQ(error.GetErrorMessage(), "Attempt to read from a write-only file");
    EXPECT_STREQ(error.GetCallpath(), "Read of KsIO");
    KsString line;
    EXPECT_EQ(MessageOf([&] { writer.ReadLine(line); }), "Attempt to read from a write-only file");
}

TEST_F(KsIOTest, RequiredReadAtTheEndNamesOffsetAndFile) {
    WriteWholeFile(path, "0123456789abcdefghij");
    KsIO file(path.c_str(), IO_READ);
    file.Seek(16, 0);
    char buffer[10];
    KsException error = CaughtError([&] { file.Read(buffer, 10, true); });
    EXPECT_EQ(std::string(error.GetErrorMessage()),
              "Unable to perform a required read at offset 20 of \"" + path + "\"");
    EXPECT_STREQ(error.GetClassName(), "KsIO");
    file.Seek(16, 0);
    EXPECT_EQ(file.Read(buffer, 10, false), 4);
    EXPECT_EQ(std::string(buffer, 4), "ghij");
    EXPECT_EQ(file.Read(buffer, 10, false), 0);
    EXPECT_EQ(file.Read(buffer, 0, true), 0);
}

TEST_F(KsIOTest, ClosedFilesRefuseToReadWriteAndAnswerEOF) {
    KsIO file;
    file.Close();  // harmless when closed
    char c;
    EXPECT_EQ(MessageOf([&] { file.Read(&c, 1, false); }),
              "Attempt to read from a write-only file");
    WriteWholeFile(path, "abc");
    file.Open(path.c_str(), 3);
    file.Close();
    EXPECT_EQ(MessageOf([&] { file.Read(&c, 1, false); }),
              "Attempt to read from a file that is not open");
    EXPECT_EQ(MessageOf([&] { file.Write("x", 1); }),
              "Attempt to write to a file that is not open");
    KsException error = CaughtError([&] { file.IsEOF(); });
    EXPECT_STREQ(error.GetErrorMessage(), "Cannot check for EOF on unopened file.");
    EXPECT_EQ(MessageOf([&] { file.Seek(5, 0); }),
              "Error: Bad file handle (-1), in repositioning file \"\" to byte 5 ");
    EXPECT_EQ(file.GetFileSize(), 0);
    EXPECT_EQ(ReadWholeFile(path), "abc");
}

TEST_F(KsIOTest, SeekErrorsNameTheReasonAndTheRequestedByte) {
    WriteWholeFile(path, "abc");
    KsIO file(path.c_str(), IO_READ);
    KsException error = CaughtError([&] { file.Seek(0, 3); });
    EXPECT_STREQ(error.GetErrorMessage(), "Invalid seek operation");
    EXPECT_STREQ(error.GetCallpath(), "Seek() of KsIO");
    EXPECT_EQ(MessageOf([&] { file.Seek(-5, 0); }),
              "Error: Invalid argument, in repositioning file \"" + path + "\" to byte -5 ");
    EXPECT_EQ(MessageOf([&] { file.Seek(-10, 2); }),
              "Error: Invalid argument, in repositioning file \"" + path + "\" to byte -10 ");
    // From the end and from the current position.
    EXPECT_EQ(file.Seek(-1, 2), 2);
    EXPECT_EQ(ReadAll(file, 5), "c");
    file.Seek(0, 0);
    file.Seek(2, 1);
    EXPECT_EQ(file.Tell(), 2);
    EXPECT_EQ(file.Seek(-1, 1), 1);
    EXPECT_EQ(ReadAll(file, 5), "bc");
}

TEST_F(KsIOTest, TruncateRemovesBytesFromTheEndAndRewinds) {
    WriteWholeFile(path, "0123456789");
    KsIO file(path.c_str(), 3);
    file.Seek(7, 0);
    file.Truncate(3);
    EXPECT_EQ(file.Tell(), 0);
    EXPECT_EQ(file.GetFileSize(), 7);
    EXPECT_EQ(ReadAll(file, 20), "0123456");
    KsException error = CaughtError([&] { file.Truncate(8); });
    EXPECT_STREQ(error.GetErrorMessage(),
                 "Attempt to truncate 8 bytes from a file which is 7 bytes long");
    EXPECT_STREQ(error.GetClassName(), "KsIO");
    EXPECT_STREQ(error.GetCallpath(), "Truncate() of KsIO");
    EXPECT_EQ(MessageOf([&] { file.Truncate(-1); }),
              "Attempt to truncate -1 bytes from a file which is 7 bytes long");
    file.Truncate(7);  // every byte
    EXPECT_EQ(file.GetFileSize(), 0);
    file.Write("xyz", 3);
    file.Truncate(0);
    EXPECT_EQ(file.Tell(), 0);
    EXPECT_EQ(file.GetFileSize64(), 0);
    file.Close();
    EXPECT_EQ(ReadWholeFile(path), "");

    KsIO reader(path.c_str(), IO_READ);
    EXPECT_EQ(MessageOf([&] { reader.Truncate(0); }),
              "Attempt to truncate file \"" + path + "\" without write permission.");
}

TEST_F(KsIOTest, TruncateCountsPendingBytes) {
    KsIO file(path.c_str(), 27);
    file.Write("0123456789", 10);
    file.Truncate(4);
    EXPECT_EQ(ReadAll(file, 20), "012345");
    file.Seek(0, 2);
    file.Write("AB", 2);
    file.Close();
    EXPECT_EQ(ReadWholeFile(path), "012345AB");
}

TEST_F(KsIOTest, BufferSizeIsClampedAndChangesKeepEveryByte) {
    KsIO file;
    EXPECT_EQ(file.GetBufferSize(), 8000);
    file.SetBufferSize(10);
    EXPECT_EQ(file.GetBufferSize(), 8000);
    file.SetBufferSize(2000000);
    EXPECT_EQ(file.GetBufferSize(), 1024000);

    std::string content;
    for (int i = 0; i < 30000; ++i) {
        content += static_cast<char>('a' + i % 26);
    }
    file.Open(path.c_str(), 27);
    file.SetBufferSize(8000);
    file.Write(content.data(), 5000);  // pending in the window
    file.SetBufferSize(20000);         // grows: the window stays
    file.Write(content.data() + 5000, 20000);
    file.SetBufferSize(9000);  // shrinks: pending bytes are written first
    file.Write(content.data() + 25000, 5000);
    file.Seek(1000, 0);
    EXPECT_EQ(ReadAll(file, 3000), content.substr(1000, 3000));
    file.SetBufferSize(8000);  // shrinks in the middle of reading
    EXPECT_EQ(file.Tell(), 4000);
    EXPECT_EQ(ReadAll(file, 30000), content.substr(4000));
    file.Close();
    EXPECT_EQ(ReadWholeFile(path), content);
}

TEST_F(KsIOTest, SizesAndEndOfFileCountPendingBytes) {
    KsIO file(path.c_str(), 27);
    file.Write("0123456789", 10);
    EXPECT_EQ(file.GetFileSize(), 10);
    EXPECT_EQ(file.GetFileSize64(), 10);
    EXPECT_TRUE(file.IsEOF());
    file.Seek(0, 0);
    EXPECT_FALSE(file.IsEOF());
    EXPECT_EQ(ReadWholeFile(path), "");  // nothing written yet
    file.Flush();
    EXPECT_EQ(ReadWholeFile(path), "0123456789");
}

TEST_F(KsIOTest, SixtyFourBitOperationsRefuseLargeValues) {
    KsIO file(path.c_str(), 27);
    KsException error = CaughtError([&] { file.Seek64Absolute(std::int64_t{1} << 32); });
    EXPECT_STREQ(error.GetErrorMessage(), "This IO object does not support 64-bit files");
    EXPECT_STREQ(error.GetClassName(), "KsIOInterface");
    EXPECT_STREQ(CaughtError([&] { file.Truncate64(std::int64_t{1} << 32); }).GetClassName(),
                 "KsIO");
    EXPECT_EQ(MessageOf([&] { file.Seek64FromEnd(-(std::int64_t{1} << 40)); }),
              "This IO object does not support 64-bit files");
    EXPECT_EQ(MessageOf([&] { file.ReadFrom(std::uint64_t{1} << 32, nullptr, 1, false); }),
              "KsIO only supports 32-bit offsets");
    EXPECT_EQ(MessageOf([&] { file.WriteTo(std::uint64_t{1} << 32, "x", 1); }),
              "KsIO only supports 32-bit offsets");
    // Small values pass through.
    file.Write("abcdef", 6);
    EXPECT_EQ(file.Seek64Absolute(2), 2);
    EXPECT_EQ(file.Seek64FromCurrent(1), 3);
    EXPECT_EQ(file.Tell64(), 3);
    EXPECT_EQ(file.Seek64FromEnd(-1), 5);
    file.Truncate64(std::int64_t{2});
    EXPECT_EQ(file.GetFileSize64(), 4);
    file.Truncate64();
    EXPECT_EQ(file.GetFileSize64(), 0);
}

TEST_F(KsIOTest, PositionedTransfersUseTheWindowAndLeaveThePosition) {
    std::string content(20000, '.');
    WriteWholeFile(path, content);
    KsIO file(path.c_str(), 3);
    file.Seek(9000, 0);  // the window now covers [9000, 17000)
    file.Write("W", 1);  // pending
    // A write from before the window into it.
    file.WriteTo(8990, "0123456789ABCDEFGHIJ", 20);
    // A write that runs past the window's end.
    file.WriteTo(16995, "abcdefghij", 10);
    EXPECT_EQ(file.Tell(), 9001);
    content.replace(9000, 1, "W");
    content.replace(8990, 20, "0123456789ABCDEFGHIJ");
    content.replace(16995, 10, "abcdefghij");
    char buffer[40];
    EXPECT_EQ(file.ReadFrom(8980, buffer, 40, true), 40);
    EXPECT_EQ(std::string(buffer, 40), content.substr(8980, 40));
    EXPECT_EQ(file.ReadFrom(16990, buffer, 20, true), 20);
    EXPECT_EQ(std::string(buffer, 20), content.substr(16990, 20));
    EXPECT_EQ(file.Tell(), 9001);
    EXPECT_EQ(file.ReadFrom(19995, buffer, 10, false), 5);
    KsException error = CaughtError([&] { file.ReadFrom(19995, buffer, 10, true); });
    EXPECT_EQ(std::string(error.GetErrorMessage()),
              "Unable to read 10 bytes from position 19995 of file \"" + path +
                  "\"; file length is 20000");
    file.Close();
    EXPECT_EQ(ReadWholeFile(path), content);
}

TEST_F(KsIOTest, SeekingPastWrittenBytesLeavesTheFileBytesOrZerosBetween) {
    WriteWholeFile(path, std::string(100, 'x'));
    KsIO file(path.c_str(), 27 & ~IO_TRUNCATE);
    file.Seek(0, 2);
    file.Write("end", 3);  // pending at [100, 103)
    // Another writer puts bytes beyond the window's valid part.
    KsIO other(path.c_str(), 3);
    other.WriteTo(110, "other", 5);
    other.Close();
    file.Seek(120, 0);  // inside the buffer, past its valid bytes
    file.Write("Z", 1);
    file.Close();
    std::string expected =
        std::string(100, 'x') + "end" + std::string(7, '\0') + "other" + std::string(5, '\0') + "Z";
    EXPECT_EQ(ReadWholeFile(path), expected);
}

TEST_F(KsIOTest, AppendStartsAtTheEnd) {
    WriteWholeFile(path, "abc");
    KsIO file(path.c_str(), IO_READ | IO_WRITE | IO_APPEND);
    EXPECT_EQ(file.Tell(), 3);
    file.Write("def", 3);
    file.Close();
    EXPECT_EQ(ReadWholeFile(path), "abcdef");
    KsIO reader(path.c_str(), IO_READ | IO_APPEND);  // without IO_WRITE it means nothing
    EXPECT_EQ(reader.Tell(), 0);
}

TEST_F(KsIOTest, CopiesReopenWithoutTruncatingAndSeeWhatWasWritten) {
    KsIO original(path.c_str(), 27);
    original.Write("hello world", 11);
    original.Seek(6, 0);
    KsIO copy(original);
    EXPECT_EQ(copy.GetFlags(), 27);
    EXPECT_EQ(copy.Tell(), 6);
    EXPECT_EQ(ReadAll(copy, 20), "world");
    std::unique_ptr<KsIOInterface> clone = original.Clone();
    EXPECT_EQ(clone->Tell(), 6);
    EXPECT_EQ(clone->GetFileSize(), 11);
    KsIO assigned;
    assigned = copy;
    EXPECT_EQ(assigned.Tell(), 11);
    KsIO& same = assigned;
    assigned = same;
    EXPECT_TRUE(assigned.IsOpen());
    original.Close();
    EXPECT_EQ(ReadWholeFile(path), "hello world");

    KsIO closed;
    KsIO copyOfClosed(closed);
    EXPECT_FALSE(copyOfClosed.IsOpen());

    std::unique_ptr<KsIOInterface> created = original.CreateNew(dir.File("new").c_str(), 26);
    EXPECT_TRUE(created->IsOpen());
    EXPECT_TRUE(KsIOInterface::Exists(dir.File("new").c_str()));
}

TEST_F(KsIOTest, CopyOfADeletedFileFailsInsteadOfCreatingIt) {
    KsIO original(path.c_str(), 27);
    unlink(path.c_str());
    KsFileOpenFailedException error =
        CaughtError<KsFileOpenFailedException>([&] { KsIO copy(original); });
    EXPECT_STREQ(error.GetCallpath(),
                 "Open of KsIO\r\nCopy() of KsIO\r\nCopy constructor() of KsIO");
    EXPECT_FALSE(KsIOInterface::Exists(path.c_str()));
}

TEST_F(KsIOTest, ReadsAndWritesThroughPipes) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::string lines;
    for (int i = 0; i < 3000; ++i) {
        lines += "line " + std::to_string(i) + "\r\n";
    }
    std::thread writer([&] {
        KsIO out;
        out.OpenDescriptor(fds[1], "standard output", IO_WRITE | IO_TRUNCATE);
        out.WriteString(lines.c_str(), false);
        out.Close();
        close(fds[1]);
    });
    KsIO in;
    in.OpenDescriptor(fds[0], "standard input", IO_READ);
    EXPECT_STREQ(in.GetFileName(), "standard input");
    KsString line;
    int count = 0;
    while (in.ReadLine(line) > 0) {
        EXPECT_EQ(std::string(line.GetCString()), "line " + std::to_string(count));
        ++count;
    }
    writer.join();
    EXPECT_EQ(count, 3000);
    EXPECT_EQ(MessageOf([&] { in.Seek(0, 0); }),
              "Error: Illegal seek on device, in repositioning file \"standard input\" to byte 0 ");
    EXPECT_EQ(MessageOf([&] { KsIO copy(in); }),
              "Cannot reopen \"standard input\": it was not opened by file name");
    in.Close();
    // The adopted descriptor stays open.
    EXPECT_NE(fcntl(fds[0], F_GETFD), -1);
    close(fds[0]);
}

TEST_F(KsIOTest, AdoptedFileDescriptorIsUsedFromItsPosition) {
    WriteWholeFile(path, "skip;keep");
    int fd = open(path.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(lseek(fd, 5, SEEK_SET), 5);
    {
        KsIO file;
        file.OpenDescriptor(fd, "adopted", IO_READ | IO_WRITE | IO_TRUNCATE);
        EXPECT_EQ(ReadAll(file, 10), "keep");
        file.Write("!", 1);
    }
    EXPECT_EQ(ReadWholeFile(path), "skip;keep!");
    EXPECT_EQ(MessageOf([&] {
                  KsIO bad;
                  bad.OpenDescriptor(-1, "nothing", IO_READ);
              }),
              "Error in opening file 'nothing'.  Unknown error.");
    close(fd);
}

}  // namespace
