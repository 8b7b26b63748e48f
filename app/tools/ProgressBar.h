#pragma once
// A one-line progress bar on a terminal: percent, bytes done and rate, redrawn at most
// ten times a second and wiped when the run ends.

#include <chrono>
#include <cstdint>
#include <cstdio>

class ProgressBar {
public:
    explicit ProgressBar(std::FILE* terminal) : terminal_(terminal) {}
    ~ProgressBar() { Clear(); }
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void Update(std::uint64_t done, std::uint64_t total);
    void Clear();

private:
    using Clock = std::chrono::steady_clock;
    std::FILE* terminal_;
    Clock::time_point start_ = Clock::now();
    Clock::time_point lastDraw_{};
    bool drawn_ = false;
};

// "12.3 MB" style text of a byte count.
void FormatBytes(char* out, std::size_t size, double bytes);
