#pragma once
// Files that fail on purpose, so that tests can drive the library's failure paths with its
// own error messages: a full disk, an I/O error or a short write on the Nth write, flush,
// truncation or close, and a failed rename or delete.
//
// The faults sit below the file classes, in the system-call hooks of KsIO and
// KsIOUnbuffered, so everything above them (buffering, messages, call paths) is the real
// code. A FaultInjectingFactory makes FaultInjectingFile objects that share its FaultPlan;
// the plan counts the calls of each kind across all of them (and their clones) and fails
// the ones it was told to:
//
//     kstest::FaultInjectingFactory factory;
//     RunTheOperation(factory);                       // clean run: count the steps
//     int writes = factory.Plan().Calls(kstest::FaultOp::kWrite);
//     for (int n = 1; n <= writes; ++n) {
//         kstest::FaultInjectingFactory failing;
//         failing.Plan().Fail(kstest::FaultOp::kWrite, n, ENOSPC);
//         EXPECT_THROW(RunTheOperation(failing), KsException);
//         ... check that nothing was lost ...
//     }
//
// A failed write writes nothing (or, with FailShort, its first bytes); a failed truncation
// leaves the size; a failed close still releases the descriptor, as the system's does; a
// failed rename or delete leaves the files as they were; a failed sync syncs nothing. The
// calls are made with errno set to the planned error, so the messages quote its text.
//
// ---- Power cuts ----
//
// The factory also keeps a PowerCutModel: what a journaling file system (ext4 with
// data=ordered, taken at its most forgetful) would still hold if the power failed now.
// Watch(folder) starts it: everything the folder holds then counts as safely stored. From
// then on the fault-injecting files report every write, truncation (Truncate, and an open
// with IO_TRUNCATE) and successful sync of the files of the watched folders, and the factory
// reports every successful SyncFolder. Cut(mode, names) rewrites the watched folders to
// what the power cut leaves:
//
//   Data. A file's data is stored once a sync (fdatasync) of it succeeded; everything since
//   may be lost. kDropUnsynced: each file holds what it held at its last successful sync
//   (at Watch when it was not synced since; nothing when it was made after Watch and never
//   synced). Writes and truncations since are gone, whichever descriptor made them, under
//   whatever name the file has now. kKeepTornTail: the same, then the last write since that
//   sync (one system write call) is put back up to the last 512-byte boundary of the file
//   at or before its end: a write of [offset, end) keeps [offset, end rounded down to 512)
//   when that is not empty; a write starting beyond the stored end leaves zeros before it.
//   Truncations since the sync are dropped in this mode too. A sync that failed (planned
//   or not) stores nothing.
//
//   Names. A folder's entries (files made, renamed into or out of it, deleted) are stored
//   once SyncFolder of it succeeded; a file's own sync stores none of them. kUndoUnsynced:
//   each watched folder lists exactly the files it listed at its last SyncFolder (at Watch
//   when none), each name with the file it named then, holding that file's data as above.
//   So an unsynced rename brings back the old name with its file and gives the new name its
//   former file or removes it, an unsynced delete brings the file back, and a file made
//   since is gone. kKeepAll: the entries as they are now (the system's journal committed
//   them), each with its file's stored data; this is how a file renamed into place before
//   its data was synced ends up empty or torn.
//
// Files are followed by identity (device and inode), not by name, so a file written
// through a descriptor opened before a rename is the renamed file. Only regular files
// directly in the watched folders take part; a file neither there at Watch nor written by a
// fault-injecting file (one made by mkstemp, say) holds nothing stored. Both choices are
// the extremes: a real system may also keep some of a folder's name changes and not the
// others, or more of the unsynced data; the model gives no credit for the journal commits
// and delayed-allocation flushes that often save such data.
//
// The model crosses fork: it journals what it learns, one record per system call, to an
// unnamed file (made in the temporary folder and unlinked at once) that a child inherits
// and appends to as it goes, so what the child reported is there when it is killed or
// dies at a planned kDie, with nothing left in the test folder. The parent's Cut reads the
// journal with its own memory of the watched state:
//
//     kstest::FaultInjectingFactory factory;
//     factory.PowerCut().Watch(dir);
//     factory.Plan().Fail(kstest::FaultOp::kSync, 2, kstest::kDie);
//     if (fork() == 0) { RunTheOperation(factory); _exit(0); }
//     wait(nullptr);
//     factory.PowerCut().Cut(kstest::CutMode::kDropUnsynced);
//     ... check what the folder holds ...
//
// WalkPowerCuts does that at every sync point of an operation (see there).

#include <unistd.h>

#include <cerrno>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "io/KsIO.h"
#include "io/KsIOFactory.h"
#include "io/KsIOUnbuffered.h"

namespace kstest {

// The kinds of call a plan counts and fails.
enum class FaultOp {
    kWrite,       // a buffered file writing its buffer out while it writes, reads, seeks or
                  // truncates; every Write of an unbuffered file
    kWriteTo,     // a positioned write to the file (the parts of WriteTo that bypass a buffer)
    kFlush,       // a buffered file writing its buffer out in Flush, Close or its destructor
    kTruncate,    // setting the file's size (Truncate, Truncate64)
    kClose,       // closing the descriptor (Close, Open of another file, the destructor)
    kRename,      // the system's rename in the factory's Rename and Replace
    kDelete,      // the system's unlink in the factory's Delete
    kSync,        // a file's sync (Sync of KsIO and KsIOUnbuffered), after its pending bytes
    kSyncFolder,  // the factory's SyncFolder
};
inline constexpr int kFaultOpCount = 9;
// Planned as the error, ends the process at that call (a write first writes its planned
// first bytes) with exit status kDiedStatus: a process killed there, for crash tests.
inline constexpr int kDie = -1;
inline constexpr int kDiedStatus = 86;

class FaultPlan {
public:
    // The nth call of `op` (counted from 1 since the plan was made or Reset) fails with
    // `errorNumber`; with `keepFailing`, every later call of `op` fails too. Replaces an
    // earlier fault planned for `op`.
    void Fail(FaultOp op, int nth, int errorNumber = ENOSPC, bool keepFailing = false);
    // As Fail for kWrite, kWriteTo and kFlush, but the failing call first writes `bytes` of
    // its bytes (fewer when it has fewer).
    void FailShort(FaultOp op, int nth, std::size_t bytes, int errorNumber = ENOSPC,
                   bool keepFailing = false);
    // No faults and all counts 0.
    void Reset();
    // Calls of `op` so far, failed ones included.
    int Calls(FaultOp op) const { return Of(op).calls; }
    // Calls of `op` that were made to fail.
    int Failures(FaultOp op) const { return Of(op).failures; }

    // What one call must do; used by the fault-injecting classes.
    struct Verdict {
        bool fail = false;
        int errorNumber = 0;
        std::size_t bytesFirst = 0;  // for a failing write: bytes written before the error
    };
    // Counts a call of `op` and says whether it fails.
    Verdict Next(FaultOp op);

private:
    struct Counter {
        int calls = 0;
        int failures = 0;
        int nth = 0;  // 0: no fault planned
        int errorNumber = 0;
        bool keepFailing = false;
        std::size_t bytesFirst = 0;
    };
    Counter& Of(FaultOp op) { return counters_[static_cast<int>(op)]; }
    const Counter& Of(FaultOp op) const { return counters_[static_cast<int>(op)]; }

    Counter counters_[kFaultOpCount];
};

// A write of `count` bytes under the plan: done by `write(bytes, errorNumber)` whole, or in
// part followed by the planned error.
template <class WriteFunction>
std::int64_t PlannedWrite(FaultPlan& plan, FaultOp op, std::size_t count, int& errorNumber,
                          WriteFunction write) {
    FaultPlan::Verdict verdict = plan.Next(op);
    if (!verdict.fail) {
        return write(count, errorNumber);
    }
    std::size_t first = verdict.bytesFirst < count ? verdict.bytesFirst : count;
    std::int64_t written = first > 0 ? write(first, errorNumber) : 0;
    if (verdict.errorNumber == kDie) {
        _exit(kDiedStatus);
    }
    errorNumber = verdict.errorNumber;
    errno = verdict.errorNumber;
    return written;
}

// Runs `call` unless the plan fails this call of `op`, which then returns -1 with errno set
// to the planned error.
template <class Call>
int PlannedCall(FaultPlan& plan, FaultOp op, Call call) {
    FaultPlan::Verdict verdict = plan.Next(op);
    if (!verdict.fail) {
        return call();
    }
    if (verdict.errorNumber == kDie) {
        _exit(kDiedStatus);
    }
    errno = verdict.errorNumber;
    return -1;
}

// ---- the power-cut model ----

// What happens to the data written since a file's last sync (see the file notes).
enum class CutMode {
    kDropUnsynced,  // all of it is lost
    kKeepTornTail,  // all is lost but the last write, kept up to a 512-byte boundary
};
// What happens to the name changes made since a folder's last sync.
enum class NameChanges {
    kUndoUnsynced,  // all are undone
    kKeepAll,       // all stay
};

// The regular files of one folder by name, with their contents.
using FolderImage = std::map<std::string, std::string>;
// What a power cut leaves: each watched folder, by the path given to Watch, and its files.
using PowerCutImage = std::map<std::string, FolderImage>;

// What has reached the storage device of the watched folders, learnt from the calls of
// fault-injecting files and factories (see the file notes). Not thread-safe; one model may
// be shared by a process and the children it forks.
class PowerCutModel {
public:
    // The unit a torn write is kept in.
    static constexpr std::int64_t kSectorSize = 512;

    PowerCutModel() = default;
    PowerCutModel(const PowerCutModel&) = delete;
    PowerCutModel& operator=(const PowerCutModel&) = delete;
    ~PowerCutModel();

    // Takes what `folder` holds now as stored, and follows its files from now on.
    void Watch(const std::string& folder);
    bool IsWatching() const { return !folders_.empty(); }
    // What a power cut now would leave; the disk is not touched.
    PowerCutImage Image(CutMode mode, NameChanges names = NameChanges::kUndoUnsynced) const;
    // Rewrites the watched folders to what a power cut now would leave, then watches them
    // afresh from there.
    void Cut(CutMode mode, NameChanges names = NameChanges::kUndoUnsynced);
    // Makes each folder of `image` hold exactly its files: other regular files are removed.
    static void Impose(const PowerCutImage& image);

    // @{
    // Told by the fault-injecting files after a call that changed the file open on `fd`
    // (named `name` when it was opened) or synced it; a write reports the bytes it wrote,
    // also those of a write that failed part way.
    void Wrote(int fd, const char* name, std::int64_t offset, const void* bytes,
               std::int64_t count);
    void SizeSet(int fd, const char* name, std::int64_t size);
    void Synced(int fd, const char* name);
    // An open of `name` with `flags`; one with IO_WRITE and IO_TRUNCATE emptied the file.
    void Opened(const char* name, int flags);
    // @}
    // Told by the factory after a successful SyncFolder.
    void FolderSynced(const char* folder);

    // A file's identity, whatever its name.
    struct FileId {
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        auto operator<=>(const FileId&) const = default;
    };
    // A folder's regular files by name.
    using Listing = std::map<std::string, FileId>;

private:
    struct Folder {
        std::string path;  // as given to Watch
        FileId id;
        Listing listing;  // its files at Watch
    };

    // The file open on `fd`, named `name` when opened, if it is followed or lies in a
    // watched folder; `name` alone when `fd` is negative.
    std::optional<FileId> Follow(int fd, const char* name);
    // Starts following `id`: keeps a descriptor of it open, so that its inode number cannot
    // go to another file while the model may still speak of it.
    void Pin(FileId id, const std::string& path);
    const Folder* FolderAt(const char* path) const;
    void Append(char kind, FileId id, std::int64_t value, const void* bytes, std::size_t length);
    // Forgets every folder and file, and empties the journal.
    void Reset();

    std::vector<Folder> folders_;
    std::map<FileId, std::string> watchedContent_;  // the files' contents at Watch
    std::set<FileId> followed_;                     // as far as this process knows
    std::vector<int> pins_;
    int journal_ = -1;  // an unnamed file, appended to by this process and its children
};

// ---- files and factories ----

// A file of class Base (KsIO or KsIOUnbuffered) whose system calls follow a FaultPlan and,
// when it has one, report to a PowerCutModel. Clone and CreateNew make files that share both.
template <class Base>
class FaultInjecting : public Base {
public:
    explicit FaultInjecting(std::shared_ptr<FaultPlan> plan,
                            std::shared_ptr<PowerCutModel> model = nullptr)
        : plan_(std::move(plan)), model_(std::move(model)) {}
    FaultInjecting(std::shared_ptr<FaultPlan> plan, const char* name, int flags)
        : FaultInjecting(std::move(plan), nullptr, name, flags) {}
    FaultInjecting(std::shared_ptr<FaultPlan> plan, std::shared_ptr<PowerCutModel> model,
                   const char* name, int flags)
        : Base(name, flags), plan_(std::move(plan)), model_(std::move(model)) {
        // The base opened the file with its own Open.
        if (Watched()) {
            model_->Opened(name, flags);
        }
    }
    FaultInjecting(const FaultInjecting& other)
        : Base(other), plan_(other.plan_), model_(other.model_) {}
    FaultInjecting& operator=(const FaultInjecting&) = delete;
    ~FaultInjecting() override {
        // The last flush and close follow the plan too.
        FlushScope scope(*this);
        this->CloseForDestruction();
    }

    std::unique_ptr<KsIOInterface> Clone() const override {
        return std::make_unique<FaultInjecting>(*this);
    }
    std::unique_ptr<KsIOInterface> CreateNew(const char* name, int flags) const override {
        return std::make_unique<FaultInjecting>(plan_, model_, name, flags);
    }
    void Open(const char* name, int flags) override {
        Base::Open(name, flags);
        if (Watched()) {
            model_->Opened(name, flags);
        }
    }
    void Flush() override {
        FlushScope scope(*this);
        Base::Flush();
    }
    void Close() override {
        FlushScope scope(*this);
        Base::Close();
    }

    FaultPlan& Plan() { return *plan_; }

protected:
    std::int64_t SystemWrite(int fd, const void* buffer, std::size_t count, std::int64_t offset,
                             int& errorNumber) override {
        FaultOp op = flushing_ > 0 ? FaultOp::kFlush : FaultOp::kWrite;
        return PlannedWrite(*plan_, op, count, errorNumber, [&](std::size_t n, int& e) {
            std::int64_t written = Base::SystemWrite(fd, buffer, n, offset, e);
            Report(fd, buffer, written, offset);
            return written;
        });
    }
    std::int64_t SystemWriteAt(int fd, const void* buffer, std::size_t count, std::int64_t offset,
                               int& errorNumber) override {
        return PlannedWrite(
            *plan_, FaultOp::kWriteTo, count, errorNumber, [&](std::size_t n, int& e) {
                std::int64_t written = Base::SystemWriteAt(fd, buffer, n, offset, e);
                Report(fd, buffer, written, offset);
                return written;
            });
    }
    int SystemSetSize(int fd, std::int64_t size) override {
        int result =
            PlannedCall(*plan_, FaultOp::kTruncate, [&] { return Base::SystemSetSize(fd, size); });
        if (result == 0 && Watched()) {
            model_->SizeSet(fd, this->GetFileName(), size);
        }
        return result;
    }
    int SystemSync(int fd) override {
        int result = PlannedCall(*plan_, FaultOp::kSync, [&] { return Base::SystemSync(fd); });
        if (result == 0 && Watched()) {
            model_->Synced(fd, this->GetFileName());
        }
        return result;
    }
    int SystemClose(int fd) override {
        // A failed close still releases the descriptor.
        int result = Base::SystemClose(fd);
        return PlannedCall(*plan_, FaultOp::kClose, [&] { return result; });
    }

private:
    // Buffer write-outs inside it count as kFlush.
    struct FlushScope {
        explicit FlushScope(FaultInjecting& file) : file_(file) { ++file_.flushing_; }
        ~FlushScope() { --file_.flushing_; }
        FaultInjecting& file_;
    };

    bool Watched() const { return model_ && model_->IsWatching(); }
    // Tells the model of `written` bytes written at `offset` (at the descriptor's position,
    // which they moved on, when negative).
    void Report(int fd, const void* buffer, std::int64_t written, std::int64_t offset) {
        if (written > 0 && Watched()) {
            std::int64_t at = offset >= 0 ? offset : lseek(fd, 0, SEEK_CUR) - written;
            if (at >= 0) {
                model_->Wrote(fd, this->GetFileName(), at, buffer, written);
            }
        }
    }

    std::shared_ptr<FaultPlan> plan_;
    std::shared_ptr<PowerCutModel> model_;  // null: no power cuts
    int flushing_ = 0;
};

using FaultInjectingFile = FaultInjecting<KsIO>;
using FaultInjectingUnbufferedFile = FaultInjecting<KsIOUnbuffered>;
extern template class FaultInjecting<KsIO>;
extern template class FaultInjecting<KsIOUnbuffered>;

// Makes FaultInjectingFile objects that share its plan and its power-cut model, fails
// renames and deletes (Rename, Replace, Delete) and folder syncs by the same plan, and
// tells the model of the folder syncs that succeed.
class FaultInjectingFactory : public KsIOFactory {
public:
    FaultInjectingFactory()
        : plan_(std::make_shared<FaultPlan>()), powerCut_(std::make_shared<PowerCutModel>()) {}

    std::unique_ptr<KsIOInterface> Open(const char* name, int flags) override;
    void SyncFolder(const char* folder) override;

    FaultPlan& Plan() { return *plan_; }
    // The plan, for files made outside the factory (an unbuffered file, say).
    const std::shared_ptr<FaultPlan>& SharedPlan() const { return plan_; }
    PowerCutModel& PowerCut() { return *powerCut_; }
    // The model, for files made outside the factory.
    const std::shared_ptr<PowerCutModel>& SharedPowerCut() const { return powerCut_; }

protected:
    int SystemRename(const char* oldName, const char* newName) override;
    int SystemRemove(const char* name) override;

private:
    std::shared_ptr<FaultPlan> plan_;
    std::shared_ptr<PowerCutModel> powerCut_;
};

// ---- walking the sync points of an operation ----

// One power cut of WalkPowerCuts.
struct PowerCutPoint {
    FaultOp op = FaultOp::kSync;  // kSync or kSyncFolder: the call the child died at
    int nth = 0;                  // which of them, from 1; 0: after the operation returned
    CutMode mode = CutMode::kDropUnsynced;
    NameChanges names = NameChanges::kUndoUnsynced;

    bool Finished() const { return nth == 0; }
    // For messages: "sync 2, torn tail, names kept"; "finished, ...".
    std::string Describe() const;
};

// Exit status of a child whose operation raised an error.
inline constexpr int kThrewStatus = 87;

// Runs `operation` once on `folder` to count its syncs and folder syncs; then, for each of
// them in turn and once more after the operation's end, starts from the folder's content as
// it was, runs the operation in a child (on a fresh factory that watches the folder) that
// dies at that call before it syncs (or returns), and for each mode and each kind of name
// change cuts the power and calls `check`, in the parent. The operation must raise to
// report a failure (the child cannot use GoogleTest) and do the same each time. The folder
// ends as it began. Returns the cuts made, 4 for each point; raises std::runtime_error when
// a child did not end where it should have.
//
//     int cuts = kstest::WalkPowerCuts(dir, [&](kstest::FaultInjectingFactory& factory) {
//         SaveTheTable(factory);
//     }, [&](const kstest::PowerCutPoint& cut) {
//         SCOPED_TRACE(cut.Describe());
//         EXPECT_TRUE(TableIsOld() || TableIsNew());
//         if (cut.Finished()) EXPECT_TRUE(TableIsNew());
//     });
int WalkPowerCuts(const std::string& folder,
                  const std::function<void(FaultInjectingFactory&)>& operation,
                  const std::function<void(const PowerCutPoint&)>& check);

}  // namespace kstest
