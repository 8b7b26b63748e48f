#include "KsConvertValue.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "TempDir.h"

namespace {

template <class T>
T Converted(const char* text, bool allowWhitespace) {
    T result{};
    KsConvertValue(result, text, allowWhitespace);
    return result;
}

// The message of the failed conversion of `text`, after checking the exception's type
// letter, its copy of the text, its class and that the result was left alone.
template <class T>
std::string Failure(const char* text, bool allowWhitespace, char typeLetter,
                    const char* className = "KsConvertValue()") {
    T result = static_cast<T>(7);
    try {
        KsConvertValue(result, text, allowWhitespace);
    } catch (const KsMalformedDataException& e) {
        EXPECT_EQ(e.GetTypeLetter(), typeLetter) << text;
        EXPECT_STREQ(e.GetText(), text);
        EXPECT_STREQ(e.GetClassName(), className);
        EXPECT_EQ(e.GetLevel(), 0);
        EXPECT_EQ(result, static_cast<T>(7)) << text;
        return e.GetErrorMessage();
    }
    return "converted to " + std::to_string(result);
}

TEST(KsConvertValueTest, UnsignedLongBoundsAndSyntax) {
    EXPECT_EQ(Converted<std::uint32_t>("4294967295", false), 4294967295u);
    EXPECT_EQ(Converted<std::uint32_t>("0", false), 0u);
    EXPECT_EQ(Converted<std::uint32_t>("+17", false), 17u);
    EXPECT_EQ(Converted<std::uint32_t>("0004294967295", false), 4294967295u);
    EXPECT_EQ(Failure<std::uint32_t>("4294967296", false, 'W'),
              "\"4294967296\" does not fit in an unsigned long");
    EXPECT_EQ(Failure<std::uint32_t>("99999999999999999999999999", false, 'W'),
              "\"99999999999999999999999999\" does not fit in an unsigned long");
    // The sign is refused before the range is looked at.
    EXPECT_EQ(Failure<std::uint32_t>("-1", false, 'W'), "\"-1\" is not a valid unsigned long");
    EXPECT_EQ(Failure<std::uint32_t>("-0", true, 'W'), "\"-0\" is not a valid unsigned long");
    EXPECT_EQ(Failure<std::uint32_t>("12.5", false, 'W'), "\"12.5\" is not a valid unsigned long");
    EXPECT_EQ(Failure<std::uint32_t>("++1", false, 'W'), "\"++1\" is not a valid unsigned long");
}

TEST(KsConvertValueTest, LongBoundsAndSyntax) {
    EXPECT_EQ(Converted<std::int32_t>("2147483647", false), 2147483647);
    EXPECT_EQ(Converted<std::int32_t>("-2147483648", false), -2147483647 - 1);
    EXPECT_EQ(Converted<std::int32_t>("+0", false), 0);
    EXPECT_EQ(Failure<std::int32_t>("2147483648", false, 'I'),
              "\"2147483648\" does not fit in a long");
    EXPECT_EQ(Failure<std::int32_t>("-2147483649", false, 'I'),
              "\"-2147483649\" does not fit in a long");
    EXPECT_EQ(Failure<std::int32_t>("12.5", false, 'I'), "\"12.5\" is not a valid long");
    EXPECT_EQ(Failure<std::int32_t>("-+1", false, 'I'), "\"-+1\" is not a valid long");
    EXPECT_EQ(Failure<std::int32_t>("1e3", false, 'I'), "\"1e3\" is not a valid long");
    EXPECT_EQ(Failure<std::int32_t>("0x10", false, 'I'), "\"0x10\" is not a valid long");
}

TEST(KsConvertValueTest, ShortTypesBounds) {
    EXPECT_EQ(Converted<std::uint16_t>("65535", false), 65535);
    EXPECT_EQ(Failure<std::uint16_t>("65536", false, 'U'),
              "\"65536\" does not fit in an unsigned short");
    EXPECT_EQ(Failure<std::uint16_t>("-1", false, 'U'), "\"-1\" is not a valid unsigned short");
    EXPECT_EQ(Converted<std::int16_t>("32767", false), 32767);
    EXPECT_EQ(Converted<std::int16_t>("-32768", false), -32768);
    EXPECT_EQ(Failure<std::int16_t>("32768", false, 'S'), "\"32768\" does not fit in a short");
    EXPECT_EQ(Failure<std::int16_t>("-32769", false, 'S'), "\"-32769\" does not fit in a short");
    EXPECT_EQ(Failure<std::int16_t>("3 2", true, 'S'), "\"3 2\" is not a valid short");
}

TEST(KsConvertValueTest, IntegerWhitespaceAndEmptyTexts) {
    EXPECT_EQ(Converted<std::int32_t>(" \t\r\n-42", true), -42);
    EXPECT_EQ(Failure<std::int32_t>(" 42", false, 'I'), "\" 42\" is not a valid long");
    EXPECT_EQ(Failure<std::int32_t>("42 ", true, 'I'), "\"42 \" is not a valid long");
    EXPECT_EQ(Failure<std::uint16_t>("42\n", true, 'U'), "\"42\n\" is not a valid unsigned short");
    // No digits at all reads as 0.
    EXPECT_EQ(Converted<std::uint32_t>("", false), 0u);
    EXPECT_EQ(Converted<std::int16_t>(" \t ", true), 0);
    EXPECT_EQ(Failure<std::int16_t>(" \t ", false, 'S'), "\" \t \" is not a valid short");
}

TEST(KsConvertValueTest, Doubles) {
    EXPECT_EQ(Converted<double>("12.5", false), 12.5);
    EXPECT_EQ(Converted<double>("-1e3", false), -1000.0);
    EXPECT_EQ(Converted<double>(" 1.5", true), 1.5);
    EXPECT_EQ(Converted<double>("\t1.5", true), 1.5);
    EXPECT_EQ(Converted<double>("", false), 0.0);
    EXPECT_EQ(Failure<double>(" 1.5", false, 'N'), "\" 1.5\" is not a valid double");
    EXPECT_EQ(Failure<double>("\t1.5", false, 'N'), "\"\t1.5\" is not a valid double");
    EXPECT_EQ(Failure<double>("1.5 ", true, 'N'), "\"1.5 \" is not a valid double");
    EXPECT_EQ(Failure<double>("1,5", false, 'N'), "\"1,5\" is not a valid double");
    EXPECT_EQ(Failure<double>("abc", false, 'N'), "\"abc\" is not a valid double");
}

// Builds a locale whose decimal separator is a comma in a temporary folder and makes it
// the numeric locale of the process; false when the system cannot build one.
bool UseDecimalCommaLocale(const kstest::TempDir& dir) {
    kstest::WriteWholeFile(dir.File("comma.src"),
                           "LC_NUMERIC\ndecimal_point \",\"\nthousands_sep \".\"\n"
                           "grouping 3;3\nEND LC_NUMERIC\n");
    std::string command = "localedef -c -i '" + dir.File("comma.src") + "' -f UTF-8 '" +
                          dir.File("xx_XX.UTF-8") + "' >/dev/null 2>&1";
    // localedef reports the categories the source leaves out, yet writes the locale.
    [[maybe_unused]] int status = std::system(command.c_str());
    setenv("LOCPATH", dir.Path().c_str(), 1);
    return std::setlocale(LC_NUMERIC, "xx_XX.UTF-8") != nullptr &&
           std::localeconv()->decimal_point[0] == ',';
}

TEST(KsConvertValueTest, DoublesIgnoreTheProcessLocale) {
    kstest::TempDir dir;
    bool usable = UseDecimalCommaLocale(dir);
    double value = 0;
    bool pointRead = false;
    bool commaRefused = false;
    if (usable) {
        try {
            KsConvertValue(value, "12.5", false);
            pointRead = true;
        } catch (const KsException&) {
        }
        try {
            KsConvertValue(value, "3,5", false);
        } catch (const KsMalformedDataException&) {
            commaRefused = true;
        }
    }
    std::setlocale(LC_NUMERIC, "C");
    unsetenv("LOCPATH");
    if (!usable) {
        GTEST_SKIP() << "no locale with a decimal comma could be built";
    }
    EXPECT_TRUE(pointRead);
    EXPECT_EQ(value, 12.5);
    EXPECT_TRUE(commaRefused);
}

TEST(KsConvertValueTest, TruthTexts) {
    for (const char* text : {"1", "y", "Y", "yes", "YeS", "t", "T", "true", "TRUE"}) {
        EXPECT_TRUE(Converted<bool>(text, false)) << text;
    }
    for (const char* text : {"no", "0", "", "TRUE ", "yess", "2", "on", "f"}) {
        bool result = true;
        KsConvertValue(result, text, false);
        EXPECT_FALSE(result) << text;
    }
    EXPECT_TRUE(Converted<bool>(" \t\r\nyes", true));
    // Only a space or a tab counts as forbidden leading whitespace.
    EXPECT_TRUE(Converted<bool>("\r\nT", false));
    EXPECT_EQ(Failure<bool>(" yes", false, 'L', "KsConvertValue"),
              "No preceding whitespace permitted in \" yes\"");
    EXPECT_EQ(Failure<bool>("\tt", false, 'L', "KsConvertValue"),
              "No preceding whitespace permitted in \"\tt\"");
}

TEST(KsConvertValueTest, NullTextIsRefused) {
    std::int32_t value = 5;
    try {
        KsConvertValue(value, nullptr, true);
        FAIL() << "a null text converted";
    } catch (const KsException& e) {
        EXPECT_STREQ(e.GetErrorMessage(), "null pointer: sString");
        EXPECT_STREQ(e.GetClassName(), "KsConvertValue()");
    }
    EXPECT_EQ(value, 5);
    double number = 1;
    EXPECT_THROW(KsConvertValue(number, nullptr, true), KsException);
    bool flag = true;
    EXPECT_THROW(KsConvertValue(flag, nullptr, true), KsException);
    EXPECT_TRUE(flag);
}

}  // namespace
