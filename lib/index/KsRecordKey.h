#pragma once
/// @file
/// Record keys: the value of one field, or of several fields, taken from a record in a form
/// that compares with another key of the same class, turns into a comparable key (a byte
/// string whose byte-wise order is the order of the values), goes to and from a stream and
/// goes back into a record. "Get" always moves a value out of a key, "Set" into it.
///
///   class                       value                        comparable key
///   KsRecordKeyAlpha            text of `length` bytes       the text, zero bytes after it
///   KsRecordKeyBinary           `length` bytes               the bytes
///   KsRecordKeyDate             day number (1 = 0001-01-01)  4 bytes big-endian
///   KsRecordKeyLong / Short     signed 32 / 16 bits          big-endian, sign bit inverted
///   KsRecordKeyUnsignedLong/-Short unsigned 32 / 16 bits     big-endian
///   KsRecordKeyNumber           double                       8 bytes big-endian; negative
///                                                            values all bits inverted,
///                                                            others the sign bit only
///   KsRecordKeyBoolean          bool                         one byte, 0 or 1
///   KsMultiRecordKey            one key per field            the components' keys in turn
///   KsRecordKeyDescending       another key, order reversed  its key with all bits inverted
///
/// Byte order of comparable keys is the order of IsLessThan and IsEqual for every value:
/// -0.0 and 0.0 are equal and share one comparable key; every NaN is equal to every other
/// and orders after +infinity; day numbers order as unsigned values. A key over several
/// Alpha fields (or several Binary fields) is one Alpha (Binary) key of the summed length
/// whose fields stay apart: each field's text is compared, and padded with zeros in the
/// comparable key, on its own.
///
/// Native value forms (GetValue/SetValue with a buffer): numbers as their bytes in memory
/// order; Alpha the text and its NUL (length + 1 bytes); Binary its bytes; Date the
/// 8-digit date text YYYYMMDD and a NUL. Stream forms: numbers through the stream's number
/// operations of the same width, Date the day number as 32 bits, Alpha and Binary exactly
/// `length` raw bytes.
///
/// Comparing a key with a key of another class raises an error. Alpha and Binary keys hold
/// at most 65535 bytes.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <typeinfo>
#include <vector>

#include "core/KsArrayPointerObject.h"
#include "core/KsResizableChunk.h"

class KsRecord;
class KsInputStreamInterface;
class KsOutputStreamInterface;

/// Field numbers of a key over several fields, in key order.
using KsKeyFieldNumbers = std::span<const std::uint16_t>;

/// The value of one or several fields of a record (see the file notes).
class KsRecordKey : public KsArrayPointerObject {
public:
    ~KsRecordKey() override = default;

    /// This value orders before the other's.
    virtual bool IsLessThan(const KsRecordKey& other) const = 0;
    /// This value equals the other's.
    virtual bool IsEqual(const KsRecordKey& other) const = 0;
    /// @{
    /// The alternate order: without regard to case for Alpha keys, the normal one otherwise.
    virtual bool IsLessThanAlternate(const KsRecordKey& other) const { return IsLessThan(other); }
    virtual bool IsEqualAlternate(const KsRecordKey& other) const { return IsEqual(other); }
    /// @}
    /// A copy owned by the caller.
    KsRecordKey* Clone() const override = 0;

    /// Writes GetComparableKeyLength() bytes to `pDest`.
    virtual void GetComparableKey(void* pDest) const = 0;
    /// The bytes of the comparable key.
    virtual std::uint32_t GetComparableKeyLength() const = 0;
    /// Writes the native value form, GetLength() bytes, to `pDest`.
    virtual void GetValue(void* pDest) const = 0;
    /// Puts the value into field `field` of the record.
    virtual void GetValue(KsRecord& record, std::int32_t field) const = 0;
    /// Puts the value into the listed fields; a single-field key uses the first.
    virtual void GetValue(KsRecord& record, KsKeyFieldNumbers fields) const;
    /// The bytes of the native value form.
    virtual std::uint32_t GetLength() const = 0;
    /// Reads the stream form.
    virtual void Read(KsInputStreamInterface& stream) = 0;
    /// Takes the value from GetComparableKeyLength() bytes of a comparable key.
    virtual void SetComparableKey(const void* pSource) = 0;
    /// Takes the value from GetLength() bytes of the native value form.
    virtual void SetValue(const void* pSource) = 0;
    /// Takes the value of field `field` of the record.
    virtual void SetValue(const KsRecord& record, std::int32_t field) = 0;
    /// Takes the value of the listed fields; a single-field key uses the first.
    virtual void SetValue(const KsRecord& record, KsKeyFieldNumbers fields);
    /// Writes the stream form.
    virtual void Write(KsOutputStreamInterface& stream) const = 0;
    /// Writes a short debugging text ("N:12", "A:text", "D:...", "B:0x0AFF").
    virtual void Dump(KsOutputStreamInterface& stream) const = 0;

    /// The key of the field's class holding the field's value. Fields of type Blob, Time or
    /// Timestamp have none: "Field type of field %d is '%c', an unknown type."
    static std::unique_ptr<KsRecordKey> Extract(const KsRecord& record, std::int32_t field);
    /// The key over the listed fields: one field's key, a consolidated key when every field
    /// is Alpha (or every one Binary), else a KsMultiRecordKey. An empty list: "A key needs
    /// at least one field".
    static std::unique_ptr<KsRecordKey> Extract(const KsRecord& record, KsKeyFieldNumbers fields);
    /// For two or more fields all Alpha (or all Binary): one empty key of that class over
    /// the summed length, which SetValue(record, fields) fills. Null for any other list.
    static std::unique_ptr<KsRecordKey> GetConsolidatedKey(const KsRecord& record,
                                                           KsKeyFieldNumbers fields);
    /// The comparable key of field `field` of the record (Extract, then GetComparableKey).
    static std::string ComparableKeyOf(const KsRecord& record, std::int32_t field);
    /// An empty key for the type letter; `length` counts for Alpha and Binary keys. Other
    /// letters: "Field type is '%c', an unknown type."
    static std::unique_ptr<KsRecordKey> Instantiate(char type, std::uint32_t length);

protected:
    /// @{
    /// For the key classes.
    KsRecordKey() = default;
    KsRecordKey(const KsRecordKey&) = default;
    KsRecordKey& operator=(const KsRecordKey&) = default;
    /// @}

    /// @{
    /// The class name the key's errors carry and the kind of value it holds ("Long", ...).
    virtual const char* KeyClassName() const = 0;
    virtual const char* KeyTypeName() const = 0;
    /// @}
    /// `other` as the class of `self`; a key of another class raises
    /// "Cannot compare a key of type %s with a key of type %s".
    template <class Key>
    static const Key& SameClass(const Key& self, const KsRecordKey& other) {
        if (typeid(other) != typeid(self)) {
            ThrowOtherClass(self, other);
        }
        return static_cast<const Key&>(other);
    }

private:
    [[noreturn]] static void ThrowOtherClass(const KsRecordKey& self, const KsRecordKey& other);
};

/// A text of fixed length, kept NUL-terminated at position `length`. A consolidated key
/// keeps the lengths of its fields' pieces; a plain key is one piece.
class KsRecordKeyAlpha : public KsRecordKey {
public:
    /// The longest text.
    static constexpr std::uint32_t kMaxLength = 0xFFFF;

    /// An empty text of `length` bytes (at most kMaxLength).
    explicit KsRecordKeyAlpha(std::uint32_t length);
    /// An empty text made of pieces of the given lengths (summing to at most kMaxLength).
    explicit KsRecordKeyAlpha(std::vector<std::uint16_t> pieces);
    /// A copy of the text and the pieces.
    KsRecordKeyAlpha(const KsRecordKeyAlpha& other);
    /// Not assignable: the length is fixed.
    KsRecordKeyAlpha& operator=(const KsRecordKeyAlpha&) = delete;
    KsRecordKeyAlpha* Clone() const override { return new KsRecordKeyAlpha(*this); }

    bool IsLessThan(const KsRecordKey& other) const override;
    bool IsEqual(const KsRecordKey& other) const override;
    bool IsLessThanAlternate(const KsRecordKey& other) const override;
    bool IsEqualAlternate(const KsRecordKey& other) const override;
    void GetComparableKey(void* pDest) const override;
    std::uint32_t GetComparableKeyLength() const override { return length_; }
    void GetValue(void* pDest) const override;
    void GetValue(KsRecord& record, std::int32_t field) const override;
    void GetValue(KsRecord& record, KsKeyFieldNumbers fields) const override;
    std::uint32_t GetLength() const override { return length_ + 1u; }
    void Read(KsInputStreamInterface& stream) override;
    void SetComparableKey(const void* pSource) override;
    void SetValue(const void* pSource) override;
    void SetValue(const KsRecord& record, std::int32_t field) override;
    void SetValue(const KsRecord& record, KsKeyFieldNumbers fields) override;
    void Write(KsOutputStreamInterface& stream) const override;
    void Dump(KsOutputStreamInterface& stream) const override;

    /// Stores `text`, cut to the key's length and padded with zeros.
    void SetText(const char* text);
    /// The buffer: the text, NUL-terminated at position length.
    const char* GetText() const { return text_.get(); }
    /// The lengths of the pieces compared apart.
    const std::vector<std::uint16_t>& GetPieces() const { return pieces_; }

protected:
    const char* KeyClassName() const override { return "KsRecordKeyAlpha"; }
    const char* KeyTypeName() const override { return "Alpha"; }

private:
    // -1, 0 or 1 as this text orders before, with or after the other's.
    int Compare(const KsRecordKey& other, bool ignoreCase) const;

    std::uint16_t length_ = 0;
    std::unique_ptr<char[]> text_;
    std::vector<std::uint16_t> pieces_;
};

/// `length` raw bytes, compared and ordered as they are.
class KsRecordKeyBinary : public KsRecordKey {
public:
    /// `length` zero bytes (at most KsRecordKeyAlpha::kMaxLength).
    explicit KsRecordKeyBinary(std::uint32_t length);
    KsRecordKeyBinary* Clone() const override { return new KsRecordKeyBinary(*this); }

    bool IsLessThan(const KsRecordKey& other) const override;
    bool IsEqual(const KsRecordKey& other) const override;
    void GetComparableKey(void* pDest) const override;
    std::uint32_t GetComparableKeyLength() const override { return bytes_.GetChunkSize(); }
    void GetValue(void* pDest) const override;
    void GetValue(KsRecord& record, std::int32_t field) const override;
    void GetValue(KsRecord& record, KsKeyFieldNumbers fields) const override;
    std::uint32_t GetLength() const override { return bytes_.GetChunkSize(); }
    void Read(KsInputStreamInterface& stream) override;
    void SetComparableKey(const void* pSource) override;
    void SetValue(const void* pSource) override;
    void SetValue(const KsRecord& record, std::int32_t field) override;
    void SetValue(const KsRecord& record, KsKeyFieldNumbers fields) override;
    void Write(KsOutputStreamInterface& stream) const override;
    void Dump(KsOutputStreamInterface& stream) const override;

    /// The bytes, owned by the key.
    const KsResizableChunk& GetBytes() const { return bytes_; }

protected:
    const char* KeyClassName() const override { return "KsRecordKeyBinary"; }
    const char* KeyTypeName() const override { return "Binary"; }

private:
    int Compare(const KsRecordKey& other) const;

    KsResizableChunk bytes_;
};

/// A date as its day number.
class KsRecordKeyDate : public KsRecordKey {
public:
    /// The date of that day number.
    explicit KsRecordKeyDate(std::int32_t dayNumber = 0) : dayNumber_(dayNumber) {}
    KsRecordKeyDate* Clone() const override { return new KsRecordKeyDate(*this); }

    bool IsLessThan(const KsRecordKey& other) const override;
    bool IsEqual(const KsRecordKey& other) const override;
    void GetComparableKey(void* pDest) const override;
    std::uint32_t GetComparableKeyLength() const override { return 4; }
    void GetValue(void* pDest) const override;
    void GetValue(KsRecord& record, std::int32_t field) const override;
    std::uint32_t GetLength() const override { return 9; }
    void Read(KsInputStreamInterface& stream) override;
    void SetComparableKey(const void* pSource) override;
    void SetValue(const void* pSource) override;
    void SetValue(const KsRecord& record, std::int32_t field) override;
    void Write(KsOutputStreamInterface& stream) const override;
    void Dump(KsOutputStreamInterface& stream) const override;

    /// @{
    /// The day number (1 = 0001-01-01).
    std::int32_t GetDayNumber() const { return dayNumber_; }
    void SetDayNumber(std::int32_t dayNumber) { dayNumber_ = dayNumber; }
    /// @}

protected:
    const char* KeyClassName() const override { return "KsRecordKeyDate"; }
    const char* KeyTypeName() const override { return "Date"; }

private:
    std::int32_t dayNumber_;
};

/// A number of one of the types std::int32_t (Long), std::int16_t (Short), std::uint32_t
/// (Unsigned Long), std::uint16_t (Unsigned Short), double (Number) and bool (Boolean).
template <class T>
class KsRecordKeyNumeric : public KsRecordKey {
public:
    /// The key of `value`.
    explicit KsRecordKeyNumeric(T value = T()) : value_(value) {}
    KsRecordKeyNumeric* Clone() const override { return new KsRecordKeyNumeric(*this); }

    bool IsLessThan(const KsRecordKey& other) const override;
    bool IsEqual(const KsRecordKey& other) const override;
    void GetComparableKey(void* pDest) const override;
    std::uint32_t GetComparableKeyLength() const override { return sizeof(T); }
    void GetValue(void* pDest) const override;
    void GetValue(KsRecord& record, std::int32_t field) const override;
    std::uint32_t GetLength() const override { return sizeof(T); }
    void Read(KsInputStreamInterface& stream) override;
    void SetComparableKey(const void* pSource) override;
    void SetValue(const void* pSource) override;
    void SetValue(const KsRecord& record, std::int32_t field) override;
    void Write(KsOutputStreamInterface& stream) const override;
    void Dump(KsOutputStreamInterface& stream) const override;

    /// @{
    /// The number.
    T GetNumber() const { return value_; }
    void SetNumber(T value) { value_ = value; }
    /// @}

protected:
    const char* KeyClassName() const override { return "KsRecordKey"; }
    const char* KeyTypeName() const override;

private:
    T value_;
};

/// @{
/// The numeric keys of the field types Long, Short, Unsigned Long, Unsigned Short,
/// Number and Boolean.
using KsRecordKeyLong = KsRecordKeyNumeric<std::int32_t>;
using KsRecordKeyShort = KsRecordKeyNumeric<std::int16_t>;
using KsRecordKeyUnsignedLong = KsRecordKeyNumeric<std::uint32_t>;
using KsRecordKeyUnsignedShort = KsRecordKeyNumeric<std::uint16_t>;
using KsRecordKeyNumber = KsRecordKeyNumeric<double>;
using KsRecordKeyBoolean = KsRecordKeyNumeric<bool>;
/// @}

extern template class KsRecordKeyNumeric<std::int32_t>;
extern template class KsRecordKeyNumeric<std::int16_t>;
extern template class KsRecordKeyNumeric<std::uint32_t>;
extern template class KsRecordKeyNumeric<std::uint16_t>;
extern template class KsRecordKeyNumeric<double>;
extern template class KsRecordKeyNumeric<bool>;
