#include "KsStringFilter.h"

#include <gtest/gtest.h>

#include <string>

#include "../io/MemoryStream.h"
#include "KsErrorCapture.h"
#include "KsIniFile.h"
#include "KsNullProgress.h"

namespace {

using kstest::CaughtError;

std::string Filter(const char* picture, const char* text) {
    KsStringFilter filter(picture);
    filter.SetMissingString("(none)");
    KsString value(text);
    filter.FilterValue(value);
    return value.GetCString();
}

std::string Unfilter(const char* picture, const char* text) {
    KsStringFilter filter(picture);
    KsString value(text);
    filter.UnfilterValue(value);
    return value.GetCString();
}

// "message/code" of the picture error that `body` raises.
template <class Body>
std::string ErrorOf(Body body) {
    KsStringException error = CaughtError<KsStringException>(body);
    return std::string(error.GetErrorMessage()) + "/" + std::to_string(error.GetErrorCode());
}

TEST(KsStringFilter, SingleCharactersAndLiterals) {
    EXPECT_EQ("123-45", Filter("###-##", "12345"));
    EXPECT_EQ("AB", Filter("&&", "ab"));
    EXPECT_EQ("Filter Error/7", ErrorOf([] { Filter("&&", "a1"); }));
    EXPECT_EQ("Filter Error/7", ErrorOf([] { Filter("###-##", "123"); }));
    EXPECT_EQ("Filter Error/7", ErrorOf([] { Filter("##", "123"); }));
    EXPECT_EQ("aB+c*d", Filter("?!@@;*?", "ab+cd"));
    EXPECT_EQ("(none)", Filter("###", ""));
}

TEST(KsStringFilter, OptionalPartIsTakenOrDroppedWhole) {
    EXPECT_EQ("123-45", Filter("###[-##]", "12345"));
    EXPECT_EQ("123", Filter("###[-##]", "123"));
    EXPECT_EQ("Filter Error/7", ErrorOf([] { Filter("###[-##]", "1234"); }));
    EXPECT_EQ("(12)-3", Filter("{[(##)]-#}", "123"));
    EXPECT_EQ("-3", Filter("{[(##)]-#}", "3"));
}

TEST(KsStringFilter, Repeats) {
    EXPECT_EQ("123", Filter("*#", "123"));
    EXPECT_EQ("(none)", Filter("*#", ""));
    EXPECT_EQ("AB", Filter("*{&}", "ab"));
    EXPECT_EQ("123", Filter("*3#", "123"));
    EXPECT_EQ("Filter Error/7", ErrorOf([] { Filter("*3#", "12"); }));
    EXPECT_EQ("Filter Error/7", ErrorOf([] { Filter("*3#", "1234"); }));
    EXPECT_EQ("A1-B2-", Filter("*2{&#-}", "a1b2"));
    EXPECT_EQ("AB:12", Filter("*2&:*{#}", "ab12"));
    // An infinite repeat takes every remaining character.
    EXPECT_EQ("Filter Error/7", ErrorOf([] { Filter("*{#}:*2&", "12ab"); }));
    // With no input left, the element is applied once.
    EXPECT_EQ("Filter Error/7", ErrorOf([] { Filter("##*#", "12"); }));
    // A trailing literal repeat shows while input remains, without looping for ever.
    EXPECT_EQ("1---", Filter("#*3-", "1"));
    EXPECT_EQ("1-", Filter("#*-", "1"));
    EXPECT_EQ("Filter Error/7", ErrorOf([] { Filter("#*-", "12"); }));
}

TEST(KsStringFilter, UnfilteringReadsTheShownTextBack) {
    EXPECT_EQ("12345", Unfilter("###-##", "123-45"));
    EXPECT_EQ("Unfilter Error/8", ErrorOf([] { Unfilter("###-##", "123x45"); }));
    EXPECT_EQ("ab", Unfilter("*{&}", "ab"));
    EXPECT_EQ("123", Unfilter("###[-##]", "123"));
    EXPECT_EQ("12345", Unfilter("###[-##]", "123-45"));
    EXPECT_EQ("Filter Error/7", ErrorOf([] { Unfilter("##", "123"); }));
    EXPECT_EQ("Unfilter Error/8", ErrorOf([] { Unfilter("#;#", "1x"); }));
    EXPECT_EQ("1", Unfilter("#;#", "1#"));

    KsStringFilter filter("###");
    filter.SetMissingString("n/a");
    KsString text("n/a");
    filter.UnfilterValue(text);
    EXPECT_STREQ("", text.GetCString());
}

TEST(KsStringFilter, SyntaxErrorsWithTheirCodes) {
    auto check = [](const char* picture) {
        return ErrorOf([&] { KsStringFilter::SyntaxCheck(picture); });
    };
    EXPECT_EQ("Empty picture string/1", check(""));
    EXPECT_EQ("Unsupported option/2", check("#,#"));
    EXPECT_EQ("Invalid literal sequence/4", check("##;"));
    EXPECT_EQ("Invalid optional syntax/5", check("[#"));
    EXPECT_EQ("Invalid group syntax/3", check("{}"));
    EXPECT_EQ("Invalid repeat syntax/6", check("*-#"));
    // Order: the comma is found before the trailing escape.
    EXPECT_EQ("Unsupported option/2", check(",;"));
    EXPECT_EQ("Invalid group syntax/3", check("{]#}"));
    EXPECT_EQ("Invalid group syntax/3", check("{#[}"));
    EXPECT_EQ("Invalid group syntax/3", check("}#{"));
    EXPECT_EQ("Invalid group syntax/3",
              check(std::string(101, '{').append("#").append(101, '}').c_str()));
    EXPECT_EQ("Invalid optional syntax/5", check("[]#"));
    EXPECT_EQ("Invalid optional syntax/5", check("[#][#]"));
    EXPECT_EQ("Invalid optional syntax/5", check("{#[#}#]"));
    EXPECT_EQ("Invalid repeat syntax/6", check("*{-}"));
    EXPECT_EQ("Invalid repeat syntax/6", check("*{[#]}"));
    EXPECT_EQ("Invalid repeat syntax/6", check("*{*#}"));
    EXPECT_EQ("Invalid repeat syntax/6", check("*0#"));
    EXPECT_EQ("Invalid repeat syntax/6", check("*65536#"));
    EXPECT_EQ("Invalid repeat syntax/6", check("#*"));
    EXPECT_EQ("Invalid repeat syntax/6", check("**#"));
    // Escaped characters count as literals.
    for (const char* good :
         {";,#", ";;", "{;}#}", ";[#", "#*-", "*{*2#}", "*{#}-", "{#}{#}", "*65535#"}) {
        EXPECT_NO_THROW(KsStringFilter::SyntaxCheck(good)) << good;
    }
    KsStringFilter filter("##");
    EXPECT_THROW(filter.SetPictureString("{}"), KsStringException);
    EXPECT_STREQ("##", filter.GetPictureString());
}

TEST(KsStringFilter, SectionAndStreamFormsRoundTrip) {
    KsStringFilter filter("(###) ###-####");
    filter.SetMissingString(" none ");
    KsIniSection section("Field");
    filter.Write(&section);
    EXPECT_STREQ("(###) ###-####", section.GetString("Picture String Filter", ""));
    KsStringFilter read;
    read.Read(&section);
    EXPECT_TRUE(read == filter);

    kstest::MemoryStream out;
    filter.Write(out, KsNullProgress::Instance());
    EXPECT_EQ(std::string("\x02\0\0\0\x08\x02\x0f\0\0\0(###) ###-####\0\x07\0\0\0 none \0", 36),
              out.Bytes());
    kstest::MemoryStream in(out.Bytes());
    KsStringFilter streamed;
    streamed.Read(in, KsNullProgress::Instance());
    EXPECT_TRUE(streamed == filter);

    section.SetString("Picture String Filter", "#,#");
    EXPECT_THROW(read.Read(&section), KsStringException);
    EXPECT_TRUE(read == filter);
}

}  // namespace
