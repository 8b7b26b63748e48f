#include "core/KsText.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

using namespace std::string_view_literals;

// Every byte value once, in order: only ASCII counts, whatever the sign of char.
TEST(KsTextTest, CharacterClassesAreAsciiOnly) {
    std::string digits, letters, raised, blanks, spacesAndTabs;
    for (int value = 0; value < 256; ++value) {
        char c = static_cast<char>(value);
        digits.append(KsText::IsDigit(c) ? 1 : 0, c);
        letters.append(KsText::IsLetter(c) ? 1 : 0, c);
        raised.append(KsText::ToUpper(c) != c ? 1 : 0, KsText::ToUpper(c));
        blanks.append(KsText::IsBlankOrControl(c) ? 1 : 0, c);
        spacesAndTabs.append(KsText::IsSpaceOrTab(c) ? 1 : 0, c);
    }
    EXPECT_EQ("0123456789", digits);
    EXPECT_EQ("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", letters);
    EXPECT_EQ("ABCDEFGHIJKLMNOPQRSTUVWXYZ", raised);
    ASSERT_EQ(33u, blanks.size());  // 0 to 32
    EXPECT_EQ(' ', blanks.back());
    EXPECT_EQ("\t ", spacesAndTabs);
}

TEST(KsTextTest, TrimmingRules) {
    struct Case {
        std::string_view text;
        std::string_view blanksAndControls;
        std::string_view spacesAndTabs;
    };
    const Case cases[] = {{"", "", ""},
                          {" \t \t", "", ""},
                          {"\t x y \t", "x y", "x y"},
                          // Line ends and other control bytes go only by the first rule.
                          {"\r\n a\tb \x01\x1F", "a\tb", "\r\n a\tb \x01\x1F"},
                          {" \r\n", "", "\r\n"},
                          {"\0a\0"sv, "a", "\0a\0"sv},
                          // DEL and bytes above 127 stay.
                          {" \x7F\xE9 \xA0 ", "\x7F\xE9 \xA0", "\x7F\xE9 \xA0"}};
    for (const Case& c : cases) {
        EXPECT_EQ(c.blanksAndControls, KsText::TrimBlanksAndControls(c.text));
        EXPECT_EQ(c.spacesAndTabs, KsText::TrimSpacesAndTabs(c.text));
    }
    EXPECT_EQ("x  ", KsText::TrimLeft("  x  ", KsText::IsSpaceOrTab));
    EXPECT_EQ("  x", KsText::TrimRight("  x  ", KsText::IsSpaceOrTab));
    EXPECT_EQ("", KsText::TrimLeft("   ", KsText::IsSpaceOrTab));
}

}  // namespace
