#pragma once
/// @file
/// A table's log of new-style transactions: the file `<table>.klg` beside its data file, a
/// list of transactions newest first (see txn/KsTransactionLogFormat.h), each a status
/// element with a sub-list of its logged actions. Transactions are known by their creation
/// time with milliseconds, made unique within the log.
///
/// Every operation holds an exclusive byte-range lock of the whole log file while it runs
/// (LockAll; inserters and committers hold it as long as they live). Between processes that
/// lock keeps every other walker of the log out at the cost of one lock call, and inside it
/// walks take no locks of single words and read the log's pages from memory.
///
/// A caller that builds a transaction and commits it at once (a batch of changes) may hold
/// LockAll from before the transaction begins until it has ended, as a database's write
/// transaction holds its lock from the first change to the commit: every action is then
/// logged without a lock call and without reading the log afresh. Meanwhile every other
/// opener of the table that logs, commits or opens the table for writing waits, and so does
/// another open of the table in the same process: take it only around work that does not
/// wait for anyone.
///
/// Opening reads every status element: a damaged or cut log raises an error naming it before
/// anything is written, so it is never overwritten while it cannot be read.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "files/KsTransactionLog.h"
#include "io/KsIOInterface.h"
#include "io/KsIOList.h"
#include "io/KsIOListCache.h"
#include "io/KsIOLockGuard.h"
#include "txn/KsFileTransactionStatus.h"
#include "txn/KsRecordActionListWrapper.h"

class KsFile;
class KsFileTransactionCommitter;
class KsFileTransactionInserter;

/// A table's log of new-style transactions (see the file notes); owned by the table. An
/// unknown transaction raises KsTransactionException.
class KsFileTransactionLog : public KsTransactionLog {
public:
    /// The list file of transactions and their actions.
    using List = KsIOListOfLists<KsFileTransactionStatus, KsRecordActionListWrapper>;
    /// A position in the list. It takes no locks of its own: use it only while the log is
    /// locked whole (LockAll).
    using Cursor = List::iterator;
    /// The lock type of every walk of the log: none, since the whole log is locked.
    static constexpr int kWalk = KsIOListBase::kUnlocked;

    /// Opens the log of `file` (an open table), creating an empty one when missing.
    explicit KsFileTransactionLog(KsFile& file);
    /// The log of `table`, an open table of a process that installed transactions
    /// (KsInstallTransactions); raises as KsFile::GetTransactionLog when it has none.
    static KsFileTransactionLog& Of(KsFile& table);
    ~KsFileTransactionLog() override;

    /// Adds a Ready transaction and returns its identity.
    KsTimestamp CreateTransaction(std::uint32_t number, const char* description);
    /// A writer standing on the transaction `id`, or at the end when there is none; its
    /// status goes to `status` when found. Call it with the log locked (LockAll).
    Cursor FindTransaction(const KsTimestamp& id, KsFileTransactionStatus* status = nullptr);
    /// Marks the transaction Building and returns an inserter after its last action.
    std::unique_ptr<KsFileTransactionInserter> BeginInsertion(const KsTimestamp& id);
    /// Adds `action` to the transaction `id` as BeginInsertion, the inserter's Add and
    /// Stabilize would, under one lock of the log, so that the passing Building state, which
    /// no one can see, is not written.
    void AddAction(const KsTimestamp& id, KsRecordAction& action);
    /// An action this log added to a transaction: its node, the bytes written there and a
    /// copy of the action, which a commit takes instead of reading the action back while
    /// the node still holds those bytes.
    struct LoggedAction {
        /// The action's node in the transaction's sub-list.
        std::uint64_t node = 0;
        /// The element's bytes as written.
        std::vector<char> bytes;
        /// The action the bytes hold.
        std::unique_ptr<KsRecordAction> action;
    };

    /// Marks the transaction Committing and returns a committer over its actions.
    std::unique_ptr<KsFileTransactionCommitter> BeginCommission(const KsTimestamp& id);
    /// Marks the transaction Rolled Back; one in a state that cannot be rolled back
    /// raises KsTransactionException.
    void Rollback(const KsTimestamp& id);
    /// The same, quietly doing nothing for a transaction in a state that cannot be rolled
    /// back (the end of a transaction never committed).
    void UncommittedRollback(const KsTimestamp& id);
    /// Ends the transaction's passing state (see KsFileTransactionStatus::Stabilize).
    void Stabilize(const KsTimestamp& id);
    /// The status of the transaction `id`.
    KsFileTransactionStatus GetStatus(const KsTimestamp& id);

    /// Calls `visit` with every transaction, newest first, and the number of its actions (0
    /// when not `countActions`).
    void ForEach(const std::function<void(const KsFileTransactionStatus&, std::uint32_t)>& visit,
                 bool countActions = true);
    /// Calls `visit` with every logged action of the transaction `id`, first to last; a
    /// changed element is written back when `visit` returns true.
    void ForEachAction(const KsTimestamp& id,
                       const std::function<bool(KsRecordActionListWrapper&)>& visit);

    /// What is wrong with the log file `name`, read through `factory` without a table:
    /// empty when it reads back whole (or does not exist yet), else the reason it cannot be
    /// used. Waits while another opener holds the log.
    static std::string Inspect(KsIOFactory& factory, const char* name);

    /// The table whose log this is.
    KsFile& GetTable() const { return *table_; }
    /// The transactions the opening of the table rolled back after a crash.
    const std::vector<KsTimestamp>& GetRecovered() const { return recovered_; }
    /// Sets that list.
    void SetRecovered(std::vector<KsTimestamp> recovered) { recovered_ = std::move(recovered); }
    /// Whether the opening found an inverse file of a log that is gone (whatever its
    /// transaction's state), so that the table needs its indexes built afresh.
    bool FoundCrashLeftovers() const override { return foundLeftovers_; }
    /// Notes that it did.
    void SetFoundCrashLeftovers() { foundLeftovers_ = true; }
    /// The log file's name.
    const char* GetFileName() const { return file_->GetFileName(); }
    /// Makes what was written reach the storage device (when syncing is on).
    void Sync();
    /// Hands what was written to the operating system, without waiting for the device.
    void Flush();
    /// Holds the whole log file exclusively, its pages cached (KsIOListCache), for a scope.
    /// Nests within this process: an inner one only counts the lock and shares the cache.
    /// The guard keeps the log's file open until it goes, even past the table's close.
    class WholeLock {
    public:
        /// Locks `file` whole (waiting for other processes) and caches its pages.
        explicit WholeLock(std::shared_ptr<KsIOInterface> file)
            : file_(std::move(file)), lock_(*file_, LOCK_WRITE, 0, 0), cache_(*file_) {}

    private:
        std::shared_ptr<KsIOInterface> file_;  // goes last
        KsIOLockGuard lock_;
        KsIOListCache::Scope cache_;  // ends before the lock does
    };
    /// Locks the whole log until the guard goes.
    WholeLock LockAll();

    /// The inverse file that the commits through this log reuse (see
    /// KsFileTransactionCommitter): made beside the table at the first commit, locked as
    /// long as this log holds it (so that a recovery by another opener of the table leaves
    /// it alone), and deleted with the log once the log is synced.
    KsIOInterface& InverseFile();
    /// Gives the inverse file up without deleting it, for the next open of the table to
    /// finish: it may hold inverses of a commit whose end could not be logged. The next
    /// commit makes a new one.
    void LeaveInverseFile() noexcept;

    /// @{
    /// Whether commits wait for their writes to reach the storage device (on by default);
    /// turning it off speeds bulk loads up, at the price of a power failure's durability.
    /// The same switch as KsFile::SetSyncing.
    static void SetSyncing(bool on);
    static bool IsSyncing();
    /// @}

private:
    // Finds `id`, applies `change` to its status and writes it back.
    void ChangeStatus(const KsTimestamp& id, const char* function,
                      const std::function<void(KsFileTransactionStatus&)>& change);
    Cursor RequireTransaction(const KsTimestamp& id, KsFileTransactionStatus& status);
    // Reads every status element (raising what is wrong with the file).
    void Validate();
    // Closes the inverse file, deleting it first when `remove` and the log could be synced.
    void DropInverseFile(bool remove) noexcept;

    KsFile* table_;
    std::shared_ptr<KsIOInterface> file_;  // shared with the WholeLock guards
    std::unique_ptr<List> list_;
    std::vector<KsTimestamp> recovered_;
    bool foundLeftovers_ = false;
    // Forgets where the transaction `buildingId_` stands (its status changes).
    void ForgetBuildingNode() { buildingNode_ = 0; }
    // Starts remembering the transaction `id`.
    void StartBuilding(const KsTimestamp& id);

    // What this log knows of the transaction `buildingId_`, which it made or added an
    // action to last: its node (0: not known), its sub-list's header, its status as this
    // log left it, and its last action node (0: none known), where the next insertion
    // walks on from. Nothing erases a transaction, and its status and actions change only
    // through its owner, so the node and status hold while the node heads the log: that
    // one word, read under each lock anyway, is checked before they are used, and a
    // transaction made since by another opener sends the next action to a full lookup.
    KsTimestamp buildingId_;
    std::uint64_t buildingNode_ = 0;
    std::uint64_t buildingSubList_ = 0;
    KsFileTransactionStatus buildingStatus_;
    std::uint64_t lastAction_ = 0;
    // The actions added to `buildingId_` through AddAction, while their bytes stay small.
    std::vector<LoggedAction> logged_;
    std::size_t loggedBytes_ = 0;
    std::unique_ptr<KsIOInterface> inverse_;
    std::unique_ptr<KsIOLockGuard> inverseLock_;  // released before the file closes
    KsString inverseName_;
};
