#include "KsFilter.h"

#include <gtest/gtest.h>

#include <string>

#include "KsErrorCapture.h"
#include "KsIniFile.h"
#include "KsNullProgress.h"
#include "KsNumberFilter.h"
#include "KsStringFilter.h"
#include "KsTimestampFilter.h"
#include "RecordingProgress.h"
#include "TempDir.h"

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

TEST(KsFilter, InstantiateMakesEachBuiltInType) {
    EXPECT_EQ(nullptr, KsFilter::Instantiate(KsFilter::kNoFilter));
    for (int type = KsFilter::kStringFilter; type <= KsFilter::kTimestampFilter; ++type) {
        std::unique_ptr<KsFilter> filter = KsFilter::Instantiate(type);
        ASSERT_NE(nullptr, filter);
        EXPECT_EQ(type, filter->GetFilterType());
    }
    EXPECT_STREQ("KsStringFilter", KsFilter::Instantiate(2)->GetClassnameCString());
    EXPECT_STREQ("KsNumberFilter", KsFilter::Instantiate(3)->GetRegistryIndex());
    EXPECT_STREQ("KsTimestampFilter", KsFilter::Instantiate(5)->GetClassnameCString());
    KsException error = CaughtError([] { KsFilter::Instantiate(7); });
    EXPECT_STREQ("Unknown filter type 7", error.GetErrorMessage());
    EXPECT_STREQ("KsFilter", error.GetClassName());
    EXPECT_STREQ("Instantiate() of KsFilter", error.GetCallpath());
}

TEST(KsFilter, RegistryMissesAndRegistration) {
    KsIniSection section("Field");
    section.SetInt("FilterType", 2);
    section.SetString("KsFilter.RegistryIndex", "UpperCaseFilter");
    section.SetString("Picture String Filter", "*!");

    KsFilterRegistryException miss = CaughtError<KsFilterRegistryException>([&] {
        KsFilter::ReadRegisteredFilterFromIniSection(section, true, KsNullProgress::Instance());
    });
    EXPECT_STREQ("The application has not registered the following filter: \"UpperCaseFilter\".",
                 miss.GetErrorMessage());
    EXPECT_EQ(nullptr, KsFilter::ReadRegisteredFilterFromIniSection(section, false,
                                                                    KsNullProgress::Instance()));

    KsFilter::RegisterFilter(std::make_unique<UpperCaseFilter>());
    std::unique_ptr<KsFilter> read =
        KsFilter::ReadRegisteredFilterFromIniSection(section, true, KsNullProgress::Instance());
    ASSERT_NE(nullptr, dynamic_cast<UpperCaseFilter*>(read.get()));
    EXPECT_STREQ("*!", static_cast<UpperCaseFilter&>(*read).GetPictureString());

    EXPECT_EQ(
        "The filter's RegistryIndex (value: \"UpperCaseFilter\") is not unique.\nDeveloper: check "
        "to make sure that the filter's GetRegistryIndex function has been redefined to return "
        "the name of this filter object's actual type.",
        MessageOf([] { KsFilter::RegisterFilter(std::make_unique<UpperCaseFilter>()); }));
    EXPECT_TRUE(KsFilter::UnregisterFilter("UpperCaseFilter"));
    EXPECT_FALSE(KsFilter::UnregisterFilter("UpperCaseFilter"));
    EXPECT_EQ("Cannot register a filter of type, \"NoFilter\"",
              MessageOf([] { KsFilter::RegisterFilter(nullptr); }));
}

TEST(KsFilter, SectionsWithoutFilterOrWithBuiltInIndexes) {
    KsIniSection empty("Field");
    EXPECT_EQ(nullptr, KsFilter::ReadRegisteredFilterFromIniSection(empty, true,
                                                                    KsNullProgress::Instance()));

    // What WriteRegisteredFilterToIniSection writes for a built-in filter reads back
    // without any registration.
    KsIniSection section("Field");
    KsNumberFilter number;
    number.SetPrefixVars("#");
    KsFilter::WriteRegisteredFilterToIniSection(section, number, KsNullProgress::Instance());
    EXPECT_STREQ("3", section.GetString("FilterType", ""));
    EXPECT_STREQ("KsNumberFilter", section.GetString("KsFilter.RegistryIndex", ""));
    std::unique_ptr<KsFilter> read =
        KsFilter::ReadRegisteredFilterFromIniSection(section, true, KsNullProgress::Instance());
    ASSERT_NE(nullptr, read);
    EXPECT_TRUE(static_cast<KsNumberFilter&>(*read) == number);

    // A built-in name under another type is no built-in filter.
    section.SetInt("FilterType", 4);
    EXPECT_THROW(
        KsFilter::ReadRegisteredFilterFromIniSection(section, true, KsNullProgress::Instance()),
        KsFilterRegistryException);
}

TEST(KsFilter, WritingReportsProgressAndEveryFilterReadsBackEqual) {
    kstest::TempDir dir;
    std::string name = dir.File("table.kss");
    KsStringFilter picture("###-##");
    picture.SetMissingString("?");
    KsNumberFilter number;
    number.SetFixWidthVars(true, 8, KsNumberFilter::kFillLeft, '0');
    KsTimestampFilter date("%02d.%02m.%y", KsFilter::kDateFilter);
    KsTimestampFilter time("%H:%02n", KsFilter::kTimeFilter);
    const KsFilter* filters[] = {&picture, &number, &date, &time};
    {
        KsIniFile file(name.c_str(), false, true);
        for (int i = 0; i < 4; ++i) {
            kstest::RecordingProgress progress;
            KsFilter::WriteRegisteredFilterToIniSection(
                *file.GetSection(("Field" + std::to_string(i)).c_str()), *filters[i], progress);
            EXPECT_EQ(100, progress.position);
            EXPECT_EQ(5, progress.subStart);
            EXPECT_EQ(99, progress.subEnd);
        }
        file.Write();
    }
    KsIniFile file(name.c_str());
    for (int i = 0; i < 4; ++i) {
        std::unique_ptr<KsFilter> read = KsFilter::ReadRegisteredFilterFromIniSection(
            *file.GetSection(("Field" + std::to_string(i)).c_str()), true,
            KsNullProgress::Instance());
        ASSERT_NE(nullptr, read);
        EXPECT_EQ(filters[i]->GetFilterType(), read->GetFilterType());
        EXPECT_STREQ(filters[i]->GetClassnameCString(), read->GetClassnameCString());
    }
    auto section = [&](int i) { return file.GetSection(("Field" + std::to_string(i)).c_str()); };
    KsStringFilter pictureRead;
    pictureRead.Read(section(0));
    EXPECT_TRUE(pictureRead == picture);
    KsNumberFilter numberRead;
    numberRead.Read(section(1));
    EXPECT_TRUE(numberRead == number);
    auto dateRead =
        KsFilter::ReadRegisteredFilterFromIniSection(*section(2), true, KsNullProgress::Instance());
    EXPECT_TRUE(static_cast<KsTimestampFilter&>(*dateRead) == date);
    auto timeRead =
        KsFilter::ReadRegisteredFilterFromIniSection(*section(3), true, KsNullProgress::Instance());
    EXPECT_TRUE(static_cast<KsTimestampFilter&>(*timeRead) == time);
}

}  // namespace
