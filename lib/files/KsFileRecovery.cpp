// The table's side of crashes: the change marker that stands while the table is changed
// outside its transaction log, and the repair that an open for writing makes when a process
// that changed the table died (see files/KsTableLeftovers.h).

#include <atomic>
#include <cstring>
#include <filesystem>

#include "core/KsByteOrder.h"
#include "core/KsCallpath.h"
#include "files/KsFile.h"
#include "files/KsTableLeftovers.h"
#include "files/KsTransactionSupport.h"
#include "index/KsIndex.h"
#include "io/KsIOLockGuard.h"
#include "platform/KsPosixFile.h"

namespace {

constexpr const char* kClass = "KsFile";
namespace Leftovers = KsTableLeftovers;
std::atomic<bool> syncing{true};

std::string FolderOf(const char* path) {
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    return folder.empty() ? std::string(".") : folder.string();
}

// Whether the log that used the inverse file `name` is gone (its lock can be taken).
bool IsAbandonedInverse(KsIOFactory& factory, const std::string& name) {
    try {
        std::unique_ptr<KsIOInterface> file = factory.Open(name.c_str(), IO_READ | IO_WRITE);
        KsIOLockGuard lock(*file, LOCK_WRITE, 0, 0, KsIOLockGuard::kTry);
        return lock.IsHeld();
    } catch (const KsException&) {
        return false;  // gone meanwhile, or not ours to open
    }
}

// The record count a marker says to cut back to; -1 for none (or a marker cut short, which
// was written before its change began).
std::int32_t ReadKeep(KsIOFactory& factory, const std::string& name) {
    try {
        std::unique_ptr<KsIOInterface> file = factory.Open(name.c_str(), IO_READ);
        unsigned char bytes[Leftovers::kMarkerSize];
        if (file->ReadFrom(0, bytes, sizeof bytes, false) != sizeof bytes ||
            std::memcmp(bytes, Leftovers::kMarkerMagic, sizeof Leftovers::kMarkerMagic) != 0) {
            return -1;
        }
        return KsByteOrder::LoadLittle<std::int32_t>(bytes + Leftovers::kMarkerKeepOffset);
    } catch (const KsException&) {
        return -1;
    }
}

}  // namespace

// ---- The change marker

KsFile::ChangeScope::~ChangeScope() {
    if (table_ != nullptr) {
        table_->EndChange(std::uncaught_exceptions() > exceptions_);
    }
}

void KsFile::ChangeScope::Abandon() noexcept {
    if (table_ != nullptr) {
        table_->EndChange(true);
        table_ = nullptr;
    }
}

KsFile::ChangeScope KsFile::BeginChange(std::int32_t keepRecords) {
    return KsCallpath("BeginChange()", kClass, [&] {
        if (fileName_.GetFullPath()[0] == '\0') {
            KsException::Generate("A change needs an open table", kClass);
        }
        StartChange(keepRecords);
        return ChangeScope(*this);
    });
}

void KsFile::SetSyncing(bool on) {
    syncing = on;
}

bool KsFile::IsSyncing() {
    return syncing;
}

bool KsFile::HasLeftovers(const char* dataFile) {
    return Leftovers::Scan(dataFile).Any();
}

void KsFile::StartChange(std::int32_t keepRecords) {
    changeKeeps_.push_back(keepRecords);
    try {
        if (!changeMarker_) {
            changeMarker_ =
                std::make_unique<KsReplacementFile>(factory_, GetFileName(), Leftovers::kMarkerTag);
            WriteMarker();
            SyncMarkerFolder();
        } else if (keepRecords >= 0) {
            WriteMarker();
        }
    } catch (...) {
        changeKeeps_.pop_back();
        if (changeKeeps_.empty() && !indexFilesOut_) {
            DropMarker(false);
        }
        throw;
    }
}

void KsFile::MarkIndexFilesOut() {
    if (indexFilesOut_) {
        return;
    }
    if (!changeMarker_) {
        changeMarker_ =
            std::make_unique<KsReplacementFile>(factory_, GetFileName(), Leftovers::kMarkerTag);
        try {
            WriteMarker();
            SyncMarkerFolder();
        } catch (...) {
            DropMarker(false);
            throw;
        }
    }
    indexFilesOut_ = true;
}

void KsFile::WriteMarker() {
    std::int32_t keep = -1;
    for (std::int32_t count : changeKeeps_) {
        keep = count >= 0 ? count : keep;
    }
    unsigned char bytes[Leftovers::kMarkerSize];
    std::memcpy(bytes, Leftovers::kMarkerMagic, sizeof Leftovers::kMarkerMagic);
    KsByteOrder::StoreLittle(bytes + Leftovers::kMarkerKeepOffset, keep);
    std::unique_ptr<KsIOInterface> file = factory_.Open(changeMarker_->GetName(), IO_READ | IO_WRITE);
    file->WriteTo(0, bytes, sizeof bytes);
    if (IsSyncing()) {
        file->Sync();
    }
    file->Close();
}

void KsFile::SyncMarkerFolder() {
    if (IsSyncing()) {
        // The marker must be found after a crash of the system too.
        factory_.SyncFolder(FolderOf(GetFileName()).c_str());
    }
}

void KsFile::EndChange(bool keepMarker) noexcept {
    if (changeKeeps_.empty()) {
        return;
    }
    const bool hadKeep = changeKeeps_.back() >= 0;
    changeKeeps_.pop_back();
    if (!changeMarker_) {
        return;
    }
    if (keepMarker) {
        // Every change under way is left to the repair.
        changeKeeps_.clear();
        indexFilesOut_ = false;
        DropMarker(true);
    } else if (changeKeeps_.empty() && !indexFilesOut_) {
        DropMarker(false);
    } else if (hadKeep) {
        try {
            WriteMarker();
        } catch (const KsException&) {
            // A marker that would cut back records now kept must not stay.
            DropMarker(false);
        }
    }
}

void KsFile::DropMarker(bool keep) noexcept {
    if (!changeMarker_) {
        return;
    }
    if (keep) {
        changeMarker_->Release();
    } else {
        try {
            changeMarker_->Remove();
        } catch (const KsException&) {
            // It stays, unclaimed: the next open for writing repairs what it stands for.
            changeMarker_->Release();
        }
    }
    changeMarker_.reset();
}

// ---- The repair at the open for writing

void KsFile::ReleaseClaimedMarkers() noexcept {
    for (const auto& [name, claim] : claimedMarkers_) {
        KsPosix::CloseFile(claim);
    }
    claimedMarkers_.clear();
}

void KsFile::RepairBeforeLog() {
    repairs_.clear();
    needsRepair_ = false;
    Leftovers::Found found = Leftovers::Scan(GetFileName());
    if (KsTransactionSupport::Get() == nullptr) {
        for (const std::string& name : found.inverseFiles) {
            if (IsAbandonedInverse(factory_, name)) {
                KsException::Generate(
                    "\"%s\" cannot be opened for writing: \"%s\" holds what undoes a commit to it "
                    "that was cut short. Open the table in a program that installs transactions, "
                    "or run \"kstable check\" on it, to roll that commit back.",
                    kClass, GetFileName(), name.c_str());
            }
        }
    }
    for (const std::string& name : found.markers) {
        int claim = KsReplacementFile::ClaimAbandoned(name.c_str());
        if (claim < 0) {
            continue;  // a live writer's
        }
        claimedMarkers_.emplace_back(name, claim);
        needsRepair_ = true;
        std::int32_t keep = ReadKeep(factory_, name);
        if (keep >= 0 && keep <= GetNumRecords()) {
            std::int32_t had = GetNumRecords();
            KeepRecords(keep);
            if (had > keep) {
                repairs_.push_back(KsString());
                repairs_.back().printf(
                    "\"%s\" was cut back to its %ld records: a change that was adding %ld "
                    "records to it was cut short",
                    GetFileName(), static_cast<long>(keep), static_cast<long>(had - keep));
            }
        }
    }
    needsRepair_ = needsRepair_ || !found.temporaries.empty();
}

void KsFile::RepairAfterLog() {
    if (transactionLog_ && transactionLog_->FoundCrashLeftovers()) {
        needsRepair_ = true;
    }
    if (!needsRepair_) {
        return;
    }
    // Index files may be missing, stale or left over for fields no longer indexed.
    for (std::uint16_t field : RepairIndexFiles()) {
        repairs_.push_back(KsString());
        repairs_.back().printf("the index file of field \"%s\" of \"%s\" was built afresh",
                               GetField(field).GetName(), GetFileName());
    }
    for (const std::string& name : KsReplacementFile::RemoveAbandoned(
             factory_, FolderOf(GetFileName()), GetBaseName().GetCString(),
             Leftovers::TemporaryTags())) {
        repairs_.push_back(KsString());
        repairs_.back().printf("\"%s\", left by a change that was cut short, was removed",
                               name.c_str());
    }
    // Repaired: the markers go, while still claimed.
    while (!claimedMarkers_.empty()) {
        auto [name, claim] = claimedMarkers_.back();
        factory_.Delete(name.c_str());
        KsPosix::CloseFile(claim);
        claimedMarkers_.pop_back();
    }
    needsRepair_ = false;
}
