#pragma once
// A reading of a list file's bytes made without the list classes, so that tests can check
// what those classes wrote: the lists, the free list, and that no block is in two places.

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "core/KsByteOrder.h"
#include "support/TempDir.h"

namespace kstest {

class ListFileImage {
public:
    struct Block {
        std::uint64_t offset;
        std::uint64_t size;

        bool operator==(const Block&) const = default;
        friend void PrintTo(const Block& block, std::ostream* out) {
            *out << "(" << block.offset << ", " << block.size << ")";
        }
    };

    explicit ListFileImage(std::string bytes) : bytes_(std::move(bytes)) {}
    static ListFileImage Of(const std::string& path) { return ListFileImage(ReadWholeFile(path)); }

    std::uint64_t Size() const { return bytes_.size(); }
    const std::string& Bytes() const { return bytes_; }
    // The word at `at`; a word outside the file is recorded as a problem and reads as 0.
    std::uint64_t Word(std::uint64_t at) const {
        if (at + 8 > bytes_.size()) {
            Problem("word at " + std::to_string(at) + " is outside the file");
            return 0;
        }
        return KsByteOrder::LoadLittle<std::uint64_t>(bytes_.data() + at);
    }
    // The nodes of the list whose pseudo-node is at `position`, in order.
    std::vector<std::uint64_t> Nodes(std::uint64_t position) const {
        std::vector<std::uint64_t> nodes;
        for (std::uint64_t at = Word(position + 8); at != 0; at = Word(at + 8)) {
            if (nodes.size() > bytes_.size() / 16) {
                Problem("list at " + std::to_string(position) + " does not end");
                break;
            }
            nodes.push_back(at);
        }
        return nodes;
    }
    // The bytes of the object block at `object`, without its size word.
    std::string Object(std::uint64_t object) const {
        std::uint64_t size = Word(object) & 0xFFFFFFFFu;
        if (size < 16 || object + size > bytes_.size()) {
            Problem("object block at " + std::to_string(object) + " is damaged");
            return {};
        }
        return bytes_.substr(object + 4, size - 4);
    }
    std::vector<Block> FreeBlocks() const {
        std::vector<Block> blocks;
        for (std::uint64_t node : Nodes(8)) {
            blocks.push_back({node, Word(node)});
        }
        return blocks;
    }
    // The blocks that list `position` uses: nodes and objects, and with `ofLists` the
    // sub-list headers and the sub-lists' nodes and objects.
    void AddListBlocks(std::uint64_t position, bool ofLists, std::vector<Block>& out) const {
        for (std::uint64_t node : Nodes(position)) {
            out.push_back({node, 16});
            std::uint64_t word0 = Word(node);
            if (ofLists) {
                out.push_back({word0, 16});
                AddListBlocks(word0, false, out);
                word0 = Word(word0);
            }
            out.push_back({word0, Word(word0) & 0xFFFFFFFFu});
        }
    }
    // "" when the free list ascends without touching blocks, no two blocks of `used` (the
    // lists' blocks among them) and the free list overlap, all lie between the header of
    // `headerLists` lists and the end of the file, and (with `exact`) they cover that
    // space; else what is wrong.
    std::string CheckLayout(std::vector<Block> used, std::uint64_t headerLists, bool exact) const {
        std::vector<Block> free = FreeBlocks();
        for (std::size_t i = 1; i < free.size(); ++i) {
            if (free[i].offset <= free[i - 1].offset + free[i - 1].size) {
                Problem("free block at " + std::to_string(free[i].offset) +
                        " is out of order or touches the one before");
            }
        }
        used.insert(used.end(), free.begin(), free.end());
        std::sort(used.begin(), used.end(),
                  [](const Block& a, const Block& b) { return a.offset < b.offset; });
        std::uint64_t header = 24 + 8 * headerLists;
        std::uint64_t end = header;
        std::uint64_t covered = 0;
        for (const Block& block : used) {
            if (block.offset < end || block.size == 0 || block.size % 16 != 0) {
                Problem("block at " + std::to_string(block.offset) + " of " +
                        std::to_string(block.size) + " bytes overlaps another or is malformed");
            }
            end = std::max(end, block.offset + block.size);
            covered += block.size;
        }
        if (end > bytes_.size()) {
            Problem("blocks run past the end of the file");
        }
        if (exact && header + covered != bytes_.size()) {
            Problem("blocks cover " + std::to_string(covered) + " of the file's " +
                    std::to_string(bytes_.size()) + " bytes");
        }
        return problems_;
    }
    const std::string& Problems() const { return problems_; }

private:
    void Problem(const std::string& text) const {
        if (problems_.find(text) == std::string::npos) {
            problems_ += text + "; ";
        }
    }

    std::string bytes_;
    mutable std::string problems_;
};

}  // namespace kstest
