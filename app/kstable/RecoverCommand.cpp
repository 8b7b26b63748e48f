// kstable recover: makes a damaged table whole where it can, saying each step on standard
// output, and then checks it.

#include <cstdio>
#include <string>
#include <vector>

#include "Commands.h"
#include "Counted.h"
#include "Table.h"
#include "files/KsTableLeftovers.h"
#include "io/KsIOFactory.h"
#include "txn/KsFileTransactionLog.h"
#include "values/KsTimestamp.h"

namespace {

// Sets a damaged log aside (renamed with the time, never deleted), so that the open makes a
// new one; refuses while a commit cut short needs the old one to be rolled back.
void SetDamagedLogAside(const TableFiles& files) {
    const std::string log = LogFileOf(files);
    KsIOFactory& factory = KsIOFactory::Default();
    const std::string reason = KsFileTransactionLog::Inspect(factory, log.c_str());
    if (reason.empty()) {
        return;
    }
    const KsTableLeftovers::Found found = KsTableLeftovers::Scan(files.data.c_str());
    if (!found.inverseFiles.empty()) {
        KsException::Generate(
            "\"%s\" cannot be used (%s), and \"%s\" needs it to roll back a commit cut short: "
            "the log is left as it is",
            "kstable recover", log.c_str(), reason.c_str(), found.inverseFiles[0].c_str());
    }
    KsTimestamp now;
    now.Now(false);
    const std::string aside = log + ".damaged-" + std::string(now.GetDigits(), 17);
    factory.Rename(aside.c_str(), log.c_str());
    factory.SyncFolder(files.data.find('/') == std::string::npos
                           ? "."
                           : files.data.substr(0, files.data.rfind('/') + 1).c_str());
    std::printf("Set the damaged transaction log aside as \"%s\" (%s); a new one is started.\n",
                aside.c_str(), reason.c_str());
}

// Cuts the bytes of a torn last record.
void CutTornRecord(CBFFile& table, const TableFiles& files) {
    if (const std::int64_t extra = table.GetExtraBytes(); extra > 0) {
        table.KeepRecords(table.GetNumRecords());
        table.Sync();
        std::printf("Cut the %s of a torn last record from \"%s\".\n",
                    Counted(extra, "byte").c_str(), files.data.c_str());
    }
}

// Builds the index files of indexed fields that are missing or do not agree with the
// records, and deletes those of fields that are not indexed.
void MendIndexFiles(CBFFile& table, const TableFiles& files) {
    int agreeing = 0;
    const std::vector<std::string> before = TableProblems(table, files, agreeing);
    for (std::int32_t n = 0; n < table.GetFieldCount(); ++n) {
        const KsField& field = table.GetField(n);
        const auto number = static_cast<std::uint16_t>(n);
        const std::string file = table.GetIndexFileName(number).GetCString();
        bool named = false;
        for (const std::string& problem : before) {
            named = named || problem.rfind("\"" + file + "\"", 0) == 0;
        }
        if (field.IsMapped() || !named) {
            continue;
        }
        if (field.GetIndexCount() > 0) {
            table.GetIndex(number, true);
            table.SaveIndex(number);
            std::printf("Rebuilt the index file \"%s\" of field \"%s\".\n", file.c_str(),
                        field.GetName());
        } else {
            table.RemoveIndex(number);
            std::printf("Removed \"%s\", the index file of field \"%s\", which is not indexed.\n",
                        file.c_str(), field.GetName());
        }
    }
}

}  // namespace

int RecoverTable(const CommandLine& line) {
    const TableFiles files = TableFilesOf(line.table);
    SetDamagedLogAside(files);
    int status = 0;
    {
        // The open for writing rolls back a commit cut short, cuts back an import cut
        // short, rebuilds the index files a killed command left out of step and removes
        // what it left; each step is said.
        LockedTable locked(files, true, stdout);
        CBFFile& table = locked.Table();
        CutTornRecord(table, files);
        MendIndexFiles(table, files);
        int checked = 0;
        const std::vector<std::string> problems = TableProblems(table, files, checked);
        status = ReportProblems(problems, table, files, checked);
        locked.Close();
    }
    return status;
}
