#include "ini/KsIniFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "platform/KsSystemError.h"
#include "support/FaultInjectingFile.h"
#include "support/KsErrorCapture.h"
#include "support/MemoryStream.h"
#include "support/TempDir.h"

namespace {

using kstest::MessageOf;
using kstest::ReadWholeFile;

// The text form of a section.
std::string Text(KsIniSection& section) {
    kstest::MemoryStream out;
    section.Write(out);
    return out.Bytes();
}

// Writes `content` to a file of the test's directory and returns its name.
std::string MakeFile(const kstest::TempDir& dir, const std::string& content) {
    std::string name = dir.File("test.ini");
    kstest::WriteWholeFile(name, content);
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

// Quoted values keep their blanks and are quoted again; comments stay with the section
// above them; lines before the first section are ignored; sections of the same name keep
// their own lines. Read back and written again, the content is the same.
TEST(KsIniFile, ReadsAndWritesTheTextFormat) {
    kstest::TempDir dir;
    std::string name = MakeFile(dir,
                                "stray=1\n;before any section\n  [First]  \n;about a\na=1\n\nb\n"
                                ";between\n[S]\r\nPadded=\"  word  \"\r\nLetter=\"x\"\r\n"
                                "Quote=\"\"q\"\"\r\nBare= plain text \r\n[First]\nd=4\n");
    KsIniFile file(name.c_str());
    EXPECT_STREQ("4", file.GetSection(2)->GetString("d", ""));
    KsIniSection* section = file.GetSection("S");
    EXPECT_STREQ("  word  ", section->GetString("Padded", ""));
    EXPECT_STREQ("x", section->GetString("Letter", ""));
    EXPECT_STREQ("\"q\"", section->GetString("Quote", ""));
    EXPECT_STREQ("plain text", section->GetString("Bare", ""));
    const std::string written =
        "[First]\r\n;about a\r\na=1\r\nb=\r\n;between\r\n\r\n[S]\r\nPadded=\"  word  \"\r\n"
        "Letter=x\r\nQuote=\"\"q\"\"\r\nBare=plain text\r\n\r\n[First]\r\nd=4\r\n\r\n";
    file.Write(true, IO_READ);
    EXPECT_EQ(written, ReadWholeFile(name));
    KsIniFile again(name.c_str(), true);
    again.Write(true, IO_READ);
    EXPECT_EQ(written, ReadWholeFile(name));
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
    EXPECT_EQ("[S]\r\na=1\r\n;about b\r\n;about c\r\nc=3\r\n;at the end\r\n\r\n", Text(section));
    // Removing the last line hands its comments to the ones after it. An empty value for a
    // missing key adds nothing; null arguments change nothing.
    section.SetString("c", "");
    section.SetString("z", "");
    section.SetString(nullptr, "1");
    section.SetString("a", nullptr);
    EXPECT_EQ("[S]\r\na=1\r\n;about b\r\n;about c\r\n;at the end\r\n\r\n", Text(section));
}

TEST(KsIniSection, NumbersAndTruthValues) {
    KsIniSection section("S");
    std::string numbers, truths;
    for (const char* text :
         {"0x1F", "12a", " -7 ", "0x", "0xFFFFFFFF", "0x100000000", "99999999999", ""}) {
        section.SetString("k", text);
        numbers += std::to_string(section.GetInt("k", 5)) + " ";
    }
    EXPECT_EQ("31 5 -7 5 -1 5 2147483647 5 ", numbers);
    for (const char* text : {"Yes", "2", "1", "TRUE", "0", "x"}) {
        section.SetString("k", text);
        truths += std::to_string(section.GetBool("k", false)) +
                  std::to_string(section.GetBool("k", true));
    }
    EXPECT_EQ("110011110000", truths);
    EXPECT_TRUE(section.GetBool("missing", true));
    section.SetInt("n", -123);
    section.SetBool("flag", false);
    EXPECT_STREQ("-123", section.GetString("n", ""));
    EXPECT_STREQ("false", section.GetString("flag", ""));
}

TEST(KsIniSection, BinaryStringsAndBuffersEndWithNul) {
    KsIniSection section("S");
    const unsigned char bytes[] = {0x00, 0x7F, 0xA5, 0xFF};
    section.SetBinaryString("bin", bytes, 4);
    EXPECT_STREQ("007FA5FF", section.GetString("bin", ""));
    auto binary = [&](const char* key, std::uint16_t size) {
        std::string out(size, '#');
        section.GetBinaryString(key, out.data(), size, '*');
        return out;
    };
    EXPECT_EQ(binary("bin", 5), std::string("\x00\x7F\xA5\xFF\x00", 5));
    EXPECT_EQ("KsIniSection: sReturn string not big enough",
              kstest::ClassAndMessageOf([&] { binary("bin", 4); }));
    section.SetString("lower", "0a");
    EXPECT_EQ("Invalid binary string", MessageOf([&] { binary("lower", 5); }));
    // An odd last digit is not stored; a missing value gives the fill character.
    section.SetString("odd", "41F");
    EXPECT_EQ(binary("odd", 3), std::string("A\0\0", 3));
    EXPECT_EQ(binary("missing", 4), std::string("***\0", 4));

    char out[4];
    section.SetString("k", "abcdef");
    section.GetString("k", "", out, 4);
    EXPECT_STREQ("abc", out);
    section.GetString("none", "dflt", out, 4);
    EXPECT_STREQ("dfl", out);
}

// A section asked for by a name the file does not have is added empty, and sections
// without lines are not written. Write(false) drops the sections never loaded.
TEST(KsIniFile, WritesTheLoadedSectionsThatHaveLines) {
    kstest::TempDir dir;
    std::string name = MakeFile(dir, "[A]\r\na=1\r\n\r\n[B]\r\nb=2\r\n\r\n");
    {
        KsIniFile file(name.c_str(), false, false, IO_READ | IO_WRITE);
        KsIniSection* data = file.GetSection("Data");
        EXPECT_EQ(data, file.GetSection("[data]"));
        EXPECT_EQ(nullptr, file.GetSection(""));
        file.GetSection("B")->SetString("b", "a longer value");
        file.Write(true, IO_READ | IO_WRITE);
        EXPECT_EQ("[A]\r\na=1\r\n\r\n[B]\r\nb=a longer value\r\n\r\n", ReadWholeFile(name));
        // The file is open again for the next write, which may make it shorter.
        file.GetSection("B")->SetString("b", "3");
        data->SetString("k", "v");
        file.Write(true, IO_READ);
        EXPECT_EQ("[A]\r\na=1\r\n\r\n[B]\r\nb=3\r\n\r\n[Data]\r\nk=v\r\n\r\n", ReadWholeFile(name));
    }
    KsIniFile file(name.c_str());
    file.GetSection("B");
    file.Write(false, IO_READ);
    EXPECT_EQ("[B]\r\nb=3\r\n\r\n", ReadWholeFile(name));
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
    EXPECT_EQ("KsIniFile: Section already exists.",
              kstest::ClassAndMessageOf([&] { file.AddSection("OTHER"); }));
    EXPECT_EQ(3, file.GetNumSections());
    EXPECT_EQ("Cannot write sections without a file", MessageOf([&] { file.Write(); }));
}

std::vector<std::string> FilesIn(const kstest::TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

// Nothing is written unless asked; a section without a name stops a write before the file
// is touched.
TEST(KsIniFile, NothingIsWrittenUnlessAskedOrWhenAWriteCannotStart) {
    kstest::TempDir dir;
    std::string name = dir.File("test.ini");
    KsFileException error =
        kstest::CaughtError<KsFileException>([&] { KsIniFile file(name.c_str()); });
    EXPECT_EQ("\"" + name + "\" does not exist.", error.GetErrorMessage());
    EXPECT_EQ(name, error.GetFileName());
    {
        KsIniFile created(name.c_str(), false, true);
        EXPECT_EQ(0, created.GetNumSections());
        created.AddSection("New")->SetString("x", "y");
    }
    EXPECT_EQ("", ReadWholeFile(name));
    kstest::WriteWholeFile(name, "[A]\r\na=1\r\n");
    KsIniFile file(name.c_str());
    file.AddSection("");
    EXPECT_EQ("Cannot write a section which does not have a name.",
              MessageOf([&] { file.Write(false); }));
    EXPECT_EQ(std::vector<std::string>{"test.ini"}, FilesIn(dir));
    EXPECT_EQ("[A]\r\na=1\r\n", ReadWholeFile(name));
    EXPECT_STREQ("1", file.GetSection("A")->GetString("a", ""));
}

std::string RegexQuoted(const std::string& text) {
    return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

// A write that fails at any step (each write, flush, close, rename and delete in turn)
// leaves the file byte for byte as it was and open, leaves no new file beside it, and the
// next write succeeds.
TEST(KsIniFile, WriteFailingAtEachStepLeavesTheFileAsItWas) {
    using kstest::FaultOp;
    kstest::TempDir dir;
    std::string original = "[A]\r\na=1\r\n\r\n[Big]\r\n";
    for (int i = 0; i < 1000; ++i) {
        original += "key" + std::to_string(i) + "=value " + std::to_string(i) + "\r\n";
    }
    std::string name = MakeFile(dir, original);
    auto update = [&](KsIniFile& file) {
        file.GetSection("A")->SetString("a", "2");
        file.Write(true, IO_READ);
    };
    kstest::FaultInjectingFactory counting;
    kstest::FaultPlan clean;
    {
        KsIniFile file(name.c_str(), false, false, IO_READ, counting);
        update(file);
        clean = counting.Plan();
    }
    const std::string updated = ReadWholeFile(name);
    ASSERT_EQ("[A]\r\na=2\r\n\r\n" + original.substr(12) + "\r\n", updated);
    const int windows = clean.Calls(FaultOp::kWrite);
    ASSERT_EQ(windows, static_cast<int>(updated.size() / 8000));
    ASSERT_EQ(1, clean.Calls(FaultOp::kFlush));
    // The new file, the file itself, the new file again once synced.
    ASSERT_EQ(3, clean.Calls(FaultOp::kClose));
    ASSERT_EQ(1, clean.Calls(FaultOp::kSync));
    ASSERT_EQ(1, clean.Calls(FaultOp::kSyncFolder));
    ASSERT_EQ(1, clean.Calls(FaultOp::kRename));
    ASSERT_EQ(0, clean.Calls(FaultOp::kDelete) + clean.Calls(FaultOp::kWriteTo) +
                     clean.Calls(FaultOp::kTruncate));

    const std::string newFile =
        RegexQuoted(dir.Path().string()) + "/test\\.ini\\.ini[A-Za-z0-9]{6}";
    const std::string reason = RegexQuoted(" -- " + KsSystemErrorText(EIO));
    struct Step {
        FaultOp op;
        int nth;
        std::string message;  // a pattern: the new file's name is not known
    };
    auto unableToWrite = [&](std::size_t count, std::size_t offset) {
        return "Unable to write " + std::to_string(count) + " bytes at offset " +
               std::to_string(offset) + " of file \"" + newFile + "\"" + reason;
    };
    std::vector<Step> steps;
    for (int n = 1; n <= windows; ++n) {
        steps.push_back({FaultOp::kWrite, n, unableToWrite(8000, (n - 1) * 8000u)});
    }
    steps.push_back({FaultOp::kFlush, 1, unableToWrite(updated.size() % 8000, windows * 8000u)});
    steps.push_back({FaultOp::kClose, 1, "Unable to close file \"" + newFile + "\"" + reason});
    steps.push_back(
        {FaultOp::kClose, 2, "Unable to close file \"" + RegexQuoted(name) + "\"" + reason});
    steps.push_back({FaultOp::kSync, 1, "Unable to sync \"" + newFile + "\"" + reason});
    steps.push_back({FaultOp::kClose, 3, "Unable to close file \"" + newFile + "\"" + reason});
    steps.push_back(
        {FaultOp::kRename, 1,
         "Unable to rename \"" + newFile + "\" to \"" + RegexQuoted(name) + "\"" + reason});
    for (const Step& step : steps) {
        SCOPED_TRACE(step.message);
        kstest::WriteWholeFile(name, original);
        kstest::FaultInjectingFactory failing;
        failing.Plan().Fail(step.op, step.nth, EIO);
        KsIniFile file(name.c_str(), false, false, IO_READ, failing);
        KsException error = kstest::CaughtError([&] { update(file); });
        EXPECT_TRUE(std::regex_match(error.GetErrorMessage(), std::regex(step.message)))
            << error.GetErrorMessage();
        EXPECT_TRUE(std::string(error.GetCallpath()).ends_with("Write() of KsIniFile"));
        EXPECT_TRUE(original == ReadWholeFile(name));
        EXPECT_EQ(std::vector<std::string>{"test.ini"}, FilesIn(dir));
        update(file);
        EXPECT_TRUE(updated == ReadWholeFile(name));
    }

    // When the new file cannot be deleted either, the first error is the one reported.
    kstest::WriteWholeFile(name, original);
    kstest::FaultInjectingFactory failing;
    failing.Plan().Fail(FaultOp::kRename, 1, EIO);
    failing.Plan().Fail(FaultOp::kDelete, 1, EACCES);
    KsIniFile file(name.c_str(), false, false, IO_READ, failing);
    EXPECT_TRUE(
        std::regex_match(MessageOf([&] { update(file); }), std::regex(steps.back().message)));
    EXPECT_TRUE(original == ReadWholeFile(name));
    EXPECT_EQ(1, failing.Plan().Failures(FaultOp::kDelete));
}

}  // namespace
