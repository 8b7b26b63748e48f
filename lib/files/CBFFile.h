#pragma once
/// @file
/// The compressed binary table (layout and encodings in CBFFormat.h) and its file type.
///
/// Reading: GotoRecord of the record after the last one read reads on through the data
/// file's 64000-byte buffer without seeking. Appending writes through the same buffer.
///
/// Header checks: a header is untrusted input. Open refuses a header without a positive
/// RecordLength, a NumberOfFields that differs from the field sections, fields or user bit
/// fields that do not lie inside the record, bit strings that leave their word, and field
/// classes other than CBFField, each with an error naming the header file.
///
/// Failed writes: DataInsert and DataDelete move the records behind the changed one in
/// place. DataInsert first grows the data file by one record (the one write that can fail
/// for lack of space) and, if that fails, cuts it back. If a write fails while records are
/// moving, the records already moved are moved back and the file is cut to its old size,
/// so that the table holds either its old or its new records; only a disk that also fails
/// the moving back leaves the table damaged. An append that fails is cut back to the last
/// whole record. Records are never written through a new file renamed
/// over the old one: other processes keep the data file open and hold their byte-range
/// locks on it.

#include <cstdint>
#include <memory>

#include "core/KsVector.h"
#include "files/CBFField.h"
#include "files/CBFRec.h"
#include "files/KsFile.h"
#include "files/KsFileType.h"
#include "files/KsStoredRecords.h"
#include "io/KsIOInterface.h"

/// A compressed binary table (see the file notes and CBFFormat.h).
class CBFFile : public KsFile, public KsStoredRecords {
public:
    /// A closed table whose files go through `factory` (which must outlive it).
    explicit CBFFile(KsIOFactory& factory = KsIOFactory::Default());
    ~CBFFile() override;

    /// KsFile's Close, then the data file is flushed and closed; a failure to write it is
    /// raised after the table is closed.
    void Close() override;
    /// Writes the header `name`.kss for `fields` (laid out by PackFields) and creates the
    /// empty data file `name`.cbf. Both names are checked first: "Header file \"%s\" already
    /// exists", "Data file \"%s\" already exists" (KsFileException); nothing is written then.
    void Create(const char* name, FieldList& fields, std::uint16_t primaryKeyFieldCount,
                bool buildIndexes) override;
    void Open(const char* name, int flags, const char* alternateHeader = nullptr,
              KsIniFile* ini = nullptr, const char* password = nullptr) override;

    std::int32_t DataAppend(KsFileRecord& record) override;
    /// Moves records n ... count up by one and writes `record` as record n (n from 1 to
    /// count + 1); then reads it into the current record. Returns n.
    std::int32_t DataInsert(std::int32_t n, KsFileRecord& record) override;
    /// Overwrites record n (1 to count); the current record number stays.
    std::int32_t DataModify(std::int32_t n, KsFileRecord& record,
                            KsFileRecord* oldRecord = nullptr) override;
    /// Moves records n + 1 ... count down by one and cuts one record off the end.
    void DataDelete(std::int32_t n, KsFileRecord* oldRecord = nullptr) override;
    /// Empties the data file; the record count and the current record number become 0.
    void Empty() override;
    void Flush() override;
    void Sync() override;
    /// The new data file must hold whole records; it takes the table's locks before it is
    /// renamed over the old one, and the selection is refreshed.
    void ReplaceDataFile(const char* replacement) override;
    void GotoRecord(std::int32_t n, KsFileRecord* record = nullptr) override;
    /// Lock the whole data file (LOCK_WRITE in the flags: exclusive, else shared) and count
    /// the lock; Unlock fails with "KsIO and KsFile lock counts do not match" when the data
    /// file and the count disagree about being released. Once the lock is held the record
    /// count is taken again from the data file's size, since other processes may have added
    /// or removed records while this one held no lock; Unlock first writes what is pending.
    void Lock(int flags) override;
    bool TryLock(int flags) override;
    bool Unlock(int flags) override;
    /// The table object has no stream form: "CBFFile is not streamable".
    void Read(KsInputStreamInterface& stream) override;
    void Write(KsOutputStreamInterface& stream) override;
    void ReadStructure(KsIniFile* ini = nullptr) override;
    void WriteStructure(KsIniFile* ini = nullptr, const FieldList* fields = nullptr) override;
    /// A new CBFField.
    std::unique_ptr<KsField> GetNewField() const override;
    /// A new CBFRec over the table's fields, record length and user bit fields.
    std::unique_ptr<KsFileRecord> GetNewRecord() override;
    std::int32_t GetNumRecords() const override { return recordCount_; }
    std::int32_t GetCurrentRecordNumber() const override { return currentRecordNumber_; }
    void ForgetCurrentRecord() override { currentRecordNumber_ = 0; }
    /// Lays out the fields (see the static PackFields) without user bit fields.
    void PackFields(FieldList& fields) override;
    const KsFileType& GetFileType() const override;

    /// A CBFField copied from any field: with its bit attributes from a CBFField, with them
    /// 0 from another field.
    virtual std::unique_ptr<CBFField> GetNewField(const KsField& field) const;
    /// Bytes per record.
    std::int16_t GetRecordLength() const override { return recordLength_; }
    /// Copies the user bit fields into `out` (replacing its content).
    virtual void GetUserBitFields(KsVector<CBFBits>& out) const;
    /// The format level, 40.
    virtual std::int32_t GetFormatLevel() const;
    /// The header's NumberOfFields.
    virtual std::uint16_t GetHeaderFieldCount() const { return headerFieldCount_; }

    /// Bytes of the data file after the last whole record.
    std::int64_t GetExtraBytes() const;
    /// Removes the records after the first `count` (0 to GetNumRecords()): the data file is
    /// cut at count * RecordLength, extra bytes included.
    void KeepRecords(std::int32_t count) override;
    /// @{
    /// The stored records (see KsStoredRecords): this table itself.
    KsStoredRecords* GetStoredRecords() override { return this; }
    void ReadStoredRecords(std::int32_t first, std::int32_t count, char* to) override;
    void WriteStoredRecords(std::int32_t first, std::int32_t count, const char* from) override;
    /// @}

    /// Lays out `fields` (all CBFFields): Number, Long, Unsigned Long and Currency fields
    /// without preset bits become 32-bit Number fields of 4 bytes (divisor 0 becomes 1),
    /// Alpha fields take 8 * Length bits, Short and Unsigned Short fields 16 bits unless
    /// preset; Numbers first, then the bit words (PackShortFields, also placing
    /// `userBitFields` when given), then the other fields. Refused: an empty list ("Files
    /// must have at least one field"), a field of another class ("Field %ld is not a
    /// CBFField."), a type without preset bits that the format cannot store ("Field type
    /// '%c' is not supported by CBFFiles"), a bit field of more than 16 bits, a field that
    /// ends up without bytes and a record longer than 32767 bytes.
    static void PackFields(KsVector<CBFBits>* userBitFields, FieldList& fields);
    /// Places the run of Short and Unsigned Short fields `run` (in that order) and the user
    /// bit fields first fit into 16-bit words from byte `startOffset`; returns the bytes of
    /// the words used.
    static std::int32_t PackShortFields(std::int32_t startOffset, KsVector<CBFBits>* userBitFields,
                                        const KsVector<CBFField*>& run);

private:
    void CloseQuietly() noexcept;
    // The record count from the data file's size (whole records only).
    void CountRecords();
    void Resynchronise();
    // RecordLength and NumberOfFields, with the checks of the fields against them.
    void ReadRecordLayout(KsIniSection& info, const char* header);
    void ReadUserBitFields(KsIniFile& structure, const char* header);
    void WriteUserBitFields(KsIniFile& structure) const;
    KsIOInterface& DataFile() const;
    // Byte offset of record n.
    std::int64_t RecordOffset(std::int32_t n) const;
    // "Record %d is not in the range [1, %d] of \"%s\"" unless 1 <= n <= last.
    void CheckRecordNumber(std::int32_t n, std::int32_t last) const;
    // Refuses a record of another length than the table's.
    void CheckRecordLength(const KsFileRecord& record) const;
    // The bytes of records first ... first + count - 1, which must lie in [1, last].
    std::int32_t StoredBytes(std::int32_t first, std::int32_t count, std::int32_t last) const;
    // Moves the data file to record n unless it is there already.
    void SeekRecord(std::int32_t n);
    void ReadRecordAt(std::int32_t n, KsFileRecord& record);
    void WriteRecordAt(std::int32_t n, const KsFileRecord& record);
    // Writes what is pending and moves the buffer to `end`, beyond the bytes that a move
    // of records touches.
    void ParkDataFile(std::int64_t end);
    void InsertInPlace(std::int32_t n, const KsFileRecord& record);

    std::unique_ptr<KsIOInterface> dataFile_;
    std::uint16_t headerFieldCount_ = 0;
    std::int16_t recordLength_ = 0;
    std::int32_t currentRecordNumber_ = 0;
    std::int32_t recordCount_ = 0;
    // The record whose end the data file's position is at; -1 when unknown.
    std::int32_t positionedAfter_ = -1;
    KsVector<CBFBits> userBitFields_;
};

/// The one process-wide type of compressed binary tables.
class CBFFileType : public KsFileType {
public:
    /// The one object, alive for the whole program.
    static const CBFFileType& Instance();

    std::unique_ptr<KsFileType> Clone() const override;
    /// Alpha, Binary, Long, Number, Short, Unsigned Short, Unsigned Long.
    void GetSupportedFieldTypes(KsVector<const KsFieldType*>& types) const override;
    const char* GetTypeName() const override;
    const char* GetDataFileExtension() const override;
    bool CanCreateFiles() const override { return true; }
    bool CanPackFields() const override { return true; }
    std::unique_ptr<KsFile> NewFile(KsIOFactory& factory = KsIOFactory::Default()) const override;
    /// Fails: "CBFFile is not streamable".
    std::unique_ptr<KsFile> ReadFile(KsInputStreamInterface& stream,
                                     KsIOFactory& factory = KsIOFactory::Default()) const override;
};
