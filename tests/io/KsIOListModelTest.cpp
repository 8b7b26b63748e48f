// Thousands of random allocations, frees, inserts, erases and rewrites against a plain
// model: after every step the free list ascends without touching blocks, no block is in two
// places or lost, blocks the test holds keep their bytes, and the lists hold the model's
// texts.

#include <gtest/gtest.h>

#include <random>

#include "KsIOListTestSupport.h"

namespace {

using kstest::Block;
using kstest::Item;

class KsIOListModelTest : public kstest::ListFileTest {
protected:
    std::mt19937 random{20240611};
    std::vector<Block> held;            // blocks allocated by the test itself
    std::vector<std::string> model[2];  // the texts of lists 0 and 1
    KsIOSimpleList<void> raw{file, 16};

    std::size_t Below(std::size_t n) { return n == 0 ? 0 : random() % n; }
    static std::string Pattern(const Block& block) {
        return std::string(block.size, static_cast<char>('A' + block.offset / 16 % 26));
    }
    void Step(KsIOList<Item>& list, std::vector<std::string>& texts) {
        std::size_t index = Below(texts.size() + 1), kind = Below(6);
        auto it = list.begin(LOCK_WRITE);
        for (std::size_t i = 0; i < index; ++i) {
            ++it;
        }
        std::string text(Below(100), static_cast<char>('a' + Below(26)));
        auto at = texts.begin() + static_cast<std::ptrdiff_t>(index);
        if (kind == 0) {
            Block block{0, 16 * (1 + Below(8))};
            block.offset = raw.Allocate(block.size);
            file.WriteTo(block.offset, Pattern(block).data(), static_cast<int>(block.size));
            held.push_back(block);
        } else if (kind == 1 && !held.empty()) {
            std::swap(held[Below(held.size())], held.back());
            raw.Free(held.back().offset, held.back().size);
            held.pop_back();
        } else if (kind <= 3 && texts.size() < 40) {
            list.insert(it, {text});
            texts.insert(at, text);
        } else if (kind == 4 && at != texts.end()) {
            list.erase(it);
            texts.erase(at);
        } else if (at != texts.end()) {
            it.Write({text});
            *at = text;
        }
    }
};

TEST_F(KsIOListModelTest, AllocatorAndListsFollowTheModel) {
    Prepare(2);
    KsIOList<Item> lists[2] = {{file, 16}, {file, 24}};
    for (int step = 0; step < 3000 && !HasFailure(); ++step) {
        int which = static_cast<int>(Below(2));
        Step(lists[which], model[which]);
        ExpectSound({16, 24}, {}, true, held);
        kstest::ListImage image = Image();
        for (const Block& block : held) {
            EXPECT_EQ(image.bytes.substr(block.offset, block.size), Pattern(block)) << step;
        }
        for (int list = 0; list < 2; ++list) {
            std::vector<std::string> texts;
            for (std::uint64_t node : image.Nodes(16 + 8 * static_cast<std::uint64_t>(list))) {
                std::uint64_t object = image.Word(node);
                texts.push_back(image.bytes.substr(object + 8, image.Word(object + 4) & 0xFF));
            }
            EXPECT_EQ(texts, model[list]) << step;
        }
        if (step % 100 == 0) {
            EXPECT_EQ(kstest::Texts(lists[which]), model[which]);
            EXPECT_EQ(file.GetLockEntryCount(), 0);
        }
    }
}

}  // namespace
