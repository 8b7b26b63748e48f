// Proxies: independent positions on one open file, their seeks, and what is the target's.

#include "io/KsIOProxy.h"

#include <gtest/gtest.h>

#include <tuple>

#include "io/KsIOUnbuffered.h"
#include "support/KsErrorCapture.h"
#include "support/TempDir.h"

namespace {

using kstest::CaughtError;

TEST(KsIOProxyTest, ProxiesKeepTheirOwnPositionsAndLeaveTheRestToTheTarget) {
    kstest::TempDir dir;
    std::string path = dir.File("target.dat");
    KsIOUnbuffered file{path.c_str(), IO_READ | IO_WRITE | IO_CREATE | IO_TRUNCATE};
    KsIOProxy first(file), second(file);
    first.Write("0123456789", 10);
    char bytes[10] = {};
    second.Read(bytes, 4, false);
    second.Write("ab", 2);
    EXPECT_EQ(second.Read(bytes + 4, 10, false), 4);  // a short read moves by what it read
    EXPECT_EQ(std::tuple(std::string(bytes, 8), first.Tell(), second.Tell(), file.Tell()),
              std::tuple("01236789", 10, 10, 0));
    EXPECT_EQ((std::tuple{second.IsEOF(), second.Seek(-1, 2), second.IsEOF()}),
              std::tuple(true, 9, false));
    std::unique_ptr<KsIOInterface> clone = second.Clone();
    clone->Seek(0, 0);
    first.Swap(second);
    EXPECT_EQ(std::tuple(first.Tell(), second.Tell(), clone->Tell()), std::tuple(9, 10, 0));
    EXPECT_STREQ(CaughtError([&] { first.Read(bytes, 4, true); }).GetCallpath(),
                 "ReadFrom() of KsIOUnbuffered\r\nRead() of KsIOProxy");
    const std::string prior = "Cannot seek prior to beginning of file|Seek() of KsIOProxy";
    // From 9 (a failed read moved nothing): 2 back, to 9, 3 back, 4 before the end, 5 after
    // it; then before the start from each origin, and an unknown origin.
    const int offsets[] = {-2, 9, -3, -4, 5, -1, -16, -11, 0},
              origins[] = {1, 0, 1, 2, 2, 0, 1, 2, 5};
    const std::string results[] = {
        "7", "9", "6", "6", "15", prior, prior, prior, "Unknown type of seek|Seek() of KsIOProxy"};
    for (int i = 0; i < 9; ++i) {
        auto [offset, origin, expected] = std::tuple(offsets[i], origins[i], results[i]);
        try {
            EXPECT_EQ(std::to_string(first.Seek(offset, origin)), expected);
        } catch (const KsException& caught) {
            EXPECT_EQ(caught.GetErrorMessage() + std::string("|") + caught.GetCallpath(), expected);
        }
    }
    EXPECT_EQ((std::tuple{first.Tell64(), first.Seek64Absolute(5000000000), first.Tell(),
                          first.Seek64FromCurrent(-4999999999), first.Seek64FromEnd(-2)}),
              std::tuple(15, 5000000000, static_cast<std::int32_t>(5000000000 & 0xFFFFFFFF), 1, 8));
    // Everything else is the target's: positioned transfers, sizes, locks, names, opening.
    first.WriteTo(8, "xyzw", 4);
    first.Truncate(3);  // 12 bytes less 3
    char two[4] = {};
    first.Lock(LOCK_WRITE, 4, 8);
    EXPECT_EQ((std::tuple{first.TryLock(LOCK_WRITE, 4, 8), file.GetLockCount(4, 8),
                          first.UnLock(LOCK_WRITE, 4, 8), first.UnLock(LOCK_WRITE, 4, 8),
                          file.GetLockCount(4, 8), first.ReadFrom(7, two, 4, false),
                          std::string(two), first.GetFileSize(), first.GetFileSize64(),
                          first.GetFlags(), std::string(first.GetFileName())}),
              std::tuple(true, 2, false, true, -1, 2, "7x", 9, 9, file.GetFlags(), path));
    std::string other = dir.File("other.dat");
    EXPECT_TRUE(first.CreateNew(other.c_str(), IO_WRITE | IO_CREATE)->IsOpen());
    first.Open(other.c_str(), IO_READ);
    EXPECT_EQ(std::tuple(first.Tell(), std::string(file.GetFileName())), std::tuple(0, other));
    { KsIOProxy(file).Seek(1, 0); }
    EXPECT_TRUE(first.IsOpen());  // a proxy never closes its target
    first.Close();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(std::string(CaughtError([&] { first.UnLock(LOCK_READ, 0, 0); }).GetCallpath()),
              "UnLock() of KsIOInterfaceWithLocking\r\nUnlock() of KsIOProxy");
}

}  // namespace
