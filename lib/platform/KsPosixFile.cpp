#include "platform/KsPosixFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace KsPosix {

namespace {

// Runs a system call again while a signal interrupts it.
template <class Call>
auto Retry(Call call) {
    decltype(call()) result;
    do {
        result = call();
    } while (result == -1 && errno == EINTR);
    return result;
}

// Repeats a transfer until `count` bytes have moved, the input ends (a step moves nothing)
// or an error stops it; `step(done)` moves some of the bytes after the first `done`.
// Returns the bytes moved and leaves the stopping error in `errorNumber` (0 when none).
template <class Step>
std::int64_t Repeat(std::size_t count, int& errorNumber, Step step) {
    errorNumber = 0;
    std::size_t done = 0;
    while (done < count) {
        ssize_t n = Retry([&] { return step(done); });
        if (n <= 0) {
            errorNumber = n < 0 ? errno : 0;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
}

// A write that stopped without an error made no progress: the device took nothing.
std::int64_t Written(std::size_t count, int& errorNumber, std::int64_t done) {
    if (static_cast<std::size_t>(done) < count && errorNumber == 0) {
        errorNumber = EIO;
    }
    return done;
}

bool FillLock(struct flock& lock, short type, std::uint64_t offset, std::uint64_t length) {
    lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = static_cast<off_t>(offset);
    // 0 is the kernel's "to the end of any file", which is what a length of 0 means here.
    lock.l_len = static_cast<off_t>(length);
    if (lock.l_start < 0 || lock.l_len < 0) {
        errno = EINVAL;
        return false;
    }
    lock.l_pid = 0;  // required for open-file-description locks
    return true;
}

FileKind KindOf(mode_t mode) {
    if (S_ISREG(mode)) {
        return FileKind::kRegular;
    }
    if (S_ISDIR(mode)) {
        return FileKind::kDirectory;
    }
    if (S_ISFIFO(mode)) {
        return FileKind::kFifo;
    }
    if (S_ISCHR(mode)) {
        return FileKind::kCharacterDevice;
    }
    if (S_ISSOCK(mode)) {
        return FileKind::kSocket;
    }
    return FileKind::kOther;
}

void FillStatus(const struct stat& from, FileStatus& status) {
    status.kind = KindOf(from.st_mode);
    status.device = from.st_dev;
    status.inode = from.st_ino;
    status.size = from.st_size;
}

// True for an existing name that is written as a stream: a FIFO, a terminal, a device.
bool IsStream(const char* name) {
    FileStatus status;
    return GetStatus(name, status) && status.kind != FileKind::kRegular &&
           status.kind != FileKind::kDirectory;
}

}  // namespace

int OpenFile(const char* name, int flags) {
    const bool stream = IsStream(name);
    int mode = O_RDONLY;
    if ((flags & kWrite) && stream) {
        mode = O_WRONLY;
    } else if (flags & kWrite) {
        mode = O_RDWR;
        if (flags & kCreate) {
            mode |= O_CREAT;
        }
        if (flags & kTruncate) {
            mode |= O_TRUNC;
        }
    }
    // Opening a FIFO waits for its other end; a signal that interrupts the wait is
    // reported, as for a read, so that Ctrl-C stops a program waiting there.
    auto open = [&] { return ::open(name, mode | O_CLOEXEC, 0666); };
    int fd = stream ? open() : Retry(open);
    if (fd < 0) {
        return -1;
    }
    FileStatus status;
    if (GetStatus(fd, status) && status.kind == FileKind::kDirectory) {
        ::close(fd);
        errno = EACCES;
        return -1;
    }
    return fd;
}

int CloseFile(int fd) {
    // close() must not be retried on EINTR: the descriptor is gone either way.
    return ::close(fd);
}

std::int64_t ReadSome(int fd, void* buffer, std::size_t count) {
    // Not retried: a read waiting on a pipe or terminal fails with EINTR only when the
    // program installed a signal handler that asks for exactly that (no SA_RESTART), as
    // the command-line converter does for Ctrl-C.
    return ::read(fd, buffer, count);
}

std::int64_t ReadFully(int fd, void* buffer, std::size_t count, int& errorNumber) {
    std::int64_t done = Repeat(count, errorNumber, [&](std::size_t offset) {
        return ::read(fd, static_cast<char*>(buffer) + offset, count - offset);
    });
    return done == 0 && errorNumber != 0 ? -1 : done;
}

std::int64_t WriteFully(int fd, const void* buffer, std::size_t count, int& errorNumber) {
    return Written(count, errorNumber, Repeat(count, errorNumber, [&](std::size_t offset) {
                       return ::write(fd, static_cast<const char*>(buffer) + offset,
                                      count - offset);
                   }));
}

std::int64_t ReadFullyAt(int fd, void* buffer, std::size_t count, std::int64_t offset,
                         int& errorNumber) {
    std::int64_t done = Repeat(count, errorNumber, [&](std::size_t moved) {
        return ::pread(fd, static_cast<char*>(buffer) + moved, count - moved,
                       static_cast<off_t>(offset + static_cast<std::int64_t>(moved)));
    });
    return done == 0 && errorNumber != 0 ? -1 : done;
}

std::int64_t WriteFullyAt(int fd, const void* buffer, std::size_t count, std::int64_t offset,
                          int& errorNumber) {
    return Written(count, errorNumber, Repeat(count, errorNumber, [&](std::size_t moved) {
                       return ::pwrite(
                           fd, static_cast<const char*>(buffer) + moved, count - moved,
                           static_cast<off_t>(offset + static_cast<std::int64_t>(moved)));
                   }));
}

std::int64_t Seek(int fd, std::int64_t offset, int whence) {
    int mode = whence == 0 ? SEEK_SET : whence == 1 ? SEEK_CUR : whence == 2 ? SEEK_END : -1;
    if (mode < 0) {
        errno = EINVAL;
        return -1;
    }
    return ::lseek(fd, static_cast<off_t>(offset), mode);
}

bool GetSize(int fd, std::int64_t& size) {
    struct stat status;
    if (::fstat(fd, &status) != 0) {
        return false;
    }
    size = status.st_size;
    return true;
}

int SetSize(int fd, std::int64_t size) {
    return Retry([&] { return ::ftruncate(fd, static_cast<off_t>(size)); });
}

int SyncData(int fd) {
    return Retry([&] { return ::fdatasync(fd); });
}

int SyncDirectory(const char* directory) {
    int fd = Retry([&] { return ::open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (fd < 0) {
        return -1;
    }
    int result = Retry([&] { return ::fsync(fd); });
    int errorNumber = errno;
    ::close(fd);
    errno = errorNumber;
    return result;
}

bool IsSeekable(int fd) {
    return ::lseek(fd, 0, SEEK_CUR) >= 0;
}

bool GetAccess(int fd, bool& readable) {
    int mode = ::fcntl(fd, F_GETFL);
    readable = mode >= 0 && (mode & O_ACCMODE) != O_WRONLY;
    return mode >= 0;
}

bool IsSameFile(int fd1, int fd2) {
    FileStatus first;
    FileStatus second;
    return GetStatus(fd1, first) && GetStatus(fd2, second) && first.IsSameFileAs(second);
}

bool GetStatus(const char* name, FileStatus& status) {
    struct stat result;
    if (::stat(name, &result) != 0) {
        return false;
    }
    FillStatus(result, status);
    return true;
}

bool GetStatus(int fd, FileStatus& status) {
    struct stat result;
    if (::fstat(fd, &result) != 0) {
        return false;
    }
    FillStatus(result, status);
    return true;
}

bool IsSameFile(const char* name1, const char* name2) {
    FileStatus first;
    FileStatus second;
    return GetStatus(name1, first) && GetStatus(name2, second) && first.IsSameFileAs(second);
}

bool Exists(const char* name) {
    return ::access(name, F_OK) == 0;
}

int Remove(const char* name) {
    return ::unlink(name);
}

int Rename(const char* oldName, const char* newName) {
    return std::rename(oldName, newName);
}

int CopyPermissions(const char* from, const char* to) {
    struct stat status;
    if (::stat(from, &status) != 0) {
        return -1;
    }
    return ::chmod(to, status.st_mode & 07777);
}

namespace {

// The creation mask, read without changing it (umask() would, for a moment, for every thread).
mode_t CreationMask() {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> status(std::fopen("/proc/self/status", "re"),
                                                           &std::fclose);
    char line[128];
    while (status && std::fgets(line, sizeof line, status.get()) != nullptr) {
        unsigned mask = 0;
        if (std::sscanf(line, "Umask: %o", &mask) == 1) {
            return static_cast<mode_t>(mask & 0777);
        }
    }
    return 022;
}

}  // namespace

int GiveNewFilePermissions(const char* to) {
    return ::chmod(to, 0666 & ~CreationMask());
}

std::string TemporaryDirectory() {
    const char* directory = std::getenv("TMPDIR");
    return directory != nullptr && *directory != '\0' ? directory : "/tmp";
}

namespace {

// Makes the temporary file and returns its open descriptor, or -1.
int MakeTemporaryFile(const std::string& directory, const char* prefix, std::string& path) {
    std::string pattern = directory;
    if (!pattern.empty() && pattern.back() != '/') {
        pattern += '/';
    }
    pattern += prefix;
    pattern += "XXXXXX";
    int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd >= 0) {
        path = pattern;
    }
    return fd;
}

int Claim(int fd) {
    if (Retry([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }) != 0) {
        int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

}  // namespace

int CreateTemporaryFile(const std::string& directory, const char* prefix, std::string& path) {
    int fd = MakeTemporaryFile(directory, prefix, path);
    if (fd < 0) {
        return -1;
    }
    ::close(fd);
    return 0;
}

int CreateClaimedTemporaryFile(const std::string& directory, const char* prefix,
                               std::string& path) {
    int fd = MakeTemporaryFile(directory, prefix, path);
    if (fd < 0) {
        return -1;
    }
    fd = Claim(fd);
    if (fd < 0) {
        int error = errno;
        ::unlink(path.c_str());
        errno = error;
    }
    return fd;
}

int ClaimFile(const char* name) {
    int fd = Retry([&] { return ::open(name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW); });
    return fd < 0 ? -1 : Claim(fd);
}

LockResult LockRange(int fd, bool exclusive, std::uint64_t offset, std::uint64_t length,
                     bool wait) {
    struct flock lock;
    if (!FillLock(lock, exclusive ? F_WRLCK : F_RDLCK, offset, length)) {
        return LockResult::kFailed;
    }
    int result = Retry([&] { return ::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock); });
    if (result == 0) {
        return LockResult::kGranted;
    }
    if (!wait && (errno == EAGAIN || errno == EACCES)) {
        return LockResult::kBusy;
    }
    return LockResult::kFailed;
}

int UnlockRange(int fd, std::uint64_t offset, std::uint64_t length) {
    struct flock lock;
    if (!FillLock(lock, F_UNLCK, offset, length)) {
        return -1;
    }
    return Retry([&] { return ::fcntl(fd, F_OFD_SETLK, &lock); });
}

bool IsRangeLockedByOthers(int fd, bool exclusive, std::uint64_t offset, std::uint64_t length) {
    struct flock lock;
    if (!FillLock(lock, exclusive ? F_WRLCK : F_RDLCK, offset, length)) {
        return false;
    }
    if (::fcntl(fd, F_OFD_GETLK, &lock) != 0) {
        return false;
    }
    return lock.l_type != F_UNLCK;
}

}  // namespace KsPosix
