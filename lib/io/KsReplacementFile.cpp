#include "io/KsReplacementFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>

#include "core/KsCallpath.h"
#include "io/KsSyncPolicy.h"
#include "platform/KsPosixFile.h"
#include "platform/KsSystemError.h"

namespace {

constexpr const char* kClass = "KsReplacementFile";
// The characters the system's temporary naming adds.
constexpr std::size_t kUniqueLength = 6;

bool IsAlphanumeric(const std::string& text) {
    for (char c : text) {
        if (std::isalnum(static_cast<unsigned char>(c)) == 0) {
            return false;
        }
    }
    return !text.empty();
}

std::string FolderOf(const char* path) {
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    return folder.empty() ? std::string(".") : folder.string();
}

}  // namespace

KsReplacementFile::KsReplacementFile(KsIOFactory& factory, const char* target, const char* tag)
    : factory_(factory), target_(target) {
    KsCallpath("KsReplacementFile()", kClass, target, [&] {
        std::string prefix = std::filesystem::path(target).filename().string() + "." + tag;
        std::string path;
        claim_ = KsPosix::CreateClaimedTemporaryFile(FolderOf(target), prefix.c_str(), path);
        if (claim_ < 0) {
            KsThrowSystemError(errno, "KsIO", "Could not get temporary file name -- WIN32 : ");
        }
        name_ = path.c_str();
    });
}

KsReplacementFile::~KsReplacementFile() {
    if (done_) {
        return;
    }
    try {
        Remove();
    } catch (const KsException&) {
        // Already failing: the first error is the one to report. The file stays, unclaimed,
        // for the next recovery of its table.
        EndClaim();
    }
}

void KsReplacementFile::EndClaim() noexcept {
    if (claim_ >= 0) {
        KsPosix::CloseFile(claim_);
        claim_ = -1;
    }
}

void KsReplacementFile::Commit() {
    KsCallpath("Commit()", kClass, name_.GetCString(), [&] {
        const bool syncing = KsSyncPolicy::IsOn();
        if (syncing) {
            // Its bytes reach the device before its name takes the old file's place, so that
            // a power failure leaves the old file or the whole new one.
            std::unique_ptr<KsIOInterface> file = factory_.Open(name_.GetCString(), IO_READ);
            file->Sync();
            file->Close();
        }
        factory_.Replace(target_.GetCString(), name_.GetCString());
        done_ = true;
        EndClaim();
        if (syncing) {
            factory_.SyncFolder(FolderOf(target_.GetCString()).c_str());
        }
    });
}

void KsReplacementFile::Release() {
    done_ = true;
    EndClaim();
}

void KsReplacementFile::Remove() {
    KsCallpath("Remove()", kClass, name_.GetCString(), [&] {
        done_ = true;
        // Deleted while claimed, so that no recovery takes it for abandoned meanwhile.
        factory_.Delete(name_.GetCString());
        EndClaim();
    });
}

void KsReplacementFile::WriteReplacing(KsIOFactory& factory, const char* target, const char* tag,
                                       const std::function<void(const char* fresh)>& fill) {
    KsReplacementFile fresh(factory, target, tag);
    fill(fresh.GetName());
    fresh.Commit();
}

bool KsReplacementFile::IsShapedFor(const std::string& name, const std::string& base,
                                    const std::vector<std::string>& tags) {
    // <base>.<extension>.<tag><unique>, or a new file of such a file: <...>.<tag><unique>
    if (name.size() <= base.size() + 1 || name.compare(0, base.size(), base) != 0 ||
        name[base.size()] != '.') {
        return false;
    }
    std::string rest = name.substr(base.size() + 1);
    std::size_t dot = rest.find('.');
    if (dot == std::string::npos || !IsAlphanumeric(rest.substr(0, dot))) {
        return false;
    }
    for (std::size_t start = dot + 1; start <= rest.size();) {
        std::size_t end = std::min(rest.find('.', start), rest.size());
        std::string part = rest.substr(start, end - start);
        bool tagged = false;
        for (const std::string& tag : tags) {
            tagged = tagged || (part.size() == tag.size() + kUniqueLength &&
                                part.compare(0, tag.size(), tag) == 0 &&
                                IsAlphanumeric(part.substr(tag.size())));
        }
        if (!tagged) {
            return false;
        }
        if (end == rest.size()) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

int KsReplacementFile::ClaimAbandoned(const char* name) {
    return KsPosix::ClaimFile(name);
}

namespace {

// Deletes the files of `folder` whose names `shaped` accepts and that this process can claim.
std::vector<std::string> RemoveClaimable(KsIOFactory& factory, const std::string& folder,
                                         const std::function<bool(const std::string&)>& shaped) {
    std::vector<std::string> removed;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (!shaped(entry.path().filename().string())) {
            continue;
        }
        std::string path = entry.path().string();
        int claim = KsReplacementFile::ClaimAbandoned(path.c_str());
        if (claim < 0) {
            continue;
        }
        try {
            factory.Delete(path.c_str());
            removed.push_back(path);
        } catch (const KsException&) {
            // Left for a later recovery.
        }
        KsPosix::CloseFile(claim);
    }
    return removed;
}

}  // namespace

std::vector<std::string> KsReplacementFile::RemoveAbandoned(KsIOFactory& factory,
                                                            const std::string& folder,
                                                            const std::string& base,
                                                            const std::vector<std::string>& tags) {
    return RemoveClaimable(factory, folder,
                           [&](const std::string& name) { return IsShapedFor(name, base, tags); });
}

std::vector<std::string> KsReplacementFile::RemoveAbandonedTemporaries(KsIOFactory& factory,
                                                                       const std::string& folder,
                                                                       const std::string& prefix) {
    return RemoveClaimable(factory, folder, [&](const std::string& name) {
        return name.size() == prefix.size() + kUniqueLength &&
               name.compare(0, prefix.size(), prefix) == 0 &&
               IsAlphanumeric(name.substr(prefix.size()));
    });
}
