#include "values/KsTimestampFilter.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "core/KsCallpath.h"
#include "core/KsScopeExit.h"
#include "core/KsText.h"
#include "ini/KsIniFile.h"
#include "io/KsStreamInterface.h"

namespace {

constexpr const char* kConversionClass = "KsTimestampFilterConversion";
constexpr const char* kFilterClass = "KsTimestampFilter";
constexpr char kStreamMarker = 4;
constexpr std::int16_t kStreamVersion = 520;
constexpr std::int16_t kOldStreamVersion = 400;
// The longest text a format may make: a buffer size, counted in 16 bits, must hold it and
// its NUL.
constexpr std::uint32_t kLongestDisplay = UINT16_MAX - 1;

constexpr const char* kShortMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kLongMonths[12] = {"January",   "February", "March",    "April",
                                         "May",       "June",     "July",     "August",
                                         "September", "October",  "November", "December"};
constexpr const char* kShortWeekdays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kLongWeekdays[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                          "Thursday", "Friday", "Saturday"};

// Older settings, in the order of their stored numbers (1 first).
constexpr const char* kDateFormats[6] = {"YMD", "DMY", "MDY", "MY", "YM", "Y"};
constexpr const char* kMonthFormats[4] = {"1-Digit", "2-Digit", "3-Letter", "Whole Name"};

using KsText::IsDigit;

// Writes `text` left-aligned in `width`, padded with blanks.
std::uint32_t WriteName(const char* text, std::uint16_t width, char* out) {
    std::uint32_t length = static_cast<std::uint32_t>(std::strlen(text));
    std::memcpy(out, text, length);
    while (length < width) {
        out[length++] = ' ';
    }
    return length;
}

// Characters a conversion of natural length `length` takes from `text`: the larger of the
// length and the width, never past the end of the text.
std::uint32_t Take(const char* text, std::uint32_t length, std::uint16_t width) {
    std::uint32_t wanted = std::max<std::uint32_t>(length, width);
    return static_cast<std::uint32_t>(strnlen(text, wanted));
}

// Index of the first name that starts `text`, or -1.
int MatchName(const char* text, const char* const* names, int count) {
    for (int i = 0; i < count; ++i) {
        if (std::strncmp(text, names[i], std::strlen(names[i])) == 0) {
            return i;
        }
    }
    return -1;
}

// The conversions that read a number: the largest value each takes and where it goes.
struct NumberPart {
    char letter;
    std::uint16_t maximum;
    void (*put)(KsTimestamp& timestamp, std::uint16_t value);
};
constexpr NumberPart kNumberParts[] = {
    {'d', 31, [](KsTimestamp& t, std::uint16_t v) { t.SetDay(v); }},
    {'m', 12, [](KsTimestamp& t, std::uint16_t v) { t.SetMonth(v); }},
    {'y', 9999, [](KsTimestamp& t, std::uint16_t v) { t.SetYear(v); }},
    // Two digits count from 2000.
    {'Y', 9999,
     [](KsTimestamp& t, std::uint16_t v) {
         t.SetYear(static_cast<std::uint16_t>(std::min<std::uint32_t>(v + 2000u, UINT16_MAX)));
     }},
    {'H', 23, [](KsTimestamp& t, std::uint16_t v) { t.SetHour(v); }},
    // Twelve o'clock is hour 0 until a "PM" moves it.
    {'h', 12,
     [](KsTimestamp& t, std::uint16_t v) { t.SetHour(static_cast<std::uint16_t>(v % 12)); }},
    {'n', 59, [](KsTimestamp& t, std::uint16_t v) { t.SetMinute(v); }},
    {'s', 59, [](KsTimestamp& t, std::uint16_t v) { t.SetSecond(v); }},
    {'u', 999, [](KsTimestamp& t, std::uint16_t v) { t.SetMilliseconds(v); }},
};

const NumberPart* NumberPartOf(char letter) {
    for (const NumberPart& part : kNumberParts) {
        if (part.letter == letter) {
            return &part;
        }
    }
    return nullptr;
}

}  // namespace

// ---- KsTimestampFilterConversion

std::uint32_t KsTimestampFilterConversion::SetConversion(const char* at) {
    return KsCallpath("SetConversion()", kConversionClass, [&] {
        if (at == nullptr || at[0] != '%') {
            KsException::Generate("This conversion \"%s\" does not start with '%%'",
                                  kConversionClass, at != nullptr ? at : "");
        }
        std::uint32_t i = 1;
        zeroFill_ = at[i] == '0';
        if (zeroFill_) {
            ++i;
        }
        std::uint32_t width = 0;
        for (; IsDigit(at[i]); ++i) {
            // Widths beyond 16 bits are held at the largest one.
            width = std::min<std::uint32_t>(width * 10 + static_cast<std::uint32_t>(at[i] - '0'),
                                            UINT16_MAX);
        }
        width_ = static_cast<std::uint16_t>(width);
        if ((at[i] == 'l' || at[i] == 'z') && at[i + 1] == 'h') {
            ++i;
        }
        letter_ = at[i];
        if (letter_ != '\0') {
            ++i;
        }
        return i;
    });
}

std::uint16_t KsTimestampFilterConversion::GetDisplayLength() const {
    return KsCallpath("GetDisplayLength()", kConversionClass, [&] {
        std::uint16_t minimum = 0;
        switch (letter_) {
            case 'd':
            case 'm':
            case 'Y':
            case 'H':
            case 'h':
            case 'n':
            case 's':
            case 'p':
            case 'P':
                minimum = 2;
                break;
            case 'M':
            case 'u':
            case 'w':
                minimum = 3;
                break;
            case 'y':
                minimum = 4;
                break;
            case 'L':
            case 'W':
                minimum = 9;
                break;
            case '%':
                minimum = 1;
                break;
            default:
                KsException::Generate("Unknown conversion type '%c'", kConversionClass, letter_);
        }
        return std::max(minimum, width_);
    });
}

std::uint32_t KsTimestampFilterConversion::ShortToASCII(std::uint16_t value, char* out) const {
    char digits[8];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value = static_cast<std::uint16_t>(value / 10);
    } while (value != 0);
    std::uint32_t length = 0;
    for (int pad = width_ - count; pad > 0; --pad) {
        out[length++] = zeroFill_ ? '0' : ' ';
    }
    while (count > 0) {
        out[length++] = digits[--count];
    }
    return length;
}

std::uint32_t KsTimestampFilterConversion::Apply(const KsTimestamp& timestamp, char* out) const {
    return KsCallpath("Apply()", kConversionClass, [&]() -> std::uint32_t {
        switch (letter_) {
            case 'd':
                return ShortToASCII(timestamp.GetDay(), out);
            case 'm':
                return ShortToASCII(timestamp.GetMonth(), out);
            case 'M':
                return WriteName(kShortMonths[timestamp.GetMonth() - 1], width_, out);
            case 'L':
                return WriteName(kLongMonths[timestamp.GetMonth() - 1], width_, out);
            case 'y':
                return ShortToASCII(timestamp.GetYear(), out);
            case 'Y':
                return ShortToASCII(static_cast<std::uint16_t>(timestamp.GetYear() % 100), out);
            case 'H':
                return ShortToASCII(timestamp.GetHour(), out);
            case 'h':
                return ShortToASCII(static_cast<std::uint16_t>((timestamp.GetHour() + 11) % 12 + 1),
                                    out);
            case 'n':
                return ShortToASCII(timestamp.GetMinute(), out);
            case 's':
                return ShortToASCII(timestamp.GetSecond(), out);
            case 'u':
                return ShortToASCII(timestamp.GetMilliseconds(), out);
            case 'p':
                return WriteName(timestamp.GetHour() < 12 ? "am" : "pm", width_, out);
            case 'P':
                return WriteName(timestamp.GetHour() < 12 ? "AM" : "PM", width_, out);
            case 'w':
                return WriteName(kShortWeekdays[timestamp.GetDayOfWeek()], width_, out);
            case 'W':
                return WriteName(kLongWeekdays[timestamp.GetDayOfWeek()], width_, out);
            case '%': {
                std::uint32_t length = 0;
                for (int pad = width_ - 1; pad > 0; --pad) {
                    out[length++] = ' ';
                }
                out[length++] = '%';
                return length;
            }
            default:
                KsException::Generate("Illegal conversion '%c'", kConversionClass, letter_);
        }
    });
}

std::uint16_t KsTimestampFilterConversion::ASCIIToShort(const char* text, std::uint16_t maximum,
                                                        std::uint16_t& used) const {
    return KsCallpath("ASCIIToShort()", kConversionClass, [&] {
        std::uint32_t i = 0;
        if (!zeroFill_) {
            while (text[i] == ' ') {
                ++i;
            }
        }
        if (!IsDigit(text[i])) {
            KsException::GenerateAs<KsFilterUninterpretableStringException>(
                "\"%s\" must start with a digit", kConversionClass, text);
        }
        std::uint32_t value = 0;
        if (width_ == 0) {
            while (IsDigit(text[i])) {
                std::uint32_t next = value * 10 + static_cast<std::uint32_t>(text[i] - '0');
                if (next > maximum) {
                    break;
                }
                value = next;
                ++i;
            }
        } else {
            for (; i < width_; ++i) {
                if (text[i] == '\0') {
                    KsException::GenerateAs<KsFilterUninterpretableStringException>(
                        "End of text found at offset %d of \"%s\"; need digit", kConversionClass,
                        static_cast<int>(i), text);
                }
                if (!IsDigit(text[i])) {
                    KsException::GenerateAs<KsFilterUninterpretableStringException>(
                        "'%c' found at offset %d of \"%s\"; need digit", kConversionClass, text[i],
                        static_cast<int>(i), text);
                }
                // Values beyond 16 bits are held at the largest, which every setter refuses.
                value = std::min<std::uint32_t>(
                    value * 10 + static_cast<std::uint32_t>(text[i] - '0'), UINT16_MAX);
            }
        }
        used = static_cast<std::uint16_t>(std::min<std::uint32_t>(i, UINT16_MAX));
        return static_cast<std::uint16_t>(value);
    });
}

std::uint32_t KsTimestampFilterConversion::Unapply(const char* text, KsTimestamp& timestamp) const {
    return KsCallpath("Unapply()", kConversionClass, [&]() -> std::uint32_t {
        std::uint16_t used = 0;
        if (const NumberPart* part = NumberPartOf(letter_)) {
            part->put(timestamp, ASCIIToShort(text, part->maximum, used));
            return used;
        }
        auto name = [&](const char* const* names, int count, bool month) -> int {
            int index = MatchName(text, names, count);
            if (index < 0) {
                KsException::GenerateAs<KsFilterUninterpretableStringException>(
                    month ? "\"%s\" does not appear to have a month at the beginning"
                          : "\"%s\" does not appear to have a weekday at the beginning",
                    kConversionClass, text);
            }
            used = static_cast<std::uint16_t>(
                Take(text, static_cast<std::uint32_t>(std::strlen(names[index])), width_));
            return index;
        };
        switch (letter_) {
            case 'M':
                timestamp.SetMonth(static_cast<std::uint16_t>(name(kShortMonths, 12, true) + 1));
                break;
            case 'L':
                timestamp.SetMonth(static_cast<std::uint16_t>(name(kLongMonths, 12, true) + 1));
                break;
            case 'p':
            case 'P':
                // "PM" always moves the hour read by 12: an hour of the afternoon that is
                // marked "PM" again is past the day's end and refused by the setter, not
                // taken silently.
                if (strncasecmp(text, "PM", 2) == 0) {
                    timestamp.SetHour(static_cast<std::uint16_t>(timestamp.GetHour() + 12));
                }
                used = static_cast<std::uint16_t>(Take(text, 2, width_));
                break;
            case 'w':
                name(kShortWeekdays, 7, false);
                break;
            case 'W':
                name(kLongWeekdays, 7, false);
                break;
            case '%':
                used = static_cast<std::uint16_t>(Take(text, 1, width_));
                break;
            default:
                KsException::Generate("Illegal conversion '%c'", kConversionClass, letter_);
        }
        return used;
    });
}

// ---- KsTimestampFilter

KsTimestampFilter::KsTimestampFilter(const char* format, std::uint8_t type) : type_(type) {
    KsCallpath("KsTimestampFilter()", kFilterClass, [&] {
        literals_.emplace_back();
        SetFormat(format);
    });
}

std::unique_ptr<KsFilter> KsTimestampFilter::Clone() const {
    return KsCallpath("Clone()", kFilterClass,
                      [&] { return std::unique_ptr<KsFilter>(new KsTimestampFilter(*this)); });
}

void KsTimestampFilter::Copy(const KsTimestampFilter& other) {
    KsCallpath("Copy()", kFilterClass, [&] {
        if (this != &other) {
            KsTimestampFilter copy(other);
            *this = copy;
        }
    });
}

void KsTimestampFilter::Clear() {
    format_.Clear();
    displayLength_ = 0;
    conversions_.clear();
    literals_.clear();
    literals_.emplace_back();
}

void KsTimestampFilter::SetFormat(const char* format) {
    KsCallpath("SetFormat()", kFilterClass, [&] {
        Clear();
        if (format == nullptr || *format == '\0') {
            return;
        }
        std::size_t length = std::strlen(format);
        if (format[length - 1] == '%') {
            KsException::Generate("Date filter format string cannot end with '%%'", kFilterClass);
        }
        KsScopeExit clearOnError([&] { Clear(); });
        // Worked out in 32 bits: a format longer than 16 bits can count is refused.
        std::uint32_t display = 0;
        const char* p = format;
        while (true) {
            const char* percent = std::strchr(p, '%');
            std::size_t literalLength =
                percent != nullptr ? static_cast<std::size_t>(percent - p) : std::strlen(p);
            literals_.back().Append(p, static_cast<std::uint32_t>(literalLength));
            display += static_cast<std::uint32_t>(literalLength);
            if (percent == nullptr) {
                break;
            }
            KsTimestampFilterConversion conversion;
            std::uint32_t used = conversion.SetConversion(percent);
            if (conversion.GetLetter() == '\0') {
                KsException::Generate("Date filter format string cannot end with '%%'",
                                      kFilterClass);
            }
            display += conversion.GetDisplayLength();
            conversions_.push_back(conversion);
            literals_.emplace_back();
            p = percent + used;
            if (display > kLongestDisplay) {
                break;
            }
        }
        if (display > kLongestDisplay) {
            KsException::Generate("Date filter format string \"%s\" makes texts longer than %d",
                                  kFilterClass, format, static_cast<int>(kLongestDisplay));
        }
        displayLength_ = static_cast<std::uint16_t>(display);
        format_ = format;
        clearOnError.Dismiss();
    });
}

void KsTimestampFilter::FilterTimestamp(char* buffer, std::uint16_t bufferSize,
                                        const KsTimestamp& timestamp) const {
    KsCallpath("FilterTimestamp()", kFilterClass, [&] {
        // The text and its NUL must fit whatever the timestamp.
        if (bufferSize < std::uint32_t{displayLength_} + 1) {
            KsException::Generate("Buffer of %d too small; needs at least %d", kFilterClass,
                                  bufferSize, displayLength_ + 1);
        }
        if (buffer == nullptr) {
            KsException::Generate("null pointer: buffer", kFilterClass);
        }
        char* out = buffer;
        for (std::size_t i = 0; i < conversions_.size(); ++i) {
            const KsString& literal = literals_[static_cast<std::int32_t>(i)];
            std::memcpy(out, literal.GetCString(), literal.GetLength());
            out += literal.GetLength();
            out += conversions_[static_cast<std::int32_t>(i)].Apply(timestamp, out);
        }
        const KsString& last = literals_[literals_.GetUpperBound()];
        std::memcpy(out, last.GetCString(), last.GetLength());
        out += last.GetLength();
        *out = '\0';
    });
}

void KsTimestampFilter::UnfilterTimestamp(KsTimestamp& result, const char* text) const {
    KsCallpath("UnfilterTimestamp()", kFilterClass, [&] {
        if (text == nullptr || *text == '\0') {
            return;
        }
        KsTimestamp timestamp;
        const char* p = text;
        for (std::size_t i = 0; i < conversions_.size(); ++i) {
            const KsString& literal = literals_[static_cast<std::int32_t>(i)];
            if (std::strncmp(p, literal.GetCString(), literal.GetLength()) != 0) {
                KsException::GenerateAs<KsFilterUninterpretableStringException>(
                    "String \"%s\" was not produced by filter \"%s\"", kFilterClass, text,
                    format_.GetCString());
            }
            p += literal.GetLength();
            p += conversions_[static_cast<std::int32_t>(i)].Unapply(p, timestamp);
        }
        result = timestamp;
    });
}

void KsTimestampFilter::Read(KsIniSection& section, KsProgressInterface& progress) {
    (void)progress;
    KsCallpath("Read()", kFilterClass, [&] {
        if (section.FindKey("Date Format String") >= 0) {
            KsString format(section.GetString("Date Format String", ""));
            SetFormat(format.GetCString());
            return;
        }
        bool zeroFill = section.GetBool("Zero Fill", false);
        bool fourDigitYear = section.GetBool("Four Digit Year", false);
        KsString dateFormat(section.GetString("Date Format", "YMD"));
        KsString separator1(section.GetString("First Separator", "/"));
        KsString separator2(section.GetString("Second Separator", "/"));
        KsString monthFormat(section.GetString("Month Format", "1-Digit"));
        auto indexOf = [](const KsString& text, const char* const* names, int count) {
            for (int i = 0; i < count; ++i) {
                if (text == names[i]) {
                    return i + 1;
                }
            }
            return 0;
        };
        std::int32_t date = indexOf(dateFormat, kDateFormats, 6);
        if (date == 0) {
            KsException::Generate("Unknown date format \"%s\"", kFilterClass,
                                  dateFormat.GetCString());
        }
        std::int32_t month = indexOf(monthFormat, kMonthFormats, 4);
        if (month == 0) {
            KsException::Generate("Unknown month format \"%s\"", kFilterClass,
                                  monthFormat.GetCString());
        }
        separator1.Truncate(std::min<std::uint32_t>(separator1.GetLength(), 2));
        separator2.Truncate(std::min<std::uint32_t>(separator2.GetLength(), 2));
        V400SetFormat(zeroFill, fourDigitYear, date, separator1.GetCString(),
                      separator2.GetCString(), month);
    });
}

void KsTimestampFilter::Read(KsInputStreamInterface& stream, KsProgressInterface& progress) {
    (void)progress;
    KsCallpath("Read()", kFilterClass, [&] {
        std::int16_t version = stream.ReadKsHeader(kStreamMarker);
        if (version == kStreamVersion) {
            KsString format;
            format.Read(stream);
            SetFormat(format.GetCString());
        } else if (version == kOldStreamVersion) {
            ReadV400(stream);
        } else {
            ThrowInvalidStreamHeader(kFilterClass);
        }
    });
}

void KsTimestampFilter::ReadV400(KsInputStreamInterface& stream) {
    KsCallpath("ReadV400()", kFilterClass, [&] {
        bool zeroFill = stream.ReadBool();
        bool fourDigitYear = stream.ReadBool();
        std::int32_t dateFormat = stream.ReadLong();
        char separator1[3];
        char separator2[3];
        stream.Read(separator1, 3, true);
        stream.Read(separator2, 3, true);
        separator1[2] = '\0';
        separator2[2] = '\0';
        std::int32_t monthFormat = stream.ReadLong();
        V400SetFormat(zeroFill, fourDigitYear, dateFormat, separator1, separator2, monthFormat);
    });
}

const char* KsTimestampFilter::V400Month(std::int32_t monthFormat) {
    return KsCallpath("V400Month()", kFilterClass, [&] {
        static constexpr const char* kParts[4] = {"%m", "%02m", "%M", "%L"};
        if (monthFormat < 1 || monthFormat > 4) {
            KsException::Generate("Illegal month format", kFilterClass);
        }
        return kParts[monthFormat - 1];
    });
}

void KsTimestampFilter::V400SetFormat(bool zeroFill, bool fourDigitYear, std::int32_t dateFormat,
                                      const char* separator1, const char* separator2,
                                      std::int32_t monthFormat) {
    KsCallpath("V400SetFormat()", kFilterClass, [&] {
        std::string day = zeroFill ? "%02d" : "%d";
        std::string year = fourDigitYear ? "%y" : "%Y";
        std::string month = V400Month(monthFormat);
        // A separator is literal text: its "%" must not start a conversion.
        auto literal = [](const char* text) {
            std::string escaped;
            for (const char* p = text; *p != '\0'; ++p) {
                escaped += *p == '%' ? "%%" : std::string(1, *p);
            }
            return escaped;
        };
        std::string s1 = literal(separator1);
        std::string s2 = literal(separator2);
        std::string format;
        switch (dateFormat) {
            case 1:
                format = year + s1 + month + s2 + day;
                break;
            case 2:
                format = day + s1 + month + s2 + year;
                break;
            case 3:
                format = month + s1 + day + s2 + year;
                break;
            case 4:
                format = month + s1 + year;
                break;
            case 5:
                format = year + s1 + month;
                break;
            case 6:
                format = year;
                break;
            default:
                KsException::Generate("Unknown date format", kFilterClass);
        }
        SetFormat(format.c_str());
    });
}

void KsTimestampFilter::Write(KsIniSection& section, KsProgressInterface& progress) const {
    (void)progress;
    KsCallpath("Write()", kFilterClass,
               [&] { section.SetString("Date Format String", format_.GetCString()); });
}

void KsTimestampFilter::Write(KsOutputStreamInterface& stream,
                              KsProgressInterface& progress) const {
    (void)progress;
    KsCallpath("Write()", kFilterClass, [&] {
        stream.WriteKsHeader(kStreamMarker, kStreamVersion);
        stream.WriteCString(format_.GetCString());
    });
}
