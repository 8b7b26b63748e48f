// Runs transactions of modifies on a table and prints how many it committed a second: the
// Kestrel side of the transaction benchmark. Each transaction sets the field FIELD of
// CHANGES records, chosen at random, to a new small value and commits them together,
// holding the table's log from the transaction's start to its end.
//
//   txn_modify TABLE FIELD TRANSACTIONS CHANGES sync|nosync

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "core/KsException.h"
#include "files/CBFFile.h"
#include "txn/KsFileTransactionLog.h"
#include "txn/KsInstallTransactions.h"
#include "txn/KsTransactionNew.h"

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: txn_modify TABLE FIELD TRANSACTIONS CHANGES sync|nosync\n");
        return 2;
    }
    try {
        KsInstallTransactions();
        KsFileTransactionLog::SetSyncing(std::strcmp(argv[5], "sync") == 0);
        std::string name = std::string(argv[1]) + ".cbf";
        CBFFile table;
        table.Open(name.c_str(), IO_READ | IO_WRITE);
        std::int32_t field = table.GetFieldNumber(argv[2]);
        int transactions = std::atoi(argv[3]);
        int changes = std::atoi(argv[4]);
        std::mt19937 random(17);
        std::unique_ptr<KsFileRecord> record = table.GetNewRecord();
        auto start = std::chrono::steady_clock::now();
        for (int t = 0; t < transactions; ++t) {
            // Held from the start of the transaction to its end, as SQLite holds its write
            // lock from a transaction's first change to its commit.
            KsFileTransactionLog::WholeLock hold = KsFileTransactionLog::Of(table).LockAll();
            KsTransactionNew transaction(table, static_cast<std::uint32_t>(t), "bench");
            for (int c = 0; c < changes; ++c) {
                auto n = static_cast<std::int32_t>(random() %
                                                   static_cast<unsigned>(table.GetNumRecords())) +
                         1;
                table.GotoRecord(n, record.get());
                record->PutField(field, std::to_string(random() % 16).c_str(),
                                 KsFileRecord::kPlain);
                KsModifyAction modify(*record, n);
                transaction.AddAction(table, modify);
            }
            transaction.Commit();
        }
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        table.Close();
        std::printf("%.1f\n", transactions / took.count());
        return 0;
    } catch (const KsException& error) {
        std::fprintf(stderr, "txn_modify: %s\n", error.GetErrorMessage());
        return 1;
    }
}
