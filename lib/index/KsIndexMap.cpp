#include "index/KsIndexMap.h"

#include <algorithm>
#include <cassert>

#include "core/KsByteOrder.h"
#include "core/KsCallpath.h"
#include "core/KsException.h"
#include "index/KsIndex.h"
#include "index/KsIndexKey.h"
#include "index/KsInverseIndex.h"
#include "index/KsRecordKey.h"
#include "index/KsSet.h"

namespace {

constexpr const char* kClass = "KsIndex";
// Every key takes at least this many bytes: a value of one byte or more, the form byte and
// the shortest vector (header, count and growth value).
constexpr std::size_t kLeastKeyBytes = 1 + 1 + 6 + 8;
// Where a vector's count is after its form byte, and its records, in each version.
constexpr std::size_t kCountAt400 = 17;
constexpr std::size_t kCountAt530 = 7;
constexpr std::size_t kRecordsAt530 = 15;

using KsByteOrder::LoadLittle;
using KsIndexBytes::BytesStream;
using KsIndexBytes::EndsTooSoon;
using KsIndexBytes::IsPlainVectorStart;
using KsIndexBytes::kPlainVectorHeader;

}  // namespace

KsIndexMap::KsIndexMap(KsFileMapping mapping, std::size_t start, const KsIndexImage::Layout& layout)
    : mapping_(std::move(mapping)),
      data_(mapping_.Data()),
      size_(mapping_.Size()),
      start_(start),
      file_(layout.file),
      prototype_(std::make_unique<KsIndexKey>(*layout.prototype)),
      keyLength_(layout.keyLength),
      valueForm_(layout.prototype->Value(), layout.keyLength),
      oneKeyPerRecord_(layout.oneKeyPerRecord),
      inverseFlag_(layout.inverseFlag),
      inverseAsVector_(layout.inverseAsVector),
      universe_(layout.prototype->GetUniverse()) {
    valueBytes_ = valueForm_.IsAlpha() ? valueForm_.AlphaFileBytes() : valueForm_.StreamBytes();
    singleBytes_ = valueBytes_ + kPlainVectorHeader + 4;
}

KsIndexMap::~KsIndexMap() = default;

std::unique_ptr<KsIndexMap> KsIndexMap::Open(KsFileMapping mapping, std::size_t start,
                                             const KsIndexImage::Layout& layout) {
    std::unique_ptr<KsIndexMap> map(new KsIndexMap(std::move(mapping), start, layout));
    KsCallpath("ReadIndexSet()", kClass, [&] { map->Walk(); });
    map->CheckInverse();
    return map;
}

// Finds where every key lies and checks its bounds; the keys of one record in the plain
// form are checked a run at a time, straight from the mapping.
void KsIndexMap::Walk() {
    const char* file = file_.GetCString();
    if (size_ < start_ || size_ - start_ < 4) {
        EndsTooSoon(static_cast<std::int64_t>(size_), file);
    }
    const auto keyCount = LoadLittle<std::int32_t>(data_ + start_);
    if (keyCount < 0) {
        KsException::Generate("Index file \"%s\" has %ld keys", kClass, file,
                              static_cast<long>(keyCount));
    }
    keysAt_ = start_ + 4;
    std::int32_t k = CountSingles(keyCount);
    std::int64_t listed = k;
    std::size_t at = keysAt_ + static_cast<std::size_t>(k) * singleBytes_;
    if (k < keyCount) {
        LeaveOneEach(k, keyCount);
    }
    for (; k < keyCount; ++k) {
        offsets_.push_back(at);
        std::int32_t count = 0;
        at = ScanKey(at, k, count);
        if (count == 0) {
            KsException::Generate("Index file \"%s\" has key %ld without records", kClass, file,
                                  static_cast<long>(k));
        }
        listed += count;
    }
    if (!oneEach_) {
        offsets_.push_back(at);
    }
    keyCount_ = keyCount;
    keysEnd_ = at;
    // As many records listed as the index covers; a set counts as many as it says it
    // holds, which reading it checks.
    if (oneKeyPerRecord_) {
        KsIndexBytes::CheckListedCount(listed, universe_, file);
    }
}

// The keys from the first on while each holds one record in the plain vector form: how
// many there are. Their records are checked as they are taken.
std::int32_t KsIndexMap::CountSingles(std::int32_t keyCount) const {
    auto most =
        std::min<std::size_t>(static_cast<std::size_t>(keyCount), (size_ - keysAt_) / singleBytes_);
    const char* list = data_ + keysAt_ + valueBytes_;
    std::size_t i = 0;
    for (; i < most; ++i, list += singleBytes_) {
        if (!IsPlainVectorStart(list) ||
            LoadLittle<std::uint64_t>(list + KsIndexBytes::kPlainVectorSizes) !=
                KsIndexBytes::kOneRecordSizes) {
            break;
        }
    }
    return static_cast<std::int32_t>(i);
}

// Key k is the first of another kind: the keys before it get their offsets.
void KsIndexMap::LeaveOneEach(std::int32_t k, std::int32_t keyCount) {
    oneEach_ = false;
    // Room for every key the file can hold, so that a false count costs nothing.
    offsets_.reserve(std::min<std::size_t>(static_cast<std::size_t>(keyCount),
                                           (size_ - keysAt_) / kLeastKeyBytes) +
                     1);
    for (std::int32_t before = 0; before < k; ++before) {
        offsets_.push_back(keysAt_ + static_cast<std::size_t>(before) * singleBytes_);
    }
}

// Checks the bounds of key k at `at` and gives its record count; returns where it ends. A
// vector's header is read in place when it is of the form this library writes; any other
// form, and any fault, goes through the readers of key files, which give the error.
std::size_t KsIndexMap::ScanKey(std::size_t at, std::int32_t k, std::int32_t& count) {
    const char* file = file_.GetCString();
    const std::size_t list = at + valueBytes_;
    if (list >= size_) {
        EndsTooSoon(static_cast<std::int64_t>(size_), file);
    }
    const char* bytes = data_ + list;
    const std::size_t left = size_ - list;
    std::size_t end = 0;
    if (left >= kPlainVectorHeader && IsPlainVectorStart(bytes)) {
        const auto declared = LoadLittle<std::int32_t>(bytes + KsIndexBytes::kPlainVectorSizes);
        count = LoadLittle<std::int32_t>(bytes + kCountAt400);
        if (count >= 0 && count <= universe_ && declared >= 4 * std::int64_t{count}) {
            end = list + kPlainVectorHeader + static_cast<std::size_t>(declared);
        }
    }
    KsIndexKey::CheckForm(*bytes, file);
    BytesStream in(bytes + 1, left - 1, file, static_cast<std::int64_t>(list) + 1);
    if (*bytes != 0) {
        count = KsIndexKey::SkipSet(in, universe_, file);
        setKeys_.push_back(k);
        sets_.emplace_back();
        return list + 1 + in.Consumed();
    }
    if (end == 0) {
        const KsIndexKey::VectorExtent extent = KsIndexKey::ReadVectorHeader(in, universe_, file);
        count = extent.count;
        end = list + 1 + in.Consumed() + static_cast<std::size_t>(extent.bytes);
    }
    if (end > size_) {
        EndsTooSoon(static_cast<std::int64_t>(size_), file);
    }
    return end;
}

// The flag after the keys, and the bounds of the inverse index it announces.
void KsIndexMap::CheckInverse() {
    const char* file = file_.GetCString();
    std::size_t at = keysEnd_;
    if (inverseFlag_) {
        if (at >= size_) {
            EndsTooSoon(static_cast<std::int64_t>(size_), file);
        }
        hasInverse_ = data_[at++] != 0;
    }
    if (hasInverse_) {
        if (!oneKeyPerRecord_) {
            KsException::Generate("Index file \"%s\" has an inverse index", kClass, file);
        }
        const std::int64_t entries = std::int64_t{universe_} + 1;
        if (inverseAsVector_) {
            BytesStream in(data_ + at, size_ - at, file, static_cast<std::int64_t>(at));
            KsCallpath("Read", "KsInverseIndex",
                       [&] { KsInverseIndex::ReadVectorHeader(in, entries, file); });
            at += in.Consumed();
        }
        if (static_cast<std::uint64_t>(4 * entries) > size_ - at) {
            EndsTooSoon(static_cast<std::int64_t>(size_), file);
        }
        at += static_cast<std::size_t>(4 * entries);
    }
    end_ = at;
}

std::int32_t KsIndexMap::LowerBound(const KsRecordKey& value) {
    return valueForm_.LowerBound(value, keyCount_, valueBytes_,
                                 [this](std::int32_t k) { return ValueBytes(k); });
}

std::int32_t KsIndexMap::UpperBound(const KsRecordKey& value) {
    return valueForm_.UpperBound(value, keyCount_, valueBytes_,
                                 [this](std::int32_t k) { return ValueBytes(k); });
}

void KsIndexMap::Take(std::int32_t r, KsSet& result, const KsSet* mask) const {
    KsIndexKey::CheckListed(r, 0, universe_, file_.GetCString());
    if (mask == nullptr || mask->IsSelected(r)) {
        result.SelectRecord(r, true);
    }
}

// The record of key k of one record in the plain form.
std::int32_t KsIndexMap::SingleRecord(std::int32_t k) const {
    if (!records_.empty()) {
        return records_[static_cast<std::size_t>(k)];
    }
    return LoadLittle<std::int32_t>(data_ + KeyAt(k) + valueBytes_ + kPlainVectorHeader);
}

// Copies the records of keys of one record each into one array.
void KsIndexMap::GatherSingles() {
    records_.resize(static_cast<std::size_t>(keyCount_));
    const char* record = data_ + keysAt_ + valueBytes_ + kPlainVectorHeader;
    for (std::size_t k = 0; k < records_.size(); ++k, record += singleBytes_) {
        records_[k] = LoadLittle<std::int32_t>(record);
    }
}

// The set of the `which`-th set-form key, read in full the first time.
const KsIndexKey& KsIndexMap::SetKey(std::size_t which) {
    if (!sets_[which]) {
        const auto k = setKeys_[which];
        const std::size_t list = KeyAt(k) + valueBytes_;
        const std::size_t end = KeyAt(k + 1);  // past keys of one record each: offsets kept
        BytesStream in(data_ + list, end - list, file_.GetCString(),
                       static_cast<std::int64_t>(list));
        auto key = std::make_unique<KsIndexKey>(*prototype_);
        key->Read(in, file_.GetCString());
        sets_[which] = std::move(key);
    }
    return *sets_[which];
}

void KsIndexMap::GetSet(std::int32_t k, KsSet& result, const KsSet* mask) {
    assert(k >= 0 && k < keyCount_);
    if (oneEach_) {
        Take(SingleRecord(k), result, mask);
        return;
    }
    auto set = std::lower_bound(setKeys_.begin(), setKeys_.end(), k);
    if (set != setKeys_.end() && *set == k) {
        const KsIndexKey& key = SetKey(static_cast<std::size_t>(set - setKeys_.begin()));
        mask != nullptr ? key.GetSet(result, *mask) : key.GetSet(result);
        return;
    }
    const auto key = static_cast<std::size_t>(k);
    TakeRecords(offsets_[key] + valueBytes_, offsets_[key + 1], result, mask);
}

void KsIndexMap::GetSets(std::int32_t first, std::int32_t end, KsSet& result, const KsSet* mask) {
    // Reading records at the keys' steps costs more than copying them all once, as soon as
    // searches have taken a quarter of them.
    if (oneEach_ && records_.empty() && (singlesTaken_ += end - first) > keyCount_ / 4) {
        GatherSingles();
    }
    for (std::int32_t k = first; k < end; ++k) {
        GetSet(k, result, mask);
    }
}

// The records of the vector at `list`, whose key ends at `end`. Its header was checked when
// the file was opened; it is read again within the key's bytes, so that even a file changed
// under the mapping is read nowhere else.
void KsIndexMap::TakeRecords(std::size_t list, std::size_t end, KsSet& result,
                             const KsSet* mask) const {
    const char* bytes = data_ + list;  // at least the shorter header, checked when opened
    const bool plain = LoadLittle<std::int16_t>(bytes + 5) == KsIndexKey::kVectorVersion;
    const std::size_t first = list + (plain ? kPlainVectorHeader : kRecordsAt530);
    const auto count =
        first <= end ? LoadLittle<std::int32_t>(bytes + (plain ? kCountAt400 : kCountAt530)) : -1;
    if (count < 0 || static_cast<std::size_t>(count) > (end - first) / 4) {
        KsException::Generate("Index file \"%s\" changed while it was read", kClass,
                              file_.GetCString());
    }
    for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i) {
        Take(LoadLittle<std::int32_t>(data_ + first + 4 * i), result, mask);
    }
}

std::unique_ptr<KsIndexImage> KsIndexMap::LoadWhole() const {
    const KsIndexImage::Layout layout{prototype_.get(),  keyLength_,
                                      oneKeyPerRecord_,  inverseFlag_,
                                      inverseAsVector_,  static_cast<std::int64_t>(start_),
                                      file_.GetCString()};
    return KsIndexImage::Load(data_ + start_, size_ - start_, layout);
}
