#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "../io/ChildProcess.h"
#include "TxnTestSupport.h"
#include "txn/KsFileTransactionLog.h"

namespace {

using kstest::MakeRecord;

class Crash : public kstest::TxnTableTest {
protected:
    KsFileTransactionLog& Log() {
        return static_cast<KsFileTransactionLog&>(table->GetTransactionLog());
    }
    // The status character and the action marks of the newest transaction.
    std::string Newest() {
        std::string out;
        KsTimestamp id;
        Log().ForEach([&](const KsFileTransactionStatus& status, std::uint32_t) {
            if (out.empty()) {
                out = status.GetStatus();
                id = status.GetCreated();
            }
        });
        Log().ForEachAction(id, [&](KsRecordActionListWrapper& action) {
            out += action.GetStatus();
            return false;
        });
        return out;
    }
    bool InverseFileLeft() {
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
            if (entry.path().filename().string().rfind("BC_", 0) == 0) {
                return true;
            }
        }
        return false;
    }
};

// A process that dies in the middle of a commit leaves it to the next open, which undoes it.
TEST_F(Crash, NextOpenRollsBackWhatADeadProcessLeft) {
    Append(7, "seven");
    table->Close();
    int status = kstest::RunInChild([&] {
        table->Open(Name().c_str(), IO_READ | IO_WRITE);
        auto transaction = Appends(5);
        struct Dying : KsProgressInterface {
            int steps = 0;
            void StepBy(std::int32_t) override {
                if (++steps == 3) {
                    _exit(42);
                }
            }
        } dying;
        transaction->Commit(dying);
        return 0;
    });
    ASSERT_EQ(status, 42);
    EXPECT_TRUE(InverseFileLeft());
    table->Open(Name().c_str(), IO_READ | IO_WRITE);
    EXPECT_EQ(Log().GetRecovered().size(), 1U);
    EXPECT_EQ(kstest::Content(*table), "7|seven");
    EXPECT_EQ(Newest(), "RRRRKK");
    EXPECT_FALSE(InverseFileLeft());
}

// One random change: a modify of record n, an append, or a delete of the last record.
struct Change {
    char kind;
    std::int32_t n;
    int id;
    std::string name;
};

// Random changes and the model of the table's records as "id|name" texts.
struct Model {
    std::vector<std::string> records;

    std::string Text() const {
        std::string out;
        for (std::size_t i = 0; i < records.size(); ++i) {
            out += (i > 0 ? ";" : "") + records[i];
        }
        return out;
    }
    // `count` random changes, made to the model too.
    std::vector<Change> Random(std::mt19937& random, int count) {
        std::vector<Change> changes;
        for (int i = 0; i < count; ++i) {
            Change change{'P', 0, static_cast<int>(random() % 100000),
                          "n" + std::to_string(random() % 1000)};
            std::string text = std::to_string(change.id) + "|" + change.name;
            auto kind = random() % 10;
            if (kind < 5 && !records.empty()) {
                change.kind = 'M';
                change.n = static_cast<std::int32_t>(random() % records.size()) + 1;
                records[static_cast<std::size_t>(change.n - 1)] = text;
            } else if (kind == 9 && !records.empty()) {
                change.kind = 'D';
                change.n = static_cast<std::int32_t>(records.size());
                records.pop_back();
            } else {
                records.push_back(text);
            }
            changes.push_back(change);
        }
        return changes;
    }
};

void AddChanges(KsFile& table, KsTransaction& transaction, const std::vector<Change>& changes) {
    for (const Change& change : changes) {
        auto record = MakeRecord(table, change.id, change.name.c_str());
        if (change.kind == 'M') {
            KsModifyAction action(*record, change.n);
            transaction.AddAction(table, action);
        } else if (change.kind == 'D') {
            KsDeleteAction action(change.n);
            transaction.AddAction(table, action);
        } else {
            KsAppendAction action(*record);
            transaction.AddAction(table, action);
        }
    }
}

// Kills a committing child at random moments; the table reopened is, record for record,
// either as before the transaction or as after it, and the log says which. The first runs
// are not killed: they measure how long a commit takes.
TEST_F(Crash, KilledAtRandomPointsTheTableIsBeforeOrAfter) {
    const char* env = std::getenv("KESTREL_CRASH_KILLS");
    const int kills = env != nullptr ? std::atoi(env) : 200;
    const int calibrations = 5;
    KsFileTransactionLog::SetSyncing(false);  // a killed process loses no byte it wrote
    Model model;
    for (int id = 1; id <= 20; ++id) {
        Append(id, "start");
        model.records.push_back(std::to_string(id) + "|start");
    }
    table->Close();
    std::mt19937 random(20261207);
    double perChange = 1;  // microseconds a commit took per change, the most measured
    int before = 0, after = 0, interrupted = 0;
    for (int run = 0; run < kills + calibrations; ++run) {
        Model next = model;
        int count = static_cast<int>(random() % 50) + 1;
        std::vector<Change> changes = next.Random(random, count);
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        pid_t child = kstest::Spawn([&] {
            table->Open(Name().c_str(), IO_READ | IO_WRITE);
            KsTransactionNew transaction(*table, 1, "random");
            AddChanges(*table, transaction, changes);
            (void)!write(ready[1], "!", 1);
            transaction.Commit();
            return 0;
        });
        close(ready[1]);
        char byte = 0;
        ASSERT_EQ(read(ready[0], &byte, 1), 1);
        close(ready[0]);
        auto started = std::chrono::steady_clock::now();
        if (run >= calibrations) {
            auto wait = static_cast<long>(
                random() % static_cast<unsigned long>(perChange * count * 1.1 + 1));
            struct timespec delay{0, wait * 1000};
            nanosleep(&delay, nullptr);
            kill(child, SIGKILL);
        }
        waitpid(child, nullptr, 0);
        if (run < calibrations) {
            auto took = std::chrono::steady_clock::now() - started;
            auto micros = std::chrono::duration_cast<std::chrono::microseconds>(took).count();
            perChange = std::max(perChange, static_cast<double>(micros) / count);
        }

        table->Open(Name().c_str(), IO_READ | IO_WRITE);
        interrupted += !Log().GetRecovered().empty();
        std::string content = kstest::Content(*table);
        std::string newest = Newest();
        table->Close();
        ASSERT_FALSE(InverseFileLeft()) << run;
        if (newest[0] == 'C') {
            ASSERT_EQ(content, next.Text()) << run;
            model = next;
            ++after;
        } else {
            ASSERT_TRUE(newest[0] == 'R' || newest[0] == 'K') << run << " " << newest;
            ASSERT_EQ(content, model.Text()) << run;
            ++before;
        }
    }
    KsFileTransactionLog::SetSyncing(true);
    std::printf("%d kills, %.0f us a change: before %d, after %d (%d interrupted commits "
                "rolled back)\n",
                kills, perChange, before, after, interrupted);
}

}  // namespace
