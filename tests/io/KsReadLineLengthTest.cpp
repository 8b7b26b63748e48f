// Reading a line takes time in proportion to its length: one long line reads about as
// fast as the same bytes in short lines.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "io/KsIO.h"
#include "support/TempDir.h"

namespace {

// Best of two: the seconds ReadLine(KsString&) takes over the whole file, and the
// length of the longest line it returned.
std::pair<double, std::size_t> ReadAllLines(const std::string& name, std::uint64_t& consumed) {
    double best = 1e9;
    std::size_t longest = 0;
    for (int round = 0; round < 2; ++round) {
        KsIO file(name.c_str(), IO_READ);
        KsString line;
        consumed = 0;
        const auto start = std::chrono::steady_clock::now();
        while (std::uint32_t n = file.ReadLine(line)) {
            consumed += n;
            longest = std::max<std::size_t>(longest, line.GetLength());
        }
        best = std::min(
            best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return {best, longest};
}

TEST(KsReadLineLengthTest, OneLongLineReadsAboutAsFastAsManyShortOnes) {
    kstest::TempDir dir;
    const std::size_t size = 10'000'000;
    std::string text;
    while (text.size() < size) {
        text += "short line\r\n";
    }
    kstest::WriteWholeFile(dir.File("short"), text);
    std::string longLine(size, 'x');
    longLine[size / 2] = ',';
    kstest::WriteWholeFile(dir.File("long"), longLine + "\r\n");

    std::uint64_t consumed = 0;
    const auto [manyShort, shortLength] = ReadAllLines(dir.File("short"), consumed);
    EXPECT_EQ(shortLength, 10u);
    const auto [oneLong, longLength] = ReadAllLines(dir.File("long"), consumed);
    EXPECT_EQ(longLength, size);
    EXPECT_EQ(consumed, size + 2);
    // Time quadratic in the length would make this hundreds of times slower.
    EXPECT_LT(oneLong, 4 * manyShort) << oneLong << " s against " << manyShort << " s";
}

}  // namespace
