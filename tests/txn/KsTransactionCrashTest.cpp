#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "../io/ChildProcess.h"
#include "TxnTestSupport.h"
#include "index/KsIndex.h"
#include "index/KsRecordKey.h"
#include "index/KsSet.h"
#include "txn/KsFileTransactionLog.h"

namespace {

using kstest::MakeRecord;

class Crash : public kstest::TxnTableTest {
protected:
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
};

// The name a record of `id` holds: few distinct names, so that keys are shared.
std::string NameOf(int id) {
    return "n" + std::to_string(id % 7);
}

// Where an index of the table first disagrees with a scan of its records (empty when none
// does): a search of every distinct key must find exactly the records holding it, and the
// index no other record.
std::string IndexFault(KsFile& table) {
    std::unique_ptr<KsFileRecord> record = table.GetNewRecord();
    for (std::uint16_t field = 0; field < 2; ++field) {
        std::map<std::string, std::vector<std::int32_t>> scan;
        for (std::int32_t r = 1; r <= table.GetNumRecords(); ++r) {
            table.GotoRecord(r, record.get());
            scan[KsRecordKey::ComparableKeyOf(*record, field)].push_back(r);
        }
        KsIndex& index = *table.GetIndex(field);
        std::size_t held = 0;
        for (std::int32_t k = 0; k < index.GetKeyCount(); ++k) {
            held += index.GetKey(k).GetRecords().size();
        }
        if (index.GetRecordCount() != table.GetNumRecords() ||
            held != static_cast<std::size_t>(table.GetNumRecords())) {
            return "field " + std::to_string(field) + " holds " + std::to_string(held);
        }
        for (const auto& [key, records] : scan) {
            KsSet found;
            index.Search(key.data(), nullptr, found);
            std::vector<std::int32_t> numbers;
            for (std::int32_t r = found.GetNextInSet(0); r != 0; r = found.GetNextInSet(r)) {
                numbers.push_back(r);
            }
            if (numbers != records) {
                return "field " + std::to_string(field) + ": record " +
                       std::to_string(records[0]) + " not found by its key";
            }
        }
    }
    return "";
}

// Random changes as (record number, id) pairs, 0 for an append, and the model of the
// table's records as "id|n" texts.
struct Model {
    std::vector<std::string> records;

    std::string Text() const {
        std::string out;
        for (const std::string& record : records) {
            out += (out.empty() ? "" : ";") + record;
        }
        return out;
    }
    std::vector<std::pair<std::int32_t, int>> Random(std::mt19937& random, int count) {
        std::vector<std::pair<std::int32_t, int>> changes;
        for (int i = 0; i < count; ++i) {
            auto n = static_cast<std::int32_t>(random() % (records.size() + 5));
            n = n >= static_cast<std::int32_t>(records.size()) ? 0 : n + 1;
            int id = static_cast<int>(random() % 100000);
            (n == 0 ? records.emplace_back() : records[static_cast<std::size_t>(n - 1)]) =
                std::to_string(id) + "|" + NameOf(id);
            changes.emplace_back(n, id);
        }
        return changes;
    }
};

// Kills a child that commits and closes at random moments; the table reopened is, record
// for record and index for index, either as before the transaction or as after it, and the
// log says which. Each run starts from saved index files, which a kill may leave behind.
// The first runs are not killed: they measure how long a commit takes.
TEST_F(Crash, KilledAtRandomPointsTheTableIsBeforeOrAfter) {
    const char* env = std::getenv("KESTREL_CRASH_KILLS");
    const int kills = env != nullptr ? std::atoi(env) : 200;
    const int calibrations = 5;
    KsFileTransactionLog::SetSyncing(false);  // a killed process loses no byte it wrote
    Recreate(KsIOFactory::Default(), true);
    Model model;
    for (int id = 1; id <= 20; ++id) {
        Append(id, NameOf(id).c_str());
        model.records.push_back(std::to_string(id) + "|" + NameOf(id));
    }
    table->Close();
    std::mt19937 random(20261207);
    double perChange = 0;  // microseconds a commit took per change, on average
    int before = 0, after = 0, interrupted = 0;
    for (int run = 0; run < kills + calibrations; ++run) {
        Model next = model;
        int count = static_cast<int>(random() % 50) + 1;
        auto changes = next.Random(random, count);
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        pid_t child = kstest::Spawn([&] {
            table->Open(Name().c_str(), IO_READ | IO_WRITE);
            {
                KsTransactionNew transaction(*table, 1, "random");
                for (auto [n, id] : changes) {
                    auto record = MakeRecord(*table, id, NameOf(id).c_str());
                    KsModifyAction modify(*record, n);
                    KsAppendAction append(*record);
                    transaction.AddAction(
                        *table, n == 0 ? static_cast<KsRecordAction&>(append) : modify);
                }
                (void)!write(ready[1], "!", 1);
                transaction.Commit();
            }
            table->Close();  // writes the changed indexes
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
            perChange += static_cast<double>(micros) / count / calibrations;
        }

        table->Open(Name().c_str(), IO_READ | IO_WRITE);
        interrupted += !Log().GetRecovered().empty();
        std::string content = kstest::Content(*table);
        std::string newest = Newest();
        std::string indexFault = IndexFault(*table);
        table->SaveIndex(0);
        table->SaveIndex(1);
        table->Close();
        ASSERT_EQ(indexFault, "") << run;
        ASSERT_EQ(InverseFiles(), 0) << run;
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
