#include "txn/KsTransaction.h"

#include <mutex>
#include <unordered_set>

#include "core/KsCallpath.h"
#include "files/KsFile.h"
#include "progress/KsProgressInterface.h"
#include "txn/KsTransactionListener.h"

namespace {

constexpr const char* kOldClass = "KsTransactionOld";

// Listeners of an ending transaction cannot stop it.
template <class Call>
void TellQuietly(Call call) noexcept {
    try {
        call(KsMultiTransactionListener::Instance());
    } catch (...) {
    }
}

// Every transaction alive, so that a table can tell a transaction from a pointer to one
// already ended and deleted.
struct LiveTransactions {
    std::mutex guard;
    std::unordered_set<const KsTransaction*> members;
};

LiveTransactions& Live() {
    static LiveTransactions live;
    return live;
}

}  // namespace

KsTransaction::KsTransaction() {
    LiveTransactions& live = Live();
    std::lock_guard lock(live.guard);
    live.members.insert(this);
}

KsTransaction::~KsTransaction() {
    LiveTransactions& live = Live();
    std::lock_guard lock(live.guard);
    live.members.erase(this);
}

bool KsTransaction::Exists(const KsTransaction* transaction) {
    LiveTransactions& live = Live();
    std::lock_guard lock(live.guard);
    return live.members.count(transaction) != 0;
}

void KsTransaction::Commit(KsProgressInterface& progress) {
    KsCallpath("Commit()", "KsTransaction", [&] {
        progress.SetRange(0, 1);
        progress.SetSubRange(0, 1);
        progress.StepBy(1);
        progress.SetPosition(0);
        Commit();
        progress.SetPosition(1);
    });
}

KsTransactionOld::KsTransactionOld(KsFile& file) : file_(&file) {
    KsMultiTransactionListener::Instance().TLTransactionBegun(this);
    KsMultiTransactionListener::Instance().TLFileEntered(this, file_);
}

KsTransactionOld::~KsTransactionOld() {
    TellQuietly([&](KsMultiTransactionListener& all) {
        all.TLFileLeft(this, file_, true);
        all.TLTransactionEnded(this);
    });
}

void KsTransactionOld::AddAction(KsFile& file, KsRecordAction& action) {
    KsCallpath("AddAction()", kOldClass, [&] {
        if (&file != file_) {
            KsException::GenerateAs<KsTransactionException>(
                "This transaction was created for \"%s\", but was used on \"%s\"", kOldClass,
                file_->GetBaseName().GetCString(), file.GetBaseName().GetCString());
        }
        action.PermanentCommit(file);
    });
}

void KsTransactionOld::Rollback() {
    KsCallpath("Rollback()", kOldClass, [&] {
        KsNotImplementedError::Generate("Old-style transactions cannot be rolled back",
                                        kOldClass);
    });
}

KsDatabaseTransactionOld::KsDatabaseTransactionOld() {
    KsMultiTransactionListener::Instance().TLTransactionBegun(this);
}

KsDatabaseTransactionOld::~KsDatabaseTransactionOld() {
    TellQuietly([&](KsMultiTransactionListener& all) { all.TLTransactionEnded(this); });
}

void KsDatabaseTransactionOld::AddAction(KsFile& file, KsRecordAction& action) {
    KsCallpath("AddAction()", "KsDatabaseTransactionOld", [&] { action.PermanentCommit(file); });
}

void KsDatabaseTransactionOld::Rollback() {
    KsCallpath("Rollback()", "KsDatabaseTransactionOld", [&] {
        KsNotImplementedError::Generate("Old-style transactions cannot be rolled back",
                                        "KsDatabaseTransactionOld");
    });
}
