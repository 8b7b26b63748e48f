#include "KsTimestamp.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <utility>

#include "KsException.h"

namespace {

KsTimestamp At(std::uint16_t year, std::uint16_t month, std::uint16_t day, std::uint16_t hour = 0,
               std::uint16_t minute = 0, std::uint16_t second = 0, std::uint16_t ms = 0) {
    KsTimestamp t;
    t.SetYear(year);
    t.SetMonth(month);
    t.SetDay(day);
    t.SetHour(hour);
    t.SetMinute(minute);
    t.SetSecond(second);
    t.SetMilliseconds(ms);
    return t;
}

// "YYYY-MM-DD hh:mm:ss.mmm", read from the digits.
std::string Text(const KsTimestamp& t) {
    std::string d = t.GetDigits();
    return d.substr(0, 4) + "-" + d.substr(4, 2) + "-" + d.substr(6, 2) + " " + d.substr(8, 2) +
           ":" + d.substr(10, 2) + ":" + d.substr(12, 2) + "." + d.substr(14, 3);
}

// The error that `body` throws, as "message / call path", after checking its class.
template <class Body>
std::string ErrorOf(Body body) {
    try {
        body();
    } catch (const KsException& e) {
        EXPECT_STREQ(e.GetClassName(), "KsTimestamp");
        return std::string(e.GetErrorMessage()) + " / " + e.GetCallpath();
    }
    return "no error";
}

bool IsLeap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : lengths[month - 1];
}

TEST(KsTimestampTest, NewTimestampIsTheFirstDayOfYearOne) {
    KsTimestamp t;
    EXPECT_STREQ(t.GetDigits(), "00010101000000000");
    EXPECT_STREQ(t.GetDigits(), kKsDefaultTimestampDigits);
    EXPECT_EQ(t.GetJulianDayFromCalendarStart(), 1u);
    EXPECT_EQ(t.GetTimeInMilliseconds(), 0u);
    EXPECT_EQ(t.GetDayOfWeek(), 1);  // a Monday

    KsTimestamp stamped = At(2024, 7, 15, 13, 5, 9, 42);
    EXPECT_STREQ(stamped.GetDigits(), "20240715130509042");
    std::unique_ptr<KsTimestamp> copy(stamped.Clone());
    EXPECT_EQ(*copy, stamped);
    copy->SetDay(16);
    EXPECT_EQ(stamped.GetDay(), 15);
    EXPECT_LT(stamped, *copy);
    EXPECT_GT(At(2024, 7, 15, 13, 5, 10), stamped);
}

// Every day from 1 January of year 1 to 31 December 9999, against a calendar stepped one
// day at a time: the day number gives that date and the date gives the day number back.
TEST(KsTimestampTest, EveryDayNumberConvertsToItsDateAndBack) {
    int year = 1;
    int month = 1;
    int day = 1;
    KsTimestamp t = At(1, 1, 1, 12, 34, 56, 789);
    for (std::uint32_t n = 1; n <= KsTimestamp::kLastDayNumber; ++n) {
        t.SetJulianDayFromCalendarStart(n);
        if (t.GetYear() != year || t.GetMonth() != month || t.GetDay() != day ||
            t.GetJulianDayFromCalendarStart() != n || t.GetDayOfWeek() != n % 7) {
            ADD_FAILURE() << "day " << n << " gave " << Text(t) << ", expected " << year << "-"
                          << month << "-" << day;
            break;
        }
        if (++day > DaysInMonth(year, month)) {
            day = 1;
            if (++month > 12) {
                month = 1;
                ++year;
            }
        }
    }
    EXPECT_EQ(year, 10000);
    // The time of day is not touched.
    EXPECT_EQ(Text(t), "9999-12-31 12:34:56.789");
}

TEST(KsTimestampTest, KnownDayNumbers) {
    EXPECT_EQ(At(1900, 3, 1).GetJulianDayFromCalendarStart(), 693655u);
    EXPECT_EQ(At(9999, 12, 31).GetJulianDayFromCalendarStart(), 3652059u);
    EXPECT_EQ(At(1970, 1, 1).GetJulianDayFromCalendarStart(), 719163u);
    EXPECT_EQ(At(2000, 3, 1).GetJulianDayFromCalendarStart(),
              At(2000, 2, 29).GetJulianDayFromCalendarStart() + 1);
    EXPECT_EQ(At(2001, 1, 1).GetJulianDayFromCalendarStart(),
              At(2000, 12, 31).GetJulianDayFromCalendarStart() + 1);
    KsTimestamp t;
    t.SetJulianDayFromCalendarStart(693655);
    EXPECT_EQ(Text(t), "1900-03-01 00:00:00.000");
    t.SetJulianDayFromCalendarStart(At(2000, 12, 31).GetJulianDayFromCalendarStart());
    EXPECT_EQ(Text(t), "2000-12-31 00:00:00.000");
}

TEST(KsTimestampTest, DayNumbersOutsideTheCalendarRaiseTheYearMessage) {
    const std::string path =
        " / SetYear() of KsTimestamp\r\nSetJulianDayFromCalendarStart() of "
        "KsTimestamp";
    KsTimestamp t = At(2020, 5, 17, 8);
    EXPECT_EQ(ErrorOf([&] { t.SetJulianDayFromCalendarStart(3652060); }),
              "10000 is too large; 9999 is the maximum year" + path);
    EXPECT_EQ(ErrorOf([&] { t.SetJulianDayFromCalendarStart(0); }),
              "11759222 is too large; 9999 is the maximum year" + path);
    // Years beyond 16 bits are reported whole, not cut into a valid-looking year.
    EXPECT_EQ(ErrorOf([&] { t.SetJulianDayFromCalendarStart(24666000); }),
              "67534 is too large; 9999 is the maximum year" + path);
    EXPECT_EQ(Text(t), "2020-05-17 08:00:00.000");
}

TEST(KsTimestampTest, DaysOfTheWeekAndYearZero) {
    EXPECT_EQ(At(2000, 1, 1).GetDayOfWeek(), 6);
    EXPECT_EQ(At(1900, 1, 1).GetDayOfWeek(), 1);
    // Year 0 is a leap year whose last day is a Sunday, but it has no day numbers.
    EXPECT_EQ(At(0, 12, 31).GetDayOfWeek(), 0);
    EXPECT_EQ(At(0, 3, 1).GetDayOfWeek(), 3);
    EXPECT_EQ(At(0, 2, 29).GetDayOfWeek(), 2);
    EXPECT_EQ(At(0, 1, 1).GetDayOfWeek(), 6);
    EXPECT_EQ(ErrorOf([] { At(0, 6, 1).GetJulianDayFromCalendarStart(); }),
              "Year 0 has no day number; day numbers start on 1 January of year 1 / "
              "GetJulianDayFromCalendarStart() of KsTimestamp");
}

TEST(KsTimestampTest, FebruaryAndLeapYearRules) {
    // Any year takes 29 February, so a date can be set day before year.
    KsTimestamp t = At(2001, 2, 29);
    EXPECT_EQ(Text(t), "2001-02-29 00:00:00.000");

    t = At(2000, 2, 29);
    t.SetYear(2001);
    EXPECT_EQ(Text(t), "2001-02-28 00:00:00.000");
    t = At(1996, 2, 29);
    t.SetYear(2000);
    EXPECT_EQ(Text(t), "2000-02-29 00:00:00.000");
    t.SetYear(1900);
    EXPECT_EQ(Text(t), "1900-02-28 00:00:00.000");
    t = At(2001, 1, 31);
    t.SetMonth(2);
    EXPECT_EQ(Text(t), "2001-02-29 00:00:00.000");
    t = At(2000, 3, 31);
    t.SetMonth(4);
    EXPECT_EQ(Text(t), "2000-04-30 00:00:00.000");
}

TEST(KsTimestampTest, SettersRefuseOutOfRangeValuesAndKeepTheDigits) {
    KsTimestamp t = At(2000, 2, 10, 23, 58, 30, 500);
    const std::string before = Text(t);
    EXPECT_EQ(ErrorOf([&] { t.SetYear(10000); }),
              "10000 is too large; 9999 is the maximum year / SetYear() of KsTimestamp");
    EXPECT_EQ(ErrorOf([&] { t.SetYear(65535); }),
              "65535 is too large; 9999 is the maximum year / SetYear() of KsTimestamp");
    EXPECT_EQ(ErrorOf([&] { t.SetMonth(13); }),
              "13 is not a valid month / SetMonth() of KsTimestamp");
    EXPECT_EQ(ErrorOf([&] { t.SetMonth(0); }),
              "0 is not a valid month / SetMonth() of KsTimestamp");
    EXPECT_EQ(ErrorOf([&] { t.SetDay(30); }),
              "30 is not a valid day in month 2 / SetDay() of KsTimestamp");
    EXPECT_EQ(ErrorOf([&] { t.SetDay(0); }),
              "0 is not a valid day in month 2 / SetDay() of KsTimestamp");
    EXPECT_EQ(ErrorOf([&] { t.SetHour(24); }), "24 is not a valid hour / SetHour() of KsTimestamp");
    EXPECT_EQ(ErrorOf([&] { t.SetMinute(60); }),
              "60 is not a valid minute / SetMinute() of KsTimestamp");
    EXPECT_EQ(ErrorOf([&] { t.SetSecond(60); }),
              "60 is not a valid second / SetSecond() of KsTimestamp");
    EXPECT_EQ(ErrorOf([&] { t.SetMilliseconds(1000); }),
              "1000 is not a valid millisecond / SetMilliseconds() of KsTimestamp");
    EXPECT_EQ(Text(t), before);

    EXPECT_EQ(ErrorOf([] { At(2000, 1, 1).SetDay(32); }),
              "32 is not a valid day in month 1 / SetDay() of KsTimestamp");
    EXPECT_NO_THROW(At(9999, 1, 31, 23, 59, 59, 999).SetYear(0));
}

TEST(KsTimestampTest, LeapSecondOnlyInTheLastMinuteOfTheDay) {
    KsTimestamp t = At(2016, 12, 31, 23, 59);
    t.SetSecond(60);
    EXPECT_EQ(Text(t), "2016-12-31 23:59:60.000");
    t.SetSecond(99);
    EXPECT_EQ(t.GetSecond(), 99);
    EXPECT_EQ(ErrorOf([&] { t.SetSecond(100); }),
              "100 is not a valid second / SetSecond() of KsTimestamp");
    EXPECT_EQ(t.GetSecond(), 99);

    KsTimestamp minuteBefore = At(2016, 12, 31, 23, 58);
    EXPECT_EQ(ErrorOf([&] { minuteBefore.SetSecond(60); }),
              "60 is not a valid second / SetSecond() of KsTimestamp");
    EXPECT_THROW(At(2016, 12, 31, 22, 59).SetSecond(60), KsException);
}

TEST(KsTimestampTest, TimeOfDayInMilliseconds) {
    KsTimestamp t = At(2010, 6, 6);
    t.SetTimeInMilliseconds(86399999);
    EXPECT_EQ(Text(t), "2010-06-06 23:59:59.999");
    EXPECT_EQ(t.GetTimeInMilliseconds(), 86399999u);
    t.SetTimeInMilliseconds(45296789);
    EXPECT_EQ(Text(t), "2010-06-06 12:34:56.789");
    EXPECT_EQ(t.GetTimeInMilliseconds(), 45296789u);

    const std::string path =
        " / SetHour() of KsTimestamp\r\nSetTimeInMilliseconds() of KsTimestamp";
    EXPECT_EQ(ErrorOf([&] { t.SetTimeInMilliseconds(86400000); }), "24 is not a valid hour" + path);
    EXPECT_EQ(ErrorOf([&] { t.SetTimeInMilliseconds(UINT32_MAX); }),
              "1193 is not a valid hour" + path);
    EXPECT_EQ(Text(t), "2010-06-06 12:34:56.789");
}

TEST(KsTimestampTest, AddingCarriesAcrossDaysMonthsAndYears) {
    KsTimestamp t = At(2000, 3, 1, 0, 30);
    t.AddHours(-1);
    EXPECT_EQ(Text(t), "2000-02-29 23:30:00.000");

    t = At(2001, 1, 1);
    t.AddMilliseconds(-1);
    EXPECT_EQ(Text(t), "2000-12-31 23:59:59.999");
    t.AddMilliseconds(1);
    EXPECT_EQ(Text(t), "2001-01-01 00:00:00.000");

    t.AddMinutes(-60 * 24 * 366);
    EXPECT_EQ(Text(t), "2000-01-01 00:00:00.000");
    t.AddSeconds(-1);
    EXPECT_EQ(Text(t), "1999-12-31 23:59:59.000");

    // Amounts at the ends of the int range neither overflow nor lose a carry.
    t = At(1, 1, 1, 0, 0, 0, 999);
    t.AddMilliseconds(INT_MAX);
    EXPECT_EQ(Text(t), "0001-01-25 20:31:24.646");
    t.AddMilliseconds(INT_MIN);
    EXPECT_EQ(Text(t), "0001-01-01 00:00:00.998");
    t = At(1970, 1, 1);
    t.AddSeconds(INT_MAX);
    EXPECT_EQ(Text(t), "2038-01-19 03:14:07.000");
    t = At(1970, 1, 1);
    t.AddSeconds(INT_MIN);
    EXPECT_EQ(Text(t), "1901-12-13 20:45:52.000");
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

TEST(KsTimestampTest, FailedCarryKeepsTheSmallerFieldsChanged) {
    KsTimestamp t = At(9999, 12, 31, 5);
    EXPECT_EQ(ErrorOf([&] { t.AddHours(24); }),
              "10000 is too large; 9999 is the maximum year / SetYear() of KsTimestamp\r\n"
              "SetJulianDayFromCalendarStart() of KsTimestamp\r\nAddHours() of KsTimestamp");
    EXPECT_EQ(Text(t), "9999-12-31 05:00:00.000");

    KsTimestamp first = At(1, 1, 1, 0, 0, 0, 500);
    EXPECT_EQ(ErrorOf([&] { first.AddMilliseconds(-3600 * 1000); }),
              "11759222 is too large; 9999 is the maximum year / SetYear() of KsTimestamp\r\n"
              "SetJulianDayFromCalendarStart() of KsTimestamp\r\nAddHours() of KsTimestamp\r\n"
              "AddMinutes() of KsTimestamp\r\nAddSeconds() of KsTimestamp\r\n"
              "AddMilliseconds() of KsTimestamp");
    EXPECT_EQ(Text(first), "0001-01-01 23:00:00.500");
}

TEST(KsTimestampTest, NowReadsTheSystemClockInUniversalTime) {
    using namespace std::chrono;
    constexpr std::int64_t kUnixEpochDay = 719163;  // 1 January 1970
    auto msSinceEpoch = [&](const KsTimestamp& t) {
        return (std::int64_t{t.GetJulianDayFromCalendarStart()} - kUnixEpochDay) * 86400000 +
               t.GetTimeInMilliseconds();
    };
    auto before = floor<milliseconds>(system_clock::now()).time_since_epoch().count();
    KsTimestamp t;
    t.Now(false);
    auto after = floor<milliseconds>(system_clock::now()).time_since_epoch().count();
    EXPECT_GE(msSinceEpoch(t), before);
    EXPECT_LE(msSinceEpoch(t), after);

    t.Now(true);
    EXPECT_EQ(t.GetMilliseconds(), 0);
    EXPECT_GE(msSinceEpoch(t), before - 999);
}

TEST(KsTimestampTest, DatesAndTimesAreValues) {
    KsDate date(At(2000, 1, 1));
    std::unique_ptr<KsDate> dateCopy(date.Clone());
    EXPECT_EQ(*dateCopy, date);
    dateCopy->GetTimestamp().SetDay(2);
    EXPECT_NE(*dateCopy, date);
    EXPECT_EQ(date.GetTimestamp().GetDay(), 1);

    KsTime time(At(1, 1, 1, 12, 30));
    EXPECT_EQ(std::unique_ptr<KsTime>(time.Clone())->GetTimestamp().GetTimeInMilliseconds(),
              45000000u);
}

}  // namespace
