#pragma once
// Helpers of the transaction tests, and what they all include: a two-field table (Id, a
// Long, and Name, an Alpha of 8) in a fresh directory with transactions installed, records
// and actions made from short codes, the table's content as text, its inverse files and
// whether an index file agrees with its records.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "../files/TableTestSupport.h"
#include "core/KsByteOrder.h"
#include "files/KsFileListener.h"
#include "index/KsIndex.h"
#include "io/KsIO.h"
#include "progress/KsNullProgress.h"
#include "support/ChildProcess.h"
#include "support/FaultInjectingFile.h"
#include "support/KsErrorCapture.h"
#include "support/MemoryStream.h"
#include "support/TempDir.h"
#include "txn/KsFileTransactionCommitter.h"
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

// The action of `kind` of `record`: A(dd), P (append), I(nsert at n), M(odify record n),
// D(elete record n), R(emove) or, for any other kind, a null action.
inline std::unique_ptr<KsRecordAction> MakeAction(char kind, const KsFileRecord& record,
                                                  std::int32_t n) {
    using Action = std::unique_ptr<KsRecordAction>;
    return kind == 'A'   ? Action(new KsAddAction(record))
           : kind == 'P' ? Action(new KsAppendAction(record))
           : kind == 'I' ? Action(new KsInsertAction(record, n))
           : kind == 'M' ? Action(new KsModifyAction(record, n))
           : kind == 'D' ? Action(new KsDeleteAction(n))
           : kind == 'R' ? Action(new KsRemoveAction(record))
                         : Action(new KsNullAction());
}

// Every record as "id|name", separated by ";".
inline std::string Content(KsFile& table) {
    std::string out;
    for (std::int32_t n = 1; n <= table.GetNumRecords(); ++n) {
        out += (n > 1 ? ";" : "") + TextsOf(table, n);
    }
    return out;
}

// Whether the index file of `field` exists and reads back as `built`, the index of the
// table's records.
inline bool IndexFileAgrees(KsFile& table, std::uint16_t field, const KsIndex& built) {
    if (!table.IndexFileExists(field)) {
        return false;
    }
    const KsField& described = table.GetField(field);
    KsIndex stored(described.GetType(), static_cast<std::uint16_t>(described.GetLength()),
                   table.GetNumRecords());
    return MessageOrEmpty([&] {
               KsIO file(table.GetIndexFileName(field).GetCString(), IO_READ);
               stored.Read(file);
           }).empty() &&
           stored.IsSameAs(built);
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
    // Starts again with an empty table whose files come from `factory`; the fields whose
    // digits `indexed` holds ("01": both) are indexed.
    void Recreate(KsIOFactory& factory = KsIOFactory::Default(), const char* indexed = "") {
        table.reset();
        std::filesystem::remove_all(dir.Path());
        std::filesystem::create_directory(dir.Path());
        KsFieldList fields = CBFFields({{"Id", 'I'}, {"Name", 'A', 8}});
        fields[0]->SetIndexCount(std::strchr(indexed, '0') != nullptr ? 1 : 0);
        fields[1]->SetIndexCount(std::strchr(indexed, '1') != nullptr ? 1 : 0);
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
    // Adds the action of `kind` (see MakeAction) of the record (id, name) to `transaction`.
    void Add(KsTransactionNew& transaction, char kind, std::int32_t n, int id, const char* name) {
        transaction.AddAction(*table, *MakeAction(kind, *MakeRecord(*table, id, name), n));
    }

    TempDir dir;
    std::unique_ptr<CBFFile> table;
};

}  // namespace kstest
