#pragma once
/// @file

#include <cstdint>
#include <memory>

#include "core/KsString.h"
#include "io/KsIOInterfaceWithLocking.h"

/// The unbuffered operating-system file: the open flags, opening rules and locks of KsIO,
/// but every read, write, seek and tell goes straight to the operating system. Nothing is
/// ever pending, so several objects or processes working on one file under locks always
/// see each other's completed writes. It is the file class with true 64-bit positions.
/// Close reports a failed close; the destructor cannot.
class KsIOUnbuffered : public KsIOInterfaceWithLocking {
public:
    KsIOUnbuffered() = default;
    /// Opens `name` with the open flags of KsIO; raises when it cannot.
    KsIOUnbuffered(const char* name, int flags);
    /// A second handle on the other object's file, at its position; reopened without
    /// IO_TRUNCATE and IO_CREATE, so a copy never empties or recreates the file.
    KsIOUnbuffered(const KsIOUnbuffered& other);
    /// Closes this file, then becomes a second handle as the copy constructor does.
    KsIOUnbuffered& operator=(const KsIOUnbuffered& other);
    ~KsIOUnbuffered() override;

    using KsIOInterface::GetFileName;
    std::int32_t Read(void* buffer, std::int32_t count, bool required) override;
    void Write(const void* buffer, std::int32_t count) override;
    std::unique_ptr<KsIOInterface> Clone() const override;
    std::unique_ptr<KsIOInterface> CreateNew(const char* name, int flags) const override;
    void Close() override;
    void Flush() override {}
    void Sync() override;
    const char* GetFileName() const override { return name_.GetCString(); }
    std::int32_t GetFileSize() const override;
    std::int64_t GetFileSize64() const override;
    bool IsEOF() const override;
    bool IsOpen() const override { return fd_ >= 0; }
    int GetFlags() const override { return flags_; }
    void Open(const char* name, int flags) override;
    std::int32_t ReadFrom(std::uint64_t offset, void* buffer, std::int32_t count,
                          bool required) override;
    std::int32_t Seek(std::int32_t offset, int origin) override;
    std::int64_t Seek64Absolute(std::int64_t offset) override;
    std::int64_t Seek64FromCurrent(std::int64_t offset) override;
    std::int64_t Seek64FromEnd(std::int64_t offset) override;
    /// The position; raises when it does not fit in 32 bits (Tell64 gives it whole).
    std::int32_t Tell() const override;
    std::int64_t Tell64() const override;
    void Truncate(std::int32_t count) override;
    void Truncate64() override;
    void Truncate64(std::int64_t count) override;
    void WriteTo(std::uint64_t offset, const void* buffer, std::int32_t count) override;
    std::unique_ptr<KsIOLock> CreateLock(int type, std::uint64_t offset,
                                         std::uint64_t length) override;

protected:
    /// What the destructor does: closes, ignoring a failure. A derived class whose
    /// system-call hooks must see the close runs it from its own destructor.
    void CloseForDestruction() noexcept;

private:
    void CopyFrom(const KsIOUnbuffered& other);
    /// Closes; returns the error of the operating system's close, 0 when none.
    int Abandon() noexcept;
    std::int64_t SeekFrom(std::int64_t offset, int whence, const char* function);
    /// Removes `count` bytes from the end (all of them for 0) and goes to the start; errors
    /// name `className`.
    void CutEnd(std::int64_t count, const char* className);
    std::int64_t CurrentPosition() const;

    int fd_ = -1;
    int flags_ = 0;
    KsString name_;
};
