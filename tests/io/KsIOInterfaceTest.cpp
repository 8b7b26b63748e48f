// Files by name: create, exists, delete, rename, copy with progress and cancelling,
// temporary files.

#include "io/KsIOInterface.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "io/KsIO.h"
#include "support/KsErrorCapture.h"
#include "support/RecordingProgress.h"
#include "support/TempDir.h"

namespace {

using kstest::ErrorOf;
using kstest::MessageOf;
using kstest::ReadWholeFile;
using kstest::RecordingProgress;
using kstest::WriteWholeFile;

class KsIOInterfaceTest : public ::testing::Test {
protected:
    kstest::TempDir dir;
    std::string source = dir.File("source.bin");
    std::string target = dir.File("target.bin");
};

TEST_F(KsIOInterfaceTest, CreateDeleteRenameCopyBlockAndCopyOntoItself) {
    WriteWholeFile(source, "old");
    KsIOInterface::Create(source.c_str());
    EXPECT_EQ(ReadWholeFile(source), "");
    KsIOInterface::Delete(source.c_str());
    EXPECT_FALSE(KsIOInterface::Exists(source.c_str()));
    KsIOInterface::Delete(source.c_str());  // already gone: nothing to report
    // What cannot be deleted is reported with the reason.
    ASSERT_EQ(mkdir(source.c_str(), 0700), 0);
    EXPECT_EQ(ErrorOf<KsFileOpenFailedException>([&] { KsIOInterface::Delete(source.c_str()); }),
              "Error in deleting file '" + source +
                  "'.  Is a directory. / KsIOInterface / Delete() of KsIOInterface");
    rmdir(source.c_str());

    // The fall-back to copying when the system cannot rename is tested with failing renames.
    WriteWholeFile(source, "0123456789");
    KsIOInterface::Rename(target.c_str(), source.c_str());
    EXPECT_FALSE(KsIOInterface::Exists(source.c_str()));
    EXPECT_EQ(MessageOf([&] { KsIOInterface::Rename(target.c_str(), source.c_str()); }),
              "Error in opening file '" + source + "'.  No such file or directory.");

    // CopyBlock copies a range between open files.
    WriteWholeFile(source, "abcdefghij");
    KsIO from(target.c_str(), IO_READ);
    KsIO to(source.c_str(), 3);
    KsIOInterface::CopyBlock(from, to, 6, 2, 3);
    to.Close();
    EXPECT_EQ(ReadWholeFile(source), "abcdef234j");

    // A copy onto the same file under another name is refused and loses nothing.
    std::string sameFile = dir.File("link.bin");
    ASSERT_EQ(link(source.c_str(), sameFile.c_str()), 0);
    EXPECT_EQ(MessageOf([&] { KsIOInterface::Copy(sameFile.c_str(), source.c_str()); }),
              "Cannot copy file \"" + source + "\" onto itself");
    EXPECT_EQ(ReadWholeFile(source), "abcdef234j");
}

TEST_F(KsIOInterfaceTest, CopyIsByteIdenticalReportsEveryBlockAndStopsWhenCancelled) {
    std::string bytes = kstest::Pattern(3 * 1024 * 1024 + 123);
    WriteWholeFile(source, bytes);
    WriteWholeFile(target, std::string(5 * 1024 * 1024, 'x'));  // longer: it is emptied first
    RecordingProgress progress;
    KsIOInterface::Copy(target.c_str(), source.c_str(), &progress);
    EXPECT_TRUE(ReadWholeFile(target) == bytes);

    std::int32_t steps = static_cast<std::int32_t>(bytes.size() / 8192 + 1);
    ASSERT_GE(progress.calls.size(), 4u);
    EXPECT_EQ(progress.calls[0], "SetTitle(Copying files...)");
    EXPECT_EQ(progress.calls[1], "SetDetail(\"" + source + "\" --> \"" + target + "\")");
    EXPECT_EQ(progress.calls[2], "SetMinimum(0)");
    EXPECT_EQ(progress.calls[3], "SetMaximum(" + std::to_string(steps) + ")");
    EXPECT_EQ(progress.calls.back(), "Finish()");
    EXPECT_EQ(progress.questions, steps);
    EXPECT_EQ(progress.position, steps);

    // A cancelled copy names the bytes left; what it copied reached the file, and the locks
    // were given back.
    RecordingProgress stopping;
    stopping.stopAtQuestion = 3;
    EXPECT_EQ(ErrorOf<KsIOCanceledException>(
                  [&] { KsIOInterface::Copy(target.c_str(), source.c_str(), &stopping); }),
              "Block copy canceled; " + std::to_string(bytes.size() - 3 * 8192) +
                  " bytes remained to be copied / KsIOInterface / CopyBlock() of "
                  "KsIOInterface\r\nCopy() of KsIOInterface");
    EXPECT_EQ(stopping.position, 3);
    EXPECT_TRUE(ReadWholeFile(target) == bytes.substr(0, 3 * 8192));
    EXPECT_TRUE(KsIO(target.c_str(), 3).TryLock(LOCK_WRITE, 0, 0));
}

TEST_F(KsIOInterfaceTest, TemporaryFilesAreCreatedWithTheirPrefix) {
    KsString name;
    const char* text = KsIOInterface::GetTempFileName(name, dir.Path().c_str(), "QJsrt");
    EXPECT_EQ(text, name.GetCString());
    EXPECT_TRUE(name.BeginsWith(dir.File("QJsrt").c_str())) << text;
    EXPECT_TRUE(KsIOInterface::Exists(text));
    KsString second;
    EXPECT_FALSE(name == KsIOInterface::GetTempFileName(second, dir.Path().c_str(), nullptr));

    // Without a directory the temporary directory is used.
    const char* saved = std::getenv("TMPDIR");
    std::string savedValue = saved ? saved : "";
    setenv("TMPDIR", dir.Path().c_str(), 1);
    KsIOInterface::GetTempFileName(name, nullptr, "BC_");
    EXPECT_TRUE(name.BeginsWith(dir.File("BC_").c_str())) << name.GetCString();
    EXPECT_EQ(
        MessageOf([&] { KsIOInterface::GetTempFileName(name, dir.File("none").c_str(), "x"); }),
        "Could not get temporary file name -- WIN32 : No such file or directory");
    saved ? setenv("TMPDIR", savedValue.c_str(), 1) : unsetenv("TMPDIR");
}

}  // namespace
