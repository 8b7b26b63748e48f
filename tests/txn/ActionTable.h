#pragma once
// A small keyed table for record action tests and the action fuzzer: two fields (a Long
// "Id", the primary key, and an 8-character "Name"), whose maintenance and undo steps can
// be made to fail on purpose, and a snapshot of everything an action may change.

#include <cstdint>
#include <memory>
#include <string>

#include "core/KsException.h"
#include "files/CBFFile.h"
#include "files/TableTestSupport.h"

namespace kstest {

class ActionTable : public CBFFile {
public:
    // Failures planted by a test.
    bool failMaintenance = false, failDelete = false, failInsert = false;
    // "add n;", "delete n;", "modify n;" for each maintenance call.
    std::string maintenanceLog;

    void FileMaintenanceAdd(std::int32_t n, const KsFileRecord& record) override {
        Note("add", n);
        CBFFile::FileMaintenanceAdd(n, record);
    }
    void FileMaintenanceDelete(std::int32_t n) override {
        Note("delete", n);
        CBFFile::FileMaintenanceDelete(n);
    }
    void FileMaintenanceModify(std::int32_t n, const KsFileRecord& oldRecord,
                               const KsFileRecord& newRecord) override {
        Note("modify", n);
        CBFFile::FileMaintenanceModify(n, oldRecord, newRecord);
    }
    void DataDelete(std::int32_t n, KsFileRecord* oldRecord = nullptr) override {
        if (failDelete) {
            KsException::Generate("delete failed", "ActionTable");
        }
        CBFFile::DataDelete(n, oldRecord);
    }
    std::int32_t DataInsert(std::int32_t n, KsFileRecord& record) override {
        if (failInsert) {
            throw 42;  // a failure that is not a library error
        }
        return CBFFile::DataInsert(n, record);
    }

    void Note(const char* what, std::int32_t n) {
        maintenanceLog += std::string(what) + " " + std::to_string(n) + ";";
        if (failMaintenance) {
            KsException::Generate("maintenance failed", "ActionTable");
        }
    }
};

// Creates the table `name` with `records` records (Id 1..records, Name "r1"...) and opens
// it with every record selected.
inline std::unique_ptr<ActionTable> MakeActionTable(const std::string& name, int records) {
    auto table = std::make_unique<ActionTable>();
    KsFieldList fields = CBFFields({{"Id", 'I', 0, 16}, {"Name", 'A', 8}});
    CBFFile::PackFields(nullptr, fields);
    table->Create(name.c_str(), fields, 1, false);
    table->Open(name.c_str(), IO_READ | IO_WRITE);
    for (int i = 1; i <= records; ++i) {
        AppendTexts(*table, {std::to_string(i).c_str(), ("r" + std::to_string(i)).c_str()});
    }
    table->Refresh();
    return table;
}

// Every record's texts in order, then the numbers of the selected records.
inline std::string Snapshot(KsFile& table) {
    std::string out;
    for (std::int32_t n = 1; n <= table.GetNumRecords(); ++n) {
        out += TextsOf(table, n) + ";";
    }
    out += " selected:";
    for (std::int32_t n = 1; n <= table.GetSelection().GetSize(); ++n) {
        out += table.GetSelection().IsSelected(n) ? " " + std::to_string(n) : "";
    }
    return out;
}

}  // namespace kstest
