#pragma once
/// @file

#include <cstdint>
#include <memory>

#include "core/KsString.h"
#include "core/KsVector.h"
#include "values/KsFilter.h"
#include "values/KsTimestamp.h"

/// One conversion of a format.
class KsTimestampFilterConversion {
public:
    KsTimestampFilterConversion() = default;

    /// Parses the conversion at `at` (which starts with "%") and returns the characters
    /// used. A conversion without a letter (the text ends) keeps the letter NUL.
    std::uint32_t SetConversion(const char* at);
    /// The longest text the conversion can produce: the larger of its width and the
    /// letter's minimum.
    std::uint16_t GetDisplayLength() const;
    /// Writes the conversion of `timestamp` to `out` (no NUL) and returns its length.
    std::uint32_t Apply(const KsTimestamp& timestamp, char* out) const;
    /// Reads the conversion from the start of `text` into `timestamp`; returns the
    /// characters used, never more than the text has.
    std::uint32_t Unapply(const char* text, KsTimestamp& timestamp) const;
    /// A number right-aligned in the width: all its digits, padded with '0' under zero
    /// fill and with blanks otherwise. Returns the characters written.
    std::uint32_t ShortToASCII(std::uint16_t value, char* out) const;
    /// Reads a number of at most `maximum` from the start of `text` (see the class notes).
    std::uint16_t ASCIIToShort(const char* text, std::uint16_t maximum, std::uint16_t& used) const;

    /// The conversion letter; NUL when the text ended before one.
    char GetLetter() const { return letter_; }
    /// The width given, 0 when none was.
    std::uint16_t GetWidth() const { return width_; }
    /// Whether numbers are padded with zeros rather than blanks.
    bool GetZeroFill() const { return zeroFill_; }

private:
    char letter_ = '\0';
    std::uint16_t width_ = 0;
    bool zeroFill_ = false;
};

/// The filter of date, time and timestamp fields: a format of literal text and
/// conversions ("%M %d, %y", "%h:%02n:%02s %p") that shows a timestamp as text and reads
/// such a text back.
///
/// A conversion is "%", an optional "0" (pad numbers with zeros rather than blanks), an
/// optional width and a letter: d day, m month, M/L month name short/whole, y year, Y year
/// of the century, H hour 0-23, h hour 1-12, n minute, s second, u millisecond, p/P am/pm
/// marker, w/W weekday name short/whole, % the character "%". Numbers are right-aligned in
/// their width and never cut; names are left-aligned.
class KsTimestampFilter : public KsFilter {
public:
    /// `type` is kDateFilter, kTimeFilter or kTimestampFilter; a null format leaves the
    /// filter empty.
    explicit KsTimestampFilter(const char* format = nullptr,
                               std::uint8_t type = KsFilter::kTimestampFilter);
    /// @{
    /// Copies type and format.
    KsTimestampFilter(const KsTimestampFilter& other) = default;
    KsTimestampFilter& operator=(const KsTimestampFilter& other) = default;
    /// @}
    ~KsTimestampFilter() override = default;

    std::unique_ptr<KsFilter> Clone() const override;
    const char* GetClassnameCString() const override { return "KsTimestampFilter"; }
    std::uint8_t GetFilterType() const override { return type_; }
    /// @{
    /// The forms of KsFilter without a progress display.
    using KsFilter::Read;
    using KsFilter::Write;
    /// @}
    /// "Date Format String", or a format built from the older keys when it is missing.
    void Read(KsIniSection& section, KsProgressInterface& progress) override;
    /// Header (marker 4) version 520 with the format, or the older version 400.
    void Read(KsInputStreamInterface& stream, KsProgressInterface& progress) override;
    /// Stores "Date Format String" only.
    void Write(KsIniSection& section, KsProgressInterface& progress) const override;
    /// Header (marker 4, version 520), then the format as a C string.
    void Write(KsOutputStreamInterface& stream, KsProgressInterface& progress) const override;

    /// Takes over the other filter's type and format.
    void Copy(const KsTimestampFilter& other);
    /// Replaces the format; null or empty leaves the filter empty.
    void SetFormat(const char* format);
    /// The format; empty for an empty filter.
    const char* GetFormat() const { return format_.GetCString(); }
    /// The longest text the format produces, without the NUL.
    std::uint16_t GetDisplayLength() const { return displayLength_; }

    /// Writes the text of `timestamp` and a NUL into `buffer`, which must hold the display
    /// length and the NUL.
    void FilterTimestamp(char* buffer, std::uint16_t bufferSize,
                         const KsTimestamp& timestamp) const;
    /// Reads a text made by this filter; fields the format does not name are those of a
    /// new timestamp. An empty text leaves `result` unchanged.
    void UnfilterTimestamp(KsTimestamp& result, const char* text) const;

    /// Whether type and format are equal.
    bool operator==(const KsTimestampFilter& other) const {
        return type_ == other.type_ && format_ == other.format_;
    }

private:
    void Clear();
    /// The format of the older settings: separators are literal text, the date format
    /// 1-6 (YMD, DMY, MDY, MY, YM, Y) and the month format 1-4 (1-Digit, 2-Digit,
    /// 3-Letter, Whole Name).
    void V400SetFormat(bool zeroFill, bool fourDigitYear, std::int32_t dateFormat,
                       const char* separator1, const char* separator2, std::int32_t monthFormat);
    static const char* V400Month(std::int32_t monthFormat);
    void ReadV400(KsInputStreamInterface& stream);

    std::uint8_t type_;
    KsString format_;
    std::uint16_t displayLength_ = 0;
    KsVector<KsTimestampFilterConversion> conversions_;
    /// The literal text before each conversion, then the text after the last.
    KsVector<KsString> literals_;
};
