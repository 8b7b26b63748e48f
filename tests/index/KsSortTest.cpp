// The external sort: its order against a stable sort for every criterion, size, input shape
// and file count, its runs, passes and progress, its refusals; and sorting a table in place,
// where a failure or a cancel at any step leaves the old order and no temporary file.

#include "index/KsSort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <random>

#include "core/KsByteOrder.h"
#include "files/TableTestSupport.h"
#include "index/KsSortFileWrapper.h"
#include "index/KsSortIOWrapper.h"
#include "index/KsSortRuns.h"
#include "progress/KsNullProgress.h"
#include "support/FaultInjectingFile.h"
#include "support/KsErrorCapture.h"
#include "support/RecordingProgress.h"
#include "support/TempDir.h"

namespace {

using kstest::FaultOp;
using kstest::SortLeftovers;

// Records of one length, read in turn.
class VectorInput : public KsSortInput {
public:
    VectorInput(std::vector<std::string> records, std::uint32_t length)
        : records_(std::move(records)), length_(length) {}
    bool IsAtEnd() override { return next_ >= records_.size(); }
    void GetNextRecord(void* buffer) override {
        std::memcpy(buffer, records_.at(next_++).data(), length_);
    }
    std::uint32_t GetRecordCount() override { return static_cast<std::uint32_t>(records_.size()); }
    std::uint32_t GetRecordLength() override { return length_; }
    void Rewind() override {}

private:
    std::vector<std::string> records_;
    std::uint32_t length_;
    std::size_t next_ = 0;
};

// Collects what is put into it.
class VectorOutput : public KsSortOutput {
public:
    void PutNextRecord(std::uint32_t length, const void* record) override {
        records.emplace_back(static_cast<const char*>(record), length);
    }
    void Finish() override { ++finishes; }

    std::vector<std::string> records;
    int finishes = 0;
};

// `got` holds the records of `given` (the same multiset) in the order of a stable sort by
// `less`, records that `less` does not order being judged by `same` alone.
template <class Less, class Same>
void ExpectSortedLike(const std::vector<std::string>& got, std::vector<std::string> given,
                      Less less, Same same) {
    std::vector<std::string> expected = given;
    std::stable_sort(expected.begin(), expected.end(), less);
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_TRUE(same(got[i], expected[i])) << "record " << i << ": " << got[i];
    }
    std::vector<std::string> sorted = got;
    std::sort(sorted.begin(), sorted.end());
    std::sort(given.begin(), given.end());
    EXPECT_EQ(sorted, given);
}

// Records of 12 bytes: a key, a tail of three values and the record's serial number (so
// that records with equal keys stay distinguishable), each 4 bytes big-endian.
constexpr std::uint32_t kRecordLength = 12;
constexpr unsigned kNodes = 8;

// Input shapes: the key of each record.
enum Shape { kRandom, kAllEqual, kAscending, kDescending, kFewKeys };

std::vector<std::string> MakeInput(std::uint32_t count, Shape shape, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<std::string> records;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t keys[] = {std::uint32_t(random()), 7, i, count - i,
                                      std::uint32_t(random() % 5)};
        unsigned char bytes[kRecordLength];
        KsByteOrder::StoreBig<std::uint32_t>(bytes, keys[shape]);
        KsByteOrder::StoreBig<std::uint32_t>(bytes + 4, std::uint32_t(random() % 3));
        KsByteOrder::StoreBig<std::uint32_t>(bytes + 8, i);
        records.emplace_back(reinterpret_cast<char*>(bytes), kRecordLength);
    }
    return records;
}

struct SortRun {
    VectorOutput output;
    kstest::RecordingProgress progress;
    int Count(const std::string& prefix) const {
        return static_cast<int>(std::ranges::count_if(
            progress.calls, [&](const std::string& c) { return c.starts_with(prefix); }));
    }
    // Sorts `records` by `criterion` (a 4-byte key when null) in `folder`.
    void Sort(const std::vector<std::string>& records, unsigned files,
              const kstest::TempDir& folder, unsigned nodes = kNodes,
              KsSortCriterion* criterion = nullptr) {
        KsSortCKey key(4);
        KsSort sort(criterion ? *criterion : key, folder.Path().c_str(), files, nodes, 0);
        VectorInput input(records, kRecordLength);
        sort.Sort(input, output, progress);
        EXPECT_EQ(SortLeftovers(folder.Path()), 0);
    }
};

// Orders by the tail, descending: a criterion that is no plain key.
class TailDescending : public KsSortCriterion {
public:
    bool IsEqual(const void* a, const void* b) const override { return Compare(a, b) == 0; }
    bool IsLess(const void* a, const void* b) const override { return Compare(a, b) > 0; }
    bool IsGreater(const void* a, const void* b) const override { return Compare(a, b) < 0; }
    std::unique_ptr<KsSortCriterion> Clone() const override {
        return std::make_unique<TailDescending>();
    }
    static int Compare(const void* a, const void* b) {
        return std::memcmp(static_cast<const char*>(a) + 4, static_cast<const char*>(b) + 4, 4);
    }
};

TEST(KsSortTest, OrdersLikeStableSortForEveryCriterionSizeShapeAndFileCount) {
    kstest::TempDir dir;
    // A key within the first eight bytes, a longer one whose ties reach past them, and a
    // criterion of another kind.
    KsSortCKey shortKey(4), longKey(10);
    TailDescending tail;
    std::uint32_t seed = 1;
    for (KsSortCriterion* criterion : std::vector<KsSortCriterion*>{&shortKey, &longKey, &tail}) {
        for (unsigned files : {4u, 6u, 8u}) {
            for (std::uint32_t size : {0u, 1u, kNodes, kNodes + 1, 50 * kNodes}) {
                for (Shape shape : {kRandom, kAllEqual, kAscending, kDescending, kFewKeys}) {
                    SCOPED_TRACE(testing::Message()
                                 << files << " files, " << size << " records, seed " << seed + 1);
                    std::vector<std::string> records = MakeInput(size, shape, ++seed);
                    SortRun run;
                    run.Sort(records, files, dir, kNodes, criterion);
                    ExpectSortedLike(
                        run.output.records, records,
                        [&](auto& a, auto& b) { return criterion->IsLess(a.data(), b.data()); },
                        [&](auto& a, auto& b) { return criterion->IsEqual(a.data(), b.data()); });
                    EXPECT_EQ(run.output.finishes, size > 0 ? 1 : 0);
                }
            }
        }
    }
}

TEST(KsSortTest, RunsPassesAndProgressFollowTheInputsShape) {
    kstest::TempDir dir;
    // A heap of 4: descending input gives runs of exactly 4, ascending input one run. Records,
    // shape, files; runs and passes.
    for (auto [size, shape, files, runs, passes] : {std::tuple{1000u, kAscending, 8u, 1, 0},
                                                    {16u, kDescending, 8u, 4, 0},
                                                    {20u, kDescending, 8u, 5, 1},
                                                    {64u, kDescending, 4u, 16, 3},
                                                    {36u, kDescending, 6u, 9, 1},
                                                    {40u, kDescending, 6u, 10, 2}}) {
        SCOPED_TRACE(testing::Message() << size << " records, " << files << " files");
        SortRun run;
        run.Sort(MakeInput(size, shape, 3), files, dir, 4);
        EXPECT_EQ(run.Count("SetTitle(Creating run "), runs);
        EXPECT_EQ(run.Count("SetTitle(Merging; pass "), passes);
        EXPECT_EQ(run.output.records.size(), size);
    }
    SortRun clean;
    clean.Sort(MakeInput(2500, kDescending, 1), 4, dir, 100);
    const std::vector<std::string>& calls = clean.progress.calls;
    EXPECT_EQ(calls.at(0) + calls.at(1) + calls.at(2),
              "SetMaximum(2500)SetMinimum(0)SetTitle(Creating run 1...)");
    // 25 runs over 2 files: passes leave 13, 7, 4 and 2 runs; every phase ticks at 1000
    // and 2000 records.
    EXPECT_EQ(clean.Count("SetTitle(Creating run "), 25);
    EXPECT_EQ(clean.Count("SetTitle(Merging; pass "), 4);
    EXPECT_EQ(clean.Count("SetPosition(2000)"), 6);
    EXPECT_EQ(clean.progress.questions, 12);
}

TEST(KsSortTest, RefusesBadLimitsRecordsAndInputsAndKeepsWithinTheBudget) {
    KsSortCKey key(4), longKey(13);
    VectorOutput output;
    VectorInput record({std::string(12, 'x')}, 12), zero({std::string(12, 'x')}, 0), empty({}, 12),
        shorter({}, 11);
    auto sort = [&](KsSortCriterion& criterion, KsSortInput& input) {
        KsSort(criterion, nullptr, 4, 8, 0).Sort(input, output, KsNullProgress::Instance());
    };
    std::uint32_t counter = 0;
    KsSortRunConsolidator merger(2, 12);
    const std::pair<std::function<void()>, const char*> cases[] = {
        {[&] { KsSort(key, nullptr, 8, 3, 0); },
         "KsSort needs to keep more then 3 nodes in memory"},
        {[&] { KsSort(key, nullptr, 3, 8, 0); },
         "KsSort needs at least 4 temporary files; 3 were asked for"},
        {[&] { KsSort(key, nullptr, 8, 8, 8 * 8192 - 1); },
         "Cache must have at least 8KB per file; size of 65535 for 8 files is too small"},
        {[&] { sort(longKey, record); },
         "A key of 13 bytes is longer than the records of 12 bytes"},
        {[&] { sort(key, zero); }, "Records need to have a length; length of zero is illegal"},
        {[&] { KsSortRunBuilder(3, 12); },
         "Asked for a heap size of 3, but must have at least 4 elements in the heap"},
        {[&] { KsSortRunBuilder(4, 12).OutputSingleRun(output, nullptr, counter); },
         "Cannot output a run with no data"},
        {[&] { KsSortRunConsolidator(1, 12); }, "Need at least two files to consolidate"},
        {[&] { KsSortRunConsolidator(2, 0); }, "Record length must be nonzero"},
        {[&] { KsSortIOWrapper("unused", 0, 8192, true, true); },
         "Records need to have a length; length of zero is illegal"},
        {[&] { merger.AddInput(shorter); },
         "Input has a record length of \"11\", but KsSortRunConsolidator is set for a record "
         "length of \"12\""},
        {[&] { merger.AddInput(empty), merger.AddInput(empty), merger.AddInput(empty); },
         "Consolidator only set up to handle at most 2 inputs"},
    };
    for (const auto& [body, message] : cases) {
        EXPECT_EQ(kstest::MessageOf(body), message);
    }
    EXPECT_EQ(output.finishes, 0);
    EXPECT_EQ(KsSort(key, nullptr, 7, 8, 0).GetFileCount(), 6u);
    EXPECT_EQ(KsSort(key, nullptr, 8, 8, 0).GetCacheSize(), 8u * 8192);
    // Limits keep records and buffers within the budget.
    for (std::uint64_t memory : {std::uint64_t{1} << 20, std::uint64_t{64} << 20}) {
        KsSort::Limits limits = KsSort::LimitsFor(memory, 78, 8);
        std::uint64_t used =
            (limits.nodesInMemory + 1ull) * (78 + sizeof(KsSortNode)) + limits.cacheSize;
        EXPECT_LE(used, memory);
        EXPECT_GT(used, memory * 9 / 10);
    }
    EXPECT_EQ(KsSort::LimitsFor(100, 78, 8).nodesInMemory, 4u);
}

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
        auto key = [&](const std::string& texts) {
            std::size_t bar = texts.find('|');
            std::string name = texts.substr(0, bar);
            for (char& c : name) {
                c = nameDescending ? static_cast<char>(~c) : c;  // names are of one length
            }
            return std::make_pair(name, std::stoi(texts.substr(bar + 1)));
        };
        ExpectSortedLike(
            after, before, [&](const auto& a, const auto& b) { return key(a) < key(b); },
            [&](const auto& a, const auto& b) { return key(a) == key(b); });
    }
    void ExpectNoLeftovers() const {
        EXPECT_EQ(SortLeftovers(dir.Path()) + SortLeftovers(temp), 0);
    }

    kstest::TempDir dir;
    std::string data = dir.File("answers.cbf"), temp = dir.File("tmp");
    std::unique_ptr<CBFFile> table;
    std::string original;
    std::vector<std::string> before;
    KsTableSortSettings settings;
};

// Sorts a fresh table whose files follow `factory` by name descending, then Id, its progress
// stopping at question `stop` (0: never); the error ("class: message"), or "" when it
// sorted. A failed sort leaves the table and its file as they were, a finished one holds the new
// order, its first record current; either leaves no temporary file and no lock.
std::string SortAndCheck(kstest::FaultInjectingFactory& factory, int stop = 0) {
    SortTable t(factory, 2500);
    kstest::RecordingProgress progress;
    progress.stopAtQuestion = stop;
    std::string error;
    try {
        KsSortTable(*t.table, {{0, true}, {1, false}}, progress, t.settings);
    } catch (const KsException& caught) {
        error = caught.GetClassName() + std::string(": ") + caught.GetErrorMessage();
    }
    if (!error.empty()) {
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
    return error;
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
    ASSERT_EQ(SortAndCheck(clean), "");
    for (FaultOp op : {FaultOp::kWrite, FaultOp::kFlush, FaultOp::kTruncate, FaultOp::kRename}) {
        int first = setUp.Plan().Calls(op), calls = clean.Plan().Calls(op) - first, failures = 0;
        for (int n = 1; n <= calls; ++n) {
            SCOPED_TRACE(testing::Message() << "operation " << int(op) << ", call " << n);
            kstest::FaultInjectingFactory failing;
            failing.Plan().Fail(op, first + n, ENOSPC);
            failures += SortAndCheck(failing).empty() ? 0 : 1;
        }
        // Each of them fails the sort.
        EXPECT_EQ(failures, calls) << "operation " << int(op);
    }
    // Two questions while runs are built, two in each of four merge passes, two in the final
    // merge.
    for (int stop = 1; stop <= 12; ++stop) {
        SCOPED_TRACE(testing::Message() << "stop at question " << stop);
        EXPECT_EQ(SortAndCheck(clean, stop),
                  stop <= 2 ? "KsSortRunBuilder: Build phase of sort halted by user"
                            : "KsSortRunConsolidator: Merge phase of sort halted by user");
    }
}

}  // namespace
