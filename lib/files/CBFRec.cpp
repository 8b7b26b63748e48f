#include "files/CBFRec.h"

#include <cassert>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <string_view>
#include <typeinfo>

#include "core/KsByteOrder.h"
#include "core/KsCallpath.h"
#include "core/KsText.h"
#include "files/CBFFormat.h"
#include "files/KsFieldTypeLetters.h"
#include "io/KsStreamInterface.h"

namespace {

constexpr const char* kClass = "CBFRec";

[[noreturn]] void ThrowNullParameter() {
    KsException::Generate("Invalid (null) parameter", kClass);
}

[[noreturn]] void ThrowOutOfRange() {
    KsException::Generate("Number out of range", kClass);
}

// The refusal of a type that the getter or putter cannot serve.
[[noreturn]] void ThrowWrongType(char type) {
    const char* name = type == KS_BOOLEAN_FLD ? "BOOLEAN"
                       : type == KS_DATE_FLD  ? "DATE"
                       : type == KS_TIME_FLD  ? "TIME"
                       : type == KS_STAMP_FLD ? "TIMESTAMP"
                       : type == KS_BLOB_FLD  ? "BLOB"
                                              : nullptr;
    if (name != nullptr) {
        KsException::Generate("CBFFiles do not support %s fields", kClass, name);
    }
    KsException::Generate("Invalid field type", kClass);
}

bool IsNumberType(char type) {
    return type == KS_NUMBER_FLD || type == KS_CURRENCY_FLD;
}

bool IsWordType(char type) {
    return type == KS_LONG_FLD || type == KS_ULONG_FLD;
}

bool IsBitType(char type) {
    return type == KS_SHORT_FLD || type == KS_USHORT_FLD;
}

bool IsByteType(char type) {
    return type == KS_ALPHA_FLD || type == KS_BINARY_FLD;
}

// Bytes a field of the type occupies: its word, its bit word or its length.
std::int32_t BytesOf(const KsField& field) {
    char type = field.GetType();
    if (IsNumberType(type) || IsWordType(type)) {
        return kCBFNumberBytes;
    }
    return IsBitType(type) ? kCBFWordBytes : field.GetLength();
}

double DecodeNumber(const unsigned char* bytes, std::int32_t divisor) {
    auto word = KsByteOrder::LoadBig<std::int32_t>(bytes);
    if (divisor == 0) {
        return word;
    }
    // Sign and magnitude.
    std::int64_t value = word < 0 ? -std::int64_t{word & 0x7FFFFFFF} : word;
    return static_cast<double>(value) / divisor;
}

// value * divisor, truncated toward zero. A product that misses a whole number only by
// the rounding of binary fractions (0.29 * 100 = 28.999999999999996) counts as that
// number, so that decimal texts keep their last digit.
std::int64_t ScaledWhole(double value, std::int32_t divisor) {
    double scaled = divisor != 0 ? value * divisor : value;
    if (!(scaled >= -2147483648.0 && scaled <= 2147483647.0)) {
        ThrowOutOfRange();
    }
    double whole = std::trunc(scaled);
    double nearest = std::nearbyint(scaled);
    if (nearest != whole && std::fabs(scaled - nearest) <= std::fabs(scaled) * 4 * DBL_EPSILON) {
        whole = nearest;
    }
    return static_cast<std::int64_t>(whole);
}

std::uint32_t EncodeNumber(double value, std::int32_t divisor) {
    std::int64_t whole = ScaledWhole(value, divisor);
    if (divisor == 0 || whole >= 0) {
        return static_cast<std::uint32_t>(static_cast<std::int32_t>(whole));
    }
    if (-whole > 0x7FFFFFFF) {
        ThrowOutOfRange();
    }
    return 0x80000000u | static_cast<std::uint32_t>(-whole);
}

// A double that must fit [low, high] before it is narrowed, truncated toward zero.
std::int64_t CheckedWhole(double value, double low, double high) {
    if (!(value >= low && value <= high)) {
        ThrowOutOfRange();
    }
    return static_cast<std::int64_t>(std::trunc(value));
}

}  // namespace

CBFRec::CBFRec(const KsFieldList& fields, std::int16_t recordLength,
               const KsVector<CBFBits>& userBitFields)
    : KsFileRecord(fields), recordLength_(recordLength), userBitFields_(userBitFields) {
    KsCallpath("CBFRec()", kClass, [&] {
        if (recordLength < 0) {
            KsException::Generate("Invalid record length %d", kClass, recordLength);
        }
        for (std::size_t i = 0; i < fields.size(); ++i) {
            // CBFField is final: its exact type is the test, cheaper than a cast for every
            // new record.
            const KsField* field = fields[static_cast<std::int32_t>(i)];
            if (field == nullptr || typeid(*field) != typeid(CBFField)) {
                KsException::Generate("Field %ld is not a CBFField.", kClass, static_cast<long>(i));
            }
        }
        buffer_ = std::make_unique<unsigned char[]>(static_cast<std::size_t>(recordLength));
    });
}

CBFRec::CBFRec(const CBFRec& other)
    : KsFileRecord(other),
      buffer_(std::make_unique<unsigned char[]>(static_cast<std::size_t>(other.recordLength_))),
      recordLength_(other.recordLength_),
      userBitFields_(other.userBitFields_) {
    std::memcpy(buffer_.get(), other.buffer_.get(), static_cast<std::size_t>(recordLength_));
}

CBFRec::~CBFRec() = default;

CBFRec* CBFRec::Clone() const {
    return new CBFRec(*this);
}

void CBFRec::Clear() {
    std::memset(buffer_.get(), 0, static_cast<std::size_t>(recordLength_));
}

bool CBFRec::IsBlank(std::int32_t n) const {
    CheckedField(n);
    return false;
}

const CBFField& CBFRec::FieldAt(std::int32_t n) const {
    const auto& field = static_cast<const CBFField&>(CheckedField(n));
    if (std::int32_t{field.GetByteOffset()} + BytesOf(field) > recordLength_) {
        KsException::Generate("Field %d (\"%s\") lies outside the record of %d bytes", kClass, n,
                              field.GetName(), static_cast<int>(recordLength_));
    }
    if (IsBitType(field.GetType())) {
        if (!field.BitsFitTheirWord()) {
            KsException::Generate(
                "Field %d (\"%s\") has a bit string of %u bits at bit %u of its "
                "word",
                kClass, n, field.GetName(), std::uint32_t{field.GetNumberOfBits()},
                std::uint32_t{field.GetStartingBit()});
        }
    }
    return field;
}

// ---- Bit strings

std::uint16_t CBFRec::GetBits(const CBFField& field) const {
    assert(field.BitsFitTheirWord());
    auto word = KsByteOrder::LoadBig<std::uint16_t>(buffer_.get() + field.GetByteOffset());
    std::uint32_t shift = kCBFWordBits - (field.GetStartingBit() - 1u) - field.GetNumberOfBits();
    std::uint32_t mask = (1u << field.GetNumberOfBits()) - 1;
    return static_cast<std::uint16_t>((word >> shift) & mask);
}

void CBFRec::PutBits(const CBFField& field, std::int64_t value) {
    assert(field.BitsFitTheirWord());
    std::uint32_t bits = field.GetNumberOfBits();
    if (value < 0 || value > static_cast<std::int64_t>((1u << bits) - 1)) {
        ThrowOutOfRange();
    }
    unsigned char* at = buffer_.get() + field.GetByteOffset();
    std::uint32_t shift = kCBFWordBits - (field.GetStartingBit() - 1u) - bits;
    std::uint32_t mask = ((1u << bits) - 1) << shift;
    std::uint32_t word = KsByteOrder::LoadBig<std::uint16_t>(at);
    word = (word & ~mask) | (static_cast<std::uint32_t>(value) << shift);
    KsByteOrder::StoreBig(at, static_cast<std::uint16_t>(word));
}

// ---- Numeric getters: each reads any numeric field in its own encoding

double CBFRec::NumericValue(const CBFField& field) const {
    const unsigned char* at = buffer_.get() + field.GetByteOffset();
    char type = field.GetType();
    if (IsNumberType(type)) {
        return DecodeNumber(at, field.GetDivisor());
    }
    if (type == KS_LONG_FLD) {
        return KsByteOrder::LoadBig<std::int32_t>(at);
    }
    if (type == KS_ULONG_FLD) {
        return KsByteOrder::LoadBig<std::uint32_t>(at);
    }
    if (IsBitType(type)) {
        return GetBits(field);
    }
    ThrowWrongType(type);
}

void CBFRec::PutNumericValue(const CBFField& field, double value) {
    unsigned char* at = buffer_.get() + field.GetByteOffset();
    char type = field.GetType();
    if (IsNumberType(type)) {
        KsByteOrder::StoreBig(at, EncodeNumber(value, field.GetDivisor()));
    } else if (type == KS_LONG_FLD) {
        KsByteOrder::StoreBig(at,
                              static_cast<std::int32_t>(CheckedWhole(value, INT32_MIN, INT32_MAX)));
    } else if (type == KS_ULONG_FLD) {
        KsByteOrder::StoreBig(at, static_cast<std::uint32_t>(CheckedWhole(value, 0, UINT32_MAX)));
    } else if (IsBitType(type)) {
        PutBits(field, CheckedWhole(value, 0, UINT16_MAX));
    } else {
        ThrowWrongType(type);
    }
}

double CBFRec::GetNumber(std::int32_t n) const {
    return KsCallpath("GetNumber()", kClass, [&] { return NumericValue(FieldAt(n)); });
}

std::int32_t CBFRec::GetLong(std::int32_t n) const {
    return KsCallpath("GetLong()", kClass, [&] {
        const CBFField& field = FieldAt(n);
        if (IsWordType(field.GetType())) {
            return KsByteOrder::LoadBig<std::int32_t>(buffer_.get() + field.GetByteOffset());
        }
        return static_cast<std::int32_t>(CheckedWhole(NumericValue(field), INT32_MIN, INT32_MAX));
    });
}

std::uint32_t CBFRec::GetUnsignedLong(std::int32_t n) const {
    return KsCallpath("GetUnsignedLong()", kClass, [&] {
        const CBFField& field = FieldAt(n);
        if (IsWordType(field.GetType())) {
            return KsByteOrder::LoadBig<std::uint32_t>(buffer_.get() + field.GetByteOffset());
        }
        return static_cast<std::uint32_t>(CheckedWhole(NumericValue(field), 0, UINT32_MAX));
    });
}

std::int16_t CBFRec::GetShort(std::int32_t n) const {
    return KsCallpath("GetShort()", kClass, [&] {
        const CBFField& field = FieldAt(n);
        if (IsBitType(field.GetType())) {
            return static_cast<std::int16_t>(GetBits(field));
        }
        return static_cast<std::int16_t>(CheckedWhole(NumericValue(field), INT16_MIN, INT16_MAX));
    });
}

std::uint16_t CBFRec::GetUnsignedShort(std::int32_t n) const {
    return KsCallpath("GetUnsignedShort()", kClass, [&] {
        const CBFField& field = FieldAt(n);
        if (IsBitType(field.GetType())) {
            return GetBits(field);
        }
        return static_cast<std::uint16_t>(CheckedWhole(NumericValue(field), 0, UINT16_MAX));
    });
}

void CBFRec::PutNumber(std::int32_t n, double value) {
    KsCallpath("PutNumber()", kClass, [&] { PutNumericValue(FieldAt(n), value); });
}

void CBFRec::PutLong(std::int32_t n, std::int32_t value) {
    KsCallpath("PutLong()", kClass, [&] {
        const CBFField& field = FieldAt(n);
        if (IsWordType(field.GetType())) {
            KsByteOrder::StoreBig(buffer_.get() + field.GetByteOffset(), value);
        } else {
            PutNumericValue(field, value);
        }
    });
}

void CBFRec::PutUnsignedLong(std::int32_t n, std::uint32_t value) {
    KsCallpath("PutUnsignedLong()", kClass, [&] {
        const CBFField& field = FieldAt(n);
        if (IsWordType(field.GetType())) {
            KsByteOrder::StoreBig(buffer_.get() + field.GetByteOffset(), value);
        } else {
            PutNumericValue(field, value);
        }
    });
}

void CBFRec::PutShort(std::int32_t n, std::int16_t value) {
    KsCallpath("PutShort()", kClass, [&] {
        const CBFField& field = FieldAt(n);
        if (IsBitType(field.GetType())) {
            PutBits(field, value);
        } else {
            PutNumericValue(field, value);
        }
    });
}

void CBFRec::PutUnsignedShort(std::int32_t n, std::uint16_t value) {
    KsCallpath("PutUnsignedShort()", kClass, [&] {
        const CBFField& field = FieldAt(n);
        if (IsBitType(field.GetType())) {
            PutBits(field, value);
        } else {
            PutNumericValue(field, value);
        }
    });
}

void CBFRec::PutBlank(std::int32_t n) {
    KsCallpath("PutBlank()", kClass, [&] {
        const CBFField& field = FieldAt(n);
        char type = field.GetType();
        if (IsBitType(type)) {
            PutBits(field, 0);
        } else if (IsNumberType(type) || IsWordType(type) || IsByteType(type)) {
            std::memset(buffer_.get() + field.GetByteOffset(), 0,
                        static_cast<std::size_t>(BytesOf(field)));
        } else {
            KsException::Generate("Invalid field type", kClass);
        }
    });
}

// ---- Texts and bytes

const char* CBFRec::GetAlpha(std::int32_t n, char* buffer, std::uint32_t size, bool trim) const {
    return KsCallpath("GetAlpha()", kClass, [&]() -> const char* {
        if (buffer == nullptr) {
            ThrowNullParameter();
        }
        const CBFField& field = FieldAt(n);
        if (field.GetType() != KS_ALPHA_FLD) {
            ThrowWrongType(field.GetType());
        }
        auto length = static_cast<std::uint32_t>(field.GetLength());
        if (size < length) {
            KsException::Generate("Buffer too small", kClass);
        }
        std::memcpy(buffer, buffer_.get() + field.GetByteOffset(), length);
        std::size_t used = strnlen(buffer, length);
        if (trim) {
            std::string_view kept = KsText::TrimBlanksAndControls({buffer, used});
            std::memmove(buffer, kept.data(), kept.size());
            used = kept.size();
        }
        if (used < size) {
            buffer[used] = '\0';
        }
        return buffer;
    });
}

void CBFRec::PutAlpha(std::int32_t n, const char* text) {
    KsCallpath("PutAlpha()", kClass, [&] {
        if (text == nullptr) {
            ThrowNullParameter();
        }
        const CBFField& field = FieldAt(n);
        if (field.GetType() != KS_ALPHA_FLD) {
            ThrowWrongType(field.GetType());
        }
        auto length = static_cast<std::size_t>(field.GetLength());
        std::size_t used = strnlen(text, length);
        unsigned char* at = buffer_.get() + field.GetByteOffset();
        std::memcpy(at, text, used);
        std::memset(at + used, 0, length - used);
    });
}

void CBFRec::GetBinary(std::int32_t n, void* buffer, std::uint32_t size) const {
    KsCallpath("GetBinary()", kClass, [&] {
        if (buffer == nullptr) {
            ThrowNullParameter();
        }
        const CBFField& field = FieldAt(n);
        if (!IsByteType(field.GetType())) {
            ThrowWrongType(field.GetType());
        }
        auto length = static_cast<std::uint32_t>(field.GetLength());
        if (size < length) {
            KsException::Generate("Buffer too small", kClass);
        }
        std::memcpy(buffer, buffer_.get() + field.GetByteOffset(), length);
    });
}

void CBFRec::PutBinary(std::int32_t n, const void* bytes, std::uint32_t count) {
    KsCallpath("PutBinary()", kClass, [&] {
        if (bytes == nullptr && count > 0) {
            ThrowNullParameter();
        }
        const CBFField& field = FieldAt(n);
        if (!IsByteType(field.GetType())) {
            ThrowWrongType(field.GetType());
        }
        auto length = static_cast<std::size_t>(field.GetLength());
        std::size_t used = std::min<std::size_t>(count, length);
        unsigned char* at = buffer_.get() + field.GetByteOffset();
        if (used > 0) {
            std::memcpy(at, bytes, used);
        }
        std::memset(at + used, 0, length - used);
    });
}

// ---- Types the format does not store

bool CBFRec::GetBoolean(std::int32_t) const {
    return KsCallpath("GetBoolean()", kClass, []() -> bool { ThrowWrongType(KS_BOOLEAN_FLD); });
}

void CBFRec::GetDate(std::int32_t, KsDate&) const {
    KsCallpath("GetDate()", kClass, [] { ThrowWrongType(KS_DATE_FLD); });
}

void CBFRec::GetTime(std::int32_t, KsTime&) const {
    KsCallpath("GetTime()", kClass, [] { ThrowWrongType(KS_TIME_FLD); });
}

void CBFRec::GetTimestamp(std::int32_t, KsTimestamp&) const {
    KsCallpath("GetTimestamp()", kClass, [] { ThrowWrongType(KS_STAMP_FLD); });
}

void CBFRec::PutBoolean(std::int32_t, bool) {
    KsCallpath("PutBoolean()", kClass, [] { ThrowWrongType(KS_BOOLEAN_FLD); });
}

void CBFRec::PutDate(std::int32_t, const KsDate&) {
    KsCallpath("PutDate()", kClass, [] { ThrowWrongType(KS_DATE_FLD); });
}

void CBFRec::PutTime(std::int32_t, const KsTime&) {
    KsCallpath("PutTime()", kClass, [] { ThrowWrongType(KS_TIME_FLD); });
}

void CBFRec::PutTimestamp(std::int32_t, const KsTimestamp&) {
    KsCallpath("PutTimestamp()", kClass, [] { ThrowWrongType(KS_STAMP_FLD); });
}

void CBFRec::GetBLOB(std::int32_t, KsBlob&) const {
    KsCallpath("GetBLOB()", kClass, [] { ThrowWrongType(KS_BLOB_FLD); });
}

void CBFRec::PutBLOB(std::int32_t, const KsBlob&) {
    KsCallpath("PutBLOB()", kClass, [] { ThrowWrongType(KS_BLOB_FLD); });
}

std::int32_t CBFRec::GetBLOBIndex(std::int32_t) const {
    return KsCallpath("GetBLOBIndex()", kClass,
                      []() -> std::int32_t { ThrowWrongType(KS_BLOB_FLD); });
}

// ---- Whole buffer

void CBFRec::Load(const void* bytes) {
    KsCallpath("Load()", kClass, [&] {
        if (bytes == nullptr) {
            ThrowNullParameter();
        }
        std::memcpy(buffer_.get(), bytes, static_cast<std::size_t>(recordLength_));
    });
}

void CBFRec::Store(void* bytes) const {
    KsCallpath("Store()", kClass, [&] {
        if (bytes == nullptr) {
            ThrowNullParameter();
        }
        std::memcpy(bytes, buffer_.get(), static_cast<std::size_t>(recordLength_));
    });
}

bool CBFRec::HasSameContentAs(const KsFileRecord& other) const {
    // A derived class may keep values outside the bytes.
    if (typeid(*this) != typeid(CBFRec) || typeid(other) != typeid(CBFRec)) {
        return false;
    }
    const auto& same = static_cast<const CBFRec&>(other);
    return &GetFields() == &same.GetFields() && &userBitFields_ == &same.userBitFields_ &&
           recordLength_ == same.recordLength_ &&
           std::memcmp(buffer_.get(), same.buffer_.get(),
                       static_cast<std::size_t>(recordLength_)) == 0;
}

void CBFRec::ReadRecord(KsInputStreamInterface& stream) {
    KsCallpath("ReadRecord()", kClass, [&] { stream.Read(buffer_.get(), recordLength_, true); });
}

void CBFRec::WriteRecord(KsOutputStreamInterface& stream) const {
    KsCallpath("WriteRecord()", kClass, [&] { stream.Write(buffer_.get(), recordLength_); });
}
