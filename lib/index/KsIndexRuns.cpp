#include "index/KsIndexRuns.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "core/KsByteOrder.h"

namespace {

// Values a merge asks the processor to fetch before it reaches them.
constexpr std::size_t kPrefetchAhead = 16;

// A value of a block being merged: its first 8 bytes as one number (the rest compared as
// bytes only when these are equal) and its position in the block.
struct BlockValue {
    std::uint64_t head;
    std::int32_t position;
};

// The `count` values of `length` bytes in byte order, equal values in the order they came.
std::vector<BlockValue> SortedValues(const unsigned char* bytes, std::size_t length,
                                     std::int32_t count) {
    std::vector<BlockValue> values(static_cast<std::size_t>(count));
    std::size_t headBytes = std::min<std::size_t>(length, sizeof(std::uint64_t));
    for (std::int32_t i = 0; i < count; ++i) {
        unsigned char head[sizeof(std::uint64_t)] = {};
        std::memcpy(head, bytes + static_cast<std::size_t>(i) * length, headBytes);
        values[static_cast<std::size_t>(i)] = {KsByteOrder::LoadBig<std::uint64_t>(head), i};
    }
    auto tail = [&](const BlockValue& value) {
        return bytes + static_cast<std::size_t>(value.position) * length + headBytes;
    };
    std::sort(values.begin(), values.end(), [&](const BlockValue& a, const BlockValue& b) {
        if (a.head != b.head) {
            return a.head < b.head;
        }
        int order = length > headBytes ? std::memcmp(tail(a), tail(b), length - headBytes) : 0;
        return order != 0 ? order < 0 : a.position < b.position;
    });
    return values;
}

}  // namespace

// One pass over the keys so far and the block's sorted values: an old key equal to a value
// keeps its records and takes the block's after them, which are all higher.
void KsIndexRuns::Merge(const unsigned char* bytes, std::int32_t count, std::int32_t firstRecord) {
    assert(count >= 0 && firstRecord >= nextRecord_);
    nextRecord_ = firstRecord + count;
    const std::size_t length = keyLength_;
    std::vector<BlockValue> sorted = SortedValues(bytes, length, count);
    auto block = [&](std::size_t n) {
        return bytes + static_cast<std::size_t>(sorted[n].position) * length;
    };
    const std::int32_t oldCount = GetKeyCount();
    std::vector<unsigned char> values;
    std::vector<std::int32_t> starts;
    std::vector<std::int32_t> records;
    values.reserve(values_.size() + sorted.size() * length);
    starts.reserve(starts_.size() + sorted.size());
    records.reserve(records_.size() + sorted.size());
    starts.push_back(0);
    std::int32_t old = 0;
    auto takeOld = [&] {
        values.insert(values.end(), ValueAt(old), ValueAt(old) + length);
        records.insert(records.end(), RecordsOf(old), RecordsOf(old) + CountOf(old));
        ++old;
    };
    for (std::size_t n = 0; n < sorted.size();) {
        const unsigned char* value = block(n);
        while (old < oldCount && std::memcmp(ValueAt(old), value, length) < 0) {
            takeOld();
            starts.push_back(static_cast<std::int32_t>(records.size()));
        }
        if (old < oldCount && std::memcmp(ValueAt(old), value, length) == 0) {
            takeOld();
        } else {
            values.insert(values.end(), value, value + length);
        }
        const std::uint64_t head = sorted[n].head;
        do {
            // The values are visited in sorted order, that is all over the block: fetch ahead.
            if (n + kPrefetchAhead < sorted.size()) {
                __builtin_prefetch(block(n + kPrefetchAhead));
            }
            records.push_back(firstRecord + sorted[n].position);
            ++n;
        } while (n < sorted.size() && sorted[n].head == head &&
                 std::memcmp(block(n), value, length) == 0);
        starts.push_back(static_cast<std::int32_t>(records.size()));
    }
    while (old < oldCount) {
        takeOld();
        starts.push_back(static_cast<std::int32_t>(records.size()));
    }
    values_.swap(values);
    starts_.swap(starts);
    records_.swap(records);
    assert(values_.size() == static_cast<std::size_t>(GetKeyCount()) * length &&
           starts_.back() == static_cast<std::int32_t>(records_.size()));
}

std::int32_t KsIndexRuns::Bound(const void* value, bool upper) const {
    std::int32_t low = 0;
    std::int32_t high = GetKeyCount();
    while (low < high) {
        std::int32_t middle = low + (high - low) / 2;
        int order = std::memcmp(ValueAt(middle), value, keyLength_);
        if (order < 0 || (upper && order == 0)) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low;
}

std::vector<std::unique_ptr<KsIndexKey>> KsIndexRuns::Materialise(const KsIndexKey& prototype) {
    std::vector<std::unique_ptr<KsIndexKey>> keys;
    keys.reserve(static_cast<std::size_t>(GetKeyCount()));
    for (std::int32_t k = 0; k < GetKeyCount(); ++k) {
        auto key = std::make_unique<KsIndexKey>(prototype);
        key->Value().SetComparableKey(ValueAt(k));
        key->AssignRecords(RecordsOf(k), CountOf(k));
        keys.push_back(std::move(key));
    }
    std::vector<unsigned char>().swap(values_);
    std::vector<std::int32_t>{0}.swap(starts_);
    std::vector<std::int32_t>().swap(records_);
    return keys;
}
