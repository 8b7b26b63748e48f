// Damaged list files: every bad link, block size or cycle ends in an error that names the
// file and the offset, leaves no lock behind and changes nothing.

#include <gtest/gtest.h>

#include <string>

#include "KsIOListTestSupport.h"
#include "io/KsIOList.h"
#include "support/KsErrorCapture.h"

namespace {

using kstest::CaughtError;
using kstest::Item;

class KsIOListDamageTest : public kstest::ListFileTest {
protected:
    // A list "a", "b": object b at 32, its node at 48, object a at 64, its node at 80; the
    // head (24) links 80, which links 48.
    void SetUp() override {
        Prepare(1);
        KsIOList<Item> list(file, 16);
        auto it = list.begin(LOCK_WRITE);
        list.insert(it, {"b"});
        list.insert(it, {"a"});
    }
    void Poke(std::uint64_t offset, std::uint64_t word) {
        std::string bytes = kstest::Words({word});
        file.WriteTo(offset, bytes.data(), 8);
    }
    void Poke32(std::uint64_t offset, std::uint32_t word) {
        file.WriteTo(offset, kstest::Words({word}).data(), 4);
    }
    // The error of `body`, which must change nothing and leave no lock.
    template <class Body>
    std::string DamageOf(Body body) {
        std::string before = kstest::ReadWholeFile(path);
        KsException error = CaughtError(body);
        EXPECT_EQ(kstest::ReadWholeFile(path), before);
        EXPECT_EQ(file.GetLockEntryCount(), 0);
        return error.GetErrorMessage();
    }
    std::string At(int offset, const std::string& reason) {
        return "List file \"" + path + "\" is damaged at offset " + std::to_string(offset) + ": " +
               reason;
    }
    void Walk() {
        KsIOList<Item> list(file, 16);
        kstest::Texts(list);
    }
    void EraseFirst() {
        KsIOList<Item> list(file, 16);
        auto it = list.begin(LOCK_WRITE);
        list.erase(it);
    }
};

TEST_F(KsIOListDamageTest, BadLinksAndBlocksOfAList) {
    struct Case {
        int offset;
        std::uint64_t word;
        bool narrow;  // a 32-bit size word
        int at;
        std::string reason;
    } cases[] = {
        {24, 4096, false, 24,
         "the link points to a block of 16 bytes at 4096, beyond the end of the file (96 bytes)"},
        {24, 16, false, 24, "the link points to 16, inside the header"},
        {24, 72, false, 24, "the link points to 72, which is not on a block boundary"},
        {24, 0xFFFFFFFFFFFFFFF0, false, 24,
         "the link points to a block of 16 bytes at 18446744073709551600, beyond the end of the "
         "file (96 bytes)"},
        {56, 80, false, 56, "the list runs round in a cycle"},
        {56, 48, false, 56, "the list runs round in a cycle"},
        {48, 40, false, 48, "the link points to 40, which is not on a block boundary"},
        {48, 0, false, 48, "the link points to 0, inside the header"},
        {32, 0, true, 32, "a block size of 0 is not a positive multiple of 16"},
        {32, 24, true, 32, "a block size of 24 is not a positive multiple of 16"},
        {32, 4096, true, 48,
         "the link points to a block of 4096 bytes at 32, beyond the end of the file (96 bytes)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        SetUp();
        c.narrow ? Poke32(c.offset, static_cast<std::uint32_t>(c.word)) : Poke(c.offset, c.word);
        EXPECT_EQ(DamageOf([&] { Walk(); }), At(c.at, c.reason));
    }
    SetUp();
    Poke32(64, 0);  // the first element's object: checked before anything changes
    EXPECT_EQ(DamageOf([&] { EraseFirst(); }),
              At(64, "a block size of 0 is not a positive multiple of 16"));
}

TEST_F(KsIOListDamageTest, AnObjectLargerThanItsBlock) {
    Poke32(36, 100);  // "b" claims 100 bytes in a block of 16
    KsException error = CaughtError([&] { Walk(); });
    EXPECT_EQ(std::string(error.GetErrorMessage()), "The object at offset 32 of list file \"" +
                                                        path +
                                                        "\" is larger than its block of 16 bytes");
    EXPECT_STREQ(error.GetCallpath(), "Read() of KsIOList<TYPE>");
}

TEST_F(KsIOListDamageTest, BadFreeLists) {
    KsIOSimpleList<void> raw(file, 16);
    for (int i = 0; i < 4; ++i) {
        raw.Allocate(16);  // 96 .. 144
    }
    raw.Free(96, 16);
    raw.Free(128, 16);  // the free list: 96, 128
    struct Case {
        int offset;
        std::uint64_t word;
        int at;
        std::string reason;
    } cases[] = {
        {16, 4096, 16,
         "the link points to a block of 16 bytes at 4096, beyond the end of the file (160 bytes)"},
        {96, 0, 96, "a block size of 0 is not a positive multiple of 16"},
        {96, 4096, 16,
         "the link points to a block of 4096 bytes at 96, beyond the end of the file (160 bytes)"},
        {96, 48, 104, "the free list goes back to 128, before the end of the block before it"},
        {136, 96, 136, "the free list goes back to 96, before the end of the block before it"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        std::string good = kstest::ReadWholeFile(path);
        Poke(c.offset, c.word);
        KsException error = CaughtError([&] { raw.Allocate(64); });
        EXPECT_EQ(error.GetErrorMessage(), At(c.at, c.reason));
        EXPECT_TRUE(std::string(error.GetCallpath()).ends_with("Allocate() of KsIOListBase"));
        EXPECT_EQ(DamageOf([&] { raw.Free(144, 16); }), At(c.at, c.reason));
        EXPECT_EQ(file.GetLockEntryCount(), 0);
        kstest::WriteWholeFile(path, good);
    }
}

TEST_F(KsIOListDamageTest, ErasingRoundACycleStops) {
    Poke(56, 80);
    KsIOList<Item> list(file, 16);
    auto it = list.begin(LOCK_WRITE);
    int erased = 0;
    auto eraseAll = [&] {
        while (it != list.end() && erased < 10) {
            list.erase(it);
            ++erased;
        }
    };
    EXPECT_THROW(eraseAll(), KsException);
    EXPECT_LT(erased, 10);
}

TEST_F(KsIOListDamageTest, BadSubListHeaders) {
    Poke(80, 4096);
    KsIOListOfLists<Item, Item> log(file, 16);
    auto it = log.begin();
    std::string message = At(80,
                             "the link points to a block of 16 bytes at 4096, beyond the end of "
                             "the file (96 bytes)");
    EXPECT_EQ(kstest::MessageOf([&] { it.SubList(); }), message);
    EXPECT_EQ(kstest::MessageOf([&] { *it; }), message);
}

}  // namespace
