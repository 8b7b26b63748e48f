#include "core/KsResizableChunk.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "core/KsAlloc.h"

KsResizableChunk::KsResizableChunk(std::uint32_t size) {
    ResizeChunk(size, true, 0);
}

KsResizableChunk::KsResizableChunk(std::int32_t size, char fill) {
    ResizeChunk(static_cast<std::uint32_t>(size), true, fill);
}

KsResizableChunk::KsResizableChunk(const KsResizableChunk& other) {
    *this = other;
}

KsResizableChunk& KsResizableChunk::operator=(const KsResizableChunk& other) {
    if (this != &other) {
        ResizeChunk(other.size_, false, 0);
        if (size_ != 0) {
            std::memcpy(data_, other.data_, size_);
        }
    }
    return *this;
}

KsResizableChunk::KsResizableChunk(KsResizableChunk&& other) noexcept {
    Swap(other);
}

KsResizableChunk& KsResizableChunk::operator=(KsResizableChunk&& other) noexcept {
    if (this != &other) {
        Swap(other);
        other.Resize(0);
    }
    return *this;
}

KsResizableChunk::~KsResizableChunk() {
    std::free(data_);
    data_ = nullptr;
    size_ = 0;
}

void KsResizableChunk::Swap(KsResizableChunk& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
}

void KsResizableChunk::Resize(std::int32_t newSize) {
    if (static_cast<std::uint32_t>(newSize) == size_) {
        return;
    }
    if (newSize < 0) {
        KsException::Generate("lNewSize, value %d, must be non-negative.", "KsResizableChunk",
                              newSize);
    }
    if (newSize == 0) {
        std::free(data_);
        data_ = nullptr;
        size_ = 0;
        return;
    }
    // realloc keeps the old block intact when it fails, so nothing is lost.
    void* grown = std::realloc(data_, static_cast<std::size_t>(newSize));
    if (grown == nullptr) {
        KsAllocReleaseReserve();
        char message[128];
        std::snprintf(message, sizeof message,
                      "Could not reallocate chunk - tried to allocate %d bytes.", newSize);
        throw KsMemoryException(message);
    }
    data_ = static_cast<char*>(grown);
    size_ = static_cast<std::uint32_t>(newSize);
}

void KsResizableChunk::ResizeChunk(std::uint32_t newSize, bool fillAll, char fill) {
    std::uint32_t oldSize = size_;
    Resize(static_cast<std::int32_t>(newSize));
    if (newSize == 0) {
        return;
    }
    if (fillAll) {
        std::memset(data_, fill, newSize);
    } else if (newSize > oldSize) {
        std::memset(data_ + oldSize, fill, newSize - oldSize);
    }
}

void KsResizableChunk::CopyFrom(const KsResizableChunk& source, std::uint32_t count,
                                std::uint32_t sourceOffset, std::uint32_t targetOffset) {
    // An offset past the source's end copies nothing instead of reading beyond it.
    std::uint32_t available = sourceOffset < source.size_ ? source.size_ - sourceOffset : 0;
    std::uint32_t n = count < available ? count : available;
    if (n == 0) {
        return;
    }
    if (targetOffset > size_ || n > size_ - targetOffset) {
        ResizeChunk(n + targetOffset, false, 0);
    }
    std::memmove(data_ + targetOffset, source.data_ + sourceOffset, n);
}

void KsResizableChunk::ThrowOutOfRange(std::uint32_t offset) const {
    KsException::Generate("index (value=%d) is out of range [%d, %d]", "KsResizableChunk",
                          static_cast<int>(offset), 0, static_cast<int>(size_));
}
