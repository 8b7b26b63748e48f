#include "values/KsStringFilter.h"

#include <gtest/gtest.h>

#include <string>

#include "support/MemoryStream.h"
#include "support/KsErrorCapture.h"
#include "ini/KsIniFile.h"
#include "progress/KsNullProgress.h"

namespace {

// The text the picture makes of `text` (or reads back from it), or "message/code" of the
// error raised.
std::string Walk(const char* picture, const char* text, bool unfilter = false) {
    KsStringFilter filter(picture);
    filter.SetMissingString("(none)");
    KsString value(text);
    try {
        unfilter ? filter.UnfilterValue(value) : filter.FilterValue(value);
    } catch (const KsStringException& error) {
        return std::string(error.GetErrorMessage()) + "/" + std::to_string(error.GetErrorCode());
    }
    return value.GetCString();
}

// "[...]" is taken or dropped whole. "*" takes every remaining character, so nothing is
// left for what follows it ("*{#}:*2&"); with no input left its element is applied once
// ("##*#", "#*-"); a repeated literal takes no input and is not repeated for ever ("#*-"
// with "12"). The empty text shows as the missing text.
TEST(KsStringFilter, PicturesShowTheInput) {
    const char* cases[][3] = {{"###-##", "12345", "123-45"},
                              {"###-##", "123", "Filter Error/7"},
                              {"##", "123", "Filter Error/7"},
                              {"&&", "ab", "AB"},
                              {"&&", "a1", "Filter Error/7"},
                              {"?", "1", "Filter Error/7"},
                              {"?!@@;*?", "ab+cd", "aB+c*d"},
                              {"###", "", "(none)"},
                              {"###[-##]", "12345", "123-45"},
                              {"###[-##]", "123", "123"},
                              {"###[-##]", "1234", "Filter Error/7"},
                              {"{[(##)]-#}", "123", "(12)-3"},
                              {"{[(##)]-#}", "3", "-3"},
                              {"*#", "123", "123"},
                              {"*{&}", "ab", "AB"},
                              {"*3#", "123", "123"},
                              {"*3#", "12", "Filter Error/7"},
                              {"*2{&#-}", "a1b2", "A1-B2-"},
                              {"*2&:*{#}", "ab12", "AB:12"},
                              {"*{#}:*2&", "12ab", "Filter Error/7"},
                              {"##*#", "12", "Filter Error/7"},
                              {"#*-", "1", "1-"},
                              {"#*3-", "1", "1---"},
                              {"#*-", "12", "Filter Error/7"}};
    for (const auto& [picture, text, shown] : cases) {
        EXPECT_EQ(shown, Walk(picture, text)) << picture << " " << text;
    }
}

// Literals must match and are dropped; the missing text reads as the empty text.
TEST(KsStringFilter, UnfilteringReadsTheShownTextBack) {
    const char* cases[][3] = {{"###-##", "123-45", "12345"},
                              {"###-##", "123x45", "Unfilter Error/8"},
                              {"###", "12a", "Unfilter Error/8"},
                              {"*{&}", "ab", "ab"},
                              {"###[-##]", "123", "123"},
                              {"###[-##]", "123-45", "12345"},
                              {"##", "123", "Filter Error/7"},
                              {"#;#", "1", "Unfilter Error/8"},
                              {"#;#", "1#", "1"},
                              {"###", "(none)", ""}};
    for (const auto& [picture, text, value] : cases) {
        EXPECT_EQ(value, Walk(picture, text, true)) << picture << " " << text;
    }
}

TEST(KsStringFilter, SyntaxErrorsWithTheirCodes) {
    const std::string deep = std::string(101, '{') + "#" + std::string(101, '}');
    const char* cases[][2] = {{"", "Empty picture string/1"},
                              {"#,#", "Unsupported option/2"},
                              {"##;", "Invalid literal sequence/4"},
                              {"[#", "Invalid optional syntax/5"},
                              {"{}", "Invalid group syntax/3"},
                              {"*-#", "Invalid repeat syntax/6"},
                              // The comma is found before the trailing escape.
                              {",;", "Unsupported option/2"},
                              {"{]#}", "Invalid group syntax/3"},
                              {"{#[}", "Invalid group syntax/3"},
                              {"}#{", "Invalid group syntax/3"},
                              {"{#", "Invalid group syntax/3"},
                              {deep.c_str(), "Invalid group syntax/3"},
                              {"[]#", "Invalid optional syntax/5"},
                              {"#]", "Invalid optional syntax/5"},
                              {"[#][#]", "Invalid optional syntax/5"},
                              {"{#[#}#]", "Invalid optional syntax/5"},
                              {"*{-}", "Invalid repeat syntax/6"},
                              {"*{[#]}", "Invalid repeat syntax/6"},
                              {"*{*#}", "Invalid repeat syntax/6"},
                              {"*0#", "Invalid repeat syntax/6"},
                              {"*65536#", "Invalid repeat syntax/6"},
                              {"#*", "Invalid repeat syntax/6"},
                              {"**#", "Invalid repeat syntax/6"}};
    for (const auto& [picture, error] : cases) {
        KsStringException caught =
            kstest::CaughtError<KsStringException>([&] { KsStringFilter::SyntaxCheck(picture); });
        EXPECT_EQ(error, std::string(caught.GetErrorMessage()) + "/" +
                             std::to_string(caught.GetErrorCode()))
            << picture;
    }
    // Escaped characters count as literals; groups may nest 100 deep.
    const std::string deepest = std::string(100, '{') + "#" + std::string(100, '}');
    for (const char* good : {";,#", ";;", "{;}#}", ";[#", "#*-", "*{*2#}", "*{#}-", "{#}{#}",
                             "*65535#", deepest.c_str()}) {
        EXPECT_NO_THROW(KsStringFilter::SyntaxCheck(good)) << good;
    }
    // A refused picture changes nothing.
    KsStringFilter filter("##");
    EXPECT_THROW(filter.SetPictureString("{}"), KsStringException);
    EXPECT_STREQ("##", filter.GetPictureString());
    KsIniSection section("Field");
    section.SetString("Picture String Filter", "#,#");
    EXPECT_THROW(filter.Read(&section), KsStringException);
    EXPECT_STREQ("##", filter.GetPictureString());
}

// A filter without a picture, as a field may hold one, reads back from both forms it writes.
TEST(KsStringFilter, AFilterWithoutAPictureReadsBackFromItsSectionAndItsStream) {
    KsStringFilter blank;
    blank.SetMissingString("n/a");
    KsIniSection section("Field");
    blank.Write(&section);
    kstest::MemoryStream out;
    blank.Write(out, KsNullProgress::Instance());
    KsStringFilter fromSection("#"), fromStream("#");
    fromSection.Read(&section);
    kstest::MemoryStream in(out.Bytes());
    fromStream.Read(in, KsNullProgress::Instance());
    EXPECT_TRUE(fromSection == blank && fromStream == blank);
    EXPECT_STREQ("", fromStream.GetPictureString());
}

TEST(KsStringFilter, StreamForm) {
    KsStringFilter filter("(###) ###-####");
    filter.SetMissingString(" none ");
    kstest::MemoryStream out;
    filter.Write(out, KsNullProgress::Instance());
    EXPECT_EQ(std::string("\x02\0\0\0\x08\x02\x0f\0\0\0(###) ###-####\0\x07\0\0\0 none \0", 36),
              out.Bytes());
}

}  // namespace
