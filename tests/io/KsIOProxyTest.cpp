// Proxies: independent positions on one open file, their seeks and what they forward.

#include "io/KsIOProxy.h"

#include <gtest/gtest.h>

#include <tuple>

#include "io/KsIOUnbuffered.h"
#include "support/KsErrorCapture.h"
#include "support/TempDir.h"

namespace {

using kstest::CaughtError;
using kstest::MessageOf;

class KsIOProxyTest : public ::testing::Test {
protected:
    kstest::TempDir dir;
    std::string path = dir.File("target.dat");
    KsIOUnbuffered file{path.c_str(), IO_READ | IO_WRITE | IO_CREATE | IO_TRUNCATE};

    std::string Read(KsIOInterface& stream, std::int32_t count) {
        std::string bytes(static_cast<std::size_t>(count), '\0');
        bytes.resize(static_cast<std::size_t>(stream.Read(bytes.data(), count, false)));
        return bytes;
    }
};

TEST_F(KsIOProxyTest, ProxiesKeepTheirOwnPositions) {
    KsIOProxy first(file), second(file);
    first.Write("0123456789", 10);
    EXPECT_EQ(Read(second, 4), "0123");
    second.Write("ab", 2);
    EXPECT_EQ(Read(second, 10), "6789");  // a short read moves by what it read
    EXPECT_EQ(second.Tell(), 10);
    EXPECT_EQ(first.Tell(), 10);
    EXPECT_EQ(file.Tell(), 0);
    EXPECT_TRUE(second.IsEOF());
    second.Seek(-1, 2);
    EXPECT_FALSE(second.IsEOF());
    std::unique_ptr<KsIOInterface> clone = second.Clone();
    clone->Seek(0, 0);
    first.Swap(second);
    EXPECT_EQ(std::tuple(first.Tell(), second.Tell(), clone->Tell()), std::tuple(9, 10, 0));
    EXPECT_EQ(kstest::ReadWholeFile(path), "0123ab6789");
    char buffer[4];
    KsException error = CaughtError([&] { first.Read(buffer, 4, true); });
    EXPECT_STREQ(error.GetCallpath(), "ReadFrom() of KsIOUnbuffered\r\nRead() of KsIOProxy");
    EXPECT_EQ(first.Tell(), 9);

    for (auto [offset, origin, position] : {std::tuple{7, 0, 7},
                                            {2, 1, 9},
                                            {-3, 1, 6},
                                            {-4, 2, 6},
                                            {5, 2, 15},
                                            {-1, 0, -1},
                                            {-16, 1, -1},
                                            {-11, 2, -1}}) {
        if (position < 0) {
            error = CaughtError([&] { first.Seek(offset, origin); });
            EXPECT_STREQ(error.GetErrorMessage(), "Cannot seek prior to beginning of file");
            EXPECT_STREQ(error.GetCallpath(), "Seek() of KsIOProxy");
        } else {
            EXPECT_EQ(first.Seek(offset, origin), position);
        }
    }
    EXPECT_EQ(first.Tell(), 15);
    EXPECT_EQ(MessageOf([&] { first.Seek(0, 5); }), "Unknown type of seek");
    EXPECT_EQ(first.Seek64Absolute(5000000000), 5000000000);
    EXPECT_EQ(first.Tell(), static_cast<std::int32_t>(5000000000 & 0xFFFFFFFF));
    EXPECT_EQ(first.Seek64FromCurrent(-4999999999), 1);
    EXPECT_EQ(first.Seek64FromEnd(-2), 8);
}

TEST_F(KsIOProxyTest, EverythingElseIsTheTargets) {
    {
        KsIOProxy proxy(file);
        proxy.Lock(LOCK_WRITE, 4, 8);
        EXPECT_TRUE(proxy.TryLock(LOCK_WRITE, 4, 8));
        EXPECT_EQ(file.GetLockCount(4, 8), 2);
        EXPECT_FALSE(proxy.UnLock(LOCK_WRITE, 4, 8));
        EXPECT_TRUE(proxy.UnLock(LOCK_WRITE, 4, 8));
        proxy.WriteTo(3, "xyz", 3);
        EXPECT_EQ(std::tuple(proxy.GetFileSize64(), proxy.Tell()), std::tuple(6, 0));
        std::string other = dir.File("other.dat");
        kstest::WriteWholeFile(other, "other");
        proxy.Seek(2, 0);
        proxy.Open(other.c_str(), IO_READ);
        EXPECT_EQ(proxy.Tell(), 0);
        EXPECT_STREQ(file.GetFileName(), other.c_str());
    }
    EXPECT_TRUE(file.IsOpen());  // a proxy never closes its target
    KsIOProxy proxy(file);
    proxy.Close();
    EXPECT_FALSE(file.IsOpen());
    KsException error = CaughtError([&] { proxy.Lock(LOCK_READ, 0, 0); });
    EXPECT_STREQ(error.GetCallpath(), "Lock() of KsIOInterfaceWithLocking\r\nLock() of KsIOProxy");
    error = CaughtError([&] { proxy.UnLock(LOCK_READ, 0, 0); });
    EXPECT_STREQ(error.GetCallpath(),
                 "UnLock() of KsIOInterfaceWithLocking\r\nUnlock() of KsIOProxy");
}

}  // namespace
