// Proxies: independent positions on one open file, their seeks and what they forward.

#include "io/KsIOProxy.h"

#include <gtest/gtest.h>

#include <string>

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

    std::string ReadAll(KsIOInterface& stream, std::int32_t count) {
        std::string bytes(static_cast<std::size_t>(count), '\0');
        bytes.resize(static_cast<std::size_t>(stream.Read(bytes.data(), count, false)));
        return bytes;
    }
};

TEST_F(KsIOProxyTest, ProxiesKeepTheirOwnPositions) {
    KsIOProxy first(file);
    KsIOProxy second(file);
    first.Write("0123456789", 10);
    EXPECT_EQ(first.Tell(), 10);
    EXPECT_EQ(second.Tell(), 0);
    EXPECT_EQ(file.Tell(), 0);  // positioned transfers leave the target's position alone
    EXPECT_EQ(ReadAll(second, 4), "0123");
    second.Write("ab", 2);
    EXPECT_EQ(second.Tell64(), 6);
    EXPECT_EQ(ReadAll(second, 10), "6789");  // a short read moves by what it read
    EXPECT_TRUE(second.IsEOF());
    second.Seek(-1, 2);
    EXPECT_FALSE(second.IsEOF());

    std::unique_ptr<KsIOInterface> clone = second.Clone();
    EXPECT_EQ(clone->Tell(), 9);
    clone->Seek(0, 0);
    EXPECT_EQ(second.Tell(), 9);
    first.Swap(second);
    EXPECT_EQ(first.Tell(), 9);
    EXPECT_EQ(second.Tell(), 10);
    EXPECT_EQ(kstest::ReadWholeFile(path), "0123ab6789");

    KsException error = CaughtError([&] {
        char buffer[4];
        first.Read(buffer, 4, true);
    });
    EXPECT_STREQ(error.GetCallpath(), "ReadFrom() of KsIOUnbuffered\r\nRead() of KsIOProxy");
    EXPECT_EQ(first.Tell(), 9);
}

TEST_F(KsIOProxyTest, SeeksCountFromTheStartThePositionOrTheTargetsEnd) {
    file.Write("0123456789", 10);
    KsIOProxy proxy(file);
    struct Case {
        std::int32_t offset;
        int origin;
        std::int64_t position;  // -1: refused
    } cases[] = {
        {7, 0, 7}, {2, 1, 9},   {-3, 1, 6},  {-4, 2, 6},   {5, 2, 15},
        {0, 0, 0}, {-1, 0, -1}, {-1, 1, -1}, {-11, 2, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.offset) + "/" + std::to_string(c.origin));
        std::int64_t before = proxy.Tell64();
        if (c.position < 0) {
            KsException error = CaughtError([&] { proxy.Seek(c.offset, c.origin); });
            EXPECT_STREQ(error.GetErrorMessage(), "Cannot seek prior to beginning of file");
            EXPECT_STREQ(error.GetClassName(), "KsIOProxy");
            EXPECT_STREQ(error.GetCallpath(), "Seek() of KsIOProxy");
            EXPECT_EQ(proxy.Tell64(), before);
        } else {
            EXPECT_EQ(proxy.Seek(c.offset, c.origin), c.position);
            EXPECT_EQ(proxy.Tell64(), c.position);
        }
    }
    EXPECT_EQ(MessageOf([&] { proxy.Seek(0, 5); }), "Unknown type of seek");
    EXPECT_EQ(proxy.Seek64Absolute(5000000000), 5000000000);
    EXPECT_EQ(proxy.Tell(), static_cast<std::int32_t>(5000000000 & 0xFFFFFFFF));
    EXPECT_EQ(proxy.Seek64FromCurrent(-4999999999), 1);
    EXPECT_EQ(proxy.Seek64FromEnd(-2), 8);
    EXPECT_EQ(MessageOf([&] { proxy.Seek64FromEnd(-11); }),
              "Cannot seek prior to beginning of file");
}

TEST_F(KsIOProxyTest, EverythingElseIsTheTargets) {
    {
        KsIOProxy proxy(file);
        proxy.Lock(LOCK_WRITE, 4, 8);
        EXPECT_EQ(file.GetLockCount(4, 8), 1);
        EXPECT_TRUE(proxy.TryLock(LOCK_WRITE, 4, 8));
        EXPECT_FALSE(proxy.UnLock(LOCK_WRITE, 4, 8));
        EXPECT_TRUE(proxy.UnLock(LOCK_WRITE, 4, 8));
        EXPECT_EQ(proxy.GetFlags(), file.GetFlags());
        EXPECT_STREQ(proxy.GetFileName(), path.c_str());
        proxy.WriteTo(3, "xyz", 3);
        EXPECT_EQ(proxy.GetFileSize64(), 6);
        EXPECT_EQ(proxy.Tell(), 0);
        proxy.Seek(2, 0);
        std::string other = dir.File("other.dat");
        kstest::WriteWholeFile(other, "other");
        proxy.Open(other.c_str(), IO_READ);
        EXPECT_EQ(proxy.Tell(), 0);
        EXPECT_STREQ(file.GetFileName(), other.c_str());
    }
    EXPECT_TRUE(file.IsOpen());  // a proxy never closes its target
    KsIOProxy proxy(file);
    proxy.Close();
    EXPECT_FALSE(file.IsOpen());
    KsException error = CaughtError([&] { proxy.Lock(LOCK_READ, 0, 0); });
    EXPECT_STREQ(error.GetErrorMessage(), "Base lock not setup ()");
    EXPECT_STREQ(error.GetCallpath(), "Lock() of KsIOInterfaceWithLocking\r\nLock() of KsIOProxy");
    error = CaughtError([&] { proxy.UnLock(LOCK_READ, 0, 0); });
    EXPECT_STREQ(error.GetCallpath(),
                 "UnLock() of KsIOInterfaceWithLocking\r\nUnlock() of KsIOProxy");
}

}  // namespace
