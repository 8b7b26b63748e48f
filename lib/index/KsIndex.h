#pragma once
/// @file
/// An index of one field of a table: every distinct value of the field (a KsIndexKey, in the
/// order of the field's record key) with the records that hold it. Searches answer with
/// record sets: the records whose value equals a key or lies in a range (both ends included),
/// optionally only those in a mask. The index follows record changes: a record inserted or
/// deleted in the middle renumbers the records after it, a changed value moves the record to
/// another key. Alpha fields keep a second, case-blind order of the same keys, made when a
/// search first asks for it. An optional
/// inverse index maps each record to its key number, which makes value updates cheap.
///
/// Search values and record values are given as the field's comparable key bytes.
///
/// Index file, little-endian:
///   4+2 header: marker 3, version 510 (written), 420 or 400 (read too)
///   1   field type letter     2  key length     4  record count     4  key count
///   the keys in order, each: the value, then the record list (see KsIndexKey). The value of
///       an Alpha key shorter than 8 bytes is 8 bytes, its text and zeros; of a longer one its
///       stream form and 2 zero bytes; of any other key its stream form.
///   versions 420 and 510: 1 byte, 1 when the inverse index follows, then the inverse index:
///       510 as a vector, 420 as record count + 1 raw 4-byte entries.
/// A reader checks the type, the key length and (unless told not to) the record count against
/// the index it reads into, and trusts nothing else: keys must be strictly ascending, every
/// record must lie in exactly one key and a stored inverse index must agree with the keys.
/// A read index keeps its values and records in compact arrays made while the file is read,
/// a built one its sorted runs, and answers searches and writes from them; its keys become
/// objects when it first changes or a caller asks for a key.
///
/// An opened index (Open) maps a plain file read-only instead and answers from the mapping:
/// opening checks the header and the bounds every later read relies on, searches check the
/// records they take, and the order and single-place checks above wait for the first change
/// or key asked for, which read the mapping whole (see KsIndexMap). Index files are replaced
/// by renaming a new file over the old one, never cut in place, so a mapping does not change
/// under its reader; another program that truncates a mapped file in place can end the
/// reader with SIGBUS, as with any program that maps its files.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/KsSortedVector.h"
#include "index/KsIndexKey.h"
#include "index/KsInverseIndex.h"

class KsFile;
class KsIndexImage;
class KsIndexMap;
class KsIndexRuns;
class KsInputStreamInterface;
class KsIOInterface;
class KsOutputStreamInterface;
class KsProgressInterface;
class KsSet;

/// An index of one field of a table (see the file notes). A table owns the indexes it
/// loads (KsFile::GetIndex); one made here belongs to its maker. Even its const calls may
/// make the keys of a read file, so one index is used by one thread at a time.
class KsIndex {
public:
    /// @{
    /// The index file's marker, the version written and the older versions read.
    static constexpr char kMarker = 3;
    static constexpr std::int16_t kVersion = 510;
    static constexpr std::int16_t kVersion420 = 420;
    static constexpr std::int16_t kVersion400 = 400;
    /// @}
    /// Bytes of the file before the key count: header, type, key length, record count.
    static constexpr std::int64_t kHeaderBytes = 4 + 2 + 1 + 2 + 4;
    /// Alpha values shorter than this are stored padded to it.
    static constexpr std::uint16_t kShortAlphaBytes = 8;
    /// Records per block of an iterative build.
    static constexpr std::int32_t kBlockRecords = 32768;

    /// The keys in the order of the field's record key, owned by the index.
    using Keys = KsSortedVector<KsIndexKey, KsIndexKeyLess, KsIndexKeyEqual>;

    /// Built from the table's records of the field: straight up to the straight build limit,
    /// iteratively beyond it. `progress` may be null.
    KsIndex(KsFile& table, std::uint16_t fieldNumber, KsProgressInterface* progress);
    /// Empty, for a field of that type and key length over recordCount records.
    KsIndex(char type, std::uint16_t keyLength, std::int32_t recordCount);
    /// @{
    /// Not copyable.
    KsIndex(const KsIndex&) = delete;
    KsIndex& operator=(const KsIndex&) = delete;
    /// @}
    virtual ~KsIndex();

    /// @{
    /// Adds to `result` the records of the keys equal to `low` (high null) or from `low` to
    /// `high`, in the alternate order when asked; the masked form only those also in `mask`.
    /// A result of another size is first made an empty set of the index's records. `low`
    /// and `high` are comparable key bytes of the field (KsRecordKey::ComparableKeyOf).
    virtual void MaskedSearch(const void* low, const void* high, KsSet& result, const KsSet& mask,
                              bool alternateOrder = false);
    virtual void Search(const void* low, const void* high, KsSet& result,
                        bool alternateOrder = false);
    /// @}
    /// @{
    /// The same with typed keys: `low` and `high` are keys of the field's own class and
    /// length, as KsRecordKey::Extract makes them from a record that holds the value. A key
    /// of another class or comparable length raises KsException ("The search key ... does
    /// not fit ...") instead of being read past its end.
    void MaskedSearch(const KsRecordKey& low, const KsRecordKey* high, KsSet& result,
                      const KsSet& mask, bool alternateOrder = false);
    void Search(const KsRecordKey& low, const KsRecordKey* high, KsSet& result,
                bool alternateOrder = false);
    /// @}
    /// Adds record `record` under the value; returns the key number.
    virtual std::int32_t SetRecord(std::int32_t record, const void* keyBytes);

    /// A record with that value comes in at `record`; later records move up.
    void InsertRecord(std::int32_t record, const void* keyBytes);
    /// Record `record` goes; later records move down; keys left empty go.
    void DeleteRecord(std::int32_t record);
    /// Record `record` now holds that value.
    void UpdateRecord(std::int32_t record, const void* keyBytes);

    /// @{
    /// Replace the keys by those of the table's records of the field: all records read at
    /// once, or in blocks of records merged in turn (see SetMergeBytes). Errors of the
    /// table and of `progress` pass through.
    void StraightBuild(KsFile& table, std::uint16_t fieldNumber, KsProgressInterface& progress);
    void IterativeBuild(KsFile& table, std::uint16_t fieldNumber, KsProgressInterface& progress);
    /// @}
    /// Makes the case-blind order of an Alpha index now.
    void BuildAlternateOrderArray();
    /// Makes the inverse index from the keys.
    void BuildInverseIndex(KsProgressInterface& progress);
    /// Replaces the index by the one in the stream; on failure the index is unchanged.
    void Read(KsInputStreamInterface& stream, bool ignoreRecordCount = false);
    /// Replaces the index by the one in the file from its position on, as Read does; a plain
    /// system file open only for reading is mapped instead of read, and only its header and
    /// bounds are checked now (see the file notes). The file is left just after the index;
    /// on failure the index is unchanged.
    void Open(KsIOInterface& file, bool ignoreRecordCount = false);
    /// Whether the index answers from a mapping of its file.
    bool IsMapped() const { return map_ != nullptr; }
    /// Reads a mapped index whole and checks all of it as Read does (a change does it first);
    /// nothing for an index that is not mapped. On failure the index stays mapped.
    void Unmap();
    /// Writes the index file form of `version` (510, 420 or 400).
    void Write(KsOutputStreamInterface& stream, std::int16_t version = kVersion);
    /// Drops every key (and the alternate order and inverse index).
    void DestroyKeyArray();

    /// @{
    /// Whether the index changed since it was read or saved.
    bool IsModified() const { return modified_; }
    void SetModified(bool modified) { modified_ = modified; }
    /// @}
    /// The field's type letter.
    char GetFieldType() const { return fieldType_; }
    /// The bytes of the field's comparable key.
    std::uint16_t GetKeyLength() const { return keyLength_; }
    /// The number of records of the table indexed.
    std::int32_t GetRecordCount() const { return recordCount_; }
    /// The number of distinct values.
    std::int32_t GetKeyCount() const;
    /// Key `number` from 0 in key order, owned by the index; an index outside raises the
    /// vector's range error.
    const KsIndexKey& GetKey(std::int32_t number) const;
    /// Whether the inverse index is kept.
    bool HasInverseIndex() const;
    /// Whether the case-blind order is kept.
    bool HasAlternateOrder() const { return alternateOrder_; }
    /// Same type, records, keys and record lists (forms aside).
    bool IsSameAs(const KsIndex& other) const;

    /// @{
    /// Process-wide: tables of more records than this are built iteratively (0: always
    /// straight). 32,768 unless set.
    static void SetStraightBuildLimit(std::int32_t records);
    static std::int32_t GetStraightBuildLimit();
    /// @}
    /// Process-wide: a build sorts and merges the values of whole blocks of records up to this
    /// many key bytes at a time (16 MiB unless set); each merge walks every key made so far.
    static void SetMergeBytes(std::int32_t bytes);

protected:
    /// Whether records are in exactly one key each (not so for blob indexes).
    bool KeepsInverseIndex() const;
    /// The key whose value equals the prototype, or -1.
    std::int32_t FindPrototype() const;
    /// The scratch key that searches and updates fill with a value.
    KsIndexKey& Prototype() { return *prototype_; }
    /// The keys.
    const Keys& GetKeys() const;

private:
    struct FileHeader {
        std::int16_t version;
        std::int32_t records;
    };
    FileHeader ReadHeader(KsInputStreamInterface& stream, const char* file,
                          bool ignoreRecordCount) const;
    // Replaces the keys by those of a file of that many records that was read or mapped.
    void TakeOver(std::int32_t records);
    void SearchRange(const void* low, const void* high, bool alternateOrder, KsSet& result,
                     const KsSet* mask);
    void SearchRuns(const void* low, const void* high, KsSet& result, const KsSet* mask);
    // The comparable bytes of a typed search key, checked against the index's own keys.
    std::string ComparableBytesOf(const KsRecordKey& key, const char* which) const;
    void SearchAlternate(const KsRecordKey& low, const KsRecordKey* high, KsSet& result,
                         const KsSet* mask);
    // Turns the keys of a read file into objects (nothing when they are already).
    void Materialise() const;
    // Reads a mapped file whole (nothing when the index is not mapped).
    void UnmapKeys() const;
    void BuildInBlocks(KsFile& table, std::uint16_t fieldNumber, KsProgressInterface& progress,
                       std::int32_t blockRecords, std::int32_t reportEvery);
    void InsertAlternate(KsIndexKey* key);
    void RemoveAlternate(const KsIndexKey* key, std::int32_t number);
    void EnsureInverseIndex();
    void WriteValue(KsOutputStreamInterface& stream, const KsRecordKey& value) const;
    void WriteKeys(KsOutputStreamInterface& stream);

    bool modified_ = false;
    char fieldType_ = 0;
    std::uint16_t keyLength_ = 0;
    std::int32_t recordCount_ = 0;
    std::unique_ptr<KsIndexKey> prototype_;
    // The keys of a read file stay in its image until they are needed as objects.
    mutable Keys keys_;
    mutable std::unique_ptr<KsIndexImage> image_;
    // The keys of an opened file stay in its mapping until they are needed in memory.
    mutable std::unique_ptr<KsIndexMap> map_;
    // The keys of a build stay in its runs until they are needed as objects.
    mutable std::unique_ptr<KsIndexRuns> runs_;
    // Alpha fields keep the alternate order, built when a search first asks for it (or by
    // BuildAlternateOrderArray) and kept in step from then on.
    bool alternateOrder_ = false;
    std::unique_ptr<std::vector<KsIndexKey*>> alternate_;
    // A read file's inverse index stays in its image, unmade while every key holds one
    // record, until the keys become objects.
    mutable std::unique_ptr<KsInverseIndex> inverse_;
};
