#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "files/TableTestSupport.h"
#include "index/KsSortFileWrapper.h"
#include "index/KsSortTestSupport.h"
#include "support/FaultInjectingFile.h"
#include "support/KsErrorCapture.h"
#include "support/RecordingProgress.h"
#include "support/TempDir.h"

namespace {

using kstest::FaultOp;

// A table of `count` records: a 2-letter name of six values (many ties), a signed Long, a
// Number and a Binary field; temporary files go to its folder's "tmp".
struct SortTable {
    explicit SortTable(KsIOFactory& factory = KsIOFactory::Default(), int count = 600) {
        std::filesystem::create_directory(dir.Path() / "tmp");
        KsFieldList fields = kstest::CBFFields(
            {{"Name", 'A', 3}, {"Id", 'I', 0, 32}, {"Price", 'N'}, {"Tag", 'Y', 2, 16}});
        CBFFile::PackFields(nullptr, fields);
        table = kstest::CreateTable(dir.File("answers"), std::move(fields), factory);
        std::mt19937 random(17);
        for (int i = 0; i < count; ++i) {
            std::string name = {char('A' + random() % 3), char('a' + random() % 2)};
            std::string id = std::to_string(int(random() % 2001) - 1000), price = std::to_string(i);
            kstest::AppendTexts(*table, {name.c_str(), id.c_str(), price.c_str(), "0A0B"});
        }
        table->Flush();
        original = kstest::ReadWholeFile(data);
        before = Texts(*table);
        settings.memoryBytes = 0;  // the smallest heap: many runs and merge passes
        settings.tempDirectory = temp.c_str();
    }
    static std::vector<std::string> Texts(KsFile& file) {
        std::vector<std::string> texts;
        for (std::int32_t n = 1; n <= file.GetNumRecords(); ++n) {
            texts.push_back(kstest::TextsOf(file, n));
        }
        return texts;
    }
    // The table holds its records sorted by name (descending when asked), then Id.
    void ExpectSorted(const std::vector<std::string>& after, bool nameDescending = false) const {
        auto key = [](const std::string& texts) {
            std::size_t bar = texts.find('|');
            return std::make_pair(texts.substr(0, bar), std::stoi(texts.substr(bar + 1)));
        };
        kstest::ExpectSortedLike(
            after, before,
            [&](const auto& a, const auto& b) {
                auto [nameA, idA] = key(a);
                auto [nameB, idB] = key(b);
                return nameA != nameB ? (nameDescending ? nameB < nameA : nameA < nameB)
                                      : idA < idB;
            },
            [&](const auto& a, const auto& b) { return key(a) == key(b); });
    }
    void ExpectNoLeftovers() const {
        EXPECT_EQ(kstest::SortLeftovers(dir.Path()), std::vector<std::string>());
        EXPECT_EQ(kstest::SortLeftovers(temp), std::vector<std::string>());
    }

    kstest::TempDir dir;
    std::string data = dir.File("answers.cbf"), temp = dir.File("tmp");
    std::unique_ptr<CBFFile> table;
    std::string original;
    std::vector<std::string> before;
    KsTableSortSettings settings;
};

// Sorts a fresh table whose files follow `factory` by name descending, then
// Id, its progress stopping at question `stop` (0: never); true when the sort failed. A
// failed sort leaves the table and its file as they were, a finished one holds the new
// order, its first record current; either leaves no temporary file and no lock.
bool SortAndCheck(kstest::FaultInjectingFactory& factory, int stop = 0) {
    SortTable t(factory, 2500);
    kstest::RecordingProgress progress;
    progress.stopAtQuestion = stop;
    bool failed = false;
    try {
        KsSortTable(*t.table, {{0, true}, {1, false}}, progress, t.settings);
    } catch (const KsException&) {
        failed = true;
    }
    if (failed) {
        EXPECT_EQ(kstest::ReadWholeFile(t.data), t.original);
        EXPECT_EQ(SortTable::Texts(*t.table), t.before);
    } else {
        char text[8];
        EXPECT_EQ(t.table->GetCurrentRecordNumber(), 1);
        std::string first = t.table->GetCurrentRecord()->GetField(0, text, sizeof text);
        t.ExpectSorted(SortTable::Texts(*t.table), true);
        EXPECT_EQ(first, SortTable::Texts(*t.table).front().substr(0, 2));
        EXPECT_EQ(progress.calls.front(), "SetDetail(File \"" + t.data + "\")");
        CBFFile reread;
        reread.Open(t.data.c_str(), IO_READ);
        t.ExpectSorted(SortTable::Texts(reread), true);
    }
    EXPECT_EQ(t.table->GetWriteLockCount(), 0);
    t.ExpectNoLeftovers();
    return failed;
}

TEST(KsSortTableTest, RefusesBadRequestsBeforeAnyFileIsTouchedAndSortsGoodOnes) {
    kstest::FaultInjectingFactory factory;
    SortTable t(factory);
    factory.Plan().Reset();
    KsVector<std::uint16_t> none, unknown{0, 4}, good{1};
    CBFFile closed;
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { t.table->Sort(none); }, "A key needs at least one field"},
        {[&] { t.table->Sort(unknown); },
         "Field 4 is not a field of \"" + t.data + "\", which has 4 fields"},
        {[&] { t.table->Sort(good, nullptr, true); },
         "Sort() with index rebuilding is not available for tables yet"},
        {[&] { closed.Sort(good); }, "Cannot sort a table that is not open"},
    };
    for (const auto& [body, message] : cases) {
        KsException error = kstest::CaughtError(body);
        EXPECT_EQ(error.GetErrorMessage(), message);
        EXPECT_NE(std::string(error.GetCallpath()).find("Sort() of KsFile"), std::string::npos);
    }
    for (FaultOp op : {FaultOp::kWrite, FaultOp::kFlush, FaultOp::kTruncate, FaultOp::kRename}) {
        EXPECT_EQ(factory.Plan().Calls(op), 0);
    }
    EXPECT_EQ(kstest::ReadWholeFile(t.data), t.original);
    t.ExpectNoLeftovers();
    // The table's own sort, with the default limits: a lock held before is held after, on
    // the new data file.
    t.table->Lock(LOCK_WRITE);
    unknown.back() = 1;  // name, then Id
    t.table->Sort(unknown);
    t.ExpectSorted(SortTable::Texts(*t.table));
    EXPECT_EQ(t.table->GetWriteLockCount(), 1);
    EXPECT_TRUE(t.table->Unlock(LOCK_WRITE));
}

TEST(KsSortTableTest, AFailureOrACancelAtAnyStepLeavesTheOldOrder) {
    kstest::FaultInjectingFactory clean, setUp;
    SortTable counting(setUp, 2500);  // the calls of making the table, before the sort
    ASSERT_FALSE(SortAndCheck(clean));
    for (FaultOp op : {FaultOp::kWrite, FaultOp::kFlush, FaultOp::kTruncate, FaultOp::kRename}) {
        int first = setUp.Plan().Calls(op), calls = clean.Plan().Calls(op) - first, failures = 0;
        for (int n = 1; n <= calls; ++n) {
            SCOPED_TRACE(testing::Message() << "operation " << int(op) << ", call " << n);
            kstest::FaultInjectingFactory failing;
            failing.Plan().Fail(op, first + n, ENOSPC);
            failures += SortAndCheck(failing) ? 1 : 0;
        }
        // Each of them fails the sort.
        EXPECT_EQ(failures, calls) << "operation " << int(op);
    }
    // Two questions while runs are built, two in each of four merge passes, two in the final
    // merge.
    for (int stop = 1; stop <= 12; ++stop) {
        SCOPED_TRACE(testing::Message() << "stop at question " << stop);
        EXPECT_TRUE(SortAndCheck(clean, stop));
    }
}

}  // namespace
