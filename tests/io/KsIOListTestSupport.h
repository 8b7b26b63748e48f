#pragma once
// What the list-file tests share: an element type, golden words, a fresh list file, and a
// reading of a list file's bytes made without the list classes, to check what they wrote.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/KsByteOrder.h"
#include "io/KsIOList.h"
#include "io/KsIOUnbuffered.h"
#include "support/TempDir.h"

namespace kstest {

// An element that stores its text with a 32-bit length in front.
struct Item {
    std::string text;

    void Read(KsInputStreamInterface& in) {
        text.assign(in.ReadUnsignedLong(), '\0');
        in.Read(text.data(), static_cast<std::int32_t>(text.size()), true);
    }
    void Write(KsOutputStreamInterface& out) const {
        out.WriteUnsignedLong(static_cast<std::uint32_t>(text.size()));
        out.Write(text.data(), static_cast<std::int32_t>(text.size()));
    }
};

// Little-endian 64-bit words as bytes.
inline std::string Words(std::initializer_list<std::uint64_t> words) {
    std::string bytes;
    for (std::uint64_t word : words) {
        char eight[8];
        KsByteOrder::StoreLittle(eight, word);
        bytes.append(eight, 8);
    }
    return bytes;
}

// The texts of a typed list, in order.
template <class List>
std::vector<std::string> Texts(List& list) {
    std::vector<std::string> texts;
    for (auto it = list.begin(); it != list.end(); ++it) {
        texts.push_back((*it).text);
    }
    return texts;
}

struct Block {
    std::uint64_t offset;
    std::uint64_t size;
    bool operator==(const Block&) const = default;
    friend void PrintTo(const Block& b, std::ostream* out) { *out << b.offset << "+" << b.size; }
};

// The bytes of a list file, read without the list classes; what is wrong goes to Problems.
struct ListImage {
    std::string bytes;
    std::string problems;

    std::uint64_t Word(std::uint64_t at) {
        if (at + 8 > bytes.size()) {
            problems += "word " + std::to_string(at) + " outside the file; ";
            return 0;
        }
        return KsByteOrder::LoadLittle<std::uint64_t>(bytes.data() + at);
    }
    // The nodes of the list whose pseudo-node is at `position`.
    std::vector<std::uint64_t> Nodes(std::uint64_t position) {
        std::vector<std::uint64_t> nodes;
        for (std::uint64_t at = Word(position + 8); at != 0 && problems.empty();
             at = Word(at + 8)) {
            nodes.push_back(at);
            if (nodes.size() > bytes.size() / 16) {
                problems += "a list does not end; ";
            }
        }
        return nodes;
    }
    std::vector<Block> FreeBlocks() {
        std::vector<Block> blocks;
        for (std::uint64_t node : Nodes(8)) {
            blocks.push_back({node, Word(node)});
        }
        return blocks;
    }
    // Adds the nodes and objects of a list, with `ofLists` the headers and sub-lists too.
    void AddList(std::uint64_t position, bool ofLists, std::vector<Block>& used) {
        for (std::uint64_t node : Nodes(position)) {
            std::uint64_t object = Word(node);
            used.push_back({node, 16});
            if (ofLists) {
                used.push_back({object, 16});
                AddList(object, false, used);
                object = Word(object);
            }
            used.push_back({object, Word(object) & 0xFFFFFFFF});
        }
    }
    // "" when the free list ascends without touching blocks and the blocks `used` and free
    // neither overlap nor leave the space after a header of `lists` lists (nor, with
    // `exact`, any of it uncovered); else what is wrong.
    std::string Check(std::vector<Block> used, std::uint64_t lists, bool exact) {
        std::vector<Block> free = FreeBlocks();
        for (std::size_t i = 1; i < free.size(); ++i) {
            if (free[i].offset <= free[i - 1].offset + free[i - 1].size) {
                problems += "free list out of order at " + std::to_string(free[i].offset) + "; ";
            }
        }
        used.insert(used.end(), free.begin(), free.end());
        std::sort(used.begin(), used.end(),
                  [](const Block& a, const Block& b) { return a.offset < b.offset; });
        std::uint64_t end = 24 + 8 * lists, covered = end;
        for (const Block& block : used) {
            if (block.offset < end || block.size == 0 || block.size % 16 != 0) {
                problems += "bad or overlapping block at " + std::to_string(block.offset) + "; ";
            }
            end = std::max(end, block.offset + block.size);
            covered += block.size;
        }
        if (end > bytes.size() || (exact && covered != bytes.size())) {
            problems += "blocks cover " + std::to_string(covered) + " bytes of " +
                        std::to_string(bytes.size()) + "; ";
        }
        return problems;
    }
};

// A fresh, empty file in a fresh directory, open for reading and writing.
class ListFileTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.File("list.klg");
    KsIOUnbuffered file{path.c_str(), IO_READ | IO_WRITE | IO_CREATE | IO_TRUNCATE};

    void Prepare(int lists) { KsIOSimpleList<void>(file, 8).PrepareFile(lists); }
    ListImage Image() const { return {ReadWholeFile(path), ""}; }
    // The lists of the file (`ofLists`: those that are lists of lists) and the free list
    // walk to their ends and no block is in two places or, with `exact`, lost. `used`
    // are blocks held outside the lists.
    void ExpectSound(const std::vector<std::uint64_t>& lists,
                     const std::vector<std::uint64_t>& ofLists, bool exact = true,
                     std::vector<Block> used = {}) const {
        ListImage image = Image();
        for (std::uint64_t list : lists) {
            image.AddList(list, false, used);
        }
        for (std::uint64_t list : ofLists) {
            image.AddList(list, true, used);
        }
        EXPECT_EQ(image.Check(used, lists.size() + ofLists.size(), exact), "");
    }
};

}  // namespace kstest
