#include "txn/KsTransactionRecovery.h"

#include <string>

#include "core/KsCallpath.h"
#include "files/KsFile.h"
#include "files/KsTableLeftovers.h"
#include "io/KsIOLockGuard.h"
#include "txn/KsFileTransactionCommitter.h"
#include "txn/KsFileTransactionLog.h"
#include "txn/KsTransactionLogFormat.h"

namespace {

namespace Fmt = KsTransactionLogFormat;

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
    log.SetFoundCrashLeftovers();
    KsTimestamp id;
    KsFileTransactionStatus status;
    if (KsFileTransactionCommitter::ReadInverseHeader(*file, id)) {
        KsFileTransactionLog::Cursor at = log.FindTransaction(id, &status);
        if (at.GetPosition() != 0 && status.GetStatus() == Fmt::kCommitting) {
            KsFileTransactionCommitter committer(table, log, id, std::move(at));
            if (!committer.Recover(file.get())) {
                // The table stays refused for writing, the file in place, until a rollback
                // gets through.
                KsString reason = committer.RecoveryFailure();
                KsException::GenerateAs<KsRollbackFailure>(
                    "The commit of transaction %.17s to \"%s\" was cut short and cannot be rolled "
                    "back (%s); the table cannot be opened for writing until it is, and \"%s\" "
                    "keeps what undoes the commit.",
                    "KsFileTransactionLog", id.GetDigits(), table.GetFileName(),
                    reason.IsEmpty() ? "its inverse file does not read back whole"
                                     : reason.GetCString(),
                    name.c_str());
            }
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
        for (const std::string& name :
             KsTableLeftovers::Scan(log.GetTable().GetFileName()).inverseFiles) {
            RecoverFrom(log, name, interrupted);
        }
        // A commit whose inverse file named it was undone above; any other left Committing
        // had not changed the table.
        std::vector<KsTimestamp> unchanged;
        log.ForEach(
            [&](const KsFileTransactionStatus& status, std::uint32_t) {
                if (status.GetStatus() == Fmt::kCommitting) {
                    unchanged.push_back(status.GetCreated());
                }
            },
            false);
        for (const KsTimestamp& id : unchanged) {
            KsFileTransactionCommitter committer(log.GetTable(), log, id, log.FindTransaction(id));
            committer.Recover(nullptr);
            interrupted.push_back(id);
        }
        return interrupted;
    });
}
