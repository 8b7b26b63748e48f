#include "platform/KsPosixFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/KsPathService.h"
#include "platform/KsSystemError.h"
#include "support/KsErrorCapture.h"
#include "support/ScopedCurrentDirectory.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

TEST(KsSystemErrorTest, MessageEndsWithTheSystemText) {
    EXPECT_EQ(kstest::ErrorOf([] {
                  KsThrowSystemError(ENOENT, "KsIO", "Could not read %d bytes of \"%s\" -- ", 5,
                                     "a%d.txt");
              }),
              "Could not read 5 bytes of \"a%d.txt\" -- No such file or directory / KsIO / ");
}

TEST(KsSystemErrorTest, OpenFailuresInTheLibrarysWordsOrTheSystems) {
    for (auto [error, text] : {std::pair{ENOENT, "No such file or directory."},
                               {ENOTDIR, "No such file or directory."},
                               {EMFILE, "Too many open files."},
                               {ENFILE, "Too many open files."},
                               {EACCES, "Permission denied."},
                               {EPERM, "Permission denied."},
                               {EROFS, "Permission denied."},
                               {EINVAL, "Invalid access code."},
                               {EISDIR, "Is a directory."},
                               {ENAMETOOLONG, "File name too long."},
                               {ENOSPC, "No space left on device."}}) {
        EXPECT_EQ(KsOpenFailureText(error), text) << error;
    }
}

TEST(KsPosixFileTest, StatusTellsKindSizeAndIdentity) {
    kstest::TempDir dir;
    const std::string file = dir.File("f");
    const std::string fifo = dir.File("p");
    kstest::WriteWholeFile(file, "12345");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    fs::create_symlink(file, dir.File("link"));
    using KsPosix::FileKind;
    for (auto [name, kind] : {std::pair{file, FileKind::kRegular},
                              {dir.Path().string(), FileKind::kDirectory},
                              {fifo, FileKind::kFifo},
                              {std::string("/dev/null"), FileKind::kCharacterDevice}}) {
        KsPosix::FileStatus status;
        ASSERT_TRUE(KsPosix::GetStatus(name.c_str(), status)) << name;
        EXPECT_EQ(status.kind, kind) << name;
    }
    KsPosix::FileStatus status;
    EXPECT_FALSE(KsPosix::GetStatus(dir.File("missing").c_str(), status));
    EXPECT_EQ(errno, ENOENT);
    int fd = KsPosix::OpenFile(file.c_str(), KsPosix::kRead);
    ASSERT_TRUE(KsPosix::GetStatus(fd, status));
    EXPECT_EQ(status.size, 5);
    KsPosix::CloseFile(fd);

    EXPECT_TRUE(KsPosix::IsSameFile(file.c_str(), dir.File("link").c_str()));
    fs::create_hard_link(file, dir.File("hard"));
    EXPECT_TRUE(KsPosix::IsSameFile(dir.File("hard").c_str(), dir.File("./link").c_str()));
    EXPECT_FALSE(KsPosix::IsSameFile(file.c_str(), fifo.c_str()));
    EXPECT_FALSE(KsPosix::IsSameFile(file.c_str(), dir.File("missing").c_str()));
}

TEST(KsPosixFileTest, StreamsOpenedForWritingAreWriteOnlyAndNeverTruncated) {
    kstest::TempDir dir;
    const std::string fifo = dir.File("p");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // A reader at the other end, so that opening for writing does not wait.
    int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const int all = KsPosix::kRead | KsPosix::kWrite | KsPosix::kCreate | KsPosix::kTruncate;
    for (const char* name : {fifo.c_str(), "/dev/null"}) {
        int fd = KsPosix::OpenFile(name, all);
        ASSERT_GE(fd, 0) << name;
        bool readable = true;
        EXPECT_TRUE(KsPosix::GetAccess(fd, readable));
        EXPECT_FALSE(readable) << name;
        int error = 0;
        EXPECT_EQ(KsPosix::WriteFully(fd, "ab\n", 3, error), 3);
        KsPosix::CloseFile(fd);
    }
    char received[8] = {};
    EXPECT_EQ(read(reader, received, sizeof received), 3);
    EXPECT_STREQ(received, "ab\n");
    close(reader);
    // A regular file opened the same way is read and written, and emptied.
    const std::string file = dir.File("f");
    kstest::WriteWholeFile(file, "old");
    int fd = KsPosix::OpenFile(file.c_str(), all);
    bool readable = false;
    EXPECT_TRUE(KsPosix::GetAccess(fd, readable));
    EXPECT_TRUE(readable);
    std::int64_t size = -1;
    EXPECT_TRUE(KsPosix::GetSize(fd, size));
    EXPECT_EQ(size, 0);
    KsPosix::CloseFile(fd);
}

TEST(KsPosixFileTest, CreatingAndTruncatingNeedTheWriteFlag) {
    kstest::TempDir dir;
    std::string name = dir.File("f");
    EXPECT_EQ(KsPosix::OpenFile(name.c_str(), KsPosix::kRead | KsPosix::kCreate), -1);
    EXPECT_EQ(errno, ENOENT);
    int fd = KsPosix::OpenFile(name.c_str(), KsPosix::kWrite | KsPosix::kCreate);
    int error = 0;
    EXPECT_EQ(KsPosix::WriteFully(fd, "abcdef", 6, error), 6);
    KsPosix::CloseFile(fd);
    std::int64_t size = -1;
    fd = KsPosix::OpenFile(name.c_str(), KsPosix::kRead | KsPosix::kTruncate);
    EXPECT_TRUE(KsPosix::GetSize(fd, size));
    EXPECT_EQ(size, 6);
    EXPECT_EQ(KsPosix::WriteFully(fd, "x", 1, error), 0);
    EXPECT_EQ(error, EBADF);
    KsPosix::CloseFile(fd);
    fd = KsPosix::OpenFile(name.c_str(), KsPosix::kWrite | KsPosix::kTruncate);
    EXPECT_TRUE(KsPosix::GetSize(fd, size));
    EXPECT_EQ(size, 0);
    KsPosix::CloseFile(fd);
    EXPECT_EQ(KsPosix::OpenFile(dir.Path().c_str(), KsPosix::kRead), -1);  // not a file
    EXPECT_EQ(errno, EACCES);
}

TEST(KsPosixFileTest, TemporaryDirectoryFallsBackToTmp) {
    const char* saved = std::getenv("TMPDIR");
    std::string savedValue = saved ? saved : "";
    setenv("TMPDIR", "", 1);
    EXPECT_EQ(KsPosix::TemporaryDirectory(), "/tmp");
    setenv("TMPDIR", "/var/tmp", 1);
    EXPECT_EQ(KsPosix::TemporaryDirectory(), "/var/tmp");
    saved ? setenv("TMPDIR", savedValue.c_str(), 1) : unsetenv("TMPDIR");
}

TEST(KsFullPathTest, NamesAreNormalisedAgainstTheCurrentDirectory) {
    kstest::TempDir dir;
    fs::create_directories(dir.Path() / "a" / "b");
    kstest::ScopedCurrentDirectory cwd(dir.Path() / "a" / "b");
    // The directory as the system spells it (the temporary folder may be a link).
    const std::string here = fs::current_path().string();
    const std::string parent = fs::current_path().parent_path().string();
    for (auto [name, full] : {
             std::pair{"data.csv", here + "/data.csv"},
             {"x/y.txt", here + "/x/y.txt"},
             {".", here},
             {"./data.csv", here + "/data.csv"},
             {"..", parent},
             {"x/../../data.csv", parent + "/data.csv"},
             {" odd name ", here + "/ odd name "},  // blanks are kept; the file need not exist
             {"/usr//lib/./x/../data.csv", "/usr/lib/data.csv"},
             {"//usr/lib", "/usr/lib"},
             {"/", "/"},
             {"/..", "/"},
             {"/../../etc/x", "/etc/x"},
             {"/a/b/.", "/a/b"},
             {"/a/b/..", "/a"},
             // A trailing separator is kept once.
             {"/a/b///", "/a/b/"},
             {"x/", here + "/x/"},
             {"x/../", here + "/"},
             {"/a/../", "/"},
             {"", ""},
         }) {
        EXPECT_EQ(KsFullPath(name), full) << name;
    }
    EXPECT_EQ(KsFullPath(nullptr), "");

    fs::create_directory(dir.Path() / "gone");
    kstest::ScopedCurrentDirectory inside(dir.Path() / "gone");
    fs::remove(dir.Path() / "gone");
    errno = 0;
    EXPECT_EQ(KsFullPath("x"), "");
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(KsFullPath("/x"), "/x");  // an absolute name does not need the current directory
}

}  // namespace
