// The table's side of crashes: the change marker that stands while the table is changed
// outside its transaction log, and the repair that an open for writing makes when a process
// that changed the table died (see files/KsTableLeftovers.h).

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "core/KsByteOrder.h"
#include "core/KsCallpath.h"
#include "files/KsFile.h"
#include "files/KsTableLeftovers.h"
#include "files/KsTransactionSupport.h"
#include "index/KsIndex.h"
#include "index/KsSort.h"
#include "io/KsIOLockGuard.h"
#include "io/KsSyncPolicy.h"
#include "platform/KsPosixFile.h"

namespace {

constexpr const char* kClass = "KsFile";
namespace Leftovers = KsTableLeftovers;

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

// What a marker asks of the repair; no count (-1) for a marker cut short, which was written
// before its change began.
struct MarkerContent {
    std::int32_t keep = -1;
    std::string folder;
};
MarkerContent ReadMarker(KsIOFactory& factory, const std::string& name) {
    MarkerContent content;
    try {
        std::unique_ptr<KsIOInterface> file = factory.Open(name.c_str(), IO_READ);
        const std::int64_t size = file->GetFileSize64();
        std::vector<unsigned char> bytes(static_cast<std::size_t>(std::clamp<std::int64_t>(
            size, 0, Leftovers::kMarkerSize + Leftovers::kMarkerFolderLimit)));
        if (bytes.size() < Leftovers::kMarkerSize ||
            file->ReadFrom(0, bytes.data(), static_cast<std::int32_t>(bytes.size()), false) !=
                static_cast<std::int32_t>(bytes.size()) ||
            std::memcmp(bytes.data(), Leftovers::kMarkerMagic, sizeof Leftovers::kMarkerMagic) !=
                0) {
            return content;
        }
        content.keep =
            KsByteOrder::LoadLittle<std::int32_t>(bytes.data() + Leftovers::kMarkerKeepOffset);
        content.folder.assign(bytes.begin() + Leftovers::kMarkerSize, bytes.end());
    } catch (const KsException&) {
        // Unreadable: it asks for what every marker asks.
    }
    return content;
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

KsFile::ChangeScope KsFile::BeginChange(std::int32_t keepRecords, const char* temporaryFolder) {
    return KsCallpath("BeginChange()", kClass, [&] {
        if (fileName_.GetFullPath()[0] == '\0') {
            KsException::Generate("A change needs an open table", kClass);
        }
        std::string folder = temporaryFolder != nullptr ? temporaryFolder : "";
        if (folder.size() > Leftovers::kMarkerFolderLimit) {
            KsException::Generate("The folder \"%s\" has too long a name", kClass, folder.c_str());
        }
        StartChange({keepRecords, folder});
        return ChangeScope(*this);
    });
}

void KsFile::SetSyncing(bool on) {
    KsSyncPolicy::Set(on);
}

bool KsFile::IsSyncing() {
    return KsSyncPolicy::IsOn();
}

bool KsFile::HasLeftovers(const char* dataFile) {
    return Leftovers::Scan(dataFile).Any();
}

void KsFile::StartChange(ChangeAsked asked) {
    const bool asks = asked.keepRecords >= 0 || !asked.temporaryFolder.empty();
    changes_.push_back(std::move(asked));
    try {
        if (!changeMarker_) {
            changeMarker_ =
                std::make_unique<KsReplacementFile>(factory_, GetFileName(), Leftovers::kMarkerTag);
            WriteMarker();
            SyncMarkerFolder();
        } else if (asks) {
            WriteMarker();
        }
    } catch (...) {
        changes_.pop_back();
        if (changes_.empty() && !indexFilesOut_) {
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
    std::string folder;
    for (const ChangeAsked& asked : changes_) {
        keep = asked.keepRecords >= 0 ? asked.keepRecords : keep;
        folder = asked.temporaryFolder.empty() ? folder : asked.temporaryFolder;
    }
    std::vector<unsigned char> bytes(Leftovers::kMarkerSize);
    std::memcpy(bytes.data(), Leftovers::kMarkerMagic, sizeof Leftovers::kMarkerMagic);
    KsByteOrder::StoreLittle(bytes.data() + Leftovers::kMarkerKeepOffset, keep);
    bytes.insert(bytes.end(), folder.begin(), folder.end());
    // Written over the old content, then cut to its length: a failed write leaves the old
    // marker whole.
    std::unique_ptr<KsIOInterface> file =
        factory_.Open(changeMarker_->GetName(), IO_READ | IO_WRITE);
    file->WriteTo(0, bytes.data(), static_cast<std::int32_t>(bytes.size()));
    const std::int64_t excess = file->GetFileSize64() - static_cast<std::int64_t>(bytes.size());
    if (excess > 0) {
        file->Truncate64(excess);
    }
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
    if (changes_.empty()) {
        return;
    }
    const bool asked = changes_.back().keepRecords >= 0 || !changes_.back().temporaryFolder.empty();
    changes_.pop_back();
    if (!changeMarker_) {
        return;
    }
    if (keepMarker) {
        // Every change under way is left to the repair.
        changes_.clear();
        indexFilesOut_ = false;
        DropMarker(true);
    } else if (changes_.empty() && !indexFilesOut_) {
        DropMarker(false);
    } else if (asked) {
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
            // A marker that came back after a power failure would undo the change it marked.
            SyncMarkerFolder();
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
    runFolders_.clear();
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
        MarkerContent content = ReadMarker(factory_, name);
        if (!content.folder.empty()) {
            runFolders_.push_back(content.folder);
        }
        std::int32_t keep = content.keep;
        if (keep >= 0 && keep <= GetNumRecords()) {
            std::int32_t had = GetNumRecords();
            KeepRecords(keep);
            if (had > keep) {
                repairs_.push_back(KsString());
                repairs_.back().printf(
                    "\"%s\" was cut back to its %ld record%s: a change that was adding %ld "
                    "record%s to it was cut short",
                    GetFileName(), static_cast<long>(keep), keep == 1 ? "" : "s",
                    static_cast<long>(had - keep), had - keep == 1 ? "" : "s");
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
    for (std::uint16_t field : indexes_.RepairIndexFiles()) {
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
    for (const std::string& folder : runFolders_) {
        for (const std::string& name :
             KsReplacementFile::RemoveAbandonedTemporaries(factory_, folder, KsSort::kTempPrefix)) {
            repairs_.push_back(KsString());
            repairs_.back().printf("\"%s\", left by a sort that was cut short, was removed",
                                   name.c_str());
        }
    }
    runFolders_.clear();
    // Repaired: the repair reaches the device, then the markers go, while still claimed.
    if (!claimedMarkers_.empty()) {
        if (IsSyncing()) {
            Sync();
        }
        while (!claimedMarkers_.empty()) {
            auto [name, claim] = claimedMarkers_.back();
            factory_.Delete(name.c_str());
            KsPosix::CloseFile(claim);
            claimedMarkers_.pop_back();
        }
        SyncMarkerFolder();
    }
    needsRepair_ = false;
}
