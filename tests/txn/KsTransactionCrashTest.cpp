#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <regex>
#include <thread>

#include "TxnTestSupport.h"
#include "core/KsByteOrder.h"
#include "index/KsIndex.h"
#include "platform/KsSystemError.h"
#include "support/ChildProcess.h"
#include "support/FaultInjectingFile.h"

namespace {

// Every point of a walk is visited, or every KESTREL_CRASH_STEP-th (a quick look, as when
// planted faults are counted); the sanitized build looks for faults of memory, not of
// crashes, and visits every eighth.
const int kWalkStep = [] {
    const char* step = std::getenv("KESTREL_CRASH_STEP");
#ifdef __SANITIZE_ADDRESS__
    const int standard = 8;
#else
    const int standard = 1;
#endif
    return step != nullptr && std::atoi(step) > 0 ? std::atoi(step) : standard;
}();

// The name a record of `id` holds: few distinct names, so that keys are shared.
std::string NameOf(int id) {
    return "n" + std::to_string(id % 7);
}

// The records of the table, or of its model, as "id|name".
std::vector<std::string> Records(KsFile& table) {
    std::vector<std::string> out;
    for (std::int32_t n = 1; n <= table.GetNumRecords(); ++n) {
        out.push_back(kstest::TextsOf(table, n));
    }
    return out;
}

class Crash : public kstest::TxnTableTest {
protected:
    ~Crash() override { KsFileTransactionLog::SetSyncing(true); }
    // Makes the table, both fields indexed, with `records` records through `factory`, closes
    // it and returns its records. A killed process loses no byte it wrote: not synced.
    std::vector<std::string> Fill(int records, KsIOFactory& factory = KsIOFactory::Default()) {
        KsFileTransactionLog::SetSyncing(false);
        Recreate(factory, true);
        for (int id = 1; id <= records; ++id) {
            Append(id, NameOf(id).c_str());
        }
        std::vector<std::string> model = Records(*table);
        for (std::uint16_t field = 0; field < 2; ++field) {
            table->GetIndex(field);
            table->SaveIndex(field);
        }
        table->Close();
        return model;
    }
    // Reopens the table for writing, which finishes what a crash left, and checks that it is,
    // record for record and index for index, as `before`, or as `after` when the log's newest
    // transaction is Committed, and that no inverse file is left; returns that status (0: the
    // log holds none).
    char CheckBeforeOrAfter(const std::vector<std::string>& before,
                            const std::vector<std::string>& after) {
        table->Open(Name().c_str(), IO_READ | IO_WRITE);
        interrupted += !Log().GetRecovered().empty();
        char newest = 0;
        Log().ForEach([&](const KsFileTransactionStatus& status, std::uint32_t) {
            newest = newest == 0 ? status.GetStatus() : newest;
        });
        EXPECT_TRUE(std::strchr("CRK", newest) != nullptr) << newest;
        const std::vector<std::string>& expected = newest == 'C' ? after : before;
        EXPECT_TRUE(Records(*table) == expected) << newest;
        for (std::uint16_t field = 0; field < 2; ++field) {
            // The open leaves every index file in place, written for the records as they are.
            EXPECT_TRUE(IndexFileAgrees(field, expected)) << field;
        }
        table->Close();
        EXPECT_TRUE(InverseBytes().empty());
        EXPECT_EQ(Leftovers(), std::vector<std::string>{});
        return newest;
    }
    // Whether the index file of `field` exists and reads back as the index built afresh from
    // the records, which are `records` (the index built is kept for the next check of them).
    bool IndexFileAgrees(std::uint16_t field, const std::vector<std::string>& records) {
        if (!table->IndexFileExists(field)) {
            return false;
        }
        const KsField& described = table->GetField(field);
        KsIndex stored(described.GetType(), static_cast<std::uint16_t>(described.GetLength()),
                       table->GetNumRecords());
        std::string error = kstest::MessageOrEmpty([&] {
            KsIO file(table->GetIndexFileName(field).GetCString(), IO_READ);
            stored.Read(file);
        });
        std::unique_ptr<KsIndex>& built = builtIndexes[{records, field}];
        if (!built) {
            built = std::make_unique<KsIndex>(*table, field, nullptr);
        }
        return error.empty() && stored.IsSameAs(*built);
    }
    std::map<std::pair<std::vector<std::string>, std::uint16_t>, std::unique_ptr<KsIndex>>
        builtIndexes;
    // Files in the table's folder that belong to no table: temporaries a process left.
    std::vector<std::string> Leftovers() const {
        std::vector<std::string> out;
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
            std::string name = entry.path().filename().string();
            if (!name.starts_with("survey.") && name != "saved") {
                out.push_back(name);
            }
        }
        return out;
    }
    // A change of a transaction: A(ppend), I(nsert at n), M(odify record n) or D(elete record
    // n), of a record of `id`.
    struct Change {
        char kind;
        std::int32_t n;
        int id;
    };
    // Opens the table, commits `changes` as one transaction (stopping this process first when
    // `stop` is set), holding the log throughout with `hold`, and closes the table; returns 0,
    // or 99 when the commit failed.
    int CommitAndClose(const std::vector<Change>& changes, bool stop, bool hold,
                       int dieAtEvent = 0) {
        table->Open(Name().c_str(), IO_READ | IO_WRITE);
        DyingListener dying(dieAtEvent);
        table->AddActionListener(dying);
        using Hold = KsFileTransactionLog::WholeLock;
        auto held = std::unique_ptr<Hold>(hold ? new Hold(Log().LockAll()) : nullptr);
        auto transaction = std::make_unique<KsTransactionNew>(*table, 1, "changes");
        for (auto [kind, n, id] : changes) {
            auto record = kstest::MakeRecord(*table, id, NameOf(id).c_str());
            kind == 'A'   ? Add(*transaction, KsAppendAction(*record))
            : kind == 'I' ? Add(*transaction, KsInsertAction(*record, n))
            : kind == 'M' ? Add(*transaction, KsModifyAction(*record, n))
                          : Add(*transaction, KsDeleteAction(n));
        }
        if (stop) {
            raise(SIGSTOP);
        }
        std::string error = kstest::MessageOrEmpty([&] { transaction->Commit(); });
        transaction.reset();
        held.reset();
        table->RemoveActionListener(dying);
        table->Close();  // writes the changed indexes
        return error.empty() ? 0 : 99;
    }
    // Ends the process at the nth record change it hears of (never when n is 0), as a
    // process killed while the table's sets and indexes follow a change.
    class DyingListener : public KsFileListener {
    public:
        explicit DyingListener(int n) : left_(n) {}
        void ActionHandler(KsFile&, int action, std::int32_t) override {
            bool change = action == kKsActionInserted || action == kKsActionDeleted ||
                          action == kKsActionModified || action == kKsActionReplaced;
            if (change && --left_ == 0) {
                _exit(kstest::kDiedStatus);
            }
        }

    private:
        int left_;
    };
    int interrupted = 0;  // runs whose reopening rolled a commit back
};

// Kills a child that commits 1 to 50 random modifies and appends and closes, at random
// moments; the table reopened is, record for record and index for index, either as before
// the transaction or as after it, and the log says which. Each run starts from saved index
// files, which a kill may leave behind. The first runs are not killed: they measure how
// long a commit takes.
TEST_F(Crash, KilledAtRandomPointsTheTableIsBeforeOrAfter) {
    const char* env = std::getenv("KESTREL_CRASH_KILLS");
    const int kills = env != nullptr ? std::atoi(env) : 200, calibrations = 5;
    std::vector<std::string> model = Fill(20);
    std::mt19937 random(20261207);
    double perChange = 0;  // microseconds a commit took per change, on average
    for (int run = 0; run < kills + calibrations; ++run) {
        std::vector<std::string> next = model;
        std::vector<Change> changes(random() % 50 + 1);
        for (auto& [kind, n, id] : changes) {
            n = static_cast<std::int32_t>(random() % (next.size() + 5));
            kind = n < static_cast<std::int32_t>(next.size()) ? 'M' : 'A';
            n = kind == 'M' ? n + 1 : 0;
            id = static_cast<int>(random() % 100000);
            (n == 0 ? next.emplace_back() : next[static_cast<std::size_t>(n - 1)]) =
                std::to_string(id) + "|" + NameOf(id);
        }
        // Stopped before its commit: the parent starts the clock.
        pid_t child = kstest::Spawn([&] { return CommitAndClose(changes, true, run % 2); });
        ASSERT_EQ(waitpid(child, nullptr, WUNTRACED), child);
        kill(child, SIGCONT);
        auto count = static_cast<double>(changes.size());
        auto started = std::chrono::steady_clock::now();
        if (run >= calibrations) {
            auto wait = random() % static_cast<unsigned long>(perChange * count * 1.1 + 1);
            std::this_thread::sleep_for(std::chrono::microseconds(wait));
            kill(child, SIGKILL);
        }
        waitpid(child, nullptr, 0);
        std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - started;
        perChange += run < calibrations ? took.count() / count / calibrations : 0;

        const char newest = CheckBeforeOrAfter(model, next);
        ASSERT_FALSE(HasFailure()) << run;
        model = newest == 'C' ? next : model;
    }
    EXPECT_GE(interrupted, kills / 10) << "few kills landed inside a commit";
}

// A child commits amid 25,000 records through files that end the process at the nth buffer
// write, positioned write, flush or truncation, or fail it (the child then drops the
// transaction and closes the table), for every n until the commit gets through: the table
// reopened is as before the transaction or as after it, record for record and index for
// index, and the log says which. Two transactions: inserts, a delete and an append (moves of
// two blocks), unsynced; and modifies alone, synced, whose inverses are saved together; each
// with the log held from the transaction's start to its end, and without.
TEST_F(Crash, DiesAtEveryWriteOfACommit) {
    kstest::FaultInjectingFactory factory;
    const std::vector<std::string> model = Fill(25000, factory);
    const std::vector<Change> modifying{{'M', 1, 8}, {'M', 25000, 5}};
    const std::vector<Change> moving{
        {'I', 2, 7}, {'M', 3, 8}, {'D', 10, 0}, {'I', 20001, 9}, {'A', 0, 5}};
    std::vector<std::string> moved = model, modified = model;
    moved.insert(moved.begin() + 1, "7|n0");
    moved[2] = modified[0] = "8|n1";
    moved.erase(moved.begin() + 9);
    moved.insert(moved.begin() + 20000, "9|n2");
    moved.push_back(modified[24999] = "5|n5");
    namespace fs = std::filesystem;
    fs::path saved = dir.File("saved");
    fs::copy(dir.Path(), saved);
    for (int point = 0; point < 48; ++point) {
        const bool moves = point % 24 < 12;
        KsFileTransactionLog::SetSyncing(!moves);
        auto op = static_cast<kstest::FaultOp>(point % 4);  // write, positioned write, flush, cut
        const int how = point / 4 % 3;  // killed before the call, or after it; or the call fails
        // Past the commit's own writes come those of the index files written at the close,
        // each through a new file renamed into place: every fifth of them is enough.
        for (int n = 1;; n += n < 100 ? kWalkStep : 5 * kWalkStep) {
            for (const auto& entry : fs::directory_iterator(dir.Path())) {
                entry.is_regular_file() && fs::remove(entry.path());
            }
            fs::copy(saved, dir.Path());
            int exit = kstest::RunInChild([&] {
                factory.Plan().Reset();
                // A big write is killed after its first 64 KB.
                factory.Plan().FailShort(op, n, how == 1 ? 65536 : 0,
                                         how == 2 ? EIO : kstest::kDie);
                return CommitAndClose(moves ? moving : modifying, false, point >= 24);
            });
            const char newest = CheckBeforeOrAfter(model, moves ? moved : modified);
            ASSERT_FALSE(HasFailure()) << point << " " << n;
            if (exit == 0) {
                break;
            }
            // 99: the error passed on, and the transaction dropped is no longer Ready
            ASSERT_EQ(exit, how == 2 ? 99 : kstest::kDiedStatus) << n;
            EXPECT_TRUE(how != 2 || newest != 'K') << point << " " << n;
        }
    }
}

// Every kind of change, alone and followed by every kind (an append; an insert at 1, in the
// middle and after the last record; a modify; a delete at 1, in the middle and at the end),
// committed by a child that dies at each of its writes, positioned writes, flushes and cuts (before
// the call and after it) and at each record change its listener hears of: the table reopened is as
// before the transaction or as after it, record for record, with every index file in place
// and agreeing, and nothing left behind.
TEST_F(Crash, EveryPairOfKindsDiesAtEveryPoint) {
    kstest::FaultInjectingFactory factory;
    const std::vector<std::string> model = Fill(6, factory);
    namespace fs = std::filesystem;
    const fs::path saved = dir.File("saved");
    fs::copy(dir.Path(), saved);
    // The kinds, with where each stands in a table of `count` records.
    const char* const kinds[] = {"A", "I1", "Im", "Ie", "M", "D1", "Dm", "De"};
    auto changeOf = [](const std::string& kind, std::int32_t count, int id) -> Change {
        std::int32_t middle = count / 2 + 1;
        return kind == "A"    ? Change{'A', 0, id}
               : kind == "I1" ? Change{'I', 1, id}
               : kind == "Im" ? Change{'I', middle, id}
               : kind == "Ie" ? Change{'I', count + 1, id}
               : kind == "M"  ? Change{'M', middle, id}
               : kind == "D1" ? Change{'D', 1, 0}
               : kind == "Dm" ? Change{'D', middle, 0}
                              : Change{'D', count, 0};
    };
    auto apply = [](std::vector<std::string>& records, const Change& change) {
        std::string text = std::to_string(change.id) + "|" + NameOf(change.id);
        auto at = records.begin() + (change.n > 0 ? change.n - 1 : 0);
        change.kind == 'A'   ? (void)records.push_back(text)
        : change.kind == 'I' ? (void)records.insert(at, text)
        : change.kind == 'M' ? (void)(*at = text)
                             : (void)records.erase(at);
    };
    int runs = 0;
    for (std::size_t first = 0; first < std::size(kinds); ++first) {
        for (std::size_t second = 0; second <= std::size(kinds); ++second) {
            // second == size: the first kind alone
            std::vector<Change> changes{changeOf(kinds[first], 6, 101)};
            std::vector<std::string> after = model;
            apply(after, changes[0]);
            if (second < std::size(kinds)) {
                changes.push_back(
                    changeOf(kinds[second], static_cast<std::int32_t>(after.size()), 202));
                apply(after, changes[1]);
            }
            const bool modifiesOnly =
                std::ranges::all_of(changes, [](const Change& c) { return c.kind == 'M'; });
            // Modifies alone are also committed synced: their inverses are saved together.
            for (int synced = 0; synced <= (modifiesOnly ? 1 : 0); ++synced) {
                KsFileTransactionLog::SetSyncing(synced == 1);
                // Points: a file call of a kind (write, positioned write, flush, cut), before
                // it or after it; or a record change heard of.
                for (int point = 0; point < 9; ++point) {
                    auto op = static_cast<kstest::FaultOp>(point % 4);
                    const bool heard = point == 8;
                    for (int n = 1;; n += kWalkStep) {
                        for (const auto& entry : fs::directory_iterator(dir.Path())) {
                            entry.is_regular_file() && fs::remove(entry.path());
                        }
                        fs::copy(saved, dir.Path());
                        int exit = kstest::RunInChild([&] {
                            factory.Plan().Reset();
                            if (!heard) {
                                factory.Plan().FailShort(op, n, point < 4 ? 0 : 1 << 30,
                                                         kstest::kDie);
                            }
                            return CommitAndClose(changes, false, false, heard ? n : 0);
                        });
                        ++runs;
                        std::string where = std::string(kinds[first]) + "+" +
                                            (second < std::size(kinds) ? kinds[second] : "") +
                                            " point " + std::to_string(point) + " n " +
                                            std::to_string(n) + " synced " + std::to_string(synced);
                        const char newest = CheckBeforeOrAfter(model, after);
                        ASSERT_FALSE(HasFailure()) << where;
                        if (exit == 0) {
                            EXPECT_EQ(newest, 'C') << where;
                            break;
                        }
                        ASSERT_EQ(exit, kstest::kDiedStatus) << where;
                    }
                }
            }
        }
    }
    RecordProperty("runs", runs);
}

// A rollback after a crash that cannot get through (the disk fails under it) refuses the
// open for writing, saying why, and leaves the inverse file and the transaction Committing;
// the next open, the disk mended, rolls the commit back whole. The child appends and then
// deletes record 1, and dies while the table's sets follow the delete.
TEST_F(Crash, ARollbackThatCannotFinishRefusesTheTableUntilItCan) {
    kstest::FaultInjectingFactory factory;
    const std::vector<std::string> model = Fill(6, factory);
    const std::vector<Change> changes{{'A', 0, 101}, {'D', 1, 0}};
    ASSERT_EQ(kstest::RunInChild([&] { return CommitAndClose(changes, false, false, 2); }),
              kstest::kDiedStatus);
    const auto left = InverseBytes();
    ASSERT_EQ(left.size(), 1u);
    for (auto op :
         {kstest::FaultOp::kWriteTo, kstest::FaultOp::kFlush, kstest::FaultOp::kTruncate}) {
        factory.Plan().Reset();
        factory.Plan().Fail(op, 1, EIO, true);
        const std::string error =
            kstest::MessageOrEmpty([&] { table->Open(Name().c_str(), IO_READ | IO_WRITE); });
        EXPECT_TRUE(std::regex_match(
            error,
            std::regex("The commit of transaction [0-9]{17} to \"" + Name() +
                       "\" was cut short and cannot be rolled back \\(.+" + KsSystemErrorText(EIO) +
                       "\\); the table cannot be opened for "
                       "writing until it is, and \"" +
                       left[0].first + "\" keeps what undoes the commit\\.")))
            << error;
        EXPECT_EQ(InverseBytes().size(), 1u);
    }
    factory.Plan().Reset();
    EXPECT_EQ(CheckBeforeOrAfter(model, {}), 'R');
}

// An inverse file that does not read back as what undoes the commit refuses the open for
// writing and says which entry is wrong: here the copy of the records the delete moves no
// longer fits the table (its records are of another length). The file is left as it was.
TEST_F(Crash, AnInverseEntryThatCannotBeAppliedIsNamed) {
    Fill(6);
    ASSERT_EQ(kstest::RunInChild([&] {
                  return CommitAndClose({{'A', 0, 101}, {'D', 1, 0}}, false, false, 2);
              }),
              kstest::kDiedStatus);
    const auto left = InverseBytes();
    ASSERT_EQ(left.size(), 1u);
    std::string bytes = left[0].second;
    const auto start = static_cast<std::size_t>(
        KsByteOrder::LoadLittle<std::uint64_t>(bytes.data() + bytes.size() - 8));
    ASSERT_EQ(bytes.at(start), 'S');  // the newest entry: the records the delete moves
    // The same bytes taken as one record: first 1, count 1, its length all of them.
    KsByteOrder::StoreLittle(&bytes[start + 1], std::int32_t{1});
    KsByteOrder::StoreLittle(&bytes[start + 5], std::int32_t{1});
    KsByteOrder::StoreLittle(&bytes[start + 9],
                             static_cast<std::int32_t>(bytes.size() - 8 - start - 13));
    kstest::WriteWholeFile(left[0].first, bytes);
    const std::string error =
        kstest::MessageOrEmpty([&] { table->Open(Name().c_str(), IO_READ | IO_WRITE); });
    EXPECT_NE(error.find("\" was cut short and cannot be rolled back (the inverse file's copy of "
                         "moved records at byte " +
                         std::to_string(start) + " does not fit the table); the table cannot"),
              std::string::npos)
        << error;
    EXPECT_EQ(InverseBytes().at(0).second, bytes);
}

}  // namespace
