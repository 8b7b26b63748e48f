#include "values/KsTimestampFilter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <utility>

#include "TimestampAt.h"
#include "core/KsString.h"
#include "ini/KsIniFile.h"
#include "progress/KsNullProgress.h"
#include "support/KsErrorCapture.h"
#include "support/MemoryStream.h"

namespace {

using kstest::CaughtError;
using kstest::MessageOf;

std::string Show(const char* format, const KsTimestamp& t) {
    char buffer[128];
    KsTimestampFilter(format).FilterTimestamp(buffer, sizeof buffer, t);
    return buffer;
}

std::string Digits(const char* format, const char* text) {
    KsTimestamp t;
    KsTimestampFilter(format).UnfilterTimestamp(t, text);
    return t.GetDigits();
}

// Each timestamp is shown as the text, and the text reads back as the digits: fields the
// format does not name are those of a new timestamp.
TEST(KsTimestampFilter, FormatsShowTimestampsAndReadThemBack) {
    const char* clock = "%h:%02n:%02s %p";
    const std::tuple<const char*, KsTimestamp, const char*, const char*> cases[] = {
        {"%M %d, %y", At(2003, 10, 29), "Oct 29, 2003", "20031029000000000"},
        {"%M %d, %y", At(2003, 10, 5), "Oct 5, 2003", "20031005000000000"},
        {clock, At(2000, 1, 1, 16, 24, 3), "4:24:03 pm", "00010101162403000"},
        {clock, At(2000, 1, 1, 0, 5, 0), "12:05:00 am", "00010101000500000"},
        {clock, At(2000, 1, 1, 12, 0, 0), "12:00:00 pm", "00010101120000000"},
        {"%H %p", At(2000, 1, 1, 4), "4 am", "00010101040000000"},
        {"%02s.%03u %P", At(2000, 1, 1, 13, 0, 7, 45), "07.045 PM", "00010101120007045"},
        {"%lh|%zh", At(2000, 1, 1, 13), "1|1", "00010101010000000"},
        {"%Y", At(2005, 1, 1), "5", "20050101000000000"},
        {"%Y", At(1998, 1, 1), "98", "20980101000000000"},
        {"%3Y", At(2005, 1, 1), "  5", "20050101000000000"},
        {"%04y", At(42, 3, 1), "0042", "00420101000000000"},
        {"%W %d %L %y %w %%!", At(2000, 3, 1), "Wednesday 1 March 2000 Wed %!",
         "20000301000000000"},
        // Names are left-aligned in their width, and a wider name field is read whole.
        {"%6M|%w", At(2000, 5, 6), "May   |Sat", "00010501000000000"},
        {"%6M|%y", At(2000, 5, 6), "May   |2000", "20000501000000000"},
        // Without a width digits are taken while the value stays within the field's range.
        {"%m%d", At(2000, 12, 3), "123", "00011203000000000"},
        {"%d/%m/", At(2000, 1, 1), "1/1/", "00010101000000000"}};
    for (const auto& [format, timestamp, text, digits] : cases) {
        SCOPED_TRACE(format);
        EXPECT_EQ(text, Show(format, timestamp));
        EXPECT_EQ(digits, Digits(format, text));
    }
    // "PM" in any case adds 12 hours to the hour read, a 24-hour hour too.
    const std::pair<const char*, const char*> afternoons[] = {{"4:24:03 PM", "00010101162403000"},
                                                              {"4:24:03 pM", "00010101162403000"},
                                                              {"12:05:00 AM", "00010101000500000"}};
    for (const auto& [text, digits] : afternoons) {
        EXPECT_EQ(digits, Digits(clock, text)) << text;
    }
    EXPECT_EQ("00010101160000000", Digits("%H %P", "04 Pm"));
}

TEST(KsTimestampFilter, TextsTheFormatDidNotMakeAreRefused) {
    const char* cases[][3] = {
        {"%M %d, %y", "oct 29, 2003",
         "\"oct 29, 2003\" does not appear to have a month at the beginning"},
        {"%w %d", "Xyz 1", "\"Xyz 1\" does not appear to have a weekday at the beginning"},
        {"%d", "x1", "\"x1\" must start with a digit"},
        {"%02d", "1x", "'x' found at offset 1 of \"1x\"; need digit"},
        {"%02d", "1", "End of text found at offset 1 of \"1\"; need digit"},
        // A wide name at the end of the text takes only what is left.
        {"%6M%d", "May", "\"\" must start with a digit"},
        {"Day %d", "day 5", "String \"day 5\" was not produced by filter \"Day %d\""}};
    KsTimestamp t = At(1999, 12, 31);
    for (const auto& [format, text, message] : cases) {
        KsTimestampFilter filter(format);
        EXPECT_STREQ(message, CaughtError<KsFilterUninterpretableStringException>([&] {
                                  filter.UnfilterTimestamp(t, text);
                              }).GetErrorMessage());
    }
    // A value the setters refuse raises their message: an afternoon hour marked "PM" is
    // moved past the day's end.
    const char* impossible[][3] = {
        {"%02m", "13", "13 is not a valid month"},
        {"%07y", "9999999", "65535 is too large; 9999 is the maximum year"},
        {"%H %P", "16 PM", "28 is not a valid hour"},
        {"%H:%02n %p", "12:30 pm", "24 is not a valid hour"}};
    for (const auto& [format, text, message] : impossible) {
        EXPECT_EQ(message, MessageOf([&] { Digits(format, text); })) << text;
    }

    // A failure or an empty text changes nothing; a format of literal text reads any text
    // as a new timestamp.
    EXPECT_STREQ("19991231000000000", t.GetDigits());
    KsTimestampFilter("Day %d").UnfilterTimestamp(t, "");
    EXPECT_STREQ("19991231000000000", t.GetDigits());
    KsTimestampFilter literal("no date here");
    EXPECT_EQ(12, literal.GetDisplayLength());
    EXPECT_EQ("no date here", Show("no date here", t));
    literal.UnfilterTimestamp(t, "anything");
    EXPECT_STREQ("00010101000000000", t.GetDigits());
}

TEST(KsTimestampFilter, BufferMustHoldTheDisplayLengthAndTheNul) {
    EXPECT_EQ(12, KsTimestampFilter("%M %d, %y").GetDisplayLength());
    EXPECT_EQ(34, KsTimestampFilter("%W %d %L %y %w %%!").GetDisplayLength());
    KsTimestampFilter filter("%d/%m/");
    EXPECT_EQ(6, filter.GetDisplayLength());
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    filter.FilterTimestamp(buffer, 7, At(2000, 12, 31));
    EXPECT_STREQ("31/12/", buffer);
    EXPECT_EQ('#', buffer[7]);
    EXPECT_EQ(
        "Buffer of 6 too small; needs at least 7 / KsTimestampFilter / FilterTimestamp() of "
        "KsTimestampFilter",
        kstest::ErrorOf([&] { filter.FilterTimestamp(buffer, 6, At(2000, 1, 1)); }));
}

TEST(KsTimestampFilter, FormatErrorsLeaveTheFilterEmpty) {
    const char* cases[][2] = {
        {"%02", "Date filter format string cannot end with '%'"},
        // Even a "%%" conversion may not end the format.
        {"%d%%", "Date filter format string cannot end with '%'"},
        {"%d%q", "Unknown conversion type 'q'"},
        {"%60000d%60000d",
         "Date filter format string \"%60000d%60000d\" makes texts longer than 65534"},
        {"%65535h", "Date filter format string \"%65535h\" makes texts longer than 65534"},
        {"%99999h", "Date filter format string \"%99999h\" makes texts longer than 65534"}};
    KsTimestampFilter filter;
    for (const auto& [format, message] : cases) {
        filter.SetFormat("%d");
        EXPECT_EQ(message, MessageOf([&] { filter.SetFormat(format); }));
        EXPECT_STREQ("", filter.GetFormat());
        char shown[64];
        filter.FilterTimestamp(shown, sizeof shown, At(2000, 1, 5));
        EXPECT_STREQ("", shown);
    }
    filter.SetFormat("%65534h");
    EXPECT_EQ(65534, filter.GetDisplayLength());
    EXPECT_EQ("This conversion \"d\" does not start with '%'",
              MessageOf([&] { KsTimestampFilterConversion().SetConversion("d"); }));
}

TEST(KsTimestampFilter, OlderKeysBuildAFormat) {
    KsIniSection section("Field");
    for (const char* line : {"Date Format=DMY", "Zero Fill=true", "Four Digit Year=true",
                             "Month Format=3-Letter", "First Separator=-", "Second Separator=-"}) {
        section.AddLine(line);
    }
    KsTimestampFilter filter;
    filter.Read(&section);
    EXPECT_STREQ("%02d-%M-%y", filter.GetFormat());

    KsIniSection defaults("Field");
    filter.Read(&defaults);
    EXPECT_STREQ("%Y/%m/%d", filter.GetFormat());

    section.SetString("Month Format", "Roman");
    EXPECT_EQ("Unknown month format \"Roman\"", MessageOf([&] { filter.Read(&section); }));
    section.SetString("Date Format", "YDM");
    EXPECT_EQ("Unknown date format \"YDM\"", MessageOf([&] { filter.Read(&section); }));
    // A separator with "%" stays literal text.
    section.SetString("Date Format", "MY");
    section.SetString("Month Format", "2-Digit");
    section.SetString("First Separator", "%d");
    filter.Read(&section);
    EXPECT_STREQ("%02m%%d%y", filter.GetFormat());
    EXPECT_EQ("03%d2000", Show(filter.GetFormat(), At(2000, 3, 9)));
    EXPECT_EQ("null pointer: pIniSection", MessageOf([&] { filter.Read(nullptr); }));
}

TEST(KsTimestampFilter, StreamFormsOfVersions520And400) {
    auto read = [](const std::string& bytes) {
        kstest::MemoryStream in(bytes);
        KsTimestampFilter filter;
        filter.Read(in, KsNullProgress::Instance());
        return std::string(filter.GetFormat());
    };
    kstest::MemoryStream out;
    KsTimestampFilter("%y-%02m-%02d").Write(out, KsNullProgress::Instance());
    EXPECT_EQ(std::string("\x04\0\0\0\x08\x02\x0d\0\0\0%y-%02m-%02d\0", 23), out.Bytes());
    EXPECT_EQ("%y-%02m-%02d", read(out.Bytes()));

    // Version 400: zero fill, four-digit year, MDY, "." and "/", whole month names.
    std::string old("\x04\0\0\0\x90\x01\x01\x01\x03\0\0\0.\0\0/\0\0\x04\0\0\0", 22);
    EXPECT_EQ("%L.%02d/%y", read(old));
    std::string badMonth = old;
    badMonth[18] = 5;
    EXPECT_EQ("Illegal month format", MessageOf([&] { read(badMonth); }));
    std::string badDate = old;
    badDate[8] = 7;
    EXPECT_EQ("Unknown date format", MessageOf([&] { read(badDate); }));
    EXPECT_EQ("Invalid ksfilter header information",
              MessageOf([&] { read(std::string("\x04\0\0\0\x09\x02", 6)); }));
}

TEST(KsTimestampFilter, DefaultFiltersShowDatesAndTimes) {
    KsString text;
    text << KsDate(At(2003, 10, 9, 16, 24, 3)) << " " << KsTime(At(2003, 10, 9, 16, 24, 3));
    EXPECT_STREQ("Oct 9, 2003 4:24:03 pm", text.GetCString());
    EXPECT_EQ(KsFilter::kDateFilter, KsDefaultDateFilter().GetFilterType());
    EXPECT_EQ(KsFilter::kTimeFilter, KsDefaultTimeFilter().GetFilterType());
}

}  // namespace
