#include <fstream>
#include <stdexcept>

#include "TxnTestSupport.h"
#include "io/KsIOLockGuard.h"

namespace {

using kstest::MakeRecord;

// Refuses the deletion of records while `refuse` is set, so that no append can be undone,
// and a change of record 2 while `refuseRecord2` is.
struct DeletionRefuser : KsFileListener {
    bool refuse = false;
    bool refuseRecord2 = false;
    void ActionHandler(KsFile&, int action, std::int32_t record) override {
        if ((refuse && action == kKsActionDeleted) ||
            (refuseRecord2 && action == kKsActionModified && record == 2)) {
            KsException::Generate("listener refused", "DeletionRefuser");
        }
    }
};

// A progress object whose first step throws a library error ('1'), an int ('2') or a standard
// exception ('4'), or that cancels at its third question ('3').
struct FailingProgress : KsProgressInterface {
    explicit FailingProgress(char fails) : how(fails) {}
    void StepBy(std::int32_t amount) override {
        if (amount > 0 && how == '4') {
            throw std::runtime_error("display gone");
        }
        if (amount > 0 && (how == '1' || how == '2')) {
            how == '2' ? throw 7 : KsException::Generate("progress broke", "Progress");
        }
    }
    bool ShouldContinue() override { return how != '3' || ++questions < 3; }
    char how;
    int questions = 0;
};

// Run once when an inverse file (named "BC_...") is next synced.
std::function<void()> onInverseSync = [] {};

// Opens inverse files as files whose Sync runs onInverseSync.
struct HookedFactory : KsIOFactory {
    std::unique_ptr<KsIOInterface> Open(const char* name, int flags) override {
        struct HookedFile : KsIO {
            using KsIO::KsIO;
            void Sync() override {
                KsIO::Sync();
                std::exchange(onInverseSync, [] {})();
            }
        };
        return std::strstr(name, "/BC_") == nullptr ? KsIOFactory::Open(name, flags)
                                                    : std::make_unique<HookedFile>(name, flags);
    }
};

class Commit : public kstest::TxnTableTest {
protected:
    ~Commit() override { table.reset(); }  // before the listener and the factory go
    // Held by pointer: its destructor may throw.
    std::unique_ptr<DeletionRefuser> refuser = std::make_unique<DeletionRefuser>();
    HookedFactory hooked;
};

// Every way a commit ends, on a table holding 7 and 8: the actions, the i-th (from 1) of
// them P (append of i), M or N (modify of record 1 or 2 to i), X (modify of record 99,
// which fails) or Y (modify of record 2, which the listener refuses after the change); what
// else goes wrong (u: the listener refuses deletions, so no append can be undone; 1 to 4:
// the progress object, see FailingProgress; h: another writer sets
// record 2 to 0|D once the first inverse is saved, which is what its undo must restore); the
// transaction's status once it is gone (F: the error is a KsRollbackFailure, else a
// KsCommissionCanceled for a cancel, a KsCommitFailure for other failures), its actions'
// marks, the table and the error's message, whose %s is the text logged for X; a rollback
// that fails says why. Modifies alone save their inverses in one step.
TEST_F(Commit, EveryOutcomeIsLoggedAndUndoneOrKept) {
    const std::string base = "7|seven;8|eight", failed = "The commit failed because \"%s\"",
                      threw = "The commit failed because the progress threw \"progress broke\"",
                      unknown = "The commit failed for an unknown reason",
                      suspect =
                          " and a rollback could not be performed (The deletion of a record "
                          "failed with message \"listener refused\").\n\nYou should "
                          "consider the data in table \"survey\" suspect and should "
                          "probably restore from a backup.";
    const struct {
        const char *actions, *how;
        char status;
        const char* marks;
        std::string content, error;
    } rows[] = {
        {"", "", 'C', "", base, ""},
        {"PMP", "", 'C', "KKK", "2|M;8|eight;1|P;3|P", ""},
        {"MMN", "", 'C', "KKK", "2|M;3|N", ""},
        {"MMX", "", 'R', "RRF", base, failed},
        {"MYM", "", 'R', "RFK", base, failed},
        {"PXP", "", 'R', "RFK", base, failed},
        {"NPX", "h", 'R', "RRF", "7|seven;0|D", failed},
        {"PXP", "u", 'F', "FFK", base + ";1|P", failed + suspect},
        {"PMP", "2", 'R', "RKK", base, unknown},
        {"PMP", "2u", 'F', "FKK", base + ";1|P", unknown + suspect},
        {"PMP", "1", 'R', "RKK", base, threw},
        {"PMP", "1u", 'F', "FKK", base + ";1|P", threw + suspect},
        {"PMP", "4", 'R', "RKK", base,
         "The commit failed because the progress threw \"display gone\""},
        {"PPPPP", "3", 'R', "RRRKK", base,
         "The commit to table \"survey\" was canceled by the user"},
        {"PMPPP", "3u", 'F', "FRFKK", base + ";1|P;3|P",
         "The commit to table \"survey\" was cancelled by the user" + suspect},
    };
    for (const auto& row : rows) {
        const std::string code = row.actions;
        SCOPED_TRACE(code + row.how);
        Recreate(hooked);
        table->AddActionListener(*refuser);
        Append(7, "seven");
        Append(8, "eight");
        auto transaction = std::make_unique<KsTransactionNew>(*table, 1, "outcomes");
        for (int i = 0; i < static_cast<int>(code.size()); ++i) {
            const char kind = code[i];
            Add(*transaction, kind == 'P' ? 'P' : 'M',
                kind == 'M'                  ? 1
                : kind == 'N' || kind == 'Y' ? 2
                                             : 99,
                i + 1, std::string(1, kind).c_str());
        }
        EXPECT_EQ(transaction->GetActionCount(), code.size());
        FailingProgress progress(row.how[0]);
        refuser->refuse = std::strchr(row.how, 'u') != nullptr;
        refuser->refuseRecord2 = code.find('Y') != std::string::npos;
        if (row.how[0] == 'h') {
            onInverseSync = [&] { table->DataModify(2, *MakeRecord(*table, 0, "D")); };
        }
        auto run = [&] { transaction->Commit(progress); };
        std::string error =
            row.status == 'C'   ? kstest::MessageOrEmpty(run)
            : row.status == 'F' ? kstest::CaughtError<KsRollbackFailure>(run).GetErrorMessage()
            : row.how[0] == '3' ? kstest::CaughtError<KsCommissionCanceled>(run).GetErrorMessage()
                                : kstest::CaughtError<KsCommitFailure>(run).GetErrorMessage();
        EXPECT_EQ(transaction->GetActionCount(), 0U);
        if (error.empty()) {
            EXPECT_EQ(kstest::MessageOf([&] { transaction->Rollback(); }),
                      "Cannot rollback a transaction which is \"Committed\"");
        }
        const KsTimestamp id = transaction->GetIdentity();
        transaction.reset();
        std::string marks, expected = row.error;
        Log().ForEachAction(id, [&](KsRecordActionListWrapper& action) {
            marks += action.GetStatus();
            EXPECT_EQ(*action.GetText() == '\0', marks.back() != 'F') << marks;  // failures say why
            if (code[marks.size() - 1] == 'X' || code[marks.size() - 1] == 'Y') {
                expected.replace(expected.find("%s"), 2, action.GetText());
            }
            return false;
        });
        EXPECT_EQ(StatusOf(id), row.status);
        EXPECT_EQ(marks, row.marks);
        EXPECT_EQ(error, expected);
        EXPECT_EQ(kstest::Content(*table), row.content);
        table.reset();
        EXPECT_TRUE(InverseBytes().empty());
    }
}

// Commits through one open reuse one inverse file: each empties it and writes the header
// naming the transaction (its created day number and milliseconds) and its entries, which
// stay until the next commit; a second commit on one committer is refused and writes
// nothing. At an open for writing, inverse files whose header names a transaction that
// ended (their emptying was lost), cut inside their header or empty are deleted unapplied;
// one that another opener holds locked and a file only shaped like one are left alone.
TEST_F(Commit, InverseFilesServeEveryCommitAndOnlyCommittingOnesAreApplied) {
    Append(1, "one");
    std::string stale;
    for (int round = 0; round < 2; ++round) {
        KsTransactionNew transaction(*table, 1, "reuse");
        Add(transaction, 'M', 1, 10 + round, "m");
        auto committer = Log().BeginCommission(transaction.GetIdentity());
        committer->Commit(KsNullProgress::Instance());
        ASSERT_EQ(InverseBytes().size(), 1U);  // the one file of the table, reused
        stale = InverseBytes()[0].second;
        ASSERT_GT(stale.size(), 24U);
        std::string header = "Inverses" + std::string(8, '\0');
        KsByteOrder::StoreLittle(&header[8],
                                 transaction.GetIdentity().GetJulianDayFromCalendarStart());
        KsByteOrder::StoreLittle(&header[12], transaction.GetIdentity().GetTimeInMilliseconds());
        EXPECT_EQ(stale.substr(0, 16), header);
        EXPECT_EQ(stale[16], 'K');  // one entry, after the header: the last commit's went
        EXPECT_EQ(KsByteOrder::LoadLittle<std::uint64_t>(stale.data() + stale.size() - 8), 16U);
        EXPECT_EQ(kstest::ClassAndMessageOf([&] { committer->Commit(KsNullProgress::Instance()); }),
                  "KsFileTransactionCommiter: The commit failed because the transaction has "
                  "already been committed.");
        committer.reset();
        EXPECT_EQ(InverseBytes().at(0).second, stale);
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
    table->Close();  // deletes its own inverse file
    auto holder = KsIOFactory::Default().Open(name.c_str(), IO_READ | IO_WRITE);
    KsIOLockGuard lock(*holder, LOCK_WRITE, 0, 0);
    table->Open(Name().c_str(), IO_READ | IO_WRITE);
    EXPECT_TRUE(Log().GetRecovered().empty());
    EXPECT_EQ(kstest::Content(*table), "11|m");
    EXPECT_EQ(InverseBytes().size(), 2U);
    EXPECT_TRUE(std::filesystem::exists(name) && std::filesystem::exists(other));
}

// What a commit waits for and writes again, on a table of two records without indexes: a
// synced commit of modifies saves all their inverses in one step; one of other actions each
// inverse before its change and each change but a modify before the next inverse, and the
// table at the end; an inverse that was worked out right beforehand is written once (the
// inverse file is cut back only when the copy of moved records has served); unsynced,
// nothing is waited for.
TEST_F(Commit, ACommitWaitsForTheDeviceOnlyWhereItMust) {
    const struct {
        const char* actions;  // P: append, M: modify of record 1, D: delete of the last
        bool synced;
        int syncs;  // of files: the log once, then the inverse file and the table
        int cuts;   // of the inverse file and the table
    } rows[] = {
        {"MMM", true, 3, 0},  // the log, the three inverses, the table
        {"PPP", true, 8, 0},  // the log, each inverse and append, the table
        {"PMD", true, 7, 2},  // the last record cut off; the copy of it, once deleted
        {"MMM", false, 0, 0}, {"PPP", false, 0, 0},
    };
    kstest::FaultInjectingFactory factory;
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.actions) + (row.synced ? " synced" : ""));
        KsFileTransactionLog::SetSyncing(row.synced);
        Recreate(factory);
        Append(7, "seven");
        Append(8, "eight");
        auto transaction = std::make_unique<KsTransactionNew>(*table, 1, "syncs");
        int number = 0;
        for (char kind : std::string(row.actions)) {
            Add(*transaction, kind, kind == 'M' ? 1 : table->GetNumRecords(), ++number, "x");
        }
        factory.Plan().Reset();
        transaction->Commit();
        EXPECT_EQ(factory.Plan().Calls(kstest::FaultOp::kSync), row.syncs);
        EXPECT_EQ(factory.Plan().Calls(kstest::FaultOp::kTruncate), row.cuts);
        transaction.reset();
        table.reset();
    }
    KsFileTransactionLog::SetSyncing(true);
}

}  // namespace
