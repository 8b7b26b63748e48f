#include "ImportPlan.h"

#include <algorithm>
#include <cstring>

#include "StoredField.h"
#include "core/KsByteOrder.h"

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

// A plain decimal text, [-]digits[.digits], as its digits without the point and without
// the fraction's trailing zeros (`digits`) and the number of decimals they keep.
struct Decimal {
    bool negative = false;
    std::uint64_t digits = 0;
    int decimals = 0;
};

bool DecimalOf(std::string_view text, Decimal& out) {
    out.negative = !text.empty() && text[0] == '-';
    std::size_t i = out.negative ? 1 : 0;
    const std::size_t firstDigit = i;
    std::uint64_t digits = 0;
    // 18 digits cannot overflow; more go to the filler.
    constexpr std::size_t kMostDigits = 18;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        digits = digits * 10 + static_cast<std::uint64_t>(text[i] - '0');
    }
    std::size_t counted = i - firstDigit;
    if (counted == 0) {
        return false;
    }
    int decimals = 0;
    if (i < text.size()) {
        if (text[i] != '.' || i + 1 == text.size()) {
            return false;
        }
        std::size_t last = text.size();
        while (last > i + 1 && text[last - 1] == '0') {
            --last;
        }
        for (std::size_t j = i + 1; j < text.size(); ++j) {
            if (!IsDigit(text[j])) {
                return false;
            }
        }
        for (std::size_t j = i + 1; j < last; ++j) {
            digits = digits * 10 + static_cast<std::uint64_t>(text[j] - '0');
            ++decimals;
        }
        counted += static_cast<std::size_t>(decimals);
    }
    if (counted > kMostDigits) {
        return false;
    }
    out.digits = digits;
    out.decimals = decimals;
    return true;
}

// value * divisor as a Number field keeps it (sign and magnitude), when that is a whole
// number of a safe size.
bool ScaledWord(std::string_view text, std::uint32_t divisor, std::uint32_t& word) {
    Decimal decimal;
    if (!DecimalOf(text, decimal) || decimal.decimals > 9) {
        return false;
    }
    if (decimal.digits > ~std::uint64_t{0} / divisor) {
        return false;
    }
    const std::uint64_t product = decimal.digits * divisor;
    const std::uint64_t power = PowerOfTen(decimal.decimals);
    if (product % power != 0 || product / power > kLargestScaled) {
        return false;  // not a whole number of steps, or near the limit
    }
    const auto magnitude = static_cast<std::uint32_t>(product / power);
    word = decimal.negative && magnitude != 0 ? 0x80000000u | magnitude : magnitude;
    return true;
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
        case 'A':
            step.kind = Step::kText;
            break;
        case 'Y':
            step.kind = Step::kHex;
            break;
        case 'I':
            step.kind = Step::kLong;
            break;
        case 'W':
            step.kind = Step::kUnsignedLong;
            break;
        case 'S':
        case 'U':
            step.kind = Step::kBits;
            step.shift = place->shift;
            // A Short's text is read as a signed 16-bit number first.
            step.largest = field.GetType() == 'S' ? std::min<std::uint32_t>(place->mask, INT16_MAX)
                                                  : place->mask;
            if (step.largest < 100) {
                step.kind = Step::kSmallBits;
            }
            break;
        case 'N':
            // Without a divisor the word holds a two's complement number.
            if (field.GetDivisor() > 0) {
                step.kind = Step::kScaled;
                step.divisor = static_cast<std::uint32_t>(field.GetDivisor());
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
            if (!ScaledWord(text, step.divisor, word)) {
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
    if (text.empty()) {
        bits = 0;
        return true;
    }
    if constexpr (K == Step::kSmallBits) {
        if (text.size() > 2) {
            return false;
        }
        // Without branches on the digits, which follow no pattern. A one-digit value is
        // followed by its NUL, so text[1] can be read.
        const unsigned first = static_cast<unsigned char>(text[0]) - unsigned{'0'};
        const unsigned second = static_cast<unsigned char>(text[1]) - unsigned{'0'};
        const auto two = static_cast<unsigned>(text.size() - 1);  // 0 or 1
        bits = first * (1 + 9 * two) + (second & (0u - two));
        return ((first > 9) | (two & (second > 9)) | (bits > step.largest)) == 0;
    } else {
        std::uint64_t value = 0;
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
