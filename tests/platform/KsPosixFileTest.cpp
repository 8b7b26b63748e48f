#include "platform/KsPosixFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "support/KsErrorCapture.h"
#include "platform/KsSystemError.h"
#include "support/TempDir.h"

namespace {

TEST(KsSystemErrorTest, MessageEndsWithTheSystemText) {
    KsException error = kstest::CaughtError([] {
        KsThrowSystemError(ENOENT, "KsIO", "Could not read %d bytes of \"%s\" -- ", 5, "a%d.txt");
    });
    EXPECT_STREQ(error.GetErrorMessage(),
                 "Could not read 5 bytes of \"a%d.txt\" -- No such file or directory");
    EXPECT_STREQ(error.GetClassName(), "KsIO");
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

}  // namespace
