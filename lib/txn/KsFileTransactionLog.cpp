#include "txn/KsFileTransactionLog.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <string>

#include "core/KsCallpath.h"
#include "files/KsFile.h"
#include "io/KsIOListFormat.h"
#include "io/KsIOListWords.h"
#include "platform/KsPosixFile.h"
#include "txn/KsFileTransactionCommitter.h"
#include "txn/KsFileTransactionInserter.h"
#include "txn/KsTransactionLogFormat.h"

namespace {

constexpr const char* kClass = "KsFileTransactionLog";

KsTimestamp Now() {
    KsTimestamp now;
    now.Now(false);
    return now;
}

}  // namespace

void KsFileTransactionLog::SetSyncing(bool on) {
    KsFile::SetSyncing(on);
}

bool KsFileTransactionLog::IsSyncing() {
    return KsFile::IsSyncing();
}

KsFileTransactionLog::KsFileTransactionLog(KsFile& file) : table_(&file) {
    KsCallpath("KsFileTransactionLog()", kClass, [&] {
        KsString name = KsFile::CompanionName(file.GetFileName(), kKsLogExtension);
        file_ = file.GetFactory().Open(name.GetCString(), IO_READ | IO_WRITE | IO_CREATE);
        try {
            if (file_->GetFileSize64() == 0) {
                KsIOSimpleList<void>(*file_, KsIOListFormat::ListPosition(0)).PrepareFile(1);
                file_->Sync();
            }
            list_ = std::make_unique<List>(*file_, KsIOListFormat::ListPosition(0));
            Validate();
        } catch (KsException& error) {
            KsFileException::Generate("The transaction log \"%s\" cannot be used: %s", kClass,
                                      name.GetCString(), name.GetCString(),
                                      error.GetErrorMessage());
        }
    });
}

KsFileTransactionLog::~KsFileTransactionLog() {
    DropInverseFile(true);
}

KsIOInterface& KsFileTransactionLog::InverseFile() {
    return KsCallpath("InverseFile()", kClass, [&]() -> KsIOInterface& {
        if (inverse_) {
            return *inverse_;
        }
        KsIOFactory& factory = table_->GetFactory();
        KsTimestamp stamp = Now();
        // A name another process took at the same moment is passed over: its file is
        // locked, or no longer empty.
        for (int attempt = 0; attempt < 1000; ++attempt, stamp.AddMilliseconds(1)) {
            KsString name = KsFileTransactionCommitter::InverseFileName(*table_, stamp);
            if (factory.Exists(name.GetCString())) {
                continue;
            }
            std::unique_ptr<KsIOInterface> file =
                factory.Open(name.GetCString(), IO_READ | IO_WRITE | IO_CREATE);
            auto lock =
                std::make_unique<KsIOLockGuard>(*file, LOCK_WRITE, 0, 0, KsIOLockGuard::kTry);
            if (!lock->IsHeld() || file->GetFileSize64() != 0) {
                continue;
            }
            if (IsSyncing()) {
                // The file's name must survive a power failure as long as what it undoes.
                std::string folder = name.GetCString();  // always has a folder part
                folder.resize(std::max<std::size_t>(folder.rfind('/'), 1));
                factory.SyncFolder(folder.c_str());
            }
            inverse_ = std::move(file);
            inverseLock_ = std::move(lock);
            inverseName_ = name;
            return *inverse_;
        }
        KsException::GenerateAs<KsTransactionException>("No inverse file can be made beside \"%s\"",
                                                        kClass, table_->GetFileName());
    });
}

void KsFileTransactionLog::LeaveInverseFile() noexcept {
    DropInverseFile(false);
}

void KsFileTransactionLog::DropInverseFile(bool remove) noexcept {
    if (!inverse_) {
        return;
    }
    if (remove) {
        try {
            // The file may hold the entries of the last commit, whose end must be on the disk
            // before they go. Deleted while still locked, so that no recovery of another
            // opener looks at it.
            Sync();
            table_->GetFactory().Delete(inverseName_.GetCString());
        } catch (const KsException&) {
            // The next open removes it, or undoes a commit whose end did not reach the log.
        }
    }
    inverseLock_.reset();
    try {
        inverse_->Close();
    } catch (const KsException&) {
        // Nothing in it is needed any more, or the next open finds what is.
    }
    inverse_.reset();
}

KsFileTransactionLog& KsFileTransactionLog::Of(KsFile& table) {
    // Installed transactions give every table a log of this class.
    return static_cast<KsFileTransactionLog&>(table.GetTransactionLog());
}

KsFileTransactionLog::WholeLock KsFileTransactionLog::LockAll() {
    return WholeLock(file_);
}

std::string KsFileTransactionLog::Inspect(KsIOFactory& factory, const char* name) {
    if (!factory.Exists(name)) {
        return "";
    }
    try {
        std::unique_ptr<KsIOInterface> file = factory.Open(name, IO_READ);
        // Read while no one writes it.
        KsIOLockGuard lock(*file, LOCK_READ, 0, 0);
        if (file->GetFileSize64() == 0) {
            return "";  // made at the next open for writing
        }
        List list(*file, KsIOListFormat::ListPosition(0));
        KsFileTransactionStatus status;
        for (Cursor it = list.begin(kWalk); !(it == list.end()); ++it) {
            it.Read(status);
        }
        return "";
    } catch (const KsException& error) {
        return error.GetErrorMessage();
    }
}

void KsFileTransactionLog::Validate() {
    WholeLock whole = LockAll();
    KsFileTransactionStatus status;
    for (Cursor it = list_->begin(kWalk); !(it == list_->end()); ++it) {
        it.Read(status);
    }
}

void KsFileTransactionLog::Sync() {
    KsCallpath("Sync()", kClass, [&] {
        if (IsSyncing()) {
            KsIOListWords::Flush(*file_);
            file_->Sync();
        } else {
            KsIOListWords::Flush(*file_);
        }
    });
}

void KsFileTransactionLog::Flush() {
    KsCallpath("Flush()", kClass, [&] { KsIOListWords::Flush(*file_); });
}

KsTimestamp KsFileTransactionLog::CreateTransaction(std::uint32_t number, const char* description) {
    return KsCallpath("CreateTransaction()", kClass, [&] {
        WholeLock whole = LockAll();
        KsTimestamp created = Now();
        // The newest identity stands at the head of the list. One taken already from now on
        // (transactions made faster than one a millisecond run ahead of the clock) moves the
        // new one 1 ms past it, so the newest stays first without walking the others.
        Cursor at = list_->begin(kWalk);
        if (!(at == list_->end())) {
            KsFileTransactionStatus newest;
            at.Read(newest);
            if (!(newest.GetCreated() < created)) {
                created = newest.GetCreated();
                created.AddMilliseconds(1);
            }
        }
        KsFileTransactionStatus status(number, description, created);
        list_->insert(at, status);
        KsIOListWords::Flush(*file_);
        StartBuilding(created);
        buildingNode_ = at.GetPosition();
        buildingSubList_ = list_->SubListPosition(at.GetVoidIterator());
        buildingStatus_ = status;
        return created;
    });
}

void KsFileTransactionLog::StartBuilding(const KsTimestamp& id) {
    buildingId_ = id;
    buildingNode_ = 0;
    lastAction_ = 0;
    logged_.clear();
    loggedBytes_ = 0;
}

KsFileTransactionLog::Cursor KsFileTransactionLog::FindTransaction(
    const KsTimestamp& id, KsFileTransactionStatus* status) {
    return KsCallpath("FindTransaction()", kClass, [&] {
        KsFileTransactionStatus current;
        Cursor it = list_->begin(kWalk);
        for (; !(it == list_->end()); ++it) {
            it.Read(current);
            if (current.GetCreated() == id) {
                if (status != nullptr) {
                    *status = current;
                }
                break;
            }
        }
        return it;
    });
}

KsFileTransactionLog::Cursor KsFileTransactionLog::RequireTransaction(
    const KsTimestamp& id, KsFileTransactionStatus& status) {
    Cursor it = FindTransaction(id, &status);
    if (it == list_->end()) {
        KsException::GenerateAs<KsTransactionException>("Transaction not found", kClass);
    }
    return it;
}

void KsFileTransactionLog::ChangeStatus(
    const KsTimestamp& id, const char* function,
    const std::function<void(KsFileTransactionStatus&)>& change) {
    KsCallpath(function, kClass, [&] {
        WholeLock whole = LockAll();
        KsFileTransactionStatus status;
        Cursor it = RequireTransaction(id, status);
        ForgetBuildingNode();
        change(status);
        it.Write(status);
        KsIOListWords::Flush(*file_);
    });
}

KsFileTransactionStatus KsFileTransactionLog::GetStatus(const KsTimestamp& id) {
    return KsCallpath("GetStatus()", kClass, [&] {
        WholeLock whole = LockAll();
        KsFileTransactionStatus status;
        RequireTransaction(id, status);
        return status;
    });
}

std::unique_ptr<KsFileTransactionInserter> KsFileTransactionLog::BeginInsertion(
    const KsTimestamp& id) {
    return KsCallpath("BeginInsertion()", kClass, [&] {
        WholeLock whole = LockAll();
        KsFileTransactionStatus status;
        Cursor it = RequireTransaction(id, status);
        ForgetBuildingNode();
        status.Building();
        it.Write(status);
        if (!(buildingId_ == id)) {
            StartBuilding(id);
        }
        return std::make_unique<KsFileTransactionInserter>(*table_, *this, std::move(it),
                                                           &lastAction_);
    });
}

void KsFileTransactionLog::AddAction(const KsTimestamp& id, KsRecordAction& action) {
    WholeLock whole = LockAll();
    KsFileTransactionStatus status;
    KsCallpath("BeginInsertion()", kClass, [&] {
        if (!(buildingId_ == id)) {
            StartBuilding(id);
        }
        if (buildingNode_ == 0 || list_->begin(kWalk).GetPosition() != buildingNode_) {
            ForgetBuildingNode();
            Cursor found = RequireTransaction(id, buildingStatus_);
            buildingSubList_ = list_->SubListPosition(found.GetVoidIterator());
            buildingNode_ = found.GetPosition();
        }
        status = buildingStatus_;
        status.Building();
    });
    KsCallpath("Add()", "KsFileTransactionInserter", [&] {
        KsIOList<KsRecordActionListWrapper> actions(*file_, buildingSubList_,
                                                    KsIOList<void>::kSubList);
        KsRecordActionListWrapper element(*table_, action);
        KsIOListObject written;
        std::uint64_t node =
            KsFileTransactionInserter::Append(actions, element, &lastAction_, &written);
        // A transaction too large to keep in memory is read back from the log instead.
        constexpr std::size_t kMostLoggedBytes = std::size_t{4} << 20;
        if (loggedBytes_ + written.GetSize() <= kMostLoggedBytes) {
            const auto* data = static_cast<const char*>(written.GetData());
            logged_.push_back({node, std::vector<char>(data, data + written.GetSize()),
                               std::move(element).TakeAction()});
            loggedBytes_ += written.GetSize();
        }
    });
    // Ready again, the status is the one stored: a crash leaves the insertion whole or not
    // made, whatever the status said meanwhile.
    KsCallpath("Stabilize()", kClass, [&] {
        status.Stabilize(Now());
        assert(status.GetStatus() == KsTransactionLogFormat::kReady);
        KsIOListWords::Flush(*file_);
    });
}

std::unique_ptr<KsFileTransactionCommitter> KsFileTransactionLog::BeginCommission(
    const KsTimestamp& id) {
    return KsCallpath("BeginCommission()", kClass, [&] {
        WholeLock whole = LockAll();
        KsFileTransactionStatus status;
        Cursor it = RequireTransaction(id, status);
        ForgetBuildingNode();
        status.Committing();
        it.Write(status);
        // A crash from here on is found by the next open, which undoes what was done. The
        // sync also makes the actions just logged safe from a power failure before the table
        // changes (until then the order of the log's writes holds only against a crash of
        // the process), and the end of the commit before, before its inverses are dropped.
        Sync();
        auto committer =
            std::make_unique<KsFileTransactionCommitter>(*table_, *this, id, std::move(it));
        if (buildingId_ == id) {
            committer->UseLoggedActions(std::move(logged_));
            StartBuilding(KsTimestamp());
        }
        return committer;
    });
}

void KsFileTransactionLog::Rollback(const KsTimestamp& id) {
    ChangeStatus(id, "Rollback()",
                 [](KsFileTransactionStatus& status) { status.Rolledback(Now(), false); });
}

void KsFileTransactionLog::UncommittedRollback(const KsTimestamp& id) {
    ChangeStatus(id, "UncommittedRollback()",
                 [](KsFileTransactionStatus& status) { status.Rolledback(Now(), true); });
}

void KsFileTransactionLog::Stabilize(const KsTimestamp& id) {
    ChangeStatus(id, "Stabilize()",
                 [](KsFileTransactionStatus& status) { status.Stabilize(Now()); });
}

void KsFileTransactionLog::ForEach(
    const std::function<void(const KsFileTransactionStatus&, std::uint32_t)>& visit,
    bool countActions) {
    KsCallpath("ForEach()", kClass, [&] {
        WholeLock whole = LockAll();
        KsFileTransactionStatus status;
        for (Cursor it = list_->begin(kWalk); !(it == list_->end()); ++it) {
            it.Read(status);
            std::uint32_t count = 0;
            KsIOList<KsRecordActionListWrapper> actions = it.SubList();
            for (auto action = actions.begin(kWalk); countActions && !(action == actions.end());
                 ++action) {
                ++count;
            }
            visit(status, count);
        }
    });
}

void KsFileTransactionLog::ForEachAction(
    const KsTimestamp& id, const std::function<bool(KsRecordActionListWrapper&)>& visit) {
    KsCallpath("ForEachAction()", kClass, [&] {
        WholeLock whole = LockAll();
        KsFileTransactionStatus status;
        Cursor it = RequireTransaction(id, status);
        KsIOList<KsRecordActionListWrapper> actions = it.SubList();
        KsRecordActionListWrapper wrapper(*table_);
        for (auto action = actions.begin(kWalk); !(action == actions.end()); ++action) {
            action.Read(wrapper);
            if (visit(wrapper)) {
                action.Write(wrapper);
            }
        }
        KsIOListWords::Flush(*file_);
    });
}
