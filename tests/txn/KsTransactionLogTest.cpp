#include "TxnTestSupport.h"
#include "txn/KsFileTransactionStatus.h"
#include "txn/KsTransactionListener.h"

namespace {

using kstest::MakeRecord;
using kstest::MessageOf;

using TxnLog = kstest::TxnTableTest;

// Identities created in one millisecond are made unique by adding milliseconds; the log
// lists them newest first. An unknown one is not found; a transaction dropped uncommitted
// ends Rolled Back, and so does, at the next open, a commit begun that wrote nothing. A
// damaged or cut log then stops opening for writing with its name, is left as it is, and the
// table still opens for reading.
TEST_F(TxnLog, IdentitiesUncommittedTransactionsAndDamage) {
    std::vector<std::string> created, listed;
    KsTimestamp id;
    for (std::uint32_t i = 0; i < 40; ++i) {
        id = Log().CreateTransaction(i, "t");
        created.insert(created.begin(), id.GetDigits());
        EXPECT_TRUE(i == 0 || created[0] > created[1]) << i;
    }
    Log().ForEach([&](const KsFileTransactionStatus& status, std::uint32_t actions) {
        EXPECT_EQ(status.GetNumber() + actions, 39 - listed.size());
        listed.push_back(status.GetCreated().GetDigits());
    });
    EXPECT_EQ(listed, created);
    EXPECT_EQ(MessageOf([&] { Log().Stabilize(KsTimestamp()); }), "Transaction not found");
    KsTimestamp dropped = KsTransactionNew(*table, 1, "dropped").GetIdentity();
    EXPECT_EQ(StatusOf(dropped), 'R');
    Log().BeginCommission(id);
    table->Close();
    EXPECT_EQ(MessageOf([&] { table->GetTransactionLog(); }),
              "No transaction log available; file is either not open or read-only.");
    table->Open(Name().c_str(), IO_READ | IO_WRITE);
    EXPECT_EQ(StatusOf(id), 'R');
    Append(7, "seven");
    table->Close();
    const std::string log = dir.File("survey.klg"), good = kstest::ReadWholeFile(log);
    for (const std::string& damaged :
         {good.substr(0, good.size() - 20), "Xi" + good.substr(2), good.substr(0, 12)}) {
        kstest::WriteWholeFile(log, damaged);
        std::string error = MessageOf([&] { table->Open(Name().c_str(), IO_READ | IO_WRITE); });
        EXPECT_EQ(error.rfind("The transaction log \"" + log + "\" cannot be used: ", 0), 0U)
            << error;
        EXPECT_EQ(kstest::ReadWholeFile(log), damaged);
        table->Open(Name().c_str(), IO_READ);
        EXPECT_EQ(kstest::Content(*table), "7|seven");
        EXPECT_EQ(MessageOf([&] { table->StartTransaction(1, "t"); }),
                  "New transactions require the ability to create a log file");
        table->Close();
    }
}

// The log remembers where a transaction stands and what it logged. Another opener makes a
// newer transaction (the remembered node no longer heads the log) and rewrites a logged
// action: the next action still joins the transaction, and the commit carries out what the
// log holds, not what this process wrote there. Then a batch holds the log from before its
// transaction begins to after it ends: the locks of every step inside only count, so no
// other process gets the log in between, and the steps read the log's pages from the one
// cache of the held lock. The guard keeps the log's file until it goes, even past the
// table's close.
TEST_F(TxnLog, ABatchKeepsOthersOutAndOtherOpenersChangesBetweenActionsAreSeen) {
    Append(1, "one");
    Append(2, "two");
    const std::string log = Log().GetFileName();
    auto othersGetTheLog = [&] {
        return kstest::RunInChild([&] {
            KsIO file(log.c_str(), IO_READ | IO_WRITE);
            return file.TryLock(LOCK_WRITE, 0, 0) ? 1 : 0;
        });
    };
    auto mine = std::make_unique<KsTransactionNew>(*table, 1, "mine");
    Add(*mine, 'M', 1, 1, "mine");
    const KsTimestamp id = mine->GetIdentity();
    ASSERT_EQ(kstest::RunInChild([&] {
                  CBFFile other;
                  other.Open(Name().c_str(), IO_READ | IO_WRITE);
                  KsFileTransactionLog::Of(other).ForEachAction(
                      id, [&](KsRecordActionListWrapper& logged) {
                          logged.Reset(
                              std::make_unique<KsModifyAction>(*MakeRecord(other, 1, "child"), 1));
                          return true;
                      });
                  KsTransactionNew(other, 2, "theirs");  // heads the log from now on
                  return 0;
              }),
              0);
    Add(*mine, 'M', 2, 2, "later");
    mine->Commit();
    mine.reset();
    EXPECT_EQ("1|child;2|later", kstest::Content(*table));
    {
        KsFileTransactionLog::WholeLock hold = Log().LockAll();
        {
            KsTransactionNew batch(*table, 1, "batch");
            Add(batch, 'M', 1, 1, "first");
            EXPECT_EQ(0, othersGetTheLog());
            Add(batch, 'M', 2, 2, "second");
            batch.Commit();
        }
        table->Close();
        EXPECT_EQ(0, othersGetTheLog());
    }
    EXPECT_EQ(1, othersGetTheLog());
    table->Open(Name().c_str(), IO_READ | IO_WRITE);
    EXPECT_EQ("1|first;2|second", kstest::Content(*table));
    std::string seen;  // newest first: description, status, actions
    Log().ForEach([&](const KsFileTransactionStatus& status, std::uint32_t actions) {
        seen += status.GetDescription() + (status.GetStatus() + std::to_string(actions)) + ";";
    });
    EXPECT_EQ(seen, "batchC2;theirsR0;mineC2;");
}

// Writes `from`, reads the bytes back into `to` and returns them in hexadecimal.
template <class Element>
std::string RoundTrip(const Element& from, Element& to) {
    kstest::MemoryStream stream;
    from.Write(stream);
    kstest::MemoryStream input(stream.Bytes());
    to.Read(input);
    return kstest::Hex(stream.Bytes(), 1);
}

// A status element and an action element (status, the action's stream form, text), read
// back; damaged and cut elements name what is wrong.
TEST_F(TxnLog, ElementBytesAndReadingBack) {
    KsTimestamp created;
    created.SetJulianDayFromCalendarStart(0x000B42D0);
    created.SetTimeInMilliseconds(0x00050607);
    KsFileTransactionStatus status(0x0A0B0C0D, "abc", created), back;
    // version, 'K', created day and milliseconds, finished (day 1, 0 ms), number, "abc".
    const char* golden =
        "1C 02 4B D0 42 0B 00 07 06 05 00 01 00 00 00 00 00 00 00 0D 0C 0B 0A 61 62 63 00";
    EXPECT_EQ(RoundTrip(status, back), golden);
    EXPECT_EQ(RoundTrip(back, status), golden);  // every field was read back
    KsRecordActionListWrapper element(*table, KsDeleteAction(0x01020304)), action(*table);
    EXPECT_EQ(RoundTrip(element, action), "4B 44 04 03 02 01 00");
    element.SetStatus('F');
    element.SetText("ab");
    EXPECT_EQ(RoundTrip(element, action), "46 44 04 03 02 01 61 62 00");
    EXPECT_EQ(RoundTrip(action, element), "46 44 04 03 02 01 61 62 00");
    for (auto [bytes, message] :
         {std::pair{std::string("\x1D\x02K", 3), "Unknown version"},
          {std::string("\x1C\x02X", 3), "Status character 'X' (88) is not recognized"},
          {std::string("\x1C\x02k\x01\x02", 5),
           "Unable to perform a required read at offset 5 of \"memory\""}}) {
        kstest::MemoryStream damaged(bytes);
        EXPECT_EQ(MessageOf([&] { back.Read(damaged); }), message);
    }
    kstest::MemoryStream bad(std::string("X\x44\x04\x03\x02\x01", 6));
    EXPECT_EQ(MessageOf([&] { action.Read(bad); }),
              "Action status character 'X' (88) is not recognized");
}

std::string trace;  // what the recorders heard

// Adds its name to `trace` at the start of a transaction, with + or - when it leaves a file
// committed or not.
struct Recorder : KsTransactionListener {
    explicit Recorder(char n) : name(n) {}
    void TLTransactionBegun(KsTransaction*) override {
        trace += name;
        std::exchange(onBegun, [] {})();
    }
    void TLFileLeft(KsTransaction*, KsFile*, bool committed) override {
        trace += {name, committed ? '+' : '-'};
    }
    char name;
    std::function<void()> onBegun = [] {};
};

// The table's transaction slots, old-style transactions carried out at once and new-style
// ones logged; the process-wide listener hears of each, highest priority first, and takes
// registrations made while it forwards once it is done.
TEST_F(TxnLog, TableSlotsAndOldTransactions) {
    Recorder a('a'), b('b'), c('c'), d('d');
    auto& all = KsMultiTransactionListener::Instance();
    all.Register(a, 1);
    all.Register(b, 5);
    all.Register(c, 1);
    b.onBegun = [&] {
        all.Register(d, 10);
        all.Unregister(a);
    };
    KsTransaction* old = table->BeginTransaction(true);
    EXPECT_EQ(table->GetWriteLockCount(), 1);
    EXPECT_EQ(MessageOf([&] { table->BeginTransaction(false); }),
              "Transaction already in process.  Only one transaction allowed at a time.");
    table->AppendRecord(old, *MakeRecord(*table, 1, "now"));
    EXPECT_EQ(kstest::Content(*table), "1|now");  // carried out at once
    EXPECT_EQ(MessageOf([&] { old->Rollback(); }), "Old-style transactions cannot be rolled back");
    auto other = kstest::CreateTable(dir.File("other.cbf"), kstest::SampleFields());
    KsAppendAction append(*MakeRecord(*table, 2, "x"));
    EXPECT_EQ(MessageOf([&] { old->AddAction(*other, append); }),
              "This transaction was created for \"survey\", but was used on \"other\"");
    table->EndTransaction(old);
    EXPECT_EQ(table->GetWriteLockCount(), 0);
    for (KsTransaction* ended : {static_cast<KsTransaction*>(nullptr), old}) {
        EXPECT_EQ(MessageOf([&] { table->EndTransaction(ended); }), "No transaction in process.");
    }
    EXPECT_EQ(MessageOf([&] { table->AppendRecord(nullptr, *MakeRecord(*table, 2, "x")); }),
              "NULL transaction pointer passed to AppendRecord()");
    table->Lock(LOCK_READ);
    EXPECT_EQ(MessageOf([&] { table->BeginTransaction(true); }),
              "File is under a shared lock; no writes are allowed.");
    table->Unlock(LOCK_READ);
    KsTransaction* fresh = table->StartTransaction(4, "saves");
    table->RegisterTransaction(fresh);
    table->SaveRecord(fresh, 1, *MakeRecord(*table, 1, "later"));
    table->AppendRecord(fresh, *MakeRecord(*table, 2, "two"));
    EXPECT_EQ(kstest::Content(*table), "1|now");  // logged only
    fresh->Commit();
    EXPECT_EQ(kstest::Content(*table), "1|later;2|two");
    table->EndTransaction(fresh);
    EXPECT_EQ(table->GetActiveTransaction(), nullptr);
    EXPECT_EQ(MessageOf([&] { table->EndTransaction(fresh); }), "No transaction in process.");
    EXPECT_EQ(trace, "bacd+b+c+dbcd+b+c+");
    for (Recorder* r : {&b, &c, &d}) {
        all.Unregister(*r);
    }
    EXPECT_EQ(all.GetCount(), 0U);
}

// Every state a transaction can reach, the operation tried in it and the state after it
// or the message. The operations: b(uilding), c(ommitting), f(ailing), r(ollback),
// q(uiet rollback), s(tabilize); the path to the state tried comes first.
TEST(KsFileTransactionStatus, TransitionsFromEveryReachableState) {
    KsTimestamp when;
    when.SetYear(2024);
    std::vector<std::pair<std::string, const char*>> rows = {
        {"b", "Building"},    {"c", "Committing"},   {"bc", "Committing"},   {"cf", "Failed"},
        {"r", "Rolled Back"}, {"cr", "Rolled Back"}, {"csr", "Rolled Back"}, {"cfq", "Failed"},
        {"bq", "Building"},   {"bs", "Ready"},       {"cs", "Committed"}};
    rows.insert(rows.end(), {{"bb", "Cannot begin building when in \"Building\" state"},
                             {"cb", "Cannot begin building when in \"Committing\" state"},
                             {"csc", "Cannot begin committing when in \"Committed\" state"},
                             {"f", "Cannot begin failing when in \"Ready\" state"},
                             {"cfr", "Cannot rollback a transaction which is \"Failed\""},
                             {"br", "Cannot rollback a transaction which is \"Building\""},
                             {"s", "Unable to examine transaction in state \"Ready\""},
                             {"rs", "Unable to examine transaction in state \"Rolled Back\""}});
    for (const auto& [path, result] : rows) {
        KsFileTransactionStatus status(1, "d", KsTimestamp());
        char from = 0;
        std::string error = kstest::MessageOrEmpty([&] {
            for (std::size_t i = 0; i < path.size(); ++i) {
                KsTimestamp at = i + 1 < path.size() ? KsTimestamp() : when;
                from = status.GetStatus();
                path[i] == 'b'   ? status.Building()
                : path[i] == 'c' ? status.Committing()
                : path[i] == 'f' ? status.Failing(at)
                : path[i] == 's' ? status.Stabilize(at)
                                 : status.Rolledback(at, path[i] == 'q');
            }
        });
        EXPECT_EQ(error.empty() ? std::string(status.GetStatusString()) : error, result) << path;
        bool ends = error.empty() && from != status.GetStatus() &&
                    std::string("FRC").find(status.GetStatus()) != std::string::npos;
        EXPECT_EQ(status.GetFinished() == when, ends) << path;
    }
}

}  // namespace
