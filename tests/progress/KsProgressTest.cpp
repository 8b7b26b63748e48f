#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "progress/KsNullProgress.h"
#include "progress/KsProgressInterface.h"
#include "progress/KsSubProgress.h"
#include "support/RecordingProgress.h"

namespace {

using Calls = std::vector<std::string>;
using kstest::RecordingProgress;

// Ranges are set so that the start never passes the end; formatted texts are cut.
TEST(KsProgressTest, RangesAndFormattedTexts) {
    RecordingProgress display;
    display.maximum = 100;
    display.SetRange(200, 300);
    display.SetRange(10, 50);  // 10 is below the maximum of 300
    display.SetRange(50, 60);  // equal to the maximum counts as not below it
    display.subEnd = 10;
    display.SetSubRange(20, 30);
    display.SetSubRange(5, 8);
    EXPECT_EQ(display.calls,
              (Calls{"SetMaximum(300)", "SetMinimum(200)", "SetMinimum(10)", "SetMaximum(50)",
                     "SetMaximum(60)", "SetMinimum(50)", "SetSubRangeEnd(30)",
                     "SetSubRangeStart(20)", "SetSubRangeStart(5)", "SetSubRangeEnd(8)"}));
    display.calls.clear();
    SetTitlef(display, 5, "Indexing %d records...", 1234);
    SetDetailf(display, 64, "Field \"%s\" of \"%s\"", "NAME", "people.dat");
    SetTitlef(display, 0, "gone");
    SetDetailf(display, 5000, "%s", std::string(3000, 'x').c_str());
    EXPECT_EQ(display.calls,
              (Calls{"SetTitle(Index)", "SetDetail(Field \"NAME\" of \"people.dat\")", "SetTitle()",
                     "SetDetail(" + std::string(1023, 'x') + ")"}));
}

TEST(KsProgressTest, NullProgressNeverStopsAndDefaultQueriesFollowTheirBase) {
    KsNullProgress& null = KsNullProgress::Instance();
    EXPECT_EQ(null.GetSubProgress(), &null);
    EXPECT_TRUE(null.ShouldContinue() && null.SetPercent(50));
    null.SetRange(5, 10);
    EXPECT_EQ(std::pair(null.GetMaximum(), null.GetStepSize()), std::pair(0, 1));  // nothing kept

    // A display that keeps only a minimum and a sub-range start: the maximum, the sub-range
    // end and the sub-position follow them by default.
    struct Partial : KsProgressInterface {
        std::int32_t GetMinimum() override { return 7; }
        std::int32_t GetSubRangeStart() override { return 3; }
    } partial;
    EXPECT_EQ(partial.GetMaximum(), 7);
    EXPECT_EQ(std::pair(partial.GetSubRangeEnd(), partial.GetSubPosition()), std::pair(3, 3));
}

TEST(KsProgressTest, SubProgressFillsTheParentsSubRangeThroughItsChild) {
    RecordingProgress parent, child;
    parent.child = &child;
    {
        KsSubProgress part(parent, 5, 99);
        part.SetTitle("t");
        part.SetPosition(4);
        part.SetRange(1, 50);  // the base behaviour, asking and telling the child
        child.stopAtQuestion = 1;
        EXPECT_FALSE(part.ShouldContinue());
        EXPECT_EQ(part.GetMaximum(), 50);
        EXPECT_EQ(child.calls, (Calls{"SetTitle(t)", "SetPosition(4)", "SetMaximum(50)",
                                      "SetMinimum(1)", "ShouldContinue()"}));
    }
    EXPECT_EQ(parent.calls, (Calls{"SetSubRangeEnd(99)", "SetSubRangeStart(5)", "GetSubProgress()",
                                   "ReleaseSubProgress(child)"}));

    // Over the null progress, or a parent without a child, it reports nowhere.
    EXPECT_EQ(KsSubProgress(KsNullProgress::Instance(), 5, 99).GetSubProgress(),
              &KsNullProgress::Instance());
    parent.child = nullptr;
    KsSubProgress orphan(parent, 1, 2);
    orphan.SetPosition(3);
    EXPECT_TRUE(orphan.ShouldContinue() && parent.position == 0);
}

}  // namespace
