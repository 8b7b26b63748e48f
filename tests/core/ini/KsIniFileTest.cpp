#include "KsIniFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "KsErrorCapture.h"
#include "TempDir.h"

namespace {

using kstest::CaughtError;
using kstest::MessageOf;
using kstest::ReadWholeFile;
using kstest::WriteWholeFile;

// Writes `content` to a file of the test's directory and returns its name.
std::string MakeFile(const kstest::TempDir& dir, const std::string& content) {
    std::string name = dir.File("test.ini");
    WriteWholeFile(name, content);
    return name;
}

TEST(KsIniLine, SplitsAtTheFirstEqualsSign) {
    KsIniLine line(" Key = a=b ");
    EXPECT_STREQ("Key", line.GetKey());
    EXPECT_STREQ(" a=b ", line.GetValue());

    // Without "=" the text is the key and the value stays as it was.
    line.SetLine("  Other  ");
    EXPECT_STREQ("Other", line.GetKey());
    EXPECT_STREQ(" a=b ", line.GetValue());
}

TEST(KsIniFile, QuotedValuesKeepTheirBlanksAndAreQuotedAgain) {
    kstest::TempDir dir;
    std::string name = MakeFile(dir,
                                "[S]\r\n"
                                "Padded=\"  word  \"\r\n"
                                "Letter=\"x\"\r\n"
                                "Quote=\"\"q\"\"\r\n"
                                "Bare= plain text \r\n");
    KsIniFile file(name.c_str(), true);
    KsIniSection* section = file.GetSection("S");
    EXPECT_STREQ("  word  ", section->GetString("Padded", ""));
    EXPECT_STREQ("x", section->GetString("Letter", ""));
    EXPECT_STREQ("\"q\"", section->GetString("Quote", ""));
    EXPECT_STREQ("plain text", section->GetString("Bare", ""));
    file.Write(true, IO_READ);
    EXPECT_EQ(
        "[S]\r\n"
        "Padded=\"  word  \"\r\n"
        "Letter=x\r\n"
        "Quote=\"\"q\"\"\r\n"
        "Bare=plain text\r\n"
        "\r\n",
        ReadWholeFile(name));
}

TEST(KsIniFile, CommentsStayWithTheSectionAboveAndLeadingLinesAreIgnored) {
    kstest::TempDir dir;
    std::string name = MakeFile(dir,
                                "stray=1\n"
                                ";before any section\n"
                                "  [First]  \n"
                                ";about a\n"
                                "a=1\n"
                                "\n"
                                "b\n"
                                ";between\n"
                                "[Second]\n"
                                "c = 3\n");
    KsIniFile file(name.c_str());
    ASSERT_EQ(2, file.GetNumSections());
    KsIniSection* first = file.GetSection(std::int32_t{0});
    EXPECT_STREQ("[First]", first->GetName());
    ASSERT_EQ(2, first->GetNumLines());
    EXPECT_STREQ("b", first->GetLine(1)->GetKey());
    EXPECT_STREQ("", first->GetLine(1)->GetValue());
    ASSERT_EQ(1u, first->GetComments(0).size());
    EXPECT_STREQ("about a", first->GetComments(0)[0].GetCString());
    ASSERT_EQ(1u, first->GetComments(2).size());
    EXPECT_STREQ("between", first->GetComments(2)[0].GetCString());
    EXPECT_EQ(-1, file.GetSectionIndex("stray"));

    file.Write(true, IO_READ);
    std::string expected =
        "[First]\r\n"
        ";about a\r\n"
        "a=1\r\n"
        "b=\r\n"
        ";between\r\n"
        "\r\n"
        "[Second]\r\n"
        "c=3\r\n"
        "\r\n";
    EXPECT_EQ(expected, ReadWholeFile(name));

    // Read back and written again, the content is the same.
    KsIniFile again(name.c_str(), true);
    again.Write(true, IO_READ);
    EXPECT_EQ(expected, ReadWholeFile(name));
}

TEST(KsIniSection, EmptyValueRemovesTheLineAndItsCommentsMoveOn) {
    KsIniSection section("S");
    section.SetString("a", "1");
    section.SetString("b", "2");
    section.SetString("c", "3");
    section.AddComment(1, "about b");
    section.AddComment(2, "about c");
    section.AddComment(3, "at the end");

    section.SetString("B", "");
    ASSERT_EQ(2, section.GetNumLines());
    EXPECT_EQ(-1, section.FindKey("b"));
    ASSERT_EQ(2u, section.GetComments(1).size());
    EXPECT_STREQ("about b", section.GetComments(1)[0].GetCString());
    EXPECT_STREQ("about c", section.GetComments(1)[1].GetCString());
    EXPECT_STREQ("at the end", section.GetComments(2)[0].GetCString());

    // Removing the last line hands its comments to the ones after it.
    section.SetString("c", "");
    ASSERT_EQ(1, section.GetNumLines());
    ASSERT_EQ(3u, section.GetComments(1).size());
    EXPECT_STREQ("at the end", section.GetComments(1)[2].GetCString());

    // An empty value for a missing key adds nothing; null arguments change nothing.
    section.SetString("z", "");
    section.SetString(nullptr, "1");
    section.SetString("a", nullptr);
    EXPECT_EQ(1, section.GetNumLines());
    EXPECT_STREQ("1", section.GetString("a", "d"));
}

TEST(KsIniSection, GetIntReadsDecimalHexadecimalOrTheDefault) {
    KsIniSection section("S");
    section.SetString("hex", "0x1F");
    section.SetString("mixed", "12a");
    section.SetString("negative", " -7 ");
    section.SetString("bare0x", "0x");
    section.SetString("big", "0xFFFFFFFF");
    section.SetString("huge", "99999999999");
    EXPECT_EQ(31, section.GetInt("hex", 5));
    EXPECT_EQ(5, section.GetInt("mixed", 5));
    EXPECT_EQ(-7, section.GetInt("negative", 5));
    EXPECT_EQ(5, section.GetInt("bare0x", 5));
    EXPECT_EQ(-1, section.GetInt("big", 5));
    EXPECT_EQ(2147483647, section.GetInt("huge", 5));
    EXPECT_EQ(5, section.GetInt("missing", 5));

    section.SetInt("n", -123);
    EXPECT_STREQ("-123", section.GetString("n", ""));
}

TEST(KsIniSection, GetBoolAcceptsTrueYesAndOne) {
    KsIniSection section("S");
    section.SetString("yes", "Yes");
    section.SetString("two", "2");
    section.SetString("one", "1");
    section.SetString("word", "TRUE");
    EXPECT_TRUE(section.GetBool("yes", false));
    EXPECT_FALSE(section.GetBool("two", true));
    EXPECT_TRUE(section.GetBool("one", false));
    EXPECT_TRUE(section.GetBool("word", false));
    EXPECT_TRUE(section.GetBool("missing", true));
    section.SetBool("flag", false);
    EXPECT_STREQ("false", section.GetString("flag", ""));
}

TEST(KsIniSection, BinaryStringsRoundTripAndReportBadInput) {
    KsIniSection section("S");
    const unsigned char bytes[] = {0x00, 0x7F, 0xA5, 0xFF};
    section.SetBinaryString("bin", bytes, 4);
    EXPECT_STREQ("007FA5FF", section.GetString("bin", ""));

    char out[6];
    section.GetBinaryString("bin", out, 5, '*');
    EXPECT_EQ(0, std::memcmp(out, "\x00\x7F\xA5\xFF\x00", 5));

    KsException tooSmall = CaughtError([&] { section.GetBinaryString("bin", out, 4, '*'); });
    EXPECT_STREQ("sReturn string not big enough", tooSmall.GetErrorMessage());
    EXPECT_STREQ("KsIniSection", tooSmall.GetClassName());

    section.SetString("lower", "0a");
    EXPECT_EQ("Invalid binary string",
              MessageOf([&] { section.GetBinaryString("lower", out, 5, '*'); }));

    // An odd last digit is not stored; a missing value gives the fill character.
    section.SetString("odd", "41F");
    section.GetBinaryString("odd", out, 3, '*');
    EXPECT_EQ(0, std::memcmp(out, "A\0\0", 3));
    section.GetBinaryString("missing", out, 4, '*');
    EXPECT_EQ(0, std::memcmp(out, "***\0", 4));
}

TEST(KsIniSection, GetStringIntoABufferCutsAndEndsWithNul) {
    KsIniSection section("S");
    section.SetString("k", "abcdef");
    char out[4] = {'x', 'x', 'x', 'x'};
    section.GetString("k", "", out, 4);
    EXPECT_STREQ("abc", out);
    section.GetString("none", "dflt", out, 4);
    EXPECT_STREQ("dfl", out);
}

TEST(KsIniFile, MissingSectionIsAddedButNotWritten) {
    kstest::TempDir dir;
    std::string name = MakeFile(dir, "[S]\r\na=1\r\n");
    KsIniFile file(name.c_str());
    KsIniSection* data = file.GetSection("Data");
    ASSERT_NE(nullptr, data);
    EXPECT_STREQ("[Data]", data->GetName());
    EXPECT_EQ(data, file.GetSection("[data]"));
    EXPECT_EQ(nullptr, file.GetSection(""));
    file.Write(true, IO_READ);
    EXPECT_EQ("[S]\r\na=1\r\n\r\n", ReadWholeFile(name));

    data->SetString("k", "v");
    file.Write(true, IO_READ);
    EXPECT_EQ("[S]\r\na=1\r\n\r\n[Data]\r\nk=v\r\n\r\n", ReadWholeFile(name));
}

TEST(KsIniFile, WriteWithoutLoadingDropsUnloadedSections) {
    kstest::TempDir dir;
    std::string name = MakeFile(dir, "[A]\r\na=1\r\n\r\n[B]\r\nb=2\r\n\r\n");
    {
        KsIniFile file(name.c_str());
        file.GetSection("B")->SetString("b", "3");
        file.Write(true, IO_READ);
        EXPECT_EQ("[A]\r\na=1\r\n\r\n[B]\r\nb=3\r\n\r\n", ReadWholeFile(name));
    }
    {
        KsIniFile file(name.c_str());
        file.GetSection("B");
        file.Write(false, IO_READ);
        EXPECT_EQ("[B]\r\nb=3\r\n\r\n", ReadWholeFile(name));
    }
}

TEST(KsIniFile, UnsavedChangesAreLostAndTheFileStaysUntouched) {
    kstest::TempDir dir;
    std::string content = "[A]\r\na=1\r\n";
    std::string name = MakeFile(dir, content);
    {
        KsIniFile file(name.c_str(), true);
        file.GetSection("A")->SetString("a", "2");
        file.AddSection("New")->SetString("x", "y");
    }
    EXPECT_EQ(content, ReadWholeFile(name));
}

TEST(KsIniFile, SectionsOfTheSameNameKeepTheirOwnLines) {
    kstest::TempDir dir;
    std::string name = MakeFile(dir, "[A]\na=1\n[A]\na=2\n[B]\nb=1\n");
    KsIniFile file(name.c_str());
    ASSERT_EQ(3, file.GetNumSections());
    EXPECT_STREQ("2", file.GetSection(std::int32_t{1})->GetString("a", ""));
    EXPECT_STREQ("1", file.GetSection(std::int32_t{0})->GetString("a", ""));
    file.Write(true, IO_READ);
    EXPECT_EQ("[A]\r\na=1\r\n\r\n[A]\r\na=2\r\n\r\n[B]\r\nb=1\r\n\r\n", ReadWholeFile(name));
}

TEST(KsIniFile, SectionIndexMatchesWithoutCaseAndByPrefix) {
    KsIniFile file;
    file.AddSection("Format=Age");
    file.AddSection("Format=Sex");
    file.AddSection("[Other]");
    EXPECT_EQ(1, file.GetSectionIndex("format=sex"));
    EXPECT_EQ(0, file.GetSectionIndex("Format=", 0, true));
    EXPECT_EQ(1, file.GetSectionIndex("[Format=]", 1, true));
    EXPECT_EQ(-1, file.GetSectionIndex("Format=", 2, true));
    EXPECT_EQ(-1, file.GetSectionIndex("Format="));
    EXPECT_EQ(-1, file.GetSectionIndex(nullptr));

    KsException exists = CaughtError([&] { file.AddSection("OTHER"); });
    EXPECT_STREQ("Section already exists.", exists.GetErrorMessage());
    EXPECT_STREQ("KsIniFile", exists.GetClassName());
    EXPECT_EQ(3, file.GetNumSections());
}

TEST(KsIniFile, FailuresNameTheFileOrTheMissingFile) {
    kstest::TempDir dir;
    std::string missing = dir.File("none.ini");
    KsFileException error =
        CaughtError<KsFileException>([&] { KsIniFile file(missing.c_str(), false, false); });
    EXPECT_EQ("\"" + missing + "\" does not exist.", error.GetErrorMessage());
    EXPECT_EQ(missing, error.GetFileName());

    KsIniFile created(missing.c_str(), false, true);
    EXPECT_EQ(0, created.GetNumSections());
    EXPECT_EQ("", ReadWholeFile(missing));

    KsIniFile memory;
    EXPECT_EQ("Cannot write sections without a file", MessageOf([&] { memory.Write(); }));
    KsIniSection unnamed;
    unnamed.SetString("k", "v");
    kstest::TempDir other;
    KsIO io(other.File("x").c_str(), IO_WRITE | IO_CREATE);
    EXPECT_EQ("Cannot write a section which does not have a name.",
              MessageOf([&] { unnamed.Write(io); }));
    EXPECT_EQ("Index 4 out of range; array is from 0 to 0", MessageOf([&] { unnamed.GetLine(4); }));
}

TEST(KsIniFile, WriteKeepsTheFileUsableAndReopensIt) {
    kstest::TempDir dir;
    std::string name = MakeFile(dir, "[A]\r\na=1\r\n");
    KsIniFile file(name.c_str(), false, false, IO_READ | IO_WRITE);
    file.GetSection("A")->SetString("a", "a much longer value than before");
    file.Write(true, IO_READ | IO_WRITE);
    file.GetSection("A")->SetString("a", "2");
    file.Write(true, IO_READ);
    EXPECT_EQ("[A]\r\na=2\r\n\r\n", ReadWholeFile(name));
}

}  // namespace
