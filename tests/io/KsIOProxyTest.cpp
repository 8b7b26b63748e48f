// Proxies: independent positions on one open file, their seeks, and what is the target's.

#include "io/KsIOProxy.h"

#include <gtest/gtest.h>

#include <tuple>

#include "io/KsIOUnbuffered.h"
#include "support/KsErrorCapture.h"
#include "support/TempDir.h"

namespace {

using kstest::CaughtError;

class KsIOProxyTest : public ::testing::Test {
protected:
    kstest::TempDir dir;
    std::string path = dir.File("target.dat");
    KsIOUnbuffered file{path.c_str(), IO_READ | IO_WRITE | IO_CREATE | IO_TRUNCATE};
};

TEST_F(KsIOProxyTest, ProxiesKeepTheirOwnPositions) {
    KsIOProxy first(file), second(file);
    first.Write("0123456789", 10);
    char bytes[10] = {};
    EXPECT_EQ(second.Read(bytes, 4, false), 4);
    second.Write("ab", 2);
    EXPECT_EQ(second.Read(bytes + 4, 10, false), 4);  // a short read moves by what it read
    EXPECT_EQ(std::string(bytes, 8), "01236789");
    EXPECT_EQ(std::tuple(first.Tell(), second.Tell(), file.Tell()), std::tuple(10, 10, 0));
    EXPECT_TRUE(second.IsEOF());
    second.Seek(-1, 2);
    EXPECT_FALSE(second.IsEOF());
    std::unique_ptr<KsIOInterface> clone = second.Clone();
    clone->Seek(0, 0);
    first.Swap(second);
    EXPECT_EQ(std::tuple(first.Tell(), second.Tell(), clone->Tell()), std::tuple(9, 10, 0));
    EXPECT_EQ(kstest::ReadWholeFile(path), "0123ab6789");
    KsException error = CaughtError([&] { first.Read(bytes, 4, true); });
    EXPECT_STREQ(error.GetCallpath(), "ReadFrom() of KsIOUnbuffered\r\nRead() of KsIOProxy");
    EXPECT_EQ(first.Tell(), 9);
    // From 9: to 7, 9, 6, 6, 15; then before the start from each origin.
    for (auto [offset, origin, position] : {std::tuple{7, 0, 7},
                                            {2, 1, 9},
                                            {-3, 1, 6},
                                            {-4, 2, 6},
                                            {5, 2, 15},
                                            {-1, 0, -1},
                                            {-16, 1, -1},
                                            {-11, 2, -1},
                                            {0, 5, -2}}) {
        if (position >= 0) {
            EXPECT_EQ(first.Seek(offset, origin), position);
            continue;
        }
        error = CaughtError([&] { first.Seek(offset, origin); });
        EXPECT_EQ(error.GetErrorMessage() + std::string("|") + error.GetCallpath(),
                  std::string(position == -1 ? "Cannot seek prior to beginning of file"
                                             : "Unknown type of seek") +
                      "|Seek() of KsIOProxy");
    }
    EXPECT_EQ(first.Tell64(), 15);
    EXPECT_EQ(first.Seek64Absolute(5000000000), 5000000000);
    EXPECT_EQ(first.Tell(), static_cast<std::int32_t>(5000000000 & 0xFFFFFFFF));
    EXPECT_EQ(first.Seek64FromCurrent(-4999999999), 1);
    EXPECT_EQ(first.Seek64FromEnd(-2), 8);
}

TEST_F(KsIOProxyTest, EverythingElseIsTheTargets) {
    KsIOProxy proxy(file);
    proxy.WriteTo(3, "xyzw", 4);
    proxy.Truncate(1);
    char byte = 0;
    proxy.Lock(LOCK_WRITE, 4, 8);
    EXPECT_TRUE(proxy.TryLock(LOCK_WRITE, 4, 8));
    EXPECT_EQ((std::tuple{file.GetLockCount(4, 8), proxy.UnLock(LOCK_WRITE, 4, 8),
                          proxy.UnLock(LOCK_WRITE, 4, 8), file.GetLockCount(4, 8)}),
              std::tuple(2, false, true, -1));
    EXPECT_EQ(
        (std::tuple{proxy.ReadFrom(5, &byte, 4, false), byte, proxy.GetFileSize(),
                    proxy.GetFileSize64(), proxy.GetFlags(), std::string(proxy.GetFileName())}),
        std::tuple(1, 'z', 6, 6, file.GetFlags(), path));
    std::string other = dir.File("other.dat");
    EXPECT_TRUE(proxy.CreateNew(other.c_str(), IO_WRITE | IO_CREATE)->IsOpen());
    proxy.Seek(2, 0);
    proxy.Open(other.c_str(), IO_READ);
    EXPECT_EQ(proxy.Tell(), 0);
    EXPECT_STREQ(file.GetFileName(), other.c_str());
    { KsIOProxy(file).Seek(1, 0); }
    EXPECT_TRUE(proxy.IsOpen());  // a proxy never closes its target
    proxy.Close();
    EXPECT_FALSE(file.IsOpen());
    const std::string of = "() of KsIOInterfaceWithLocking\r\n";
    EXPECT_EQ(CaughtError([&] { proxy.Lock(LOCK_READ, 0, 0); }).GetCallpath(),
              "Lock" + of + "Lock() of KsIOProxy");
    EXPECT_EQ(CaughtError([&] { proxy.TryLock(LOCK_READ, 0, 0); }).GetCallpath(),
              "TryLock" + of + "TryLock() of KsIOProxy");
    EXPECT_EQ(CaughtError([&] { proxy.UnLock(LOCK_READ, 0, 0); }).GetCallpath(),
              "UnLock" + of + "Unlock() of KsIOProxy");
}

}  // namespace
