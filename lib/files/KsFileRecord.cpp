#include "files/KsFileRecord.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>

#include "core/KsCallpath.h"
#include "core/KsConvertValue.h"
#include "core/KsText.h"
#include "files/KsField.h"
#include "files/KsFieldTypeLetters.h"
#include "io/KsBlob.h"
#include "io/KsStreamInterface.h"
#include "values/KsFormat.h"
#include "values/KsNumberFilter.h"
#include "values/KsStringFilter.h"
#include "values/KsTimestampFilter.h"

namespace {

constexpr const char* kRecordClass = "KsRecord";
constexpr const char* kFileRecordClass = "KsFileRecord";

// Values that stand for a blank field when it is read for conversion to text. In a record
// type with blanks they print as the empty text also when a field holds them.
constexpr double kBlankNumber = -1.0e30;
constexpr std::int32_t kBlankLong = INT32_MIN;
constexpr std::int16_t kBlankShort = INT16_MIN;

// 13 characters; changing it makes every stored password unreadable.
constexpr char kLibraryKey[] = "Kestrel#Wings";
static_assert(sizeof kLibraryKey == 14);

// Room for the plain text of any number, date or time.
constexpr std::size_t kNumberText = 400;

// Copies `text` into the caller's buffer, cut to size - 1 bytes.
const char* CopyOut(std::string_view text, char* buffer, std::uint32_t size) {
    std::size_t n = std::min<std::size_t>(text.size(), size - 1);
    if (n > 0) {  // an empty view may have no data at all
        std::memmove(buffer, text.data(), n);
    }
    buffer[n] = '\0';
    return buffer;
}

template <class Integer>
std::string_view IntegerText(Integer value, char* out) {
    auto result = std::to_chars(out, out + kNumberText, value);
    return {out, static_cast<std::size_t>(result.ptr - out)};
}

// printf's "%.*f": a negative precision means 6 decimals.
std::string_view FixedText(double value, int precision, char* out) {
    auto result = std::to_chars(out, out + kNumberText, value, std::chars_format::fixed,
                                precision < 0 ? 6 : precision);
    if (result.ec != std::errc()) {
        return {};
    }
    return {out, static_cast<std::size_t>(result.ptr - out)};
}

std::string_view HexText(const unsigned char* bytes, std::size_t count, std::string& out) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out.resize(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
        out[2 * i] = kDigits[bytes[i] >> 4];
        out[2 * i + 1] = kDigits[bytes[i] & 0x0F];
    }
    return out;
}

int HexValue(char c) {
    if (KsText::IsDigit(c)) {
        return c - '0';
    }
    char upper = KsText::ToUpper(c);
    return upper >= 'A' && upper <= 'F' ? upper - 'A' + 10 : -1;
}

// The bytes of a hexadecimal text, two digits per byte.
std::string BytesOfHex(const char* text) {
    std::size_t length = std::strlen(text);
    if (length % 2 != 0) {
        KsException::Generate("\"%s\" is not hexadecimal text of whole bytes", kFileRecordClass,
                              text);
    }
    std::string bytes(length / 2, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        int high = HexValue(text[2 * i]);
        int low = HexValue(text[2 * i + 1]);
        if (high < 0 || low < 0) {
            KsException::Generate("\"%s\" is not hexadecimal text of whole bytes", kFileRecordClass,
                                  text);
        }
        bytes[i] = static_cast<char>(high * 16 + low);
    }
    return bytes;
}

// A timestamp from the digits of a date (8), a time of day (9) or a timestamp (17).
KsTimestamp TimestampOfDigits(const char* text, std::size_t digits, std::size_t at) {
    std::size_t length = std::strlen(text);
    bool allDigits = length == digits;
    for (std::size_t i = 0; allDigits && i < length; ++i) {
        allDigits = KsText::IsDigit(text[i]);
    }
    if (!allDigits) {
        KsException::Generate("\"%s\" is not a text of %zu digits", kFileRecordClass, text, digits);
    }
    auto field = [&](std::size_t offset, std::size_t width) {
        std::uint16_t value = 0;
        for (std::size_t i = 0; i < width; ++i) {
            value = static_cast<std::uint16_t>(value * 10 + (text[offset - at + i] - '0'));
        }
        return value;
    };
    KsTimestamp timestamp;
    if (at == 0) {
        timestamp.SetYear(field(0, 4));
        timestamp.SetMonth(field(4, 2));
        timestamp.SetDay(field(6, 2));
    }
    if (at + digits > 8) {
        timestamp.SetHour(field(8, 2));
        timestamp.SetMinute(field(10, 2));
        timestamp.SetSecond(field(12, 2));
        timestamp.SetMilliseconds(field(14, 3));
    }
    return timestamp;
}

// The value of a plain decimal integer (an optional sign and 1 to 10 digits) that lies in
// the type's range; false for any other text, which the strict converter then reads and
// refuses with its own message. The common texts of imports so skip the general reader.
template <class Integer>
bool PlainInteger(const char* text, Integer& value) {
    const char* p = text;
    bool negative = *p == '-';
    if (*p == '+' || negative) {
        ++p;
    }
    std::int64_t magnitude = 0;
    const char* digits = p;
    for (; KsText::IsDigit(*p) && p - digits < 10; ++p) {
        magnitude = magnitude * 10 + (*p - '0');
    }
    std::int64_t whole = negative ? -magnitude : magnitude;
    if (*p != '\0' || p == digits || (negative && std::numeric_limits<Integer>::min() == 0) ||
        whole < std::numeric_limits<Integer>::min() ||
        whole > std::numeric_limits<Integer>::max()) {
        return false;
    }
    value = static_cast<Integer>(whole);
    return true;
}

template <class Integer>
Integer IntegerOf(const char* text) {
    Integer value = 0;
    if (!PlainInteger(text, value)) {
        KsConvertValue(value, text, true);
    }
    return value;
}

// A plain decimal fraction (an optional "-", digits and at most one point) is read exactly
// as the C library's reader reads it, only faster; any other text goes to that reader.
double NumberOf(const char* text) {
    const char* end = text + (*text == '-');
    bool point = false;
    bool digit = false;
    for (; *end != '\0' && end - text < 40; ++end) {
        if (*end == '.' && !point) {
            point = true;
        } else if (KsText::IsDigit(*end)) {
            digit = true;
        } else {
            break;
        }
    }
    double value = 0;
    if (*end == '\0' && digit) {
        auto result = std::from_chars(text, end, value, std::chars_format::fixed);
        if (result.ec == std::errc() && result.ptr == end) {
            return value;
        }
    }
    KsConvertValue(value, text, true);
    return value;
}

bool IsTimestampType(char type) {
    return type == KS_DATE_FLD || type == KS_TIME_FLD || type == KS_STAMP_FLD;
}

// The timestamp of a Date, Time or Timestamp field.
KsTimestamp FieldTimestamp(const KsRecord& record, std::int32_t n, char type) {
    if (type == KS_DATE_FLD) {
        KsDate date;
        record.GetDate(n, date);
        return date.GetTimestamp();
    }
    if (type == KS_TIME_FLD) {
        KsTime time;
        record.GetTime(n, time);
        return time.GetTimestamp();
    }
    KsTimestamp timestamp;
    record.GetTimestamp(n, timestamp);
    return timestamp;
}

// Stores a timestamp into a Date, Time or Timestamp field.
void PutFieldTimestamp(KsRecord& record, std::int32_t n, char type, const KsTimestamp& timestamp) {
    if (type == KS_DATE_FLD) {
        record.PutDate(n, KsDate(timestamp));
    } else if (type == KS_TIME_FLD) {
        record.PutTime(n, KsTime(timestamp));
    } else {
        record.PutTimestamp(n, timestamp);
    }
}

// The text of an Alpha field, through a buffer of at least `room` bytes.
std::string FieldText(const KsRecord& record, std::int32_t n, bool trim, std::size_t room) {
    std::string text(std::max(room, static_cast<std::size_t>(record.GetFieldLength(n)) + 1), '\0');
    record.GetAlpha(n, text.data(), static_cast<std::uint32_t>(text.size()), trim);
    text.resize(std::strlen(text.c_str()));
    return text;
}

// The bytes of a Binary field.
std::string FieldBytes(const KsRecord& record, std::int32_t n) {
    std::string bytes(static_cast<std::size_t>(record.GetFieldLength(n)), '\0');
    record.GetBinary(n, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    return bytes;
}

template <class Filter>
const Filter& FilterOfKind(const KsFilter& filter, const char* kind, const char* className) {
    const auto* typed = dynamic_cast<const Filter*>(&filter);
    if (typed == nullptr) {
        KsException::Generate(
            "filter has an enumerated type, \"%s\", but is not of type \"%s\" or descendant",
            kFileRecordClass, kind, className);
    }
    return *typed;
}

const char* TimestampKind(std::uint8_t type) {
    return type == KsFilter::kDateFilter   ? "DateFilter"
           : type == KsFilter::kTimeFilter ? "TimeFilter"
                                           : "TimestampFilter";
}

}  // namespace

// ---- KsRecord

void KsRecord::CheckFieldIndexRange(std::int32_t n) const {
    if (!IsValidFieldNumber(n)) {
        KsCallpath("CheckFieldIndexRange()", kRecordClass, [&] {
            KsException::Generate("The field index (value=%d) is not in range [%d, %d].",
                                  kRecordClass, n, 0, GetFieldCount() - 1);
        });
    }
}

void KsRecord::PutFieldValue(std::int32_t n, const KsFieldValue& value) {
    KsCallpath("PutFieldValue()", kRecordClass, [&] {
        CheckFieldIndexRange(n);
        char type = GetFieldType(n);
        if (value.GetType() != type) {
            KsException::Generate("Cannot put a field value of type %s into a field of type %s.",
                                  kRecordClass, KsField::GetTypeCString(value.GetType()),
                                  KsField::GetTypeCString(type));
        }
        if (IsTimestampType(type)) {
            PutFieldTimestamp(*this, n, type, value.GetTimestamp());
            return;
        }
        switch (type) {
            case KS_ALPHA_FLD:
                PutAlpha(n, value.GetAlpha());
                break;
            case KS_LONG_FLD:
                PutLong(n, value.GetLong());
                break;
            case KS_BOOLEAN_FLD:
                PutBoolean(n, value.GetBoolean());
                break;
            case KS_NUMBER_FLD:
                PutNumber(n, value.GetNumber());
                break;
            case KS_SHORT_FLD:
                PutShort(n, value.GetShort());
                break;
            case KS_USHORT_FLD:
                PutUnsignedShort(n, value.GetUnsignedShort());
                break;
            case KS_ULONG_FLD:
                PutUnsignedLong(n, value.GetUnsignedLong());
                break;
            case KS_BINARY_FLD:
                PutBinary(n, value.GetBinary().data(),
                          static_cast<std::uint32_t>(value.GetBinary().size()));
                break;
            case KS_BLOB_FLD:
                KsException::Generate(
                    "PutFieldValue not defined in this class for KsFieldValues of type %s.",
                    kRecordClass, KsField::GetTypeCString(type));
            default:
                KsException::Generate("This function is not setup to handle type '%c'.",
                                      kRecordClass, type);
        }
    });
}

void KsRecord::RetrieveFieldValue(std::int32_t n, KsFieldValue& value) const {
    KsCallpath("RetrieveFieldValue()", kRecordClass, [&] {
        CheckFieldIndexRange(n);
        char type = GetFieldType(n);
        value.SetType(type);
        if (IsTimestampType(type)) {
            value.SetTimestamp(FieldTimestamp(*this, n, type));
            return;
        }
        switch (type) {
            case KS_ALPHA_FLD:
                value.SetAlpha(FieldText(*this, n, false, 0).c_str());
                break;
            case KS_BINARY_FLD: {
                std::string bytes = FieldBytes(*this, n);
                value.SetBinary(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
                break;
            }
            case KS_LONG_FLD:
                value.SetLong(GetLong(n));
                break;
            case KS_BOOLEAN_FLD:
                value.SetBoolean(GetBoolean(n));
                break;
            case KS_NUMBER_FLD:
                value.SetNumber(GetNumber(n));
                break;
            case KS_SHORT_FLD:
                value.SetShort(GetShort(n));
                break;
            case KS_USHORT_FLD:
                value.SetUnsignedShort(GetUnsignedShort(n));
                break;
            case KS_ULONG_FLD:
                value.SetUnsignedLong(GetUnsignedLong(n));
                break;
            case KS_BLOB_FLD:
                KsException::Generate(
                    "RetrieveFieldValue not defined in this class for KsFieldValues of type %s.",
                    kRecordClass, KsField::GetTypeCString(type));
            default:
                KsException::Generate("This function is not setup to handle type '%c'.",
                                      kRecordClass, type);
        }
    });
}

// ---- KsRecordVariable

void KsRecordVariable::PutFieldValue(std::int32_t n, const KsFieldValue& value) {
    KsCallpath("PutFieldValue()", "KsRecordVariable", [&] {
        CheckFieldIndexRange(n);
        if (value.GetType() != KS_BLOB_FLD || GetFieldType(n) != KS_BLOB_FLD) {
            KsRecord::PutFieldValue(n, value);
            return;
        }
        const std::string& bytes = value.GetBinary();
        PutBLOB(n, KsBlob(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
    });
}

void KsRecordVariable::RetrieveFieldValue(std::int32_t n, KsFieldValue& value) const {
    KsCallpath("RetrieveFieldValue()", "KsRecordVariable", [&] {
        CheckFieldIndexRange(n);
        if (GetFieldType(n) != KS_BLOB_FLD) {
            KsRecord::RetrieveFieldValue(n, value);
            return;
        }
        KsBlob blob;
        GetBLOB(n, blob);
        value.SetType(KS_BLOB_FLD);
        value.SetBinary(blob.GetData(), blob.GetSize());
    });
}

// ---- KsFileRecord: the field list

KsFileRecord::KsFileRecord(const KsFieldList& fields, const void* context)
    : fields_(fields), context_(context), boundFieldCount_(fields.size()) {}

std::int32_t KsFileRecord::GetFieldCount() const {
    return static_cast<std::int32_t>(fields_.size());
}

bool KsFileRecord::IsValidFieldNumber(std::int32_t n) const {
    return n >= 0 && n < GetFieldCount();
}

bool KsFileRecord::HasSameContentAs(const KsFileRecord&) const {
    return false;
}

const KsField& KsFileRecord::GetFieldInfo(std::int32_t n) const {
    return *fields_[n];
}

std::int16_t KsFileRecord::GetFieldLength(std::int32_t n) const {
    return KsCallpath("GetFieldLength()", kFileRecordClass,
                      [&] { return fields_[n]->GetLength(); });
}

char KsFileRecord::GetFieldType(std::int32_t n) const {
    return KsCallpath("GetFieldType()", kFileRecordClass, [&] { return fields_[n]->GetType(); });
}

const char* KsFileRecord::GetFieldName(std::int32_t n) const {
    return KsCallpath("GetFieldName()", kFileRecordClass, [&] { return fields_[n]->GetName(); });
}

// ---- Field to text

namespace {

// The plain text of one field of a record; `scratch` holds texts longer than `digits`.
class PlainText {
public:
    PlainText(const KsFileRecord& record, std::int32_t n) : record_(record), n_(n) {}

    std::string_view Of() {
        const KsField& field = record_.GetFieldInfo(n_);
        if (record_.IsBlank(n_)) {
            return {};
        }
        switch (field.GetType()) {
            case KS_NUMBER_FLD:
            case KS_CURRENCY_FLD:
                return NumberText(record_.GetNumber(n_), field.GetPrecision());
            case KS_LONG_FLD:
                return LongText(record_.GetLong(n_));
            case KS_ULONG_FLD:
                return IntegerText(record_.GetUnsignedLong(n_), digits_);
            case KS_SHORT_FLD:
                return ShortText(record_.GetShort(n_));
            case KS_USHORT_FLD:
                return IntegerText(record_.GetUnsignedShort(n_), digits_);
            case KS_BOOLEAN_FLD:
                return record_.GetBoolean(n_) ? "True" : "False";
            case KS_ALPHA_FLD:
                return AlphaText(field.GetLength());
            case KS_BINARY_FLD:
                return BinaryText(field.GetLength());
            case KS_BLOB_FLD:
                return BlobText();
            case KS_DATE_FLD:
                return DigitsOf(TimestampOf(KS_DATE_FLD), 0, 8);
            case KS_TIME_FLD:
                return DigitsOf(TimestampOf(KS_TIME_FLD), 8, 9);
            case KS_STAMP_FLD:
                return DigitsOf(TimestampOf(KS_STAMP_FLD), 0, 17);
            default:
                KsException::Generate("Unknown field type", kFileRecordClass);
        }
    }

    KsTimestamp TimestampOf(char type) const { return FieldTimestamp(record_, n_, type); }

private:
    // A value equal to a blank's stand-in, in a record type with blanks.
    template <class Value>
    bool StandsForBlank(Value value, Value blank) const {
        return value == blank && record_.HasBlanks();
    }
    std::string_view NumberText(double value, int precision) {
        return StandsForBlank(value, kBlankNumber) ? std::string_view()
                                                   : FixedText(value, precision, digits_);
    }
    std::string_view LongText(std::int32_t value) {
        return StandsForBlank(value, kBlankLong) ? std::string_view() : IntegerText(value, digits_);
    }
    std::string_view ShortText(std::int16_t value) {
        return StandsForBlank(value, kBlankShort) ? std::string_view()
                                                  : IntegerText(value, digits_);
    }
    std::string_view AlphaText(std::int16_t length) {
        auto room = static_cast<std::uint32_t>(length) + 1;
        char* text = digits_;
        if (room > sizeof digits_) {
            scratch_.resize(room);
            text = scratch_.data();
        }
        return record_.GetAlpha(n_, text, room, true);
    }
    std::string_view BinaryText(std::int16_t length) {
        (void)length;
        std::string bytes = FieldBytes(record_, n_);
        return HexText(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                       scratch_);
    }
    std::string_view BlobText() {
        KsBlob blob;
        record_.GetBLOB(n_, blob);
        scratch_.assign(blob.GetData(), blob.GetSize());
        return scratch_.c_str();  // up to the first NUL
    }
    std::string_view DigitsOf(const KsTimestamp& timestamp, std::size_t from, std::size_t count) {
        std::memcpy(digits_, timestamp.GetDigits() + from, count);
        return {digits_, count};
    }

    const KsFileRecord& record_;
    std::int32_t n_;
    char digits_[kNumberText];
    std::string scratch_;
};

}  // namespace

const char* KsFileRecord::GetField(std::int32_t n, char* buffer, std::uint32_t size,
                                   bool formatted) const {
    return KsCallpath("GetField()", kFileRecordClass, [&]() -> const char* {
        if (buffer == nullptr || size == 0) {
            KsException::Generate("Invalid (null) parameter", kFileRecordClass);
        }
        const KsField& field = CheckedField(n);
        int mode = formatted ? int{field.GetFormatOption()} : int{KsField::kNoFormat};
        if (mode == KsField::kFormatted && FormatField(n, buffer, size)) {
            return buffer;
        }
        if (mode == KsField::kFiltered && field.GetFilter() != nullptr &&
            field.GetFilter()->GetFilterType() != KsFilter::kNoFilter) {
            return FilterField(n, buffer, size);
        }
        if (mode > KsField::kFiltered) {
            KsException::Generate("Unknown format type", kFileRecordClass);
        }
        PlainText text(*this, n);
        return CopyOut(text.Of(), buffer, size);
    });
}

bool KsFileRecord::FormatField(std::int32_t n, char* buffer, std::uint32_t size) const {
    const KsFormat* format = GetFieldInfo(n).GetFormat();
    if (format == nullptr || IsBlank(n)) {
        return false;
    }
    char type = GetFieldType(n);
    union {
        double number;
        std::int32_t integer;
        std::uint32_t unsignedInteger;
        std::int16_t shortInteger;
        std::uint16_t unsignedShort;
    } native{};
    const void* value = &native;
    bool valueIsText = false;
    std::string text;
    if (format->GetType() == type &&
        (type == KS_NUMBER_FLD || type == KS_LONG_FLD || type == KS_ULONG_FLD ||
         type == KS_SHORT_FLD || type == KS_USHORT_FLD)) {
        switch (type) {
            case KS_NUMBER_FLD:
                native.number = GetNumber(n);
                break;
            case KS_LONG_FLD:
                native.integer = GetLong(n);
                break;
            case KS_ULONG_FLD:
                native.unsignedInteger = GetUnsignedLong(n);
                break;
            case KS_SHORT_FLD:
                native.shortInteger = GetShort(n);
                break;
            default:
                native.unsignedShort = GetUnsignedShort(n);
                break;
        }
    } else {
        PlainText plain(*this, n);
        text = plain.Of();
        value = text.c_str();
        valueIsText = true;
    }
    return format->Format(value, valueIsText, buffer, size) >= 0;
}

const char* KsFileRecord::FilterField(std::int32_t n, char* buffer, std::uint32_t size) const {
    return KsCallpath("FilterField()", kFileRecordClass, [&]() -> const char* {
        const KsFilter* filter = GetFieldInfo(n).GetFilter();
        if (filter == nullptr) {
            KsException::Generate("No filter for FilterField request", kFileRecordClass);
        }
        std::uint8_t kind = filter->GetFilterType();
        switch (kind) {
            case KsFilter::kNoFilter: {
                PlainText text(*this, n);
                return CopyOut(text.Of(), buffer, size);
            }
            case KsFilter::kStringFilter: {
                const auto& strings =
                    FilterOfKind<KsStringFilter>(*filter, "StringFilter", "KsStringFilter");
                PlainText plain(*this, n);
                KsString text(std::string(plain.Of()).c_str());
                strings.FilterValue(text);
                return CopyOut(text.GetCString(), buffer, size);
            }
            case KsFilter::kNumberFilter: {
                const auto& numbers =
                    FilterOfKind<KsNumberFilter>(*filter, "NumberFilter", "KsNumberFilter");
                auto room = static_cast<std::int16_t>(std::min<std::uint32_t>(size, INT16_MAX));
                numbers.FilterValue(NumericValueForFilter(n), buffer, room);
                return buffer;
            }
            case KsFilter::kDateFilter:
            case KsFilter::kTimeFilter:
            case KsFilter::kTimestampFilter: {
                const auto& stamps = FilterOfKind<KsTimestampFilter>(*filter, TimestampKind(kind),
                                                                     "KsTimestampFilter");
                return FilterTimestampField(n, stamps, buffer, size);
            }
            default:
                KsException::Generate("Unknown filter type", kFileRecordClass);
        }
    });
}

double KsFileRecord::NumericValueForFilter(std::int32_t n) const {
    bool blank = IsBlank(n);
    switch (GetFieldType(n)) {
        case KS_NUMBER_FLD:
        case KS_CURRENCY_FLD:
            return blank ? kBlankNumber : GetNumber(n);
        case KS_LONG_FLD:
            return blank ? kBlankLong : GetLong(n);
        case KS_ULONG_FLD:
            return blank ? 0 : GetUnsignedLong(n);
        case KS_SHORT_FLD:
            return blank ? kBlankShort : GetShort(n);
        case KS_USHORT_FLD:
            return blank ? 0 : GetUnsignedShort(n);
        default:
            KsException::Generate("Unknown field type for numeric filter", kFileRecordClass);
    }
}

const char* KsFileRecord::FilterTimestampField(std::int32_t n, const KsTimestampFilter& filter,
                                               char* buffer, std::uint32_t size) const {
    char type = GetFieldType(n);
    if (!IsTimestampType(type)) {
        KsException::Generate("Unknown field type for timestamp filter", kFileRecordClass);
    }
    if (IsBlank(n)) {
        return CopyOut({}, buffer, size);
    }
    PlainText plain(*this, n);
    std::string shown(static_cast<std::size_t>(filter.GetDisplayLength()) + 1, '\0');
    filter.FilterTimestamp(shown.data(), static_cast<std::uint16_t>(shown.size()),
                           plain.TimestampOf(type));
    return CopyOut(shown.c_str(), buffer, size);
}

// ---- Text to field

void KsFileRecord::PutField(std::int32_t n, const char* text, int mode) {
    KsCallpath("PutField()", kFileRecordClass, [&] {
        const KsField& field = CheckedField(n);
        if (text == nullptr || *text == '\0') {
            PutBlank(n);
            return;
        }
        if (mode == kFieldOption) {
            mode = field.GetFormatOption();
        }
        switch (mode) {
            case kPlain:
                PutPlainText(n, text);
                break;
            case kFormatted:
                UnformatField(n, text);
                break;
            case kFiltered:
                UnfilterField(n, text);
                break;
            default:
                KsException::Generate("Unknown format type", kFileRecordClass);
        }
    });
}

void KsFileRecord::PutPlainText(std::int32_t n, const char* text) {
    switch (CheckedField(n).GetType()) {
        case KS_NUMBER_FLD:
        case KS_CURRENCY_FLD:
            PutNumber(n, NumberOf(text));
            break;
        case KS_LONG_FLD:
            PutLong(n, IntegerOf<std::int32_t>(text));
            break;
        case KS_ULONG_FLD:
            PutUnsignedLong(n, IntegerOf<std::uint32_t>(text));
            break;
        case KS_SHORT_FLD:
            PutShort(n, IntegerOf<std::int16_t>(text));
            break;
        case KS_USHORT_FLD:
            PutUnsignedShort(n, IntegerOf<std::uint16_t>(text));
            break;
        case KS_BOOLEAN_FLD: {
            bool value = false;
            KsConvertValue(value, text, true);
            PutBoolean(n, value);
            break;
        }
        default:
            PutText(n, text);
            break;
    }
}

void KsFileRecord::PutText(std::int32_t n, const char* text) {
    switch (GetFieldType(n)) {
        case KS_ALPHA_FLD:
            PutAlpha(n, text);
            break;
        case KS_BINARY_FLD: {
            std::string bytes = BytesOfHex(text);
            PutBinary(n, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
            break;
        }
        case KS_BLOB_FLD:
            PutBLOB(n, KsBlob(text, static_cast<std::uint32_t>(std::strlen(text))));
            break;
        case KS_DATE_FLD:
            PutDate(n, KsDate(TimestampOfDigits(text, 8, 0)));
            break;
        case KS_TIME_FLD:
            PutTime(n, KsTime(TimestampOfDigits(text, 9, 8)));
            break;
        case KS_STAMP_FLD:
            PutTimestamp(n, TimestampOfDigits(text, 17, 0));
            break;
        default:
            KsException::Generate("Invalid field type", kFileRecordClass);
    }
}

void KsFileRecord::UnformatField(std::int32_t n, const char* text) {
    KsCallpath("UnformatField()", kFileRecordClass, [&] {
        const KsFormat* format = GetFieldInfo(n).GetFormat();
        // Room for any native value of a format; a text value is at most 32 characters.
        union {
            double number;
            std::int32_t integer;
            std::uint32_t unsignedInteger;
            std::int16_t shortInteger;
            std::uint16_t unsignedShort;
            char text[40];
        } value{};
        // A text that is no label is taken as the value itself.
        if (format == nullptr || format->UnFormat(text, &value) < 0) {
            PutPlainText(n, text);
            return;
        }
        char digits[kNumberText];
        std::string_view shown;
        switch (format->GetType()) {
            case KS_ALPHA_FLD:
                value.text[sizeof value.text - 1] = '\0';
                shown = value.text;
                break;
            case KS_NUMBER_FLD: {
                auto result = std::to_chars(digits, digits + sizeof digits, value.number);
                shown = {digits, static_cast<std::size_t>(result.ptr - digits)};
                break;
            }
            case KS_LONG_FLD:
                shown = IntegerText(value.integer, digits);
                break;
            case KS_ULONG_FLD:
                shown = IntegerText(value.unsignedInteger, digits);
                break;
            case KS_SHORT_FLD:
                shown = IntegerText(value.shortInteger, digits);
                break;
            default:
                shown = IntegerText(value.unsignedShort, digits);
                break;
        }
        PutPlainText(n, std::string(shown).c_str());
    });
}

void KsFileRecord::UnfilterField(std::int32_t n, const char* text) {
    KsCallpath("UnfilterField()", kFileRecordClass, [&] {
        const KsFilter* filter = GetFieldInfo(n).GetFilter();
        if (filter == nullptr) {
            KsException::Generate("No filter for UnfilterField request", kFileRecordClass);
        }
        std::uint8_t kind = filter->GetFilterType();
        switch (kind) {
            case KsFilter::kNoFilter:
                PutPlainText(n, text);
                break;
            case KsFilter::kStringFilter: {
                const auto& strings =
                    FilterOfKind<KsStringFilter>(*filter, "StringFilter", "KsStringFilter");
                KsString value(text);
                strings.UnfilterValue(value);
                value.IsEmpty() ? PutBlank(n) : PutPlainText(n, value.GetCString());
                break;
            }
            case KsFilter::kNumberFilter: {
                const auto& numbers =
                    FilterOfKind<KsNumberFilter>(*filter, "NumberFilter", "KsNumberFilter");
                PutUnfilteredNumber(n, numbers.UnfilterValue(text));
                break;
            }
            case KsFilter::kDateFilter:
            case KsFilter::kTimeFilter:
            case KsFilter::kTimestampFilter: {
                const auto& stamps = FilterOfKind<KsTimestampFilter>(*filter, TimestampKind(kind),
                                                                     "KsTimestampFilter");
                char type = GetFieldType(n);
                if (!IsTimestampType(type)) {
                    KsException::Generate("Unknown field type for timestamp filter",
                                          kFileRecordClass);
                }
                KsTimestamp timestamp;
                stamps.UnfilterTimestamp(timestamp, text);
                PutFieldTimestamp(*this, n, type, timestamp);
                break;
            }
            default:
                KsException::Generate("Unknown filter type", kFileRecordClass);
        }
    });
}

void KsFileRecord::PutUnfilteredNumber(std::int32_t n, double value) {
    if (value == KsNumberFilter::kMissingValue) {
        PutBlank(n);
        return;
    }
    // The integer putters range-check their own type; out-of-range doubles are refused
    // before they are narrowed.
    auto checked = [&](double low, double high) {
        if (!(value >= low && value <= high)) {
            KsException::Generate("Number out of range", kFileRecordClass);
        }
        return std::trunc(value);
    };
    switch (GetFieldType(n)) {
        case KS_NUMBER_FLD:
        case KS_CURRENCY_FLD:
            PutNumber(n, value);
            break;
        case KS_LONG_FLD:
            PutLong(n, static_cast<std::int32_t>(checked(INT32_MIN, INT32_MAX)));
            break;
        case KS_ULONG_FLD:
            PutUnsignedLong(n, static_cast<std::uint32_t>(checked(0, UINT32_MAX)));
            break;
        case KS_SHORT_FLD:
            PutShort(n, static_cast<std::int16_t>(checked(INT16_MIN, INT16_MAX)));
            break;
        case KS_USHORT_FLD:
            PutUnsignedShort(n, static_cast<std::uint16_t>(checked(0, UINT16_MAX)));
            break;
        default:
            KsException::Generate("Unknown field type for numeric filter", kFileRecordClass);
    }
}

// ---- Whole records

namespace {

// Checks the range of GetAllFields and PutAllFields and returns its end.
std::int32_t EndOfRange(std::int32_t count, std::int32_t start, std::int32_t fields,
                        const char* message) {
    std::int64_t end = count == 0 ? fields : std::int64_t{start} + count;
    if (start < 0 || count < 0 || end > fields) {
        KsException::Generate("%s", kFileRecordClass, message);
    }
    return static_cast<std::int32_t>(end);
}

}  // namespace

void KsFileRecord::GetAllFields(char* const* texts, std::int32_t count, std::int32_t start,
                                std::uint32_t size, bool formatted) const {
    KsCallpath("GetAllFields()", kFileRecordClass, [&] {
        std::int32_t end =
            EndOfRange(count, start, GetFieldCount(), "Attempt to GetFields past end of record");
        for (std::int32_t n = start; n < end; ++n) {
            GetField(n, texts[n], size, formatted);
        }
    });
}

void KsFileRecord::PutAllFields(const char* const* texts, std::int32_t count, std::int32_t start) {
    KsCallpath("PutAllFields()", kFileRecordClass, [&] {
        std::int32_t end =
            EndOfRange(count, start, GetFieldCount(), "Attempt to PutFields past end of record");
        for (std::int32_t n = start; n < end; ++n) {
            PutField(n, texts[n], kFieldOption);
        }
    });
}

bool KsFileRecord::GetAllFieldsBlank() const {
    return KsCallpath("GetAllFieldsBlank()", kFileRecordClass, [&] {
        for (std::int32_t n = 0; n < GetFieldCount(); ++n) {
            if (!IsBlank(n)) {
                return false;
            }
        }
        return true;
    });
}

void KsFileRecord::LoadFieldsFrom(const KsFileRecord& source) {
    KsCallpath("LoadFieldsFrom()", kFileRecordClass, [&] {
        for (std::int32_t n = 0; n < GetFieldCount(); ++n) {
            source.CheckFieldIndexRange(n);
            char type = GetFieldType(n);
            char sourceType = source.GetFieldType(n);
            if (type != sourceType) {
                KsException::Generate(
                    "Field %hu has type '%c' locally, but passed in record has type '%c' for "
                    "this field",
                    kFileRecordClass, static_cast<unsigned short>(n), type, sourceType);
            }
            if (source.IsBlank(n)) {
                PutBlank(n);
            } else {
                CopyField(n, source);
            }
        }
    });
}

void KsFileRecord::CopyField(std::int32_t n, const KsFileRecord& source) {
    char type = GetFieldType(n);
    if (IsTimestampType(type)) {
        PutFieldTimestamp(*this, n, type, FieldTimestamp(source, n, type));
        return;
    }
    switch (type) {
        case KS_ALPHA_FLD:
            // A text through a 256-byte buffer (or one of the field's length), trimmed.
            PutAlpha(n, FieldText(source, n, true, 256).c_str());
            break;
        case KS_BINARY_FLD: {
            std::string bytes = FieldBytes(source, n);
            PutBinary(n, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
            break;
        }
        case KS_NUMBER_FLD:
        case KS_CURRENCY_FLD:
            PutNumber(n, source.GetNumber(n));
            break;
        case KS_LONG_FLD:
            PutLong(n, source.GetLong(n));
            break;
        case KS_ULONG_FLD:
            PutUnsignedLong(n, source.GetUnsignedLong(n));
            break;
        case KS_SHORT_FLD:
            PutShort(n, source.GetShort(n));
            break;
        case KS_USHORT_FLD:
            PutUnsignedShort(n, source.GetUnsignedShort(n));
            break;
        case KS_BOOLEAN_FLD:
            PutBoolean(n, source.GetBoolean(n));
            break;
        case KS_BLOB_FLD: {
            KsBlob blob;
            source.GetBLOB(n, blob);
            PutBLOB(n, blob);
            break;
        }
        default:
            KsException::Generate("Invalid field type '%c' for field %hu", kFileRecordClass, type,
                                  static_cast<unsigned short>(n));
    }
}

// ---- Serial form and text dump

void KsFileRecord::CheckFieldsBound() const {
    if (fields_.size() != boundFieldCount_) {
        KsException::Generate("The record's table has been closed or its fields have changed",
                              kFileRecordClass);
    }
}

void KsFileRecord::RawSerialWrite(KsOutputStreamInterface& stream) const {
    KsCallpath("WriteRecord()", kFileRecordClass, [&] {
        CheckFieldsBound();
        std::int32_t count = GetFieldCount();
        std::string blanks(static_cast<std::size_t>((count + 7) / 8), '\0');
        for (std::int32_t n = 0; n < count; ++n) {
            if (IsBlank(n)) {
                blanks[static_cast<std::size_t>(n / 8)] |= static_cast<char>(1 << (n % 8));
            }
        }
        if (!blanks.empty()) {
            stream.Write(blanks.data(), static_cast<std::int32_t>(blanks.size()));
        }
        for (std::int32_t n = 0; n < count; ++n) {
            if (!IsBlank(n)) {
                WriteField(n, stream);
            }
        }
    });
}

void KsFileRecord::WriteField(std::int32_t n, KsOutputStreamInterface& stream) const {
    KsCallpath("WriteField()", kFileRecordClass, [&] {
        switch (GetFieldType(n)) {
            case KS_NUMBER_FLD:
            case KS_CURRENCY_FLD:
                stream.WriteDouble(GetNumber(n));
                break;
            case KS_LONG_FLD:
                stream.WriteLong(GetLong(n));
                break;
            case KS_SHORT_FLD:
                stream.WriteShort(GetShort(n));
                break;
            case KS_USHORT_FLD:
                stream.WriteUnsignedShort(GetUnsignedShort(n));
                break;
            case KS_ULONG_FLD:
                stream.WriteUnsignedLong(GetUnsignedLong(n));
                break;
            case KS_BOOLEAN_FLD:
                stream.WriteBool(GetBoolean(n));
                break;
            case KS_DATE_FLD:
                stream.WriteUnsignedLong(
                    FieldTimestamp(*this, n, KS_DATE_FLD).GetJulianDayFromCalendarStart());
                break;
            case KS_STAMP_FLD: {
                KsTimestamp timestamp = FieldTimestamp(*this, n, KS_STAMP_FLD);
                stream.WriteUnsignedLong(timestamp.GetJulianDayFromCalendarStart());
                stream.WriteUnsignedLong(timestamp.GetTimeInMilliseconds());
                break;
            }
            case KS_TIME_FLD:
                stream.WriteUnsignedLong(
                    FieldTimestamp(*this, n, KS_TIME_FLD).GetTimeInMilliseconds());
                break;
            case KS_ALPHA_FLD:
                // The trimmed text, through a 512-byte buffer, within the field's width.
                stream.WriteString(FieldText(*this, n, true, 512).c_str(),
                                   static_cast<std::uint32_t>(GetFieldLength(n)), '\0');
                break;
            case KS_BINARY_FLD: {
                std::string bytes = FieldBytes(*this, n);
                stream.Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
                break;
            }
            case KS_BLOB_FLD: {
                KsBlob blob;
                GetBLOB(n, blob);
                stream.WriteUnsignedLong(blob.GetSize());
                blob.Write(stream);
                break;
            }
            default:
                KsException::Generate("Unknown field type", kFileRecordClass);
        }
    });
}

void KsFileRecord::RawSerialRead(KsInputStreamInterface& stream) {
    KsCallpath("ReadRecord()", kFileRecordClass, [&] {
        CheckFieldsBound();
        std::int32_t count = GetFieldCount();
        std::string blanks(static_cast<std::size_t>((count + 7) / 8), '\0');
        if (!blanks.empty()) {
            stream.Read(blanks.data(), static_cast<std::int32_t>(blanks.size()), true);
        }
        // Filled in a copy, so that a stream that fails half-way changes nothing here.
        std::unique_ptr<KsFileRecord> read(Clone());
        for (std::int32_t n = 0; n < count; ++n) {
            if ((blanks[static_cast<std::size_t>(n / 8)] >> (n % 8)) & 1) {
                read->PutBlank(n);
            } else {
                read->ReadField(n, stream);
            }
        }
        LoadFieldsFrom(*read);
    });
}

void KsFileRecord::ReadField(std::int32_t n, KsInputStreamInterface& stream) {
    KsCallpath("ReadField()", kFileRecordClass, [&] {
        char type = GetFieldType(n);
        if (IsTimestampType(type)) {
            KsTimestamp timestamp;
            if (type != KS_TIME_FLD) {
                timestamp.SetJulianDayFromCalendarStart(stream.ReadUnsignedLong());
            }
            if (type != KS_DATE_FLD) {
                timestamp.SetTimeInMilliseconds(stream.ReadUnsignedLong());
            }
            PutFieldTimestamp(*this, n, type, timestamp);
            return;
        }
        switch (type) {
            case KS_NUMBER_FLD:
            case KS_CURRENCY_FLD:
                PutNumber(n, stream.ReadDouble());
                break;
            case KS_LONG_FLD:
                PutLong(n, stream.ReadLong());
                break;
            case KS_SHORT_FLD:
                PutShort(n, stream.ReadShort());
                break;
            case KS_USHORT_FLD:
                PutUnsignedShort(n, stream.ReadUnsignedShort());
                break;
            case KS_ULONG_FLD:
                PutUnsignedLong(n, stream.ReadUnsignedLong());
                break;
            case KS_BOOLEAN_FLD:
                PutBoolean(n, stream.ReadBool());
                break;
            case KS_ALPHA_FLD: {
                // At most the field's width; a shorter text ends in its NUL.
                std::string text;
                char byte = '\0';
                while (text.size() <
                           static_cast<std::size_t>(std::max<std::int16_t>(GetFieldLength(n), 0)) &&
                       stream.Read(&byte, 1, true) == 1 && byte != '\0') {
                    text += byte;
                }
                PutAlpha(n, text.c_str());
                break;
            }
            case KS_BINARY_FLD: {
                std::string bytes(
                    static_cast<std::size_t>(std::max<std::int16_t>(GetFieldLength(n), 0)), '\0');
                if (!bytes.empty()) {
                    stream.Read(bytes.data(), static_cast<std::int32_t>(bytes.size()), true);
                }
                PutBinary(n, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
                break;
            }
            case KS_BLOB_FLD: {
                KsBlob blob;
                blob.Read(stream, stream.ReadUnsignedLong());
                PutBLOB(n, blob);
                break;
            }
            default:
                KsException::Generate("Unknown field type", kFileRecordClass);
        }
    });
}

void KsFileRecord::AppendTextDump(KsString& out) const {
    char text[kNumberText];
    for (std::int32_t n = 0; n < GetFieldCount(); ++n) {
        char type = GetFieldType(n);
        if (type == KS_BINARY_FLD) {
            out.Append("{BINARY},");
        } else if (type == KS_BLOB_FLD) {
            out.Append("{BLOB},");
        } else {
            out.Append(GetField(n, text, sizeof text, false)).Append(',');
        }
    }
}

KsString& operator<<(KsString& out, const KsFileRecord& record) {
    record.AppendTextDump(out);
    return out;
}

// ---- Scrambler

namespace {

void CheckScramblerArguments(const unsigned char* bytes, const char* key) {
    if (bytes == nullptr || key == nullptr || *key == '\0') {
        KsException::Generate("Invalid (null) parameter", kFileRecordClass);
    }
}

// Swaps b[j] and b[j + d] for j = 0, d + 1, 2(d + 1), ... while j < length - d; each
// distance is its own inverse.
void SwapAtDistance(unsigned char* bytes, std::uint32_t length, std::uint32_t d) {
    for (std::uint32_t j = 0; j + d < length; j += d + 1) {
        std::swap(bytes[j], bytes[j + d]);
    }
}

}  // namespace

void KsFileRecord::Encrypt(unsigned char* bytes, std::uint32_t length, const char* key) {
    KsCallpath("Encrypt()", kFileRecordClass, [&] {
        CheckScramblerArguments(bytes, key);
        auto k = static_cast<std::uint32_t>(std::strlen(key));
        for (std::uint32_t i = 0; i < length; ++i) {
            bytes[i] = static_cast<unsigned char>(static_cast<unsigned char>(key[i % k]) +
                                                  (255 - bytes[i]));
        }
        for (std::uint32_t d = 1; d < k; ++d) {
            SwapAtDistance(bytes, length, d);
        }
    });
}

void KsFileRecord::Decrypt(unsigned char* bytes, std::uint32_t length, const char* key) {
    KsCallpath("Decrypt()", kFileRecordClass, [&] {
        CheckScramblerArguments(bytes, key);
        auto k = static_cast<std::uint32_t>(std::strlen(key));
        for (std::uint32_t d = k - 1; d >= 1; --d) {
            SwapAtDistance(bytes, length, d);
        }
        for (std::uint32_t i = 0; i < length; ++i) {
            int t = bytes[i] - static_cast<signed char>(key[i % k]);
            if (t < 1) {
                t += 256;
            }
            bytes[i] = static_cast<unsigned char>(255 - (t % 256));
        }
    });
}

const char* KsFileRecord::GetLibraryKey() {
    return kLibraryKey;
}
