#pragma once
/// @file

#include <cstdint>
#include <memory>

#include "core/KsResizableChunk.h"
#include "core/KsString.h"
#include "io/KsIOFactory.h"
#include "io/KsIOInterface.h"

/// A file whose bytes live in memory. Anything written for a file can be pointed at a blob:
/// a record or index image is built in one and stored as one piece, or a whole small file is
/// loaded into one and parsed from there. The blob grows when written past its end; the
/// position may stand beyond the end, and a later write fills the gap with zero bytes.
///
/// Sizes are at most 2147483647 bytes, positions at most 4294967295. Locks do nothing, since
/// nobody else can see the bytes; the name is "BLOB()", or "BLOB(<file>)" after Open.
class KsBlob : public KsIOInterface {
public:
    /// `size` bytes copied from `data`, or zero bytes when `data` is null.
    explicit KsBlob(const char* data = nullptr, std::uint32_t size = 0);
    /// @{
    /// A blob of its own with the bytes, position and name of `other`.
    KsBlob(const KsBlob& other) = default;
    KsBlob& operator=(const KsBlob& other) = default;
    /// @}
    ~KsBlob() override = default;

    /// New size and content (zero bytes when `data` is null); position 0.
    void SetBlob(const void* data, std::uint32_t size);
    /// Replaces the content by exactly `size` bytes read from `stream`; position 0. The
    /// memory grows as bytes arrive, so a size that the stream cannot back costs no more
    /// than the stream holds. On failure the blob is unchanged.
    void Read(KsInputStreamInterface& stream, std::uint32_t size);
    /// Writes every byte of the blob (not its size) to `stream`.
    void Write(KsOutputStreamInterface& stream) const;

    /// The bytes, valid until the blob next changes size; null when empty.
    const char* GetData() const { return chunk_.GetData(); }
    /// The number of bytes.
    std::uint32_t GetSize() const { return chunk_.GetChunkSize(); }

    /// Replaces the content by a whole file, read through `factory` under a read lock on the
    /// whole file; `flags` are not used. On failure the blob is unchanged.
    void Open(const char* name, int flags, KsIOFactory& factory);

    using KsIOInterface::GetFileName;
    std::int32_t Read(void* buffer, std::int32_t count, bool required) override;
    void Write(const void* buffer, std::int32_t count) override;
    std::unique_ptr<KsIOInterface> Clone() const override;
    /// A new empty blob; the arguments are not used.
    std::unique_ptr<KsIOInterface> CreateNew(const char* name, int flags) const override;
    void Close() override {}
    void Flush() override {}
    const char* GetFileName() const override { return name_.GetCString(); }
    std::int32_t GetFileSize() const override { return static_cast<std::int32_t>(GetSize()); }
    std::int64_t GetFileSize64() const override { return GetSize(); }
    bool IsEOF() const override { return position_ >= GetSize(); }
    bool IsOpen() const override { return true; }
    int GetFlags() const override { return IO_READ | IO_WRITE; }
    void Lock(int, std::uint64_t, std::uint64_t) override {}
    void Open(const char* name, int flags) override;
    std::int32_t ReadFrom(std::uint64_t offset, void* buffer, std::int32_t count,
                          bool required) override;
    std::int32_t Seek(std::int32_t offset, int origin) override;
    std::int32_t Tell() const override { return static_cast<std::int32_t>(position_); }
    std::int64_t Tell64() const override { return position_; }
    /// Removes `count` bytes from the end; 0 empties the blob. Position 0. More bytes than the
    /// blob holds are refused, as for files.
    void Truncate(std::int32_t count) override;
    bool TryLock(int, std::uint64_t, std::uint64_t) override { return true; }
    bool UnLock(int, std::uint64_t, std::uint64_t) override { return true; }
    void WriteTo(std::uint64_t offset, const void* buffer, std::int32_t count) override;

private:
    /// Copies `count` bytes to `offset`, growing the chunk when they go past its end.
    void Store(std::uint64_t offset, const void* buffer, std::int32_t count);
    /// Copies up to `count` bytes from `offset` (at most the size); returns how many.
    std::int32_t Load(std::uint32_t offset, void* buffer, std::int32_t count, bool required) const;

    KsResizableChunk chunk_;
    std::uint32_t position_ = 0;
    KsString name_ = "BLOB()";
};
