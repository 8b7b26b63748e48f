#include "core/KsStringTokenizer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "core/KsText.h"
#include "support/KsErrorCapture.h"

namespace {

using kstest::ErrorOf;
using kstest::MessageOf;
using Tokens = std::vector<std::string>;
using namespace std::string_view_literals;

// Every token that is left, in order.
Tokens Drain(KsStringTokenizer& tokenizer) {
    Tokens tokens;
    while (tokenizer.GetNumTokens() > 0) {
        tokens.emplace_back(tokenizer.GetNextToken()->GetCString());
    }
    return tokens;
}

TEST(KsStringTokenizerTest, Splits) {
    struct Case {
        const char* text;
        const char* delimiter;
        const char* groupBegin;
        bool keepGroup;
        const char* groupEnd;
        bool keepSpaces;
        Tokens tokens;
    };
    const char* q = "\"";
    const Case cases[] = {
        // Empty tokens at the end, between delimiters and for an empty text.
        {"a;b;", ";", nullptr, false, nullptr, false, {"a", "b", ""}},
        {";;b", ";", nullptr, false, nullptr, false, {"", "", "b"}},
        {"", ";", nullptr, false, nullptr, false, {""}},
        {nullptr, ";", nullptr, false, nullptr, false, {""}},
        // A delimiter of several characters must occur whole.
        {"a::b:c::", "::", nullptr, false, nullptr, false, {"a", "b:c", ""}},
        // Leading spaces are skipped unless kept, trailing ones stay; only ' ' is skipped.
        {"  a ; \tb;   ", ";", nullptr, false, nullptr, false, {"a ", "\tb", ""}},
        {"  a ; b", ";", nullptr, false, nullptr, true, {"  a ", " b"}},
        // A quoted group is one token, without its quotes unless they are kept.
        {"a; \"b;c\"", ";", q, false, nullptr, false, {"a", "b;c"}},
        {"\"\";x", ";", q, false, nullptr, false, {"", "x"}},
        {"(a;b);c", ";", "(", true, ")", false, {"(a;b)", "c"}},
        // Text behind the group end is dropped.
        {"\"x\"junk;z", ";", q, false, nullptr, false, {"x", "z"}},
        {"\"x\"junk;z", ";", q, true, nullptr, false, {"\"x\"", "z"}},
        // A group begin inside a token does not start a group.
        {"[a;b];c[d;[e;f]", ";", "[", false, "]", false, {"a;b", "c[d", "e;f"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(null)");
        KsStringTokenizer tokenizer(c.text, c.delimiter, c.groupBegin, c.keepGroup, c.groupEnd,
                                    c.keepSpaces);
        EXPECT_EQ(Drain(tokenizer), c.tokens);
    }
}

TEST(KsStringTokenizerTest, CountsDownRestartsAndRefusesUnclosedGroupsAndBadArguments) {
    KsStringTokenizer tokenizer("a;b;", ";", "(", false, ")");
    EXPECT_EQ(tokenizer.GetNumTokens(), 3u);
    EXPECT_STREQ(tokenizer.GetNextToken()->GetCString(), "a");
    EXPECT_EQ(tokenizer.GetNumTokens(), 2u);
    Drain(tokenizer);
    EXPECT_EQ(ErrorOf([&] { tokenizer.GetNextToken(); }),
              "Index 3 out of range; array is from 0 to 2 / KsVector / ");
    // The failed call handed nothing out, so the count does not wrap around.
    EXPECT_EQ(tokenizer.GetNumTokens(), 0u);
    // SetString starts over; the tokens before an unclosed group are kept.
    EXPECT_THROW(tokenizer.SetString("a;b;(c;d"), KsStringTokenizerException);
    EXPECT_EQ(Drain(tokenizer), (Tokens{"a", "b"}));

    KsStringTokenizer quoted("\"x;y\";z", ";", "\"");
    EXPECT_EQ(quoted.GetTokenStart(0), 1);
    EXPECT_EQ(quoted.GetTokenStart(1), 6);
    EXPECT_EQ(KsStringTokenizer("\"x;y\";z", ";", "\"", true).GetTokenStart(0), 0);
    EXPECT_EQ(ErrorOf<KsStringTokenizerException>([&] { quoted.SetString("\"x;y"); }),
              "A group token has no end delimeter.\nCannot retrieve token as specified.\n"
              "Please correct.\n\n / KsStringTokenizer / ");
    EXPECT_EQ(MessageOf([] { KsStringTokenizer t("a", ";", nullptr, false, ")"); }),
              "Group end delimeter specified without a group begin delimeter.");
    EXPECT_EQ(MessageOf([&] { tokenizer.SetString(nullptr); }), "Cannot tokenize null string.");
    EXPECT_EQ(MessageOf([] { KsStringTokenizer t("a;b", ""); }),
              "The delimeter must not be empty.");
}

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

// KsDeblank trims in place by the first rule.
TEST(KsTextTest, TrimmingRulesAndDeblank) {
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
        std::string text(c.text);
        if (text.find('\0') == std::string::npos) {
            EXPECT_EQ(c.blanksAndControls, KsDeblank(text.data(), true, true));
        }
    }
    char left[] = "  x  ", right[] = "  x  ";
    EXPECT_STREQ(KsDeblank(left, true, false), "x  ");
    EXPECT_EQ(KsDeblank(right, false, true), right);
    EXPECT_STREQ(right, "  x");
    EXPECT_EQ(ErrorOf([] { KsDeblank(nullptr, true, true); }),
              "null pointer: sString / KsDeblank / ");
}

TEST(KsCopyStringTest, CopiesWithRoomToSpareEvenFromItsOwnText) {
    char* text = nullptr;
    EXPECT_EQ(KsCopyString(&text, "abc", 5), text);
    // The room for five more characters is there (the sanitizer build checks the bytes).
    std::strcat(text, "defgh");
    EXPECT_STREQ(text, "abcdefgh");
    KsCopyString(&text, nullptr, 2);
    std::strcat(text, "xy");
    char* same = text;
    EXPECT_EQ(KsCopyString(&text, text, 0), same);
    EXPECT_STREQ(text, "xy");
    KsCopyString(&text, "keep the tail", 0);
    KsCopyString(&text, text + 9, 0);  // copied before the old text is released
    EXPECT_STREQ(text, "tail");
    delete[] text;

    EXPECT_EQ(ErrorOf([] { KsCopyString(nullptr, "x", 0); }),
              "null pointer: pDest / KsCopyString / ");
}

}  // namespace
