#include "KsProgressInterface.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace {

constexpr std::uint32_t kLongestText = 1023;

// Formats into `text` (kLongestText + 1 bytes) at most min(maxLength, kLongestText) characters.
KS_PRINTF(3, 0)
void FormatLimited(char* text, std::uint32_t maxLength, const char* format, va_list args) {
    std::size_t room = std::min(maxLength, kLongestText) + std::size_t{1};
    if (std::vsnprintf(text, room, format, args) < 0) {
        text[0] = '\0';
    }
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
    char text[kLongestText + 1];
    va_list args;
    va_start(args, format);
    FormatLimited(text, maxLength, format, args);
    va_end(args);
    progress.SetTitle(text);
}

void SetDetailf(KsProgressInterface& progress, std::uint32_t maxLength, const char* format, ...) {
    char text[kLongestText + 1];
    va_list args;
    va_start(args, format);
    FormatLimited(text, maxLength, format, args);
    va_end(args);
    progress.SetDetail(text);
}
