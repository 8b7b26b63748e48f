#include "ExportPlan.h"

#include <charconv>
#include <cstring>
#include <string_view>

#include "Csv.h"
#include "StoredField.h"
#include "core/KsByteOrder.h"
#include "core/KsText.h"
#include "files/KsFieldTypeLetters.h"

namespace {

// GetField's buffer: the longest text it gives is one byte shorter.
constexpr std::size_t kFieldText = 2048;
// "-" and the digits of magnitude * scale (below 2^52: 16 digits), the point and a zero.
constexpr std::size_t kNumberBytes = 24;
// Scales up to this keep every magnitude * scale below 2^52, where the value's double
// prints as exactly these digits.
constexpr std::uint32_t kLargestScale = 1u << 20;

// The texts of 0 to 99 with the comma after them, each four bytes long with its length in
// the last, so that a value is one store and an add of its length, without a branch.
struct SmallNumbers {
    char text[100][4] = {};
    constexpr SmallNumbers() {
        for (int n = 0; n < 100; ++n) {
            const int length = n < 10 ? 1 : 2;
            text[n][0] = static_cast<char>('0' + (n < 10 ? n : n / 10));
            text[n][1] = static_cast<char>(n < 10 ? ',' : '0' + n % 10);
            text[n][2] = ',';
            text[n][3] = static_cast<char>(length + 1);
        }
    }
};
constexpr SmallNumbers kSmallNumbers;

template <class Integer>
char* PutInteger(char* out, Integer value) {
    return std::to_chars(out, out + kNumberBytes, value).ptr;
}

// `digits` / 10^decimals with all its decimals.
char* PutFixed(char* out, std::uint64_t digits, int decimals) {
    char text[kNumberBytes];
    const auto count =
        static_cast<std::size_t>(std::to_chars(text, text + sizeof text, digits).ptr - text);
    const auto kept = static_cast<std::size_t>(decimals);
    if (kept == 0) {
        std::memcpy(out, text, count);
        return out + count;
    }
    if (count <= kept) {
        *out++ = '0';
        *out++ = '.';
        std::memset(out, '0', kept - count);
        out += kept - count;
        std::memcpy(out, text, count);
        return out + count;
    }
    std::memcpy(out, text, count - kept);
    out += count - kept;
    *out++ = '.';
    std::memcpy(out, text + count - kept, kept);
    return out + kept;
}

char* PutHex(char* out, const unsigned char* bytes, std::size_t count) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < count; ++i) {
        *out++ = kDigits[bytes[i] >> 4];
        *out++ = kDigits[bytes[i] & 0x0F];
    }
    return out;
}

}  // namespace

ExportPlan::ExportPlan(CBFFile& table, std::vector<std::int32_t> fields)
    : record_(table.GetNewRecord()),
      text_(kFieldText),
      recordLength_(static_cast<std::size_t>(record_->GetRecordLength())) {
    for (std::int32_t n : fields) {
        const auto& field = static_cast<const CBFField&>(table.GetField(n));
        steps_.push_back(StepOf(field, n, record_->GetRecordLength()));
        maxRecordBytes_ += MaxTextBytes(steps_.back()) + 1;  // and its comma
        const std::size_t i = steps_.size() - 1;
        if (i == 0 || steps_[i].kind != steps_[i - 1].kind) {
            runs_.push_back({WriterOf(steps_[i].kind), i, i});
        }
        runs_.back().end = i + 1;
    }
    maxRecordBytes_ += 2;  // CR LF (the CR over the last comma when there is one)
}

std::size_t ExportPlan::PlannedFields() const {
    std::size_t planned = 0;
    for (const Step& step : steps_) {
        planned += step.kind != Step::kGeneric;
    }
    return planned;
}

ExportPlan::Step ExportPlan::StepOf(const CBFField& field, std::int32_t n,
                                    std::int32_t recordLength) {
    Step step;
    step.field = n;
    const std::optional<StoredPlace> place = StoredPlaceOf(field, recordLength);
    if (!place || field.GetFormatOption() != KsField::kNoFormat) {
        return step;
    }
    step.offset = place->offset;
    step.length = place->bytes;
    step.shift = place->shift;
    step.mask = place->mask;
    switch (field.GetType()) {
        case KS_ALPHA_FLD:
            step.kind = Step::kText;
            break;
        case KS_BINARY_FLD:
            // Longer fields would be cut to GetField's buffer.
            if (2 * std::size_t{step.length} < kFieldText) {
                step.kind = Step::kHex;
            }
            break;
        case KS_LONG_FLD:
            step.kind = Step::kLong;
            break;
        case KS_ULONG_FLD:
            step.kind = Step::kUnsignedLong;
            break;
        case KS_SHORT_FLD:
            step.kind = Step::kShortBits;
            break;
        case KS_USHORT_FLD:
            step.kind = step.mask < 100 ? Step::kSmallBits : Step::kBits;
            break;
        case KS_NUMBER_FLD:
        case KS_CURRENCY_FLD: {
            // The value is magnitude / divisor; with 10^decimals a multiple of the divisor
            // it has exactly those decimals.
            const std::int32_t divisor = field.GetDivisor();
            const std::uint32_t power = PowerOfTen(field.GetPrecision());
            if (divisor > 0 && power != 0 && power % static_cast<std::uint32_t>(divisor) == 0 &&
                power / static_cast<std::uint32_t>(divisor) <= kLargestScale) {
                step.kind = Step::kFixed;
                step.decimals = static_cast<std::uint8_t>(field.GetPrecision());
                step.scale = power / static_cast<std::uint32_t>(divisor);
            }
            break;
        }
        default:
            break;
    }
    return step;
}

std::size_t ExportPlan::MaxTextBytes(const Step& step) {
    switch (step.kind) {
        case Step::kText:
            return CsvWriter::MaxValueBytes(step.length);
        case Step::kHex:
            return 2 * std::size_t{step.length};
        case Step::kGeneric:
            return CsvWriter::MaxValueBytes(kFieldText - 1);
        default:
            return kNumberBytes;
    }
}

ExportPlan::RunWriter ExportPlan::WriterOf(Step::Kind kind) {
    switch (kind) {
        case Step::kText:
            return &ExportPlan::PutRun<Step::kText>;
        case Step::kHex:
            return &ExportPlan::PutRun<Step::kHex>;
        case Step::kLong:
            return &ExportPlan::PutRun<Step::kLong>;
        case Step::kUnsignedLong:
            return &ExportPlan::PutRun<Step::kUnsignedLong>;
        case Step::kShortBits:
            return &ExportPlan::PutRun<Step::kShortBits>;
        case Step::kBits:
            return &ExportPlan::PutRun<Step::kBits>;
        case Step::kSmallBits:
            return &ExportPlan::PutRun<Step::kSmallBits>;
        case Step::kFixed:
            return &ExportPlan::PutRun<Step::kFixed>;
        case Step::kGeneric:
            break;
    }
    return &ExportPlan::PutRun<Step::kGeneric>;
}

template <ExportPlan::Step::Kind K>
char* ExportPlan::PutText(const Step& step, const unsigned char* at, char* out) {
    switch (K) {
        case Step::kText: {
            const char* text = reinterpret_cast<const char*>(at);
            return CsvWriter::PutValue(
                out, KsText::TrimBlanksAndControls({text, strnlen(text, step.length)}));
        }
        case Step::kHex:
            return PutHex(out, at, step.length);
        case Step::kLong:
            return PutInteger(out, KsByteOrder::LoadBig<std::int32_t>(at));
        case Step::kUnsignedLong:
            return PutInteger(out, KsByteOrder::LoadBig<std::uint32_t>(at));
        case Step::kShortBits:
        case Step::kBits: {
            const auto bits = static_cast<std::uint16_t>(
                (KsByteOrder::LoadBig<std::uint16_t>(at) >> step.shift) & step.mask);
            return K == Step::kBits ? PutInteger(out, bits)
                                    : PutInteger(out, static_cast<std::int16_t>(bits));
        }
        case Step::kSmallBits: {
            // Its comma too (PutRun adds none): the digits follow no pattern, so a branch on
            // their count would be mispredicted every other value.
            const unsigned bits =
                (KsByteOrder::LoadBig<std::uint16_t>(at) >> step.shift) & step.mask;
            const char* text = kSmallNumbers.text[bits];
            std::memcpy(out, text, 4);
            return out + static_cast<unsigned char>(text[3]);
        }
        case Step::kFixed: {
            const auto word = KsByteOrder::LoadBig<std::uint32_t>(at);
            const std::uint32_t magnitude = word & 0x7FFFFFFFu;
            if (magnitude != word && magnitude != 0) {
                *out++ = '-';
            }
            return PutFixed(out, std::uint64_t{magnitude} * step.scale, step.decimals);
        }
        case Step::kGeneric:
            break;
    }
    return out;
}

template <ExportPlan::Step::Kind K>
char* ExportPlan::PutRun(const Run& run, const unsigned char* bytes, bool& loaded, char* out) {
    // Locals, since the stores of the text could otherwise change any member for all the
    // compiler knows.
    const Step* const steps = steps_.data();
    for (std::size_t i = run.first; i < run.end; ++i) {
        const Step& step = steps[i];
        if constexpr (K == Step::kGeneric) {
            if (!loaded) {
                record_->Load(bytes);
                loaded = true;
            }
            out =
                CsvWriter::PutValue(out, record_->GetField(step.field, text_.data(),
                                                           static_cast<std::uint32_t>(kFieldText)));
            *out++ = ',';
        } else {
            out = PutText<K>(step, bytes + step.offset, out);
            if constexpr (K != Step::kSmallBits) {
                *out++ = ',';
            }
        }
    }
    return out;
}

char* ExportPlan::Put(const unsigned char* bytes, char* out) {
    bool loaded = false;
    for (const Run& run : runs_) {
        out = (this->*run.write)(run, bytes, loaded, out);
    }
    if (!runs_.empty()) {
        --out;  // the comma after the last value
    }
    *out++ = '\r';
    *out++ = '\n';
    return out;
}
