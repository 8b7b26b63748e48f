#include "CsvRecord.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "CommandLine.h"
#include "io/KsIO.h"
#include <optional>

#include "core/KsConvertValue.h"
#include "core/KsText.h"

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

}  // namespace

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
    const auto length = static_cast<std::size_t>(field.GetLength());
    switch (field.GetType()) {
        case 'A':
            return {FieldLimit::kText, length, 0};
        case 'Y':
            return {FieldLimit::kBytes, length, 0};
        case 'N':
            return {IsDecimalDivisor(field) ? FieldLimit::kDecimals : FieldLimit::kSteps,
                    static_cast<std::size_t>(field.GetPrecision()), field.GetDivisor()};
        default:
            return limit;
    }
}

void CsvRecordFiller::Fill(KsFileRecord& record, const CsvReader& reader_, std::size_t first) {
    if (reader_.Count() != first + limits_.size()) {
        KsException::Generate("line %lld: %zu values, but the table has %zu fields", kClass,
                              static_cast<long long>(reader_.Line()), reader_.Count() - first,
                              limits_.size());
    }
    for (std::size_t i = 0; i < limits_.size(); ++i) {
        const auto n = static_cast<std::int32_t>(i);
        try {
            record.PutField(n, reader_.Value(first + i), limits_[i].mode);
            CheckFits(record, n, limits_[i], reader_.View(first + i));
        } catch (const KsException& error) {
            KsException::Generate("line %lld, field \"%s\": %s", kClass,
                                  static_cast<long long>(reader_.Line()),
                                  record.GetFieldName(n), error.GetErrorMessage());
        }
    }
}

void CsvRecordFiller::CheckFits(const KsFileRecord& record, std::int32_t n, const FieldLimit& limit,
                            std::string_view text) const {
    switch (limit.kind) {
        case FieldLimit::kText:
            if (text.size() > limit.size) {
                KsException::Generate("\"%s\" is longer than the field's %zu bytes", kClass,
                                      text.data(), limit.size);
            }
            break;
        case FieldLimit::kBytes:
            if (text.size() > 2 * limit.size) {
                KsException::Generate("\"%s\" holds more than the field's %zu bytes", kClass,
                                      text.data(), limit.size);
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
        KsException::Generate("\"%s\" has more decimals than the field's %zu", kClass,
                              text.data(), limit.size);
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
    return KsIOFactory::Default().Open(name.c_str(), IO_READ);
}
