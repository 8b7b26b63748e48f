#include "io/KsIO.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>

#include "core/KsAlloc.h"
#include "core/KsCallpath.h"
#include "core/KsScopeExit.h"
#include "platform/KsPosixFile.h"
#include "platform/KsSystemError.h"

namespace {

constexpr const char* kClass = "KsIO";
constexpr std::int64_t kLargest32BitOffset = 0xFFFFFFFFLL;

std::unique_ptr<char[]> NewBlock(std::int32_t size) {
    return std::unique_ptr<char[]>(KsAlloc(size));
}

// The reason quoted when the descriptor cannot be moved: the library's words for the
// causes it names, the system's text for any other.
std::string SeekFailureReason(int errorNumber, int fd) {
    switch (errorNumber) {
        case EBADF:
            return "Bad file handle (" + std::to_string(fd) + ")";
        case EINVAL:
            return "Invalid argument";
        case ESPIPE:
            return "Illegal seek on device";
        default:
            return KsSystemErrorText(errorNumber);
    }
}

}  // namespace

// ---- construction, opening and closing ----

KsIO::KsIO(const char* name, int flags) {
    KsCallpath("Constructor(char * sFile...)", kClass, [&] { Open(name, flags); });
}

KsIO::KsIO(const KsIO& other) : KsIOInterfaceWithLocking(other) {
    KsCallpath("Copy constructor()", kClass, [&] {
        // No destructor runs for an object whose constructor failed.
        KsScopeExit closeOnError([&] { Abandon(); });
        CopyFrom(other);
        closeOnError.Dismiss();
    });
}

KsIO& KsIO::operator=(const KsIO& other) {
    CopyFrom(other);
    return *this;
}

KsIO::~KsIO() {
    CloseForDestruction();
}

void KsIO::CloseForDestruction() noexcept {
    if (fd_ >= 0) {
        std::int64_t written = 0;
        // Nobody is left to hear of a failure: the bytes that could not be written are lost.
        TryWritePending(written);
    }
    Abandon();
}

std::unique_ptr<KsIOInterface> KsIO::Clone() const {
    return std::make_unique<KsIO>(*this);
}

std::unique_ptr<KsIOInterface> KsIO::CreateNew(const char* name, int flags) const {
    return std::make_unique<KsIO>(name, flags);
}

void KsIO::CopyFrom(const KsIO& other) {
    KsCallpath("Copy()", kClass, [&] {
        if (&other == this) {
            return;
        }
        Close();
        if (other.name_.IsEmpty()) {
            return;
        }
        if (!other.owned_) {
            KsException::Generate("Cannot reopen \"%s\": it was not opened by file name", kClass,
                                  other.GetFileName());
        }
        // The copy reads the file, so it must see what the original wrote.
        const_cast<KsIO&>(other).Flush();
        OpenAs(other.name_.GetCString(), FlagsForCopy(other.flags_) & ~IO_APPEND, other.flags_);
        MoveTo(other.Tell64(), other.Tell64());
    });
}

void KsIO::Open(const char* name, int flags) {
    OpenAs(name, flags, flags);
}

void KsIO::OpenAs(const char* name, int systemFlags, int flags) {
    KsCallpath("Open", kClass, [&] {
        KsString opened;
        std::int64_t position;
        int fd = ReopenSystemFile(name, systemFlags, flags, kClass, opened, position);
        // A FIFO, terminal or device opened for writing is a write-only stream.
        bool readable = true;
        KsPosix::GetAccess(fd, readable);
        Attach(fd, opened, flags, {true, KsPosix::IsSeekable(fd), readable}, position);
    });
}

void KsIO::OpenDescriptor(int fd, const char* name, int flags) {
    KsCallpath("OpenDescriptor()", kClass, [&] {
        CheckOpenArguments(name, flags, kClass);
        KsString wanted(name);
        Close();
        bool readable = false;
        if (!KsPosix::GetAccess(fd, readable)) {
            ThrowOpenFailed("opening", wanted.GetCString(), errno, kClass);
        }
        bool seekable = KsPosix::IsSeekable(fd);
        std::int64_t position = 0;
        if (seekable) {
            bool append = (flags & IO_APPEND) && (flags & IO_WRITE);
            position = std::max<std::int64_t>(KsPosix::Seek(fd, 0, append ? 2 : 1), 0);
        }
        Attach(fd, wanted, flags, {false, seekable, readable}, position);
    });
}

void KsIO::Attach(int fd, const KsString& name, int flags, Descriptor kind, std::int64_t position) {
    fd_ = fd;
    owned_ = kind.owned;
    seekable_ = kind.seekable;
    readable_ = kind.readable;
    flags_ = flags;
    descriptorPosition_ = position;
    KsScopeExit closeOnError([&] { Abandon(); });
    name_ = name;
    if (!buffer_) {
        buffer_ = NewBlock(capacity_);
    }
    clean_ = true;
    nextLoad_ = capacity_;
    SetupBaseLock();
    LoadWindow(position);
    closeOnError.Dismiss();
}

void KsIO::Close() {
    KsCallpath("Close()", kClass, [&] {
        // Pending bytes are written while the file's ranges are still locked. When that
        // fails the file stays open with its bytes pending, so Close or Flush may retry.
        if (fd_ >= 0) {
            WritePending();
        }
        KsString name = name_;
        if (int errorNumber = Abandon(); errorNumber != 0) {
            // The descriptor is gone, but what was written may not have reached the file.
            KsThrowSystemError(errorNumber, kClass, "Unable to close file \"%s\" -- ",
                               name.GetCString());
        }
    });
}

int KsIO::Abandon() noexcept {
    ReleaseLocks();
    int errorNumber = 0;
    if (fd_ >= 0 && owned_ && SystemClose(fd_) != 0) {
        errorNumber = errno;
    }
    fd_ = -1;
    owned_ = true;
    name_.Clear();
    start_ = 0;
    position_ = 0;
    valid_ = 0;
    clean_ = true;
    descriptorPosition_ = 0;
    return errorNumber;
}

void KsIO::Flush() {
    KsCallpath("Flush()", kClass, [&] {
        if (fd_ >= 0) {
            WritePending();
        }
    });
}

void KsIO::Sync() {
    KsCallpath("Sync()", kClass, [&] {
        if (fd_ >= 0) {
            WritePending();
            if (SystemSync(fd_) != 0) {
                KsThrowSystemError(errno, kClass, "Unable to sync \"%s\" -- ", GetFileName());
            }
        }
    });
}

void KsIO::DiscardReadAhead() {
    KsCallpath("DiscardReadAhead()", kClass, [&] {
        if (fd_ >= 0) {
            WritePending();
            // The next read loads the window anew.
            EmptyWindowAt(start_ + position_);
        }
    });
}

// ---- the window ----

std::int64_t KsIO::MoveDescriptor(std::int64_t offset) {
    if (fd_ < 0) {
        errno = EBADF;
        return -1;
    }
    if (descriptorPosition_ != offset) {
        std::int64_t moved = KsPosix::Seek(fd_, offset, 0);
        if (moved < 0) {
            return -1;
        }
        descriptorPosition_ = moved;
    }
    return descriptorPosition_;
}

int KsIO::TryWritePending(std::int64_t& written) noexcept {
    written = 0;
    if (clean_) {
        return 0;
    }
    assert(0 <= pendingBegin_ && pendingBegin_ <= pendingEnd_ && pendingEnd_ <= valid_);
    int errorNumber = 0;
    const std::int64_t at = start_ + pendingBegin_;
    const auto count = static_cast<std::size_t>(pendingEnd_ - pendingBegin_);
    if (owned_ && seekable_ && descriptorPosition_ != at) {
        // One call instead of a seek and a write.
        written = SystemWrite(fd_, buffer_.get() + pendingBegin_, count, at, errorNumber);
    } else if (MoveDescriptor(at) < 0) {
        errorNumber = errno;
    } else {
        written = SystemWrite(fd_, buffer_.get() + pendingBegin_, count, -1, errorNumber);
        descriptorPosition_ += written;
    }
    // On failure the window stays as it is and still counts as pending.
    clean_ = errorNumber == 0;
    return errorNumber;
}

void KsIO::WritePending() {
    std::int64_t written = 0;
    int errorNumber = TryWritePending(written);
    if (errorNumber == 0) {
        return;
    }
    if (written == 0) {
        KsThrowSystemError(errorNumber, kClass,
                           "Unable to write %ld bytes at offset %ld of file \"%s\" -- ",
                           static_cast<long>(pendingEnd_ - pendingBegin_),
                           static_cast<long>(start_ + pendingBegin_), GetFileName());
    }
    KsThrowSystemError(errorNumber, kClass,
                       "Only able to write %d bytes of %ld bytes at offset %ld of file \"%s\" -- ",
                       static_cast<int>(written), static_cast<long>(pendingEnd_ - pendingBegin_),
                       static_cast<long>(start_ + pendingBegin_), GetFileName());
}

void KsIO::EmptyWindowAt(std::int64_t start) {
    start_ = start;
    position_ = 0;
    valid_ = 0;
}

void KsIO::LoadWindow(std::int64_t start) {
    EmptyWindowAt(start);
    if (!readable_) {
        return;
    }
    valid_ = ReadSomeAt(buffer_.get(), std::min(nextLoad_, capacity_), start);
}

void KsIO::LoadBlockAround(std::int64_t target) {
    std::int64_t blockStart = target - target % kRandomReadBlock;
    nextLoad_ = kRandomReadBlock;
    LoadWindow(blockStart);
    position_ = static_cast<std::int32_t>(target - blockStart);
}

void KsIO::MarkPending(std::int32_t from, std::int32_t to) {
    if (clean_) {
        pendingBegin_ = from;
        pendingEnd_ = to;
        clean_ = false;
        return;
    }
    pendingBegin_ = std::min(pendingBegin_, from);
    pendingEnd_ = std::max(pendingEnd_, to);
}

bool KsIO::Positioned() const {
    // An adopted descriptor (standard input, say) may share its position with other
    // programs, which expect it to move.
    return owned_ && seekable_ && readable_;
}

std::int32_t KsIO::ReadSomeAt(char* into, std::int32_t count, std::int64_t offset) {
    std::int64_t got = -1;
    if (Positioned()) {
        // One call instead of a seek and a read; a regular file returns less only at its end.
        int errorNumber = 0;
        got = KsPosix::ReadFullyAt(fd_, into, static_cast<std::size_t>(count), offset, errorNumber);
    } else if (MoveDescriptor(offset) >= 0) {
        got = KsPosix::ReadSome(fd_, into, static_cast<std::size_t>(count));
        descriptorPosition_ += got < 0 ? 0 : got;
    }
    if (got < 0) {
        KsException::Generate("Unable to read %ld bytes at offset %ld of file \"%s\"", kClass,
                              static_cast<long>(count), static_cast<long>(offset), GetFileName());
    }
    return static_cast<std::int32_t>(got);
}

bool KsIO::Refill() {
    // An empty window is tried again too: the file may have grown since it was loaded.
    WritePending();
    // Reading on from the window: the loads grow back to whole buffers.
    nextLoad_ = nextLoad_ > capacity_ / 2 ? capacity_ : nextLoad_ * 2;
    LoadWindow(start_ + position_);
    return valid_ != 0;
}

bool KsIO::IsInWindow(std::int64_t target) const {
    // Pending bytes may be followed by more writes up to the buffer's end; a clean window
    // (or one that could not be read) holds only its valid bytes.
    std::int64_t end = start_ + (clean_ || !readable_ ? valid_ : capacity_);
    return target >= start_ && target < end;
}

void KsIO::FillGap() {
    // After a seek past the written bytes: the bytes in between are the file's, or zeros
    // beyond its end, as they would be had the seek gone to the file.
    auto gap = static_cast<std::size_t>(position_ - valid_);
    char* target = buffer_.get() + valid_;
    std::int64_t got = DirectRead(target, static_cast<std::int64_t>(gap), start_ + valid_);
    std::memset(target + got, 0, gap - static_cast<std::size_t>(got));
    valid_ = position_;
}

std::int64_t KsIO::LogicalSize() const {
    std::int64_t size = 0;
    if (!KsPosix::GetSize(fd_, size)) {
        KsThrowSystemError(errno, "KsIOInterface", "Unable to get file size of file \"%s\" -- ",
                           GetFileName());
    }
    return clean_ ? size : std::max(size, start_ + valid_);
}

// ---- reading and writing ----

void KsIO::CheckCount(std::int32_t count) const {
    if (count < 0) {
        KsException::Generate("Invalid byte count %d for file \"%s\"", kClass, count,
                              GetFileName());
    }
}

void KsIO::CheckReadable() const {
    if (!(flags_ & IO_READ)) {
        KsException::Generate("Attempt to read from a write-only file", kClass);
    }
    if (fd_ < 0) {
        KsException::Generate("Attempt to read from a file that is not open", kClass);
    }
}

std::int32_t KsIO::Read(void* buffer, std::int32_t count, bool required) {
    return KsCallpath("Read", kClass, [&] {
        if (count == 0) {
            return 0;
        }
        CheckReadable();
        CheckCount(count);
        auto* out = static_cast<char*>(buffer);
        std::int32_t remaining = count;
        while (remaining > 0) {
            if (position_ < valid_) {
                std::int32_t n = std::min(valid_ - position_, remaining);
                std::memcpy(out, buffer_.get() + position_, static_cast<std::size_t>(n));
                position_ += n;
                out += n;
                remaining -= n;
            } else if (!Refill()) {
                break;
            }
        }
        if (remaining > 0 && required) {
            KsException::Generate("Unable to perform a required read at offset %ld of \"%s\"",
                                  kClass, static_cast<long>(Tell64()), GetFileName());
        }
        return count - remaining;
    });
}

std::int32_t KsIO::ReadLineBytes(char* buffer, std::int32_t limit) {
    if (limit <= 0) {
        return 0;
    }
    // Reads exactly as single-byte Read calls would, a run of bytes at a time.
    return KsCallpath("Read", kClass, [&] {
        CheckReadable();
        std::int32_t stored = 0;
        while (stored < limit) {
            if (position_ >= valid_) {
                if (!Refill()) {
                    break;
                }
                continue;
            }
            const char* run = buffer_.get() + position_;
            auto length = static_cast<std::size_t>(std::min(valid_ - position_, limit - stored));
            bool lineEnd = false;
            if (const void* newline = std::memchr(run, '\n', length)) {
                length = static_cast<std::size_t>(static_cast<const char*>(newline) - run) + 1;
                lineEnd = true;
            }
            if (const void* ret = std::memchr(run, '\r', length)) {
                length = static_cast<std::size_t>(static_cast<const char*>(ret) - run) + 1;
                lineEnd = true;
            }
            std::memcpy(buffer + stored, run, length);
            position_ += static_cast<std::int32_t>(length);
            stored += static_cast<std::int32_t>(length);
            if (lineEnd) {
                break;
            }
        }
        return stored;
    });
}

std::int32_t KsIO::ReadAvailable(void* buffer, std::int32_t count) {
    return KsCallpath("ReadAvailable()", kClass, [&] {
        CheckReadable();
        CheckCount(count);
        if (count >= capacity_ && position_ >= valid_ && clean_ && readable_) {
            // A caller that takes a whole buffer's worth gets the bytes without a copy;
            // the window, empty, moves past them.
            const std::int64_t at = start_ + position_;
            const std::int32_t got = ReadSomeAt(static_cast<char*>(buffer), count, at);
            EmptyWindowAt(at + got);
            return got;
        }
        if (count == 0 || (position_ >= valid_ && !Refill())) {
            return 0;
        }
        std::int32_t n = std::min(valid_ - position_, count);
        std::memcpy(buffer, buffer_.get() + position_, static_cast<std::size_t>(n));
        position_ += n;
        return n;
    });
}

void KsIO::Write(const void* buffer, std::int32_t count) {
    KsCallpath("Write()", kClass, [&] {
        if (!(flags_ & IO_WRITE)) {
            KsException::Generate("Attempt to write to a read-only file", kClass);
        }
        CheckCount(count);
        if (count == 0) {
            return;
        }
        if (fd_ < 0) {
            KsException::Generate("Attempt to write to a file that is not open", kClass);
        }
        if (position_ > valid_) {
            FillGap();
        }
        const auto* in = static_cast<const char*>(buffer);
        std::int32_t remaining = count;
        while (remaining > 0) {
            std::int32_t room = capacity_ - position_;
            if (room > remaining) {
                std::memcpy(buffer_.get() + position_, in, static_cast<std::size_t>(remaining));
                MarkPending(position_, position_ + remaining);
                position_ += remaining;
                valid_ = std::max(valid_, position_);
                return;
            }
            std::memcpy(buffer_.get() + position_, in, static_cast<std::size_t>(room));
            MarkPending(position_, capacity_);
            in += room;
            remaining -= room;
            position_ = capacity_;
            valid_ = capacity_;
            Refill();
        }
    });
}

// ---- positioning and sizes ----

std::int32_t KsIO::Seek(std::int32_t offset, int origin) {
    return KsCallpath("Seek()", kClass, [&] {
        std::int64_t position = 0;
        switch (origin) {
            case 0:
                position = MoveTo(offset, offset);
                break;
            case 1:
                position = MoveTo(Tell64() + offset, offset);
                break;
            case 2:
                // The end is the operating system's to find.
                WritePending();
                position = KsPosix::Seek(fd_, offset, 2);
                if (position < 0) {
                    ThrowSeekFailed(errno, offset);
                }
                descriptorPosition_ = position;
                LoadWindow(position);
                break;
            default:
                KsException::Generate("Invalid seek operation", kClass);
        }
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(position));
    });
}

std::int64_t KsIO::MoveTo(std::int64_t target, std::int64_t offset) {
    if (IsInWindow(target)) {
        position_ = static_cast<std::int32_t>(target - start_);
        return target;
    }
    WritePending();
    if (target >= 0 && fd_ >= 0 && seekable_ && readable_ && target != start_ + valid_) {
        LoadBlockAround(target);
        return target;
    }
    if (MoveDescriptor(target) < 0) {
        ThrowSeekFailed(errno, offset);
    }
    nextLoad_ = capacity_;
    LoadWindow(target);
    return target;
}

void KsIO::ThrowSeekFailed(int errorNumber, std::int64_t offset) const {
    std::string reason = SeekFailureReason(errorNumber, fd_);
    KsException::Generate("Error: %s, in repositioning file \"%s\" to byte %ld ", kClass,
                          reason.c_str(), GetFileName(), static_cast<long>(offset));
}

std::int32_t KsIO::Tell() const {
    std::int64_t position = Tell64();
    if (position > INT32_MAX) {
        KsException::Generate("KsIO only supports 32-bit offsets", kClass);
    }
    return static_cast<std::int32_t>(position);
}

std::int64_t KsIO::GetFileSize64() const {
    return KsCallpath("GetFileSize64()", kClass, [&] { return LogicalSize(); });
}

std::int32_t KsIO::GetFileSize() const {
    return KsCallpath("GetFileSize()", kClass, [&] {
        std::int64_t size = 0;
        if (!KsPosix::GetSize(fd_, size)) {
            return 0;
        }
        return As32Bits(clean_ ? size : std::max(size, start_ + valid_), "KsIOInterface");
    });
}

bool KsIO::IsEOF() const {
    return KsCallpath("IsEOF()", kClass, [&] {
        if (fd_ < 0) {
            KsException::Generate("Cannot check for EOF on unopened file.", kClass);
        }
        return Tell64() >= LogicalSize();
    });
}

void KsIO::Truncate(std::int32_t count) {
    KsCallpath("Truncate()", kClass, [&] {
        WritePending();
        if (!(flags_ & IO_WRITE)) {
            KsException::Generate("Attempt to truncate file \"%s\" without write permission.",
                                  kClass, GetFileName());
        }
        std::int64_t size = 0;
        if (!KsPosix::GetSize(fd_, size)) {
            KsThrowSystemError(errno, kClass, "Win32 Error : ");
        }
        if (count < 0 || count > size) {
            KsException::Generate(
                "Attempt to truncate %d bytes from a file which is %lld bytes long", kClass, count,
                static_cast<long long>(size));
        }
        std::int64_t newSize = count == 0 ? 0 : size - count;
        if (SystemSetSize(fd_, newSize) != 0) {
            KsThrowSystemError(errno, kClass, "Win32 Error : ");
        }
        // The window keeps only what is still in the file.
        valid_ = static_cast<std::int32_t>(
            std::clamp<std::int64_t>(newSize - start_, 0, std::int64_t{valid_}));
        Seek(0, 0);
    });
}

void KsIO::SetBufferSize(std::int32_t size) {
    KsCallpath("SetBufferSize()", kClass, [&] {
        size = std::clamp(size, kMinimumBufferSize, kMaximumBufferSize);
        if (!buffer_) {
            buffer_ = NewBlock(size);
            capacity_ = size;
            return;
        }
        if (size == capacity_) {
            return;
        }
        std::unique_ptr<char[]> block = NewBlock(size);
        if (IsOpen()) {
            WritePending();
        }
        if (size > capacity_) {
            // The window stays where it is.
            std::memcpy(block.get(), buffer_.get(), static_cast<std::size_t>(capacity_));
        } else if (IsOpen()) {
            // The window restarts at the position with the unread bytes that fit; the rest
            // is read again from the file when needed.
            std::int32_t unread = std::max(valid_ - position_, 0);
            if (unread > size && !seekable_) {
                KsException::Generate(
                    "Cannot shrink the buffer of \"%s\" below its %d unread bytes", kClass,
                    GetFileName(), unread);
            }
            std::int32_t kept = std::min(unread, size);
            std::memcpy(block.get(), buffer_.get() + position_, static_cast<std::size_t>(kept));
            start_ += position_;
            position_ = 0;
            valid_ = kept;
        }
        buffer_ = std::move(block);
        capacity_ = size;
    });
}

// ---- positioned transfers ----

std::int64_t KsIO::DirectRead(char* buffer, std::int64_t count, std::int64_t offset) {
    int errorNumber = 0;
    std::int64_t got =
        KsPosix::ReadFullyAt(fd_, buffer, static_cast<std::size_t>(count), offset, errorNumber);
    if (got < 0) {
        KsThrowSystemError(errorNumber, kClass, "Could not read %d bytes at %d in file \"%s\" -- ",
                           static_cast<int>(count), static_cast<int>(offset), GetFileName());
    }
    return got;
}

std::int64_t KsIO::DirectWrite(const char* buffer, std::int64_t count, std::int64_t offset,
                               int& errorNumber) {
    return SystemWriteAt(fd_, buffer, static_cast<std::size_t>(count), offset, errorNumber);
}

std::int32_t KsIO::ReadFrom(std::uint64_t offset, void* buffer, std::int32_t count, bool required) {
    return KsCallpath("ReadFrom()", kClass, [&] {
        if (offset > kLargest32BitOffset) {
            KsException::Generate("KsIO only supports 32-bit offsets", kClass);
        }
        CheckCount(count);
        auto* out = static_cast<char*>(buffer);
        auto begin = static_cast<std::int64_t>(offset);
        std::int64_t end = begin + count;
        std::int64_t windowEnd = start_ + valid_;
        std::int64_t done = 0;
        bool complete = true;
        // Before the window, from the file.
        if (begin < start_) {
            std::int64_t n = std::min(end, start_) - begin;
            done = DirectRead(out, n, begin);
            if (done < n && !clean_ && valid_ > 0) {
                // The pending window lies beyond the file's end: the bytes up to it are
                // the gap that writing the window will leave, which reads as zeros.
                std::memset(out + done, 0, static_cast<std::size_t>(n - done));
                done = n;
            }
            complete = done == n;
        }
        // Inside the window, from the buffer.
        std::int64_t inside = std::max(begin, start_);
        if (complete && inside < std::min(end, windowEnd)) {
            std::int64_t n = std::min(end, windowEnd) - inside;
            std::memcpy(out + (inside - begin), buffer_.get() + (inside - start_),
                        static_cast<std::size_t>(n));
            done += n;
        }
        // After the window, from the file.
        std::int64_t after = std::max(begin, windowEnd);
        if (complete && after < end) {
            done += DirectRead(out + (after - begin), end - after, after);
        }
        if (required && done < count) {
            KsException::Generate(
                "Unable to read %d bytes from position %d of file \"%s\"; file length is %lld",
                kClass, count, static_cast<int>(offset), GetFileName(),
                static_cast<long long>(LogicalSize()));
        }
        return static_cast<std::int32_t>(done);
    });
}

void KsIO::WriteTo(std::uint64_t offset, const void* buffer, std::int32_t count) {
    KsCallpath("WriteTo()", kClass, [&] {
        if (offset > kLargest32BitOffset) {
            KsException::Generate("KsIO only supports 32-bit offsets", kClass);
        }
        if (!(flags_ & IO_WRITE)) {
            KsException::Generate("Attempt to write to a read-only file", kClass);
        }
        CheckCount(count);
        const auto* in = static_cast<const char*>(buffer);
        auto begin = static_cast<std::int64_t>(offset);
        std::int64_t end = begin + count;
        std::int64_t windowEnd = start_ + valid_;
        std::int64_t done = 0;
        int errorNumber = 0;
        if (begin < start_) {
            done = DirectWrite(in, std::min(end, start_) - begin, begin, errorNumber);
        }
        std::int64_t inside = std::max(begin, start_);
        if (errorNumber == 0 && inside < std::min(end, windowEnd)) {
            std::int64_t n = std::min(end, windowEnd) - inside;
            std::memcpy(buffer_.get() + (inside - start_), in + (inside - begin),
                        static_cast<std::size_t>(n));
            MarkPending(static_cast<std::int32_t>(inside - start_),
                        static_cast<std::int32_t>(inside - start_ + n));
            done += n;
        }
        std::int64_t after = std::max(begin, windowEnd);
        if (errorNumber == 0 && after < end) {
            done += DirectWrite(in + (after - begin), end - after, after, errorNumber);
        }
        if (done != count) {
            KsThrowSystemError(errorNumber, kClass,
                               "Unable to write %d bytes at position %d of file \"%s\" -- ", count,
                               static_cast<int>(offset), GetFileName());
        }
    });
}

std::unique_ptr<KsIOLock> KsIO::CreateLock(int type, std::uint64_t offset, std::uint64_t length) {
    return std::make_unique<KsOSLock>(fd_, type, offset, length);
}
