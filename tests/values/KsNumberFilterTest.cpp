#include "values/KsNumberFilter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "ini/KsIniFile.h"
#include "support/KsErrorCapture.h"

namespace {

using kstest::MessageOf;
using N = KsNumberFilter;

// The settings of one row; a fix width of 0 leaves fix width off.
struct Settings {
    std::int16_t rounding = 0, decimals = 0;
    bool leadingZero = false, suppressZero = false, thousands = false;
    char sign = N::kSignBefore;
    std::int16_t width = 0;
    char side = N::kFillLeft, fill = ' ';
    const char *prefix = "", *suffix = "", *missing = "";
};

std::string Show(const Settings& s, double value, std::int16_t size = 64) {
    N filter;
    filter.SetRoundingVars(s.rounding, s.decimals);
    filter.SetLeadingZero(s.leadingZero);
    filter.SetSuppressZero(s.suppressZero);
    filter.SetThousandSeparator(s.thousands);
    filter.SetNegSignPosition(s.sign);
    filter.SetFixWidthVars(s.width > 0, s.width > 0 ? s.width : 1, s.side, s.fill);
    filter.SetPrefixVars(s.prefix);
    filter.SetSuffixVars(s.suffix);
    filter.SetMissingString(s.missing);
    char out[128];
    filter.FilterValue(value, out, size);
    return out;
}

TEST(KsNumberFilter, ShowsValuesAsTheSettingsSay) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        Settings settings;
        double value;
        const char* text;
    };
    const Case cases[] = {
        // Rounding place 0 does not round: decimals are cut.
        {{}, 1234.56, "1234"},
        {{.decimals = 2}, 0.5, ".50"},
        {{.decimals = 2, .leadingZero = true}, 0.5, "0.50"},
        {{.decimals = 2, .leadingZero = true, .suppressZero = true}, 0.004, ""},
        {{.decimals = 2, .leadingZero = true, .suppressZero = true}, 0.01, "0.01"},
        {{.decimals = 2, .thousands = true, .sign = N::kSignParentheses},
         -1234567.891,
         "(1,234,567.89)"},
        {{.decimals = 2, .thousands = true}, 123456, "123,456.00"},
        {{.decimals = 2, .thousands = true}, 999, "999.00"},
        {{.decimals = 2, .thousands = true, .sign = N::kSignAfter}, -1000.5, "1,000.50-"},
        {{.decimals = 2}, -0.25, "-.25"},
        // A negative value that shows as zero gets no sign.
        {{.decimals = 2}, -0.001, ".00"},
        {{.decimals = 2, .thousands = true, .prefix = "$", .suffix = " net"},
         -1234,
         "$-1,234.00 net"},
        // Rounding place p rounds half up at 10^(p-1) for p >= 1 and at 10^p below.
        {{.rounding = -1, .decimals = 2}, 2.46, "2.50"},
        {{.rounding = -1, .decimals = 2}, 2.449, "2.40"},
        {{.rounding = -1, .decimals = 2}, 9.96, "10.00"},
        {{.rounding = 2}, 1234, "1230"},
        {{.rounding = 2}, 1235, "1240"},
        {{.rounding = 2}, 995, "1000"},
        // Places above the magnitude: one place above still rounds up.
        {{.rounding = 5}, 1234, "0"},
        {{.rounding = 5}, 5000, "10000"},
        {{.rounding = 6}, 5000, "0"},
        // Finer than the ten printed decimals: unchanged.
        {{.rounding = -11, .decimals = 3}, 1.2345, "1.234"},
        {{.width = 5, .fill = '0'}, 42, "00042"},
        {{.width = 5, .fill = '0'}, 123456, "*****"},
        {{.width = 5, .fill = '0'}, -42, "-00042"},
        {{.decimals = 2, .width = 6, .side = N::kFillRight, .fill = '_'}, 1.5, "1.50___"},
        // The decimal point does not count against the width.
        {{.decimals = 1, .width = 4, .fill = '0'}, 1.5, "001.5"},
        {{.missing = "n/a"}, N::kMissingValue, "n/a"},
        // Numbers that are not finite show as stars of the fix width.
        {{}, inf, "**********"},
        {{.width = 3}, std::nan(""), "***"}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.text, Show(c.settings, c.value)) << c.value << " -> " << c.text;
    }
    // The constructor rounds to units and shows two decimals.
    char out[400];
    KsNumberFilter().FilterValue(1234.56, out, 400);
    EXPECT_STREQ("1235.00", out);
    // The largest double prints whole.
    KsNumberFilter().FilterValue(1.7976931348623157e308, out, 400);
    EXPECT_EQ(312u, std::strlen(out));
    // Texts are cut to the buffer; one too long for it turns into stars of the fix width.
    EXPECT_EQ("n/", Show({.missing = "n/a"}, N::kMissingValue, 3));
    EXPECT_EQ("1234", Show({}, 1234, 5));
    EXPECT_EQ("****", Show({}, 12345, 5));
}

TEST(KsNumberFilter, SettingsAreCheckedAndRefusedOnesChangeNothing) {
    KsNumberFilter filter;
    filter.SetFixWidthVars(true, 6, N::kFillRight, '_');
    EXPECT_EQ("Fix width length out of the range",
              MessageOf([&] { filter.SetFixWidthVars(true, 33, N::kFillLeft, ' '); }));
    EXPECT_EQ("Fix width length out of the range",
              MessageOf([&] { filter.SetFixWidthVars(true, 0, N::kFillLeft, ' '); }));
    EXPECT_EQ("Invalid fill side", MessageOf([&] { filter.SetFixWidthVars(true, 5, 3, ' '); }));
    EXPECT_EQ("Invalid negative sign placement", MessageOf([&] { filter.SetNegSignPosition(4); }));
    EXPECT_EQ(N::kSignBefore, filter.GetNegSignPosition());
    EXPECT_TRUE(filter.GetFixWidth());
    EXPECT_EQ(6, filter.GetFixWidthLength());
    // Switching fix width off keeps length, side and fill.
    filter.SetFixWidthVars(false, 32, N::kFillLeft, 'x');
    EXPECT_FALSE(filter.GetFixWidth());
    EXPECT_EQ(6, filter.GetFixWidthLength());
    EXPECT_EQ(N::kFillRight, filter.GetFillSide());
}

TEST(KsNumberFilter, UnfilteringReadsWholeNumbersOnly) {
    KsNumberFilter filter;
    EXPECT_DOUBLE_EQ(12.5, filter.UnfilterValue("12.5"));
    EXPECT_DOUBLE_EQ(N::kMissingValue, filter.UnfilterValue(""));
    const char* cases[][2] = {{"12.5x", "Invalid number"},
                              {"1,234", "Invalid number"},
                              {"nan", "Invalid number"},
                              {"1e999", "Number is larger then a double"},
                              {nullptr, "Null pointer to the number"}};
    for (const auto& [text, message] : cases) {
        EXPECT_EQ(message, MessageOf([&] { filter.UnfilterValue(text); }));
    }
}

// A missing key gives 0 or the first choice; keys are found without regard to case, as
// older files spell them.
TEST(KsNumberFilter, SectionsOfOlderFiles) {
    KsNumberFilter filter;
    filter.SetNegSignPosition(N::kSignParentheses);
    filter.SetFixWidthVars(true, 12, N::kFillLeft, ' ');
    KsIniSection older("Field");
    older.SetString("fill side", "Right");
    filter.Read(&older);
    EXPECT_EQ(0, filter.GetDecimalPlaces());
    EXPECT_EQ(0, filter.GetRoundingPlace());
    EXPECT_EQ(N::kFillRight, filter.GetFillSide());
    EXPECT_EQ(N::kSignBefore, filter.GetNegSignPosition());
}

}  // namespace
