#pragma once
/// @file

#include <cstdint>
#include <memory>

#include "core/KsException.h"

/// An owned, resizable block of bytes with checked access by offset. Errors are
/// KsException objects of class "KsResizableChunk": a negative size, an offset outside the
/// block; growing raises KsMemoryException when memory runs out.
class KsResizableChunk {
public:
    KsResizableChunk() = default;
    /// `size` bytes, all 0.
    explicit KsResizableChunk(std::uint32_t size);
    /// `size` bytes, all `fill`.
    KsResizableChunk(std::int32_t size, char fill);
    /// @{
    /// A block of its own with the bytes of `other`.
    KsResizableChunk(const KsResizableChunk& other);
    KsResizableChunk& operator=(const KsResizableChunk& other);
    /// @}
    /// @{
    /// Takes the block of `other`, which is left empty.
    KsResizableChunk(KsResizableChunk&& other) noexcept;
    KsResizableChunk& operator=(KsResizableChunk&& other) noexcept;
    /// @}
    virtual ~KsResizableChunk();

    /// A copy owned by the caller.
    virtual std::unique_ptr<KsResizableChunk> Clone() const {
        return std::make_unique<KsResizableChunk>(*this);
    }

    /// New size keeping the leading bytes; size 0 releases the block.
    void Resize(std::int32_t newSize);
    /// Resize, then fill either every byte or only the bytes added by the growth.
    void ResizeChunk(std::uint32_t newSize, bool fillAll, char fill);
    /// Copies up to `count` bytes of `source` from `sourceOffset` to `targetOffset`,
    /// growing this chunk when the bytes do not fit.
    void CopyFrom(const KsResizableChunk& source, std::uint32_t count, std::uint32_t sourceOffset,
                  std::uint32_t targetOffset);

    /// Address of the element at byte `offset`, which must lie inside the chunk.
    template <class T = char>
    T* AsPtrAtOffset(std::uint32_t offset) const {
        CheckOffset(offset);
        return reinterpret_cast<T*>(data_ + offset);
    }
    /// Throws "index (value=%d) is out of range [%d, %d]" unless offset < size.
    void CheckOffset(std::uint32_t offset) const {
        if (static_cast<std::int32_t>(offset) < 0 || offset >= size_) {
            ThrowOutOfRange(offset);
        }
    }

    /// The first byte, or null for an empty chunk; valid until the next resize.
    char* GetData() const { return data_; }
    /// The size in bytes.
    std::uint32_t GetChunkSize() const { return size_; }
    /// Exchanges blocks with another chunk without copying.
    void Swap(KsResizableChunk& other) noexcept;

private:
    [[noreturn]] void ThrowOutOfRange(std::uint32_t offset) const;

    char* data_ = nullptr;
    std::uint32_t size_ = 0;
};
