#include "core/KsAlloc.h"

#include <gtest/gtest.h>

#include <memory>
#include <new>

#include "core/KsException.h"

namespace {

TEST(KsAllocTest, BlocksStartWithNulAndFailuresGiveTheReserveBack) {
    std::unique_ptr<char[]> zero(KsAlloc(0));
    EXPECT_NE(zero.get(), nullptr);
    std::unique_ptr<char[]> block(KsAlloc(10));
    EXPECT_EQ(block[0], '\0');
    struct Case {
        std::int64_t size;
        const char* message;
    };
    for (const Case& c : {Case{-1, "Bad memory allocation request - tried to allocate -1 bytes."},
                          Case{std::int64_t{1} << 50,
                               "Out of memory - tried to allocate 1125899906842624 bytes."}}) {
        delete[] KsAlloc(1);  // takes a new reserve
        ASSERT_TRUE(KsAllocReserveHeld());
        try {
            KsAlloc(c.size);
            ADD_FAILURE() << c.size;
        } catch (const std::bad_alloc& e) {
            const auto* ks = dynamic_cast<const KsMemoryException*>(&e);
            ASSERT_NE(ks, nullptr);
            EXPECT_STREQ(ks->GetErrorMessage(), c.message);
            EXPECT_STREQ(e.what(), c.message);
            EXPECT_STREQ(ks->GetClassName(), "");
        }
        EXPECT_FALSE(KsAllocReserveHeld());
    }
}

}  // namespace
