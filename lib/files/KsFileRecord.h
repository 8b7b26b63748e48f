#pragma once
/// @file
/// Records: the in-memory image of one row of a table, addressed field by field (fields are
/// numbered from 0) through typed getters and putters.
///
///   KsRecord          the typed-access interface
///   KsRecordVariable  adds blob access
///   KsFileRecord      a record bound to its file's field list: field values to and from
///                     text (plain, through the field's format or through its filter),
///                     copying fields between records, the serial form, the scrambler
///
/// A concrete file class supplies the buffer and the encodings (CBFRec for compressed
/// binary tables). A record refers to its file's field list; it must not outlive the file.
///
/// Text forms (GetField mode 0, read back by PutField mode 0): numbers in decimal, Number
/// fields with the field's precision; Boolean "True"/"False"; Date, Time and Timestamp as
/// their 8, 9 and 17 digits; Binary as two upper-case hexadecimal digits per byte; a Blob as
/// its bytes up to the first NUL. A blank field is the empty text, and the empty text
/// stores a blank.

#include <cstdint>
#include <string>

#include "core/KsArrayPointerObject.h"
#include "core/KsString.h"
#include "core/KsVector.h"
#include "values/KsTimestamp.h"

class KsBlob;
class KsField;
class KsInputStreamInterface;
class KsOutputStreamInterface;
class KsTimestampFilter;

/// The field list of a file, which owns its fields.
using KsFieldList = KsPointerVector<KsField>;

/// A typed value of one field, tagged with its type letter; what RetrieveFieldValue fills
/// and PutFieldValue stores. Only the accessor of the value's type is meaningful.
class KsFieldValue {
public:
    /// An untyped value (type letter NUL).
    KsFieldValue() = default;
    /// A zero value of type letter `type`.
    explicit KsFieldValue(char type) : type_(type) {}
    virtual ~KsFieldValue() = default;

    /// The type letter.
    char GetType() const { return type_; }
    /// Sets the type letter; the stored value is kept.
    void SetType(char type) { type_ = type; }

    /// @{
    /// The text of an Alpha value; valid while the value is unchanged. Null sets the
    /// empty text.
    const char* GetAlpha() const { return text_.c_str(); }
    void SetAlpha(const char* text) { text_ = text != nullptr ? text : ""; }
    /// @}
    /// The bytes of a Binary field (as many as it holds) or of a Blob field.
    const std::string& GetBinary() const { return text_; }
    /// Copies `count` bytes as the Binary or Blob value.
    void SetBinary(const void* bytes, std::uint32_t count) {
        text_.assign(static_cast<const char*>(bytes), count);
    }
    /// @{
    /// The integer, Boolean and Number values.
    std::int32_t GetLong() const { return static_cast<std::int32_t>(integer_); }
    void SetLong(std::int32_t value) { integer_ = value; }
    std::uint32_t GetUnsignedLong() const { return static_cast<std::uint32_t>(integer_); }
    void SetUnsignedLong(std::uint32_t value) { integer_ = value; }
    std::int16_t GetShort() const { return static_cast<std::int16_t>(integer_); }
    void SetShort(std::int16_t value) { integer_ = value; }
    std::uint16_t GetUnsignedShort() const { return static_cast<std::uint16_t>(integer_); }
    void SetUnsignedShort(std::uint16_t value) { integer_ = value; }
    bool GetBoolean() const { return integer_ != 0; }
    void SetBoolean(bool value) { integer_ = value ? 1 : 0; }
    double GetNumber() const { return number_; }
    void SetNumber(double value) { number_ = value; }
    /// @}
    /// @{
    /// Date, Time and Timestamp values all keep a timestamp.
    const KsTimestamp& GetTimestamp() const { return timestamp_; }
    void SetTimestamp(const KsTimestamp& value) { timestamp_ = value; }
    /// @}

private:
    char type_ = 0;
    std::string text_;
    std::int64_t integer_ = 0;
    double number_ = 0;
    KsTimestamp timestamp_;
};

/// The typed access to the fields of one record (see the file notes). Field numbers
/// outside the record raise the CheckFieldIndexRange error.
class KsRecord : public KsArrayPointerObject {
public:
    ~KsRecord() override = default;
    KsRecord* Clone() const override = 0;

    /// Fails with "The field index (value=%d) is not in range [%d, %d]." unless n names a
    /// field.
    virtual void CheckFieldIndexRange(std::int32_t n) const;
    /// Sets every byte of the buffer to 0.
    virtual void Clear() = 0;

    /// The text of field n in `buffer` (at least the field's length plus one bytes); with
    /// `trim`, blanks and control bytes are taken off both ends. Returns the buffer.
    virtual const char* GetAlpha(std::int32_t n, char* buffer, std::uint32_t size,
                                 bool trim) const = 0;
    /// The field's bytes; `size` must hold the field's length.
    virtual void GetBinary(std::int32_t n, void* buffer, std::uint32_t size) const = 0;
    /// The value of Boolean field n.
    virtual bool GetBoolean(std::int32_t n) const = 0;
    /// The value of Date field n into `date`.
    virtual void GetDate(std::int32_t n, KsDate& date) const = 0;
    /// The number of fields.
    virtual std::int32_t GetFieldCount() const = 0;
    /// True when n names a field.
    virtual bool IsValidFieldNumber(std::int32_t n) const = 0;
    /// The length of field n in bytes.
    virtual std::int16_t GetFieldLength(std::int32_t n) const = 0;
    /// The type letter of field n.
    virtual char GetFieldType(std::int32_t n) const = 0;
    /// Whether field n holds a blank.
    virtual bool IsBlank(std::int32_t n) const = 0;
    /// Whether the record type has blank fields. Where it has, a field holding a blank's
    /// stand-in value (Long -2147483648, Short -32768, Number -1e+30) shows as the empty text
    /// too; where it has not, every value shows as itself.
    virtual bool HasBlanks() const { return true; }
    /// @{
    /// The value of field n as the getter's type (Long, Number, Short, Time, Timestamp,
    /// Unsigned Long, Unsigned Short); a record class may convert between numeric types
    /// and raises KsException for a type it cannot give.
    virtual std::int32_t GetLong(std::int32_t n) const = 0;
    virtual double GetNumber(std::int32_t n) const = 0;
    virtual std::int16_t GetShort(std::int32_t n) const = 0;
    virtual void GetTime(std::int32_t n, KsTime& time) const = 0;
    virtual void GetTimestamp(std::int32_t n, KsTimestamp& timestamp) const = 0;
    virtual std::uint32_t GetUnsignedLong(std::int32_t n) const = 0;
    virtual std::uint16_t GetUnsignedShort(std::int32_t n) const = 0;
    /// @}

    /// Stores the text, cut to the field's length and padded with NUL bytes.
    virtual void PutAlpha(std::int32_t n, const char* text) = 0;
    /// Stores `count` bytes (at most the field's length); the rest of the field becomes 0.
    virtual void PutBinary(std::int32_t n, const void* bytes, std::uint32_t count) = 0;
    /// Makes the field blank (or stores the format's stand-in for blank).
    virtual void PutBlank(std::int32_t n) = 0;
    /// @{
    /// Stores a value of the putter's type into field n; a type the record class cannot
    /// convert, or a value the field's encoding cannot hold, raises KsException.
    virtual void PutBoolean(std::int32_t n, bool value) = 0;
    virtual void PutDate(std::int32_t n, const KsDate& date) = 0;
    virtual void PutLong(std::int32_t n, std::int32_t value) = 0;
    virtual void PutNumber(std::int32_t n, double value) = 0;
    virtual void PutShort(std::int32_t n, std::int16_t value) = 0;
    virtual void PutTime(std::int32_t n, const KsTime& time) = 0;
    virtual void PutTimestamp(std::int32_t n, const KsTimestamp& timestamp) = 0;
    virtual void PutUnsignedLong(std::int32_t n, std::uint32_t value) = 0;
    virtual void PutUnsignedShort(std::int32_t n, std::uint16_t value) = 0;
    /// @}

    /// Field n into a value tagged with the field's type.
    virtual void RetrieveFieldValue(std::int32_t n, KsFieldValue& value) const;
    /// A value into field n; its type must be the field's: "Cannot put a field value of type
    /// %s into a field of type %s."
    virtual void PutFieldValue(std::int32_t n, const KsFieldValue& value);

protected:
    /// @{
    /// For the record classes.
    KsRecord() = default;
    KsRecord(const KsRecord&) = default;
    KsRecord& operator=(const KsRecord&) = default;
    /// @}
};

/// A record that also holds blob fields.
class KsRecordVariable : public KsRecord {
public:
    KsRecordVariable* Clone() const override = 0;
    /// The bytes of the blob that field n refers to.
    virtual void GetBLOB(std::int32_t n, KsBlob& blob) const = 0;
    /// Stores the blob's bytes for field n.
    virtual void PutBLOB(std::int32_t n, const KsBlob& blob) = 0;

    /// Blob values through GetBLOB and PutBLOB; other types as KsRecord does.
    void RetrieveFieldValue(std::int32_t n, KsFieldValue& value) const override;
    void PutFieldValue(std::int32_t n, const KsFieldValue& value) override;

protected:
    /// @{
    /// For the record classes.
    KsRecordVariable() = default;
    KsRecordVariable(const KsRecordVariable&) = default;
    KsRecordVariable& operator=(const KsRecordVariable&) = default;
    /// @}
};

/// A record bound to its file's field list (see the file notes).
class KsFileRecord : public KsRecordVariable {
public:
    /// Modes of PutField: 0 plain text, 1 through the format, 2 through the filter, 3 the
    /// field's own format option.
    enum TextMode : int { kPlain = 0, kFormatted = 1, kFiltered = 2, kFieldOption = 3 };

    /// A record over `fields`, the field list of its file. `context` is an opaque value of
    /// the caller that the record keeps and hands back; it may be null.
    explicit KsFileRecord(const KsFieldList& fields, const void* context = nullptr);
    KsFileRecord* Clone() const override = 0;

    /// @{
    /// From the field list. Final, so that the record's own loops call them directly.
    std::int32_t GetFieldCount() const final;
    bool IsValidFieldNumber(std::int32_t n) const override;
    std::int16_t GetFieldLength(std::int32_t n) const final;
    char GetFieldType(std::int32_t n) const final;
    /// @}
    /// The name of field n; valid while the field is unchanged.
    const char* GetFieldName(std::int32_t n) const;
    /// The field description of field n (the vector's range check applies).
    const KsField& GetFieldInfo(std::int32_t n) const;
    /// The field list, owned by the file.
    const KsFieldList& GetFields() const { return fields_; }
    /// The caller's value given at construction.
    const void* GetContext() const { return context_; }

    /// Field n as text in `buffer` (size bytes with the NUL; longer texts are cut). With
    /// `formatted`, the field's format option decides: its format, its filter, or plain.
    const char* GetField(std::int32_t n, char* buffer, std::uint32_t size,
                         bool formatted = true) const;
    /// Text into field n through `mode` (see TextMode). Null or empty text stores a blank.
    void PutField(std::int32_t n, const char* text, int mode = kFieldOption);

    /// GetField of fields start ... start + count - 1 (to the last field when count is 0)
    /// into texts[n] of `size` bytes each; texts is indexed by field number.
    virtual void GetAllFields(char* const* texts, std::int32_t count, std::int32_t start,
                              std::uint32_t size, bool formatted = true) const;
    /// True when every field is blank.
    virtual bool GetAllFieldsBlank() const;
    /// The blob number a Blob field refers to.
    virtual std::int32_t GetBLOBIndex(std::int32_t n) const = 0;
    /// Bytes of the buffer.
    virtual std::int32_t GetRecordLength() const = 0;
    /// Copies every field by number from `source`, whose field types must match:
    /// "Field %hu has type '%c' locally, but passed in record has type '%c' for this field".
    virtual void LoadFieldsFrom(const KsFileRecord& source);
    /// PutField(mode 3) of texts[n] for fields start ... start + count - 1 (to the last field
    /// when count is 0).
    virtual void PutAllFields(const char* const* texts, std::int32_t count, std::int32_t start);
    /// Copies GetRecordLength() bytes into the buffer.
    virtual void Load(const void* bytes) = 0;
    /// Reads the buffer (GetRecordLength() bytes) from a stream.
    virtual void ReadRecord(KsInputStreamInterface& stream) = 0;
    /// Writes the buffer to a stream.
    virtual void WriteRecord(KsOutputStreamInterface& stream) const = 0;
    /// Copies the buffer into `bytes` (GetRecordLength() bytes).
    virtual void Store(void* bytes) const = 0;
    /// True when `other` is known to hold the same content as this record; false when it
    /// differs or that is not known. A cheap check that may leave a field-by-field
    /// comparison to the caller; the base class never knows.
    virtual bool HasSameContentAs(const KsFileRecord& other) const;

    /// The serial form: a blank bit per field (least significant bit first, ceil(n / 8)
    /// bytes), then each field that is not blank in its stream form. A record whose table
    /// closed (its field list is no longer the one it was made over) raises instead.
    void RawSerialWrite(KsOutputStreamInterface& stream) const;
    /// Reads the serial form back into this record (blank fields become blank). The stream
    /// is not trusted: a short stream or a bad value fails, and a failed read leaves the
    /// record as it was. A record whose table closed raises, as in RawSerialWrite.
    void RawSerialRead(KsInputStreamInterface& stream);
    /// Every field's plain text followed by a comma; Binary shows "{BINARY},", Blob "{BLOB},".
    void AppendTextDump(KsString& out) const;

    /// @{
    /// The record scrambler, used for stored passwords. Decrypt undoes Encrypt with the
    /// same key. It hides a text from casual reading; it is not encryption.
    static void Encrypt(unsigned char* bytes, std::uint32_t length, const char* key);
    static void Decrypt(unsigned char* bytes, std::uint32_t length, const char* key);
    /// @}
    /// The library's own 13-character key.
    static const char* GetLibraryKey();

protected:
    /// Over the same field list and context as `other`.
    KsFileRecord(const KsFileRecord&) = default;
    /// Not assignable: the field list is bound for life.
    KsFileRecord& operator=(const KsFileRecord&) = delete;

    /// Field n; a number outside the field list goes through CheckFieldIndexRange.
    const KsField& CheckedField(std::int32_t n) const {
        if (static_cast<std::uint32_t>(n) < fields_.size()) {
            return *fields_.GetPointers().data()[n];
        }
        CheckFieldIndexRange(n);
        return *fields_[n];
    }

private:
    // Steps of GetField and PutField.
    bool FormatField(std::int32_t n, char* buffer, std::uint32_t size) const;
    const char* FilterField(std::int32_t n, char* buffer, std::uint32_t size) const;
    double NumericValueForFilter(std::int32_t n) const;
    const char* FilterTimestampField(std::int32_t n, const KsTimestampFilter& filter, char* buffer,
                                     std::uint32_t size) const;
    void PutPlainText(std::int32_t n, const char* text);
    void PutText(std::int32_t n, const char* text);
    void UnformatField(std::int32_t n, const char* text);
    void UnfilterField(std::int32_t n, const char* text);
    void PutUnfilteredNumber(std::int32_t n, double value);
    void CopyField(std::int32_t n, const KsFileRecord& source);
    void WriteField(std::int32_t n, KsOutputStreamInterface& stream) const;
    // Raises when the field list is no longer the one the record was made over.
    void CheckFieldsBound() const;
    void ReadField(std::int32_t n, KsInputStreamInterface& stream);

    const KsFieldList& fields_;
    const void* context_;
    // The size of the field list when the record was made: a table empties its list when it
    // closes, and a record over it would then write no field at all.
    std::size_t boundFieldCount_;
};

/// The text dump of a record (AppendTextDump).
KsString& operator<<(KsString& out, const KsFileRecord& record);
