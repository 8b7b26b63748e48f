#pragma once
/// @file
/// One distinct value of an index and the records that hold it. The records are kept either
/// as an ascending vector of record numbers (sparse keys) or as a KsSet bitmap over the
/// index's records (dense keys); exactly one form is present. A vector key turns into a set
/// when a record is added while it already holds (universe / 32) + 1 records, the point at
/// which 4-byte record numbers outgrow a bitmap of universe bits; the set form stays.
///
/// Stream form of one key (after the value, which the index writes):
///   1  form: 1 set, 0 vector
///   set form: the KsSet stream form
///   vector form: header marker 0, version 400; 2 element size 4; 4 value 128;
///                4 byte size (4 x count); 4 count; 4 growth; count 4-byte record numbers
/// A reader also takes vector version 530 (count, growth, elements).

#include <cstdint>
#include <functional>
#include <memory>

#include "core/KsVector.h"
#include "index/KsRecordKey.h"
#include "index/KsSet.h"

class KsInputStreamInterface;
class KsOutputStreamInterface;

/// One distinct value of an index and its records (see the file notes).
class KsIndexKey {
public:
    /// @{
    /// Vector form constants of the stream form.
    static constexpr char kVectorMarker = 0;
    static constexpr std::int16_t kVectorVersion = 400;
    static constexpr std::int16_t kVectorVersionCompact = 530;
    static constexpr std::int32_t kVectorValue = 128;
    /// @}

    /// A key holding no record yet, of `value` over `universe` records.
    KsIndexKey(std::unique_ptr<KsRecordKey> value, std::int32_t universe);
    /// A copy of the prototype's value and universe, holding no record.
    KsIndexKey(const KsIndexKey& prototype);
    /// Not assignable.
    KsIndexKey& operator=(const KsIndexKey&) = delete;

    /// @{
    /// The value, owned by the key.
    KsRecordKey& Value() { return *value_; }
    const KsRecordKey& Value() const { return *value_; }
    /// @}
    /// @{
    /// The number of records of the index (the highest record number a key may hold).
    std::int32_t GetUniverse() const { return universe_; }
    void SetUniverse(std::int32_t universe) { universe_ = universe; }
    /// @}
    /// Whether the records are held as a set rather than a vector.
    bool IsSetForm() const { return set_ != nullptr; }
    /// The number of records the key holds.
    std::int32_t GetRecordCount() const;
    /// The records in ascending order (for checks and tests).
    KsVector<std::int32_t> GetRecords() const;
    /// Calls visit(record) for each record in ascending order.
    template <class Visit>
    void ForEachRecord(Visit visit) const {
        if (!set_) {
            for (std::int32_t r : records_) {
                visit(r);
            }
            return;
        }
        for (std::int32_t r = set_->GetNextInSet(0); r != 0; r = set_->GetNextInSet(r)) {
            visit(r);
        }
    }

    /// Adds record r (1 to the universe); converts to the set form first when the rule says so.
    void SetRecord(std::int32_t r);
    /// Renumbers for a record inserted at r: the universe grows by 1, records from r move up.
    void InsertRecord(std::int32_t r);
    /// Renumbers for record r deleted: r goes, later records move down, the universe shrinks
    /// by 1. True when no record is left.
    bool DeleteRecordIsEmpty(std::int32_t r);
    /// Replaces the records by `count` records, ascending and within the universe, in the
    /// form the rule above gives a key of that many records.
    void AssignRecords(const std::int32_t* records, std::int32_t count);
    /// Replaces the records by `count` records, ascending and within the universe, held as a
    /// vector whatever their number (the form an index file gave them).
    void AssignVector(const std::int32_t* records, std::int32_t count);
    /// Switches to the set form now.
    void ConvertArrayToSet();
    /// @{
    /// Adds the key's records (all, or those also in `mask`) to `result`, whose size must be
    /// the universe.
    void GetSet(KsSet& result) const;
    void GetSet(KsSet& result, const KsSet& mask) const;
    /// @}
    /// Compresses the set form (nothing for the vector form).
    void Compress() const;

    /// The record list's stream form.
    void Write(KsOutputStreamInterface& stream) const;
    /// Replaces the record list with one read from the stream; every record must lie in the
    /// universe, ascending; `file` names the file in errors.
    void Read(KsInputStreamInterface& stream, const char* file);

    /// Writes the stream form a key of these records (ascending, within `universe`) has.
    static void WriteRecords(KsOutputStreamInterface& stream, const std::int32_t* records,
                             std::int32_t count, std::int32_t universe);

    /// Reads a record list of the vector form (its form byte already read) without keeping
    /// it: each record goes to visit(record), checked as Read checks it, against `universe`.
    /// Returns the number of records.
    static std::int32_t ScanVector(KsInputStreamInterface& stream, std::int32_t universe,
                                   const char* file,
                                   const std::function<void(std::int32_t)>& visit);
    /// What follows a vector form's header: `count` records, then padding up to `bytes`.
    struct VectorExtent {
        std::int32_t count;  ///< records listed
        std::int64_t bytes;  ///< bytes of the records and the padding after them
    };
    /// Reads the header of a record list of the vector form (its form byte already read),
    /// checked as ScanVector checks it against `universe`, and stops before the records.
    static VectorExtent ReadVectorHeader(KsInputStreamInterface& stream, std::int32_t universe,
                                         const char* file);
    /// Raises the error of a form byte other than 0 (vector) and 1 (set).
    static void CheckForm(char form, const char* file);
    /// Reads past a record list of the set form (its form byte already read), checked as
    /// Read checks it but for the bits it selects (see KsSet::Skip), against `universe`;
    /// returns the number of records it gives.
    static std::int32_t SkipSet(KsInputStreamInterface& stream, std::int32_t universe,
                                const char* file);
    /// Raises the error of a listed record r that does not follow `last` (0 before the
    /// first) or lies outside the universe.
    static void CheckListed(std::int32_t r, std::int32_t last, std::int32_t universe,
                            const char* file) {
        if (r <= last || r > universe) {
            ListedOutOfOrder(r, file);
        }
    }

    /// @{
    /// Process-wide switch count: 0 (the default) selects the rule above, another value
    /// makes the set form hold every key of more records than that.
    static void SetSwitchCount(std::int32_t count);
    static std::int32_t GetSwitchCount();
    /// @}

private:
    [[noreturn]] static void ListedOutOfOrder(std::int32_t r, const char* file);
    static void CheckSetSize(std::int32_t records, std::int32_t universe, const char* file);
    // Whether a key of that many records over `universe` records holds them as a set.
    static bool HoldsAsSet(std::int64_t records, std::int32_t universe);
    static void WriteVector(KsOutputStreamInterface& stream, const std::int32_t* records,
                            std::int32_t count);

    std::unique_ptr<KsRecordKey> value_;
    KsVector<std::int32_t> records_;
    std::unique_ptr<KsSet> set_;
    std::int32_t universe_ = 0;
};

/// Orders index keys by their values.
struct KsIndexKeyLess {
    /// Whether `a`'s value orders before `b`'s.
    bool operator()(const KsIndexKey* a, const KsIndexKey* b) const {
        return a->Value().IsLessThan(b->Value());
    }
};
/// Compares index keys by their values.
struct KsIndexKeyEqual {
    /// Whether the values are equal.
    bool operator()(const KsIndexKey* a, const KsIndexKey* b) const {
        return a->Value().IsEqual(b->Value());
    }
};
