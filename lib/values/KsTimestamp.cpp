#include "values/KsTimestamp.h"

#include <chrono>
#include <cstring>

#include "core/KsCallpath.h"
#include "core/KsException.h"
#include "core/KsString.h"
#include "values/KsTimestampFilter.h"

namespace {

constexpr const char* kTimestampClass = "KsTimestamp";

// Indexed by month 1-12. February has 29 days whatever the year; only SetYear looks at
// the year.
constexpr std::uint16_t kMonthLength[13] = {0, 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
constexpr std::uint32_t kDaysBeforeMonth[13] = {0,   0,   31,  59,  90,  120, 151,
                                                181, 212, 243, 273, 304, 334};

constexpr std::uint32_t kMillisecondsPerSecond = 1000;
constexpr std::uint32_t kMillisecondsPerMinute = 60 * kMillisecondsPerSecond;
constexpr std::uint32_t kMillisecondsPerHour = 60 * kMillisecondsPerMinute;

constexpr std::uint32_t kDaysPer400Years = 146097;
constexpr std::uint32_t kDaysPer100Years = 36524;
constexpr std::uint32_t kDaysPer4Years = 1461;
constexpr std::uint32_t kDaysPerYear = 365;

// Adds `amount` to a field counted in `base`: stores the field's new value and returns
// the carry into the next larger field, rounded towards minus infinity.
template <class Store>
std::int64_t AddWithCarry(std::uint16_t current, int amount, std::int64_t base, Store store) {
    // Worked out in 64 bits, so that no amount overflows.
    std::int64_t value = std::int64_t{current} + amount;
    std::int64_t carry;
    if (value >= 0) {
        carry = value / base;
    } else {
        carry = (value + 1) / base - 1;
        value = value % base + base;
    }
    store(static_cast<std::uint16_t>(value % base));
    return carry;
}

}  // namespace

KsTimestamp::KsTimestamp() {
    std::memcpy(digits_, kKsDefaultTimestampDigits, sizeof digits_);
}

std::uint16_t KsTimestamp::Field(int offset, int width) const {
    std::uint16_t value = 0;
    for (int i = 0; i < width; ++i) {
        value = static_cast<std::uint16_t>(value * 10 + (digits_[offset + i] - '0'));
    }
    return value;
}

void KsTimestamp::StoreField(int offset, int width, std::uint32_t value) {
    for (int i = width - 1; i >= 0; --i) {
        digits_[offset + i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
}

bool KsTimestamp::IsLeapYear(std::uint32_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

void KsTimestamp::SetYear(std::uint16_t year) {
    SetYearValue(year);
}

void KsTimestamp::SetYearValue(std::uint32_t year) {
    KsCallpath("SetYear()", kTimestampClass, [&] {
        if (year > 9999) {
            KsException::Generate("%u is too large; 9999 is the maximum year", kTimestampClass,
                                  year);
        }
        StoreField(0, 4, year);
        if (GetMonth() == 2 && GetDay() == 29 && !IsLeapYear(year)) {
            StoreField(6, 2, 28);
        }
    });
}

void KsTimestamp::SetMonth(std::uint16_t month) {
    KsCallpath("SetMonth()", kTimestampClass, [&] {
        // Month 0 has no length and no days before it; it is no month.
        if (month < 1 || month > 12) {
            KsException::Generate("%hu is not a valid month", kTimestampClass, month);
        }
        StoreField(4, 2, month);
        if (GetDay() > kMonthLength[month]) {
            StoreField(6, 2, kMonthLength[month]);
        }
    });
}

void KsTimestamp::SetDay(std::uint16_t day) {
    KsCallpath("SetDay()", kTimestampClass, [&] {
        std::uint16_t month = GetMonth();
        if (day < 1 || day > kMonthLength[month]) {
            KsException::Generate("%hu is not a valid day in month %hu", kTimestampClass, day,
                                  month);
        }
        StoreField(6, 2, day);
    });
}

void KsTimestamp::SetHour(std::uint16_t hour) {
    KsCallpath("SetHour()", kTimestampClass, [&] {
        if (hour > 23) {
            KsException::Generate("%hu is not a valid hour", kTimestampClass, hour);
        }
        StoreField(8, 2, hour);
    });
}

void KsTimestamp::SetMinute(std::uint16_t minute) {
    KsCallpath("SetMinute()", kTimestampClass, [&] {
        if (minute > 59) {
            KsException::Generate("%hu is not a valid minute", kTimestampClass, minute);
        }
        StoreField(10, 2, minute);
    });
}

void KsTimestamp::SetSecond(std::uint16_t second) {
    KsCallpath("SetSecond()", kTimestampClass, [&] {
        // The last minute of a day may hold a leap second; two digits hold at most 99.
        bool lastMinute = GetHour() == 23 && GetMinute() == 59;
        if (second > (lastMinute ? 99 : 59)) {
            KsException::Generate("%hu is not a valid second", kTimestampClass, second);
        }
        StoreField(12, 2, second);
    });
}

void KsTimestamp::SetMilliseconds(std::uint16_t milliseconds) {
    KsCallpath("SetMilliseconds()", kTimestampClass, [&] {
        if (milliseconds > 999) {
            KsException::Generate("%hu is not a valid millisecond", kTimestampClass, milliseconds);
        }
        StoreField(14, 3, milliseconds);
    });
}

std::uint32_t KsTimestamp::GetJulianDayFromCalendarStart() const {
    return KsCallpath("GetJulianDayFromCalendarStart()", kTimestampClass, [&] {
        std::uint32_t year = GetYear();
        std::uint32_t month = GetMonth();
        if (year == 0) {
            // Day numbers start with year 1, and an unsigned number cannot count back.
            KsException::Generate(
                "Year 0 has no day number; day numbers start on 1 January of "
                "year 1",
                kTimestampClass);
        }
        std::uint32_t leapYear = month <= 2 ? year - 1 : year;
        return GetDay() + kDaysBeforeMonth[month] + (year - 1) * kDaysPerYear + leapYear / 4 -
               leapYear / 100 + leapYear / 400;
    });
}

void KsTimestamp::SetJulianDayFromCalendarStart(std::uint32_t dayNumber) {
    KsCallpath("SetJulianDayFromCalendarStart()", kTimestampClass, [&] {
        std::uint32_t rest = dayNumber - 1;  // day 0 wraps to a year far beyond 9999
        std::uint32_t q400 = rest / kDaysPer400Years;
        rest %= kDaysPer400Years;
        std::uint32_t q100 = rest / kDaysPer100Years;
        rest %= kDaysPer100Years;
        std::uint32_t q4 = rest / kDaysPer4Years;
        rest %= kDaysPer4Years;
        std::uint32_t q1 = rest / kDaysPerYear;
        rest %= kDaysPerYear;

        std::uint32_t yearsBefore = 400 * q400 + 100 * q100 + 4 * q4 + q1;
        std::uint32_t year;
        std::uint16_t month;
        std::uint16_t day;
        if (q100 == 4 || q1 == 4) {
            // The last day of a 400-year or of a 4-year cycle: 31 December of a leap year.
            year = yearsBefore;
            month = 12;
            day = 31;
        } else {
            year = yearsBefore + 1;
            std::uint32_t dayOfYear = rest + 1;
            bool leap = IsLeapYear(year);
            if (leap && dayOfYear == 60) {
                month = 2;
                day = 29;
            } else {
                if (leap && dayOfYear > 60) {
                    --dayOfYear;
                }
                month = 12;
                while (kDaysBeforeMonth[month] >= dayOfYear) {
                    --month;
                }
                day = static_cast<std::uint16_t>(dayOfYear - kDaysBeforeMonth[month]);
            }
        }
        SetYearValue(year);
        SetMonth(month);
        SetDay(day);
    });
}

std::uint32_t KsTimestamp::GetTimeInMilliseconds() const {
    return GetHour() * kMillisecondsPerHour + GetMinute() * kMillisecondsPerMinute +
           GetSecond() * kMillisecondsPerSecond + GetMilliseconds();
}

void KsTimestamp::SetTimeInMilliseconds(std::uint32_t milliseconds) {
    KsCallpath("SetTimeInMilliseconds()", kTimestampClass, [&] {
        // An hour of at most 4294967295 / 3600000 fits in 16 bits and is then refused.
        SetHour(static_cast<std::uint16_t>(milliseconds / kMillisecondsPerHour));
        SetMinute(static_cast<std::uint16_t>(milliseconds % kMillisecondsPerHour /
                                             kMillisecondsPerMinute));
        SetSecond(static_cast<std::uint16_t>(milliseconds % kMillisecondsPerMinute /
                                             kMillisecondsPerSecond));
        SetMilliseconds(static_cast<std::uint16_t>(milliseconds % kMillisecondsPerSecond));
    });
}

std::uint16_t KsTimestamp::GetDayOfWeek() const {
    std::uint32_t month = GetMonth();
    std::uint32_t shiftedMonth = month <= 2 ? month + 10 : month - 2;
    // 400 years are 146,097 days, a whole number of weeks: adding them keeps the weekday
    // and keeps the year of January and February in year 0 from going below zero.
    std::uint32_t year = GetYear() + 400u - (month <= 2 ? 1 : 0);
    return static_cast<std::uint16_t>(
        (GetDay() + 31 * shiftedMonth / 12 + year + year / 4 - year / 100 + year / 400) % 7);
}

void KsTimestamp::AddMilliseconds(int milliseconds) {
    KsCallpath("AddMilliseconds()", kTimestampClass, [&] {
        std::int64_t carry = AddWithCarry(GetMilliseconds(), milliseconds, 1000,
                                          [&](std::uint16_t v) { SetMilliseconds(v); });
        if (carry != 0) {
            AddSeconds(static_cast<int>(carry));
        }
    });
}

void KsTimestamp::AddSeconds(int seconds) {
    KsCallpath("AddSeconds()", kTimestampClass, [&] {
        std::int64_t carry =
            AddWithCarry(GetSecond(), seconds, 60, [&](std::uint16_t v) { SetSecond(v); });
        if (carry != 0) {
            AddMinutes(static_cast<int>(carry));
        }
    });
}

void KsTimestamp::AddMinutes(int minutes) {
    KsCallpath("AddMinutes()", kTimestampClass, [&] {
        std::int64_t carry =
            AddWithCarry(GetMinute(), minutes, 60, [&](std::uint16_t v) { SetMinute(v); });
        if (carry != 0) {
            AddHours(static_cast<int>(carry));
        }
    });
}

void KsTimestamp::AddHours(int hours) {
    KsCallpath("AddHours()", kTimestampClass, [&] {
        std::int64_t carry =
            AddWithCarry(GetHour(), hours, 24, [&](std::uint16_t v) { SetHour(v); });
        if (carry != 0) {
            SetDayNumber(std::int64_t{GetJulianDayFromCalendarStart()} + carry);
        }
    });
}

void KsTimestamp::SetDayNumber(std::int64_t dayNumber) {
    // Before day 1 or beyond 32 bits there is no date: day 0 raises the year message.
    if (dayNumber < 1 || dayNumber > UINT32_MAX) {
        dayNumber = 0;
    }
    SetJulianDayFromCalendarStart(static_cast<std::uint32_t>(dayNumber));
}

void KsTimestamp::Now(bool withoutMilliseconds) {
    KsCallpath("Now()", "KsTime", [&] {
        using namespace std::chrono;
        // One reading of the clock for every field.
        auto now = floor<milliseconds>(system_clock::now());
        auto today = floor<days>(now);
        year_month_day date{today};
        hh_mm_ss time{now - today};
        SetYearValue(static_cast<std::uint32_t>(static_cast<int>(date.year())));
        SetMonth(static_cast<std::uint16_t>(static_cast<unsigned>(date.month())));
        SetDay(static_cast<std::uint16_t>(static_cast<unsigned>(date.day())));
        SetHour(static_cast<std::uint16_t>(time.hours().count()));
        SetMinute(static_cast<std::uint16_t>(time.minutes().count()));
        SetSecond(static_cast<std::uint16_t>(time.seconds().count()));
        SetMilliseconds(
            withoutMilliseconds ? 0 : static_cast<std::uint16_t>(time.subseconds().count()));
    });
}

bool KsTimestamp::operator==(const KsTimestamp& other) const {
    return std::memcmp(digits_, other.digits_, sizeof digits_) == 0;
}

std::strong_ordering KsTimestamp::operator<=>(const KsTimestamp& other) const {
    return std::memcmp(digits_, other.digits_, sizeof digits_) <=> 0;
}

const KsTimestampFilter& KsDefaultDateFilter() {
    static const KsTimestampFilter filter("%M %d, %y", KsFilter::kDateFilter);
    return filter;
}

const KsTimestampFilter& KsDefaultTimeFilter() {
    static const KsTimestampFilter filter("%h:%02n:%02s %p", KsFilter::kTimeFilter);
    return filter;
}

namespace {

KsString& AppendFiltered(KsString& out, const KsTimestampFilter& filter,
                         const KsTimestamp& timestamp) {
    return KsCallpath("operator<<", "KsDate", [&]() -> KsString& {
        char buffer[64];
        filter.FilterTimestamp(buffer, sizeof buffer, timestamp);
        return out.Append(buffer);
    });
}

}  // namespace

KsString& operator<<(KsString& out, const KsDate& date) {
    return AppendFiltered(out, KsDefaultDateFilter(), date.GetTimestamp());
}

KsString& operator<<(KsString& out, const KsTime& time) {
    return AppendFiltered(out, KsDefaultTimeFilter(), time.GetTimestamp());
}
