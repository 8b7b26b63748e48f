#include "core/KsConvertValue.h"

#include <locale.h>
#include <strings.h>

#include <cstdlib>
#include <cstring>

#include "core/KsText.h"

namespace {

constexpr const char* kClass = "KsConvertValue()";
constexpr const char* kWhitespace = " \t\r\n";

void RequireText(const char* text) {
    if (text == nullptr) {
        KsException::Generate("null pointer: sString", kClass);
    }
}

bool StartsWithBlank(const char* text) {
    return KsText::IsSpaceOrTab(*text);
}

const char* SkipWhitespace(const char* text) {
    return text + std::strspn(text, kWhitespace);
}

// Reads a double in the "C" locale, so that a process that adopted the user's locale (the
// desktop toolkit does) still reads "12.5" with a point.
double ReadDouble(const char* text, char** end) {
    static const locale_t classic = newlocale(LC_ALL_MASK, "C", nullptr);
    return classic != nullptr ? strtod_l(text, end, classic) : std::strtod(text, end);
}

// Name and limits of one integer type, as its messages spell them.
struct IntegerType {
    char typeLetter;
    const char* name;
    const char* nameWithArticle;
    bool isSigned;
    std::int64_t minimum;
    std::int64_t maximum;
};

constexpr IntegerType kUnsignedLong{'W', "unsigned long", "an unsigned long", false,
                                    0,   4294967295LL};
constexpr IntegerType kLong{'I', "long", "a long", true, -2147483648LL, 2147483647LL};
constexpr IntegerType kUnsignedShort{'U', "unsigned short", "an unsigned short", false, 0, 65535};
constexpr IntegerType kShort{'S', "short", "a short", true, -32768, 32767};

// The value of `text` within the type's range. Digits are accumulated exactly; once the
// magnitude passes every bound it stops growing, so long texts cannot overflow.
std::int64_t ConvertInteger(const IntegerType& type, const char* text, bool allowWhitespace) {
    RequireText(text);
    const char* p = allowWhitespace ? SkipWhitespace(text) : text;
    bool negative = false;
    if (*p == '+' || (type.isSigned && *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    constexpr std::int64_t kBeyondEveryBound = std::int64_t{1} << 40;
    std::int64_t magnitude = 0;
    for (; *p != '\0'; ++p) {
        if (!KsText::IsDigit(*p)) {
            KsMalformedDataException::Generate("\"%s\" is not a valid %s", type.typeLetter, text,
                                               kClass, text, type.name);
        }
        if (magnitude < kBeyondEveryBound) {
            magnitude = magnitude * 10 + (*p - '0');
        }
    }
    std::int64_t value = negative ? -magnitude : magnitude;
    if (value < type.minimum || value > type.maximum) {
        KsMalformedDataException::Generate("\"%s\" does not fit in %s", type.typeLetter, text,
                                           kClass, text, type.nameWithArticle);
    }
    return value;
}

}  // namespace

void KsMalformedDataException::Generate(const char* format, char typeLetter, const char* text,
                                        const char* className, ...) {
    KsMalformedDataException error;
    va_list args;
    va_start(args, className);
    error.SetMessageV(format, args);
    va_end(args);
    error.SetClassName(className);
    error.typeLetter_ = typeLetter;
    error.text_ = text;
    throw error;
}

void KsConvertValue(double& result, const char* text, bool allowLeadingWhitespace) {
    RequireText(text);
    char* end = nullptr;
    double value = ReadDouble(text, &end);
    if ((!allowLeadingWhitespace && StartsWithBlank(text)) || *end != '\0') {
        KsMalformedDataException::Generate("\"%s\" is not a valid double", 'N', text, kClass, text);
    }
    result = value;
}

void KsConvertValue(std::uint32_t& result, const char* text, bool allowLeadingWhitespace) {
    result =
        static_cast<std::uint32_t>(ConvertInteger(kUnsignedLong, text, allowLeadingWhitespace));
}

void KsConvertValue(std::int32_t& result, const char* text, bool allowLeadingWhitespace) {
    result = static_cast<std::int32_t>(ConvertInteger(kLong, text, allowLeadingWhitespace));
}

void KsConvertValue(std::uint16_t& result, const char* text, bool allowLeadingWhitespace) {
    result =
        static_cast<std::uint16_t>(ConvertInteger(kUnsignedShort, text, allowLeadingWhitespace));
}

void KsConvertValue(std::int16_t& result, const char* text, bool allowLeadingWhitespace) {
    result = static_cast<std::int16_t>(ConvertInteger(kShort, text, allowLeadingWhitespace));
}

void KsConvertValue(bool& result, const char* text, bool allowLeadingWhitespace) {
    RequireText(text);
    if (!allowLeadingWhitespace && StartsWithBlank(text)) {
        KsMalformedDataException::Generate("No preceding whitespace permitted in \"%s\"", 'L', text,
                                           "KsConvertValue", text);
    }
    const char* rest = SkipWhitespace(text);
    result = false;
    for (const char* truth : {"1", "Y", "YES", "T", "TRUE"}) {
        if (strcasecmp(rest, truth) == 0) {
            result = true;
        }
    }
}
