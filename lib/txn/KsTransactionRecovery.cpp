#include "txn/KsTransactionRecovery.h"

#include <cstring>
#include <filesystem>
#include <string>

#include "core/KsCallpath.h"
#include "files/KsFile.h"
#include "io/KsIOLockGuard.h"
#include "txn/KsFileTransactionCommitter.h"
#include "txn/KsFileTransactionLog.h"
#include "txn/KsTransactionLogFormat.h"

namespace {

namespace Fmt = KsTransactionLogFormat;

// The names of the files in the table's folder shaped like its inverse files.
std::vector<std::string> InverseFilesOf(KsFile& table) {
    std::filesystem::path any =
        KsFileTransactionCommitter::InverseFileName(table, KsTimestamp()).GetCString();
    std::string prefix = any.filename().string();
    prefix.resize(prefix.size() - 17 - std::strlen(Fmt::kInverseExtension));
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(any.parent_path(), error)) {
        std::string name = entry.path().filename().string();
        if (name.size() == any.filename().string().size() && name.rfind(prefix, 0) == 0) {
            names.push_back(entry.path().string());
        }
    }
    return names;
}

// Undoes the commit the inverse file `name` holds when its transaction has not ended, then
// deletes the file; leaves it alone while another opener of the table holds it. A file
// without a whole header belongs to a commit that changed nothing yet.
void RecoverFrom(KsFileTransactionLog& log, const std::string& name,
                 std::vector<KsTimestamp>& interrupted) {
    KsFile& table = log.GetTable();
    std::unique_ptr<KsIOInterface> file = table.GetFactory().Open(name.c_str(), IO_READ | IO_WRITE);
    KsIOLockGuard lock(*file, LOCK_WRITE, 0, 0, KsIOLockGuard::kTry);
    if (!lock.IsHeld()) {
        return;
    }
    KsTimestamp id;
    KsFileTransactionStatus status;
    if (KsFileTransactionCommitter::ReadInverseHeader(*file, id)) {
        KsFileTransactionLog::Cursor at = log.FindTransaction(id, &status);
        if (at.GetPosition() != 0 && status.GetStatus() == Fmt::kCommitting) {
            KsFileTransactionCommitter committer(table, log, id, std::move(at));
            committer.Recover(file.get());
            interrupted.push_back(id);
        }
    }
    // The file may hold the entries of a commit whose end is in the log but maybe not on
    // the disk yet. Deleted while locked, so that no other opener looks at it meanwhile.
    log.Sync();
    table.GetFactory().Delete(name.c_str());
}

}  // namespace

std::vector<KsTimestamp> KsRecoverTransactions(KsFileTransactionLog& log) {
    return KsCallpath("KsRecoverTransactions()", "KsFileTransactionLog", [&] {
        std::vector<KsTimestamp> interrupted;
        KsFileTransactionLog::WholeLock whole = log.LockAll();
        for (const std::string& name : InverseFilesOf(log.GetTable())) {
            RecoverFrom(log, name, interrupted);
        }
        // A commit whose inverse file named it was undone above; any other left Committing
        // had not changed the table.
        std::vector<KsTimestamp> unchanged;
        log.ForEach([&](const KsFileTransactionStatus& status, std::uint32_t) {
            if (status.GetStatus() == Fmt::kCommitting) {
                unchanged.push_back(status.GetCreated());
            }
        }, false);
        for (const KsTimestamp& id : unchanged) {
            KsFileTransactionCommitter committer(log.GetTable(), log, id, log.FindTransaction(id));
            committer.Recover(nullptr);
            interrupted.push_back(id);
        }
        return interrupted;
    });
}
