#include "support/FaultInjectingFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "core/KsCallpath.h"
#include "platform/KsSystemError.h"
#include "support/TempDir.h"

namespace kstest {

template class FaultInjecting<KsIO>;
template class FaultInjecting<KsIOUnbuffered>;

void FaultPlan::Fail(FaultOp op, int nth, int errorNumber, bool keepFailing) {
    FailShort(op, nth, 0, errorNumber, keepFailing);
}

void FaultPlan::FailShort(FaultOp op, int nth, std::size_t bytes, int errorNumber,
                          bool keepFailing) {
    Counter& counter = Of(op);
    counter.nth = nth;
    counter.errorNumber = errorNumber;
    counter.keepFailing = keepFailing;
    counter.bytesFirst = bytes;
}

void FaultPlan::Reset() {
    for (Counter& counter : counters_) {
        counter = Counter();
    }
}

FaultPlan::Verdict FaultPlan::Next(FaultOp op) {
    Counter& counter = Of(op);
    ++counter.calls;
    if (counter.nth == 0 || counter.calls < counter.nth ||
        (counter.calls > counter.nth && !counter.keepFailing)) {
        return {};
    }
    ++counter.failures;
    return {true, counter.errorNumber, counter.bytesFirst};
}

std::unique_ptr<KsIOInterface> FaultInjectingFactory::Open(const char* name, int flags) {
    return std::make_unique<FaultInjectingFile>(plan_, powerCut_, name, flags);
}

void FaultInjectingFactory::SyncFolder(const char* folder) {
    if (PlannedCall(*plan_, FaultOp::kSyncFolder, [] { return 0; }) != 0) {
        int errorNumber = errno;
        // Raised as the factory of real files raises it.
        KsCallpath("SyncFolder()", "KsIOInterface", [&] {
            KsThrowSystemError(errorNumber, "KsIOInterface", "Unable to sync the folder \"%s\" -- ",
                               folder);
        });
    }
    KsIOFactory::SyncFolder(folder);
    if (powerCut_->IsWatching()) {
        powerCut_->FolderSynced(folder);
    }
}

int FaultInjectingFactory::SystemRename(const char* oldName, const char* newName) {
    return PlannedCall(*plan_, FaultOp::kRename,
                       [&] { return KsIOFactory::SystemRename(oldName, newName); });
}

int FaultInjectingFactory::SystemRemove(const char* name) {
    return PlannedCall(*plan_, FaultOp::kDelete, [&] { return KsIOFactory::SystemRemove(name); });
}

// ---- the power-cut model ----

namespace {

using FileId = PowerCutModel::FileId;
using Listing = PowerCutModel::Listing;

// One journal record: a write ('W': value is the offset, the bytes follow), a size set
// ('T': value is the size), a sync ('S'), or a synced folder's listing ('L': the folder's
// identity, then for each file its identity, the name's length and the name).
struct RecordHead {
    char kind = 0;
    char padding[7] = {};
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t value = 0;
    std::uint64_t length = 0;  // bytes that follow
};

// The journal is the model's memory; a model that cannot keep it cannot go on.
[[noreturn]] void JournalFailed(const char* what) {
    std::perror(what);
    std::abort();
}

FileId IdOf(const struct stat& status) {
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

std::string PathIn(const std::string& folder, const std::string& name) {
    return (std::filesystem::path(folder) / name).string();
}

// The regular files directly in `folder`, by name.
Listing ListFolder(const std::string& folder) {
    Listing listing;
    DIR* directory = opendir(folder.c_str());
    if (directory == nullptr) {
        throw std::runtime_error("cannot list " + folder);
    }
    while (const dirent* entry = readdir(directory)) {
        struct stat status {};
        if (fstatat(dirfd(directory), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(status.st_mode)) {
            listing[entry->d_name] = IdOf(status);
        }
    }
    closedir(directory);
    return listing;
}

FolderImage ReadFolder(const std::string& folder) {
    FolderImage files;
    for (const auto& entry : ListFolder(folder)) {
        files[entry.first] = ReadWholeFile(PathIn(folder, entry.first));
    }
    return files;
}

std::string ReadJournal(int fd) {
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        JournalFailed("power-cut journal");
    }
    std::string bytes(static_cast<std::size_t>(status.st_size), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t got = pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (got <= 0 && errno != EINTR) {
            JournalFailed("power-cut journal");
        }
        done += got > 0 ? static_cast<std::size_t>(got) : 0;
    }
    return bytes;
}

// Puts `count` bytes at `offset` of `content`, zeros filling any gap before them.
void Overlay(std::string& content, std::int64_t offset, const char* bytes, std::size_t count) {
    auto at = static_cast<std::size_t>(offset);
    if (content.size() < at + count) {
        content.resize(at + count, '\0');
    }
    std::memcpy(content.data() + at, bytes, count);
}

// One file as the journal tells it.
struct FileHistory {
    std::string now;       // after every change
    std::string stored;    // at its last sync
    bool written = false;  // a write came since that sync: the last one is
    std::int64_t lastOffset = 0;
    std::string lastBytes;

    void Write(std::int64_t offset, const char* bytes, std::size_t count) {
        Overlay(now, offset, bytes, count);
        written = true;
        lastOffset = offset;
        lastBytes.assign(bytes, count);
    }
    void Sync() {
        stored = now;
        written = false;
        lastBytes.clear();
    }
    std::string After(CutMode mode) const {
        std::string kept = stored;
        if (mode == CutMode::kKeepTornTail && written) {
            std::int64_t end = lastOffset + static_cast<std::int64_t>(lastBytes.size());
            std::int64_t boundary = end / PowerCutModel::kSectorSize * PowerCutModel::kSectorSize;
            if (boundary > lastOffset) {
                Overlay(kept, lastOffset, lastBytes.data(),
                        static_cast<std::size_t>(boundary - lastOffset));
            }
        }
        return kept;
    }
};

Listing DecodeListing(const char* bytes, std::size_t length) {
    Listing listing;
    std::size_t at = 0;
    while (at < length) {
        FileId id;
        std::uint32_t nameLength = 0;
        std::memcpy(&id.device, bytes + at, 8);
        std::memcpy(&id.inode, bytes + at + 8, 8);
        std::memcpy(&nameLength, bytes + at + 16, 4);
        at += 20;
        listing[std::string(bytes + at, nameLength)] = id;
        at += nameLength;
    }
    return listing;
}

std::string EncodeListing(const Listing& listing) {
    std::string bytes;
    for (const auto& [name, id] : listing) {
        auto nameLength = static_cast<std::uint32_t>(name.size());
        bytes.append(reinterpret_cast<const char*>(&id.device), 8);
        bytes.append(reinterpret_cast<const char*>(&id.inode), 8);
        bytes.append(reinterpret_cast<const char*>(&nameLength), 4);
        bytes += name;
    }
    return bytes;
}

}  // namespace

PowerCutModel::~PowerCutModel() {
    // The journal is left as it is: a child that ends this way must not empty it under its
    // parent.
    for (int fd : pins_) {
        close(fd);
    }
    if (journal_ >= 0) {
        close(journal_);
    }
}

void PowerCutModel::Watch(const std::string& folder) {
    if (journal_ < 0) {
        std::string name = (std::filesystem::temp_directory_path() / "kstest-cut-XXXXXX").string();
        journal_ = mkstemp(name.data());
        if (journal_ < 0) {
            JournalFailed("power-cut journal");
        }
        unlink(name.c_str());
        // Children append to the same open file: each record lands whole at its end.
        fcntl(journal_, F_SETFL, O_APPEND);
        fcntl(journal_, F_SETFD, FD_CLOEXEC);
    }
    struct stat status {};
    if (stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        throw std::runtime_error("cannot watch " + folder + ": not a folder");
    }
    Listing listing = ListFolder(folder);
    for (const auto& [name, id] : listing) {
        std::string path = PathIn(folder, name);
        watchedContent_[id] = ReadWholeFile(path);
        Pin(id, path);
    }
    folders_.push_back({folder, IdOf(status), std::move(listing)});
}

void PowerCutModel::Pin(FileId id, const std::string& path) {
    if (followed_.insert(id).second) {
        int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            pins_.push_back(fd);
        }
    }
}

const PowerCutModel::Folder* PowerCutModel::FolderAt(const char* path) const {
    struct stat status {};
    if (stat(path, &status) != 0) {
        return nullptr;
    }
    for (const Folder& folder : folders_) {
        if (folder.id == IdOf(status)) {
            return &folder;
        }
    }
    return nullptr;
}

std::optional<FileId> PowerCutModel::Follow(int fd, const char* name) {
    struct stat status {};
    if ((fd >= 0 ? fstat(fd, &status) : stat(name, &status)) != 0 || !S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    FileId id = IdOf(status);
    if (followed_.count(id) != 0) {
        return id;
    }
    std::string folder = std::filesystem::path(name).parent_path().string();
    if (FolderAt(folder.empty() ? "." : folder.c_str()) == nullptr) {
        return std::nullopt;
    }
    // Through the descriptor: the name may already belong to another file.
    Pin(id, fd >= 0 ? "/proc/self/fd/" + std::to_string(fd) : std::string(name));
    return id;
}

void PowerCutModel::Append(char kind, FileId id, std::int64_t value, const void* bytes,
                           std::size_t length) {
    RecordHead head;
    head.kind = kind;
    head.device = id.device;
    head.inode = id.inode;
    head.value = value;
    head.length = length;
    std::string record(reinterpret_cast<const char*>(&head), sizeof head);
    record.append(static_cast<const char*>(bytes), length);
    // One call per record, so a child killed meanwhile leaves whole records only.
    std::size_t done = 0;
    while (done < record.size()) {
        ssize_t wrote = write(journal_, record.data() + done, record.size() - done);
        if (wrote < 0 && errno != EINTR) {
            JournalFailed("power-cut journal");
        }
        done += wrote > 0 ? static_cast<std::size_t>(wrote) : 0;
    }
}

void PowerCutModel::Wrote(int fd, const char* name, std::int64_t offset, const void* bytes,
                          std::int64_t count) {
    if (auto id = Follow(fd, name)) {
        Append('W', *id, offset, bytes, static_cast<std::size_t>(count));
    }
}

void PowerCutModel::SizeSet(int fd, const char* name, std::int64_t size) {
    if (auto id = Follow(fd, name)) {
        Append('T', *id, size, nullptr, 0);
    }
}

void PowerCutModel::Synced(int fd, const char* name) {
    if (auto id = Follow(fd, name)) {
        Append('S', *id, 0, nullptr, 0);
    }
}

void PowerCutModel::Opened(const char* name, int flags) {
    if ((flags & IO_WRITE) && (flags & IO_TRUNCATE)) {
        if (auto id = Follow(-1, name)) {
            Append('T', *id, 0, nullptr, 0);
        }
    }
}

void PowerCutModel::FolderSynced(const char* folder) {
    const Folder* synced = FolderAt(folder);
    if (synced == nullptr) {
        return;
    }
    Listing listing = ListFolder(synced->path);
    for (const auto& [name, id] : listing) {
        Pin(id, PathIn(synced->path, name));
    }
    std::string bytes = EncodeListing(listing);
    Append('L', synced->id, 0, bytes.data(), bytes.size());
}

PowerCutImage PowerCutModel::Image(CutMode mode, NameChanges names) const {
    std::map<FileId, FileHistory> files;
    std::map<FileId, Listing> syncedListings;  // by folder
    auto historyOf = [&](FileId id) -> FileHistory& {
        auto [entry, fresh] = files.try_emplace(id);
        if (auto watched = watchedContent_.find(id); fresh && watched != watchedContent_.end()) {
            entry->second.now = entry->second.stored = watched->second;
        }
        return entry->second;
    };
    const std::string journal = journal_ >= 0 ? ReadJournal(journal_) : std::string();
    for (std::size_t at = 0; at + sizeof(RecordHead) <= journal.size();) {
        RecordHead head;
        std::memcpy(&head, journal.data() + at, sizeof head);
        const char* bytes = journal.data() + at + sizeof head;
        FileId id{head.device, head.inode};
        switch (head.kind) {
            case 'W':
                historyOf(id).Write(head.value, bytes, head.length);
                break;
            case 'T':
                historyOf(id).now.resize(static_cast<std::size_t>(head.value), '\0');
                break;
            case 'S':
                historyOf(id).Sync();
                break;
            case 'L':
                syncedListings[id] = DecodeListing(bytes, head.length);
                break;
            default:
                throw std::runtime_error("corrupt power-cut journal");
        }
        at += sizeof head + head.length;
    }

    PowerCutImage image;
    for (const Folder& folder : folders_) {
        auto synced = syncedListings.find(folder.id);
        const Listing listing = names == NameChanges::kKeepAll   ? ListFolder(folder.path)
                                : synced != syncedListings.end() ? synced->second
                                                                 : folder.listing;
        FolderImage& files_after = image[folder.path];
        for (const auto& [name, id] : listing) {
            auto history = files.find(id);
            auto watched = watchedContent_.find(id);
            files_after[name] = history != files.end()             ? history->second.After(mode)
                                : watched != watchedContent_.end() ? watched->second
                                                                   : std::string();
        }
    }
    return image;
}

void PowerCutModel::Impose(const PowerCutImage& image) {
    for (const auto& [folder, files] : image) {
        for (const auto& entry : ListFolder(folder)) {
            if (files.count(entry.first) == 0) {
                std::filesystem::remove(PathIn(folder, entry.first));
            }
        }
        for (const auto& [name, content] : files) {
            WriteWholeFile(PathIn(folder, name), content);
        }
    }
}

void PowerCutModel::Cut(CutMode mode, NameChanges names) {
    PowerCutImage image = Image(mode, names);
    std::vector<std::string> watched;
    for (const Folder& folder : folders_) {
        watched.push_back(folder.path);
    }
    Reset();
    Impose(image);
    for (const std::string& folder : watched) {
        Watch(folder);
    }
}

void PowerCutModel::Reset() {
    for (int fd : pins_) {
        close(fd);
    }
    pins_.clear();
    followed_.clear();
    watchedContent_.clear();
    folders_.clear();
    if (journal_ >= 0 && ftruncate(journal_, 0) != 0) {
        JournalFailed("power-cut journal");
    }
}

// ---- walking the sync points of an operation ----

std::string PowerCutPoint::Describe() const {
    std::string at = nth == 0
                         ? "finished"
                         : (op == FaultOp::kSync ? "sync " : "folder sync ") + std::to_string(nth);
    return at + (mode == CutMode::kDropUnsynced ? ", unsynced data dropped" : ", torn tail") +
           (names == NameChanges::kUndoUnsynced ? ", names undone" : ", names kept");
}

namespace {

// Runs `operation` in a child and waits for it to end with `expected`.
void RunInChild(FaultInjectingFactory& factory,
                const std::function<void(FaultInjectingFactory&)>& operation, int expected,
                const std::string& where) {
    std::fflush(nullptr);  // or the child's output would repeat the parent's
    pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("cannot fork");
    }
    if (pid == 0) {
        int status = 0;
        try {
            operation(factory);
        } catch (const KsException& error) {
            std::fprintf(stderr, "%s\n", error.GetErrorMessage());
            status = kThrewStatus;
        } catch (const std::exception& error) {
            std::fprintf(stderr, "%s\n", error.what());
            status = kThrewStatus;
        } catch (...) {
            status = kThrewStatus;
        }
        _exit(status);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != expected) {
        throw std::runtime_error("the operation ended with status " +
                                 std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) +
                                 " when run to: " + where);
    }
}

}  // namespace

int WalkPowerCuts(const std::string& folder,
                  const std::function<void(FaultInjectingFactory&)>& operation,
                  const std::function<void(const PowerCutPoint&)>& check) {
    const PowerCutImage start{{folder, ReadFolder(folder)}};
    std::vector<PowerCutPoint> points;
    {
        FaultInjectingFactory counting;
        operation(counting);
        for (FaultOp op : {FaultOp::kSync, FaultOp::kSyncFolder}) {
            for (int n = 1; n <= counting.Plan().Calls(op); ++n) {
                points.push_back({op, n});
            }
        }
        points.push_back({});
    }
    int cuts = 0;
    for (const PowerCutPoint& point : points) {
        PowerCutModel::Impose(start);
        FaultInjectingFactory factory;
        factory.PowerCut().Watch(folder);
        if (!point.Finished()) {
            factory.Plan().Fail(point.op, point.nth, kDie);
        }
        RunInChild(factory, operation, point.Finished() ? 0 : kDiedStatus, point.Describe());
        // Every cut starts from what the child left, so all are worked out first.
        std::vector<std::pair<PowerCutPoint, PowerCutImage>> images;
        for (CutMode mode : {CutMode::kDropUnsynced, CutMode::kKeepTornTail}) {
            for (NameChanges names : {NameChanges::kUndoUnsynced, NameChanges::kKeepAll}) {
                PowerCutPoint cut{point.op, point.nth, mode, names};
                images.emplace_back(cut, factory.PowerCut().Image(mode, names));
            }
        }
        for (const auto& [cut, image] : images) {
            PowerCutModel::Impose(image);
            check(cut);
            ++cuts;
        }
    }
    PowerCutModel::Impose(start);
    return cuts;
}

}  // namespace kstest
