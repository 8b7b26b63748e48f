#include "index/KsSort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/KsByteOrder.h"
#include "index/KsSortIOWrapper.h"
#include "index/KsSortRuns.h"
#include "index/KsSortTestSupport.h"
#include "progress/KsNullProgress.h"
#include "support/FaultInjectingFile.h"
#include "support/KsErrorCapture.h"
#include "support/RecordingProgress.h"
#include "support/TempDir.h"

namespace {

using kstest::CaughtError;
using kstest::MessageOf;
using kstest::SortLeftovers;
using kstest::VectorInput;
using kstest::VectorOutput;

// Records of 12 bytes: a 4-byte big-endian key, then the record's serial number, so that
// records with equal keys stay distinguishable.
constexpr std::uint32_t kKeyLength = 4;
constexpr std::uint32_t kRecordLength = 12;
constexpr unsigned kNodes = 8;

std::string MakeRecord(std::uint32_t key, std::uint32_t serial) {
    std::string record(kRecordLength, '\0');
    auto* bytes = reinterpret_cast<unsigned char*>(record.data());
    KsByteOrder::StoreBig<std::uint32_t>(bytes, key);
    KsByteOrder::StoreBig<std::uint32_t>(bytes + 4, serial);
    KsByteOrder::StoreBig<std::uint32_t>(bytes + 8, ~serial);
    return record;
}

enum class Pattern { kRandom, kAllEqual, kAscending, kDescending, kFewKeys };

std::vector<std::string> MakeInput(std::size_t count, Pattern pattern, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<std::string> records;
    for (std::size_t i = 0; i < count; ++i) {
        auto n = static_cast<std::uint32_t>(i);
        std::uint32_t key = 0;
        switch (pattern) {
            case Pattern::kRandom:
                key = static_cast<std::uint32_t>(random());
                break;
            case Pattern::kAllEqual:
                key = 7;
                break;
            case Pattern::kAscending:
                key = n;
                break;
            case Pattern::kDescending:
                key = static_cast<std::uint32_t>(count) - n;
                break;
            case Pattern::kFewKeys:
                key = static_cast<std::uint32_t>(random() % 5);
                break;
        }
        records.push_back(MakeRecord(key, n));
    }
    return records;
}

std::string KeyOf(const std::string& record) {
    return record.substr(0, kKeyLength);
}

struct SortRun {
    VectorOutput output;
    kstest::RecordingProgress progress;
    int Count(const std::string& prefix) const {
        return static_cast<int>(
            std::count_if(progress.calls.begin(), progress.calls.end(),
                          [&](const std::string& call) { return call.rfind(prefix, 0) == 0; }));
    }
};

// Sorts `records` with `files` temporary files in `folder`.
void RunSort(SortRun& run, const std::vector<std::string>& records, unsigned files,
             const std::string& folder, KsIOFactory& factory = KsIOFactory::Default(),
             unsigned nodes = kNodes) {
    KsSortCKey key(kKeyLength);
    KsSort sort(key, folder.c_str(), files, nodes, 0, factory);
    VectorInput input(records, kRecordLength);
    sort.Sort(input, run.output, run.progress);
}

TEST(KsSortTest, OrdersLikeStableSortForEverySizeShapeAndFileCount) {
    kstest::TempDir dir;
    const std::size_t sizes[] = {0, 1, kNodes, kNodes + 1, 50 * kNodes};
    const Pattern patterns[] = {Pattern::kRandom, Pattern::kAllEqual, Pattern::kAscending,
                                Pattern::kDescending, Pattern::kFewKeys};
    std::uint32_t seed = 1;
    for (unsigned files : {4u, 6u, 8u}) {
        for (std::size_t size : sizes) {
            for (Pattern pattern : patterns) {
                SCOPED_TRACE(testing::Message() << files << " files, " << size << " records, "
                                                << "pattern " << static_cast<int>(pattern));
                std::vector<std::string> records = MakeInput(size, pattern, ++seed);
                SortRun run;
                RunSort(run, records, files, dir.Path().string());

                std::vector<std::string> expected = records;
                std::stable_sort(expected.begin(), expected.end(),
                                 [](const auto& a, const auto& b) { return KeyOf(a) < KeyOf(b); });
                std::vector<std::string> keys, expectedKeys;
                for (std::size_t i = 0; i < size; ++i) {
                    keys.push_back(KeyOf(run.output.records.at(i)));
                    expectedKeys.push_back(KeyOf(expected[i]));
                }
                ASSERT_EQ(run.output.records.size(), size);
                EXPECT_EQ(keys, expectedKeys);
                std::vector<std::string> got = run.output.records;
                std::sort(got.begin(), got.end());
                std::sort(expected.begin(), expected.end());
                EXPECT_EQ(got, expected);
                EXPECT_EQ(run.output.finishes, size > 0 ? 1 : 0);
                EXPECT_EQ(SortLeftovers(dir.Path()), std::vector<std::string>());
            }
        }
    }
}

// Orders by the record's last four bytes, descending: a criterion that is no plain key.
class LastBytesDescending : public KsSortCriterion {
public:
    bool IsEqual(const void* a, const void* b) const override { return Compare(a, b) == 0; }
    bool IsLess(const void* a, const void* b) const override { return Compare(a, b) > 0; }
    bool IsGreater(const void* a, const void* b) const override { return Compare(a, b) < 0; }
    std::unique_ptr<KsSortCriterion> Clone() const override {
        return std::make_unique<LastBytesDescending>();
    }
    static int Compare(const void* a, const void* b) {
        return std::memcmp(static_cast<const char*>(a) + 8, static_cast<const char*>(b) + 8, 4);
    }
};

TEST(KsSortTest, KeysLongerThanEightBytesAndOtherCriteriaOrderLikeStableSort) {
    kstest::TempDir dir;
    // The first eight bytes take three values, so that most comparisons need the rest.
    std::mt19937 random(5);
    std::vector<std::string> records;
    for (std::uint32_t i = 0; i < 500; ++i) {
        std::string record = MakeRecord(0x41424344, static_cast<std::uint32_t>(random() % 3));
        KsByteOrder::StoreBig<std::uint32_t>(reinterpret_cast<unsigned char*>(record.data()) + 8,
                                             static_cast<std::uint32_t>(random() % 50));
        records.push_back(record);
    }
    KsSortCKey fullKey(kRecordLength);
    LastBytesDescending lastBytes;
    for (KsSortCriterion* criterion :
         std::initializer_list<KsSortCriterion*>{&fullKey, &lastBytes}) {
        KsSort sort(*criterion, dir.Path().c_str(), 4, 4, 0);
        VectorInput input(records, kRecordLength);
        SortRun run;
        sort.Sort(input, run.output, run.progress);
        std::vector<std::string> expected = records;
        std::stable_sort(expected.begin(), expected.end(), [&](const auto& a, const auto& b) {
            return criterion->IsLess(a.data(), b.data());
        });
        auto expectOrder = [&](const std::vector<std::string>& got) {
            ASSERT_EQ(got.size(), expected.size());
            for (std::size_t i = 0; i < expected.size(); ++i) {
                ASSERT_TRUE(criterion->IsEqual(got[i].data(), expected[i].data())) << i;
            }
        };
        expectOrder(run.output.records);
        // Input in order is one run, written in order.
        VectorInput sorted(expected, kRecordLength);
        SortRun again;
        sort.Sort(sorted, again.output, again.progress);
        EXPECT_EQ(again.Count("SetTitle(Creating run "), 1);
        expectOrder(again.output.records);
    }
}

TEST(KsSortTest, RunsAndMergePassesFollowTheInputsShape) {
    kstest::TempDir dir;
    struct Case {
        std::size_t size;
        Pattern pattern;
        unsigned files;
        int runs;
        int passes;
    };
    // Descending input gives runs of exactly the heap size (4 here); ascending input one run.
    const Case cases[] = {
        {1000, Pattern::kAscending, 8, 1, 0}, {16, Pattern::kDescending, 8, 4, 0},
        {20, Pattern::kDescending, 8, 5, 1},  {64, Pattern::kDescending, 4, 16, 3},
        {36, Pattern::kDescending, 6, 9, 1},  {40, Pattern::kDescending, 6, 10, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << " records, " << c.files << " files");
        SortRun run;
        RunSort(run, MakeInput(c.size, c.pattern, 3), c.files, dir.Path().string(),
                KsIOFactory::Default(), 4);
        EXPECT_EQ(run.Count("SetTitle(Creating run "), c.runs);
        EXPECT_EQ(run.Count("SetTitle(Merging; pass "), c.passes);
        EXPECT_EQ(run.output.records.size(), c.size);
    }
}

TEST(KsSortTest, EmptyInputTouchesNothing) {
    kstest::TempDir dir;
    SortRun run;
    RunSort(run, {}, 8, dir.Path().string());
    EXPECT_EQ(run.output.finishes, 0);
    EXPECT_TRUE(run.progress.calls.empty());
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST(KsSortTest, ReportsTitlesAndPositionsAndRewindsTheInputOnce) {
    kstest::TempDir dir;
    KsSortCKey key(kKeyLength);
    KsSort sort(key, dir.Path().c_str(), 4, 100, 0);
    VectorInput input(MakeInput(2500, Pattern::kDescending, 1), kRecordLength);
    SortRun run;
    sort.Sort(input, run.output, run.progress);
    EXPECT_EQ(input.rewinds, 1);
    const std::vector<std::string> head = {"SetMaximum(2500)", "SetMinimum(0)",
                                           "SetTitle(Creating run 1...)"};
    EXPECT_EQ(std::vector<std::string>(run.progress.calls.begin(), run.progress.calls.begin() + 3),
              head);
    // 25 runs over 2 files: merge passes leave 13, 7, 4, 2; the final merge ticks at 1000
    // and 2000.
    EXPECT_EQ(run.Count("SetTitle(Creating run "), 25);
    EXPECT_EQ(run.Count("SetTitle(Merging; pass "), 4);
    EXPECT_EQ(run.Count("SetPosition(1000)"), 6);
    EXPECT_EQ(run.Count("ShouldContinue()"), 12);
    EXPECT_EQ(run.progress.calls.back(), "ShouldContinue()");
    EXPECT_EQ(run.progress.position, 2000);
}

TEST(KsSortTest, CancelStopsEveryPhaseAndRemovesTheTemporaryFiles) {
    kstest::TempDir dir;
    std::vector<std::string> records = MakeInput(2500, Pattern::kDescending, 1);
    // Questions 1-2 come while runs are built, 3-10 in the merge passes, 11-12 in the final
    // merge.
    for (int question = 1; question <= 12; ++question) {
        SCOPED_TRACE(question);
        SortRun run;
        run.progress.stopAtQuestion = question;
        KsSortCKey key(kKeyLength);
        KsSort sort(key, dir.Path().c_str(), 4, 100, 0);
        VectorInput input(records, kRecordLength);
        auto error = CaughtError<KsSortCanceledException>(
            [&] { sort.Sort(input, run.output, run.progress); });
        bool building = question <= 2;
        EXPECT_STREQ(error.GetErrorMessage(), building ? "Build phase of sort halted by user"
                                                       : "Merge phase of sort halted by user");
        EXPECT_STREQ(error.GetClassName(), building ? "KsSortRunBuilder" : "KsSortRunConsolidator");
        EXPECT_EQ(run.progress.position % 1000, 0);
        EXPECT_EQ(run.output.finishes, 0);
        EXPECT_EQ(SortLeftovers(dir.Path()), std::vector<std::string>());
    }
}

TEST(KsSortTest, FailedTemporaryFileWritesRemoveEveryTemporaryFile) {
    kstest::TempDir dir;
    std::vector<std::string> records = MakeInput(3000, Pattern::kRandom, 9);
    kstest::FaultInjectingFactory clean;
    SortRun cleanRun;
    RunSort(cleanRun, records, 4, dir.Path().string(), clean, 50);
    for (kstest::FaultOp op :
         {kstest::FaultOp::kWrite, kstest::FaultOp::kFlush, kstest::FaultOp::kTruncate}) {
        int calls = clean.Plan().Calls(op);
        ASSERT_GT(calls, 0);
        for (int n = 1; n <= calls; ++n) {
            SCOPED_TRACE(testing::Message() << "op " << static_cast<int>(op) << " call " << n);
            kstest::FaultInjectingFactory failing;
            failing.Plan().Fail(op, n, ENOSPC);
            SortRun run;
            KsException error =
                CaughtError([&] { RunSort(run, records, 4, dir.Path().string(), failing, 50); });
            EXPECT_NE(std::string(error.GetErrorMessage()).find("No space left on device"),
                      std::string::npos)
                << error.GetErrorMessage();
            EXPECT_EQ(run.output.finishes, 0);
            EXPECT_EQ(SortLeftovers(dir.Path()), std::vector<std::string>());
        }
    }
}

TEST(KsSortTest, FailedDeleteOfATemporaryFileIsReportedAfterTheOutputIsFinished) {
    kstest::TempDir dir;
    kstest::FaultInjectingFactory failing;
    failing.Plan().Fail(kstest::FaultOp::kDelete, 1, EACCES);
    SortRun run;
    EXPECT_THROW(RunSort(run, MakeInput(30, Pattern::kRandom, 2), 4, dir.Path().string(), failing),
                 KsException);
    EXPECT_EQ(run.output.finishes, 1);
    // The other three were still deleted.
    EXPECT_EQ(SortLeftovers(dir.Path()).size(), 1u);
}

TEST(KsSortTest, RefusesBadLimitsAndRecords) {
    KsSortCKey key(4);
    KsSortCKey longKey(13);
    struct Case {
        std::function<void()> body;
        const char* message;
    };
    KsSortCriterion& criterion = key;
    VectorOutput output;
    const Case cases[] = {
        {[&] { KsSort(criterion, nullptr, 8, 3, 0); },
         "KsSort needs to keep more then 3 nodes in memory"},
        {[&] { KsSort(criterion, nullptr, 3, 8, 0); },
         "KsSort needs at least 4 temporary files; 3 were asked for"},
        {[&] { KsSort(criterion, nullptr, 8, 8, 8 * 8192 - 1); },
         "Cache must have at least 8KB per file; size of 65535 for 8 files is too small"},
        {[&] {
             KsSort sort(longKey, nullptr, 4, 8, 0);
             VectorInput input({std::string(12, 'x')}, 12);
             sort.Sort(input, output, KsNullProgress::Instance());
         },
         "A key of 13 bytes is longer than the records of 12 bytes"},
        {[&] {
             KsSort sort(key, nullptr, 4, 8, 0);
             VectorInput input({std::string(12, 'x')}, 0);
             sort.Sort(input, output, KsNullProgress::Instance());
         },
         "Records need to have a length; length of zero is illegal"},
        {[&] { KsSortRunBuilder(3, 12); },
         "Asked for a heap size of 3, but must have at least 4 elements in the heap"},
        {[&] {
             KsSortRunBuilder builder(4, 12);
             std::uint32_t counter = 0;
             builder.OutputSingleRun(output, nullptr, counter);
         },
         "Cannot output a run with no data"},
        {[&] { KsSortRunConsolidator(1, 12); }, "Need at least two files to consolidate"},
        {[&] { KsSortRunConsolidator(2, 0); }, "Record length must be nonzero"},
        {[&] { KsSortIOWrapper("unused", 0, 8192, true, true); },
         "Records need to have a length; length of zero is illegal"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MessageOf(c.body), c.message);
    }
    EXPECT_EQ(KsSort(criterion, nullptr, 7, 8, 0).GetFileCount(), 6u);
    EXPECT_EQ(KsSort(criterion, nullptr, 8, 8, 0).GetCacheSize(), 8u * 8192);
}

TEST(KsSortTest, ConsolidatorChecksItsInputs) {
    KsSortRunConsolidator merger(2, 12);
    VectorInput shorter({}, 11), a({}, 12), b({}, 12), c({}, 12);
    EXPECT_EQ(MessageOf([&] { merger.AddInput(shorter); }),
              "Input has a record length of \"11\", but KsSortRunConsolidator is set for a "
              "record length of \"12\"");
    merger.AddInput(a);
    merger.AddInput(b);
    EXPECT_EQ(MessageOf([&] { merger.AddInput(c); }),
              "Consolidator only set up to handle at most 2 inputs");
    merger.SetCriterion(KsSortCKey(4));
    merger.LoadHeap();
    EXPECT_FALSE(merger.HasData());
}

TEST(KsSortTest, IOWrapperCountsRecordsAndReadsThemBackAfterFinish) {
    kstest::TempDir dir;
    std::string name = dir.File("run");
    kstest::WriteWholeFile(name, std::string(25, 'a'));
    KsSortIOWrapper file(name.c_str(), 12, 8192, true, false);
    EXPECT_EQ(file.GetRecordCount(), 2u);
    file.Clear();
    EXPECT_TRUE(file.IsAtEnd());
    file.PutNextRecord(12, MakeRecord(1, 2).data());
    file.PutNextRecord(12, MakeRecord(3, 4).data());
    file.Finish();
    std::string record(12, '\0');
    file.GetNextRecord(record.data());
    EXPECT_EQ(record, MakeRecord(1, 2));
    file.GetNextRecord(record.data());
    EXPECT_EQ(record, MakeRecord(3, 4));
    EXPECT_TRUE(file.IsAtEnd());
    EXPECT_EQ(kstest::ReadWholeFile(name), MakeRecord(1, 2) + MakeRecord(3, 4));
}

TEST(KsSortTest, LimitsKeepRecordsAndBuffersWithinTheBudget) {
    for (std::uint64_t memory : {std::uint64_t{1} << 20, std::uint64_t{64} << 20}) {
        KsSort::Limits limits = KsSort::LimitsFor(memory, 78, 8);
        std::uint64_t used =
            (std::uint64_t{limits.nodesInMemory} + 1) * (78 + sizeof(char*)) + limits.cacheSize;
        EXPECT_LE(used, memory);
        EXPECT_GT(used, memory * 9 / 10);
        EXPECT_GE(limits.cacheSize, 8u * 8192);
    }
    EXPECT_EQ(KsSort::LimitsFor(100, 78, 8).nodesInMemory, 4u);
}

}  // namespace
