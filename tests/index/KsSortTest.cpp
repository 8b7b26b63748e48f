#include "index/KsSort.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "core/KsByteOrder.h"
#include "index/KsSortIOWrapper.h"
#include "index/KsSortRuns.h"
#include "index/KsSortTestSupport.h"
#include "progress/KsNullProgress.h"
#include "support/KsErrorCapture.h"
#include "support/RecordingProgress.h"
#include "support/TempDir.h"

namespace {

using kstest::VectorInput;
using kstest::VectorOutput;

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
        return static_cast<int>(
            std::count_if(progress.calls.begin(), progress.calls.end(),
                          [&](const auto& c) { return c.rfind(prefix, 0) == 0; }));
    }
    // Sorts `records` by `criterion` (a 4-byte key when null) in `folder`.
    void Sort(const std::vector<std::string>& records, unsigned files,
              const kstest::TempDir& folder, unsigned nodes = kNodes,
              KsSortCriterion* criterion = nullptr) {
        KsSortCKey key(4);
        KsSort sort(criterion ? *criterion : key, folder.Path().c_str(), files, nodes, 0);
        VectorInput input(records, kRecordLength);
        sort.Sort(input, output, progress);
        EXPECT_EQ(kstest::SortLeftovers(folder.Path()), std::vector<std::string>());
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
                    kstest::ExpectSortedLike(
                        run.output.records, records,
                        [&](auto& a, auto& b) { return criterion->IsLess(a.data(), b.data()); },
                        [&](auto& a, auto& b) { return criterion->IsEqual(a.data(), b.data()); });
                    EXPECT_EQ(run.output.finishes, size > 0 ? 1 : 0);
                }
            }
        }
    }
}

TEST(KsSortTest, RunsAndPassesFollowTheInputsShapeAndACancelStopsEveryPhaseWithoutLeftovers) {
    kstest::TempDir dir;
    struct Case {
        std::uint32_t size;
        Shape shape;
        unsigned files;
        int runs, passes;
    };
    // A heap of 4: descending input gives runs of exactly 4, ascending input one run.
    const Case cases[] = {{1000, kAscending, 8, 1, 0}, {16, kDescending, 8, 4, 0},
                          {20, kDescending, 8, 5, 1},  {64, kDescending, 4, 16, 3},
                          {36, kDescending, 6, 9, 1},  {40, kDescending, 6, 10, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << " records, " << c.files << " files");
        SortRun run;
        run.Sort(MakeInput(c.size, c.shape, 3), c.files, dir, 4);
        EXPECT_EQ(run.Count("SetTitle(Creating run "), c.runs);
        EXPECT_EQ(run.Count("SetTitle(Merging; pass "), c.passes);
        EXPECT_EQ(run.output.records.size(), c.size);
    }
    SortRun empty;
    empty.Sort({}, 8, dir);
    EXPECT_TRUE(empty.progress.calls.empty());
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
    std::vector<std::string> records = MakeInput(2500, kDescending, 1);
    SortRun clean;
    clean.Sort(records, 4, dir, 100);
    EXPECT_EQ(
        std::vector<std::string>(clean.progress.calls.begin(), clean.progress.calls.begin() + 3),
        (std::vector<std::string>{"SetMaximum(2500)", "SetMinimum(0)",
                                  "SetTitle(Creating run 1...)"}));
    // 25 runs over 2 files: passes leave 13, 7, 4 and 2 runs; every phase ticks at 1000
    // and 2000 records.
    EXPECT_EQ(clean.Count("SetTitle(Creating run "), 25);
    EXPECT_EQ(clean.Count("SetTitle(Merging; pass "), 4);
    EXPECT_EQ(clean.Count("SetPosition(2000)"), 6);
    EXPECT_EQ(clean.progress.questions, 12);
    for (int stop = 1; stop <= 12; ++stop) {
        SCOPED_TRACE(stop);
        SortRun run;
        run.progress.stopAtQuestion = stop;
        auto error =
            kstest::CaughtError<KsSortCanceledException>([&] { run.Sort(records, 4, dir, 100); });
        bool building = stop <= 2;
        EXPECT_STREQ(error.GetErrorMessage(), building ? "Build phase of sort halted by user"
                                                       : "Merge phase of sort halted by user");
        EXPECT_STREQ(error.GetClassName(), building ? "KsSortRunBuilder" : "KsSortRunConsolidator");
        EXPECT_EQ(run.progress.position, stop % 2 == 1 ? 1000 : 2000);
        EXPECT_EQ(run.output.finishes, 0);
        EXPECT_EQ(kstest::SortLeftovers(dir.Path()), std::vector<std::string>());
    }
}

TEST(KsSortTest, RefusesBadLimitsRecordsAndInputsAndKeepsWithinTheBudget) {
    KsSortCKey key(4), longKey(13);
    VectorOutput output;
    VectorInput record({std::string(12, 'x')}, 12), empty({}, 12), shorter({}, 11);
    std::uint32_t counter = 0;
    KsSortRunConsolidator merger(2, 12);
    const std::pair<std::function<void()>, const char*> cases[] = {
        {[&] { KsSort(key, nullptr, 8, 3, 0); },
         "KsSort needs to keep more then 3 nodes in memory"},
        {[&] { KsSort(key, nullptr, 3, 8, 0); },
         "KsSort needs at least 4 temporary files; 3 were asked for"},
        {[&] { KsSort(key, nullptr, 8, 8, 8 * 8192 - 1); },
         "Cache must have at least 8KB per file; size of 65535 for 8 files is too small"},
        {[&] {
             KsSort(longKey, nullptr, 4, 8, 0).Sort(record, output, KsNullProgress::Instance());
         },
         "A key of 13 bytes is longer than the records of 12 bytes"},
        {[&] {
             VectorInput zero({std::string(12, 'x')}, 0);
             KsSort(key, nullptr, 4, 8, 0).Sort(zero, output, KsNullProgress::Instance());
         },
         "Records need to have a length; length of zero is illegal"},
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

}  // namespace
