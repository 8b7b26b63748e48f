#pragma once
// Helpers of the transaction tests, and what they all include: a two-field table (Id, a
// Long, and Name, an Alpha of 8) in a fresh directory with transactions installed, records
// made from (id, name), the table's content as text and its inverse files.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "../files/TableTestSupport.h"
#include "support/KsErrorCapture.h"
#include "support/TempDir.h"
#include "txn/KsFileTransactionLog.h"
#include "txn/KsInstallTransactions.h"
#include "txn/KsTransactionNew.h"

namespace kstest {

// The message of the KsException `body` raises, empty when it raises none.
inline std::string MessageOrEmpty(const std::function<void()>& body) {
    try {
        body();
    } catch (const KsException& error) {
        return error.GetErrorMessage();
    }
    return "";
}

inline std::unique_ptr<KsFileRecord> MakeRecord(KsFile& table, int id, const char* name) {
    std::unique_ptr<KsFileRecord> record = table.GetNewRecord();
    record->PutField(0, std::to_string(id).c_str(), KsFileRecord::kPlain);
    record->PutField(1, name, KsFileRecord::kPlain);
    return record;
}

// Every record as "id|name", separated by ";".
inline std::string Content(KsFile& table) {
    std::string out;
    for (std::int32_t n = 1; n <= table.GetNumRecords(); ++n) {
        out += (n > 1 ? ";" : "") + TextsOf(table, n);
    }
    return out;
}

class TxnTableTest : public ::testing::Test {
protected:
    TxnTableTest() {
        KsInstallTransactions();
        Recreate();
    }
    std::string Name() const { return dir.File("survey.cbf"); }
    KsFileTransactionLog& Log() { return KsFileTransactionLog::Of(*table); }
    char StatusOf(const KsTimestamp& id) { return Log().GetStatus(id).GetStatus(); }
    // Starts again with an empty table whose files come from `factory`; with `indexed`, both
    // fields are indexed.
    void Recreate(KsIOFactory& factory = KsIOFactory::Default(), bool indexed = false) {
        table.reset();
        std::filesystem::remove_all(dir.Path());
        std::filesystem::create_directory(dir.Path());
        KsFieldList fields = CBFFields({{"Id", 'I'}, {"Name", 'A', 8}});
        fields[0]->SetIndexCount(indexed ? 1 : 0);
        fields[1]->SetIndexCount(indexed ? 1 : 0);
        CBFFile::PackFields(nullptr, fields);
        table = CreateTable(Name(), fields, factory);
    }
    void Append(int id, const char* name) {
        std::unique_ptr<KsFileRecord> record = MakeRecord(*table, id, name);
        table->FileMaintenanceAdd(table->DataAppend(*record), *record);
    }
    // The table's inverse files (an open table keeps one once it committed), with their bytes.
    std::vector<std::pair<std::string, std::string>> InverseBytes() const {
        std::vector<std::pair<std::string, std::string>> out;
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
            if (entry.path().filename().string().rfind("BC_", 0) == 0) {
                out.emplace_back(entry.path().string(), ReadWholeFile(entry.path().string()));
            }
        }
        return out;
    }
    void Add(KsTransactionNew& transaction, KsRecordAction&& action) {
        transaction.AddAction(*table, action);
    }

    TempDir dir;
    std::unique_ptr<CBFFile> table;
};

}  // namespace kstest
