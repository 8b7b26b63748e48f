#pragma once
/// @file

#include <cstdint>
#include <memory>

#include "core/KsArrayPointerObject.h"

/// One locked byte range of a file with a count of how often its owner holds it. The first
/// hold takes the operating-system lock and the last release gives it back; holds in
/// between only count. KsOSLock is the lock on an operating-system file.
class KsIOLock : public KsArrayPointerObject {
public:
    /// A lock of `type` (LOCK_READ or LOCK_WRITE) on `length` bytes from `offset` (0: to the
    /// end of any file), not held.
    KsIOLock(int type, std::uint64_t offset, std::uint64_t length)
        : offset_(offset), length_(length), type_(type) {}
    ~KsIOLock() override = default;

    /// Takes the operating-system lock, waiting until it is free.
    virtual void DoLock() = 0;
    /// Takes the operating-system lock if it is free; false when someone else holds it.
    virtual bool DoTryLock() = 0;
    /// Gives the operating-system lock back.
    virtual void DoUnlock() = 0;
    /// A new lock on the same range with the same type, not held.
    KsIOLock* Clone() const override = 0;

    /// Holds the range once more, locking it on the first hold.
    void Lock();
    /// As Lock, but without waiting; false when the range could not be taken.
    bool TryLock();
    /// Gives one hold back, unlocking on the last; true when the range is no longer held.
    bool Unlock();
    /// Releases the range if held and makes this a lock on another range, not held.
    void Reset(int type, std::uint64_t offset, std::uint64_t length);

    /// The first byte of the range.
    std::uint64_t GetOffset() const { return offset_; }
    /// 0 means from the offset to the end of any file.
    std::uint64_t GetLength() const { return length_; }
    /// The lock type given at construction.
    int GetType() const { return type_; }
    /// How many holds are outstanding; 0 when the range is not locked.
    std::int32_t GetCount() const { return count_; }
    /// Whether the operating-system lock is exclusive.
    bool IsExclusive() const { return (type_ & 0x200) != 0; }

protected:
    /// @{
    /// Copies range, type and hold count, for Clone.
    KsIOLock(const KsIOLock& other) = default;
    KsIOLock& operator=(const KsIOLock&) = default;
    /// @}

private:
    friend class KsIOInterfaceWithLocking;  // takes and gives holds over overlapping ranges

    std::uint64_t offset_;
    std::uint64_t length_;
    int type_;
    std::int32_t count_ = 0;
};

/// A lock on a byte range of an operating-system file, shared or exclusive by its type.
/// Errors read "Could not lock file -- " or "Could not unlock file -- " with the system's text.
class KsOSLock : public KsIOLock {
public:
    /// `fd` is the descriptor of the open file (not owned).
    KsOSLock(int fd, int type, std::uint64_t offset, std::uint64_t length)
        : KsIOLock(type, offset, length), fd_(fd) {}
    /// Releases the operating-system lock when it is still held.
    ~KsOSLock() override;

    void DoLock() override { TrueLock(); }
    bool DoTryLock() override { return TrueTryLock(); }
    void DoUnlock() override { TrueUnlock(); }
    KsOSLock* Clone() const override;

    /// The descriptor the lock is taken on.
    int GetDescriptor() const { return fd_; }

private:
    void TrueLock();
    bool TrueTryLock();
    void TrueUnlock();

    int fd_;
};
