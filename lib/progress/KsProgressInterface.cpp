#include "progress/KsProgressInterface.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace {

constexpr std::uint32_t kLongestText = 1023;
using TextSetter = void (KsProgressInterface::*)(const char*);

// Formats at most min(maxLength, kLongestText) characters and hands them to `set`.
KS_PRINTF(4, 0)
void SendFormatted(KsProgressInterface& progress, TextSetter set, std::uint32_t maxLength,
                   const char* format, va_list args) {
    char text[kLongestText + 1];
    std::size_t room = std::min(maxLength, kLongestText) + std::size_t{1};
    if (std::vsnprintf(text, room, format, args) < 0) {
        text[0] = '\0';
    }
    (progress.*set)(text);
}

}  // namespace

void KsProgressInterface::SetRange(std::int32_t minimum, std::int32_t maximum) {
    if (minimum < GetMaximum()) {
        SetMinimum(minimum);
        SetMaximum(maximum);
    } else {
        SetMaximum(maximum);
        SetMinimum(minimum);
    }
}

void KsProgressInterface::SetSubRange(std::int32_t start, std::int32_t end) {
    if (start < GetSubRangeEnd()) {
        SetSubRangeStart(start);
        SetSubRangeEnd(end);
    } else {
        SetSubRangeEnd(end);
        SetSubRangeStart(start);
    }
}

void SetTitlef(KsProgressInterface& progress, std::uint32_t maxLength, const char* format, ...) {
    va_list args;
    va_start(args, format);
    SendFormatted(progress, &KsProgressInterface::SetTitle, maxLength, format, args);
    va_end(args);
}

void SetDetailf(KsProgressInterface& progress, std::uint32_t maxLength, const char* format, ...) {
    va_list args;
    va_start(args, format);
    SendFormatted(progress, &KsProgressInterface::SetDetail, maxLength, format, args);
    va_end(args);
}
