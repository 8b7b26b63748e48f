#pragma once
/// @file
/// The keys of an index as a build makes them: the distinct values as comparable key bytes
/// in byte order (which is the order of the values), and each value's records ascending, all
/// in three flat arrays. A build merges blocks of records into it; the index writes its file
/// and answers searches from it, and turns it into key objects only when it is changed or a
/// caller asks for a key. Keeping a million keys this way costs three allocations, not four
/// a key.

#include <cstdint>
#include <memory>
#include <vector>

#include "index/KsIndexKey.h"

/// Distinct values and their records in flat arrays (see the file notes).
class KsIndexRuns {
public:
    /// No key yet, for values of `keyLength` bytes.
    explicit KsIndexRuns(std::uint16_t keyLength) : keyLength_(keyLength) {}

    /// Merges `count` values of `keyLength` bytes each, those of records firstRecord onwards
    /// in turn. The records must follow every record merged before.
    void Merge(const unsigned char* bytes, std::int32_t count, std::int32_t firstRecord);

    /// The number of keys.
    std::int32_t GetKeyCount() const { return static_cast<std::int32_t>(starts_.size()) - 1; }
    /// The comparable key bytes of key k.
    const unsigned char* ValueAt(std::int32_t k) const {
        return values_.data() + static_cast<std::size_t>(k) * keyLength_;
    }
    /// @{
    /// The records of key k: the first of them and how many there are.
    const std::int32_t* RecordsOf(std::int32_t k) const { return records_.data() + starts_[k]; }
    std::int32_t CountOf(std::int32_t k) const { return starts_[k + 1] - starts_[k]; }
    /// @}
    /// @{
    /// The first key not less than / greater than the comparable key bytes `value`.
    std::int32_t LowerBound(const void* value) const { return Bound(value, false); }
    std::int32_t UpperBound(const void* value) const { return Bound(value, true); }
    /// @}
    /// Every key as an object made from `prototype`, in order; the runs are spent afterwards.
    std::vector<std::unique_ptr<KsIndexKey>> Materialise(const KsIndexKey& prototype);

private:
    std::int32_t Bound(const void* value, bool upper) const;

    std::uint16_t keyLength_;
    std::vector<unsigned char> values_;
    std::vector<std::int32_t> starts_{0};  // key k's records are [starts_[k], starts_[k + 1])
    std::vector<std::int32_t> records_;
    std::int32_t nextRecord_ = 0;  // no record below it may be merged any more
};
