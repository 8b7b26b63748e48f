#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TxnTestSupport.h"
#include "support/KsErrorCapture.h"
#include "txn/KsFileTransactionCommitter.h"

namespace {

using kstest::MakeRecord;

class Commit : public kstest::TxnTableTest {
protected:
    // The status characters of the transaction's logged actions, and their texts.
    std::string Marks(const KsTimestamp& id, std::vector<std::string>* texts = nullptr) {
        std::string marks;
        Log().ForEachAction(id, [&](KsRecordActionListWrapper& action) {
            marks += action.GetStatus();
            if (texts != nullptr) {
                texts->push_back(action.GetText());
            }
            return false;
        });
        return marks;
    }
    void Add(KsTransactionNew& transaction, KsRecordAction&& action) {
        transaction.AddAction(*table, action);
    }
};

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
    EXPECT_EQ(kstest::Content(*table), "8|eight;1|x;2|x");
    EXPECT_EQ(InverseFiles(), 0);
}

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
    EXPECT_EQ(kstest::Content(*table), "7|seven");
    EXPECT_EQ(InverseFiles(), 0);
}

// Every way a commit can fail, with the rollback working or failing too.
TEST_F(Commit, FailuresAreUndoneAndReportedWithTheirMessages) {
    const std::string suspect =
        " and a rollback could not be performed.\n\nYou should consider the data in table "
        "\"survey\" suspect and should probably restore from a backup.";
    struct Row {
        bool failingAction;   // the second action modifies a record that does not exist
        bool failingUndo;     // the listener refuses deletions: no append can be undone
        int progress;         // its first step throws 1: a KsException, 2: an int; 3: cancels
        std::string message;  // "%s" stands for the failed action's message
    };
    const std::string threw = "The commit failed because the progress threw \"progress broke\"";
    const Row rows[] = {
        {true, false, 0, "The commit failed because \"%s\""},
        {true, true, 0, "The commit failed because \"%s\"" + suspect},
        {false, false, 2, "The commit failed for an unknown reason"},
        {false, true, 2, "The commit failed for an unknown reason" + suspect},
        {false, false, 1, threw},
        {false, true, 1, threw + suspect},
        {false, true, 3, "The commit to table \"survey\" was cancelled by the user" + suspect},
    };
    for (const Row& row : rows) {
        Recreate();
        table->AddActionListener(*listener);
        Append(7, "seven");
        KsTransactionNew transaction(*table, 1, "failing");
        Add(transaction, KsAppendAction(*MakeRecord(*table, 1, "a")));
        Add(transaction, KsModifyAction(*MakeRecord(*table, 2, "b"), row.failingAction ? 99 : 1));
        Add(transaction, KsAppendAction(*MakeRecord(*table, 3, "c")));
        kstest::FailingProgress progress;
        progress.fails = row.progress == 3 ? 0 : row.progress;
        progress.stopAtQuestion = row.progress == 3 ? 1 : 0;
        listener->failOn = row.failingUndo ? kKsActionDeleted : -1;
        std::string message;
        try {
            transaction.Commit(progress);
        } catch (const KsCommitFailure& error) {
            message = "commit: " + std::string(error.GetErrorMessage());
        } catch (const KsRollbackFailure& error) {
            message = "rollback: " + std::string(error.GetErrorMessage());
        }
        listener->failOn = -1;
        std::vector<std::string> texts;
        // The first append is undone unless the listener refuses; the modify fails or not.
        char end = row.failingUndo ? 'F' : 'R';
        EXPECT_EQ(Marks(transaction.GetIdentity(), &texts),
                  end + std::string(row.failingAction ? "FK" : "KK"))
            << row.message;
        std::string expected = row.message;
        if (expected.find("%s") != std::string::npos) {
            expected.replace(expected.find("%s"), 2, texts[1]);
        }
        EXPECT_EQ(message, (row.failingUndo ? "rollback: " : "commit: ") + expected);
        EXPECT_EQ(StatusOf(transaction.GetIdentity()), end) << row.message;
        EXPECT_EQ(kstest::Content(*table), row.failingUndo ? "7|seven;1|a" : "7|seven");
        EXPECT_EQ(texts[0].empty(), !row.failingUndo) << row.message;
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
        if (last == 99) {
            EXPECT_THROW(transaction.Commit(), KsCommitFailure);
            EXPECT_EQ(Marks(transaction.GetIdentity()), "RRF");
            EXPECT_EQ(kstest::Content(*table), "7|seven;8|eight");
        } else {
            transaction.Commit();
            EXPECT_EQ(kstest::Content(*table), "2|b;3|c");
        }
    }
    EXPECT_EQ(InverseFiles(), 0);
}

TEST_F(Commit, SecondCommitOnOneCommitterIsRefused) {
    auto transaction = Appends(1);
    auto committer = Log().BeginCommission(transaction->GetIdentity());
    committer->Commit(KsNullProgress::Instance());
    EXPECT_EQ(InverseFiles(), 1);  // until the committer goes
    KsCommitFailure twice = kstest::CaughtError<KsCommitFailure>(
        [&] { committer->Commit(KsNullProgress::Instance()); });
    EXPECT_EQ(std::string(twice.GetClassName()) + ": " + twice.GetErrorMessage(),
              "KsFileTransactionCommiter: The commit failed because the transaction has already "
              "been committed.");
    committer.reset();
    EXPECT_EQ(InverseFiles(), 0);
    EXPECT_EQ(table->GetNumRecords(), 1);
}

// A file that fails at any of its writes leaves the table as it was or as committed, the
// log saying which, and no inverse file.
TEST_F(Commit, WriteFailuresAnywhereLeaveTheTableBeforeOrAfter) {
    kstest::FaultInjectingFactory counting;
    auto run = [&](kstest::FaultInjectingFactory& factory, kstest::FaultOp op,
                   int n) -> std::string {
        Recreate(factory);
        Append(7, "seven");
        auto transaction = Appends(3);
        factory.Plan().Reset();
        if (n > 0) {
            factory.Plan().Fail(op, n, EIO);
        }
        try {
            transaction->Commit();
        } catch (const KsException&) {
        }
        KsTimestamp id = transaction->GetIdentity();
        transaction.reset();
        // Opening again finishes what a failure left to do.
        table->Open(Name().c_str(), IO_READ | IO_WRITE);
        return std::string(1, StatusOf(id)) + kstest::Content(*table);
    };
    run(counting, kstest::FaultOp::kWrite, 0);
    using kstest::FaultOp;
    ASSERT_GE(counting.Plan().Calls(FaultOp::kWrite) + counting.Plan().Calls(FaultOp::kWriteTo), 6);
    for (FaultOp op : {FaultOp::kWrite, FaultOp::kWriteTo, FaultOp::kFlush, FaultOp::kTruncate}) {
        for (int n = 1; n <= counting.Plan().Calls(op); ++n) {
            kstest::FaultInjectingFactory failing;
            std::string outcome = run(failing, op, n);
            EXPECT_TRUE(outcome == "C7|seven;1|x;2|x;3|x" || outcome == "R7|seven" ||
                        outcome == "F7|seven")
                << "write " << n << ": " << outcome;
            EXPECT_EQ(InverseFiles(), 0) << n;
        }
    }
}

}  // namespace
