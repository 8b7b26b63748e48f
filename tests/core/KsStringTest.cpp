#include "core/KsString.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "core/KsCallpath.h"
#include "support/KsErrorCapture.h"

namespace {

using kstest::CaughtError;
using kstest::ErrorOf;
using kstest::MessageOf;

std::string Text(const KsString& s) {
    return s.GetCString();
}

TEST(KsStringTest, CapacityGrowsInBlocksAndNeverShrinks) {
    KsString s;
    EXPECT_EQ(s.GetCapacity(), 64u);
    s.Copy(std::string(63, 'a').c_str());
    EXPECT_EQ(s.GetCapacity(), 64u);
    s.Append('b');  // one more character in a full 64-byte buffer
    EXPECT_EQ(s.GetCapacity(), 160u);
    s.Copy(std::string(160, 'b').c_str());  // no room for its NUL
    EXPECT_EQ(s.GetCapacity(), 192u);
    s.Copy("x");
    EXPECT_EQ(std::unique_ptr<KsString>(s.Clone())->GetCapacity(), 192u);
    EXPECT_EQ(s.Copy(nullptr).GetLength(), 0u);
    // A long append grows by what it needs plus half of it, at most 1024 beyond.
    for (auto [length, capacity] : {std::pair{100u, 224u}, {5000u, 6112u}}) {
        EXPECT_EQ(KsString().Append(std::string(length, 'y').c_str()).GetCapacity(), capacity);
    }
    KsString r;
    r.ResizeStringBuffer(62);
    EXPECT_EQ(r.GetCapacity(), 64u);
    r.ResizeStringBuffer(63);
    EXPECT_EQ(r.GetCapacity(), 96u);
    EXPECT_EQ(MessageOf([&] { r.ResizeStringBuffer(0); }),
              "lNewLength, value=0, must be greater than 0.");
}

TEST(KsStringTest, AppendsOfNumbersOwnTextAndCommands) {
    KsString s("abc");
    s.Append(s);
    EXPECT_EQ(Text(s), "abc");
    KsString t(std::string(60, 'z').c_str());
    t.Append(t.GetCString() + 50);  // inside the buffer that must grow
    EXPECT_EQ(Text(t), std::string(70, 'z'));

    s << static_cast<long>(-5) << ' ' << 2.5 << ' ' << static_cast<short>(-32768) << ' '
      << static_cast<unsigned short>(65535) << ' ' << 4294967295u << ' ' << true << false
      << StringNewLine << static_cast<KsStringCommand>(7);  // an unknown command adds nothing
    EXPECT_EQ(Text(s), "abc-5 2.500000 -32768 65535 4294967295 truefalse\r\n");
    EXPECT_EQ(Text(s << StringReset), "");
}

TEST(KsStringTest, SubstringFindAndEnds) {
    KsString s("banana");
    EXPECT_EQ(Text(s.GetSubstring(2, -1)) + "|" + Text(s.GetSubstring(1, 3)) + "|" +
                  Text(s.GetSubstring(2, 0)) + Text(s.GetSubstring(6, -1)),
              "nana|ana|");
    EXPECT_EQ(MessageOf([&] { s.GetSubstring(7, -1); }),
              "lStart (value=7) must not be greater than GetLength (value=6)");
    EXPECT_EQ(MessageOf([&] { s.GetSubstring(4, 3); }),
              "Substring length (value=3) must be less than or equal to GetLength (value=6) "
              "minus lStart (value=4).");

    EXPECT_EQ(s.Find('a'), 1u);
    EXPECT_EQ(s.Find('a', 0, true), 5u);
    EXPECT_EQ(s.Find("ana", 0, true), 3u);  // overlapping matches at 1 and 3
    EXPECT_EQ(s.Find(KsString("nan"), 2), 2u);
    EXPECT_EQ(s.Find('z'), 0xFFFFFFFFu);
    EXPECT_EQ(s.Find('a', 6), KsString::npos);
    EXPECT_EQ(ErrorOf([&] { s.Find('a', 7); }),
              "lStart (value=7) is past end of string (length=6) / KsString / ");
    EXPECT_EQ(MessageOf([&] { s.Find(static_cast<const char*>(nullptr)); }),
              "null pointer: sString");

    EXPECT_TRUE(s.BeginsWith("") && s.BeginsWith("banana") && s.EndsWith("nana") &&
                s.EndsWith("banana") && s.EndsWith('a') && KsString("a").EndsWith('a'));
    EXPECT_FALSE(s.BeginsWith("bananas") || s.EndsWith("xbanana") || KsString().EndsWith('a'));
}

TEST(KsStringTest, RemoveTruncateInsert) {
    KsString s("abcdef");
    EXPECT_EQ(MessageOf([&] { s.Remove(5, 2); }),
              "Cannot remove 2 characters starting at position 5 from string of length 6.");
    EXPECT_EQ(Text(s.Remove(0, 0).Remove(1, 2)), "adef");
    EXPECT_EQ(MessageOf([&] { s.Truncate(5); }),
              "ulLength (value=5) must not be greater than string length (value=4).");
    EXPECT_EQ(Text(s.Truncate(4).Truncate(2)), "ad");
    EXPECT_EQ(MessageOf([&] { s.Insert("x", 3); }),
              "lPosition (value=3) is invalid for string of length=2.");
    EXPECT_EQ(MessageOf([&] { s.Insert(nullptr, 0); }), "null pointer: pString");
    s.Insert("bc", 1).Insert('-', 0, 3).Insert('!', 6, 0).Insert('.', 7, 2);
    EXPECT_EQ(Text(s), "---abcd..");
    EXPECT_EQ(s.Insert('\0', 2, 3).GetLength(), 9u);  // NULs are not inserted

    // Growth only when the inserted text does not fit.
    EXPECT_EQ(KsString("abc").Insert(std::string(60, 'x').c_str(), 1).GetCapacity(), 64u);
    KsString grown(std::string(60, 'a').c_str());
    grown.Insert(std::string(10, 'b').c_str(), 30);
    EXPECT_EQ(grown.GetCapacity(), 96u);
    EXPECT_EQ(Text(grown), std::string(30, 'a') + std::string(10, 'b') + std::string(30, 'a'));
}

TEST(KsStringTest, CharactersCaseComparisonAndPrintf) {
    KsString s("a,b,,c");
    EXPECT_EQ(s.GetCharAt(2), 'b');
    EXPECT_EQ(MessageOf([&] { s.GetCharAt(6); }), "index (value=6) is out of range, [0, 5]");
    EXPECT_EQ(MessageOf([&] { KsString().SetCharAt(0, 'x'); }),
              "index (value=0) is out of range, [0, -1]");
    s.SetCharAt(0, 'A');
    EXPECT_EQ(Text(s.RemoveChar(',')), "Abc");
    s.SetCharAt(1, '\0');  // a NUL cuts the string
    EXPECT_EQ(s.GetLength(), 1u);

    KsString c("Ab1\xE9");
    EXPECT_EQ(Text(c.ToUpper()), "AB1\xE9");
    EXPECT_EQ(Text(c.ToLower()), "ab1\xE9");
    EXPECT_TRUE(KsString("abc") == "abc");
    EXPECT_FALSE(KsString("abc") == KsString("abd") || KsString("abc") < KsString("abc"));
    EXPECT_TRUE(KsString("z") < KsString("\xE9"));  // bytes compare as unsigned

    KsString p("hello");
    p.printf("%s world %d", p.GetCString(), 42);  // arguments may point into the string
    EXPECT_EQ(Text(p), "hello world 42");
    p.printf("<%s>", std::string(200, 'q').c_str());
    EXPECT_EQ(Text(p), "<" + std::string(200, 'q') + ">");
    EXPECT_EQ(p.GetCapacity(), 224u);
}

// The family: a handler for KsException& catches every library error, one for
// std::bad_alloc& also a KsMemoryException, and the cancellations share one base.
template <class Base, class... Derived>
constexpr bool kAllDerive = (std::is_base_of_v<Base, Derived> && ...);
static_assert(kAllDerive<std::bad_alloc, KsMemoryException>);
static_assert(
    kAllDerive<KsException, KsMemoryException, KsFileOpenFailedException,
               KsStringTokenizerException, KsRecordActionUnknown, KsIOStreamingException>);
static_assert(kAllDerive<KsCanceledException, KsFileCanceledException, KsIndexBuildCanceled,
                         KsSortCanceledException, KsIOCanceledException, KsCommissionCanceled>);
static_assert(kAllDerive<KsFilterException, KsFilterUninterpretableStringException,
                         KsFilterRegistryException>);

TEST(KsExceptionTest, GenerateFormatsMessageAndClassAndWrapsStandardErrors) {
    KsException e = CaughtError(
        [] { KsException::Generate("File \"%s\" has %d records", "KsFile", "a.dat", 12); });
    EXPECT_EQ(ErrorOf([&] { throw e; }), "File \"a.dat\" has 12 records / KsFile / ");
    EXPECT_EQ(e.GetLevel(), 0);
    KsException empty(nullptr, nullptr, 0);
    EXPECT_EQ(std::string(empty.GetErrorMessage()) + empty.GetClassName(), "");

    std::runtime_error inner("disk gone");
    EXPECT_EQ(ErrorOf([&] { throw KsException(inner, "Save()", "KsFile"); }),
              "disk gone / KsFile / Save() of KsFile");
    EXPECT_STREQ(KsException(inner, nullptr, nullptr).GetCallpath(), "");
}

// Every member of the family is a std::exception whose what() is its message, so that one
// no library handler catches still says what went wrong; a memory error reaches
// std::exception twice and is caught as std::bad_alloc, with its message too.
TEST(KsExceptionTest, HandlersOfStandardExceptionsSeeTheMessage) {
    auto what = [](const std::exception& error) { return std::string(error.what()); };
    EXPECT_EQ(what(CaughtError([] { KsException::Generate("%d records", "KsFile", 3); })),
              "3 records");
    EXPECT_EQ(what(CaughtError<KsFileException>(
                  [] { KsFileException::Generate("gone", "KsIO", "a.dat"); })),
              "gone");
    EXPECT_EQ(what(CaughtError<KsCommitFailure>(
                  [] { KsException::GenerateAs<KsCommitFailure>("undone", "T"); })),
              "undone");
    EXPECT_EQ(what(CaughtError<KsNotImplementedError>(
                  [] { KsNotImplementedError::Generate("no %s", "KsFile", "sort"); })),
              "no sort");
    const std::bad_alloc& memory = KsMemoryException("Out of memory");
    EXPECT_STREQ(memory.what(), "Out of memory");
}

TEST(KsExceptionTest, CallpathLinesAndTheirHelper) {
    KsException e("m", "C", 0);
    e.AddCallpath("Read()", "KsBlob", nullptr);
    e.AddCallpath("Load()", "KsFile", "x");
    e.AddCallpath(nullptr, nullptr, nullptr);
    EXPECT_STREQ(e.GetCallpath(), "Read() of KsBlob\r\nLoad() of KsFile (x)\r\n");
    KsException f;
    f.AddCallpath(nullptr, "C", "d");
    EXPECT_STREQ(f.GetCallpath(), " of C (d)");

    // The helper adds its line to the same object on the way out, keeping its type.
    auto thrown = CaughtError<KsFileException>([] {
        KsCallpath("Middle()", "B", "detail", [] {
            KsCallpath("Inner()", "A", [] { KsFileException::Generate("boom %d", "A", "f", 1); });
        });
    });
    EXPECT_EQ(ErrorOf([&] { throw thrown; }) + thrown.GetFileName(),
              "boom 1 / A / Inner() of A\r\nMiddle() of B (detail)f");
    EXPECT_THROW(KsCallpath("F()", "X", [] { throw std::runtime_error("plain"); }),
                 std::runtime_error);
    EXPECT_EQ(KsCallpath("F()", "X", [] { return 3; }), 3);
}

TEST(KsExceptionTest, SystemErrorTextAndFamilyVariants) {
    const std::string text = std::strerror(ENOENT);
    errno = ENOENT;
    EXPECT_EQ(ErrorOf([] {
                  KsException::GenerateWithSystemError("Could not lock file --", false, "KsIO");
              }),
              "Could not lock file --" + text + " / KsIO / ");
    errno = ENOENT;
    EXPECT_EQ(MessageOf([] { KsException::GenerateWithSystemError(" (%d)", true, "KsIO", 3); }),
              text + " (3)");

    auto missing = CaughtError<KsNotImplementedError>(
        [] { KsNotImplementedError::Generate("%s not implemented", "KsIO", "Lock"); });
    EXPECT_EQ(missing.GetLevel(), 3);
    EXPECT_STREQ(missing.GetErrorMessage(), "Lock not implemented");
    EXPECT_EQ(ErrorOf<KsCommissionCanceled>([] {
                  KsException::GenerateAs<KsCommissionCanceled>("stopped %d", "KsTransaction", 2);
              }),
              "stopped 2 / KsTransaction / ");
}

}  // namespace
