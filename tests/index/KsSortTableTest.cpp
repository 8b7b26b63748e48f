#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "files/TableTestSupport.h"
#include "index/KsSortFileWrapper.h"
#include "index/KsSortTestSupport.h"
#include "progress/KsNullProgress.h"
#include "support/FaultInjectingFile.h"
#include "support/KsErrorCapture.h"
#include "support/RecordingProgress.h"
#include "support/TempDir.h"

namespace {

using kstest::CaughtError;
using kstest::SortLeftovers;
using kstest::TextsOf;

constexpr std::int32_t kRecords = 600;

// A table of `count` records: a 3-letter name from a small alphabet (many ties), a
// signed Long, a Number and a Binary field.
struct SortTable {
    explicit SortTable(KsIOFactory& factory = KsIOFactory::Default(),
                       std::int32_t count = kRecords) {
        std::filesystem::create_directory(dir.Path() / "tmp");
        table = kstest::CreateTable(
            dir.File("answers"),
            [] {
                KsFieldList fields = kstest::CBFFields(
                    {{"Name", 'A', 3}, {"Id", 'I', 0, 32}, {"Price", 'N'}, {"Tag", 'Y', 2, 16}});
                CBFFile::PackFields(nullptr, fields);
                return fields;
            }(),
            factory);
        std::mt19937 random(17);
        for (std::int32_t i = 0; i < count; ++i) {
            std::string name = {static_cast<char>('A' + random() % 3),
                                static_cast<char>('a' + random() % 2)};
            std::string id = std::to_string(static_cast<int>(random() % 2001) - 1000);
            std::string price = std::to_string(i);
            kstest::AppendTexts(*table, {name.c_str(), id.c_str(), price.c_str(), "0A0B"});
        }
        table->Flush();
        original = kstest::ReadWholeFile(DataFile());
    }
    std::string DataFile() const { return dir.File("answers.cbf"); }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (std::int32_t n = 1; n <= table->GetNumRecords(); ++n) {
            texts.push_back(TextsOf(*table, n));
        }
        return texts;
    }
    KsTableSortSettings Settings(std::uint64_t memory = 0) const {
        settings.memoryBytes = memory;
        tempFolder = (dir.Path() / "tmp").string();
        settings.tempDirectory = tempFolder.c_str();
        return settings;
    }
    void ExpectNoLeftovers() const {
        EXPECT_EQ(SortLeftovers(dir.Path()), std::vector<std::string>());
        EXPECT_EQ(SortLeftovers(dir.Path() / "tmp"), std::vector<std::string>());
    }

    kstest::TempDir dir;
    std::unique_ptr<CBFFile> table;
    std::string original;
    mutable std::string tempFolder;
    mutable KsTableSortSettings settings;
};

std::string Field(const std::string& texts, int n) {
    std::size_t start = 0;
    for (int i = 0; i < n; ++i) {
        start = texts.find('|', start) + 1;
    }
    return texts.substr(start, texts.find('|', start) - start);
}

// `before` sorted by name (descending when asked), then by Id ascending, stably.
std::vector<std::string> Model(std::vector<std::string> before, bool nameDescending) {
    std::stable_sort(before.begin(), before.end(), [&](const auto& a, const auto& b) {
        std::string nameA = Field(a, 0), nameB = Field(b, 0);
        if (nameA != nameB) {
            return nameDescending ? nameB < nameA : nameA < nameB;
        }
        return std::stoi(Field(a, 1)) < std::stoi(Field(b, 1));
    });
    return before;
}

// The name and Id of each record, which the sort orders.
std::vector<std::string> Keys(const std::vector<std::string>& texts) {
    std::vector<std::string> keys;
    for (const std::string& text : texts) {
        keys.push_back(Field(text, 0) + "|" + Field(text, 1));
    }
    return keys;
}

void ExpectSortedVersionOf(const std::vector<std::string>& after,
                           const std::vector<std::string>& before, bool nameDescending) {
    EXPECT_EQ(Keys(after), Keys(Model(before, nameDescending)));
    std::vector<std::string> a = after, b = before;
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    EXPECT_EQ(a, b);
}

TEST(KsSortTableTest, SortsInPlaceByFieldsInOrderWithinASmallBudget) {
    for (bool descending : {false, true}) {
        SortTable t;
        std::vector<std::string> before = t.Texts();
        kstest::RecordingProgress progress;
        KsSortTable(*t.table, {{0, descending}, {1, false}}, progress, t.Settings(0));
        ExpectSortedVersionOf(t.Texts(), before, descending);
        EXPECT_EQ(t.table->GetWriteLockCount(), 0);
        EXPECT_EQ(progress.calls.front(), "SetDetail(File \"" + t.DataFile() + "\")");
        // A heap of 4 records over 600 records: many runs and merge passes.
        EXPECT_NE(
            std::find(progress.calls.begin(), progress.calls.end(), "SetTitle(Merging; pass 2...)"),
            progress.calls.end());
        t.ExpectNoLeftovers();

        // Another table object reads the new order from the file.
        CBFFile again;
        again.Open(t.DataFile().c_str(), IO_READ);
        EXPECT_EQ(TextsOf(again, 1), t.Texts().front());
        EXPECT_EQ(TextsOf(again, kRecords), t.Texts().back());
    }
}

TEST(KsSortTableTest, TheTablesSortSlotSortsAscendingAndKeepsAHeldLock) {
    SortTable t;
    std::vector<std::string> before = t.Texts();
    t.table->Lock(LOCK_WRITE);
    KsVector<std::uint16_t> fields;
    fields.push_back(0);
    fields.push_back(1);
    t.table->Sort(fields);
    ExpectSortedVersionOf(t.Texts(), before, false);
    EXPECT_EQ(t.table->GetWriteLockCount(), 1);
    EXPECT_TRUE(t.table->Unlock(LOCK_WRITE));
    t.ExpectNoLeftovers();
}

TEST(KsSortTableTest, RefusesBadRequestsBeforeAnyFileIsTouched) {
    kstest::FaultInjectingFactory factory;
    SortTable t(factory);
    factory.Plan().Reset();
    KsVector<std::uint16_t> none, unknown, good;
    unknown.push_back(0);
    unknown.push_back(4);
    good.push_back(1);
    struct Case {
        std::function<void()> body;
        std::string message;
    };
    const Case cases[] = {
        {[&] { t.table->Sort(none); }, "A key needs at least one field"},
        {[&] { t.table->Sort(unknown); },
         "Field 4 is not a field of \"" + t.DataFile() + "\", which has 4 fields"},
        {[&] { t.table->Sort(good, nullptr, true); },
         "Sort() with index rebuilding is not available for tables yet"},
        {[&] {
             CBFFile closed;
             closed.Sort(good);
         },
         "Cannot sort a table that is not open"},
    };
    for (const Case& c : cases) {
        KsException error = CaughtError(c.body);
        EXPECT_EQ(error.GetErrorMessage(), c.message);
        EXPECT_NE(std::string(error.GetCallpath()).find("Sort() of KsFile"), std::string::npos)
            << error.GetCallpath();
    }
    EXPECT_EQ(factory.Plan().Calls(kstest::FaultOp::kWrite), 0);
    EXPECT_EQ(factory.Plan().Calls(kstest::FaultOp::kFlush), 0);
    EXPECT_EQ(kstest::ReadWholeFile(t.DataFile()), t.original);
    t.ExpectNoLeftovers();
}

// Runs a sort of a fresh table whose files follow `factory`, with `stop` as the question
// at which the progress asks to stop (0: never). Checks that the table holds exactly its
// records in the old order or the new one, and that no temporary file is left.
void SortAndCheck(kstest::FaultInjectingFactory& factory, int stop, bool& failed) {
    SortTable t(factory);
    std::vector<std::string> before = t.Texts();
    kstest::RecordingProgress progress;
    progress.stopAtQuestion = stop;
    failed = false;
    try {
        KsSortTable(*t.table, {{0, false}, {1, false}}, progress, t.Settings(200000));
    } catch (const KsException&) {
        failed = true;
    }
    std::string bytes = kstest::ReadWholeFile(t.DataFile());
    if (failed && bytes == t.original) {
        EXPECT_EQ(t.Texts(), before);
    } else {
        CBFFile reread;
        reread.Open(t.DataFile().c_str(), IO_READ);
        std::vector<std::string> after;
        for (std::int32_t n = 1; n <= reread.GetNumRecords(); ++n) {
            after.push_back(TextsOf(reread, n));
        }
        ExpectSortedVersionOf(after, before, false);
    }
    EXPECT_EQ(t.table->GetWriteLockCount(), 0);
    t.ExpectNoLeftovers();
}

TEST(KsSortTableTest, AFailureAtAnyStepLeavesTheOldOrderOrTheNewOne) {
    kstest::FaultInjectingFactory clean;
    bool failed = true;
    SortAndCheck(clean, 0, failed);
    ASSERT_FALSE(failed);
    for (kstest::FaultOp op :
         {kstest::FaultOp::kWrite, kstest::FaultOp::kFlush, kstest::FaultOp::kTruncate,
          kstest::FaultOp::kClose, kstest::FaultOp::kRename}) {
        // The table's own records are written before the sort starts.
        kstest::FaultInjectingFactory setUp;
        SortTable counting(setUp);
        int before = setUp.Plan().Calls(op);
        int calls = clean.Plan().Calls(op) - before;
        int failures = 0;
        for (int n = 1; n <= calls; ++n) {
            SCOPED_TRACE(testing::Message() << "op " << static_cast<int>(op) << " call " << n);
            kstest::FaultInjectingFactory failing;
            failing.Plan().Fail(op, before + n, EIO);
            SortAndCheck(failing, 0, failed);
            failures += failed ? 1 : 0;
        }
        // Every write, flush, truncation and rename of the sort is checked; a failed close of
        // a file being thrown away is no failure of the sort.
        if (op != kstest::FaultOp::kClose) {
            EXPECT_EQ(failures, calls) << "op " << static_cast<int>(op);
        }
    }
}

TEST(KsSortTableTest, ACancelAtAnyQuestionLeavesTheOldOrder) {
    constexpr std::int32_t kMany = 2500;
    SortTable t(KsIOFactory::Default(), kMany);
    kstest::RecordingProgress counting;
    KsSortTable(*t.table, {{0, false}}, counting, t.Settings(0));
    // Two questions while runs are built, two in each of four merge passes and two in the
    // final merge.
    ASSERT_EQ(counting.questions, 12);
    for (int stop = 1; stop <= counting.questions; ++stop) {
        SCOPED_TRACE(stop);
        SortTable fresh(KsIOFactory::Default(), kMany);
        kstest::RecordingProgress progress;
        progress.stopAtQuestion = stop;
        EXPECT_THROW(KsSortTable(*fresh.table, {{0, false}}, progress, fresh.Settings(0)),
                     KsSortCanceledException);
        EXPECT_EQ(kstest::ReadWholeFile(fresh.DataFile()), fresh.original);
        EXPECT_EQ(fresh.table->GetNumRecords(), kMany);
        fresh.ExpectNoLeftovers();
    }
}

}  // namespace
