#pragma once
/// @file

#include <compare>
#include <cstdint>
#include <memory>

/// The digits of every new timestamp: 1 January of year 1, 00:00:00.000.
inline constexpr char kKsDefaultTimestampDigits[] = "00010101000000000";

/// The library's calendar value: a date and a time of day to the millisecond in the
/// proleptic Gregorian calendar, without time zone, held as 17 decimal digits
/// (YYYYMMDDhhmmssmmm). Each setter checks and stores one field. Files and keys store a
/// timestamp as two numbers, its day number (1 is 1 January of year 1) and the
/// milliseconds since midnight; SetJulianDayFromCalendarStart followed by
/// SetTimeInMilliseconds restores it.
///
/// KsDate and KsTime each wrap one timestamp, so that a value can be told apart as a date
/// or as a time of day where it is shown.
///
/// A value out of its range raises a KsException of class "KsTimestamp" naming it
/// ("13 is not a valid month") and leaves the timestamp unchanged.
class KsTimestamp {
public:
    /// The last day number that the four-digit year can hold: 31 December 9999.
    static constexpr std::uint32_t kLastDayNumber = 3652059;

    /// 1 January of year 1, 00:00:00.000.
    KsTimestamp();
    /// @{
    /// Copies the digits.
    KsTimestamp(const KsTimestamp&) = default;
    KsTimestamp& operator=(const KsTimestamp&) = default;
    /// @}
    virtual ~KsTimestamp() = default;
    /// A new timestamp with the same digits, owned by the caller.
    virtual std::unique_ptr<KsTimestamp> Clone() const {
        return std::make_unique<KsTimestamp>(*this);
    }

    /// @{
    /// One field of the date or the time.
    std::uint16_t GetYear() const { return Field(0, 4); }
    std::uint16_t GetMonth() const { return Field(4, 2); }
    std::uint16_t GetDay() const { return Field(6, 2); }
    std::uint16_t GetHour() const { return Field(8, 2); }
    std::uint16_t GetMinute() const { return Field(10, 2); }
    std::uint16_t GetSecond() const { return Field(12, 2); }
    std::uint16_t GetMilliseconds() const { return Field(14, 3); }
    /// @}
    /// The 17 digits.
    const char* GetDigits() const { return digits_; }

    /// Year 0-9999. A year that is not a leap year turns 29 February into 28 February.
    void SetYear(std::uint16_t year);
    /// Month 1-12. A day beyond the new month's length becomes its last day (29 for
    /// February, whatever the year).
    void SetMonth(std::uint16_t month);
    /// Day 1 to the stored month's length; 29 February is accepted in any year, so that a
    /// date can be set day before year.
    void SetDay(std::uint16_t day);
    /// Hour 0-23.
    void SetHour(std::uint16_t hour);
    /// Minute 0-59.
    void SetMinute(std::uint16_t minute);
    /// Second 0-59; at 23:59 up to 99, which makes room for a leap second.
    void SetSecond(std::uint16_t second);
    /// Milliseconds 0-999.
    void SetMilliseconds(std::uint16_t milliseconds);

    /// Day number of the date; a date in year 0 has none and raises an error.
    std::uint32_t GetJulianDayFromCalendarStart() const;
    /// Sets year, month and day from a day number 1 to kLastDayNumber; the time of day is
    /// kept. Any other number raises the year message.
    void SetJulianDayFromCalendarStart(std::uint32_t dayNumber);

    /// The time of day as milliseconds since midnight.
    std::uint32_t GetTimeInMilliseconds() const;
    /// Sets the time of day; 86,400,000 or more raises the hour message.
    void SetTimeInMilliseconds(std::uint32_t milliseconds);

    /// 0 for Sunday through 6 for Saturday.
    std::uint16_t GetDayOfWeek() const;

    /// @{
    /// Add a signed amount, carrying into the larger fields and across days, months and
    /// years. A failure while carrying leaves the smaller fields already changed.
    void AddMilliseconds(int milliseconds);
    void AddSeconds(int seconds);
    void AddMinutes(int minutes);
    void AddHours(int hours);
    /// @}

    /// The current Coordinated Universal Time; the milliseconds are 0 when asked for.
    void Now(bool withoutMilliseconds);

    /// Whether the year has 29 February in the Gregorian calendar.
    static bool IsLeapYear(std::uint32_t year);

    /// Whether the digits are equal.
    bool operator==(const KsTimestamp& other) const;
    /// Chronological order, which is the order of the digits.
    std::strong_ordering operator<=>(const KsTimestamp& other) const;

private:
    std::uint16_t Field(int offset, int width) const;
    void StoreField(int offset, int width, std::uint32_t value);
    /// SetYear for a year worked out in 32 bits, so that a year beyond 65535 is reported
    /// rather than cut to 16 bits.
    void SetYearValue(std::uint32_t year);
    void SetDayNumber(std::int64_t dayNumber);

    char digits_[18];
};

/// A timestamp that stands for a date.
class KsDate {
public:
    KsDate() = default;
    /// The date of `timestamp` (its time of day is kept, and ignored where dates are shown).
    explicit KsDate(const KsTimestamp& timestamp) : timestamp_(timestamp) {}
    virtual ~KsDate() = default;
    /// A copy owned by the caller.
    virtual std::unique_ptr<KsDate> Clone() const { return std::make_unique<KsDate>(*this); }

    /// @{
    /// The timestamp the date wraps.
    KsTimestamp& GetTimestamp() { return timestamp_; }
    const KsTimestamp& GetTimestamp() const { return timestamp_; }
    /// @}
    /// Whether the wrapped timestamps are equal.
    bool operator==(const KsDate& other) const = default;

private:
    KsTimestamp timestamp_;
};

/// A timestamp that stands for a time of day.
class KsTime {
public:
    KsTime() = default;
    /// The time of day of `timestamp` (its date is kept, and ignored where times are shown).
    explicit KsTime(const KsTimestamp& timestamp) : timestamp_(timestamp) {}
    virtual ~KsTime() = default;
    /// A copy owned by the caller.
    virtual std::unique_ptr<KsTime> Clone() const { return std::make_unique<KsTime>(*this); }

    /// @{
    /// The timestamp the time wraps.
    KsTimestamp& GetTimestamp() { return timestamp_; }
    const KsTimestamp& GetTimestamp() const { return timestamp_; }
    /// @}
    /// Whether the wrapped timestamps are equal.
    bool operator==(const KsTime& other) const = default;

private:
    KsTimestamp timestamp_;
};

class KsString;
class KsTimestampFilter;

/// @{
/// The process-wide filters through which dates ("%M %d, %y", as in "Oct 29, 2003") and
/// times ("%h:%02n:%02s %p", as in "4:24:03 pm") are shown. Read-only once made.
const KsTimestampFilter& KsDefaultDateFilter();
const KsTimestampFilter& KsDefaultTimeFilter();
/// @}

/// @{
/// Append the date or the time as the default filters show it.
KsString& operator<<(KsString& out, const KsDate& date);
KsString& operator<<(KsString& out, const KsTime& time);
/// @}
