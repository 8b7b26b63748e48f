#include "KsStringTokenizer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "KsAlloc.h"

namespace {

// Every token that is left, in order.
std::vector<std::string> Drain(KsStringTokenizer& tokenizer) {
    std::vector<std::string> tokens;
    while (tokenizer.GetNumTokens() > 0) {
        tokens.emplace_back(tokenizer.GetNextToken()->GetCString());
    }
    return tokens;
}

std::vector<std::string> Split(const char* text, const char* delimiter,
                               const char* groupBegin = nullptr, bool keepGroup = false,
                               const char* groupEnd = nullptr, bool keepSpaces = false) {
    KsStringTokenizer tokenizer(text, delimiter, groupBegin, keepGroup, groupEnd, keepSpaces);
    return Drain(tokenizer);
}

using Tokens = std::vector<std::string>;

const char* const kNoGroupEnd =
    "A group token has no end delimeter.\nCannot retrieve token as specified.\nPlease correct.\n\n";

TEST(KsStringTokenizerTest, EmptyTokensAtEndBetweenDelimitersAndForEmptyText) {
    EXPECT_EQ(Split("a;b;", ";"), (Tokens{"a", "b", ""}));
    EXPECT_EQ(Split("a;;b", ";"), (Tokens{"a", "", "b"}));
    EXPECT_EQ(Split(";", ";"), (Tokens{"", ""}));
    EXPECT_EQ(Split("", ";"), (Tokens{""}));
    EXPECT_EQ(Split(nullptr, ";"), (Tokens{""}));
}

TEST(KsStringTokenizerTest, MultiCharacterDelimiterMustOccurWhole) {
    EXPECT_EQ(Split("a::b:c::", "::"), (Tokens{"a", "b:c", ""}));
    EXPECT_EQ(Split("a, b,c", ", "), (Tokens{"a", "b,c"}));
}

TEST(KsStringTokenizerTest, CountsDownAndFailsPastTheLastToken) {
    KsStringTokenizer tokenizer("a;b;", ";");
    EXPECT_EQ(tokenizer.GetNumTokens(), 3u);
    EXPECT_STREQ(tokenizer.GetNextToken()->GetCString(), "a");
    EXPECT_EQ(tokenizer.GetNumTokens(), 2u);
    tokenizer.GetNextToken();
    tokenizer.GetNextToken();
    EXPECT_EQ(tokenizer.GetNumTokens(), 0u);
    try {
        tokenizer.GetNextToken();
        FAIL() << "no error past the last token";
    } catch (const KsException& e) {
        EXPECT_STREQ(e.GetErrorMessage(), "Index 3 out of range; array is from 0 to 2");
        EXPECT_STREQ(e.GetClassName(), "KsVector");
    }
    // The failed call handed nothing out, so the count does not wrap around.
    EXPECT_EQ(tokenizer.GetNumTokens(), 0u);
}

TEST(KsStringTokenizerTest, LeadingSpacesSkippedUnlessKeptTrailingSpacesStay) {
    EXPECT_EQ(Split("  a ; b;   ", ";"), (Tokens{"a ", "b", ""}));
    EXPECT_EQ(Split("  a ; b", ";", nullptr, false, nullptr, true), (Tokens{"  a ", " b"}));
    // Only the space character is skipped.
    EXPECT_EQ(Split("\ta; \tb", ";"), (Tokens{"\ta", "\tb"}));
}

TEST(KsStringTokenizerTest, QuotedGroupIsOneTokenWithoutItsQuotes) {
    KsStringTokenizer tokenizer("\"x;y\";z", ";", "\"");
    EXPECT_EQ(tokenizer.GetTokenStart(0), 1);
    EXPECT_EQ(tokenizer.GetTokenStart(1), 6);
    EXPECT_EQ(Drain(tokenizer), (Tokens{"x;y", "z"}));

    EXPECT_EQ(Split("a; \"b;c\"", ";", "\""), (Tokens{"a", "b;c"}));
    EXPECT_EQ(Split("\"\";x", ";", "\""), (Tokens{"", "x"}));
}

TEST(KsStringTokenizerTest, KeptGroupDelimitersStayInTheToken) {
    KsStringTokenizer tokenizer("\"x;y\";z", ";", "\"", true);
    EXPECT_EQ(tokenizer.GetTokenStart(0), 0);
    EXPECT_EQ(Drain(tokenizer), (Tokens{"\"x;y\"", "z"}));
    EXPECT_EQ(Split("(a;b);c", ";", "(", true, ")"), (Tokens{"(a;b)", "c"}));
}

TEST(KsStringTokenizerTest, TextBehindGroupEndIsDropped) {
    EXPECT_EQ(Split("\"x\"junk;z", ";", "\""), (Tokens{"x", "z"}));
    EXPECT_EQ(Split("\"x\"junk;z", ";", "\"", true), (Tokens{"\"x\"", "z"}));
    EXPECT_EQ(Split("\"x\"junk", ";", "\""), (Tokens{"x"}));
}

TEST(KsStringTokenizerTest, SeparateGroupEndAndUngroupedTokens) {
    EXPECT_EQ(Split("[a;b];c[d;[e;f]", ";", "[", false, "]"), (Tokens{"a;b", "c[d", "e;f"}));
    // A group begin inside a token does not start a group.
    EXPECT_EQ(Split("x\"y;z\"", ";", "\""), (Tokens{"x\"y", "z\""}));
}

TEST(KsStringTokenizerTest, UnclosedGroupThrowsAndKeepsEarlierTokens) {
    try {
        KsStringTokenizer tokenizer("\"x;y", ";", "\"");
        FAIL() << "no error for an unclosed group";
    } catch (const KsStringTokenizerException& e) {
        EXPECT_STREQ(e.GetErrorMessage(), kNoGroupEnd);
        EXPECT_STREQ(e.GetClassName(), "KsStringTokenizer");
    }

    KsStringTokenizer tokenizer("", ";", "(", false, ")");
    EXPECT_THROW(tokenizer.SetString("a;b;(c;d"), KsStringTokenizerException);
    EXPECT_EQ(Drain(tokenizer), (Tokens{"a", "b"}));
}

TEST(KsStringTokenizerTest, SetStringStartsOver) {
    KsStringTokenizer tokenizer("a;b;c", ";");
    tokenizer.GetNextToken();
    tokenizer.SetString("p;q");
    EXPECT_EQ(tokenizer.GetNumTokens(), 2u);
    EXPECT_EQ(Drain(tokenizer), (Tokens{"p", "q"}));
}

TEST(KsStringTokenizerTest, InvalidArguments) {
    auto messageOf = [](auto body) -> std::string {
        try {
            body();
        } catch (const KsException& e) {
            EXPECT_STREQ(e.GetClassName(), "KsStringTokenizer");
            return e.GetErrorMessage();
        }
        return "no error";
    };
    EXPECT_EQ(messageOf([] { KsStringTokenizer t("a", ";", nullptr, false, ")"); }),
              "Group end delimeter specified without a group begin delimeter.");
    EXPECT_EQ(messageOf([] {
                  KsStringTokenizer t("a", ";");
                  t.SetString(nullptr);
              }),
              "Cannot tokenize null string.");
    EXPECT_EQ(messageOf([] { KsStringTokenizer t("a;b", ""); }),
              "The delimeter must not be empty.");
}

TEST(KsDeblankTest, TrimsBlanksAndControlCharacters) {
    char both[] = " \t\r\nab c\t\r\n ";
    EXPECT_STREQ(KsDeblank(both, true, true), "ab c");
    EXPECT_EQ(KsDeblank(both, true, true), both);

    char left[] = "  x  ", right[] = "  x  ";
    EXPECT_STREQ(KsDeblank(left, true, false), "x  ");
    EXPECT_STREQ(KsDeblank(right, false, true), "  x");

    char blanks[] = " \t \t";
    EXPECT_STREQ(KsDeblank(blanks, true, true), "");

    // Bytes above 127 are letters, not control characters.
    char accented[] = "\xE9t\xE9\xA0";
    EXPECT_STREQ(KsDeblank(accented, true, true), "\xE9t\xE9\xA0");

    try {
        KsDeblank(nullptr, true, true);
        FAIL() << "no error for a null text";
    } catch (const KsException& e) {
        EXPECT_STREQ(e.GetErrorMessage(), "null pointer: sString");
        EXPECT_STREQ(e.GetClassName(), "KsDeblank");
    }
}

TEST(KsCopyStringTest, CopiesWithRoomToSpare) {
    char* text = nullptr;
    char* result = KsCopyString(&text, "abc", 5);
    EXPECT_EQ(result, text);
    EXPECT_STREQ(text, "abc");
    // The room for five more characters is there (the sanitizer build checks the bytes).
    std::strcat(text, "defgh");
    EXPECT_STREQ(text, "abcdefgh");

    KsCopyString(&text, nullptr, 2);
    EXPECT_STREQ(text, "");
    std::strcat(text, "xy");
    EXPECT_STREQ(text, "xy");

    char* same = text;
    EXPECT_EQ(KsCopyString(&text, text, 0), same);
    EXPECT_STREQ(text, "xy");
    delete[] text;
}

TEST(KsCopyStringTest, SourceInsideTheOldTextIsCopiedBeforeRelease) {
    char* text = nullptr;
    KsCopyString(&text, "keep the tail", 0);
    KsCopyString(&text, text + 9, 0);
    EXPECT_STREQ(text, "tail");
    delete[] text;

    try {
        KsCopyString(nullptr, "x", 0);
        FAIL() << "no error for a null target";
    } catch (const KsException& e) {
        EXPECT_STREQ(e.GetErrorMessage(), "null pointer: pDest");
        EXPECT_STREQ(e.GetClassName(), "KsCopyString");
    }
}

}  // namespace
