#pragma once
// Blob files as bytes for tests: building one by hand, and checking every rule of the
// format on what a blob file wrote, read independently of the class that wrote it.

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/KsByteOrder.h"

namespace kstest {

struct BlobRecord {
    std::int32_t link, offset, length, space;
};

// Little-endian 32-bit words.
inline std::string Words(std::initializer_list<std::int32_t> words) {
    std::string bytes;
    for (std::int32_t word : words) {
        char out[4];
        KsByteOrder::StoreLittle(out, word);
        bytes.append(out, 4);
    }
    return bytes;
}

// A blob file whose data area holds `data` (from offset 4) and whose table follows it.
inline std::string BlobFileBytes(const std::string& data, std::int32_t freeHead,
                                 std::int32_t unusedHead, const std::vector<BlobRecord>& records) {
    std::string bytes = Words({static_cast<std::int32_t>(4 + data.size())}) + data +
                        Words({freeHead, unusedHead, static_cast<std::int32_t>(records.size())});
    for (const BlobRecord& r : records) {
        bytes += Words({r.link, r.offset, r.length, r.space});
    }
    return bytes;
}

// The first rule that the bytes of a blob file break, or "" when they keep them all: the
// table ends the file; every descriptor is allocated, free or unused; the free list runs in
// rising offsets, of free extents that never touch and end before D; the unused list runs
// in rising numbers; every free or unused descriptor is on its list; the last one is not
// unused; extents lie in the data area without overlapping and cover it whole.
inline std::string BrokenBlobFileRule(const std::string& bytes) {
    if (bytes.empty()) {
        return "";
    }
    auto word = [&](std::size_t at) { return KsByteOrder::LoadLittle<std::int32_t>(&bytes[at]); };
    if (bytes.size() < 16) {
        return "shorter than an empty table";
    }
    std::int64_t d = word(0);
    if (d < 4 || d + 12 > static_cast<std::int64_t>(bytes.size())) {
        return "D outside the file";
    }
    std::int32_t count = word(static_cast<std::size_t>(d) + 8);
    if (count < 0 || d + 12 + 16 * std::int64_t{count} != static_cast<std::int64_t>(bytes.size())) {
        return "the file does not end with the last record";
    }
    std::vector<BlobRecord> r(static_cast<std::size_t>(count) + 1);
    for (std::int32_t i = 1; i <= count; ++i) {
        std::size_t at = static_cast<std::size_t>(d) + 12 + 16 * static_cast<std::size_t>(i - 1);
        r[i] = {word(at), word(at + 4), word(at + 8), word(at + 12)};
    }
    auto state = [&](std::int32_t i) {
        const BlobRecord& x = r[static_cast<std::size_t>(i)];
        if (x.length >= 0 && x.offset >= 4 && x.space >= x.length && x.offset + x.space <= d) {
            return 'a';
        }
        if (x.length == -1 && x.offset >= 4 && x.space > 0 && x.offset + x.space < d) {
            return 'f';
        }
        return x.length == -1 && x.offset == -1 && x.space == -1 ? 'u' : '?';
    };
    std::int64_t covered = 0;
    std::vector<std::pair<std::int64_t, std::int64_t>> extents;
    std::int32_t freeCount = 0, unusedCount = 0;
    for (std::int32_t i = 1; i <= count; ++i) {
        char s = state(i);
        if (s == '?') {
            return "descriptor " + std::to_string(i) + " is in no state";
        }
        freeCount += s == 'f';
        unusedCount += s == 'u';
        if (s != 'u' && r[i].space > 0) {
            extents.emplace_back(r[i].offset, r[i].offset + r[i].space);
            covered += r[i].space;
        }
    }
    if (count > 0 && state(count) == 'u') {
        return "the last descriptor is unused";
    }
    std::int64_t previousEnd = 0;
    std::int32_t listed = 0;
    for (std::int32_t i = word(static_cast<std::size_t>(d)); i != -1; i = r[i].link) {
        if (i < 1 || i > count || state(i) != 'f' || r[i].offset <= previousEnd ||
            ++listed > count) {
            return "free list broken at " + std::to_string(i);
        }
        previousEnd = r[i].offset + r[i].space;
    }
    if (listed != freeCount) {
        return "a free extent is not on the free list";
    }
    listed = 0;
    for (std::int32_t i = word(static_cast<std::size_t>(d) + 4), previous = 0; i != -1;
         previous = i, i = r[i].link) {
        if (i <= previous || i > count || state(i) != 'u') {
            return "unused list broken at " + std::to_string(i);
        }
        ++listed;
    }
    if (listed != unusedCount) {
        return "an unused descriptor is not on the unused list";
    }
    std::sort(extents.begin(), extents.end());
    for (std::size_t i = 1; i < extents.size(); ++i) {
        if (extents[i].first < extents[i - 1].second) {
            return "extents overlap";
        }
    }
    if (covered != d - 4) {
        return "the extents cover " + std::to_string(covered) + " of " + std::to_string(d - 4) +
               " bytes of the data area";
    }
    return "";
}

}  // namespace kstest
