#include "ImportPlan.h"

#include <algorithm>
#include <cstring>

#include "StoredField.h"
#include "core/KsByteOrder.h"
#include "files/KsFieldTypeLetters.h"

namespace {

// Scaled values up to this magnitude are stored as the generic path stores them whatever
// the rounding of its binary fractions; the few nearer the 32-bit limit go through it.
constexpr std::uint64_t kLargestScaled = 0x7FFFFFFFu - 1024;

constexpr bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The value of 1 to `maxDigits` decimal digits and nothing else.
bool DigitsValue(std::string_view text, std::size_t maxDigits, std::uint64_t& value) {
    if (text.empty() || text.size() > maxDigits) {
        return false;
    }
    std::uint64_t v = 0;
    for (char c : text) {
        if (!IsDigit(c)) {
            return false;
        }
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
    }
    value = v;
    return true;
}

int HexDigit(char c) {
    if (IsDigit(c)) {
        return c - '0';
    }
    const char upper = static_cast<char>(c & ~0x20);
    return upper >= 'A' && upper <= 'F' ? upper - 'A' + 10 : -1;
}

// The values of the texts of a small bit string, looked up by their first two bytes (the
// first in the low byte): one or two digits ended by their NUL, or the empty text (its NUL
// first), whose value is 0. Any other pair is kNotSmall, above every small field's range.
constexpr std::uint8_t kNotSmall = 0xFF;
struct SmallValues {
    std::uint8_t value[1 << 16];
    SmallValues() {
        std::memset(value, kNotSmall, sizeof value);
        for (unsigned second = 0; second < 256; ++second) {
            value[second << 8] = 0;
        }
        for (unsigned first = 0; first < 10; ++first) {
            value['0' + first] = static_cast<std::uint8_t>(first);
            for (unsigned second = 0; second < 10; ++second) {
                value[('0' + first) | ('0' + second) << 8] =
                    static_cast<std::uint8_t>(10 * first + second);
            }
        }
    }
};
const SmallValues kSmallValues;

// A plain decimal text, [-]digits[.digits], as its digits without the point (`digits`)
// and the number of decimals.
struct Decimal {
    bool negative = false;
    std::uint64_t digits = 0;
    int decimals = 0;
};

// One pass over the text; more than 18 digits (which could overflow) go to the filler.
bool DecimalOf(std::string_view text, Decimal& out) {
    const char* at = text.data();
    const char* const end = at + text.size();
    out.negative = at != end && *at == '-';
    at += out.negative ? 1 : 0;
    const char* const firstDigit = at;
    std::uint64_t digits = 0;
    for (; at != end && IsDigit(*at); ++at) {
        digits = digits * 10 + static_cast<std::uint64_t>(*at - '0');
    }
    const auto whole = at - firstDigit;
    if (whole == 0) {
        return false;
    }
    std::ptrdiff_t decimals = 0;
    if (at != end) {
        if (*at != '.' || ++at == end) {
            return false;
        }
        const char* const firstDecimal = at;
        for (; at != end && IsDigit(*at); ++at) {
            digits = digits * 10 + static_cast<std::uint64_t>(*at - '0');
        }
        if (at != end) {
            return false;
        }
        decimals = at - firstDecimal;
    }
    constexpr std::ptrdiff_t kMostDigits = 18;
    if (whole + decimals > kMostDigits) {
        return false;
    }
    out.digits = digits;
    out.decimals = static_cast<int>(decimals);
    return true;
}

// value * divisor as a Number field keeps it (sign and magnitude), when that is a whole
// number of a safe size. A divisor of 10^exponent (exponent -1 for any other) scales a
// value with no more decimals than that by a multiplication alone.
bool ScaledWord(std::string_view text, std::uint32_t divisor, int exponent, std::uint32_t& word) {
    Decimal decimal;
    if (!DecimalOf(text, decimal)) {
        return false;
    }
    std::uint64_t magnitude = 0;
    if (decimal.decimals <= exponent) {
        if (decimal.digits > kLargestScaled) {
            return false;
        }
        magnitude = decimal.digits * PowerOfTen(exponent - decimal.decimals);
    } else {
        // Trailing zeros or a divisor of another kind: whole steps only.
        const std::uint64_t power = PowerOfTen(decimal.decimals);
        if (power == 0 || decimal.digits > ~std::uint64_t{0} / divisor) {
            return false;
        }
        const std::uint64_t product = decimal.digits * divisor;
        if (product % power != 0) {
            return false;
        }
        magnitude = product / power;
    }
    if (magnitude > kLargestScaled) {
        return false;  // near the limit
    }
    const auto bits = static_cast<std::uint32_t>(magnitude);
    word = decimal.negative && bits != 0 ? 0x80000000u | bits : bits;
    return true;
}

// The exponent of a divisor that is a power of ten, else -1.
int DecimalExponent(std::uint32_t divisor) {
    for (int exponent = 0; exponent <= 9; ++exponent) {
        if (PowerOfTen(exponent) == divisor) {
            return exponent;
        }
    }
    return -1;
}

}  // namespace

ImportPlan::ImportPlan(CBFFile& table)
    : record_(table.GetNewRecord()),
      bytes_(dynamic_cast<CBFRec&>(*record_).GetBuffer()),
      recordLength_(static_cast<std::size_t>(record_->GetRecordLength())),
      filler_(table) {
    for (const KsField* field : table.GetFields()) {
        steps_.push_back(StepOf(static_cast<const CBFField&>(*field), record_->GetRecordLength()));
        const std::size_t n = steps_.size() - 1;
        if (n == 0 || steps_[n].kind != steps_[n - 1].kind) {
            runs_.push_back({FillerOf(steps_[n].kind), n, n});
        }
        runs_.back().end = n + 1;
    }
}

ImportPlan::RunFiller ImportPlan::FillerOf(Step::Kind kind) {
    switch (kind) {
        case Step::kText:
            return &ImportPlan::FillRun<Step::kText>;
        case Step::kHex:
            return &ImportPlan::FillRun<Step::kHex>;
        case Step::kLong:
            return &ImportPlan::FillRun<Step::kLong>;
        case Step::kUnsignedLong:
            return &ImportPlan::FillRun<Step::kUnsignedLong>;
        case Step::kBits:
            return &ImportPlan::FillBitsRun<Step::kBits>;
        case Step::kSmallBits:
            return &ImportPlan::FillBitsRun<Step::kSmallBits>;
        case Step::kScaled:
            return &ImportPlan::FillRun<Step::kScaled>;
        case Step::kGeneric:
            break;
    }
    return &ImportPlan::FillRun<Step::kGeneric>;
}

std::size_t ImportPlan::PlannedFields() const {
    std::size_t planned = 0;
    for (const Step& step : steps_) {
        planned += step.kind != Step::kGeneric;
    }
    return planned;
}

ImportPlan::Step ImportPlan::StepOf(const CBFField& field, std::int32_t recordLength) {
    Step step;
    const std::optional<StoredPlace> place = StoredPlaceOf(field, recordLength);
    if (!place || field.GetFormatOption() != KsField::kNoFormat) {
        return step;
    }
    step.offset = place->offset;
    step.length = place->bytes;
    switch (field.GetType()) {
        case KS_ALPHA_FLD:
            step.kind = Step::kText;
            break;
        case KS_BINARY_FLD:
            step.kind = Step::kHex;
            break;
        case KS_LONG_FLD:
            step.kind = Step::kLong;
            break;
        case KS_ULONG_FLD:
            step.kind = Step::kUnsignedLong;
            break;
        case KS_SHORT_FLD:
        case KS_USHORT_FLD:
            step.kind = Step::kBits;
            step.shift = place->shift;
            // A Short's text is read as a signed 16-bit number first.
            step.largest = field.GetType() == KS_SHORT_FLD
                               ? std::min<std::uint32_t>(place->mask, INT16_MAX)
                               : place->mask;
            if (step.largest < 100) {
                step.kind = Step::kSmallBits;
            }
            break;
        case KS_NUMBER_FLD:
            // Without a divisor the word holds a two's complement number.
            if (field.GetDivisor() > 0) {
                step.kind = Step::kScaled;
                step.divisor = static_cast<std::uint32_t>(field.GetDivisor());
                step.exponent = static_cast<std::int8_t>(DecimalExponent(step.divisor));
            }
            break;
        default:
            break;
    }
    return step;
}

template <ImportPlan::Step::Kind K>
bool ImportPlan::Put(const Step& step, std::string_view text, unsigned char* record) {
    unsigned char* at = record + step.offset;
    if (text.empty()) {
        return K != Step::kGeneric;  // the field's zero, there already
    }
    std::uint64_t value = 0;
    switch (K) {
        case Step::kText:
            if (text.size() > step.length) {
                return false;
            }
            std::memcpy(at, text.data(), text.size());
            return true;
        case Step::kHex:
            if (text.size() % 2 != 0 || text.size() > 2 * std::size_t{step.length}) {
                return false;
            }
            for (std::size_t i = 0; i < text.size(); i += 2) {
                const int high = HexDigit(text[i]);
                const int low = HexDigit(text[i + 1]);
                if (high < 0 || low < 0) {
                    return false;
                }
                at[i / 2] = static_cast<unsigned char>(high * 16 + low);
            }
            return true;
        case Step::kLong: {
            const bool negative = text[0] == '-';
            if (!DigitsValue(text.substr(negative ? 1 : 0), 10, value) ||
                value > (negative ? 0x80000000u : 0x7FFFFFFFu)) {
                return false;
            }
            const std::uint32_t magnitude = static_cast<std::uint32_t>(value);
            KsByteOrder::StoreBig(at, negative ? 0u - magnitude : magnitude);
            return true;
        }
        case Step::kUnsignedLong:
            if (!DigitsValue(text, 10, value) || value > 0xFFFFFFFFu) {
                return false;
            }
            KsByteOrder::StoreBig(at, static_cast<std::uint32_t>(value));
            return true;
        case Step::kBits:
        case Step::kSmallBits:  // FillBitsRun's
            break;
        case Step::kScaled: {
            std::uint32_t word = 0;
            if (!ScaledWord(text, step.divisor, step.exponent, word)) {
                return false;
            }
            KsByteOrder::StoreBig(at, word);
            return true;
        }
        case Step::kGeneric:
            break;
    }
    return false;
}

template <ImportPlan::Step::Kind K>
bool ImportPlan::BitsOf(const Step& step, std::string_view text, unsigned& bits) {
    if constexpr (K == Step::kSmallBits) {
        if (text.size() > 2) {
            return false;
        }
        // One look-up and no branch on the digits, which follow no pattern. A value is
        // followed by its NUL, so two bytes can always be read.
        const auto* at = reinterpret_cast<const unsigned char*>(text.data());
        bits = kSmallValues.value[at[0] | unsigned{at[1]} << 8];
        return bits <= step.largest;
    } else {
        std::uint64_t value = 0;
        if (text.empty()) {
            bits = 0;
            return true;
        }
        if (!DigitsValue(text, 5, value) || value > step.largest) {
            return false;
        }
        bits = static_cast<unsigned>(value);
        return true;
    }
}

template <ImportPlan::Step::Kind K>
void ImportPlan::FillBitsRun(const Run& run, const CsvReader& reader) {
    unsigned char* const bytes = bytes_;
    const char* const text = reader.RecordText();
    const CsvReader::Span* const spans = reader.Spans();
    const Step* const steps = steps_.data();
    // The bit strings of a word gather in a register and the word is stored once, rather
    // than each field loading the word that the one before it has just stored.
    std::uint16_t offset = steps[run.first].offset;
    unsigned word = 0;
    const auto store = [&] {
        unsigned char* at = bytes + offset;
        KsByteOrder::StoreBig(
            at, static_cast<std::uint16_t>(KsByteOrder::LoadBig<std::uint16_t>(at) | word));
        word = 0;
    };
    for (std::size_t i = run.first; i < run.end; ++i) {
        const Step& step = steps[i];
        if (step.offset != offset) {
            store();
            offset = step.offset;
        }
        unsigned bits = 0;
        if (!BitsOf<K>(step, {text + spans[i].start, spans[i].length}, bits)) {
            store();  // the filler works on the record's bytes
            filler_.FillField(*record_, static_cast<std::int32_t>(i), reader, i);
            continue;
        }
        word |= bits << step.shift;
    }
    store();
}

template <ImportPlan::Step::Kind K>
void ImportPlan::FillRun(const Run& run, const CsvReader& reader) {
    // Locals, since the stores into the record's bytes could otherwise change any member
    // for all the compiler knows.
    unsigned char* const bytes = bytes_;
    const char* const text = reader.RecordText();
    const CsvReader::Span* const spans = reader.Spans();
    const Step* const steps = steps_.data();
    for (std::size_t i = run.first; i < run.end; ++i) {
        if (!Put<K>(steps[i], {text + spans[i].start, spans[i].length}, bytes)) {
            filler_.FillField(*record_, static_cast<std::int32_t>(i), reader, i);
        }
    }
}

const unsigned char* ImportPlan::Fill(const CsvReader& reader) {
    filler_.CheckCount(reader, 0);
    // Every field is written below, so the record starts from the zeros of a new one: the
    // bits of the words that no field uses stay as the generic path leaves them.
    std::memset(bytes_, 0, recordLength_);
    for (const Run& run : runs_) {
        (this->*run.fill)(run, reader);
    }
    return bytes_;
}
