// Thousands of random allocations, frees, inserts, erases and rewrites against a plain
// model: after every step the free list ascends without touching blocks, no block is in two
// places or lost, blocks the test holds keep their bytes, and the lists hold the model's
// texts.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "KsIOListTestSupport.h"
#include "io/KsIOList.h"

namespace {

using kstest::Item;
using Block = kstest::ListFileImage::Block;
using KsIOListFormat::ListPosition;

class KsIOListModelTest : public kstest::ListFileTest {
protected:
    std::mt19937 random{20240611};
    std::vector<Block> held;            // blocks allocated by the test itself
    std::vector<std::string> model[2];  // the texts of lists 0 and 1
    KsIOSimpleList<void> raw{file, ListPosition(0)};

    std::size_t Below(std::size_t n) { return n == 0 ? 0 : random() % n; }
    std::string RandomText() { return std::string(Below(100), static_cast<char>('a' + Below(26))); }
    // The bytes the test keeps in a block it holds.
    static std::string Pattern(const Block& block) {
        return std::string(block.size, static_cast<char>('A' + block.offset / 16 % 26));
    }
    // A writer standing on element `index` of list `which`.
    KsIOList<Item>::iterator WriterAt(KsIOList<Item>& list, std::size_t index) {
        auto it = list.begin(LOCK_WRITE);
        for (std::size_t i = 0; i < index; ++i) {
            ++it;
        }
        return it;
    }

    void Step(KsIOList<Item> (&lists)[2]) {
        int which = static_cast<int>(Below(2));
        std::vector<std::string>& texts = model[which];
        KsIOList<Item>& list = lists[which];
        switch (Below(6)) {
            case 0: {
                Block block{0, 16 * (1 + Below(8))};
                block.offset = raw.Allocate(block.size);
                file.WriteTo(block.offset, Pattern(block).data(),
                             static_cast<std::int32_t>(block.size));
                held.push_back(block);
                break;
            }
            case 1:
                if (!held.empty()) {
                    std::size_t index = Below(held.size());
                    raw.Free(held[index].offset, held[index].size);
                    held.erase(held.begin() + static_cast<std::ptrdiff_t>(index));
                }
                break;
            case 2:
            case 3:
                if (texts.size() < 40) {
                    std::size_t index = Below(texts.size() + 1);
                    auto it = WriterAt(list, index);
                    texts.insert(texts.begin() + static_cast<std::ptrdiff_t>(index), RandomText());
                    list.insert(it, {texts[index]});
                    break;
                }
                [[fallthrough]];
            case 4:
                if (!texts.empty()) {
                    std::size_t index = Below(texts.size());
                    auto it = WriterAt(list, index);
                    list.erase(it);
                    texts.erase(texts.begin() + static_cast<std::ptrdiff_t>(index));
                }
                break;
            case 5:
                if (!texts.empty()) {
                    std::size_t index = Below(texts.size());
                    texts[index] = RandomText();
                    WriterAt(list, index).Write({texts[index]});
                }
                break;
        }
    }

    // The lists as the file's bytes show them, read without the list classes.
    std::vector<std::string> TextsInImage(const kstest::ListFileImage& image, int which) {
        std::vector<std::string> texts;
        for (std::uint64_t node : image.Nodes(ListPosition(static_cast<std::uint64_t>(which)))) {
            std::string object = image.Object(image.Word(node));
            std::uint32_t length = KsByteOrder::LoadLittle<std::uint32_t>(object.data());
            texts.push_back(object.substr(4, length));
        }
        return texts;
    }
};

TEST_F(KsIOListModelTest, AllocatorAndListsFollowTheModel) {
    Prepare(2);
    KsIOList<Item> lists[2] = {{file, ListPosition(0)}, {file, ListPosition(1)}};
    for (int step = 0; step < 3000; ++step) {
        Step(lists);
        kstest::ListFileImage image = Image();
        std::vector<Block> used = held;
        image.AddListBlocks(ListPosition(0), false, used);
        image.AddListBlocks(ListPosition(1), false, used);
        ASSERT_EQ(image.CheckLayout(used, 2, true), "") << "step " << step;
        for (const Block& block : held) {
            ASSERT_EQ(image.Bytes().substr(block.offset, block.size), Pattern(block))
                << "step " << step;
        }
        for (int which = 0; which < 2; ++which) {
            ASSERT_EQ(TextsInImage(image, which), model[which]) << "step " << step;
        }
        if (step % 100 == 0) {
            ASSERT_EQ(kstest::Texts(lists[0]), model[0]);
            ASSERT_EQ(kstest::Texts(lists[1]), model[1]);
            ASSERT_EQ(file.GetLockEntryCount(), 0);
        }
    }
}

}  // namespace
