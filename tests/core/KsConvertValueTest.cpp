// Values from text and to bytes: KsConvertValue and the byte-order helpers.

#include "core/KsConvertValue.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "core/KsByteOrder.h"
#include "support/TempDir.h"

namespace {

// "= value" when `text` converts; otherwise the message, after checking the exception's
// type letter, its copy of the text, its class and that the result was left alone.
template <class T>
std::string Outcome(const char* text, bool allowWhitespace, char typeLetter,
                    const char* className = "KsConvertValue()") {
    T result = static_cast<T>(7);
    try {
        KsConvertValue(result, text, allowWhitespace);
        return "= " + std::to_string(result);
    } catch (const KsMalformedDataException& e) {
        EXPECT_EQ(e.GetTypeLetter(), typeLetter);
        EXPECT_STREQ(e.GetText(), text);
        EXPECT_STREQ(e.GetClassName(), className);
        EXPECT_EQ(result, static_cast<T>(7));
        return e.GetErrorMessage();
    } catch (const KsException& e) {
        EXPECT_EQ(result, static_cast<T>(7));
        return std::string(e.GetClassName()) + ": " + e.GetErrorMessage();
    }
}

struct Row {
    const char* text;
    bool allowWhitespace;
    std::string expected;
};

template <class T>
void ExpectOutcomes(char typeLetter, const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string("\"") + (row.text ? row.text : "(null)") + "\" whitespace " +
                     (row.allowWhitespace ? "allowed" : "refused"));
        EXPECT_EQ(Outcome<T>(row.text, row.allowWhitespace, typeLetter), row.expected);
    }
}

const Row kNullText{nullptr, true, "KsConvertValue(): null pointer: sString"};

TEST(KsConvertValueTest, IntegersAreDigitsWithinTheirRange) {
    ExpectOutcomes<std::uint32_t>(
        'W', {{"4294967295", false, "= 4294967295"},
              {"+17", false, "= 17"},
              {"", false, "= 0"},  // no digits at all reads as 0
              {"4294967296", false, "\"4294967296\" does not fit in an unsigned long"},
              {"99999999999999999999999999", false,
               "\"99999999999999999999999999\" does not fit in an unsigned long"},
              // The sign is refused before the range is looked at.
              {"-0", true, "\"-0\" is not a valid unsigned long"},
              {"++1", false, "\"++1\" is not a valid unsigned long"}});
    ExpectOutcomes<std::int32_t>('I',
                                 {{"2147483647", false, "= 2147483647"},
                                  {"-2147483648", false, "= -2147483648"},
                                  {" \t\r\n-42", true, "= -42"},
                                  {"2147483648", false, "\"2147483648\" does not fit in a long"},
                                  {"-2147483649", false, "\"-2147483649\" does not fit in a long"},
                                  {"12.5", false, "\"12.5\" is not a valid long"},
                                  {" 42", false, "\" 42\" is not a valid long"},
                                  {"42 ", true, "\"42 \" is not a valid long"},
                                  kNullText});
    ExpectOutcomes<std::uint16_t>('U',
                                  {{"65535", false, "= 65535"},
                                   {"65536", false, "\"65536\" does not fit in an unsigned short"},
                                   {"-1", false, "\"-1\" is not a valid unsigned short"}});
    ExpectOutcomes<std::int16_t>('S', {{"32767", false, "= 32767"},
                                       {"-32768", false, "= -32768"},
                                       {" \t ", true, "= 0"},
                                       {"32768", false, "\"32768\" does not fit in a short"},
                                       {"-32769", false, "\"-32769\" does not fit in a short"}});
}

TEST(KsConvertValueTest, DoublesAndTruthTexts) {
    ExpectOutcomes<double>('N', {{"-12.5", false, "= -12.500000"},
                                 {"\t1.5", true, "= 1.500000"},
                                 {"", false, "= 0.000000"},
                                 {" 1.5", false, "\" 1.5\" is not a valid double"},
                                 {"\t1.5", false, "\"\t1.5\" is not a valid double"},
                                 {"1.5 ", true, "\"1.5 \" is not a valid double"},
                                 {"abc", false, "\"abc\" is not a valid double"},
                                 kNullText});
    // Line ends in front are allowed even where spaces and tabs are not.
    for (const char* text : {"1", "y", "YeS", "T", "true", " \t\r\nyes", "\r\nT"}) {
        EXPECT_EQ(Outcome<bool>(text, text[0] != '\r', 'L'), "= 1") << text;
    }
    for (const char* text : {"0", "", "TRUE ", "yess", "f"}) {
        EXPECT_EQ(Outcome<bool>(text, false, 'L'), "= 0") << text;
    }
    // Only a space or a tab counts as forbidden leading whitespace.
    for (const char* text : {" yes", "\tt"}) {
        EXPECT_EQ(Outcome<bool>(text, false, 'L', "KsConvertValue"),
                  "No preceding whitespace permitted in \"" + std::string(text) + "\"");
    }
    EXPECT_EQ(Outcome<bool>(nullptr, true, 'L'), kNullText.expected);
}

TEST(KsConvertValueTest, DoublesIgnoreTheProcessLocale) {
    // A locale whose decimal separator is a comma, built in a temporary folder.
    kstest::TempDir dir;
    kstest::WriteWholeFile(dir.File("comma.src"),
                           "LC_NUMERIC\ndecimal_point \",\"\nthousands_sep \".\"\n"
                           "grouping 3;3\nEND LC_NUMERIC\n");
    std::string command = "localedef -c -i '" + dir.File("comma.src") + "' -f UTF-8 '" +
                          dir.File("xx_XX.UTF-8") + "' >/dev/null 2>&1";
    // localedef reports the categories the source leaves out, yet writes the locale.
    [[maybe_unused]] int status = std::system(command.c_str());
    setenv("LOCPATH", dir.Path().c_str(), 1);
    bool usable = std::setlocale(LC_NUMERIC, "xx_XX.UTF-8") != nullptr &&
                  std::localeconv()->decimal_point[0] == ',';
    double point = 0;
    std::string comma;
    if (usable) {
        KsConvertValue(point, "12.5", false);
        comma = Outcome<double>("3,5", false, 'N');
    }
    std::setlocale(LC_NUMERIC, "C");
    unsetenv("LOCPATH");
    if (!usable) {
        GTEST_SKIP() << "no locale with a decimal comma could be built";
    }
    EXPECT_EQ(point, 12.5);
    EXPECT_EQ(comma, "\"3,5\" is not a valid double");
}

using Bytes = std::vector<unsigned char>;

// Stores `value` both ways into a buffer of guard bytes, compares the buffer with `little`
// and its reverse followed by the untouched guard, and loads the golden bytes back.
template <class T>
void CheckBothOrders(T value, const Bytes& little) {
    SCOPED_TRACE(testing::Message() << sizeof(T) * 8 << "-bit value " << +value);
    ASSERT_EQ(little.size(), sizeof(T));
    const Bytes big(little.rbegin(), little.rend());
    const auto guarded = [](Bytes bytes) {
        bytes.insert(bytes.end(), 4, 0xA5);
        return bytes;
    };
    Bytes buffer(sizeof(T) + 4, 0xA5);
    KsByteOrder::StoreLittle(buffer.data(), value);
    EXPECT_EQ(buffer, guarded(little));
    KsByteOrder::StoreBig(buffer.data(), value);
    EXPECT_EQ(buffer, guarded(big));
    EXPECT_EQ(KsByteOrder::LoadLittle<T>(little.data()), value);
    EXPECT_EQ(KsByteOrder::LoadBig<T>(big.data()), value);
}

// One value per width and signedness, with the top bit set where the type allows.
TEST(KsByteOrderTest, GoldenBytesInBothOrders) {
    CheckBothOrders<std::uint16_t>(0x8001, {0x01, 0x80});
    CheckBothOrders<std::int16_t>(-2, {0xFE, 0xFF});
    CheckBothOrders<std::uint32_t>(0xDEADBEEF, {0xEF, 0xBE, 0xAD, 0xDE});
    CheckBothOrders<std::int32_t>(std::numeric_limits<std::int32_t>::min() + 0x7F,
                                  {0x7F, 0x00, 0x00, 0x80});
    CheckBothOrders<std::uint64_t>(0x8123456789ABCDEF,
                                   {0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x81});
    CheckBothOrders<std::int64_t>(-0x0102030405060708,
                                  {0xF8, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE});
}

}  // namespace
