#include "ProgressBar.h"

#include <cstring>

void FormatBytes(char* out, std::size_t size, double bytes) {
    static const char* const units[] = {"B", "kB", "MB", "GB", "TB"};
    int unit = 0;
    while (bytes >= 1000.0 && unit < 4) {
        bytes /= 1000.0;
        ++unit;
    }
    std::snprintf(out, size, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
}

void ProgressBar::Update(std::uint64_t done, std::uint64_t total) {
    const auto now = Clock::now();
    if (drawn_ && now - lastDraw_ < std::chrono::milliseconds(100) && done < total) {
        return;
    }
    lastDraw_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double fraction = total ? static_cast<double>(done) / static_cast<double>(total) : 0.0;
    constexpr int kWidth = 30;
    char bar[kWidth + 1];
    const int filled = static_cast<int>(fraction * kWidth + 0.5);
    for (int i = 0; i < kWidth; ++i) {
        bar[i] = i < filled ? '#' : '-';
    }
    bar[kWidth] = '\0';
    char doneText[32];
    char totalText[32];
    char rateText[32];
    FormatBytes(doneText, sizeof doneText, static_cast<double>(done));
    FormatBytes(totalText, sizeof totalText, static_cast<double>(total));
    FormatBytes(rateText, sizeof rateText, seconds > 0 ? static_cast<double>(done) / seconds : 0.0);
    std::fprintf(terminal_, "\r[%s] %3d%%  %s / %s  %s/s\033[K", bar,
                 static_cast<int>(fraction * 100.0), doneText, totalText, rateText);
    std::fflush(terminal_);
    drawn_ = true;
}

void ProgressBar::Clear() {
    if (drawn_) {
        std::fputs("\r\033[K", terminal_);
        std::fflush(terminal_);
        drawn_ = false;
    }
}
