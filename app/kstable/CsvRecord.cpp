#include "CsvRecord.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include <optional>

#include "CommandLine.h"
#include "Counted.h"
#include "Table.h"
#include "core/KsConvertValue.h"
#include "core/KsText.h"
#include "files/KsFieldTypeLetters.h"
#include "io/KsIO.h"

namespace {

constexpr const char* kClass = "kstable import";

// For a plain decimal text ([+-]digits[.digits]): whether it has at most `decimals` digits
// after the point, trailing zeros not counted. Nothing for any other text.
std::optional<bool> HasAtMostDecimals(std::string_view text, std::size_t decimals) {
    std::size_t i = text.empty() || (text[0] != '+' && text[0] != '-') ? 0 : 1;
    const std::size_t firstDigit = i;
    while (i < text.size() && KsText::IsDigit(text[i])) {
        ++i;
    }
    const bool wholeDigits = i > firstDigit;
    if (i == text.size()) {
        return wholeDigits ? std::optional<bool>(true) : std::nullopt;
    }
    if (text[i] != '.') {
        return std::nullopt;
    }
    const std::size_t firstDecimal = ++i;
    while (i < text.size() && KsText::IsDigit(text[i])) {
        ++i;
    }
    if (i != text.size() || (!wholeDigits && i == firstDecimal)) {
        return std::nullopt;
    }
    std::size_t last = text.size();
    while (last > firstDecimal && text[last - 1] == '0') {
        --last;
    }
    return last - firstDecimal <= decimals;
}

// Whether the divisor is 10 to the power of the field's precision, so that a decimal text
// fits exactly when it has no more decimals than that.
bool IsDecimalDivisor(const CBFField& field) {
    std::int64_t power = 1;
    for (int i = 0; i < field.GetPrecision() && power <= INT32_MAX; ++i) {
        power *= 10;
    }
    return field.GetDivisor() == power;
}

// numerator / divisor, truncated to `decimals` decimals.
std::string DecimalText(std::int64_t numerator, std::int64_t divisor, int decimals) {
    std::string text = std::to_string(numerator / divisor);
    std::int64_t rest = numerator % divisor;
    if (decimals > 0) {
        text += '.';
    }
    for (int i = 0; i < decimals; ++i) {
        rest *= 10;
        text += static_cast<char>('0' + rest / divisor);
        rest %= divisor;
    }
    return text;
}

std::string WholeRange(std::int64_t low, std::int64_t high) {
    return "a whole number from " + std::to_string(low) + " to " + std::to_string(high);
}

// A Number field stores value * divisor in 32 bits, as sign and magnitude when it has a
// divisor.
std::string NumberRange(const CBFField& field) {
    const std::int64_t divisor = field.GetDivisor();
    if (divisor == 0 || divisor == 1) {
        return WholeRange(divisor == 0 ? INT32_MIN : -INT32_MAX, INT32_MAX);
    }
    const std::string high = DecimalText(INT32_MAX, divisor, field.GetPrecision());
    const std::string bounds = " from -" + high + " to " + high;
    if (IsDecimalDivisor(field)) {
        return "a number with " + Counted(field.GetPrecision(), "decimal") + bounds;
    }
    return "a number in steps of 1/" + std::to_string(divisor) + bounds;
}

}  // namespace

std::string FieldRangeText(const CBFField& field) {
    switch (field.GetType()) {
        case KS_LONG_FLD:
            return WholeRange(INT32_MIN, INT32_MAX);
        case KS_ULONG_FLD:
            return WholeRange(0, UINT32_MAX);
        case KS_USHORT_FLD:
            return WholeRange(0, (1 << field.GetNumberOfBits()) - 1);
        case KS_SHORT_FLD:
            // The text is read as a signed 16-bit number, the bits hold no sign.
            return WholeRange(0, std::min((1 << field.GetNumberOfBits()) - 1, INT16_MAX));
        case KS_NUMBER_FLD:
        case KS_CURRENCY_FLD:
            return NumberRange(field);
        default:
            return {};
    }
}

void PutFieldText(KsFileRecord& record, std::int32_t n, const char* text, int mode,
                  const std::string& range) {
    try {
        record.PutField(n, text, mode);
    } catch (const KsException&) {
        if (range.empty()) {
            throw;
        }
        KsException::Generate("\"%s\" is not %s", kClass, text, range.c_str());
    }
}

CsvRecordFiller::CsvRecordFiller(CBFFile& table) {
    for (const KsField* field : table.GetFields()) {
        limits_.push_back(LimitOf(static_cast<const CBFField&>(*field)));
    }
}

CsvRecordFiller::FieldLimit CsvRecordFiller::LimitOf(const CBFField& field) {
    FieldLimit limit;
    if (field.GetFormatOption() != KsField::kNoFormat) {
        limit.mode = KsFileRecord::kFieldOption;
        return limit;
    }
    limit.range = FieldRangeText(field);
    const auto length = static_cast<std::size_t>(field.GetLength());
    switch (field.GetType()) {
        case KS_ALPHA_FLD:
            limit.kind = FieldLimit::kText;
            limit.size = length;
            break;
        case KS_BINARY_FLD:
            limit.kind = FieldLimit::kBytes;
            limit.size = length;
            break;
        case KS_NUMBER_FLD:
            limit.kind = IsDecimalDivisor(field) ? FieldLimit::kDecimals : FieldLimit::kSteps;
            limit.size = static_cast<std::size_t>(field.GetPrecision());
            limit.divisor = field.GetDivisor();
            break;
        default:
            break;
    }
    return limit;
}

void CsvRecordFiller::Fill(KsFileRecord& record, const CsvReader& reader, std::size_t first) {
    CheckCount(reader, first);
    for (std::size_t i = 0; i < limits_.size(); ++i) {
        FillField(record, static_cast<std::int32_t>(i), reader, first + i);
    }
}

void CsvRecordFiller::CheckCount(const CsvReader& reader, std::size_t first) const {
    if (reader.Count() != first + limits_.size()) {
        KsException::Generate(
            "line %lld: %s, but the table has %s", kClass, static_cast<long long>(reader.Line()),
            Counted(static_cast<long long>(reader.Count() - first), "value").c_str(),
            Counted(static_cast<long long>(limits_.size()), "field").c_str());
    }
}

void CsvRecordFiller::FillField(KsFileRecord& record, std::int32_t n, const CsvReader& reader,
                                std::size_t value) const {
    const FieldLimit& limit = limits_[static_cast<std::size_t>(n)];
    try {
        PutFieldText(record, n, reader.Value(value), limit.mode, limit.range);
        CheckFits(record, n, limit, reader.View(value));
    } catch (const KsException& error) {
        KsException::Generate("line %lld, field \"%s\": %s", kClass,
                              static_cast<long long>(reader.Line()), record.GetFieldName(n),
                              error.GetErrorMessage());
    }
}

void CsvRecordFiller::CheckFits(const KsFileRecord& record, std::int32_t n, const FieldLimit& limit,
                                std::string_view text) const {
    switch (limit.kind) {
        case FieldLimit::kText:
            if (text.size() > limit.size) {
                KsException::Generate("\"%s\" is longer than the field's %s", kClass, text.data(),
                                      Counted(static_cast<long long>(limit.size), "byte").c_str());
            }
            break;
        case FieldLimit::kBytes:
            if (text.size() > 2 * limit.size) {
                KsException::Generate("\"%s\" holds more than the field's %s", kClass, text.data(),
                                      Counted(static_cast<long long>(limit.size), "byte").c_str());
            }
            break;
        case FieldLimit::kDecimals:
        case FieldLimit::kSteps:
            CheckNumberFits(record, n, limit, text);
            break;
        default:
            break;
    }
}

// The Number field n must hold the value of `text` exactly: decided from the text alone
// for decimal divisors, else from the value stored.
void CsvRecordFiller::CheckNumberFits(const KsFileRecord& record, std::int32_t n,
                                      const FieldLimit& limit, std::string_view text) const {
    const bool decimal = limit.kind == FieldLimit::kDecimals;
    std::optional<bool> fits;
    if (decimal) {
        fits = HasAtMostDecimals(text, limit.size);
    }
    if (!fits && !text.empty()) {
        double wanted = 0;
        KsConvertValue(wanted, text.data(), true);
        fits = record.GetNumber(n) == wanted;
    }
    if (fits == false && decimal) {
        KsException::Generate("\"%s\" has more decimals than the field's %zu", kClass, text.data(),
                              limit.size);
    }
    if (fits == false) {
        KsException::Generate("\"%s\" is not a whole number of 1/%ld", kClass, text.data(),
                              static_cast<long>(limit.divisor));
    }
}

std::unique_ptr<KsIOInterface> OpenCsvInput(const std::string& name) {
    if (name == "-") {
        auto input = std::make_unique<KsIO>();
        input->OpenDescriptor(STDIN_FILENO, "standard input", IO_READ);
        return input;
    }
    if (access(name.c_str(), R_OK) != 0) {
        throw MissingFileError("cannot read \"" + name + "\": " + std::strerror(errno));
    }
    RefuseFolder(name);
    return KsIOFactory::Default().Open(name.c_str(), IO_READ);
}
