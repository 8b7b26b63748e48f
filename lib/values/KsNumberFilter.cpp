#include "values/KsNumberFilter.h"

#include <locale.h>
#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/KsCallpath.h"
#include "core/KsText.h"
#include "ini/KsIniFile.h"
#include "io/KsStreamInterface.h"

namespace {

constexpr const char* kClass = "KsNumberFilter";
constexpr char kStreamMarker = 3;
constexpr std::int16_t kStreamVersion = 520;

constexpr const char* kMissingKey = "Missing String";
constexpr const char* kDecimalPlacesKey = "Number Of Decimal Places";
constexpr const char* kSignKey = "Negative Sign Placement";
constexpr const char* kFixWidthKey = "Fix Width";
constexpr const char* kFixWidthLengthKey = "Fix Width Length";
constexpr const char* kFillCharKey = "Fill Char";
constexpr const char* kFillSideKey = "Fill Side";
constexpr const char* kRoundingKey = "Rounding Place";
constexpr const char* kSuppressZeroKey = "Suppress Zero";
constexpr const char* kLeadingZeroKey = "Leading Zero";
constexpr const char* kThousandsKey = "Thousand Separator";
constexpr const char* kPrefixKey = "Prefix";
constexpr const char* kSuffixKey = "Suffix";

using KsText::IsDigit;

bool ReadsAsZero(const std::string& text) {
    return text.find_first_of("123456789") == std::string::npos;
}

std::int16_t ToShort(std::int32_t value) {
    return static_cast<std::int16_t>(std::clamp<std::int32_t>(value, INT16_MIN, INT16_MAX));
}

// Rounds the digits of `whole`.`fraction` half up at the digit of weight 10^k; every digit
// below it becomes 0.
void RoundAt(std::string& whole, std::string& fraction, int k) {
    std::string digits = whole + fraction;
    long index = static_cast<long>(whole.size()) - 1 - k;
    if (index >= static_cast<long>(digits.size())) {
        return;  // finer than the printed decimals
    }
    if (index < -1) {
        whole.assign(1, '0');  // the place lies above the number's magnitude
        fraction.assign(fraction.size(), '0');
        return;
    }
    std::size_t wholeLength = whole.size();
    if (index == -1) {
        digits.insert(digits.begin(), '0');
        ++wholeLength;
        index = 0;
    }
    auto at = static_cast<std::size_t>(index);
    bool carry = at + 1 < digits.size() && digits[at + 1] >= '5';
    std::fill(digits.begin() + static_cast<long>(at) + 1, digits.end(), '0');
    for (long i = index; carry; --i) {
        if (i < 0) {
            digits.insert(digits.begin(), '1');
            ++wholeLength;
            carry = false;
        } else if (digits[static_cast<std::size_t>(i)] == '9') {
            digits[static_cast<std::size_t>(i)] = '0';
        } else {
            ++digits[static_cast<std::size_t>(i)];
            carry = false;
        }
    }
    whole = digits.substr(0, wholeLength);
    fraction = digits.substr(wholeLength);
}

void StripLeadingZeros(std::string& whole) {
    std::size_t first = whole.find_first_not_of('0');
    whole = first == std::string::npos ? std::string(1, '0') : whole.substr(first);
}

struct PrintedDigits {
    std::string whole;
    std::string fraction;
};

// The digits of a finite, non-negative value as "%21.10f" prints them, without leading
// zeros except the one before the point.
PrintedDigits PrintDigits(double magnitude) {
    // The largest double prints with 309 digits before the point.
    char buffer[400];
    std::snprintf(buffer, sizeof buffer, "%21.10f", magnitude);
    std::string printed(KsText::TrimSpacesAndTabs(buffer));
    std::size_t point = printed.find('.');
    PrintedDigits digits{printed.substr(0, point),
                         point == std::string::npos ? "" : printed.substr(point + 1)};
    StripLeadingZeros(digits.whole);
    return digits;
}

// Puts a comma before every group of three digits to the left of the decimal point.
void InsertThousandsSeparators(std::string& text) {
    std::size_t end = std::min(text.find('.'), text.size());
    int digits = 0;
    for (std::size_t i = end; i > 0; --i) {
        if (!IsDigit(text[i - 1])) {
            break;
        }
        if (digits == 3) {
            text.insert(i, 1, ',');
            digits = 0;
        }
        ++digits;
    }
}

}  // namespace

std::unique_ptr<KsFilter> KsNumberFilter::Clone() const {
    return std::unique_ptr<KsFilter>(new KsNumberFilter(*this));
}

bool KsNumberFilter::operator==(const KsNumberFilter& other) const {
    return decimalPlaces_ == other.decimalPlaces_ && fillChar_ == other.fillChar_ &&
           fillSide_ == other.fillSide_ && fixWidth_ == other.fixWidth_ &&
           fixWidthLength_ == other.fixWidthLength_ && leadingZero_ == other.leadingZero_ &&
           missing_ == other.missing_ && negativeSign_ == other.negativeSign_ &&
           prefix_ == other.prefix_ && roundingPlace_ == other.roundingPlace_ &&
           suffix_ == other.suffix_ && thousands_ == other.thousands_ &&
           suppressZero_ == other.suppressZero_;
}

void KsNumberFilter::SetNegSignPosition(char placement) {
    KsCallpath("SetNegSignPosition()", kClass, [&] {
        if (placement < kSignBefore || placement > kSignParentheses) {
            KsException::Generate("Invalid negative sign placement", kClass);
        }
        negativeSign_ = placement;
    });
}

void KsNumberFilter::SetFixWidthVars(bool fixWidth, std::int16_t length, char fillSide,
                                     char fillChar) {
    KsCallpath("SetFixWidthVars()", kClass, [&] {
        if (length < 1 || length > 32) {
            KsException::Generate("Fix width length out of the range", kClass);
        }
        if (fillSide != kFillRight && fillSide != kFillLeft) {
            KsException::Generate("Invalid fill side", kClass);
        }
        fixWidth_ = fixWidth;
        if (fixWidth) {
            fixWidthLength_ = length;
            fillSide_ = fillSide;
            fillChar_ = fillChar;
        }
    });
}

void KsNumberFilter::SetRoundingVars(std::int16_t roundingPlace, std::int16_t decimalPlaces) {
    roundingPlace_ = roundingPlace;
    decimalPlaces_ = decimalPlaces;
}

void KsNumberFilter::FilterValue(double value, char* out, std::int16_t size) const {
    KsCallpath("FilterValue()", kClass, [&] {
        if (out == nullptr) {
            KsException::Generate("Null pointer(s) passed in", kClass);
        }
        if (size < 1) {
            return;
        }
        auto room = static_cast<std::size_t>(size - 1);
        std::string stars(static_cast<std::size_t>(std::max<std::int16_t>(fixWidthLength_, 0)),
                          '*');
        std::string text;
        if (value == kMissingValue) {
            text = missing_.GetCString();
        } else if (!std::isfinite(value)) {
            text = stars;
        } else {
            text = ShownText(value);
            if (text.size() > room) {
                text = stars;
            }
        }
        // Only the missing text and the stars can be longer than the buffer; they are cut.
        std::size_t n = std::min(text.size(), room);
        std::memcpy(out, text.data(), n);
        out[n] = '\0';
    });
}

std::string KsNumberFilter::ShownText(double value) const {
    bool negative = value < 0;
    std::string text = RoundedDigits(std::fabs(value));
    bool zero = ReadsAsZero(text);
    if (suppressZero_ && zero) {
        text.clear();
    }
    // Fix width counts digits only: not the decimal point, commas or signs.
    std::size_t counted = text.size();
    if (decimalPlaces_ > 0 && text.find('.') != std::string::npos) {
        --counted;
    }
    if (thousands_) {
        InsertThousandsSeparators(text);
    }
    if (fixWidth_) {
        FitToWidth(text, counted);
    }
    if (negative && !zero) {
        AddNegativeSign(text);
    }
    return std::string(prefix_.GetCString()) + text + suffix_.GetCString();
}

std::string KsNumberFilter::RoundedDigits(double magnitude) const {
    PrintedDigits digits = PrintDigits(magnitude);
    if (roundingPlace_ != 0) {
        RoundAt(digits.whole, digits.fraction,
                roundingPlace_ >= 1 ? roundingPlace_ - 1 : roundingPlace_);
        StripLeadingZeros(digits.whole);
    }
    std::string text = digits.whole;
    if (decimalPlaces_ >= 1) {
        digits.fraction.resize(static_cast<std::size_t>(decimalPlaces_), '0');
        text += "." + digits.fraction;
    }
    if (!leadingZero_ && decimalPlaces_ > 0 && text[0] == '0') {
        text.erase(0, 1);
    }
    return text;
}

void KsNumberFilter::FitToWidth(std::string& text, std::size_t counted) const {
    auto width = static_cast<std::size_t>(std::max<std::int16_t>(fixWidthLength_, 0));
    if (counted > width) {
        text.assign(width, '*');
    } else if (fillSide_ == kFillLeft) {
        text.insert(0, width - counted, fillChar_);
    } else {
        text.append(width - counted, fillChar_);
    }
}

void KsNumberFilter::AddNegativeSign(std::string& text) const {
    switch (negativeSign_) {
        case kSignBefore:
            text = "-" + text;
            break;
        case kSignAfter:
            text += "-";
            break;
        case kSignParentheses:
            text = "(" + text + ")";
            break;
        default:
            KsException::Generate("Invalid negative sign placement", kClass);
    }
}

double KsNumberFilter::UnfilterValue(const char* text) const {
    return KsCallpath("UnfilterValue()", kClass, [&] {
        if (text == nullptr) {
            KsException::Generate("Null pointer to the number", kClass);
        }
        if (*text == '\0') {
            return kMissingValue;
        }
        // The "C" locale, so that a decimal point is a point whatever the user's locale.
        static const locale_t classic = newlocale(LC_ALL_MASK, "C", nullptr);
        char* end = nullptr;
        errno = 0;
        double value = classic != nullptr ? strtod_l(text, &end, classic) : std::strtod(text, &end);
        if (end == text || *end != '\0' || std::isnan(value) ||
            (std::isinf(value) && errno != ERANGE)) {
            KsException::Generate("Invalid number", kClass);
        }
        if (std::isinf(value)) {
            KsException::Generate("Number is larger then a double", kClass);
        }
        return value;
    });
}

void KsNumberFilter::Read(KsIniSection& section, KsProgressInterface& progress) {
    (void)progress;
    KsCallpath("Read()", kClass, [&] {
        KsNumberFilter read;
        read.decimalPlaces_ = ToShort(section.GetInt(kDecimalPlacesKey, 0));
        read.fillChar_ = section.GetString(kFillCharKey, " ")[0];
        if (read.fillChar_ == '\0') {
            read.fillChar_ = ' ';
        }
        read.fillSide_ =
            strcasecmp(section.GetString(kFillSideKey, ""), "Left") == 0 ? kFillLeft : kFillRight;
        read.fixWidth_ = section.GetBool(kFixWidthKey, false);
        read.fixWidthLength_ = ToShort(section.GetInt(kFixWidthLengthKey, 0));
        read.leadingZero_ = section.GetBool(kLeadingZeroKey, false);
        read.missing_ = section.GetString(kMissingKey, "");
        const char* sign = section.GetString(kSignKey, "");
        read.negativeSign_ = strcasecmp(sign, "After") == 0         ? kSignAfter
                             : strcasecmp(sign, "Parenthesis") == 0 ? kSignParentheses
                                                                    : kSignBefore;
        read.prefix_ = section.GetString(kPrefixKey, "");
        read.roundingPlace_ = ToShort(section.GetInt(kRoundingKey, 0));
        read.suffix_ = section.GetString(kSuffixKey, "");
        read.thousands_ = section.GetBool(kThousandsKey, false);
        read.suppressZero_ = section.GetBool(kSuppressZeroKey, false);
        *this = read;
    });
}

void KsNumberFilter::Write(KsIniSection& section, KsProgressInterface& progress) const {
    (void)progress;
    KsCallpath("Write()", kClass, [&] {
        static constexpr const char* kSigns[4] = {"", "Before", "After", "Parenthesis"};
        section.SetString(kMissingKey, missing_.GetCString());
        section.SetInt(kDecimalPlacesKey, decimalPlaces_);
        section.SetString(
            kSignKey,
            kSigns[negativeSign_ >= 1 && negativeSign_ <= 3 ? static_cast<int>(negativeSign_)
                                                            : static_cast<int>(kSignBefore)]);
        section.SetBool(kFixWidthKey, fixWidth_);
        section.SetInt(kFixWidthLengthKey, fixWidthLength_);
        const char fill[2] = {fillChar_, '\0'};
        section.SetString(kFillCharKey, fill);
        section.SetString(kFillSideKey, fillSide_ == kFillLeft ? "Left" : "Right");
        section.SetInt(kRoundingKey, roundingPlace_);
        section.SetBool(kSuppressZeroKey, suppressZero_);
        section.SetBool(kLeadingZeroKey, leadingZero_);
        section.SetBool(kThousandsKey, thousands_);
        section.SetString(kPrefixKey, prefix_.GetCString());
        section.SetString(kSuffixKey, suffix_.GetCString());
    });
}

void KsNumberFilter::Read(KsInputStreamInterface& stream, KsProgressInterface& progress) {
    (void)progress;
    KsCallpath("Read()", kClass, [&] {
        ReadStreamHeader(stream, kStreamMarker, kStreamVersion, kClass);
        KsNumberFilter read;
        read.missing_.Read(stream);
        read.decimalPlaces_ = stream.ReadShort();
        read.negativeSign_ = static_cast<char>(stream.ReadShort());
        read.fixWidth_ = stream.ReadBool();
        read.fixWidthLength_ = stream.ReadShort();
        stream.Read(&read.fillChar_, 1, true);
        stream.Read(&read.fillSide_, 1, true);
        read.roundingPlace_ = stream.ReadShort();
        read.suppressZero_ = stream.ReadBool();
        read.leadingZero_ = stream.ReadBool();
        read.thousands_ = stream.ReadBool();
        read.prefix_.Read(stream);
        read.suffix_.Read(stream);
        if (read.negativeSign_ < kSignBefore || read.negativeSign_ > kSignParentheses) {
            KsException::Generate("Invalid negative sign placement", kClass);
        }
        *this = read;
    });
}

void KsNumberFilter::Write(KsOutputStreamInterface& stream, KsProgressInterface& progress) const {
    (void)progress;
    KsCallpath("Write()", kClass, [&] {
        stream.WriteKsHeader(kStreamMarker, kStreamVersion);
        missing_.Write(stream);
        stream.WriteShort(decimalPlaces_);
        stream.WriteShort(negativeSign_);
        stream.WriteBool(fixWidth_);
        stream.WriteShort(fixWidthLength_);
        stream.Write(&fillChar_, 1);
        stream.Write(&fillSide_, 1);
        stream.WriteShort(roundingPlace_);
        stream.WriteBool(suppressZero_);
        stream.WriteBool(leadingZero_);
        stream.WriteBool(thousands_);
        prefix_.Write(stream);
        suffix_.Write(stream);
    });
}
