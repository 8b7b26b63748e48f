#pragma once
// A timestamp set through its setters, year first, as a caller would set one.

#include <cstdint>

#include "values/KsTimestamp.h"

inline KsTimestamp At(std::uint16_t year, std::uint16_t month, std::uint16_t day,
                      std::uint16_t hour = 0, std::uint16_t minute = 0, std::uint16_t second = 0,
                      std::uint16_t milliseconds = 0) {
    KsTimestamp t;
    t.SetYear(year);
    t.SetMonth(month);
    t.SetDay(day);
    t.SetHour(hour);
    t.SetMinute(minute);
    t.SetSecond(second);
    t.SetMilliseconds(milliseconds);
    return t;
}
