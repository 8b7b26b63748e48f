// The table's side of transactions: the active transaction, the log, and the changes handed
// to a transaction instead of being made at once.

#include "core/KsCallpath.h"
#include "files/KsFile.h"
#include "files/KsTransactionSupport.h"

namespace {

constexpr const char* kClass = "KsFile";
KsTransactionSupport* installedSupport = nullptr;

KsTransactionSupport& RequireSupport() {
    if (installedSupport == nullptr) {
        KsNotImplementedError::Generate("Transactions are not available in this program",
                                        kClass);
    }
    return *installedSupport;
}

}  // namespace

KsTransactionSupport* KsTransactionSupport::Get() {
    return installedSupport;
}

void KsTransactionSupport::Install(KsTransactionSupport* support) {
    installedSupport = support;
}

void KsFile::OpenTransactionLog() {
    if ((openFlags_ & IO_WRITE) != 0 && installedSupport != nullptr) {
        transactionLog_ = installedSupport->OpenLog(*this);
    }
}

void KsFile::CloseTransactions() {
    if (activeTransaction_ != nullptr) {
        EndTransaction(activeTransaction_);
    }
    transactionLog_.reset();
}

KsTransaction* KsFile::BeginTransaction(bool lockForWriting) {
    return KsCallpath("BeginTransaction()", kClass, [&] {
        if (activeTransaction_ != nullptr) {
            KsException::GenerateAs<KsTransactionException>(
                "Transaction already in process.  Only one transaction allowed at a time.",
                kClass);
        }
        KsTransactionSupport& support = RequireSupport();
        if (lockForWriting) {
            if (readLocks_ > 0) {
                KsException::Generate("File is under a shared lock; no writes are allowed.",
                                      kClass);
            }
            Lock(LOCK_WRITE);
        }
        transactionWriteLocked_ = lockForWriting;
        try {
            activeTransaction_ = support.NewOldTransaction(*this);
        } catch (...) {
            if (lockForWriting) {
                Unlock(LOCK_WRITE);
            }
            transactionWriteLocked_ = false;
            throw;
        }
        listeners_.FLTransactionBegun(*this);
        return activeTransaction_;
    });
}

void KsFile::EndTransaction(KsTransaction* transaction) {
    KsCallpath("EndTransaction()", kClass, [&] {
        KsTransactionSupport& support = RequireSupport();
        // A transaction ended before is deleted: its pointer is compared, never followed.
        const bool exists = transaction != nullptr && support.Exists(transaction);
        if (exists && support.GetKind(*transaction) == KsTransactionSupport::Kind::kNew) {
            // A registered one must not stay active once it is gone.
            if (transaction == activeTransaction_) {
                activeTransaction_ = nullptr;
            }
            support.Destroy(transaction);
            return;
        }
        if (!exists || transaction != activeTransaction_) {
            KsException::GenerateAs<KsTransactionException>("No transaction in process.", kClass);
        }
        activeTransaction_ = nullptr;
        bool unlock = transactionWriteLocked_;
        transactionWriteLocked_ = false;
        if (support.GetKind(*transaction) == KsTransactionSupport::Kind::kOld) {
            support.Destroy(transaction);
        }
        if (unlock) {
            Unlock(LOCK_WRITE);
        }
        listeners_.FLTransactionEnded(*this);
    });
}

void KsFile::RegisterTransaction(KsTransaction* transaction) {
    KsCallpath("RegisterTransaction()", kClass, [&] {
        if (activeTransaction_ != nullptr) {
            return;
        }
        if (readLocks_ > 0) {
            KsException::Generate("File is under a shared lock; no writes are allowed.", kClass);
        }
        activeTransaction_ = transaction;
        transactionWriteLocked_ = false;
        listeners_.FLTransactionBegun(*this);
    });
}

KsTransaction* KsFile::StartTransaction(std::int32_t number, const char* description) {
    return KsCallpath("StartTransaction()", kClass, [&] {
        if (!transactionLog_) {
            KsException::GenerateAs<KsTransactionException>(
                "New transactions require the ability to create a log file", kClass);
        }
        return RequireSupport().NewTransaction(*this, number, description);
    });
}

KsTransactionLog& KsFile::GetTransactionLog() {
    if (!transactionLog_) {
        KsCallpath("GetTransactionLog()", kClass, [&] {
            KsException::GenerateAs<KsTransactionException>(
                "No transaction log available; file is either not open or read-only.", kClass);
        });
    }
    return *transactionLog_;
}

void KsFile::AppendRecord(KsTransaction* transaction, const KsFileRecord& record) {
    KsCallpath("AppendRecord()", kClass, [&] {
        if (transaction == nullptr) {
            KsException::Generate("NULL transaction pointer passed to AppendRecord()", kClass);
        }
        RequireSupport().AddAppend(*transaction, *this, record);
    });
}

void KsFile::SaveRecord(KsTransaction* transaction, std::int32_t n, const KsFileRecord& record) {
    KsCallpath("SaveRecord", kClass, [&] {
        if (transaction == nullptr) {
            KsException::Generate("NULL transaction pointer passed to SaveRecord()", kClass);
        }
        RequireSupport().AddModify(*transaction, *this, n, record);
    });
}
