#include <cstring>
#include <string>

#include "core/KsByteOrder.h"
#include "core/KsCallpath.h"
#include "core/KsException.h"
#include "core/KsString.h"
#include "core/KsText.h"
#include "files/KsFileRecord.h"
#include "index/KsRecordKey.h"
#include "index/KsRecordKeyPieces.h"
#include "io/KsStreamInterface.h"
#include "values/KsTimestamp.h"

namespace {

constexpr const char* kClass = "KsRecordKeyDate";

// The date of a day number; a number outside the calendar raises the year message.
KsDate DateOfDay(std::int32_t dayNumber) {
    KsTimestamp timestamp;
    timestamp.SetJulianDayFromCalendarStart(static_cast<std::uint32_t>(dayNumber));
    return KsDate(timestamp);
}

std::int32_t DayOfDate(const KsDate& date) {
    return static_cast<std::int32_t>(date.GetTimestamp().GetJulianDayFromCalendarStart());
}

// The day number of an 8-digit date text YYYYMMDD.
std::int32_t DayOfText(const char* text) {
    std::uint16_t parts[3] = {};
    static constexpr int kWidths[3] = {4, 2, 2};
    const char* at = text;
    for (int part = 0; part < 3; ++part) {
        for (int i = 0; i < kWidths[part]; ++i, ++at) {
            if (!KsText::IsDigit(*at)) {
                KsException::Generate("\"%.8s\" is not a date text of 8 digits", kClass, text);
            }
            parts[part] = static_cast<std::uint16_t>(parts[part] * 10 + (*at - '0'));
        }
    }
    KsTimestamp timestamp;
    timestamp.SetYear(parts[0]);
    timestamp.SetMonth(parts[1]);
    timestamp.SetDay(parts[2]);
    return DayOfDate(KsDate(timestamp));
}

}  // namespace

// Day numbers of the calendar are positive; others (from a stream or a comparable key)
// order as unsigned values, as their comparable keys do.
bool KsRecordKeyDate::IsLessThan(const KsRecordKey& other) const {
    return static_cast<std::uint32_t>(dayNumber_) <
           static_cast<std::uint32_t>(SameClass(*this, other).dayNumber_);
}

bool KsRecordKeyDate::IsEqual(const KsRecordKey& other) const {
    return dayNumber_ == SameClass(*this, other).dayNumber_;
}

void KsRecordKeyDate::GetComparableKey(void* pDest) const {
    KsByteOrder::StoreBig(pDest, static_cast<std::uint32_t>(dayNumber_));
}

void KsRecordKeyDate::SetComparableKey(const void* pSource) {
    dayNumber_ = static_cast<std::int32_t>(KsByteOrder::LoadBig<std::uint32_t>(pSource));
}

void KsRecordKeyDate::GetValue(void* pDest) const {
    KsCallpath("GetValue()", kClass, [&] {
        std::memcpy(pDest, DateOfDay(dayNumber_).GetTimestamp().GetDigits(), 8);
        static_cast<char*>(pDest)[8] = '\0';
    });
}

void KsRecordKeyDate::SetValue(const void* pSource) {
    KsCallpath("SetValue()", kClass,
               [&] { dayNumber_ = DayOfText(static_cast<const char*>(pSource)); });
}

void KsRecordKeyDate::GetValue(KsRecord& record, std::int32_t field) const {
    KsCallpath("GetValue()", kClass, [&] { record.PutDate(field, DateOfDay(dayNumber_)); });
}

void KsRecordKeyDate::SetValue(const KsRecord& record, std::int32_t field) {
    KsCallpath("SetValue()", kClass, [&] {
        KsDate date;
        record.GetDate(field, date);
        dayNumber_ = DayOfDate(date);
    });
}

void KsRecordKeyDate::Read(KsInputStreamInterface& stream) {
    KsCallpath("Read()", kClass, [&] { dayNumber_ = stream.ReadLong(); });
}

void KsRecordKeyDate::Write(KsOutputStreamInterface& stream) const {
    KsCallpath("Write()", kClass, [&] { stream.WriteLong(dayNumber_); });
}

void KsRecordKeyDate::Dump(KsOutputStreamInterface& stream) const {
    KsCallpath("Dump()", kClass, [&] {
        KsString text("D:");
        text << DateOfDay(dayNumber_);
        KsRecordKeyPieces::WriteText(stream, {text.GetCString(), text.GetLength()});
    });
}
