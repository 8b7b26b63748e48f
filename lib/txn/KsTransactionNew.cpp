#include "txn/KsTransactionNew.h"

#include "core/KsCallpath.h"
#include "core/KsScopeExit.h"
#include "files/KsFile.h"
#include "progress/KsNullProgress.h"
#include "txn/KsFileTransactionCommitter.h"
#include "txn/KsFileTransactionInserter.h"
#include "txn/KsFileTransactionLog.h"
#include "txn/KsTransactionListener.h"

namespace {
constexpr const char* kClass = "KsTransactionNew";
}

KsTransactionNew::KsTransactionNew(KsFile& file, std::uint32_t number, const char* description)
    : file_(&file) {
    KsCallpath("KsTransactionNew()", kClass, [&] {
        id_ = Log().CreateTransaction(number, description);
        KsMultiTransactionListener::Instance().TLTransactionBegun(this);
        KsMultiTransactionListener::Instance().TLFileEntered(this, file_);
    });
}

KsTransactionNew::~KsTransactionNew() {
    try {
        if (!committed_) {
            Log().UncommittedRollback(id_);
        }
    } catch (const KsException&) {
        // The table may be closed already; its log then shows what became of the commit.
    }
    try {
        KsMultiTransactionListener::Instance().TLFileLeft(this, file_, committed_);
        KsMultiTransactionListener::Instance().TLTransactionEnded(this);
    } catch (const KsException&) {
        // Listeners of an ending transaction cannot stop it.
    }
}

KsFileTransactionLog& KsTransactionNew::Log() const {
    return KsFileTransactionLog::Of(*file_);
}

void KsTransactionNew::AddAction(KsFile&, KsRecordAction& action) {
    KsCallpath("AddAction()", kClass, [&] {
        Log().AddAction(id_, action);
        ++actionCount_;
    });
}

void KsTransactionNew::Commit() {
    Commit(KsNullProgress::Instance());
}

void KsTransactionNew::Commit(KsProgressInterface& progress) {
    KsCallpath("Commit()", kClass, [&] {
        KsScopeExit forget([&] { actionCount_ = 0; });
        progress.SetRange(0, static_cast<std::int32_t>(actionCount_));
        KsFileTransactionLog::WholeLock whole = Log().LockAll();
        Log().BeginCommission(id_)->Commit(progress);
        committed_ = true;
    });
}

void KsTransactionNew::Rollback() {
    KsCallpath("Rollback()", kClass, [&] {
        KsScopeExit forget([&] { actionCount_ = 0; });
        if (committed_) {
            // Its changes are in the table and no inverse is left: calling it rolled back
            // would misreport the table.
            KsException::GenerateAs<KsTransactionException>(
                "Cannot rollback a transaction which is \"%s\"", "KsTransactionStatus",
                "Committed");
        }
        Log().Rollback(id_);
    });
}
