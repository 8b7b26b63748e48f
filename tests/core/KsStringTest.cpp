#include "KsString.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Runs `body` and returns the message of the KsException it throws ("" when none).
template <class Body>
std::string MessageOf(Body body) {
    try {
        body();
    } catch (const KsException& e) {
        EXPECT_STREQ(e.GetClassName(), "KsString");
        return e.GetErrorMessage();
    }
    return "";
}

TEST(KsStringTest, NewStringIsEmptyWith64Bytes) {
    KsString s;
    EXPECT_EQ(s.GetLength(), 0u);
    EXPECT_EQ(s.GetCapacity(), 64u);
    EXPECT_STREQ(s.GetCString(), "");
    KsString c('x');
    EXPECT_STREQ(c.GetCString(), "x");
    EXPECT_EQ(c.GetCapacity(), 64u);
}

TEST(KsStringTest, CopyGrowsOnlyWhenTextDoesNotFitWithItsNul) {
    KsString s;
    s.Copy(std::string(63, 'a').c_str());
    EXPECT_EQ(s.GetCapacity(), 64u);
    EXPECT_EQ(s.GetLength(), 63u);
    s.Copy(std::string(64, 'b').c_str());
    EXPECT_EQ(s.GetCapacity(), 96u);
    EXPECT_EQ(std::string(s.GetCString()), std::string(64, 'b'));
    // The capacity never shrinks.
    s.Copy("x");
    EXPECT_EQ(s.GetCapacity(), 96u);
    s.Copy(nullptr);
    EXPECT_EQ(s.GetLength(), 0u);
}

TEST(KsStringTest, AppendGrowthArithmetic) {
    KsString s(std::string(63, 'a').c_str());
    s.Append('b');
    EXPECT_EQ(s.GetCapacity(), 160u);
    EXPECT_EQ(s.GetLength(), 64u);

    // A long append grows by what it needs plus half of it, at most 1024 beyond.
    KsString t;
    t.Append(std::string(100, 'x').c_str());  // grow = max(64, 100 + 50) -> Resize(214) -> 224
    EXPECT_EQ(t.GetCapacity(), 224u);
    KsString u;
    u.Append(std::string(5000, 'y').c_str());  // grow = 5000 + 1024 -> Resize(6088) -> 6112
    EXPECT_EQ(u.GetCapacity(), 6112u);
    EXPECT_EQ(u.GetLength(), 5000u);
}

TEST(KsStringTest, ResizeStringBufferRoundsToBlocks) {
    KsString s;
    s.ResizeStringBuffer(62);
    EXPECT_EQ(s.GetCapacity(), 64u);
    s.ResizeStringBuffer(63);
    EXPECT_EQ(s.GetCapacity(), 96u);
    EXPECT_EQ(MessageOf([&] { s.ResizeStringBuffer(0); }),
              "lNewLength, value=0, must be greater than 0.");
    EXPECT_EQ(MessageOf([&] { s.ResizeStringBuffer(-3); }),
              "lNewLength, value=-3, must be greater than 0.");
}

TEST(KsStringTest, AppendSelfLeavesStringUnchangedAndOwnTextIsSafe) {
    KsString s("abc");
    s.Append(s);
    EXPECT_STREQ(s.GetCString(), "abc");
    // Appending a text that lies inside the string's own buffer while it must grow.
    KsString t(std::string(60, 'z').c_str());
    t.Append(t.GetCString() + 50);
    EXPECT_EQ(t.GetLength(), 70u);
    EXPECT_EQ(std::string(t.GetCString()), std::string(70, 'z'));
}

TEST(KsStringTest, NumberAppendsTrimAndFormat) {
    KsString s;
    s.Append(static_cast<long>(-5));
    EXPECT_STREQ(s.GetCString(), "-5");
    s.Clear();
    s.Append(2.5);
    EXPECT_STREQ(s.GetCString(), "2.500000");
    s.Clear();
    s << static_cast<short>(-32768) << ' ' << static_cast<unsigned short>(65535) << ' '
      << 4294967295u << ' ' << true << false;
    EXPECT_STREQ(s.GetCString(), "-32768 65535 4294967295 truefalse");
    s << StringNewLine;
    EXPECT_STREQ(s.GetCString(), "-32768 65535 4294967295 truefalse\r\n");
    s << static_cast<KsStringCommand>(7);
    EXPECT_EQ(s.GetLength(), 35u);
    s << StringReset;
    EXPECT_STREQ(s.GetCString(), "");
}

TEST(KsStringTest, SubstringBounds) {
    KsString s("abcdef");
    EXPECT_STREQ(s.GetSubstring(2, -1).GetCString(), "cdef");
    EXPECT_STREQ(s.GetSubstring(1, 3).GetCString(), "bcd");
    EXPECT_STREQ(s.GetSubstring(6, 0).GetCString(), "");
    EXPECT_EQ(MessageOf([&] { s.GetSubstring(7, -1); }),
              "lStart (value=7) must not be greater than GetLength (value=6)");
    EXPECT_EQ(MessageOf([&] { s.GetSubstring(4, 3); }),
              "Substring length (value=3) must be less than or equal to GetLength (value=6) "
              "minus lStart (value=4).");
}

TEST(KsStringTest, FindFirstLastAndOverlapping) {
    KsString s("banana");
    EXPECT_EQ(s.Find('a', 0, true), 5u);
    EXPECT_EQ(s.Find('a'), 1u);
    EXPECT_EQ(s.Find("ana", 0, true), 3u);  // overlapping matches at 1 and 3
    EXPECT_EQ(s.Find("ana", 2, false), 3u);
    EXPECT_EQ(s.Find('z'), KsString::npos);
    EXPECT_EQ(KsString::npos, 0xFFFFFFFFu);
    EXPECT_EQ(s.Find('a', 6), KsString::npos);
    EXPECT_EQ(s.Find(KsString("nan")), 2u);
    EXPECT_EQ(MessageOf([&] { s.Find('a', 7); }), "lStart (value=7) is past end of string (length=6)");
    EXPECT_EQ(MessageOf([&] { s.Find(static_cast<const char*>(nullptr)); }),
              "null pointer: sString");
}

TEST(KsStringTest, BeginsAndEndsWith) {
    KsString s("banana");
    EXPECT_TRUE(s.BeginsWith(""));
    EXPECT_TRUE(s.BeginsWith("ban"));
    EXPECT_FALSE(s.BeginsWith("bananas"));
    EXPECT_TRUE(s.EndsWith("nana"));
    EXPECT_FALSE(s.EndsWith("xbanana"));
    EXPECT_TRUE(s.EndsWith('a'));
    EXPECT_FALSE(KsString().EndsWith('a'));
    EXPECT_EQ(MessageOf([&] { s.EndsWith(static_cast<const char*>(nullptr)); }),
              "null pointer: sString");
    EXPECT_EQ(MessageOf([&] { s.BeginsWith(nullptr); }), "null pointer: sString");
}

TEST(KsStringTest, RemoveTruncateInsertMessages) {
    KsString s("abcdef");
    s.Remove(0, 0);
    EXPECT_STREQ(s.GetCString(), "abcdef");
    EXPECT_EQ(MessageOf([&] { s.Remove(5, 2); }),
              "Cannot remove 2 characters starting at position 5 from string of length 6.");
    s.Remove(1, 2);
    EXPECT_STREQ(s.GetCString(), "adef");
    EXPECT_EQ(MessageOf([&] { s.Truncate(5); }),
              "ulLength (value=5) must not be greater than string length (value=4).");
    s.Truncate(4);
    EXPECT_STREQ(s.GetCString(), "adef");
    s.Truncate(2);
    EXPECT_STREQ(s.GetCString(), "ad");
    EXPECT_EQ(MessageOf([&] { s.Insert("x", 3); }),
              "lPosition (value=3) is invalid for string of length=2.");
    EXPECT_EQ(MessageOf([&] { s.Insert(nullptr, 0); }), "null pointer: pString");
    EXPECT_EQ(MessageOf([&] { s.Append(static_cast<const char*>(nullptr)); }),
              "null pointer: pString");
    s.Insert("bc", 1).Insert('-', 0, 3).Insert('!', 6, 0);
    EXPECT_STREQ(s.GetCString(), "---abcd");
    s.Insert('.', 7, 2);
    EXPECT_STREQ(s.GetCString(), "---abcd..");
}

TEST(KsStringTest, InsertGrowsAndKeepsTail) {
    KsString s(std::string(60, 'a').c_str());
    s.Insert(std::string(10, 'b').c_str(), 30);
    EXPECT_EQ(s.GetCapacity(), 96u);  // Resize(64 + 10) -> 96
    EXPECT_EQ(std::string(s.GetCString()),
              std::string(30, 'a') + std::string(10, 'b') + std::string(30, 'a'));
}

TEST(KsStringTest, CharAccessAndRemoveChar) {
    KsString s("a,b,,c");
    EXPECT_EQ(s.GetCharAt(2), 'b');
    s.SetCharAt(0, 'A');
    EXPECT_EQ(MessageOf([&] { s.GetCharAt(6); }), "index (value=6) is out of range, [0, 5]");
    EXPECT_EQ(MessageOf([&] { KsString().SetCharAt(0, 'x'); }),
              "index (value=0) is out of range, [0, -1]");
    s.RemoveChar(',');
    EXPECT_STREQ(s.GetCString(), "Abc");
    s.SetCharAt(1, '\0');  // a NUL cuts the string
    EXPECT_EQ(s.GetLength(), 1u);
}

TEST(KsStringTest, CaseComparisonAndPrintf) {
    KsString s("Ab1\xE9");
    s.ToUpper();
    EXPECT_STREQ(s.GetCString(), "AB1\xE9");
    s.ToLower();
    EXPECT_STREQ(s.GetCString(), "ab1\xE9");
    EXPECT_TRUE(KsString("abc") == "abc");
    EXPECT_FALSE(KsString("abc") == KsString("abd"));
    EXPECT_TRUE(KsString("abc") < KsString("abd"));
    EXPECT_TRUE(KsString("z") < KsString("\xE9"));  // bytes compare as unsigned

    KsString p("hello");
    p.printf("%s world %d", p.GetCString(), 42);  // arguments may point into the string
    EXPECT_STREQ(p.GetCString(), "hello world 42");
    std::string big(200, 'q');
    p.printf("<%s>", big.c_str());
    EXPECT_EQ(std::string(p.GetCString()), "<" + big + ">");
    EXPECT_EQ(p.GetCapacity(), 224u);  // Resize(203) -> 224
}

TEST(KsStringTest, CopiesAreIndependentAndCloneKeepsCapacity) {
    KsString a(std::string(100, 'a').c_str());
    a.Clear();
    a.Append("x");
    KsString b(a);
    EXPECT_EQ(b.GetCapacity(), a.GetCapacity());
    b.SetCharAt(0, 'y');
    EXPECT_STREQ(a.GetCString(), "x");
    std::unique_ptr<KsString> c(a.Clone());
    EXPECT_EQ(c->GetCapacity(), a.GetCapacity());
    EXPECT_STREQ(c->GetCString(), "x");
    KsString d;
    d = a;  // assignment copies the text, not the capacity
    EXPECT_EQ(d.GetCapacity(), 64u);
    EXPECT_STREQ(d.GetCString(), "x");
}

}  // namespace
