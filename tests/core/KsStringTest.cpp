#include "core/KsString.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/KsErrorCapture.h"

namespace {

using kstest::MessageOf;

std::string Text(const KsString& s) {
    return s.GetCString();
}

TEST(KsStringTest, CapacityGrowsInBlocksAndNeverShrinks) {
    KsString s;
    EXPECT_EQ(s.GetLength(), 0u);
    EXPECT_EQ(s.GetCapacity(), 64u);
    EXPECT_EQ(Text(s), "");
    s.Copy(std::string(63, 'a').c_str());
    EXPECT_EQ(s.GetCapacity(), 64u);
    s.Append('b');  // one more character in a full 64-byte buffer
    EXPECT_EQ(s.GetCapacity(), 160u);
    EXPECT_EQ(s.GetLength(), 64u);

    KsString t;
    t.Copy(std::string(64, 'b').c_str());  // no room for its NUL
    EXPECT_EQ(t.GetCapacity(), 96u);
    EXPECT_EQ(Text(t), std::string(64, 'b'));
    t.Copy("x");
    EXPECT_EQ(t.GetCapacity(), 96u);
    t.Copy(nullptr);
    EXPECT_EQ(t.GetLength(), 0u);

    // A long append grows by what it needs plus half of it, at most 1024 beyond.
    for (auto [length, capacity] : {std::pair{100u, 224u}, {5000u, 6112u}}) {
        KsString u;
        u.Append(std::string(length, 'y').c_str());
        EXPECT_EQ(u.GetCapacity(), capacity) << length;
    }
    KsString r;
    r.ResizeStringBuffer(62);
    EXPECT_EQ(r.GetCapacity(), 64u);
    r.ResizeStringBuffer(63);
    EXPECT_EQ(r.GetCapacity(), 96u);
    EXPECT_EQ(MessageOf([&] { r.ResizeStringBuffer(0); }),
              "lNewLength, value=0, must be greater than 0.");
    EXPECT_EQ(MessageOf([&] { r.ResizeStringBuffer(-3); }),
              "lNewLength, value=-3, must be greater than 0.");
}

TEST(KsStringTest, AppendingItsOwnTextIsSafe) {
    KsString s("abc");
    s.Append(s);
    EXPECT_EQ(Text(s), "abc");
    KsString t(std::string(60, 'z').c_str());
    t.Append(t.GetCString() + 50);  // inside the buffer that must grow
    EXPECT_EQ(Text(t), std::string(70, 'z'));
}

TEST(KsStringTest, NumberAppendsAndCommands) {
    KsString s;
    s.Append(static_cast<long>(-5));
    EXPECT_EQ(Text(s), "-5");
    s.Clear();
    s.Append(2.5);
    EXPECT_EQ(Text(s), "2.500000");
    s.Clear();
    s << static_cast<short>(-32768) << ' ' << static_cast<unsigned short>(65535) << ' '
      << 4294967295u << ' ' << true << false << StringNewLine
      << static_cast<KsStringCommand>(7);  // an unknown command adds nothing
    EXPECT_EQ(Text(s), "-32768 65535 4294967295 truefalse\r\n");
    s << StringReset;
    EXPECT_EQ(Text(s), "");
}

TEST(KsStringTest, SubstringAndFind) {
    KsString s("abcdef");
    EXPECT_EQ(Text(s.GetSubstring(2, -1)), "cdef");
    EXPECT_EQ(Text(s.GetSubstring(1, 3)), "bcd");
    EXPECT_EQ(Text(s.GetSubstring(6, 0)), "");
    EXPECT_EQ(MessageOf([&] { s.GetSubstring(7, -1); }),
              "lStart (value=7) must not be greater than GetLength (value=6)");
    EXPECT_EQ(MessageOf([&] { s.GetSubstring(4, 3); }),
              "Substring length (value=3) must be less than or equal to GetLength (value=6) "
              "minus lStart (value=4).");

    KsString b("banana");
    EXPECT_EQ(b.Find('a'), 1u);
    EXPECT_EQ(b.Find('a', 0, true), 5u);
    EXPECT_EQ(b.Find("ana", 0, true), 3u);  // overlapping matches at 1 and 3
    EXPECT_EQ(b.Find("ana", 2, false), 3u);
    EXPECT_EQ(b.Find(KsString("nan")), 2u);
    EXPECT_EQ(b.Find('z'), 0xFFFFFFFFu);
    EXPECT_EQ(b.Find('a', 6), KsString::npos);
    EXPECT_EQ(MessageOf([&] { b.Find('a', 7); }),
              "lStart (value=7) is past end of string (length=6)");
    EXPECT_EQ(MessageOf([&] { b.Find(static_cast<const char*>(nullptr)); }),
              "null pointer: sString");
    EXPECT_STREQ(kstest::CaughtError([&] { b.Find('a', 7); }).GetClassName(), "KsString");

    EXPECT_TRUE(b.BeginsWith("") && b.BeginsWith("ban") && b.EndsWith("nana") && b.EndsWith('a'));
    EXPECT_FALSE(b.BeginsWith("bananas") || b.EndsWith("xbanana") || KsString().EndsWith('a'));
    EXPECT_EQ(MessageOf([&] { b.BeginsWith(nullptr); }), "null pointer: sString");
}

TEST(KsStringTest, RemoveTruncateInsert) {
    KsString s("abcdef");
    s.Remove(0, 0);
    EXPECT_EQ(MessageOf([&] { s.Remove(5, 2); }),
              "Cannot remove 2 characters starting at position 5 from string of length 6.");
    s.Remove(1, 2);
    EXPECT_EQ(Text(s), "adef");
    EXPECT_EQ(MessageOf([&] { s.Truncate(5); }),
              "ulLength (value=5) must not be greater than string length (value=4).");
    s.Truncate(4);
    EXPECT_EQ(Text(s), "adef");
    s.Truncate(2);
    EXPECT_EQ(Text(s), "ad");
    EXPECT_EQ(MessageOf([&] { s.Insert("x", 3); }),
              "lPosition (value=3) is invalid for string of length=2.");
    EXPECT_EQ(MessageOf([&] { s.Insert(nullptr, 0); }), "null pointer: pString");
    EXPECT_EQ(MessageOf([&] { s.Append(static_cast<const char*>(nullptr)); }),
              "null pointer: pString");
    s.Insert("bc", 1).Insert('-', 0, 3).Insert('!', 6, 0).Insert('.', 7, 2);
    EXPECT_EQ(Text(s), "---abcd..");

    KsString grown(std::string(60, 'a').c_str());
    grown.Insert(std::string(10, 'b').c_str(), 30);
    EXPECT_EQ(grown.GetCapacity(), 96u);
    EXPECT_EQ(Text(grown), std::string(30, 'a') + std::string(10, 'b') + std::string(30, 'a'));
}

TEST(KsStringTest, CharactersCaseComparisonAndPrintf) {
    KsString s("a,b,,c");
    EXPECT_EQ(s.GetCharAt(2), 'b');
    s.SetCharAt(0, 'A');
    EXPECT_EQ(MessageOf([&] { s.GetCharAt(6); }), "index (value=6) is out of range, [0, 5]");
    EXPECT_EQ(MessageOf([&] { KsString().SetCharAt(0, 'x'); }),
              "index (value=0) is out of range, [0, -1]");
    s.RemoveChar(',');
    EXPECT_EQ(Text(s), "Abc");
    s.SetCharAt(1, '\0');  // a NUL cuts the string
    EXPECT_EQ(s.GetLength(), 1u);

    KsString c("Ab1\xE9");
    c.ToUpper();
    EXPECT_EQ(Text(c), "AB1\xE9");
    c.ToLower();
    EXPECT_EQ(Text(c), "ab1\xE9");
    EXPECT_TRUE(KsString("abc") == "abc");
    EXPECT_FALSE(KsString("abc") == KsString("abd"));
    EXPECT_TRUE(KsString("z") < KsString("\xE9"));  // bytes compare as unsigned

    KsString p("hello");
    p.printf("%s world %d", p.GetCString(), 42);  // arguments may point into the string
    EXPECT_EQ(Text(p), "hello world 42");
    std::string big(200, 'q');
    p.printf("<%s>", big.c_str());
    EXPECT_EQ(Text(p), "<" + big + ">");
    EXPECT_EQ(p.GetCapacity(), 224u);
}

TEST(KsStringTest, CopiesAreIndependentAndOnlyCopyAndCloneKeepTheCapacity) {
    KsString a(std::string(100, 'a').c_str());
    a.Copy("x");
    KsString b(a);
    EXPECT_EQ(b.GetCapacity(), a.GetCapacity());
    b.SetCharAt(0, 'y');
    EXPECT_EQ(Text(a), "x");
    std::unique_ptr<KsString> c(a.Clone());
    EXPECT_EQ(c->GetCapacity(), a.GetCapacity());
    EXPECT_EQ(Text(*c), "x");
    KsString d;
    d = a;
    EXPECT_EQ(d.GetCapacity(), 64u);
    EXPECT_EQ(Text(d), "x");
}

}  // namespace
