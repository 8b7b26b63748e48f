#include "values/KsFilter.h"

#include <gtest/gtest.h>

#include <string>

#include "ini/KsIniFile.h"
#include "progress/KsNullProgress.h"
#include "support/KsErrorCapture.h"
#include "support/MemoryStream.h"
#include "support/RecordingProgress.h"
#include "support/TempDir.h"
#include "values/KsNumberFilter.h"
#include "values/KsStringFilter.h"
#include "values/KsTimestampFilter.h"

namespace {

using kstest::CaughtError;
using kstest::MessageOf;

// An application's own filter class, registered under its own name.
class UpperCaseFilter : public KsStringFilter {
public:
    const char* GetRegistryIndex() const override { return "UpperCaseFilter"; }
    std::unique_ptr<KsFilter> Clone() const override {
        return std::make_unique<UpperCaseFilter>(*this);
    }
};

// The stream form of a filter, which holds every setting.
std::string Bytes(const KsFilter& filter) {
    kstest::MemoryStream out;
    filter.Write(out, KsNullProgress::Instance());
    return out.Bytes();
}

TEST(KsFilter, RegistryServesTheFiltersOfTheApplication) {
    UpperCaseFilter upper;
    upper.SetPictureString("*!");
    KsIniSection section("Field");
    KsFilter::WriteRegisteredFilterToIniSection(section, upper, KsNullProgress::Instance());
    auto read = [&](bool strict) {
        return KsFilter::ReadRegisteredFilterFromIniSection(section, strict,
                                                            KsNullProgress::Instance());
    };
    EXPECT_STREQ("The application has not registered the following filter: \"UpperCaseFilter\".",
                 CaughtError<KsFilterRegistryException>([&] { read(true); }).GetErrorMessage());
    EXPECT_EQ(nullptr, read(false));

    KsFilter::RegisterFilter(std::make_unique<UpperCaseFilter>());
    std::unique_ptr<KsFilter> filter = read(true);
    ASSERT_NE(nullptr, dynamic_cast<UpperCaseFilter*>(filter.get()));
    EXPECT_STREQ("*!", static_cast<UpperCaseFilter&>(*filter).GetPictureString());
    EXPECT_EQ(
        "The filter's RegistryIndex (value: \"UpperCaseFilter\") is not unique.\nDeveloper: check "
        "to make sure that the filter's GetRegistryIndex function has been redefined to return "
        "the name of this filter object's actual type.",
        MessageOf([] { KsFilter::RegisterFilter(std::make_unique<UpperCaseFilter>()); }));
    EXPECT_TRUE(KsFilter::UnregisterFilter("UpperCaseFilter"));
    EXPECT_FALSE(KsFilter::UnregisterFilter("UpperCaseFilter"));
    EXPECT_EQ("Cannot register a filter of type, \"NoFilter\"",
              MessageOf([] { KsFilter::RegisterFilter(nullptr); }));

    // A built-in class under another type is no built-in filter; no type is no filter.
    section.SetString("KsFilter.RegistryIndex", "KsNumberFilter");
    EXPECT_THROW(read(true), KsFilterRegistryException);
    KsIniSection empty("Field");
    EXPECT_EQ(nullptr, KsFilter::ReadRegisteredFilterFromIniSection(empty, true,
                                                                    KsNullProgress::Instance()));
    EXPECT_EQ("Unknown filter type 7 / KsFilter / Instantiate() of KsFilter",
              kstest::ErrorOf([] { KsFilter::Instantiate(7); }));
}

// The built-in filters need no registration: their sections name their type code.
TEST(KsFilter, EveryBuiltInFilterReadsBackEqualFromAFileAndFromAStream) {
    KsStringFilter picture("###-##");
    picture.SetMissingString("?");
    KsNumberFilter number;
    number.SetMissingString("--");
    number.SetRoundingVars(-2, 3);
    number.SetNegSignPosition(KsNumberFilter::kSignParentheses);
    number.SetFixWidthVars(true, 12, KsNumberFilter::kFillLeft, ' ');
    number.SetLeadingZero(true);
    number.SetThousandSeparator(true);
    number.SetPrefixVars("EUR ");
    number.SetSuffixVars(" net");
    KsTimestampFilter date("%02d.%02m.%y", KsFilter::kDateFilter);
    KsTimestampFilter time("%y-%02m-%02d %H:%02n", KsFilter::kTimestampFilter);
    const KsFilter* filters[] = {&picture, &number, &date, &time};
    kstest::TempDir dir;
    std::string name = dir.File("table.kss");
    {
        KsIniFile file(name.c_str(), false, true);
        for (int i = 0; i < 4; ++i) {
            kstest::RecordingProgress progress;
            KsFilter::WriteRegisteredFilterToIniSection(*file.GetSection(std::to_string(i).c_str()),
                                                        *filters[i], progress);
            EXPECT_EQ(100, progress.position);
            EXPECT_EQ(5, progress.subStart);
            EXPECT_EQ(99, progress.subEnd);
        }
        file.Write();
    }
    EXPECT_EQ(
        "[0]\r\nFilterType=2\r\nKsFilter.RegistryIndex=KsStringFilter\r\n"
        "Picture String Filter=###-##\r\nMissing String=?\r\n\r\n"
        "[1]\r\nFilterType=3\r\nKsFilter.RegistryIndex=KsNumberFilter\r\nMissing String=--\r\n"
        "Number Of Decimal Places=3\r\nNegative Sign Placement=Parenthesis\r\nFix Width=true\r\n"
        "Fix Width Length=12\r\nFill Char=\" \"\r\nFill Side=Left\r\nRounding Place=-2\r\n"
        "Suppress Zero=false\r\nLeading Zero=true\r\nThousand Separator=true\r\n"
        "Prefix=\"EUR \"\r\nSuffix=\" net\"\r\n\r\n"
        "[2]\r\nFilterType=4\r\nKsFilter.RegistryIndex=KsTimestampFilter\r\n"
        "Date Format String=%02d.%02m.%y\r\n\r\n"
        "[3]\r\nFilterType=6\r\nKsFilter.RegistryIndex=KsTimestampFilter\r\n"
        "Date Format String=%y-%02m-%02d %H:%02n\r\n\r\n",
        kstest::ReadWholeFile(name));

    KsIniFile file(name.c_str());
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        std::unique_ptr<KsFilter> fromFile = KsFilter::ReadRegisteredFilterFromIniSection(
            *file.GetSection(i), true, KsNullProgress::Instance());
        ASSERT_NE(nullptr, fromFile);
        EXPECT_EQ(filters[i]->GetFilterType(), fromFile->GetFilterType());
        EXPECT_EQ(Bytes(*filters[i]), Bytes(*fromFile));
        kstest::MemoryStream stream(Bytes(*filters[i]));
        std::unique_ptr<KsFilter> fromStream = KsFilter::Instantiate(filters[i]->GetFilterType());
        fromStream->Read(stream, KsNullProgress::Instance());
        EXPECT_EQ(Bytes(*filters[i]), Bytes(*fromStream));
    }
}

}  // namespace
