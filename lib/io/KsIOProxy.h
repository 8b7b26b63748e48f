#pragma once
/// @file

#include <cstdint>
#include <memory>

#include "io/KsIOInterface.h"

/// A second, independent position on a file that is already open. Reads and writes go to
/// the target as positioned transfers at the proxy's own position, so any number of proxies
/// (and the target itself) can walk one open file without disturbing each other. Everything
/// else (sizes, locks, flushing, closing) is the target's. The proxy does not own the
/// target and never closes it on destruction.
class KsIOProxy : public KsIOInterface {
public:
    /// A proxy at position 0 of `target`.
    explicit KsIOProxy(KsIOInterface& target, std::uint64_t position = 0)
        : target_(&target), position_(position) {}
    /// @{
    /// Another proxy on the same target at the same position.
    KsIOProxy(const KsIOProxy& other) = default;
    KsIOProxy& operator=(const KsIOProxy& other) = default;
    /// @}
    /// Leaves the target open.
    ~KsIOProxy() override = default;

    using KsIOInterface::GetFileName;
    /// Reads at the proxy's position, which grows by the bytes read.
    std::int32_t Read(void* buffer, std::int32_t count, bool required) override;
    /// Writes at the proxy's position, which grows by `count`.
    void Write(const void* buffer, std::int32_t count) override;
    /// A new proxy on the same target at the same position.
    std::unique_ptr<KsIOInterface> Clone() const override;
    std::unique_ptr<KsIOInterface> CreateNew(const char* name, int flags) const override;
    void Close() override { target_->Close(); }
    void Flush() override { target_->Flush(); }
    void DiscardReadAhead() override { target_->DiscardReadAhead(); }
    const char* GetFileName() const override { return target_->GetFileName(); }
    std::int32_t GetFileSize() const override { return target_->GetFileSize(); }
    std::int64_t GetFileSize64() const override { return target_->GetFileSize64(); }
    /// True when the target's size is at or below the proxy's position.
    bool IsEOF() const override;
    bool IsOpen() const override { return target_->IsOpen(); }
    int GetFlags() const override { return target_->GetFlags(); }
    void Lock(int type, std::uint64_t offset, std::uint64_t length) override;
    /// Opens the target on another file; the proxy goes to position 0.
    void Open(const char* name, int flags) override;
    std::int32_t ReadFrom(std::uint64_t offset, void* buffer, std::int32_t count,
                          bool required) override;
    /// Origin 0 from the start, 1 from the position, 2 from the target's end. A position
    /// before the start of the file is refused. Returns the low 32 bits of the position.
    std::int32_t Seek(std::int32_t offset, int origin) override;
    std::int64_t Seek64Absolute(std::int64_t offset) override;
    std::int64_t Seek64FromCurrent(std::int64_t offset) override;
    std::int64_t Seek64FromEnd(std::int64_t offset) override;
    /// The low 32 bits of the position; Tell64 gives all of it.
    std::int32_t Tell() const override { return static_cast<std::int32_t>(position_); }
    std::int64_t Tell64() const override { return static_cast<std::int64_t>(position_); }
    void Truncate(std::int32_t count) override { target_->Truncate(count); }
    bool TryLock(int type, std::uint64_t offset, std::uint64_t length) override;
    bool UnLock(int type, std::uint64_t offset, std::uint64_t length) override;
    void WriteTo(std::uint64_t offset, const void* buffer, std::int32_t count) override;

    /// Exchanges target and position with `other`.
    void Swap(KsIOProxy& other) noexcept;

    /// The file the proxy reads and writes.
    KsIOInterface& GetTarget() const { return *target_; }
    /// The proxy's own position in the target.
    std::uint64_t GetPosition() const { return position_; }
    /// Moves the proxy to `position` of its target, as a new proxy there would be.
    void SetPosition(std::uint64_t position) { position_ = position; }

private:
    /// Moves to `base` + `offset`; a result before the start of the file is refused.
    std::int64_t MoveTo(std::int64_t base, std::int64_t offset);

    KsIOInterface* target_;
    std::uint64_t position_;
};
