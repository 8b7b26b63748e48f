#pragma once
/// @file
/// The keys of a saved index answered straight from a read-only mapping of its file, so that
/// a process that asks a few questions reads only what it needs and copies nothing.
///
/// Open checks what every later read relies on: the key count, each key's bytes inside the
/// file (its value, a vector's header and records, a set's header and compressed bitmap),
/// no key without records, as many records listed as the index covers (a set counting the
/// records its header gives) and the bounds of a stored inverse index. Searches find keys
/// by binary search on the mapped values, read a set in full when they first need it and
/// check every record they take. The rest of the checks of a file read whole (keys in order,
/// every record in exactly one key and in ascending order within it, the bits of every set,
/// a stored inverse agreeing with the keys) wait for LoadWhole, which reads the mapping as a
/// file read whole is read; a change of the index, which needs its keys as objects, calls it
/// first. A file that breaks only those rules may answer a search wrongly, but no read leaves
/// the mapping.
///
/// While every key holds one record in the vector form this library writes (the keys of a
/// field of distinct values), the keys lie at equal steps and their offsets are not kept;
/// once searches have taken the records of a quarter of them, the records are copied into
/// one array, so that range searches read them side by side. Past the first key of another
/// kind, every key's offset is kept.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "core/KsString.h"
#include "index/KsIndexBytes.h"
#include "index/KsIndexImage.h"
#include "platform/KsFileMapping.h"

class KsIndexKey;
class KsRecordKey;
class KsSet;

/// The keys of a saved index in a mapping of its file (see the file notes).
class KsIndexMap {
public:
    /// Takes the mapping of an index file whose key count is at offset `start`, and checks
    /// the bounds of everything after it (see the file notes); raises the error of the first
    /// fault found. The layout's headerBytes is not used: offsets are the file's.
    static std::unique_ptr<KsIndexMap> Open(KsFileMapping mapping, std::size_t start,
                                            const KsIndexImage::Layout& layout);

    KsIndexMap(const KsIndexMap&) = delete;
    KsIndexMap& operator=(const KsIndexMap&) = delete;
    ~KsIndexMap();

    /// The number of keys.
    std::int32_t GetKeyCount() const { return keyCount_; }
    /// Whether the file holds an inverse index (not yet checked against the keys).
    bool HasInverse() const { return hasInverse_; }
    /// The offset just after the index.
    std::size_t End() const { return end_; }
    /// The value of key k, in a scratch key that the next call overwrites.
    const KsRecordKey& ValueAt(std::int32_t k) { return valueForm_.At(ValueBytes(k), valueBytes_); }
    /// The first key whose value is not less than `value` (the key count when none).
    std::int32_t LowerBound(const KsRecordKey& value);
    /// The first key whose value is greater than `value` (the key count when none).
    std::int32_t UpperBound(const KsRecordKey& value);
    /// Adds the records of key k to `result` (with a mask, only those also in it); a record
    /// outside the index's records, or a set that does not read, is an error.
    void GetSet(std::int32_t k, KsSet& result, const KsSet* mask);
    /// The same for keys first up to end.
    void GetSets(std::int32_t first, std::int32_t end, KsSet& result, const KsSet* mask);
    /// The index read whole from the mapping and checked in full, as KsIndexImage::Load
    /// checks a file; raises the error of the first fault found.
    std::unique_ptr<KsIndexImage> LoadWhole() const;

private:
    KsIndexMap(KsFileMapping mapping, std::size_t start, const KsIndexImage::Layout& layout);
    void Walk();
    std::int32_t CountSingles(std::int32_t keyCount) const;
    void LeaveOneEach(std::int32_t k, std::int32_t keyCount);
    std::size_t ScanKey(std::size_t at, std::int32_t k, std::int32_t& count);
    void CheckInverse();
    void GatherSingles();
    const KsIndexKey& SetKey(std::size_t which);
    void TakeRecords(std::size_t list, std::size_t end, KsSet& result, const KsSet* mask) const;
    void Take(std::int32_t r, KsSet& result, const KsSet* mask) const;
    std::size_t KeyAt(std::int32_t k) const {
        auto key = static_cast<std::size_t>(k);
        return oneEach_ ? keysAt_ + key * singleBytes_ : offsets_[key];
    }
    const char* ValueBytes(std::int32_t k) const { return data_ + KeyAt(k); }
    std::int32_t SingleRecord(std::int32_t k) const;

    KsFileMapping mapping_;
    const char* data_;
    std::size_t size_;
    std::size_t start_;  // the key count's offset
    KsString file_;
    std::unique_ptr<KsIndexKey> prototype_;  // its universe is the file's record count
    std::uint16_t keyLength_;
    KsIndexBytes::Values valueForm_;
    bool oneKeyPerRecord_;
    bool inverseFlag_;
    bool inverseAsVector_;
    std::int32_t universe_;
    std::size_t valueBytes_ = 0;   // every value takes as many bytes in the file
    std::size_t singleBytes_ = 0;  // a key of one record in the plain vector form
    std::int32_t keyCount_ = 0;
    std::size_t keysAt_ = 0;  // the first key's offset
    // While every key so far is of one record in the plain form, key k lies at keysAt_ +
    // k x singleBytes_; its record is read from there until records_ holds them all. After,
    // key k lies at offsets_[k] (offsets_[keyCount_] is where the keys end).
    bool oneEach_ = true;
    std::int64_t singlesTaken_ = 0;  // records taken from the mapping before records_
    KsIndexBytes::Array<std::int32_t> records_;
    std::vector<std::size_t> offsets_;
    // The keys of the set form by number, ascending, and each one's set once it was read.
    std::vector<std::int32_t> setKeys_;
    std::vector<std::unique_ptr<KsIndexKey>> sets_;
    std::size_t keysEnd_ = 0;
    bool hasInverse_ = false;
    std::size_t end_ = 0;
};
