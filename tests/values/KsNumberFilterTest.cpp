#include "KsNumberFilter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "../io/MemoryStream.h"
#include "KsErrorCapture.h"
#include "KsIniFile.h"
#include "KsNullProgress.h"

namespace {

using kstest::MessageOf;

std::string Show(const KsNumberFilter& filter, double value, std::int16_t size = 64) {
    char out[128];
    filter.FilterValue(value, out, size);
    return out;
}

// The settings of an empty section: 0 decimals, rounding place 0.
KsNumberFilter FromEmptySection() {
    KsIniSection empty("Field");
    KsNumberFilter filter;
    filter.Read(&empty);
    return filter;
}

TEST(KsNumberFilter, DecimalsAreCutAndLeadingZeroIsOptional) {
    EXPECT_EQ("1234", Show(FromEmptySection(), 1234.56));
    EXPECT_EQ("1234", Show(FromEmptySection(), 1234.99));

    KsNumberFilter filter = FromEmptySection();
    filter.SetRoundingVars(0, 2);
    EXPECT_EQ(".50", Show(filter, 0.5));
    EXPECT_EQ("12.00", Show(filter, 12));
    filter.SetLeadingZero(true);
    EXPECT_EQ("0.50", Show(filter, 0.5));
    filter.SetSuppressZero(true);
    EXPECT_EQ("", Show(filter, 0.0));
    EXPECT_EQ("", Show(filter, 0.004));
    EXPECT_EQ("0.01", Show(filter, 0.01));
}

TEST(KsNumberFilter, SeparatorsAndSignPlacements) {
    KsNumberFilter filter = FromEmptySection();
    filter.SetRoundingVars(0, 2);
    filter.SetThousandSeparator(true);
    filter.SetNegSignPosition(KsNumberFilter::kSignParentheses);
    EXPECT_EQ("(1,234,567.89)", Show(filter, -1234567.891));
    EXPECT_EQ("123,456.00", Show(filter, 123456.0));
    EXPECT_EQ("999.00", Show(filter, 999));
    filter.SetNegSignPosition(KsNumberFilter::kSignAfter);
    EXPECT_EQ("1,000.50-", Show(filter, -1000.5));
    filter.SetNegSignPosition(KsNumberFilter::kSignBefore);
    EXPECT_EQ("-.25", Show(filter, -0.25));
    // A negative value that shows as zero gets no sign.
    EXPECT_EQ(".00", Show(filter, -0.001));
    EXPECT_EQ("Invalid negative sign placement", MessageOf([&] { filter.SetNegSignPosition(4); }));
    EXPECT_EQ(KsNumberFilter::kSignBefore, filter.GetNegSignPosition());
    filter.SetPrefixVars("$");
    filter.SetSuffixVars(" net");
    EXPECT_EQ("$1,234.00 net", Show(filter, 1234));
    EXPECT_EQ("$-1,234.00 net", Show(filter, -1234));
}

TEST(KsNumberFilter, RoundingPlaces) {
    KsNumberFilter filter = FromEmptySection();
    filter.SetRoundingVars(-1, 2);
    EXPECT_EQ("2.50", Show(filter, 2.46));
    EXPECT_EQ("2.40", Show(filter, 2.449));
    EXPECT_EQ("10.00", Show(filter, 9.96));
    filter.SetRoundingVars(2, 0);
    EXPECT_EQ("1230", Show(filter, 1234));
    EXPECT_EQ("1240", Show(filter, 1235));
    EXPECT_EQ("1000", Show(filter, 995));
    // Places above the magnitude: rounding to ten thousands.
    filter.SetRoundingVars(5, 0);
    EXPECT_EQ("0", Show(filter, 1234));
    EXPECT_EQ("10000", Show(filter, 5000));
    filter.SetRoundingVars(9, 0);
    EXPECT_EQ("0", Show(filter, 5000));
    // Finer than the ten printed decimals: unchanged.
    filter.SetRoundingVars(-11, 3);
    EXPECT_EQ("1.234", Show(filter, 1.2345));
    // The constructor rounds to units and shows two decimals.
    KsNumberFilter defaults;
    EXPECT_EQ("3.00", Show(defaults, 2.5));
}

TEST(KsNumberFilter, FixWidthPadsOrFillsWithStars) {
    KsNumberFilter filter = FromEmptySection();
    filter.SetFixWidthVars(true, 5, KsNumberFilter::kFillLeft, '0');
    EXPECT_EQ("00042", Show(filter, 42));
    EXPECT_EQ("*****", Show(filter, 123456));
    EXPECT_EQ("-00042", Show(filter, -42));
    filter.SetFixWidthVars(true, 6, KsNumberFilter::kFillRight, '_');
    filter.SetRoundingVars(0, 2);
    EXPECT_EQ("1.50___", Show(filter, 1.5));
    // Too long for the buffer: stars of the fix width length, cut to the buffer.
    EXPECT_EQ("****", Show(filter, 1.5, 5));
    EXPECT_EQ("Fix width length out of the range",
              MessageOf([&] { filter.SetFixWidthVars(false, 33, 1, ' '); }));
    EXPECT_EQ("Invalid fill side", MessageOf([&] { filter.SetFixWidthVars(false, 5, 3, ' '); }));
    EXPECT_TRUE(filter.GetFixWidth());
    filter.SetFixWidthVars(false, 1, KsNumberFilter::kFillLeft, 'x');
    EXPECT_FALSE(filter.GetFixWidth());
    EXPECT_EQ(6, filter.GetFixWidthLength());
}

TEST(KsNumberFilter, MissingAndNonFiniteValues) {
    KsNumberFilter filter = FromEmptySection();
    filter.SetMissingString("n/a");
    EXPECT_EQ("n/a", Show(filter, KsNumberFilter::kMissingValue));
    EXPECT_EQ("n/", Show(filter, KsNumberFilter::kMissingValue, 3));
    EXPECT_EQ("", Show(filter, std::numeric_limits<double>::infinity()));
    filter.SetFixWidthVars(true, 3, 1, ' ');
    EXPECT_EQ("***", Show(filter, std::nan("")));
    // The largest double prints whole.
    filter.SetFixWidthVars(false, 3, 1, ' ');
    char out[400];
    filter.FilterValue(1.7976931348623157e308, out, 400);
    EXPECT_EQ(309u, std::strlen(out));
}

TEST(KsNumberFilter, UnfilteringReadsWholeNumbersOnly) {
    KsNumberFilter filter;
    EXPECT_DOUBLE_EQ(12.5, filter.UnfilterValue("12.5"));
    EXPECT_DOUBLE_EQ(KsNumberFilter::kMissingValue, filter.UnfilterValue(""));
    EXPECT_EQ("Invalid number", MessageOf([&] { filter.UnfilterValue("12.5x"); }));
    EXPECT_EQ("Invalid number", MessageOf([&] { filter.UnfilterValue("1,234"); }));
    EXPECT_EQ("Invalid number", MessageOf([&] { filter.UnfilterValue("nan"); }));
    EXPECT_EQ("Number is larger then a double", MessageOf([&] { filter.UnfilterValue("1e999"); }));
    EXPECT_EQ("Null pointer to the number", MessageOf([&] { filter.UnfilterValue(nullptr); }));
}

TEST(KsNumberFilter, SectionKeysInOrderAndBack) {
    KsNumberFilter filter;
    filter.SetMissingString("--");
    filter.SetRoundingVars(-2, 3);
    filter.SetNegSignPosition(KsNumberFilter::kSignParentheses);
    filter.SetFixWidthVars(true, 12, KsNumberFilter::kFillLeft, ' ');
    filter.SetThousandSeparator(true);
    filter.SetPrefixVars("EUR ");
    KsIniSection section("Field");
    filter.Write(&section);
    const char* expected[][2] = {
        {"Missing String", "--"},
        {"Number Of Decimal Places", "3"},
        {"Negative Sign Placement", "Parenthesis"},
        {"Fix Width", "true"},
        {"Fix Width Length", "12"},
        {"Fill Char", " "},
        {"Fill Side", "Left"},
        {"Rounding Place", "-2"},
        {"Suppress Zero", "false"},
        {"Leading Zero", "false"},
        {"Thousand Separator", "true"},
        {"Prefix", "EUR "},
    };
    ASSERT_EQ(12, section.GetNumLines());
    for (int i = 0; i < 12; ++i) {
        EXPECT_STREQ(expected[i][0], section.GetLine(i)->GetKey());
        EXPECT_STREQ(expected[i][1], section.GetLine(i)->GetValue());
    }
    KsNumberFilter read = FromEmptySection();
    read.Read(&section);
    EXPECT_TRUE(read == filter);

    // Keys are found without regard to case, as older files spell them.
    KsIniSection older("Field");
    older.SetString("Number of Decimal Places", "1");
    older.SetString("Fill Side", "Right");
    read.Read(&older);
    EXPECT_EQ(1, read.GetDecimalPlaces());
    EXPECT_EQ(KsNumberFilter::kFillRight, read.GetFillSide());

    kstest::MemoryStream out;
    filter.Write(out, KsNullProgress::Instance());
    kstest::MemoryStream in(out.Bytes());
    KsNumberFilter streamed;
    streamed.Read(in, KsNullProgress::Instance());
    EXPECT_TRUE(streamed == filter);
    kstest::MemoryStream bad(std::string("\x03\0\0\0\x90\x01", 6));
    EXPECT_EQ("Invalid ksfilter header information",
              MessageOf([&] { streamed.Read(bad, KsNullProgress::Instance()); }));
}

}  // namespace
