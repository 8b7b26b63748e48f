// torture_commit TABLE SEED ACTIONS: opens TABLE (fields id:I name:A20 spend:N/100 rating:U4
// code:W, as scripts/torture makes it) for writing with transactions installed, commits one
// transaction of ACTIONS appends, inserts, modifies and deletes drawn from SEED, closes the
// table (which writes the indexes the changes touched) and exits 0.
//
// scripts/torture kills it at random moments and works out the table it must leave from the
// same draws, so the draws below and commit_model in scripts/torture change together:
//   the generator is splitmix64 seeded with SEED;
//   action i (from 0) on a table of `count` records: the kind is "AIMD"[next % 4] (always
//   an append on an empty table); an insert, modify or delete goes to the first record,
//   the last (count + 1 for an insert), the middle (count / 2 + 1 for an insert,
//   (count + 1) / 2 otherwise) or, for next % 4 == 3, to 1 + next % last;
//   a new record is id 2000000000 + i, name "commit" + next % 50, spend next % 100000000
//   hundredths, rating next % 16 and code next % 2^32, drawn in that order.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "core/KsException.h"
#include "files/CBFFile.h"
#include "txn/KsInstallTransactions.h"
#include "txn/KsRecordAction.h"
#include "txn/KsTransaction.h"

namespace {

constexpr const char* kFieldNames[] = {"id", "name", "spend", "rating", "code"};
constexpr std::int64_t kFirstNewId = 2000000000;

class SplitMix64 {
public:
    explicit SplitMix64(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // 0 to bound - 1.
    std::int32_t Below(std::int64_t bound) {
        return static_cast<std::int32_t>(Next() % static_cast<std::uint64_t>(bound));
    }

private:
    std::uint64_t state_;
};

bool ParseNumber(const char* text, std::uint64_t& out) {
    char* end = nullptr;
    errno = 0;
    out = std::strtoull(text, &end, 10);
    return *text != '\0' && *end == '\0' && errno == 0 && text[0] != '-';
}

void RequireLayout(const CBFFile& table) {
    bool fits = table.GetFieldCount() == 5;
    for (std::int32_t n = 0; fits && n < 5; ++n) {
        fits = std::strcmp(table.GetField(n).GetName(), kFieldNames[n]) == 0;
    }
    if (!fits) {
        KsException::Generate("the table's fields are not id,name,spend,rating,code",
                              "torture_commit");
    }
}

std::unique_ptr<KsFileRecord> DrawRecord(CBFFile& table, SplitMix64& random, int action) {
    std::unique_ptr<KsFileRecord> record = table.GetNewRecord();
    const std::string id = std::to_string(kFirstNewId + action);
    const std::string name = "commit" + std::to_string(random.Below(50));
    const std::int32_t cents = random.Below(100000000);
    char spend[32];
    std::snprintf(spend, sizeof spend, "%d.%02d", static_cast<int>(cents / 100),
                  static_cast<int>(cents % 100));
    const std::string rating = std::to_string(random.Below(16));
    const std::string code = std::to_string(random.Next() % 4294967296ULL);
    record->PutField(0, id.c_str(), KsFileRecord::kPlain);
    record->PutField(1, name.c_str(), KsFileRecord::kPlain);
    record->PutField(2, spend, KsFileRecord::kPlain);
    record->PutField(3, rating.c_str(), KsFileRecord::kPlain);
    record->PutField(4, code.c_str(), KsFileRecord::kPlain);
    return record;
}

// The record number an insert (one past the end allowed), modify or delete goes to.
std::int32_t DrawPlace(SplitMix64& random, std::int32_t count, bool insert) {
    const std::int32_t last = insert ? count + 1 : count;
    switch (random.Below(4)) {
        case 0:
            return 1;
        case 1:
            return last;
        case 2:
            return insert ? count / 2 + 1 : (count + 1) / 2;
        default:
            return 1 + random.Below(last);
    }
}

// Adds `actions` drawn actions to `transaction`; `count` is the table's record count, which
// the actions change as they will when committed.
void AddActions(CBFFile& table, KsTransaction& transaction, SplitMix64& random, int actions) {
    std::int32_t count = table.GetNumRecords();
    for (int i = 0; i < actions; ++i) {
        const char kind = count == 0 ? 'A' : "AIMD"[random.Below(4)];
        const std::int32_t place = kind == 'A' ? 0 : DrawPlace(random, count, kind == 'I');
        if (kind == 'D') {
            KsDeleteAction action(place);
            transaction.AddAction(table, action);
            --count;
            continue;
        }
        std::unique_ptr<KsFileRecord> record = DrawRecord(table, random, i);
        if (kind == 'A') {
            KsAppendAction action(*record);
            transaction.AddAction(table, action);
        } else if (kind == 'I') {
            KsInsertAction action(*record, place);
            transaction.AddAction(table, action);
        } else {
            KsModifyAction action(*record, place);
            transaction.AddAction(table, action);
        }
        count += kind == 'M' ? 0 : 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t seed = 0, actions = 0;
    if (argc != 4 || !ParseNumber(argv[2], seed) || !ParseNumber(argv[3], actions) ||
        actions > 1000000) {
        std::fprintf(stderr, "usage: torture_commit TABLE SEED ACTIONS (ACTIONS up to 1000000)\n");
        return 2;
    }
    try {
        KsInstallTransactions();  // before the open, so that the open recovers and logs
        const std::string name = std::string(argv[1]) + ".cbf";
        CBFFile table;
        table.Open(name.c_str(), IO_READ | IO_WRITE);
        RequireLayout(table);
        SplitMix64 random(seed);
        KsTransaction* transaction = table.StartTransaction(1, "torture_commit");
        try {
            AddActions(table, *transaction, random, static_cast<int>(actions));
            transaction->Commit();
        } catch (const KsException&) {
            table.EndTransaction(transaction);
            throw;
        }
        table.EndTransaction(transaction);
        table.Close();
    } catch (const KsException& error) {
        std::fprintf(stderr, "torture_commit: %s\n", error.GetErrorMessage());
        return 1;
    }
    std::printf("Committed %" PRIu64 " actions.\n", actions);
    return 0;
}
