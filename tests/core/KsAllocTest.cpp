#include "KsAlloc.h"

#include <gtest/gtest.h>

#include <memory>
#include <new>

#include "KsException.h"

namespace {

TEST(KsAllocTest, BlocksStartWithNul) {
    std::unique_ptr<char[]> zero(KsAlloc(0));
    EXPECT_NE(zero.get(), nullptr);
    std::unique_ptr<char[]> block(KsAlloc(10));
    EXPECT_EQ(block[0], '\0');
    EXPECT_TRUE(KsAllocReserveHeld());
}

TEST(KsAllocTest, NegativeSizeReleasesReserveAndThrows) {
    delete[] KsAlloc(1);
    ASSERT_TRUE(KsAllocReserveHeld());
    try {
        KsAlloc(-1);
        FAIL();
    } catch (const std::bad_alloc& e) {
        const auto* ks = dynamic_cast<const KsException*>(&e);
        ASSERT_NE(ks, nullptr);
        EXPECT_STREQ(ks->GetErrorMessage(),
                     "Bad memory allocation request - tried to allocate -1 bytes.");
        EXPECT_STREQ(ks->GetClassName(), "");
    }
    EXPECT_FALSE(KsAllocReserveHeld());
    delete[] KsAlloc(1);
    EXPECT_TRUE(KsAllocReserveHeld());
}

TEST(KsAllocTest, ExhaustionReportsOutOfMemory) {
    delete[] KsAlloc(1);
    try {
        KsAlloc(std::int64_t{1} << 50);
        FAIL();
    } catch (const KsMemoryException& e) {
        EXPECT_STREQ(e.GetErrorMessage(),
                     "Out of memory - tried to allocate 1125899906842624 bytes.");
        EXPECT_STREQ(e.what(), e.GetErrorMessage());
    }
    EXPECT_FALSE(KsAllocReserveHeld());
}

}  // namespace
