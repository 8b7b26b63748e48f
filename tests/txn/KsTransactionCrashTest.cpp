#include <chrono>
#include <cstdlib>
#include <map>
#include <random>
#include <regex>
#include <span>
#include <thread>

#include "TxnTestSupport.h"
#include "platform/KsSystemError.h"

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

// A change of a transaction: P (append), I(nsert at n), M(odify record n) or D(elete record
// n), of a record of `id`.
struct Change {
    char kind;
    std::int32_t n;
    int id;
};

// The records of a model once `changes` are made to them.
std::vector<std::string> After(std::vector<std::string> records,
                               const std::vector<Change>& changes) {
    for (auto [kind, n, id] : changes) {
        std::string text = std::to_string(id) + "|" + NameOf(id);
        auto at = records.begin() + (n > 0 ? n - 1 : 0);
        kind == 'P'   ? (void)records.push_back(text)
        : kind == 'I' ? (void)records.insert(at, text)
        : kind == 'M' ? (void)(*at = text)
                      : (void)records.erase(at);
    }
    return records;
}

class Crash : public kstest::TxnTableTest {
protected:
    ~Crash() override { KsFileTransactionLog::SetSyncing(true); }
    // Makes the table, both fields indexed, with `records` records through `factory`, closes
    // it, keeps a copy of its files in "saved" and returns its records. A killed process
    // loses no byte it wrote: not synced.
    std::vector<std::string> Fill(int records, KsIOFactory& factory = KsIOFactory::Default()) {
        KsFileTransactionLog::SetSyncing(false);
        Recreate(factory, "01");
        for (int id = 1; id <= records; ++id) {
            Append(id, NameOf(id).c_str());
        }
        std::vector<std::string> model = Records(*table);
        for (std::uint16_t field = 0; field < 2; ++field) {
            table->GetIndex(field);
            table->SaveIndex(field);
        }
        table->Close();
        std::filesystem::copy(dir.Path(), dir.File("saved"));
        return model;
    }
    // Reopens the table for writing, which finishes what a crash left, and checks that it is,
    // record for record and index for index, as `before`, or as `after` when the log's newest
    // transaction is Committed, and that no inverse file or temporary is left; returns that
    // status (0: the log holds none).
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
            // The open leaves every index file in place, written for the records as they
            // are; the index built afresh is kept for the next check of the same records.
            std::unique_ptr<KsIndex>& built = builtIndexes[{expected, field}];
            if (!built) {
                built = std::make_unique<KsIndex>(*table, field, nullptr);
            }
            EXPECT_TRUE(kstest::IndexFileAgrees(*table, field, *built)) << field;
        }
        table->Close();
        EXPECT_TRUE(InverseBytes().empty());
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
            std::string name = entry.path().filename().string();
            EXPECT_TRUE(name.starts_with("survey.") || name == "saved") << name;
        }
        return newest;
    }
    std::map<std::pair<std::vector<std::string>, std::uint16_t>, std::unique_ptr<KsIndex>>
        builtIndexes;
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
            Add(*transaction, kind, n, id, NameOf(id).c_str());
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
    // For n = 1, 2, ... (every kWalkStep-th, and from `sparseFrom` on every fifth of those)
    // until the commit gets through: a child, from the saved files, plans `fault` for n on
    // the factory's plan (or, with `heard`, dies at the nth record change it hears of) and
    // commits `changes`, holding the log with `hold`. The child ends with `failure` unless
    // it got through, and the table reopened is as `before` or, Committed, as after them.
    void DieAtEachPoint(kstest::FaultInjectingFactory& factory, const std::vector<Change>& changes,
                        const std::vector<std::string>& before,
                        const std::function<void(kstest::FaultPlan&, int)>& fault, int failure,
                        bool hold = false, bool heard = false, int sparseFrom = 1 << 30) {
        const std::vector<std::string> after = After(before, changes);
        namespace fs = std::filesystem;
        for (int n = 1;; n += n < sparseFrom ? kWalkStep : 5 * kWalkStep) {
            for (const auto& entry : fs::directory_iterator(dir.Path())) {
                entry.is_regular_file() && fs::remove(entry.path());
            }
            fs::copy(dir.File("saved"), dir.Path());
            int exit = kstest::RunInChild([&] {
                factory.Plan().Reset();
                fault(factory.Plan(), n);
                return CommitAndClose(changes, false, hold, heard ? n : 0);
            });
            const char newest = CheckBeforeOrAfter(before, after);
            ASSERT_FALSE(HasFailure()) << "n " << n;
            if (exit == 0) {
                EXPECT_EQ(newest, 'C') << n;
                return;
            }
            ASSERT_EQ(exit, failure) << n;
            // 99: the error passed on, and the transaction dropped is no longer Ready
            EXPECT_TRUE(exit != 99 || newest != 'K') << n;
        }
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
        std::vector<Change> changes(random() % 50 + 1);
        std::size_t size = model.size();
        for (auto& [kind, n, id] : changes) {
            n = static_cast<std::int32_t>(random() % (size + 5));
            kind = n < static_cast<std::int32_t>(size) ? 'M' : 'P';
            n = kind == 'M' ? n + 1 : 0;
            size += kind == 'P';
            id = static_cast<int>(random() % 100000);
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

        std::vector<std::string> next = After(model, changes);
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
        {'I', 2, 7}, {'M', 3, 8}, {'D', 10, 0}, {'I', 20001, 9}, {'P', 0, 5}};
    for (int point = 0; point < 48; ++point) {
        const bool moves = point % 24 < 12;
        auto op = static_cast<kstest::FaultOp>(point % 4);  // write, positioned write, flush, cut
        const int how = point / 4 % 3;  // killed before the call, or after it; or the call fails
        if (how == 1 && op == kstest::FaultOp::kTruncate) {
            continue;  // a cut is never made in part: killed after it is killed before it
        }
        SCOPED_TRACE("point " + std::to_string(point));
        KsFileTransactionLog::SetSyncing(!moves);
        // Past the commit's own writes come those of the index files written at the close,
        // each through a new file renamed into place: every fifth of them is enough.
        DieAtEachPoint(
            factory, moves ? moving : modifying, model,
            [&](kstest::FaultPlan& plan, int n) {
                // A big write is killed after its first 64 KB.
                plan.FailShort(op, n, how == 1 ? 65536 : 0, how == 2 ? EIO : kstest::kDie);
            },
            how == 2 ? 99 : kstest::kDiedStatus, point >= 24, false, 100);
        ASSERT_FALSE(HasFailure());
    }
}

// Every kind of change, alone and followed by every kind (an append; an insert at 1, in the
// middle and after the last record; a modify; a delete at 1, in the middle and at the end),
// committed by a child that dies at each of its writes, positioned writes and flushes (before
// the call and after it), cuts and at each record change its listener hears of: the table
// reopened is as before the transaction or as after it, record for record, with every index
// file in place and agreeing, and nothing left behind.
TEST_F(Crash, EveryPairOfKindsDiesAtEveryPoint) {
    kstest::FaultInjectingFactory factory;
    const std::vector<std::string> model = Fill(6, factory);
    // The kind, then where it stands: at 1, in the middle (none given) or at the end.
    const std::string kinds[] = {"P", "I1", "Im", "Ie", "M", "D1", "Dm", "De", ""};
    auto changeOf = [](const std::string& kind, std::size_t count, int id) {
        const auto at = static_cast<std::int32_t>(kind[1] == '1'   ? 1
                                                  : kind[1] == 'e' ? count + (kind[0] == 'I')
                                                                   : count / 2 + 1);
        return Change{kind[0], kind == "P" ? 0 : at, kind[0] == 'D' ? 0 : id};
    };
    for (const std::string& first : std::span(kinds, 8)) {
        for (const std::string& second : kinds) {  // "": the first kind alone
            std::vector<Change> changes{changeOf(first, 6, 101)};
            if (!second.empty()) {
                changes.push_back(changeOf(second, After(model, changes).size(), 202));
            }
            const bool modifiesOnly =
                std::ranges::all_of(changes, [](const Change& c) { return c.kind == 'M'; });
            // Modifies alone are also committed synced: their inverses are saved together.
            for (int synced = 0; synced <= (modifiesOnly ? 1 : 0); ++synced) {
                KsFileTransactionLog::SetSyncing(synced == 1);
                // Points: a write, positioned write or flush, before it (0 to 2) or after it
                // (4 to 6); a cut (3); a record change heard of (8).
                for (int point : {0, 1, 2, 3, 4, 5, 6, 8}) {
                    SCOPED_TRACE(first + "+" + second + " point " + std::to_string(point) +
                                 " synced " + std::to_string(synced));
                    auto op = static_cast<kstest::FaultOp>(point % 4);
                    DieAtEachPoint(
                        factory, changes, model,
                        [&](kstest::FaultPlan& plan, int n) {
                            plan.FailShort(op, point < 8 ? n : 0, point < 4 ? 0 : 1 << 30,
                                           kstest::kDie);
                        },
                        kstest::kDiedStatus, false, point == 8);
                    ASSERT_FALSE(HasFailure());
                }
            }
        }
    }
}

// A commit cut short (an append, then a delete of record 1, the child dying while the sets
// follow the delete) leaves its inverse file. One that does not read back as what undoes
// the commit refuses the open for writing and names the wrong entry (here the copy of the
// records the delete moves, made to fit no record length), and so does a rollback that
// cannot get through (the disk fails under it), saying why; each leaves the inverse file and
// the transaction Committing. The inverse file and the disk mended, the next open rolls the
// commit back whole, also when the power fails at any of its own sync points.
TEST_F(Crash, ACutCommitIsRolledBackWholeOrTheTableRefusedForWriting) {
    kstest::FaultInjectingFactory factory;
    const std::vector<std::string> model = Fill(6, factory);
    ASSERT_EQ(kstest::RunInChild([&] {
                  return CommitAndClose({{'P', 0, 101}, {'D', 1, 0}}, false, false, 2);
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
    const auto open = [&] { table->Open(Name().c_str(), IO_READ | IO_WRITE); };
    std::string error = kstest::MessageOrEmpty(open);
    EXPECT_NE(error.find("\" was cut short and cannot be rolled back (the inverse file's copy of "
                         "moved records at byte " +
                         std::to_string(start) + " does not fit the table); the table cannot"),
              std::string::npos)
        << error;
    EXPECT_EQ(InverseBytes().at(0).second, bytes);
    kstest::WriteWholeFile(left[0].first, left[0].second);
    for (auto op :
         {kstest::FaultOp::kWriteTo, kstest::FaultOp::kFlush, kstest::FaultOp::kTruncate}) {
        factory.Plan().Reset();
        factory.Plan().Fail(op, 1, EIO, true);
        error = kstest::MessageOrEmpty(open);
        EXPECT_TRUE(std::regex_match(
            error,
            std::regex("The commit of transaction [0-9]{17} to \"" + Name() +
                       "\" was cut short and cannot be rolled back \\(.+" + KsSystemErrorText(EIO) +
                       "\\); the table cannot be opened for "
                       "writing until it is, and \"" +
                       left[0].first + "\" keeps what undoes the commit\\.")))
            << error;
        EXPECT_EQ(InverseBytes(), left);
    }
    factory.Plan().Reset();
    KsFileTransactionLog::SetSyncing(true);
    const int cuts = kstest::WalkPowerCuts(
        dir.Path().string(),
        [&](kstest::FaultInjectingFactory& cutting) {
            CBFFile t(cutting);
            t.Open(Name().c_str(), IO_READ | IO_WRITE);
            t.Close();
        },
        [&](const kstest::PowerCutPoint& cut) {
            SCOPED_TRACE(cut.Describe());
            EXPECT_EQ(CheckBeforeOrAfter(model, {}), 'R');
        });
    EXPECT_GT(cuts, 4);
}

}  // namespace
