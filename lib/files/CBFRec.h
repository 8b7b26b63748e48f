#pragma once
/// @file
/// The record of compressed binary tables: exactly the bytes of one record of the data
/// file, read and written with the encodings of CBFFormat.h. Every field of its list must
/// be a CBFField that lies inside the record (CBFFile checks both when it opens a table).
///
/// A compressed binary field is never blank: IsBlank answers false and PutBlank stores
/// zero (zero bytes for Alpha and Binary fields). Boolean, Date, Time, Timestamp and Blob
/// fields are not supported: "CBFFiles do not support BOOLEAN fields" and the like.

#include <cstdint>
#include <memory>

#include "core/KsVector.h"
#include "files/CBFField.h"
#include "files/KsFileRecord.h"

/// A record of a compressed binary table (see the file notes). Numeric getters and
/// putters convert between the numeric types of the fields.
class CBFRec : public KsFileRecord {
public:
    /// A zeroed record of `recordLength` bytes over `fields`, with the table's user bit
    /// fields (both must outlive the record).
    CBFRec(const KsFieldList& fields, std::int16_t recordLength,
           const KsVector<CBFBits>& userBitFields);
    /// A copy of the bytes over the same fields and user bit fields.
    CBFRec(const CBFRec& other);
    ~CBFRec() override;
    CBFRec* Clone() const override;

    void Clear() override;
    /// Always false once n is checked: no field is ever blank.
    bool IsBlank(std::int32_t n) const override;
    /// No blanks: a Long holding -2147483648 shows as "-2147483648".
    bool HasBlanks() const override { return false; }

    const char* GetAlpha(std::int32_t n, char* buffer, std::uint32_t size,
                         bool trim) const override;
    void GetBinary(std::int32_t n, void* buffer, std::uint32_t size) const override;
    std::int32_t GetLong(std::int32_t n) const override;
    double GetNumber(std::int32_t n) const override;
    std::int16_t GetShort(std::int32_t n) const override;
    std::uint32_t GetUnsignedLong(std::int32_t n) const override;
    std::uint16_t GetUnsignedShort(std::int32_t n) const override;

    void PutAlpha(std::int32_t n, const char* text) override;
    void PutBinary(std::int32_t n, const void* bytes, std::uint32_t count) override;
    void PutBlank(std::int32_t n) override;
    void PutLong(std::int32_t n, std::int32_t value) override;
    /// "Number out of range" unless value * divisor lies in the signed 32-bit range (for a
    /// field with a divisor, its magnitude at most 2^31 - 1).
    void PutNumber(std::int32_t n, double value) override;
    /// "Number out of range" unless 0 <= value < 2^bits.
    void PutShort(std::int32_t n, std::int16_t value) override;
    void PutUnsignedLong(std::int32_t n, std::uint32_t value) override;
    void PutUnsignedShort(std::int32_t n, std::uint16_t value) override;

    /// @{
    /// Not supported by the format: they fail ("CBFFiles do not support ... fields").
    bool GetBoolean(std::int32_t n) const override;
    void GetDate(std::int32_t n, KsDate& date) const override;
    void GetTime(std::int32_t n, KsTime& time) const override;
    void GetTimestamp(std::int32_t n, KsTimestamp& timestamp) const override;
    void PutBoolean(std::int32_t n, bool value) override;
    void PutDate(std::int32_t n, const KsDate& date) override;
    void PutTime(std::int32_t n, const KsTime& time) override;
    void PutTimestamp(std::int32_t n, const KsTimestamp& timestamp) override;
    void GetBLOB(std::int32_t n, KsBlob& blob) const override;
    void PutBLOB(std::int32_t n, const KsBlob& blob) override;
    std::int32_t GetBLOBIndex(std::int32_t n) const override;
    /// @}

    std::int32_t GetRecordLength() const override { return recordLength_; }
    void Load(const void* bytes) override;
    void Store(void* bytes) const override;
    /// Exactly GetRecordLength() bytes.
    void ReadRecord(KsInputStreamInterface& stream) override;
    void WriteRecord(KsOutputStreamInterface& stream) const override;
    /// True for another record of exactly this class over the same fields and user bit
    /// fields with the same bytes: its bytes are its whole content.
    bool HasSameContentAs(const KsFileRecord& other) const override;

    /// @{
    /// The record's bytes, GetRecordLength() of them, owned by the record.
    unsigned char* GetBuffer() { return buffer_.get(); }
    const unsigned char* GetBuffer() const { return buffer_.get(); }
    /// @}
    /// The table's user bit fields, owned by the table.
    const KsVector<CBFBits>& GetUserBitFields() const { return userBitFields_; }

private:
    // Field n as a CBFField after the range check, with its bytes (and bit string) checked
    // to lie inside the record.
    const CBFField& FieldAt(std::int32_t n) const;
    // The bit string of a Short or Unsigned Short field; the value must fit its bits.
    std::uint16_t GetBits(const CBFField& field) const;
    void PutBits(const CBFField& field, std::int64_t value);
    // Any numeric field in its own encoding, as a double.
    double NumericValue(const CBFField& field) const;
    void PutNumericValue(const CBFField& field, double value);

    std::unique_ptr<unsigned char[]> buffer_;
    std::int16_t recordLength_;
    const KsVector<CBFBits>& userBitFields_;
};
