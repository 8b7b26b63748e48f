#pragma once
// Helpers of the sort tests: records held in memory as a source and a sink, and a look at
// the sort's temporary files left in a folder.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "index/KsSort.h"

namespace kstest {

// Records of one length, read in turn.
class VectorInput : public KsSortInput {
public:
    VectorInput(std::vector<std::string> records, std::uint32_t length)
        : records_(std::move(records)), length_(length) {}
    bool IsAtEnd() override { return next_ >= records_.size(); }
    void GetNextRecord(void* buffer) override {
        std::memcpy(buffer, records_.at(next_++).data(), length_);
    }
    std::uint32_t GetRecordCount() override { return static_cast<std::uint32_t>(records_.size()); }
    std::uint32_t GetRecordLength() override { return length_; }
    void Rewind() override {}

private:
    std::vector<std::string> records_;
    std::uint32_t length_;
    std::size_t next_ = 0;
};

// Collects what is put into it.
class VectorOutput : public KsSortOutput {
public:
    void PutNextRecord(std::uint32_t length, const void* record) override {
        records.emplace_back(static_cast<const char*>(record), length);
    }
    void Finish() override { ++finishes; }

    std::vector<std::string> records;
    int finishes = 0;
};

// `got` holds the records of `given` (the same multiset) in the order of a stable sort by
// `less`, records that `less` does not order being judged by `same` alone.
template <class Less, class Same>
void ExpectSortedLike(const std::vector<std::string>& got, std::vector<std::string> given,
                      Less less, Same same) {
    std::vector<std::string> expected = given;
    std::stable_sort(expected.begin(), expected.end(), less);
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_TRUE(same(got[i], expected[i])) << "record " << i << ": " << got[i];
    }
    std::vector<std::string> sorted = got;
    std::sort(sorted.begin(), sorted.end());
    std::sort(given.begin(), given.end());
    EXPECT_EQ(sorted, given);
}

// Names of the files in `folder` that start with the sort's temporary prefix.
inline std::vector<std::string> SortLeftovers(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::erase_if(names, [](const auto& name) { return !name.starts_with(KsSort::kTempPrefix); });
    return names;
}

}  // namespace kstest
