#pragma once
/// @file

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "core/KsSortedVector.h"
#include "io/KsIOInterface.h"
#include "io/KsIOLock.h"

/// Byte-range locks for operating-system files. Each distinct (offset, length) range that
/// this object locks has one entry in a table sorted by offset, then length, with a count
/// of holds, so nested code may lock a range it already holds. Entries are made from the
/// base lock, a template that Open creates with CreateLock. A mutex serialises the lock
/// calls of one object; between processes the operating system's locks decide.
///
/// The operating system merges the locks of one open file: locking or unlocking a range
/// changes every lock of this object that overlaps it. Where ranges of this object overlap,
/// only the parts that must change are locked or released, so a release never drops bytes
/// that another held entry still covers and a shared lock never weakens an exclusive one.
class KsIOInterfaceWithLocking : public KsIOInterface {
public:
    ~KsIOInterfaceWithLocking() override;

    void Lock(int type, std::uint64_t offset, std::uint64_t length) override;
    bool TryLock(int type, std::uint64_t offset, std::uint64_t length) override;
    bool UnLock(int type, std::uint64_t offset, std::uint64_t length) override;
    /// A new lock on the open file; not held.
    virtual std::unique_ptr<KsIOLock> CreateLock(int type, std::uint64_t offset,
                                                 std::uint64_t length) = 0;

    /// The number of entries in the lock table.
    std::int32_t GetLockEntryCount() const;
    /// The hold count of the entry for the range, or -1 when there is none.
    std::int32_t GetLockCount(std::uint64_t offset, std::uint64_t length) const;

protected:
    KsIOInterfaceWithLocking() = default;
    /// @{
    /// A copy starts with no locks of its own.
    KsIOInterfaceWithLocking(const KsIOInterfaceWithLocking& other);
    KsIOInterfaceWithLocking& operator=(const KsIOInterfaceWithLocking& other);
    /// @}

    /// Makes the base lock of a newly opened file.
    void SetupBaseLock();
    /// Deletes the base lock and every entry, giving back what they hold.
    void ReleaseLocks() noexcept;

    /// The operating-system calls through which the file classes change a file: every
    /// write, truncation, sync and close goes through one of them. A test derives from a file
    /// class and overrides them to make the Nth call fail; they must not throw.
    ///
    /// Writes all `count` bytes at `offset`, or at the descriptor's position (moving it)
    /// when `offset` is negative, unless an error stops it; returns the bytes written and
    /// leaves the error in `errorNumber` (0 when none).
    virtual std::int64_t SystemWrite(int fd, const void* buffer, std::size_t count,
                                     std::int64_t offset, int& errorNumber);
    /// The same at `offset`, leaving the descriptor's position alone.
    virtual std::int64_t SystemWriteAt(int fd, const void* buffer, std::size_t count,
                                       std::int64_t offset, int& errorNumber);
    /// Sets the file's size: 0, or -1 with the reason in errno.
    virtual int SystemSetSize(int fd, std::int64_t size);
    /// Waits until the file's data is on the storage device: 0, or -1 with errno.
    virtual int SystemSync(int fd);
    /// Closes the descriptor, which is gone even when the call fails: 0, or -1 with errno.
    virtual int SystemClose(int fd);

private:
    struct RangeLess {
        bool operator()(const KsIOLock* a, const KsIOLock* b) const;
    };
    struct SameRange {
        bool operator()(const KsIOLock* a, const KsIOLock* b) const;
    };
    using LockTable = KsSortedVector<KsIOLock, RangeLess, SameRange>;

    /// How strongly the other held entries lock one part of a range.
    enum class Cover { kNone, kShared, kExclusive };
    struct Segment {
        std::uint64_t begin;
        std::uint64_t end;  // kEndOfAnyFile for an open end
        Cover cover;
    };

    /// Runs a lock operation under the guard; an error leaves with " (file name)" added.
    template <class Body>
    decltype(auto) RunLocked(const char* function, Body body);
    /// The entry for the range, made from the base lock when there is none.
    KsIOLock& FindOrAddEntry(int type, std::uint64_t offset, std::uint64_t length);
    /// Index of the entry for the range, or -1.
    std::int32_t FindEntry(int type, std::uint64_t offset, std::uint64_t length);
    /// The parts of `entry`'s range with what the other held entries hold there.
    std::vector<Segment> SegmentsOf(const KsIOLock& entry) const;
    /// Takes the first hold of `entry`; false when a try found the range taken.
    bool Acquire(KsIOLock& entry, bool wait);
    /// Gives back the last hold of `entry`.
    void Release(KsIOLock& entry);
    /// Puts parts of a range back to what the other entries hold there.
    void Restore(const std::vector<Segment>& segments);
    /// Restore while another error is on its way out: a failure here is dropped.
    void RestoreAfterError(const std::vector<Segment>& segments) noexcept;
    std::unique_ptr<KsIOLock> PartOf(int type, const Segment& segment);

    std::unique_ptr<KsIOLock> baseLock_;  // null while no file is open
    LockTable locks_;
    mutable std::mutex guard_;
};
