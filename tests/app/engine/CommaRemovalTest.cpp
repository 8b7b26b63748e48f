#include "CommaRemoval.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

// What every implementation must give: the text without its commas, and a mask byte per
// group of 8 (the last one for the bytes that make no whole group).
struct Copied {
    std::string text;
    std::vector<std::uint8_t> masks;
};

Copied Reference(const std::string& text) {
    Copied copied;
    copied.masks.assign(text.size() / 8 + 1, 0);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ',') {
            copied.masks[i / 8] = static_cast<std::uint8_t>(copied.masks[i / 8] | 1u << (i % 8));
        } else {
            copied.text += text[i];
        }
    }
    return copied;
}

// Runs the three copies of `how` on `text` into a buffer of exactly the room they are
// promised, with guard bytes on both sides that must stay.
void Check(CommaRemoval how, const std::string& text) {
    const Copied expected = Reference(text);
    const std::string where = std::string(NameOf(how)) + " on " + ::testing::PrintToString(text);
    constexpr std::size_t kGuard = 64;
    std::vector<char> buffer(text.size() + 2 * kGuard, '\x5A');
    char* out = buffer.data() + kGuard;
    auto guardsKept = [&] {
        return std::all_of(buffer.begin(), buffer.begin() + kGuard,
                           [](char c) { return c == '\x5A'; }) &&
               std::all_of(buffer.end() - kGuard, buffer.end(), [](char c) { return c == '\x5A'; });
    };
    ASSERT_EQ(std::string(out, CopyWithoutCommas(text.data(), text.size(), out, how)),
              expected.text)
        << where;
    ASSERT_TRUE(guardsKept()) << where;

    std::vector<std::uint8_t> masks(text.size() / 8 + 1, 0xEE);
    ASSERT_EQ(std::string(out, CopyKeepingCommas(text.data(), text.size(), out, masks.data(), how)),
              expected.text)
        << where;
    if (text.size() % 8 == 0) {
        masks.back() = 0;  // no bytes of a last group: its mask is not written
    }
    ASSERT_EQ(masks, expected.masks) << where;
    ASSERT_TRUE(guardsKept()) << where;

    bool differs = true;
    CopyComparingCommas(text.data(), text.size(), out, expected.masks.data(), differs, how);
    ASSERT_FALSE(differs) << where;
    // Any one comma elsewhere is seen, wherever it is.
    if (!text.empty()) {
        std::vector<std::uint8_t> moved = expected.masks;
        const std::size_t at = text.size() * 7 / 11;
        moved[at / 8] = static_cast<std::uint8_t>(moved[at / 8] ^ 1u << (at % 8));
        ASSERT_EQ(std::string(out, CopyComparingCommas(text.data(), text.size(), out, moved.data(),
                                                       differs, how)),
                  expected.text)
            << where;
        ASSERT_TRUE(differs) << where;
    }
    ASSERT_TRUE(guardsKept()) << where;
}

TEST(CommaRemovalTest, ThePortableOneIsAlwaysThere) {
    const std::vector<CommaRemoval> supported = SupportedCommaRemovals();
    ASSERT_FALSE(supported.empty());
    EXPECT_EQ(supported.front(), CommaRemoval::kPortable);
    EXPECT_TRUE(IsSupported(ChosenCommaRemoval()));
    for (CommaRemoval how : {CommaRemoval::kPortable, CommaRemoval::kSsse3, CommaRemoval::kAvx2,
                             CommaRemoval::kAvx512}) {
        EXPECT_EQ(ParseCommaRemoval(NameOf(how)), how);
    }
    EXPECT_FALSE(ParseCommaRemoval("avx"));
}

// Every place of up to 3 commas (and every pattern of the first 17 bytes) over lengths
// that end inside and on the edge of each kind of group.
TEST(CommaRemovalTest, EveryImplementationAgreesOnCommasAtTheEdges) {
    for (CommaRemoval how : SupportedCommaRemovals()) {
        std::string text(17, ' ');
        for (unsigned commas = 0; commas < (1u << text.size());
             commas += how == CommaRemoval::kPortable ? 1 : 7) {
            for (std::size_t i = 0; i < text.size(); ++i) {
                text[i] = commas >> i & 1 ? ',' : static_cast<char>('A' + i);
            }
            Check(how, text);
        }
        for (std::size_t length :
             {0, 1, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65, 127, 128, 129, 200}) {
            for (std::size_t at : {std::size_t{0}, length / 2, length - 1}) {
                std::string line(length, 'x');
                if (length > 0) {
                    line[at] = ',';
                    line[length - 1 - at] = ',';
                }
                Check(how, line);
                Check(how, std::string(length, ','));
            }
        }
    }
}

// Random lines: any bytes (NUL, return, line feed, bytes above 127, commas of any density),
// of every length up to a few vectors.
TEST(CommaRemovalTest, EveryImplementationAgreesOnRandomLines) {
    std::mt19937 random(20261208);
    for (int round = 0; round < 20000; ++round) {
        const std::size_t length = random() % 300;
        const auto density = static_cast<unsigned>(random() % 101);
        std::string text(length, '\0');
        for (char& c : text) {
            c = random() % 100 < density ? ',' : static_cast<char>(random() % 256);
        }
        for (CommaRemoval how : SupportedCommaRemovals()) {
            Check(how, text);
        }
    }
}

}  // namespace
