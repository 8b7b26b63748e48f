// survey_transaction TABLE: changes the table made by survey_import in transactions. The
// table keeps a log of them; a transaction's changes reach the table together at its commit,
// and when one of them fails the commit undoes those already made, so the table is left as
// it was. A failure before the commit rolls the transaction back.
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "core/KsException.h"
#include "files/CBFFile.h"
#include "txn/KsInstallTransactions.h"
#include "txn/KsTransaction.h"

#include "survey_show.h"

namespace {

// Appends `added` and writes `changed` over record `target` in one transaction.
void Change(CBFFile& table, const char* description, const KsFileRecord& added,
            const KsFileRecord& changed, std::int32_t target) {
    KsTransaction* transaction = table.StartTransaction(1, description);
    bool committing = false;
    try {
        table.AppendRecord(transaction, added);
        table.SaveRecord(transaction, target, changed);
        committing = true;
        transaction->Commit();  // undoes what it did when a change fails
        std::printf("%s: committed\n", description);
    } catch (const KsException& error) {
        if (!committing) {
            transaction->Rollback();
        }
        std::printf("%s: failed; rolled back\n", description);
        std::fprintf(stderr, "survey_transaction: %s\n", error.GetErrorMessage());
    }
    table.EndTransaction(transaction);  // deletes it
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: survey_transaction TABLE\n";
        return 2;
    }
    try {
        KsInstallTransactions();  // before the table is opened, so that it keeps a log
        const std::string name = std::string(argv[1]) + ".cbf";
        CBFFile table;
        table.Open(name.c_str(), IO_READ | IO_WRITE);
        ShowSurvey(table, "before");

        std::unique_ptr<KsFileRecord> added = table.GetNewRecord();
        added->PutField(0, "6", KsFileRecord::kPlain);
        added->PutField(1, "Gil Moss", KsFileRecord::kPlain);
        added->PutField(2, "55.10", KsFileRecord::kPlain);
        std::unique_ptr<KsFileRecord> changed = table.GetNewRecord();
        table.GotoRecord(2, changed.get());
        changed->PutField(1, "Ann Lee-Ray", KsFileRecord::kPlain);

        Change(table, "to record 99", *added, *changed, 99);  // no such record: fails
        ShowSurvey(table, "after");
        Change(table, "to record 2", *added, *changed, 2);
        ShowSurvey(table, "committed");
        table.Close();
    } catch (const KsException& error) {
        std::cerr << "survey_transaction: " << error.GetErrorMessage() << '\n';
        return 1;
    }
    return 0;
}
