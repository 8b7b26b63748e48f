#pragma once
/// @file
/// The inverse of an index: for each record number (1 to the record count) the number of the
/// key that holds it, -1 while none does. It makes a record's old value cheap to find.
///
/// Stream forms: a vector (see KsIndexKey) of record count + 1 entries, entry 0 unused; the
/// older form is the record count + 1 raw 4-byte entries.

#include <cstdint>
#include <functional>

#include "core/KsVector.h"

class KsInputStreamInterface;
class KsOutputStreamInterface;

/// The inverse of an index (see the file notes).
class KsInverseIndex {
public:
    /// The entries: entry 0 unused, then the key of each record, -1 for none.
    using Keys = KsVector<std::int32_t, KsLargeAllocator<std::int32_t>>;

    /// recordCount records, none with a key.
    explicit KsInverseIndex(std::int32_t recordCount);
    /// Takes over the entries (entry 0 unused, then the key of each record, -1 for none),
    /// leaving `keys` empty.
    explicit KsInverseIndex(Keys& keys) { keys_.swap(keys); }

    /// The number of records.
    std::int32_t GetRecordCount() const { return static_cast<std::int32_t>(keys_.size()) - 1; }
    /// The key of record r; "No key set for record %d" when none is.
    std::int32_t GetKeyNumber(std::int32_t r) const;
    /// Record r is held by key keyNumber.
    void SetKey(std::int32_t r, std::int32_t keyNumber);
    /// A key was inserted at keyNumber: the numbers from there on grow by 1.
    void AddKeyNumber(std::int32_t keyNumber);
    /// The key keyNumber went: the numbers above it shrink by 1.
    void RemoveKeyNumber(std::int32_t keyNumber);
    /// A record with key keyNumber comes in at r; later records move up.
    void InsertRecord(std::int32_t r, std::int32_t keyNumber);
    /// Record r goes; later records move down.
    void RemoveRecord(std::int32_t r);

    /// Whether every record has the same key number.
    bool operator==(const KsInverseIndex& other) const { return keys_ == other.keys_; }

    /// Writes the vector form (index version 510).
    void Write(KsOutputStreamInterface& stream) const;
    /// Writes the older raw form (index version 420).
    void WriteV420(KsOutputStreamInterface& stream) const;
    /// Reads a stored inverse index of this one's record count, in either form (vector with
    /// `asVector`), and tells whether it holds the same entries. Stored entries must be -1 or
    /// a key number below keyCount; `file` names the file in errors.
    bool ReadEqual(KsInputStreamInterface& stream, bool asVector, std::int32_t keyCount,
                   const char* file) const;

    /// Whether entries[0 .. count) of a stored inverse, those of records first onwards,
    /// agree with what the reader expects.
    using BlockCheck =
        std::function<bool(std::int32_t first, const std::int32_t* entries, std::int32_t count)>;
    /// Reads a stored inverse index of `entries` entries (entry 0 included) in either form,
    /// as ReadEqual does, handing its entries to `agrees` a block at a time, and tells whether
    /// every block agreed. Every entry is checked to be -1 or a key number below keyCount
    /// before its block is handed on.
    static bool ReadAgreeing(KsInputStreamInterface& stream, bool asVector, std::int32_t entries,
                             std::int32_t keyCount, const char* file, const BlockCheck& agrees);
    /// Reads the vector header of a stored inverse index (index version 510), which must
    /// announce `entries` entries, and stops before the entries.
    static void ReadVectorHeader(KsInputStreamInterface& stream, std::int64_t entries,
                                 const char* file);

private:
    Keys keys_;
};
