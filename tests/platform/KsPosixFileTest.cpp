#include "KsPosixFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>

#include "KsErrorCapture.h"
#include "KsSystemError.h"
#include "TempDir.h"

namespace {

TEST(KsSystemErrorTest, MessageEndsWithTheSystemText) {
    KsException error = kstest::CaughtError([] {
        KsThrowSystemError(ENOENT, "KsIO", "Could not read %d bytes of \"%s\" -- ", 5, "a%d.txt");
    });
    EXPECT_STREQ(error.GetErrorMessage(),
                 "Could not read 5 bytes of \"a%d.txt\" -- No such file or directory");
    EXPECT_STREQ(error.GetClassName(), "KsIO");
    EXPECT_EQ(KsSystemErrorText(EACCES), "Permission denied");
}

TEST(KsPosixFileTest, OpenFlagsCountOnlyWithWriting) {
    kstest::TempDir dir;
    std::string name = dir.File("f");
    // Creating needs the write flag.
    EXPECT_EQ(KsPosix::OpenFile(name.c_str(), KsPosix::kRead | KsPosix::kCreate), -1);
    EXPECT_EQ(errno, ENOENT);
    int fd = KsPosix::OpenFile(name.c_str(), KsPosix::kWrite | KsPosix::kCreate);
    ASSERT_GE(fd, 0);
    int error = 0;
    EXPECT_EQ(KsPosix::WriteFully(fd, "abcdef", 6, error), 6);
    KsPosix::CloseFile(fd);
    // Truncating needs it too.
    fd = KsPosix::OpenFile(name.c_str(), KsPosix::kRead | KsPosix::kTruncate);
    std::int64_t size = -1;
    EXPECT_TRUE(KsPosix::GetSize(fd, size));
    EXPECT_EQ(size, 6);
    bool readable = false;
    EXPECT_TRUE(KsPosix::GetAccess(fd, readable));
    EXPECT_TRUE(readable);
    EXPECT_EQ(KsPosix::WriteFully(fd, "x", 1, error), 0);
    EXPECT_EQ(error, EBADF);
    KsPosix::CloseFile(fd);
    fd = KsPosix::OpenFile(name.c_str(), KsPosix::kWrite | KsPosix::kTruncate);
    EXPECT_TRUE(KsPosix::GetSize(fd, size));
    EXPECT_EQ(size, 0);
    KsPosix::CloseFile(fd);
    // A directory is not a file.
    EXPECT_EQ(KsPosix::OpenFile(dir.Path().c_str(), KsPosix::kRead), -1);
    EXPECT_EQ(errno, EACCES);
}

TEST(KsPosixFileTest, FullTransfersOverAPipeGatherPartialReads) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::string data(300000, 'p');
    std::thread writer([&] {
        int error = 0;
        KsPosix::WriteFully(fds[1], data.data(), data.size(), error);
        close(fds[1]);
    });
    std::string received(400000, '\0');
    int error = 0;
    EXPECT_EQ(KsPosix::ReadFully(fds[0], received.data(), received.size(), error), 300000);
    EXPECT_EQ(error, 0);
    writer.join();
    EXPECT_FALSE(KsPosix::IsSeekable(fds[0]));
    EXPECT_EQ(KsPosix::ReadFullyAt(fds[0], received.data(), 1, 0, error), -1);
    EXPECT_EQ(error, ESPIPE);
    close(fds[0]);
}

TEST(KsPosixFileTest, TemporaryFilesInTheTemporaryDirectory) {
    kstest::TempDir dir;
    std::string path;
    ASSERT_EQ(KsPosix::CreateTemporaryFile(dir.Path().string(), "pre", path), 0);
    EXPECT_EQ(path.rfind(dir.File("pre"), 0), 0u);
    EXPECT_EQ(path.size(), dir.File("pre").size() + 6);
    EXPECT_TRUE(KsPosix::Exists(path.c_str()));
    EXPECT_EQ(KsPosix::CreateTemporaryFile(dir.File("missing"), "pre", path), -1);

    const char* saved = getenv("TMPDIR");
    std::string savedValue = saved ? saved : "";
    setenv("TMPDIR", "", 1);
    EXPECT_EQ(KsPosix::TemporaryDirectory(), "/tmp");
    setenv("TMPDIR", "/var/tmp", 1);
    EXPECT_EQ(KsPosix::TemporaryDirectory(), "/var/tmp");
    if (saved) {
        setenv("TMPDIR", savedValue.c_str(), 1);
    } else {
        unsetenv("TMPDIR");
    }
}

TEST(KsPosixFileTest, RangeLocksBelongToTheOpenFile) {
    kstest::TempDir dir;
    std::string name = dir.File("locked");
    int first = KsPosix::OpenFile(name.c_str(), KsPosix::kWrite | KsPosix::kCreate);
    int second = KsPosix::OpenFile(name.c_str(), KsPosix::kRead);
    EXPECT_EQ(KsPosix::LockRange(first, true, 10, 0, false), KsPosix::LockResult::kGranted);
    EXPECT_TRUE(KsPosix::IsRangeLockedByOthers(second, false, 1000000, 1));
    EXPECT_FALSE(KsPosix::IsRangeLockedByOthers(second, true, 0, 10));
    EXPECT_EQ(KsPosix::LockRange(second, false, 5, 10, false), KsPosix::LockResult::kBusy);
    EXPECT_EQ(KsPosix::LockRange(second, false, 0, 10, false), KsPosix::LockResult::kGranted);
    KsPosix::CloseFile(second);
    EXPECT_EQ(KsPosix::UnlockRange(first, 10, 0), 0);
    EXPECT_EQ(KsPosix::LockRange(first, true, std::uint64_t{1} << 63, 1, false),
              KsPosix::LockResult::kFailed);
    EXPECT_EQ(errno, EINVAL);
    KsPosix::CloseFile(first);
}

}  // namespace
