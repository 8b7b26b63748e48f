// Damaged list files: every bad link, block size or cycle ends in an error that names the
// file and the offset, leaves no lock behind and changes nothing.

#include <gtest/gtest.h>

#include <functional>

#include "KsIOListTestSupport.h"
#include "support/KsErrorCapture.h"

namespace {

using kstest::Item;
using kstest::MessageOf;

class KsIOListDamageTest : public kstest::ListFileTest {
protected:
    // The list "a", "b": node b at 32 with its object at 48, node a at 64 with its object at
    // 80; the head (24) links 64, which links 32. Then free blocks at 96 and 128 of 16.
    void SetUp() override {
        Prepare(1);
        KsIOList<Item> list(file, 16);
        auto it = list.begin(LOCK_WRITE);
        list.insert(it, {"b"});
        list.insert(it, {"a"});
        for (std::uint64_t size : {16, 16, 16, 16}) {
            raw.Allocate(size);
        }
        raw.Free(96, 16);
        raw.Free(128, 16);
    }
    // Writes `bytes` bytes of `word` at `offset`, and the error of `body`, which must change
    // nothing and leave no lock; "" when there is none.
    std::string DamageOf(std::uint64_t offset, std::uint64_t word, int bytes,
                         const std::function<void()>& body) {
        file.WriteTo(offset, kstest::Words({word}).data(), bytes);
        std::string before = Image().bytes;
        std::string message = MessageOf(body);
        EXPECT_EQ(Image().bytes, before);
        EXPECT_EQ(file.GetLockEntryCount(), 0);
        return message;
    }
    std::string At(int offset, const std::string& reason) {
        return "List file \"" + path + "\" is damaged at offset " + std::to_string(offset) + ": " +
               reason;
    }

    KsIOSimpleList<void> raw{file, 16};
    std::function<void()> walk = [this] {
        KsIOList<Item> list(file, 16);
        kstest::Texts(list);
    };
    std::function<void()> erase = [this] {
        KsIOList<Item> list(file, 16);
        auto it = list.begin(LOCK_WRITE);
        list.erase(it);
    };
    std::function<void()> allocate = [this] { raw.Allocate(64); };
    std::function<void()> freeBlock = [this] { raw.Free(144, 16); };
};

TEST_F(KsIOListDamageTest, BadLinksSizesAndCyclesAreReportedWhereTheyAre) {
    const std::string beyond = "the link points to a block of 16 bytes at ";
    struct Case {
        int offset;
        std::uint64_t word;
        int bytes;
        std::function<void()>& body;
        int at;
        std::string reason;
    } cases[] = {
        {24, 4096, 8, walk, 24, beyond + "4096, beyond the end of the file (160 bytes)"},
        {24, ~std::uint64_t{15}, 8, walk, 24,
         beyond + "18446744073709551600, beyond the end of the file (160 bytes)"},
        {24, 16, 8, erase, 24, "the link points to 16, inside the header"},
        {24, 72, 8, walk, 24, "the link points to 72, which is not on a block boundary"},
        {40, 64, 8, walk, 40, "the list runs round in a cycle"},
        {40, 32, 8, walk, 40, "the list runs round in a cycle"},
        {32, 0, 8, walk, 32, "the link points to 0, inside the header"},
        {48, 24, 4, walk, 48, "a block size of 24 is not a positive multiple of 16"},
        {80, 0, 4, erase, 80, "a block size of 0 is not a positive multiple of 16"},
        {48, 4096, 4, walk, 32,
         "the link points to a block of 4096 bytes at 48, beyond the end of the file (160 "
         "bytes)"},
        {16, 4096, 8, allocate, 16, beyond + "4096, beyond the end of the file (160 bytes)"},
        {96, 0, 8, freeBlock, 96, "a block size of 0 is not a positive multiple of 16"},
        {96, 48, 8, allocate, 104,
         "the free list goes back to 128, before the end of the block before it"},
        {136, 96, 8, freeBlock, 136,
         "the free list goes back to 96, before the end of the block before it"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        SetUp();
        EXPECT_EQ(DamageOf(c.offset, c.word, c.bytes, c.body), At(c.at, c.reason));
    }
    SetUp();
    EXPECT_EQ(DamageOf(52, 9, 4, walk),  // "b" claims 4 + 9 bytes; its block holds 12
              "The object at offset 48 of list file \"" + path +
                  "\" is larger than its block of 16 bytes");
    SetUp();
    EXPECT_EQ(DamageOf(64, 4096, 8, [this] { *KsIOListOfLists<Item, Item>(file, 16).begin(); }),
              At(64, beyond + "4096, beyond the end of the file (160 bytes)"));
}

TEST_F(KsIOListDamageTest, ErasingRoundACycleStops) {
    file.WriteTo(40, kstest::Words({64}).data(), 8);
    KsIOList<Item> list(file, 16);
    auto it = list.begin(LOCK_WRITE);
    int erased = 0;
    auto eraseAll = [&] {
        for (; it != list.end() && erased < 10; ++erased) {
            list.erase(it);
        }
    };
    EXPECT_THROW(eraseAll(), KsException);
    EXPECT_LT(erased, 10);
}

}  // namespace
