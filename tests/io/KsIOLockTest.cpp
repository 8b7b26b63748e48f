// Byte-range locks: hold counts of one range, the lock table of a file object, and what
// other processes (forked children) can lock meanwhile.

#include "KsIOLock.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ChildProcess.h"
#include "KsErrorCapture.h"
#include "KsIO.h"
#include "KsIOUnbuffered.h"
#include "TempDir.h"

namespace {

using kstest::CaughtError;
using kstest::HoldingChild;
using kstest::RunInChild;

// A lock that only records what it was asked to do.
class CountingLock : public KsIOLock {
public:
    CountingLock(std::vector<std::string>& log, bool free)
        : KsIOLock(LOCK_READ, 0, 0), log_(log), free_(free) {}
    void DoLock() override { log_.push_back("lock"); }
    bool DoTryLock() override {
        log_.push_back("try");
        return free_;
    }
    void DoUnlock() override { log_.push_back("unlock"); }
    CountingLock* Clone() const override { return new CountingLock(log_, free_); }

private:
    std::vector<std::string>& log_;
    bool free_;
};

TEST(KsIOLockCountTest, OnlyTheFirstHoldLocksAndOnlyTheLastReleaseUnlocks) {
    std::vector<std::string> log;
    CountingLock lock(log, true);
    lock.Lock();
    lock.Lock();
    EXPECT_TRUE(lock.TryLock());  // held already: only counts
    EXPECT_EQ(lock.GetCount(), 3);
    EXPECT_FALSE(lock.Unlock());
    EXPECT_FALSE(lock.Unlock());
    EXPECT_TRUE(lock.Unlock());
    EXPECT_TRUE(lock.Unlock());  // not held: nothing happens
    EXPECT_EQ(log, (std::vector<std::string>{"lock", "unlock"}));

    lock.Lock();
    lock.Reset(LOCK_WRITE, 10, 5);  // a held lock is released first
    EXPECT_EQ(lock.GetCount(), 0);
    EXPECT_EQ(lock.GetOffset(), 10u);
    EXPECT_EQ(lock.GetLength(), 5u);
    EXPECT_TRUE(lock.IsExclusive());
    EXPECT_EQ(log, (std::vector<std::string>{"lock", "unlock", "lock", "unlock"}));

    std::vector<std::string> busyLog;
    CountingLock busy(busyLog, false);
    EXPECT_FALSE(busy.TryLock());
    EXPECT_EQ(busy.GetCount(), 0);
    std::unique_ptr<KsIOLock> clone(lock.Clone());
    EXPECT_EQ(clone->GetCount(), 0);
}

class KsIOLockTest : public ::testing::Test {
protected:
    kstest::TempDir dir;
    std::string path = dir.File("shared.dat");

    void SetUp() override { kstest::WriteWholeFile(path, std::string(1000, 'x')); }

    // Whether a new open of the file, in another process, could take the lock now.
    bool OtherProcessCanLock(int type, std::uint64_t offset, std::uint64_t length) {
        int result = RunInChild([&] {
            KsIO other(path.c_str(), 3);
            return other.TryLock(type, offset, length) ? 0 : 1;
        });
        EXPECT_GE(result, 0);
        return result == 0;
    }
};

TEST_F(KsIOLockTest, RepeatedLocksCountAndReleaseOnTheLastUnlock) {
    KsIO file(path.c_str(), 3);
    file.Lock(LOCK_READ, 0, 0);
    file.Lock(LOCK_READ, 0, 0);
    EXPECT_EQ(file.GetLockCount(0, 0), 2);
    EXPECT_FALSE(file.UnLock(LOCK_READ, 0, 0));
    EXPECT_EQ(file.GetLockCount(0, 0), 1);
    EXPECT_FALSE(OtherProcessCanLock(LOCK_WRITE, 500, 1));
    EXPECT_TRUE(OtherProcessCanLock(LOCK_READ, 500, 1));  // shared
    EXPECT_TRUE(file.UnLock(LOCK_READ, 0, 0));
    EXPECT_EQ(file.GetLockCount(0, 0), -1);
    EXPECT_EQ(file.GetLockEntryCount(), 0);
    EXPECT_TRUE(OtherProcessCanLock(LOCK_WRITE, 0, 0));
    // A range that was never locked: nothing happens.
    EXPECT_TRUE(file.UnLock(LOCK_WRITE, 40, 2));
}

TEST_F(KsIOLockTest, TheOtherTypeOnAHeldRangeIsRefusedWithTheFileName) {
    KsIO file(path.c_str(), 3);
    file.Lock(LOCK_READ, 10, 5);
    KsException error = CaughtError([&] { file.Lock(LOCK_WRITE, 10, 5); });
    EXPECT_EQ(
        std::string(error.GetErrorMessage()),
        "Could not establish a WRITE lock of length 5 at offset 10; READ lock already held! (" +
            path + ")");
    EXPECT_STREQ(error.GetClassName(), "KsIOInterfaceWithLocking");
    EXPECT_STREQ(error.GetCallpath(), "Lock() of KsIOInterfaceWithLocking");
    EXPECT_STREQ(
        CaughtError([&] { file.TryLock(0x300, 10, 5); }).GetErrorMessage(),
        ("Could not establish a READ lock of length 5 at offset 10; READ lock already held! (" +
         path + ")")
            .c_str());
    // A range of another length is another entry.
    file.Lock(LOCK_WRITE, 10, 6);
    EXPECT_EQ(file.GetLockEntryCount(), 2);
    EXPECT_EQ(file.GetLockCount(10, 5), 1);
    EXPECT_EQ(file.GetLockCount(10, 6), 1);
}

TEST_F(KsIOLockTest, ClosedFilesHaveNoBaseLock) {
    KsIO file;
    KsException error = CaughtError([&] { file.Lock(LOCK_READ, 0, 0); });
    EXPECT_STREQ(error.GetErrorMessage(), "Base lock not setup ()");
    EXPECT_STREQ(error.GetClassName(), "KsIOInterfaceWithLocking");
    EXPECT_STREQ(CaughtError([&] { file.TryLock(LOCK_READ, 0, 0); }).GetCallpath(),
                 "TryLock() of KsIOInterfaceWithLocking");
    EXPECT_STREQ(CaughtError([&] { file.UnLock(LOCK_READ, 0, 0); }).GetCallpath(),
                 "UnLock() of KsIOInterfaceWithLocking");
    file.Open(path.c_str(), 3);
    file.Lock(LOCK_WRITE, 0, 0);
    file.Close();  // gives the locks back
    EXPECT_EQ(file.GetLockEntryCount(), 0);
    EXPECT_TRUE(OtherProcessCanLock(LOCK_WRITE, 0, 0));
}

TEST_F(KsIOLockTest, TryLockFailsAtOnceWhileAnotherProcessHoldsPartOfTheFile) {
    HoldingChild child([&] {
        static KsIO holder(path.c_str(), 3);  // lives until the child ends
        holder.Lock(LOCK_READ, 100, 10);
    });
    ASSERT_TRUE(child.Ready());
    KsIO file(path.c_str(), 3);
    EXPECT_FALSE(file.TryLock(LOCK_WRITE, 0, 0));
    // The failed try leaves its entry, not held.
    EXPECT_EQ(file.GetLockCount(0, 0), 0);
    EXPECT_EQ(file.GetLockEntryCount(), 1);
    // A read lock on the same bytes is shared with the other process.
    EXPECT_TRUE(file.TryLock(LOCK_READ, 100, 10));
    // The entry left by the failed try holds nothing, so it may take the other type.
    EXPECT_TRUE(file.TryLock(LOCK_READ, 0, 0));
    EXPECT_EQ(file.GetLockCount(0, 0), 1);
    child.Finish();
    EXPECT_TRUE(file.UnLock(LOCK_READ, 0, 0));
    EXPECT_TRUE(file.UnLock(LOCK_READ, 100, 10));
    EXPECT_TRUE(file.TryLock(LOCK_WRITE, 0, 0));
}

TEST_F(KsIOLockTest, ClosingAnotherObjectOnTheSameFileKeepsTheLocks) {
    KsIO first(path.c_str(), 3);
    first.Lock(LOCK_WRITE, 0, 10);
    {
        KsIO second(path.c_str(), IO_READ);
        // Locks belong to the open file, not to the process: the second object is refused.
        EXPECT_FALSE(second.TryLock(LOCK_READ, 5, 1));
        second.Close();
    }
    KsIOUnbuffered third(path.c_str(), IO_READ);
    third.Close();
    EXPECT_FALSE(OtherProcessCanLock(LOCK_READ, 0, 10));
    EXPECT_TRUE(OtherProcessCanLock(LOCK_WRITE, 10, 10));
}

TEST_F(KsIOLockTest, OverlappingRangesOfOneObjectStayLockedUntilTheirOwnRelease) {
    KsIO file(path.c_str(), 3);
    file.Lock(LOCK_READ, 0, 0);
    file.Lock(LOCK_READ, 10, 5);
    EXPECT_TRUE(file.UnLock(LOCK_READ, 10, 5));
    EXPECT_FALSE(OtherProcessCanLock(LOCK_WRITE, 10, 5));  // the whole-file lock still covers it

    // A shared range inside an exclusive one does not weaken it.
    KsIO writer(dir.File("other.dat").c_str(), 27);
    writer.Lock(LOCK_WRITE, 0, 100);
    writer.Lock(LOCK_READ, 10, 5);
    path = dir.File("other.dat");
    EXPECT_FALSE(OtherProcessCanLock(LOCK_READ, 10, 5));
    writer.UnLock(LOCK_READ, 10, 5);
    EXPECT_FALSE(OtherProcessCanLock(LOCK_READ, 12, 1));
    // An exclusive range over a shared one: its release leaves the shared lock.
    writer.UnLock(LOCK_WRITE, 0, 100);
    writer.Lock(LOCK_READ, 0, 50);
    writer.Lock(LOCK_WRITE, 20, 60);
    EXPECT_FALSE(OtherProcessCanLock(LOCK_READ, 60, 5));
    writer.UnLock(LOCK_WRITE, 20, 60);
    EXPECT_TRUE(OtherProcessCanLock(LOCK_READ, 20, 30));
    EXPECT_FALSE(OtherProcessCanLock(LOCK_WRITE, 49, 1));
    EXPECT_TRUE(OtherProcessCanLock(LOCK_WRITE, 50, 30));
    writer.UnLock(LOCK_READ, 0, 50);
    EXPECT_TRUE(OtherProcessCanLock(LOCK_WRITE, 0, 0));
}

TEST_F(KsIOLockTest, AFailedTryOverOwnedRangesGivesBackWhatItTook) {
    KsIO file(path.c_str(), 3);
    file.Lock(LOCK_READ, 0, 20);
    HoldingChild child([&] {
        static KsIO holder(path.c_str(), 3);
        holder.Lock(LOCK_READ, 30, 5);
    });
    ASSERT_TRUE(child.Ready());
    // [20, 30) could be taken, [30, 35) not: the try fails and [20, 30) is free again.
    EXPECT_FALSE(file.TryLock(LOCK_WRITE, 0, 40));
    child.Finish();
    EXPECT_TRUE(OtherProcessCanLock(LOCK_WRITE, 20, 10));
    EXPECT_FALSE(OtherProcessCanLock(LOCK_WRITE, 0, 20));  // still shared by the first lock
    EXPECT_TRUE(OtherProcessCanLock(LOCK_READ, 0, 20));
}

TEST_F(KsIOLockTest, WaitingLockGetsTheRangeWhenTheOtherProcessLetsGo) {
    KsIO file(path.c_str(), 3);
    file.Lock(LOCK_WRITE, 0, 0);
    int result = RunInChild([&] {
        KsIO other(path.c_str(), 3);
        if (other.TryLock(LOCK_WRITE, 0, 0)) {
            return 2;
        }
        return 0;
    });
    EXPECT_EQ(result, 0);
    file.UnLock(LOCK_WRITE, 0, 0);
    result = RunInChild([&] {
        KsIOUnbuffered other(path.c_str(), 3);
        other.Lock(LOCK_WRITE, 0, 0);
        return other.GetLockCount(0, 0) == 1 ? 0 : 3;
    });
    EXPECT_EQ(result, 0);
}

}  // namespace
