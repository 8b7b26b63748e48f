#include "io/KsIOUnbuffered.h"

#include <cerrno>

#include "core/KsCallpath.h"
#include "core/KsScopeExit.h"
#include "platform/KsPosixFile.h"
#include "platform/KsSystemError.h"

namespace {

constexpr const char* kClass = "KsIOUnbuffered";
constexpr std::uint64_t kLargest32BitOffset = 0xFFFFFFFFULL;

}  // namespace

KsIOUnbuffered::KsIOUnbuffered(const char* name, int flags) {
    KsCallpath("Constructor(char * sFile...)", kClass, [&] { Open(name, flags); });
}

KsIOUnbuffered::KsIOUnbuffered(const KsIOUnbuffered& other) : KsIOInterfaceWithLocking(other) {
    KsCallpath("Copy constructor()", kClass, [&] {
        // No destructor runs for an object whose constructor failed.
        KsScopeExit closeOnError([&] { Abandon(); });
        CopyFrom(other);
        closeOnError.Dismiss();
    });
}

KsIOUnbuffered& KsIOUnbuffered::operator=(const KsIOUnbuffered& other) {
    CopyFrom(other);
    return *this;
}

KsIOUnbuffered::~KsIOUnbuffered() {
    CloseForDestruction();
}

void KsIOUnbuffered::CloseForDestruction() noexcept {
    Abandon();
}

std::unique_ptr<KsIOInterface> KsIOUnbuffered::Clone() const {
    return std::make_unique<KsIOUnbuffered>(*this);
}

std::unique_ptr<KsIOInterface> KsIOUnbuffered::CreateNew(const char* name, int flags) const {
    return std::make_unique<KsIOUnbuffered>(name, flags);
}

void KsIOUnbuffered::CopyFrom(const KsIOUnbuffered& other) {
    KsCallpath("Copy()", kClass, [&] {
        if (&other == this) {
            return;
        }
        Close();
        if (other.name_.IsEmpty()) {
            return;
        }
        std::int64_t position = other.Tell64();
        Open(other.GetFileName(), FlagsForCopy(other.flags_) & ~IO_APPEND);
        flags_ = other.flags_;
        Seek64Absolute(position);
    });
}

void KsIOUnbuffered::Open(const char* name, int flags) {
    KsCallpath("Open", kClass, [&] {
        KsString opened;
        std::int64_t position;
        fd_ = ReopenSystemFile(name, flags, flags, kClass, opened, position);
        flags_ = flags;
        KsScopeExit closeOnError([&] { Abandon(); });
        name_ = opened;
        SetupBaseLock();
        closeOnError.Dismiss();
    });
}

void KsIOUnbuffered::Sync() {
    KsCallpath("Sync()", kClass, [&] {
        if (fd_ >= 0 && SystemSync(fd_) != 0) {
            KsThrowSystemError(errno, kClass, "Unable to sync \"%s\" -- ", GetFileName());
        }
    });
}

void KsIOUnbuffered::Close() {
    KsCallpath("Close()", kClass, [&] {
        KsString name = name_;
        if (int errorNumber = Abandon(); errorNumber != 0) {
            KsThrowSystemError(errorNumber, kClass, "Unable to close file \"%s\" -- ",
                               name.GetCString());
        }
    });
}

int KsIOUnbuffered::Abandon() noexcept {
    ReleaseLocks();
    int errorNumber = 0;
    if (fd_ >= 0 && SystemClose(fd_) != 0) {
        errorNumber = errno;
    }
    fd_ = -1;
    name_.Clear();
    return errorNumber;
}

std::int32_t KsIOUnbuffered::Read(void* buffer, std::int32_t count, bool required) {
    return KsCallpath("Read", kClass, [&] {
        if (!(flags_ & IO_READ)) {
            KsException::Generate("Attempt to read from a write-only file", kClass);
        }
        int errorNumber = 0;
        std::int64_t got =
            count < 0
                ? -1
                : KsPosix::ReadFully(fd_, buffer, static_cast<std::size_t>(count), errorNumber);
        if (got < 0 || (required && got < count)) {
            KsException::Generate("Unable to read %d bytes from \"%s\"", kClass, count,
                                  GetFileName());
        }
        return static_cast<std::int32_t>(got);
    });
}

void KsIOUnbuffered::Write(const void* buffer, std::int32_t count) {
    KsCallpath("Write()", kClass, [&] {
        // No test of IO_WRITE: a file opened without it refuses in the operating system.
        int errorNumber = 0;
        std::int64_t written =
            count < 0 ? -1
                      : SystemWrite(fd_, buffer, static_cast<std::size_t>(count), -1, errorNumber);
        if (written != count) {
            KsException::Generate("Could not write %d bytes to \"%s\"", kClass, count,
                                  GetFileName());
        }
    });
}

std::int32_t KsIOUnbuffered::Seek(std::int32_t offset, int origin) {
    return KsCallpath("Seek()", kClass, [&] {
        std::int64_t position = KsPosix::Seek(fd_, offset, origin);
        if (position < 0) {
            KsException::Generate("Could not seek", kClass);
        }
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(position));
    });
}

std::int64_t KsIOUnbuffered::SeekFrom(std::int64_t offset, int whence, const char* function) {
    return KsCallpath(function, kClass, [&] {
        std::int64_t position = KsPosix::Seek(fd_, offset, whence);
        if (position < 0) {
            KsThrowSystemError(errno, kClass,
                               "Unable to position file pointer of \"%s\" to byte %lld -- ",
                               GetFileName(), static_cast<long long>(offset));
        }
        return position;
    });
}

std::int64_t KsIOUnbuffered::Seek64Absolute(std::int64_t offset) {
    return SeekFrom(offset, 0, "Seek64Absolute()");
}

std::int64_t KsIOUnbuffered::Seek64FromCurrent(std::int64_t offset) {
    return SeekFrom(offset, 1, "Seek64FromCurrent()");
}

std::int64_t KsIOUnbuffered::Seek64FromEnd(std::int64_t offset) {
    return SeekFrom(offset, 2, "Seek64FromEnd()");
}

std::int64_t KsIOUnbuffered::CurrentPosition() const {
    std::int64_t position = KsPosix::Seek(fd_, 0, 1);
    if (position < 0) {
        KsThrowSystemError(errno, kClass, "Unable to get current file pointer for \"%s\" -- ",
                           GetFileName());
    }
    return position;
}

std::int32_t KsIOUnbuffered::Tell() const {
    return KsCallpath("Tell()", kClass, [&] {
        std::int64_t position = CurrentPosition();
        if (position > INT32_MAX) {
            KsException::Generate("KsIOUnbuffered only supports 32-bit offsets", kClass);
        }
        return static_cast<std::int32_t>(position);
    });
}

std::int64_t KsIOUnbuffered::Tell64() const {
    return KsCallpath("Tell64()", kClass, [&] { return CurrentPosition(); });
}

std::int32_t KsIOUnbuffered::GetFileSize() const {
    std::int64_t size = 0;
    if (!KsPosix::GetSize(fd_, size)) {
        return 0;
    }
    return KsCallpath("GetFileSize()", kClass, [&] { return As32Bits(size, "KsIOInterface"); });
}

std::int64_t KsIOUnbuffered::GetFileSize64() const {
    return KsCallpath("GetFileSize64()", kClass, [&] {
        std::int64_t size = 0;
        if (!KsPosix::GetSize(fd_, size)) {
            KsThrowSystemError(errno, "KsIOUnbufferedInterface",
                               "Unable to get file size of file \"%s\" -- ", GetFileName());
        }
        return size;
    });
}

bool KsIOUnbuffered::IsEOF() const {
    return KsCallpath("IsEOF()", kClass, [&] {
        if (fd_ < 0) {
            KsException::Generate("Cannot check for EOF on unopened file.", kClass);
        }
        return CurrentPosition() >= GetFileSize64();
    });
}

void KsIOUnbuffered::CutEnd(std::int64_t count, const char* className) {
    std::int64_t size = 0;
    if (!KsPosix::GetSize(fd_, size)) {
        KsThrowSystemError(errno, className, "Win32 Error : ");
    }
    if (count < 0 || count > size) {
        KsException::Generate("Attempt to truncate %lld bytes from a file which is %lld bytes long",
                              className, static_cast<long long>(count),
                              static_cast<long long>(size));
    }
    if (SystemSetSize(fd_, count == 0 ? 0 : size - count) != 0) {
        KsThrowSystemError(errno, className, "Win32 Error : ");
    }
    if (KsPosix::Seek(fd_, 0, 0) < 0) {
        KsException::Generate("Could not seek", className);
    }
}

void KsIOUnbuffered::Truncate(std::int32_t count) {
    KsCallpath("Truncate()", kClass, [&] {
        if (!(flags_ & IO_WRITE)) {
            KsException::Generate("Attempt to truncate file \"%s\" without write permission.",
                                  kClass, GetFileName());
        }
        CutEnd(count, kClass);
    });
}

void KsIOUnbuffered::Truncate64() {
    Truncate64(0);
}

void KsIOUnbuffered::Truncate64(std::int64_t count) {
    KsCallpath("Truncate64()", kClass, [&] {
        if (!(flags_ & IO_WRITE)) {
            KsException::Generate("Attempt to truncate file \"%s\" without write permission.",
                                  "KsIO", GetFileName());
        }
        CutEnd(count, "KsIO");
    });
}

std::int32_t KsIOUnbuffered::ReadFrom(std::uint64_t offset, void* buffer, std::int32_t count,
                                      bool required) {
    return KsCallpath("ReadFrom()", kClass, [&] {
        if (offset > kLargest32BitOffset) {
            KsException::Generate("KsIOUnbuffered only supports 32-bit offsets", kClass);
        }
        int errorNumber = 0;
        std::int64_t got =
            count < 0 ? -1
                      : KsPosix::ReadFullyAt(fd_, buffer, static_cast<std::size_t>(count),
                                             static_cast<std::int64_t>(offset), errorNumber);
        if (got < 0) {
            KsThrowSystemError(count < 0 ? EINVAL : errorNumber, kClass,
                               "Could not read %d bytes at %d in file \"%s\" -- ", count,
                               static_cast<int>(offset), GetFileName());
        }
        if (required && got < count) {
            std::int64_t size = 0;
            KsPosix::GetSize(fd_, size);
            KsException::Generate(
                "Unable to read %d bytes from position %d of file \"%s\"; file length is %lld",
                kClass, count, static_cast<int>(offset), GetFileName(),
                static_cast<long long>(size));
        }
        return static_cast<std::int32_t>(got);
    });
}

void KsIOUnbuffered::WriteTo(std::uint64_t offset, const void* buffer, std::int32_t count) {
    KsCallpath("WriteTo()", kClass, [&] {
        int errorNumber = count < 0 ? EINVAL : 0;
        std::int64_t written = count < 0
                                   ? 0
                                   : SystemWriteAt(fd_, buffer, static_cast<std::size_t>(count),
                                                   static_cast<std::int64_t>(offset), errorNumber);
        if (written == 0 && errorNumber != 0) {
            KsThrowSystemError(errorNumber, kClass,
                               "Could not write %d bytes to %d in file \"%s\" -- ", count,
                               static_cast<int>(offset), GetFileName());
        }
        if (written < count) {
            KsException::Generate("Only wrote %d bytes out of %d to file \"%s\"", kClass,
                                  static_cast<int>(written), count, GetFileName());
        }
    });
}

std::unique_ptr<KsIOLock> KsIOUnbuffered::CreateLock(int type, std::uint64_t offset,
                                                     std::uint64_t length) {
    return std::make_unique<KsOSLock>(fd_, type, offset, length);
}
