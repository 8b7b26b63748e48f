#pragma once
/// @file
/// A selection over the records of a table: one bit per record number (records 1 to
/// GetSize()), a cached count of the selected records and a run-length-compressed form for
/// storage. Tables keep their selections in step with inserted and deleted records; index
/// keys hold their records as sets; index files store them in their stream form.
///
/// Bitmap: record r is bit 0x80 >> ((r - 1) % 8) of byte (r - 1) / 8, so the lowest record
/// number of a byte is its most significant bit. The chunk always holds at least 8 zero
/// bytes after the bitmap, so whole-set operations and searches read whole 8-byte blocks,
/// and every bit past the last record is zero, so a record appended at the end starts
/// unselected. Beyond that, every byte of the chunk past the bitmap is kept zero, so a
/// bitmap that grows into old room never finds stale bits there.
///
/// Compressed form: a byte other than 0x00 and 0xFF stands for itself; a 0x00 or 0xFF byte
/// is followed by a count byte (1 to 255), the length of the run of that byte. Every
/// operation that looks at bits expands a compressed set first.
///
/// Stream form, little-endian:
///   4  marker 11          2  version 400
///   4  record count       4  bitmap byte count     4  selected count (-1: count on demand)
///   compressed bitmap, its length not stored: a reader stops where it expands to the
///   byte count.
/// A reader refuses a header whose counts disagree, a compressed bitmap that would expand
/// beyond its byte count, bits set past the last record and a selected count other than
/// -1 that is not the number of bits set.
///
/// Compressing and expanding change only the representation, so they are allowed on a
/// const set (a set handed out for reading may still be expanded to be read).

#include <cstdint>

#include "core/KsArrayPointerObject.h"
#include "core/KsResizableChunk.h"
#include "io/KsStreamInterface.h"

/// A selection over the records of a table (see the file notes). A record number outside
/// the set raises "Set record value of %ld not valid for set with %ld records."
/// (KsException).
class KsSet : public KsArrayPointerObject {
public:
    /// @{
    /// The stream form's marker and version.
    static constexpr char kStreamMarker = 11;
    static constexpr std::int16_t kStreamVersion = 400;
    /// @}

    /// lRecords records, all or none selected. A negative size is refused.
    explicit KsSet(std::int32_t lRecords = 0, bool bAllSelected = false);
    /// @{
    /// A copy of the records, form and count (as Copy).
    KsSet(const KsSet& other);
    KsSet& operator=(const KsSet& other);
    /// @}
    ~KsSet() override = default;
    KsSet* Clone() const override { return new KsSet(*this); }

    /// lRecords records, none selected, uncompressed.
    void Init(std::int32_t lRecords);
    /// Takes the other set's records, form (compressed or not), bytes and cached count.
    void Copy(const KsSet& other);
    /// lRecords records, all or none selected; keeps the chunk's room. Returns the count.
    std::int32_t Reset(std::int32_t lRecords, bool bSelect);

    /// The number of records.
    std::int32_t GetSize() const { return recordCount_; }
    /// The bytes of the expanded bitmap, (GetSize() + 7) / 8.
    std::int32_t GetByteCount() const { return byteCount_; }
    /// Whether the set is held in its compressed form.
    bool IsCompressed() const { return compressed_; }
    /// The bitmap with its zero slack, or the compressed bytes when IsCompressed().
    const KsResizableChunk& GetChunk() const { return bits_; }

    /// The number of records selected (counted once and cached).
    std::int32_t GetSelectedCount() const;
    /// The smallest selected record above lRecord (0 gives the first), or 0 when none.
    std::int32_t GetNextInSet(std::int32_t lRecord) const;
    /// Whether record lRecord (1 to GetSize()) is selected.
    bool IsSelected(std::int32_t lRecord) const;

    /// Selects or deselects record lRecord (1 to GetSize()).
    void SelectRecord(std::int32_t lRecord, bool bSelect);
    /// Inserts a record at lRecord (1 to GetSize() + 1); later records move up by one.
    void AddToSet(std::int32_t lRecord, bool bSelect);
    /// Removes record lRecord; later records move down by one.
    void DeleteFromSet(std::int32_t lRecord);
    /// Drops the records after lRecords; a set of lRecords or fewer stays as it is.
    void Truncate(std::int32_t lRecords);

    /// @{
    /// Whole-set operations; every set involved must have as many records as this one
    /// (KsException otherwise).
    void AndSet(const KsSet& other);
    void OrSet(const KsSet& other);
    /// @}
    /// this = this OR (a AND b).
    void MaskedOrSet(const KsSet& a, const KsSet& b);
    /// Selects every record; returns the count.
    std::int32_t AllRecords();
    /// Deselects every record.
    void NoRecords();
    /// Appends the other set's records after this set's, whose count must be a multiple
    /// of 8; stays compressed when the other set is compressed.
    void ByteAppend(const KsSet& other);

    /// @{
    /// Switch to the compressed or the expanded form; the records stay as they are.
    void Compress() const;
    void Expand() const;
    /// @}

    /// Writes the stream form; the set is compressed afterwards.
    void Write(KsOutputStreamInterface& stream) const;
    /// Replaces this set with one read from its stream form; on failure the set is unchanged.
    /// A form the notes above refuse raises KsException naming the stream's file.
    void Read(KsInputStreamInterface& stream);
    /// What Skip finds of a stored set.
    struct Stored {
        std::int32_t records;   ///< its record count
        std::int32_t selected;  ///< the records it selects, as its header gives them
    };
    /// Reads past a set's stream form, checked as Read checks it but for the bits it selects
    /// (bits past the last record, the selected count), which only a Read checks. A header
    /// that leaves the count to the reader (-1, or any other negative count) has the bits
    /// counted.
    static Stored Skip(KsInputStreamInterface& stream);

private:
    // Grows the chunk, zero-filled, to hold a bitmap of byteCount bytes and its slack;
    // called before the counts change, so a failed growth leaves the set as it was.
    void MakeRoom(std::int32_t byteCount);
    void CheckRecord(std::int32_t lRecord, std::int32_t lastValid) const;
    void CheckSameSize(const KsSet& other) const;
    bool HoldsItsForm() const;
    void PrivateCompress() const;
    void PrivateExpand() const;
    unsigned char* Bytes() const { return reinterpret_cast<unsigned char*>(bits_.GetData()); }
    // Expands this set and `others`, then replaces each block of this bitmap by
    // combine(block, blocks of the others).
    template <class Combine, class... Others>
    void CombineBlocks(Combine combine, const Others&... others);

    mutable std::int32_t selectedCount_ = 0;
    std::int32_t byteCount_ = 0;
    std::int32_t recordCount_ = 0;
    mutable bool compressed_ = false;
    mutable KsResizableChunk bits_;
};
