#include "KsTimestampFilter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "../io/MemoryStream.h"
#include "KsErrorCapture.h"
#include "KsIniFile.h"
#include "KsNullProgress.h"
#include "KsString.h"

namespace {

using kstest::CaughtError;
using kstest::MessageOf;

KsTimestamp At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
               int milliseconds = 0) {
    KsTimestamp t;
    t.SetYear(static_cast<std::uint16_t>(year));
    t.SetMonth(static_cast<std::uint16_t>(month));
    t.SetDay(static_cast<std::uint16_t>(day));
    t.SetHour(static_cast<std::uint16_t>(hour));
    t.SetMinute(static_cast<std::uint16_t>(minute));
    t.SetSecond(static_cast<std::uint16_t>(second));
    t.SetMilliseconds(static_cast<std::uint16_t>(milliseconds));
    return t;
}

std::string Show(const char* format, const KsTimestamp& t) {
    KsTimestampFilter filter(format);
    char buffer[128];
    filter.FilterTimestamp(buffer, sizeof buffer, t);
    return buffer;
}

std::string Digits(const char* format, const char* text) {
    KsTimestampFilter filter(format);
    KsTimestamp t;
    filter.UnfilterTimestamp(t, text);
    return t.GetDigits();
}

TEST(KsTimestampFilter, DateFormatShowsMonthNameDayAndYear) {
    KsTimestampFilter filter("%M %d, %y", KsFilter::kDateFilter);
    EXPECT_EQ(12, filter.GetDisplayLength());
    EXPECT_EQ(KsFilter::kDateFilter, filter.GetFilterType());
    EXPECT_EQ("Oct 29, 2003", Show("%M %d, %y", At(2003, 10, 29)));
    EXPECT_EQ("Oct 5, 2003", Show("%M %d, %y", At(2003, 10, 5)));
    EXPECT_EQ("20031029000000000", Digits("%M %d, %y", "Oct 29, 2003"));

    KsFilterUninterpretableStringException month =
        CaughtError<KsFilterUninterpretableStringException>(
            [&] { Digits("%M %d, %y", "oct 29, 2003"); });
    EXPECT_STREQ("\"oct 29, 2003\" does not appear to have a month at the beginning",
                 month.GetErrorMessage());
}

TEST(KsTimestampFilter, TwelveHourClockBothWays) {
    const char* format = "%h:%02n:%02s %p";
    EXPECT_EQ("4:24:03 pm", Show(format, At(2000, 1, 1, 16, 24, 3)));
    EXPECT_EQ("12:05:00 am", Show(format, At(2000, 1, 1, 0, 5, 0)));
    EXPECT_EQ("12:00:00 pm", Show(format, At(2000, 1, 1, 12, 0, 0)));
    EXPECT_EQ("11:59:59 pm", Show(format, At(2000, 1, 1, 23, 59, 59)));
    EXPECT_EQ("00010101000500000", Digits(format, "12:05:00 am"));
    EXPECT_EQ("00010101120000000", Digits(format, "12:00:00 pm"));
    EXPECT_EQ("00010101162403000", Digits(format, "4:24:03 PM"));
    // A 24-hour hour with a marker is not moved a second time.
    EXPECT_EQ("00010101150000000", Digits("%H %p", "15 PM"));
}

TEST(KsTimestampFilter, YearsWidthsAndNames) {
    EXPECT_EQ("20980101000000000", Digits("%Y", "98"));
    EXPECT_EQ("5", Show("%Y", At(2005, 1, 1)));
    EXPECT_EQ("05", Show("%02Y", At(2005, 1, 1)));
    EXPECT_EQ("  5", Show("%3Y", At(2005, 1, 1)));
    EXPECT_EQ("0042", Show("%04y", At(42, 3, 1)));
    EXPECT_EQ("Wednesday 1 March 2000 Wed %!", Show("%W %d %L %y %w %%!", At(2000, 3, 1)));
    EXPECT_EQ("May   |Sat", Show("%6M|%w", At(2000, 5, 6)));
    EXPECT_EQ("07.045 PM", Show("%02s.%03u %P", At(2000, 1, 1, 13, 0, 7, 45)));
    EXPECT_EQ("1|1", Show("%lh|%zh", At(2000, 1, 1, 13)));

    // Names are matched as shown; a wider name field is skipped whole.
    EXPECT_EQ("20000501000000000", Digits("%6M|%y", "May   |2000"));
    EXPECT_EQ("20000301000000000", Digits("%W %d %L %y", "Wednesday 1 March 2000"));
    EXPECT_EQ("\"Xyz 1\" does not appear to have a weekday at the beginning",
              MessageOf([] { Digits("%w %d", "Xyz 1"); }));
}

TEST(KsTimestampFilter, NumbersAreReadUpToTheirMaximumOrWidth) {
    // Without a width digits are taken while the value stays within the field's range.
    EXPECT_EQ("00011203000000000", Digits("%m%d", "123"));
    EXPECT_EQ("00010101000000000", Digits("%d/%m/", "1/1/"));
    EXPECT_EQ("00010102000000000", Digits("%d", "  2"));
    EXPECT_EQ("\"x1\" must start with a digit", MessageOf([] { Digits("%d", "x1"); }));
    EXPECT_EQ("'x' found at offset 1 of \"1x\"; need digit",
              MessageOf([] { Digits("%02d", "1x"); }));
    EXPECT_EQ("End of text found at offset 1 of \"1\"; need digit",
              MessageOf([] { Digits("%02d", "1"); }));
    // A value the setters refuse raises their message.
    EXPECT_EQ("13 is not a valid month", MessageOf([] { Digits("%02m", "13"); }));
    EXPECT_EQ("65535 is too large; 9999 is the maximum year",
              MessageOf([] { Digits("%07y", "9999999"); }));
}

TEST(KsTimestampFilter, LiteralsMustMatchAndEmptyTextChangesNothing) {
    KsTimestampFilter filter("Day %d");
    KsTimestamp t = At(1999, 12, 31);
    filter.UnfilterTimestamp(t, "");
    EXPECT_STREQ("19991231000000000", t.GetDigits());
    KsFilterUninterpretableStringException error =
        CaughtError<KsFilterUninterpretableStringException>(
            [&] { filter.UnfilterTimestamp(t, "day 5"); });
    EXPECT_STREQ("String \"day 5\" was not produced by filter \"Day %d\"", error.GetErrorMessage());
    EXPECT_STREQ("19991231000000000", t.GetDigits());

    KsTimestampFilter literal("no date here");
    EXPECT_EQ(12, literal.GetDisplayLength());
    EXPECT_EQ("no date here", Show("no date here", t));
    literal.UnfilterTimestamp(t, "anything");
    EXPECT_STREQ("00010101000000000", t.GetDigits());
}

TEST(KsTimestampFilter, BufferMustHoldTheDisplayLengthAndTheNul) {
    KsTimestampFilter filter("%d/%m/");
    EXPECT_EQ(6, filter.GetDisplayLength());
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    filter.FilterTimestamp(buffer, 7, At(2000, 12, 31));
    EXPECT_STREQ("31/12/", buffer);
    EXPECT_EQ('#', buffer[7]);
    KsException error = CaughtError([&] { filter.FilterTimestamp(buffer, 6, At(2000, 1, 1)); });
    EXPECT_STREQ("Buffer of 6 too small; needs at least 7", error.GetErrorMessage());
    EXPECT_STREQ("KsTimestampFilter", error.GetClassName());
}

TEST(KsTimestampFilter, FormatErrors) {
    KsTimestampFilter filter("%d");
    EXPECT_EQ("Date filter format string cannot end with '%'",
              MessageOf([&] { filter.SetFormat("%d %"); }));
    // A failed format leaves the filter empty.
    EXPECT_STREQ("", filter.GetFormat());
    EXPECT_EQ(0, filter.GetDisplayLength());
    EXPECT_EQ("Date filter format string cannot end with '%'",
              MessageOf([&] { filter.SetFormat("%02"); }));
    // Even a "%%" conversion may not end the format.
    EXPECT_EQ("Date filter format string cannot end with '%'",
              MessageOf([&] { filter.SetFormat("%d%%"); }));
    EXPECT_EQ("Unknown conversion type 'q'", MessageOf([&] { filter.SetFormat("%q"); }));
    EXPECT_EQ("Date filter format string \"%60000d%60000d\" makes texts longer than 65534",
              MessageOf([&] { filter.SetFormat("%60000d%60000d"); }));
    EXPECT_EQ("Date filter format string \"%65535h\" makes texts longer than 65534",
              MessageOf([&] { filter.SetFormat("%65535h"); }));
    filter.SetFormat("%65534h");
    EXPECT_EQ(65534, filter.GetDisplayLength());
    KsTimestampFilterConversion conversion;
    EXPECT_EQ("This conversion \"d\" does not start with '%'",
              MessageOf([&] { conversion.SetConversion("d"); }));
    EXPECT_EQ(5u, conversion.SetConversion("%012dx"));
    EXPECT_TRUE(conversion.GetZeroFill());
    EXPECT_EQ(12, conversion.GetWidth());
}

TEST(KsTimestampFilter, OlderKeysBuildAFormat) {
    KsIniSection section("Field");
    section.SetString("Date Format", "DMY");
    section.SetBool("Zero Fill", true);
    section.SetBool("Four Digit Year", true);
    section.SetString("Month Format", "3-Letter");
    section.SetString("First Separator", "-");
    section.SetString("Second Separator", "-");
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
    KsTimestampFilter filter("%y-%02m-%02d", KsFilter::kTimestampFilter);
    kstest::MemoryStream out;
    filter.Write(out, KsNullProgress::Instance());
    EXPECT_EQ(std::string("\x04\0\0\0\x08\x02\x0d\0\0\0%y-%02m-%02d\0", 23), out.Bytes());
    kstest::MemoryStream in(out.Bytes());
    KsTimestampFilter read;
    read.Read(in, KsNullProgress::Instance());
    EXPECT_TRUE(read == filter);

    // Version 400: zero fill, four-digit year, MDY, "." and ".", whole month names.
    std::string old("\x04\0\0\0\x90\x01\x01\x01\x03\0\0\0.\0\0.\0\0\x04\0\0\0", 22);
    kstest::MemoryStream oldIn(old);
    read.Read(oldIn, KsNullProgress::Instance());
    EXPECT_STREQ("%L.%02d.%y", read.GetFormat());

    std::string badMonth = old;
    badMonth[18] = 5;
    kstest::MemoryStream badMonthIn(badMonth);
    EXPECT_EQ("Illegal month format",
              MessageOf([&] { read.Read(badMonthIn, KsNullProgress::Instance()); }));
    std::string badDate = old;
    badDate[8] = 7;
    kstest::MemoryStream badDateIn(badDate);
    EXPECT_EQ("Unknown date format",
              MessageOf([&] { read.Read(badDateIn, KsNullProgress::Instance()); }));
    kstest::MemoryStream badVersion(std::string("\x04\0\0\0\x09\x02", 6));
    EXPECT_EQ("Invalid ksfilter header information",
              MessageOf([&] { read.Read(badVersion, KsNullProgress::Instance()); }));
}

TEST(KsTimestampFilter, DefaultFiltersShowDatesAndTimes) {
    KsDate date(At(2003, 10, 29, 16, 24, 3));
    KsTime time(At(2003, 10, 29, 16, 24, 3));
    KsString text;
    text << date << " " << time;
    EXPECT_STREQ("Oct 29, 2003 4:24:03 pm", text.GetCString());
    EXPECT_STREQ("%M %d, %y", KsDefaultDateFilter().GetFormat());
    EXPECT_EQ(KsFilter::kTimeFilter, KsDefaultTimeFilter().GetFilterType());
}

}  // namespace
