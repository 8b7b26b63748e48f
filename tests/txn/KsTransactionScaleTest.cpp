// Large transactions: logging and committing n actions must take time in proportion to n.
// Processor time of this process is compared between two sizes of one run, so a loaded
// machine slows both alike; work that grows with the square of n misses the bound by far.

#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "TxnTestSupport.h"

namespace {

using kstest::MakeRecord;

constexpr int kRecords = 40;

class TxnScale : public kstest::TxnTableTest {
protected:
    TxnScale() {
        for (int id = 1; id <= kRecords; ++id) {
            Append(id, "r");
        }
    }
    // Logs and commits `count` modifies, the i-th giving record i % kRecords + 1 the id
    // `first` + i, and checks that each record holds its last; returns the processor
    // seconds the commit took.
    double CommitModifies(int count, int first) {
        std::clock_t start = std::clock();
        KsTransactionNew transaction(*table, 1, "scale");
        for (int i = 0; i < count; ++i) {
            Add(transaction, KsModifyAction(*MakeRecord(*table, first + i, "m"), i % kRecords + 1));
        }
        transaction.Commit();
        const double took = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
        std::string expected;  // `count` is a multiple of kRecords
        for (int n = 0; n < kRecords; ++n) {
            expected += (n > 0 ? ";" : "") + std::to_string(first + count - kRecords + n) + "|m";
        }
        EXPECT_EQ(kstest::Content(*table), expected);
        return took;
    }
};

TEST_F(TxnScale, TimeGrowsInProportionToTheActions) {
    const int small = 8 * kRecords, large = 4 * small;
    double smallTime = CommitModifies(small, 1000);
    double largeTime = CommitModifies(large, 5000);
    // Linear work takes about 4 times as long; quadratic work about 16 times.
    EXPECT_LT(largeTime, 8 * smallTime) << smallTime << " s, then " << largeTime << " s";
    std::vector<std::uint32_t> counts;
    Log().ForEach([&](const KsFileTransactionStatus& status, std::uint32_t actions) {
        EXPECT_EQ(status.GetStatus(), 'C');
        counts.push_back(actions);
    });
    EXPECT_EQ(counts, (std::vector<std::uint32_t>{large, small}));
}

}  // namespace
