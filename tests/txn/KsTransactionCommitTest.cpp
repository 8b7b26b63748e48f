#include <ctime>
#include <fstream>

#include "TxnTestSupport.h"
#include "core/KsByteOrder.h"
#include "io/KsIOLockGuard.h"

namespace {

using kstest::Content;
using kstest::MakeRecord;

class Commit : public kstest::TxnTableTest {
protected:
    // The status characters of the transaction's logged actions; their texts go to `texts`.
    std::string Marks(const KsTimestamp& id) {
        std::string marks;
        texts.clear();
        Log().ForEachAction(id, [&](KsRecordActionListWrapper& action) {
            marks += action.GetStatus();
            texts.push_back(action.GetText());
            return false;
        });
        return marks;
    }
    std::vector<std::string> texts;
};

// An empty transaction commits; one dropped uncommitted ends rolled back; a committed one
// stays committed with its actions marked.
TEST_F(Commit, CommittedSurvivesTheTransactionAndUncommittedEndsRolledBack) {
    Append(7, "seven");
    auto empty = Appends(0);
    empty->Commit();
    EXPECT_EQ(StatusOf(empty->GetIdentity()), 'C');
    KsTimestamp id = Appends(2)->GetIdentity();
    EXPECT_EQ(StatusOf(id), 'R');
    {
        auto transaction = Appends(2);
        Add(*transaction, KsModifyAction(*MakeRecord(*table, 8, "eight"), 1));
        id = transaction->GetIdentity();
        EXPECT_EQ(transaction->GetActionCount(), 3U);
        transaction->Commit();
        EXPECT_EQ(transaction->GetActionCount(), 0U);
        EXPECT_EQ(kstest::MessageOf([&] { transaction->Rollback(); }),
                  "Cannot rollback a transaction which is \"Committed\"");
    }
    EXPECT_EQ(StatusOf(id), 'C');
    EXPECT_EQ(Marks(id), "KKK");
    EXPECT_EQ(Content(*table), "8|eight;1|x;2|x");
    EXPECT_EQ(InverseFiles(), 0);
}

// Commits through one open reuse one inverse file: each empties it and writes the header
// naming the transaction (its created day number and milliseconds) and its entries, which
// stay until the next commit; a second commit on one committer is refused and writes
// nothing; the file goes when the table closes.
TEST_F(Commit, OneInverseFileServesEveryCommitAndGoesWithTheTable) {
    Append(1, "one");
    std::string name;
    for (int round = 0; round < 3; ++round) {
        KsTransactionNew transaction(*table, 1, "reuse");
        Add(transaction, KsModifyAction(*MakeRecord(*table, 10 + round, "m"), 1));
        auto committer = Log().BeginCommission(transaction.GetIdentity());
        committer->Commit(KsNullProgress::Instance());
        auto files = InverseBytes();
        ASSERT_EQ(files.size(), 1U);
        name = round == 0 ? files[0].first : name;
        EXPECT_EQ(files[0].first, name) << round;
        const std::string& bytes = files[0].second;
        ASSERT_GT(bytes.size(), 24U);
        EXPECT_EQ(bytes.substr(0, 8), "Inverses");
        const KsTimestamp& id = transaction.GetIdentity();
        EXPECT_EQ(KsByteOrder::LoadLittle<std::uint32_t>(bytes.data() + 8),
                  id.GetJulianDayFromCalendarStart());
        EXPECT_EQ(KsByteOrder::LoadLittle<std::uint32_t>(bytes.data() + 12),
                  id.GetTimeInMilliseconds());
        EXPECT_EQ(bytes[16], 'K');  // one entry, after the header: the last commit's went
        EXPECT_EQ(KsByteOrder::LoadLittle<std::uint64_t>(bytes.data() + bytes.size() - 8), 16U);
        EXPECT_EQ(kstest::ClassAndMessageOf([&] { committer->Commit(KsNullProgress::Instance()); }),
                  "KsFileTransactionCommiter: The commit failed because the transaction has "
                  "already been committed.");
        committer.reset();
        EXPECT_EQ(InverseBytes().at(0).second, bytes) << round;
        EXPECT_EQ(InverseFiles(), 0) << round;
    }
    EXPECT_EQ(Content(*table), "12|m");
    table->Close();
    EXPECT_EQ(InverseFiles(true), 0);
}

// An open for writing deletes unapplied an inverse file whose header names a transaction
// that ended (its emptying was lost), one cut inside its header and an empty one; it leaves
// alone one that another opener holds locked and a file only shaped like an inverse file.
TEST_F(Commit, RecoveryAppliesOnlyFilesOfCommitsStillCommitting) {
    Append(1, "one");
    std::string stale;
    {
        KsTransactionNew transaction(*table, 1, "stale");
        Add(transaction, KsModifyAction(*MakeRecord(*table, 2, "two"), 1));
        Log().BeginCommission(transaction.GetIdentity())->Commit(KsNullProgress::Instance());
        stale = InverseBytes().at(0).second;
    }
    const std::string contents[] = {stale, stale.substr(0, 15), "", stale};
    KsTimestamp made;
    made.SetYear(2001);
    std::string name;
    for (std::uint16_t day = 1; day <= 4; ++day) {
        made.SetDay(day);
        name = KsFileTransactionCommitter::InverseFileName(*table, made).GetCString();
        std::ofstream(name, std::ios::binary) << contents[day - 1];
    }
    const std::string other = name.substr(0, name.size() - 21) + "notes.kbc";
    std::ofstream(other) << stale;
    table->Close();
    auto holder = KsIOFactory::Default().Open(name.c_str(), IO_READ | IO_WRITE);
    KsIOLockGuard lock(*holder, LOCK_WRITE, 0, 0);
    table->Open(Name().c_str(), IO_READ | IO_WRITE);
    EXPECT_TRUE(Log().GetRecovered().empty());
    EXPECT_EQ(Content(*table), "2|two");
    EXPECT_EQ(InverseBytes().size(), 2U);
    EXPECT_TRUE(std::filesystem::exists(name) && std::filesystem::exists(other));
}

// A cancel after the third of five actions undoes three, newest first.
TEST_F(Commit, CancelAfterTheThirdOfFiveUndoesThreeNewestFirst) {
    Append(7, "seven");
    auto transaction = Appends(5);
    kstest::RecordingProgress progress;
    progress.stopAtQuestion = 3;
    EXPECT_STREQ(kstest::CaughtError<KsCommissionCanceled>([&] {
                     transaction->Commit(progress);
                 }).GetErrorMessage(),
                 "The commit to table \"survey\" was canceled by the user");
    EXPECT_EQ(Marks(transaction->GetIdentity()), "RRRKK");
    EXPECT_EQ(StatusOf(transaction->GetIdentity()), 'R');
    EXPECT_EQ(Content(*table), "7|seven");
    EXPECT_EQ(InverseFiles(), 0);
}

// Every way a commit can fail, with the rollback working or failing too: the second of an
// append, a modify and an append fails ('a'), the progress's first step throws a library
// error ('1') or an int ('2') or cancels ('3'), and the listener refuses deletions so that
// no append can be undone ('u').
TEST_F(Commit, FailuresAreUndoneAndReportedWithTheirMessages) {
    const std::string suspect =
        " and a rollback could not be performed.\n\nYou should consider the data in table "
        "\"survey\" suspect and should probably restore from a backup.";
    const std::string threw = "The commit failed because the progress threw \"progress broke\"";
    const std::pair<std::string, std::string> rows[] = {
        {"a", "The commit failed because \"%s\""},
        {"au", "The commit failed because \"%s\"" + suspect},
        {"2", "The commit failed for an unknown reason"},
        {"2u", "The commit failed for an unknown reason" + suspect},
        {"1", threw},
        {"1u", threw + suspect},
        {"3u", "The commit to table \"survey\" was cancelled by the user" + suspect},
    };
    for (const auto& [how, message] : rows) {
        SCOPED_TRACE(how);
        const bool failingAction = how[0] == 'a', failingUndo = how.back() == 'u';
        Recreate();
        table->AddActionListener(*listener);
        Append(7, "seven");
        KsTransactionNew transaction(*table, 1, "failing");
        Add(transaction, KsAppendAction(*MakeRecord(*table, 1, "a")));
        Add(transaction, KsModifyAction(*MakeRecord(*table, 2, "b"), failingAction ? 99 : 1));
        Add(transaction, KsAppendAction(*MakeRecord(*table, 3, "c")));
        kstest::FailingProgress progress(how[0]);
        listener->failOn = failingUndo ? kKsActionDeleted : -1;
        auto commit = [&] { transaction.Commit(progress); };
        std::string error = failingUndo
                                ? kstest::CaughtError<KsRollbackFailure>(commit).GetErrorMessage()
                                : kstest::CaughtError<KsCommitFailure>(commit).GetErrorMessage();
        // The first append is undone unless the listener refuses; the modify fails or not.
        char end = failingUndo ? 'F' : 'R';
        EXPECT_EQ(Marks(transaction.GetIdentity()), end + std::string(failingAction ? "FK" : "KK"));
        std::string expected = message;
        if (failingAction) {
            expected.replace(expected.find("%s"), 2, texts[1]);
        }
        EXPECT_EQ(error, expected);
        EXPECT_EQ(StatusOf(transaction.GetIdentity()), end);
        EXPECT_EQ(Content(*table), failingUndo ? "7|seven;1|a" : "7|seven");
        EXPECT_EQ(texts[0].empty(), !failingUndo);
        EXPECT_EQ(InverseFiles(), 0);
        table->RemoveActionListener(*listener);
    }
}

// Modifies alone save their inverses in one step; a record changed twice comes back whole.
TEST_F(Commit, ModifiesAloneAreUndoneToTheFirstContent) {
    Append(7, "seven");
    Append(8, "eight");
    for (std::int32_t last : {99, 2}) {
        KsTransactionNew transaction(*table, 1, "modifies");
        Add(transaction, KsModifyAction(*MakeRecord(*table, 1, "a"), 1));
        Add(transaction, KsModifyAction(*MakeRecord(*table, 2, "b"), 1));
        Add(transaction, KsModifyAction(*MakeRecord(*table, 3, "c"), last));
        EXPECT_EQ(kstest::MessageOrEmpty([&] { transaction.Commit(); }).empty(), last == 2);
        EXPECT_EQ(Marks(transaction.GetIdentity()), last == 2 ? "KKK" : "RRF");
        EXPECT_EQ(Content(*table), last == 2 ? "2|b;3|c" : "7|seven;8|eight");
    }
    EXPECT_EQ(InverseFiles(), 0);
}

// A file that fails at any of its writes leaves the table as it was or as committed, the
// log saying which, and no inverse file. The first run of each kind of call counts them.
TEST_F(Commit, WriteFailuresAnywhereLeaveTheTableBeforeOrAfter) {
    using kstest::FaultOp;
    kstest::FaultInjectingFactory factory;
    int counted = 0;
    for (FaultOp op : {FaultOp::kWrite, FaultOp::kWriteTo, FaultOp::kFlush, FaultOp::kTruncate}) {
        for (int n = 0, calls = 0; n <= calls; ++n) {
            Recreate(factory);
            Append(7, "seven");
            auto transaction = Appends(3);
            factory.Plan().Reset();
            factory.Plan().Fail(op, n, EIO);  // none fails when n is 0
            std::string error = kstest::MessageOrEmpty([&] { transaction->Commit(); });
            calls = n == 0 ? factory.Plan().Calls(op) : calls;
            counted += n == 0 ? calls : 0;
            KsTimestamp id = transaction->GetIdentity();
            transaction.reset();
            table->Open(Name().c_str(), IO_READ | IO_WRITE);  // finishes what a failure left
            std::string outcome = StatusOf(id) + Content(*table);
            EXPECT_TRUE(outcome == "C7|seven;1|x;2|x;3|x" || (n > 0 && outcome == "R7|seven") ||
                        (n > 0 && outcome == "F7|seven"))
                << n << ": " << outcome << " " << error;
            EXPECT_EQ(InverseFiles(), 0) << n;
        }
    }
    EXPECT_GE(counted, 8);
}

// Logging and committing n actions takes time in proportion to n. Processor time of this
// process is compared between two sizes of one run, so a loaded machine slows both alike;
// work that grows with the square of n misses the bound by far.
TEST_F(Commit, TimeGrowsInProportionToTheActions) {
    const int records = 40, small = 8 * records, large = 4 * small;
    for (int id = 1; id <= records; ++id) {
        Append(id, "r");
    }
    // Logs and commits `count` modifies, the i-th giving record i % records + 1 the id
    // `first` + i, checks that each record holds its last, and returns the processor
    // seconds the commit took.
    auto commitModifies = [&](int count, int first) {
        std::clock_t start = std::clock();
        KsTransactionNew transaction(*table, 1, "scale");
        for (int i = 0; i < count; ++i) {
            Add(transaction, KsModifyAction(*MakeRecord(*table, first + i, "m"), i % records + 1));
        }
        transaction.Commit();
        const double took = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
        std::string expected;
        for (int n = 0; n < records; ++n) {
            expected += (n > 0 ? ";" : "") + std::to_string(first + count - records + n) + "|m";
        }
        EXPECT_EQ(Content(*table), expected);
        return took;
    };
    double smallTime = commitModifies(small, 1000), largeTime = commitModifies(large, 5000);
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
