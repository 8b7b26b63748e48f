// Byte-range locks: hold counts and the lock table of a file object, and what other
// processes (forked children) can lock meanwhile.

#include "io/KsIOLock.h"

#include <gtest/gtest.h>

#include <string>

#include "io/KsIO.h"
#include "io/KsIOUnbuffered.h"
#include "support/ChildProcess.h"
#include "support/KsErrorCapture.h"
#include "support/TempDir.h"

namespace {

using kstest::HoldingChild;

class KsIOLockTest : public ::testing::Test {
protected:
    kstest::TempDir dir;
    std::string path = Filled(dir.File("shared.dat"));
    KsIO file{path.c_str(), 3};

    static std::string Filled(const std::string& path) {
        kstest::WriteWholeFile(path, std::string(1000, 'x'));
        return path;
    }

    // Whether a new open of the file, in another process, could take the lock now.
    bool OtherProcessCanLock(int type, std::uint64_t offset, std::uint64_t length) {
        int result = kstest::RunInChild(
            [&] { return KsIO(path.c_str(), 3).TryLock(type, offset, length) ? 0 : 1; });
        EXPECT_GE(result, 0);
        return result == 0;
    }
    // A child that holds a read lock on [offset, offset + length) until it is finished.
    HoldingChild ReadLockedByChild(std::uint64_t offset, std::uint64_t length) {
        return HoldingChild([&] {
            static KsIO holder(path.c_str(), 3);  // lives until the child ends
            holder.Lock(LOCK_READ, offset, length);
        });
    }
};

TEST_F(KsIOLockTest, RepeatedLocksCountAndReleaseOnTheLastUnlock) {
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
    EXPECT_TRUE(file.UnLock(LOCK_WRITE, 40, 2));  // never locked: nothing happens

    file.Lock(LOCK_WRITE, 0, 0);
    file.Close();  // gives the locks back
    EXPECT_EQ(file.GetLockEntryCount(), 0);
    EXPECT_TRUE(OtherProcessCanLock(LOCK_WRITE, 0, 0));
    EXPECT_EQ(
        kstest::ErrorOf([] { KsIO().Lock(LOCK_READ, 0, 0); }),
        "Base lock not setup () / KsIOInterfaceWithLocking / Lock() of KsIOInterfaceWithLocking");
}

TEST_F(KsIOLockTest, TheOtherTypeOnAHeldRangeIsRefusedWithTheFileName) {
    file.Lock(LOCK_READ, 10, 5);
    EXPECT_EQ(
        kstest::ErrorOf([&] { file.Lock(LOCK_WRITE, 10, 5); }),
        "Could not establish a WRITE lock of length 5 at offset 10; READ lock already held! (" +
            path + ") / KsIOInterfaceWithLocking / Lock() of KsIOInterfaceWithLocking");
    EXPECT_EQ(
        kstest::MessageOf([&] { file.TryLock(0x300, 10, 5); }),
        "Could not establish a READ lock of length 5 at offset 10; READ lock already held! (" +
            path + ")");
    // A range of another length is another entry.
    file.Lock(LOCK_WRITE, 10, 6);
    EXPECT_EQ(file.GetLockEntryCount(), 2);
    EXPECT_EQ(file.GetLockCount(10, 5), 1);
}

TEST_F(KsIOLockTest, TryLockFailsAtOnceWhileAnotherProcessHoldsPartOfTheFile) {
    HoldingChild child = ReadLockedByChild(100, 10);
    ASSERT_TRUE(child.Ready());
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
    file.Lock(LOCK_WRITE, 0, 10);
    KsIO second(path.c_str(), IO_READ);
    // Locks belong to the open file, not to the process: the second object is refused.
    EXPECT_FALSE(second.TryLock(LOCK_READ, 5, 1));
    second.Close();
    KsIOUnbuffered(path.c_str(), IO_READ).Close();
    EXPECT_FALSE(OtherProcessCanLock(LOCK_READ, 0, 10));
    EXPECT_TRUE(OtherProcessCanLock(LOCK_WRITE, 10, 10));
}

TEST_F(KsIOLockTest, OverlappingRangesOfOneObjectStayLockedUntilTheirOwnRelease) {
    file.Lock(LOCK_READ, 0, 0);
    file.Lock(LOCK_READ, 10, 5);
    EXPECT_TRUE(file.UnLock(LOCK_READ, 10, 5));
    EXPECT_FALSE(OtherProcessCanLock(LOCK_WRITE, 10, 5));  // the whole-file lock still covers it
    file.UnLock(LOCK_READ, 0, 0);

    // A shared range inside an exclusive one does not weaken it.
    file.Lock(LOCK_WRITE, 0, 100);
    file.Lock(LOCK_READ, 10, 5);
    EXPECT_FALSE(OtherProcessCanLock(LOCK_READ, 10, 5));
    file.UnLock(LOCK_READ, 10, 5);
    EXPECT_FALSE(OtherProcessCanLock(LOCK_READ, 12, 1));
    // An exclusive range over a shared one: its release leaves the shared lock.
    file.UnLock(LOCK_WRITE, 0, 100);
    file.Lock(LOCK_READ, 0, 50);
    file.Lock(LOCK_WRITE, 20, 60);
    EXPECT_FALSE(OtherProcessCanLock(LOCK_READ, 60, 5));
    file.UnLock(LOCK_WRITE, 20, 60);
    EXPECT_TRUE(OtherProcessCanLock(LOCK_READ, 20, 30));
    EXPECT_FALSE(OtherProcessCanLock(LOCK_WRITE, 49, 1));
    EXPECT_TRUE(OtherProcessCanLock(LOCK_WRITE, 50, 30));
}

TEST_F(KsIOLockTest, AFailedTryOverOwnedRangesGivesBackWhatItTook) {
    file.Lock(LOCK_READ, 0, 20);
    HoldingChild child = ReadLockedByChild(30, 5);
    ASSERT_TRUE(child.Ready());
    // [20, 30) could be taken, [30, 35) not: the try fails and [20, 30) is free again.
    EXPECT_FALSE(file.TryLock(LOCK_WRITE, 0, 40));
    child.Finish();
    EXPECT_TRUE(OtherProcessCanLock(LOCK_WRITE, 20, 10));
    EXPECT_FALSE(OtherProcessCanLock(LOCK_WRITE, 0, 20));  // still shared by the first lock
    EXPECT_TRUE(OtherProcessCanLock(LOCK_READ, 0, 20));
}

}  // namespace
