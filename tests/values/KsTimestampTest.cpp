#include "values/KsTimestamp.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdint>
#include <random>
#include <string>
#include <tuple>
#include <utility>

#include "TimestampAt.h"
#include "support/KsErrorCapture.h"

namespace {

// Day number of 1 January 1970, where the system clock counts from.
constexpr std::int64_t kUnixEpochDay = 719163;

// "YYYY-MM-DD hh:mm:ss.mmm", read from the digits.
std::string Text(const KsTimestamp& t) {
    std::string d = t.GetDigits();
    return d.substr(0, 4) + "-" + d.substr(4, 2) + "-" + d.substr(6, 2) + " " + d.substr(8, 2) +
           ":" + d.substr(10, 2) + ":" + d.substr(12, 2) + "." + d.substr(14, 3);
}

// The error that `body` throws, as "message / call path", after checking its class.
template <class Body>
std::string ErrorOf(Body body) {
    KsException error = kstest::CaughtError(body);
    EXPECT_STREQ(error.GetClassName(), "KsTimestamp");
    return std::string(error.GetErrorMessage()) + " / " + error.GetCallpath();
}

TEST(KsTimestampTest, NewTimestampIsTheFirstDayOfYearOneAndOrderIsChronological) {
    EXPECT_STREQ(KsTimestamp().GetDigits(), "00010101000000000");
    KsTimestamp t = At(2024, 7, 15, 13, 5, 9, 42);
    EXPECT_LT(t, At(2024, 7, 15, 13, 5, 9, 43));
    EXPECT_GT(t, At(2023, 12, 31, 23, 59, 59, 999));
}

// Every day from 1 January of year 1 to 31 December 9999, against the standard library's
// calendar: the day number gives that date and weekday, and the date gives the number back.
TEST(KsTimestampTest, EveryDayNumberConvertsToItsDateAndBack) {
    using namespace std::chrono;
    KsTimestamp t = At(1, 1, 1, 12, 34, 56, 789);
    for (std::uint32_t n = 1; n <= KsTimestamp::kLastDayNumber; ++n) {
        year_month_day date{sys_days{days{std::int64_t{n} - kUnixEpochDay}}};
        t.SetJulianDayFromCalendarStart(n);
        if (t.GetYear() != static_cast<int>(date.year()) ||
            t.GetMonth() != static_cast<unsigned>(date.month()) ||
            t.GetDay() != static_cast<unsigned>(date.day()) ||
            t.GetJulianDayFromCalendarStart() != n || t.GetDayOfWeek() != n % 7) {
            ADD_FAILURE() << "day " << n << " gave " << Text(t) << " weekday " << t.GetDayOfWeek();
            break;
        }
    }
    // The time of day is not touched.
    EXPECT_EQ(Text(t), "9999-12-31 12:34:56.789");
}

// Year 0 is a leap year whose last day is a Sunday, but it has no day numbers.
TEST(KsTimestampTest, YearZeroHasWeekdaysButNoDayNumbers) {
    EXPECT_EQ(At(0, 1, 1).GetDayOfWeek() * 10 + At(0, 12, 31).GetDayOfWeek(), 60);
    EXPECT_EQ(ErrorOf([] { At(0, 6, 1).GetJulianDayFromCalendarStart(); }),
              "Year 0 has no day number; day numbers start on 1 January of year 1 / "
              "GetJulianDayFromCalendarStart() of KsTimestamp");
}

TEST(KsTimestampTest, DatesOutsideTheCalendarRaiseTheYearMessage) {
    // Day 0 wraps to a year far beyond 9999; years beyond 16 bits are reported whole.
    const std::pair<std::uint32_t, const char*> cases[] = {
        {3652060, "10000"}, {0, "11759222"}, {24666000, "67534"}};
    KsTimestamp t = At(2020, 5, 17, 8);
    for (const auto& [day, year] : cases) {
        EXPECT_EQ(ErrorOf([&] { t.SetJulianDayFromCalendarStart(day); }),
                  std::string(year) +
                      " is too large; 9999 is the maximum year / SetYear() of KsTimestamp\r\n"
                      "SetJulianDayFromCalendarStart() of KsTimestamp");
    }
    EXPECT_EQ(Text(t), "2020-05-17 08:00:00.000");
    // A failure while carrying keeps the smaller fields changed.
    t = At(1, 1, 1, 0, 0, 0, 500);
    EXPECT_EQ(ErrorOf([&] { t.AddMilliseconds(-3600 * 1000); }),
              "11759222 is too large; 9999 is the maximum year / SetYear() of KsTimestamp\r\n"
              "SetJulianDayFromCalendarStart() of KsTimestamp\r\nAddHours() of KsTimestamp\r\n"
              "AddMinutes() of KsTimestamp\r\nAddSeconds() of KsTimestamp\r\n"
              "AddMilliseconds() of KsTimestamp");
    EXPECT_EQ(Text(t), "0001-01-01 23:00:00.500");
}

using Setter = void (KsTimestamp::*)(std::uint16_t);

TEST(KsTimestampTest, FebruaryAndLeapYearRules) {
    // Any year takes 29 February, so a date can be set day before year.
    EXPECT_EQ(Text(At(2001, 2, 29)), "2001-02-29 00:00:00.000");
    const std::tuple<KsTimestamp, Setter, std::uint16_t, const char*> cases[] = {
        {At(2000, 2, 29), &KsTimestamp::SetYear, 2001, "2001-02-28"},
        {At(1996, 2, 29), &KsTimestamp::SetYear, 2000, "2000-02-29"},
        {At(1996, 2, 29), &KsTimestamp::SetYear, 1900, "1900-02-28"},
        {At(2001, 1, 31), &KsTimestamp::SetMonth, 2, "2001-02-29"},
        {At(2000, 3, 31), &KsTimestamp::SetMonth, 4, "2000-04-30"}};
    for (auto [t, set, value, date] : cases) {
        (t.*set)(value);
        EXPECT_EQ(Text(t), std::string(date) + " 00:00:00.000");
    }
}

TEST(KsTimestampTest, SettersRefuseOutOfRangeValuesAndKeepTheDigits) {
    const std::tuple<Setter, std::uint16_t, std::string> cases[] = {
        {&KsTimestamp::SetYear, 10000, "10000 is too large; 9999 is the maximum year / SetYear()"},
        {&KsTimestamp::SetMonth, 13, "13 is not a valid month / SetMonth()"},
        {&KsTimestamp::SetMonth, 0, "0 is not a valid month / SetMonth()"},
        {&KsTimestamp::SetDay, 30, "30 is not a valid day in month 2 / SetDay()"},
        {&KsTimestamp::SetDay, 0, "0 is not a valid day in month 2 / SetDay()"},
        {&KsTimestamp::SetHour, 24, "24 is not a valid hour / SetHour()"},
        {&KsTimestamp::SetMinute, 60, "60 is not a valid minute / SetMinute()"},
        // A leap second only in the last minute of the day.
        {&KsTimestamp::SetSecond, 60, "60 is not a valid second / SetSecond()"},
        {&KsTimestamp::SetMilliseconds, 1000,
         "1000 is not a valid millisecond / SetMilliseconds()"}};
    KsTimestamp t = At(2000, 2, 10, 23, 58, 30, 500);
    for (const auto& [set, value, message] : cases) {
        EXPECT_EQ(ErrorOf([&] { (t.*set)(value); }), message + " of KsTimestamp");
    }
    EXPECT_EQ(Text(t), "2000-02-10 23:58:30.500");

    // The last minute of the day takes seconds up to 99.
    t = At(2016, 12, 31, 23, 59);
    t.SetSecond(60);
    EXPECT_EQ(Text(t), "2016-12-31 23:59:60.000");
    t.SetSecond(99);
    EXPECT_EQ(ErrorOf([&] { t.SetSecond(100); }),
              "100 is not a valid second / SetSecond() of KsTimestamp");
    EXPECT_EQ(Text(t), "2016-12-31 23:59:99.000");
    EXPECT_THROW(At(2016, 12, 31, 22, 59).SetSecond(60), KsException);
}

TEST(KsTimestampTest, TimeOfDayInMilliseconds) {
    KsTimestamp t = At(2010, 6, 6);
    t.SetTimeInMilliseconds(86399999);
    EXPECT_EQ(Text(t), "2010-06-06 23:59:59.999");
    EXPECT_EQ(t.GetTimeInMilliseconds(), 86399999u);
    t.SetTimeInMilliseconds(45296789);
    EXPECT_EQ(Text(t), "2010-06-06 12:34:56.789");
    EXPECT_EQ(ErrorOf([&] { t.SetTimeInMilliseconds(86400000); }),
              "24 is not a valid hour / SetHour() of KsTimestamp\r\n"
              "SetTimeInMilliseconds() of KsTimestamp");
    EXPECT_EQ(Text(t), "2010-06-06 12:34:56.789");
}

// Amounts at the ends of the int range neither overflow nor lose a carry.
TEST(KsTimestampTest, AddingTheLargestAmountsCarriesWithoutOverflow) {
    KsTimestamp t = At(1, 1, 1, 0, 0, 0, 999);
    t.AddMilliseconds(INT_MAX);
    EXPECT_EQ(Text(t), "0001-01-25 20:31:24.646");
    t.AddMilliseconds(INT_MIN);
    EXPECT_EQ(Text(t), "0001-01-01 00:00:00.998");
}

// Each add operation agrees with plain arithmetic on the stored form.
TEST(KsTimestampTest, AddingAgreesWithDayNumberArithmetic) {
    constexpr std::int64_t kDay = 86400000;
    const std::pair<void (KsTimestamp::*)(int), std::int64_t> units[] = {
        {&KsTimestamp::AddMilliseconds, 1},
        {&KsTimestamp::AddSeconds, 1000},
        {&KsTimestamp::AddMinutes, 60000},
        {&KsTimestamp::AddHours, 3600000}};
    auto stored = [&](const KsTimestamp& t) {
        return t.GetJulianDayFromCalendarStart() * kDay + t.GetTimeInMilliseconds();
    };
    std::mt19937 random(20240715);
    std::uniform_int_distribution<std::uint32_t> days(100000, 3500000), times(0, kDay - 1);
    std::uniform_int_distribution<int> amounts(-999999, 999999);
    for (int i = 0; i < 2000; ++i) {
        KsTimestamp t;
        t.SetJulianDayFromCalendarStart(days(random));
        t.SetTimeInMilliseconds(times(random));
        auto [add, unitMs] = units[i % 4];
        int amount = amounts(random);
        std::int64_t expected = stored(t) + amount * unitMs;
        (t.*add)(amount);
        ASSERT_EQ(stored(t), expected) << "unit " << unitMs << " amount " << amount;
    }
}

TEST(KsTimestampTest, NowReadsTheSystemClockInUniversalTime) {
    using namespace std::chrono;
    auto clock = [] { return floor<milliseconds>(system_clock::now()).time_since_epoch().count(); };
    auto msSinceEpoch = [](const KsTimestamp& t) {
        return (std::int64_t{t.GetJulianDayFromCalendarStart()} - kUnixEpochDay) * 86400000 +
               t.GetTimeInMilliseconds();
    };
    auto before = clock();
    KsTimestamp t;
    t.Now(false);
    EXPECT_GE(msSinceEpoch(t), before);
    EXPECT_LE(msSinceEpoch(t), clock());
    t.Now(true);
    EXPECT_EQ(t.GetMilliseconds(), 0);
}

}  // namespace
