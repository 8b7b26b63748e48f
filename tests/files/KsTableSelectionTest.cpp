#include "files/KsTableSelection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "core/KsException.h"
#include "support/KsErrorCapture.h"

namespace {

// The plain model of a table's selection: the bits of both sets, the walk position and the
// selected count the selection was last known to have.
struct Model {
    std::vector<bool> selection;
    std::vector<bool> second;
    std::int32_t position = 0;
    std::int32_t kept = 0;

    std::int32_t Selected() const {
        return static_cast<std::int32_t>(std::count(selection.begin(), selection.end(), true));
    }
    void SelectAll(std::int32_t count) {
        selection.assign(static_cast<std::size_t>(count), true);
        second.assign(static_cast<std::size_t>(count), true);
        position = 0;
    }
};

void ExpectSame(const Model& model, const KsTableSelection& sets, const std::string& step) {
    SCOPED_TRACE(step);
    ASSERT_EQ(static_cast<std::int32_t>(model.selection.size()), sets.GetSelection().GetSize());
    ASSERT_EQ(static_cast<std::int32_t>(model.second.size()), sets.GetSecondSet().GetSize());
    for (std::size_t i = 0; i < model.selection.size(); ++i) {
        auto n = static_cast<std::int32_t>(i + 1);
        ASSERT_EQ(model.selection[i], sets.GetSelection().IsSelected(n)) << "record " << n;
        ASSERT_EQ(model.second[i], sets.GetSecondSet().IsSelected(n)) << "record " << n;
    }
    ASSERT_EQ(model.Selected(), sets.GetSelection().GetSelectedCount());
    ASSERT_EQ(model.position, sets.GetPosition());
}

// The walk restarts when the record count or the selected count changed since the
// selection was last brought in step, and only then.
TEST(KsTableSelection, FollowRecordCountRestartsTheWalkOnlyOnAChange) {
    KsTableSelection sets;
    sets.SelectAll(3);
    ASSERT_EQ(1, sets.StartWalk());
    sets.WalkStarted();
    sets.FollowRecordCount(3);
    EXPECT_EQ(1, sets.GetPosition()) << "nothing changed";
    sets.GetSelection().SelectRecord(2, false);
    sets.FollowRecordCount(3);
    EXPECT_EQ(0, sets.GetPosition()) << "one record fewer selected";
    EXPECT_FALSE(sets.GetSelection().IsSelected(2)) << "the same size keeps the bits";
    sets.WalkStarted();
    sets.FollowRecordCount(4);
    EXPECT_EQ(0, sets.GetPosition());
    EXPECT_EQ(4, sets.GetSelection().GetSelectedCount()) << "another size selects all anew";
    EXPECT_EQ(4, sets.GetSecondSet().GetSelectedCount());
    // SetSize stands for the count the selection is kept at.
    sets.WalkStarted();
    sets.SetSize(2);
    sets.FollowRecordCount(4);
    EXPECT_EQ(0, sets.GetPosition());
}

TEST(KsTableSelection, ClearForgetsBothSetsAndTheWalk) {
    KsTableSelection sets;
    sets.SelectAll(5);
    sets.WalkStarted();
    sets.Clear();
    EXPECT_EQ(0, sets.GetSelection().GetSize());
    EXPECT_EQ(0, sets.GetSecondSet().GetSize());
    EXPECT_EQ(0, sets.GetPosition());
    EXPECT_EQ(0, sets.StartWalk());
}

TEST(KsTableSelection, RemovingARecordOutsideTheSetsIsRefusedAndChangesNoBit) {
    KsTableSelection sets;
    sets.SelectAll(2);
    sets.GetSelection().SelectRecord(1, false);
    EXPECT_EQ("Set record value of 3 not valid for set with 2 records.",
              kstest::MessageOf([&] { sets.RemoveFromSets(3); }));
    for (std::int32_t n : {0, -1}) {
        EXPECT_THROW(sets.RemoveFromSets(n), KsException) << n;
    }
    EXPECT_EQ(2, sets.GetSelection().GetSize());
    EXPECT_EQ(2, sets.GetSecondSet().GetSize());
    EXPECT_FALSE(sets.GetSelection().IsSelected(1));
    EXPECT_TRUE(sets.GetSelection().IsSelected(2));
}

// Random additions, removals, walks and refreshes against the model, checked after each.
TEST(KsTableSelection, RandomChangesFollowThePlainModel) {
    std::mt19937 random(20261208);
    for (int round = 0; round < 20; ++round) {
        KsTableSelection sets;
        Model model;
        auto count = static_cast<std::int32_t>(random() % 20);
        sets.SelectAll(count);
        model.SelectAll(count);
        model.kept = count;
        for (int step = 0; step < 300; ++step) {
            auto size = static_cast<std::int32_t>(model.selection.size());
            std::string name;
            switch (random() % 6) {
                case 0: {  // a record enters at n, later ones move up
                    auto n =
                        static_cast<std::int32_t>(random() % static_cast<unsigned>(size + 1)) + 1;
                    bool selected = random() % 2 == 0, second = random() % 2 == 0;
                    sets.AddToSets(n, selected, second);
                    model.selection.insert(model.selection.begin() + (n - 1), selected);
                    model.second.insert(model.second.begin() + (n - 1), second);
                    model.position = 0;
                    model.kept = model.Selected();
                    name = "add " + std::to_string(n);
                    break;
                }
                case 1: {  // a record leaves, its bits come back
                    if (size == 0) {
                        continue;
                    }
                    auto n = static_cast<std::int32_t>(random() % static_cast<unsigned>(size)) + 1;
                    std::pair<bool, bool> bits = sets.RemoveFromSets(n);
                    ASSERT_EQ(model.selection[static_cast<std::size_t>(n - 1)], bits.first);
                    ASSERT_EQ(model.second[static_cast<std::size_t>(n - 1)], bits.second);
                    model.selection.erase(model.selection.begin() + (n - 1));
                    model.second.erase(model.second.begin() + (n - 1));
                    model.position = 0;
                    model.kept = model.Selected();
                    name = "remove " + std::to_string(n);
                    break;
                }
                case 2: {  // a caller changes the selection directly
                    if (size == 0) {
                        continue;
                    }
                    auto n = static_cast<std::int32_t>(random() % static_cast<unsigned>(size)) + 1;
                    bool selected = random() % 2 == 0;
                    sets.GetSelection().SelectRecord(n, selected);
                    model.selection[static_cast<std::size_t>(n - 1)] = selected;
                    name = "select " + std::to_string(n);
                    break;
                }
                case 3: {  // the walk starts at the first selected record
                    auto found = std::find(model.selection.begin(), model.selection.end(), true);
                    std::int32_t first =
                        found == model.selection.end()
                            ? 0
                            : static_cast<std::int32_t>(found - model.selection.begin() + 1);
                    ASSERT_EQ(first, sets.StartWalk());
                    model.position = 0;
                    if (first != 0) {
                        sets.WalkStarted();
                        model.position = 1;
                        model.kept = model.Selected();
                    }
                    name = "walk";
                    break;
                }
                case 4: {  // a refresh, mostly with the same record count
                    std::int32_t records = random() % 4 == 0 ? size + 1 : size;
                    sets.FollowRecordCount(records);
                    if (records != size) {
                        model.SelectAll(records);
                        model.kept = records;
                    } else if (model.Selected() != model.kept) {
                        model.kept = model.Selected();
                        model.position = 0;
                    }
                    name = "refresh " + std::to_string(records);
                    break;
                }
                default:
                    sets.ResetPosition();
                    model.position = 0;
                    name = "reset position";
                    break;
            }
            ExpectSame(model, sets, "round " + std::to_string(round) + ", " + name);
        }
    }
}

}  // namespace
