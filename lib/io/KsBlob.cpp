#include "io/KsBlob.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "core/KsCallpath.h"
#include "io/KsIOLockGuard.h"

namespace {

constexpr const char* kClass = "KsBlob";
// A chunk's size is a signed 32-bit value.
constexpr std::uint64_t kLargestSize = INT32_MAX;
// Reading from a stream starts with this much memory and doubles it as bytes arrive.
constexpr std::uint32_t kFirstReadStep = 64 * 1024;

void CheckCount(std::int32_t count) {
    if (count < 0) {
        KsException::Generate("Invalid byte count %d for a memory blob", kClass, count);
    }
}

void CheckSize(std::uint64_t size) {
    if (size > kLargestSize) {
        KsException::Generate("A memory blob holds at most %u bytes, not %llu", kClass,
                              static_cast<unsigned>(kLargestSize),
                              static_cast<unsigned long long>(size));
    }
}

}  // namespace

KsBlob::KsBlob(const char* data, std::uint32_t size) {
    KsCallpath("Constructor()", kClass, [&] { SetBlob(data, size); });
}

void KsBlob::SetBlob(const void* data, std::uint32_t size) {
    KsCallpath("SetBlob()", kClass, [&] {
        CheckSize(size);
        chunk_.ResizeChunk(size, data == nullptr, 0);
        if (data != nullptr && size != 0) {
            std::memcpy(chunk_.GetData(), data, size);
        }
        position_ = 0;
    });
}

void KsBlob::Read(KsInputStreamInterface& stream, std::uint32_t size) {
    KsCallpath("Read()", kClass, [&] {
        CheckSize(size);
        KsResizableChunk loaded;
        std::uint32_t done = 0;
        while (done < size) {
            std::uint32_t step = std::min(size - done, std::max(done, kFirstReadStep));
            loaded.Resize(static_cast<std::int32_t>(done + step));
            stream.Read(loaded.GetData() + done, static_cast<std::int32_t>(step), true);
            done += step;
        }
        chunk_.Swap(loaded);
        position_ = 0;
    });
}

void KsBlob::Write(KsOutputStreamInterface& stream) const {
    KsCallpath("Write()", kClass, [&] {
        if (GetSize() != 0) {
            stream.Write(GetData(), static_cast<std::int32_t>(GetSize()));
        }
    });
}

void KsBlob::Open(const char* name, int flags) {
    Open(name, flags, KsIOFactory::Default());
}

void KsBlob::Open(const char* name, int /*flags*/, KsIOFactory& factory) {
    KsCallpath("Open()", kClass, [&] {
        KsString newName = "BLOB(";
        newName.Append(name).Append(")");
        std::unique_ptr<KsIOInterface> file = factory.Open(name, IO_READ | LOCK_READ | LOCK_WRITE);
        KsIOLockGuard lock(*file, LOCK_READ, 0, 0);
        std::int64_t size = file->GetFileSize64();
        CheckSize(static_cast<std::uint64_t>(size));
        KsResizableChunk loaded;
        loaded.Resize(static_cast<std::int32_t>(size));
        if (size != 0) {
            file->ReadFrom(0, loaded.GetData(), static_cast<std::int32_t>(size), true);
        }
        lock.Release();
        file->Close();
        chunk_.Swap(loaded);
        position_ = 0;
        name_ = newName;
    });
}

std::int32_t KsBlob::Load(std::uint32_t offset, void* buffer, std::int32_t count,
                          bool required) const {
    CheckCount(count);
    std::uint32_t available = offset < GetSize() ? GetSize() - offset : 0;
    auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(available, std::uint32_t(count)));
    if (required && n != static_cast<std::uint32_t>(count)) {
        KsException::Generate(
            "Could not read %u bytes at position %u; only %u bytes in the buffer at that point",
            kClass, static_cast<unsigned>(count), offset, n);
    }
    if (n != 0) {
        std::memcpy(buffer, GetData() + offset, n);
    }
    return static_cast<std::int32_t>(n);
}

std::int32_t KsBlob::Read(void* buffer, std::int32_t count, bool required) {
    return KsCallpath("Read()", kClass, [&] {
        std::int32_t n = Load(position_, buffer, count, required);
        position_ += static_cast<std::uint32_t>(n);
        return n;
    });
}

std::int32_t KsBlob::ReadFrom(std::uint64_t offset, void* buffer, std::int32_t count,
                              bool required) {
    return KsCallpath("ReadFrom()", kClass, [&] {
        if (offset > GetSize()) {
            KsException::Generate("Offset is past the end of allocated memory", kClass);
        }
        return Load(static_cast<std::uint32_t>(offset), buffer, count, required);
    });
}

void KsBlob::Store(std::uint64_t offset, const void* buffer, std::int32_t count) {
    CheckCount(count);
    std::uint64_t end = offset + static_cast<std::uint64_t>(count);
    if (end > GetSize()) {
        CheckSize(end);
        chunk_.ResizeChunk(static_cast<std::uint32_t>(end), false, 0);
    }
    if (count != 0) {
        std::memcpy(chunk_.GetData() + offset, buffer, static_cast<std::size_t>(count));
    }
}

void KsBlob::Write(const void* buffer, std::int32_t count) {
    KsCallpath("Write()", kClass, [&] {
        Store(position_, buffer, count);
        position_ += static_cast<std::uint32_t>(count);
    });
}

void KsBlob::WriteTo(std::uint64_t offset, const void* buffer, std::int32_t count) {
    KsCallpath("WriteTo()", kClass, [&] {
        if (offset > UINT32_MAX) {
            KsException::Generate("KsResizableChunk only supports 32-bit offsets", kClass);
        }
        Store(offset, buffer, count);
    });
}

std::unique_ptr<KsIOInterface> KsBlob::Clone() const {
    return std::make_unique<KsBlob>(*this);
}

std::unique_ptr<KsIOInterface> KsBlob::CreateNew(const char*, int) const {
    return std::make_unique<KsBlob>();
}

std::int32_t KsBlob::Seek(std::int32_t offset, int origin) {
    return KsCallpath("Seek()", kClass, [&] {
        std::int64_t target = 0;
        switch (origin) {
            case 0:
                if (offset < 0) {
                    KsException::Generate("Cannot seek to %d from the beginning of the chunk",
                                          kClass, offset);
                }
                target = offset;
                break;
            case 1:
                target = std::int64_t{position_} + offset;
                if (target < 0) {
                    KsException::Generate(
                        "Cannot seek to %d from offset %u, before beginning of the chunk", kClass,
                        offset, position_);
                }
                if (target > UINT32_MAX) {
                    KsException::Generate(
                        "Cannot seek to %d from offset %u, past the last 32-bit position", kClass,
                        offset, position_);
                }
                break;
            case 2:
                target = std::int64_t{GetSize()} + offset;
                if (target < 0) {
                    KsException::Generate(
                        "Cannot seek to %d from end of the chunk, only %u bytes available", kClass,
                        offset, GetSize());
                }
                break;
            default:
                KsException::Generate("Unknown offset type : %d", kClass, origin);
        }
        position_ = static_cast<std::uint32_t>(target);
        return static_cast<std::int32_t>(position_);
    });
}

void KsBlob::Truncate(std::int32_t count) {
    KsCallpath("Truncate()", kClass, [&] {
        // More than the blob holds would wrap the size around; it is refused as for files.
        if (count < 0 || static_cast<std::uint32_t>(count) > GetSize()) {
            KsException::Generate(
                "Attempt to truncate %d bytes from a chunk which is %u bytes long", kClass, count,
                GetSize());
        }
        chunk_.Resize(count == 0 ? 0 : static_cast<std::int32_t>(GetSize()) - count);
        position_ = 0;
    });
}
