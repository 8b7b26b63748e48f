#include "txn/KsTransactionRecovery.h"

#include <cstring>
#include <filesystem>
#include <string>

#include "core/KsCallpath.h"
#include "files/KsFile.h"
#include "txn/KsFileTransactionCommitter.h"
#include "txn/KsFileTransactionLog.h"
#include "txn/KsTransactionLogFormat.h"

namespace {

namespace Fmt = KsTransactionLogFormat;

// Deletes the inverse files of the table that belong to no transaction still Committing.
void DeleteLeftoverInverseFiles(KsFileTransactionLog& log) {
    KsFile& table = log.GetTable();
    std::filesystem::path any = KsFileTransactionCommitter::InverseFileName(table, KsTimestamp())
                                    .GetCString();
    std::string prefix = any.filename().string();
    prefix.resize(prefix.size() - 17 - std::strlen(Fmt::kInverseExtension));
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(any.parent_path(), error)) {
        std::string name = entry.path().filename().string();
        if (name.size() != any.filename().string().size() || name.rfind(prefix, 0) != 0) {
            continue;
        }
        KsFileTransactionStatus status;
        bool committing = false;
        log.ForEach([&](const KsFileTransactionStatus& each, std::uint32_t) {
            if (name.compare(prefix.size(), 17, each.GetCreated().GetDigits(), 17) == 0) {
                committing = each.GetStatus() == Fmt::kCommitting;
            }
        }, false);
        if (!committing) {
            table.GetFactory().Delete(entry.path().c_str());
        }
    }
}

}  // namespace

std::vector<KsTimestamp> KsRecoverTransactions(KsFileTransactionLog& log) {
    return KsCallpath("KsRecoverTransactions()", "KsFileTransactionLog", [&] {
        std::vector<KsTimestamp> interrupted;
        log.ForEach([&](const KsFileTransactionStatus& status, std::uint32_t) {
            if (status.GetStatus() == Fmt::kCommitting) {
                interrupted.push_back(status.GetCreated());
            }
        }, false);
        KsFileTransactionLog::WholeLock whole = log.LockAll();
        for (const KsTimestamp& id : interrupted) {
            KsFileTransactionCommitter committer(log.GetTable(), log, id, log.FindTransaction(id));
            committer.Recover();
        }
        DeleteLeftoverInverseFiles(log);
        return interrupted;
    });
}
