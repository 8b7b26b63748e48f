#pragma once
// What the list-file tests share: a fresh list file, an element type, golden words.

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "KsIOListImage.h"
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
        if (!text.empty()) {
            in.Read(text.data(), static_cast<std::int32_t>(text.size()), true);
        }
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

// A fresh, empty file in a fresh directory, open for reading and writing.
class ListFileTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.File("list.klg");
    KsIOUnbuffered file{path.c_str(), IO_READ | IO_WRITE | IO_CREATE | IO_TRUNCATE};

    void Prepare(int lists) { KsIOSimpleList<void>(file, 8).PrepareFile(lists); }
    ListFileImage Image() const { return ListFileImage::Of(path); }
    // Every list and the free list walk to their ends and no block is in two places
    // (with `exact`, none is lost either). The lists are those of the file's header, with
    // `ofLists` the lists of lists among them; `used` are blocks held outside them.
    void ExpectSound(const std::vector<std::uint64_t>& lists,
                     const std::vector<std::uint64_t>& ofLists, bool exact = true,
                     std::vector<ListFileImage::Block> used = {}) const {
        ListFileImage image = Image();
        for (std::uint64_t list : lists) {
            image.AddListBlocks(list, false, used);
        }
        for (std::uint64_t list : ofLists) {
            image.AddListBlocks(list, true, used);
        }
        EXPECT_EQ(image.CheckLayout(used, lists.size() + ofLists.size(), exact), "");
    }
};

}  // namespace kstest
