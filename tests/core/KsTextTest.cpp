#include "core/KsText.h"

#include <gtest/gtest.h>

#include <string_view>

namespace {

using namespace std::string_view_literals;

// Every byte value once: only ASCII counts, whatever the sign of char.
TEST(KsTextTest, CharacterClassesCoverAsciiOnly) {
    int digits = 0, letters = 0, blanks = 0, spacesAndTabs = 0, raised = 0;
    for (int value = 0; value < 256; ++value) {
        char c = static_cast<char>(value);
        digits += KsText::IsDigit(c);
        letters += KsText::IsLetter(c);
        blanks += KsText::IsBlankOrControl(c);
        spacesAndTabs += KsText::IsSpaceOrTab(c);
        raised += KsText::ToUpper(c) != c;
        if (KsText::ToUpper(c) != c) {
            EXPECT_TRUE(KsText::IsLetter(KsText::ToUpper(c))) << value;
        }
    }
    EXPECT_EQ(10, digits);
    EXPECT_EQ(52, letters);
    EXPECT_EQ(33, blanks);  // 0 to 32
    EXPECT_EQ(2, spacesAndTabs);
    EXPECT_EQ(26, raised);
    // The edges of each range, and bytes that are letters in some code page or locale.
    for (char c : "/:@[`{\x7f\x80\xA0\xE9\xFF"sv) {
        EXPECT_FALSE(KsText::IsDigit(c) || KsText::IsLetter(c) || KsText::IsBlankOrControl(c))
            << static_cast<int>(static_cast<unsigned char>(c));
        EXPECT_EQ(c, KsText::ToUpper(c));
    }
    EXPECT_TRUE(KsText::IsDigit('0') && KsText::IsDigit('9'));
    EXPECT_TRUE(KsText::IsLetter('a') && KsText::IsLetter('z') && KsText::IsLetter('A') &&
                KsText::IsLetter('Z'));
    EXPECT_EQ('A', KsText::ToUpper('a'));
    EXPECT_EQ('Z', KsText::ToUpper('z'));
    EXPECT_TRUE(KsText::IsBlankOrControl(' ') && KsText::IsBlankOrControl('\0'));
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
