#pragma once
/// @file

#include <cstdint>
#include <memory>
#include <string>

#include "core/KsString.h"
#include "values/KsFilter.h"

/// The filter of number fields: shows a value with a fixed number of decimals, rounded at
/// a chosen place, with its sign before, after or in parentheses, thousands separators,
/// padding to a fixed width, a prefix and a suffix; reads a plain number back. The value
/// -1.0e30 is a missing value and shows as the missing text.
///
/// Stream form: a header (marker 3, version 520), then the settings in the order in which
/// they are written to a section: missing text (C string), decimal places (16 bits), sign
/// placement (16 bits), fix width (bool), fix width length (16 bits), fill character and
/// fill side (one byte each), rounding place (16 bits), suppress zero, leading zero and
/// thousands separator (bools), prefix and suffix (C strings).
class KsNumberFilter : public KsFilter {
public:
    /// Where the fill characters go under fix width: after the text (kFillRight) or
    /// before it (kFillLeft).
    enum FillSide : char { kFillRight = 1, kFillLeft = 2 };
    /// Where a negative number's sign goes: "-" before, "-" after, or parentheses round
    /// the text.
    enum SignPlacement : char { kSignBefore = 1, kSignAfter = 2, kSignParentheses = 3 };
    /// The stored value of a number that is missing.
    static constexpr double kMissingValue = -1.0e30;

    /// Two decimals, rounded to units, sign before, no fix width, no texts.
    KsNumberFilter() = default;
    /// @{
    /// Copies every setting.
    KsNumberFilter(const KsNumberFilter& other) = default;
    KsNumberFilter& operator=(const KsNumberFilter& other) = default;
    /// @}
    ~KsNumberFilter() override = default;

    std::unique_ptr<KsFilter> Clone() const override;
    const char* GetClassnameCString() const override { return "KsNumberFilter"; }
    std::uint8_t GetFilterType() const override { return KsFilter::kNumberFilter; }
    /// @{
    /// The forms of KsFilter without a progress display.
    using KsFilter::Read;
    using KsFilter::Write;
    /// @}
    /// A missing key gives 0 for the numbers, false for the flags, blank and right for the
    /// fill, "before" for the sign and the empty text for the texts.
    void Read(KsIniSection& section, KsProgressInterface& progress) override;
    void Read(KsInputStreamInterface& stream, KsProgressInterface& progress) override;
    void Write(KsIniSection& section, KsProgressInterface& progress) const override;
    void Write(KsOutputStreamInterface& stream, KsProgressInterface& progress) const override;
    /// Takes every setting of `other`.
    void CopyFilter(const KsNumberFilter& other) { *this = other; }

    /// Writes the text of `value` and a NUL into `out` (size bytes). A text that does not
    /// fit becomes a row of '*' of the fix width length, cut to the buffer. A null `out`
    /// raises "Null pointer(s) passed in" (KsException).
    void FilterValue(double value, char* out, std::int16_t size) const;
    /// A plain decimal number ("C" locale) that uses up the whole text; the empty text is
    /// kMissingValue. Fails with "Invalid number", "Number is larger then a double" or, for
    /// a null text, "Null pointer to the number" (KsException).
    double UnfilterValue(const char* text) const;

    /// The text shown for a missing value (copied).
    void SetMissingString(const char* text) { missing_ = text; }
    /// A SignPlacement; any other raises "Invalid negative sign placement" (KsException).
    void SetNegSignPosition(char placement);
    /// The text shown before every number (copied).
    void SetPrefixVars(const char* prefix) { prefix_ = prefix; }
    /// The text shown after every number (copied).
    void SetSuffixVars(const char* suffix) { suffix_ = suffix; }
    /// Length 1-32 and side kFillRight or kFillLeft are checked even when switching off
    /// ("Fix width length out of the range", "Invalid fill side"; KsException); the
    /// length, side and fill are kept only when fix width is on.
    void SetFixWidthVars(bool fixWidth, std::int16_t length, char fillSide, char fillChar);
    /// Rounding place p: p >= 1 rounds to 10^(p-1) (1 to units, 2 to tens), p <= -1 to
    /// 10^p (-1 to tenths); 0 does not round. Decimal places are cut or padded after it.
    void SetRoundingVars(std::int16_t roundingPlace, std::int16_t decimalPlaces);
    /// Whether "," separates the thousands of the integer part.
    void SetThousandSeparator(bool on) { thousands_ = on; }
    /// Whether a magnitude below 1 keeps its "0" before the decimal point.
    void SetLeadingZero(bool on) { leadingZero_ = on; }
    /// Whether a value that rounds to zero shows no digits (only padding, prefix and suffix).
    void SetSuppressZero(bool on) { suppressZero_ = on; }

    /// The text of a missing value; valid while the filter is unchanged.
    const char* GetMissingString() const { return missing_.GetCString(); }
    /// The decimals shown after the point.
    std::int16_t GetDecimalPlaces() const { return decimalPlaces_; }
    /// The place rounded to (see SetRoundingVars).
    std::int16_t GetRoundingPlace() const { return roundingPlace_; }
    /// The SignPlacement of negative numbers.
    char GetNegSignPosition() const { return negativeSign_; }
    /// Whether texts are padded (or starred) to the fix width length.
    bool GetFixWidth() const { return fixWidth_; }
    /// The width of texts under fix width, 1-32.
    std::int16_t GetFixWidthLength() const { return fixWidthLength_; }
    /// The FillSide under fix width.
    char GetFillSide() const { return fillSide_; }
    /// The character that pads under fix width.
    char GetFillChar() const { return fillChar_; }

    /// Whether every setting is equal.
    bool operator==(const KsNumberFilter& other) const;

private:
    /// Steps of FilterValue for a finite value that is not missing.
    std::string ShownText(double value) const;
    /// The magnitude rounded, with its decimals cut or padded and its leading zero dropped
    /// when asked to.
    std::string RoundedDigits(double magnitude) const;
    /// Fills to the fix width length, or replaces an overlong text by stars; `counted` is
    /// the length that counts against the width.
    void FitToWidth(std::string& text, std::size_t counted) const;
    void AddNegativeSign(std::string& text) const;

    std::int16_t decimalPlaces_ = 2;
    char fillChar_ = ' ';
    char fillSide_ = kFillRight;
    bool fixWidth_ = false;
    std::int16_t fixWidthLength_ = 10;
    bool leadingZero_ = false;
    KsString missing_;
    char negativeSign_ = kSignBefore;
    KsString prefix_;
    std::int16_t roundingPlace_ = 1;
    KsString suffix_;
    bool thousands_ = false;
    bool suppressZero_ = false;
};
