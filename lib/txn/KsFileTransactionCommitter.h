#pragma once
/// @file
/// Carries out the logged actions of a transaction in order, keeping the inverse of each in
/// an inverse file, and undoes them from it, newest first, when an action fails, the
/// progress object fails or the user cancels.
///
/// The inverse file lies beside the table (see KsFileTransactionLog::InverseFile), so that a
/// crash in the middle of a commit leaves it where the next open of the table finds it (see
/// KsRecoverTransactions). One file serves every commit through a log: a commit empties it
/// and starts it with a header naming the transaction. Every entry is written, and synced,
/// before the table change it undoes, so an inverse file naming a transaction still
/// Committing holds all a recovery needs; the entry's text holds the table's record count
/// before that change, which tells a recovery whether the newest change was made.
///
/// Syncs of a commit: the log (Committing, with the actions logged), the inverse file, the
/// table. The final status is written without waiting for the disk, the way a journal's
/// deletion is: the entries stay in the inverse file until the next commit has synced the
/// log (or the log is closed), so a power failure before that undoes the commit whole.
///
/// When the transaction's final status could not be written while the file still holds
/// inverses, the log gives the file up and it stays for the next open of the table, which
/// finishes the rollback.

#include <cstdint>
#include <memory>
#include <vector>

#include "core/KsString.h"
#include "txn/KsFileTransactionLog.h"

class KsProgressInterface;

/// Commits the actions of a transaction, or undoes them.
class KsActionCommitter {
public:
    virtual ~KsActionCommitter() = default;
    /// Undoes what the inverse file holds; true when every inverse was applied.
    virtual bool Rollback(KsProgressInterface& progress) = 0;
    /// Carries the actions out in order; a failure is undone and then raised.
    virtual void Commit(KsProgressInterface& progress) = 0;
};

/// The committer of the log of a table (see the file notes).
class KsFileTransactionCommitter : public KsActionCommitter {
public:
    /// Commits transaction `id` of `log` on `file`; `transaction` stands on its status
    /// element. All must outlive the committer, which locks the log whole while it lives.
    KsFileTransactionCommitter(KsFile& file, KsFileTransactionLog& log, const KsTimestamp& id,
                               KsFileTransactionLog::Cursor transaction);
    ~KsFileTransactionCommitter() override;

    /// Commits; on success the transaction is Committed, after a failure and a successful
    /// undo it is Rolled Back, after a failed undo Failed.
    void Commit(KsProgressInterface& progress) override;
    bool Rollback(KsProgressInterface& progress) override;
    /// Writes an entry: the element, then the offset where it starts.
    void AddInverse(const KsRecordActionListWrapper& wrapper);
    /// Starts the log's inverse file with the header naming this transaction.
    void OpenInverseFile();
    /// Undoes a commit a crash interrupted, from the inverse file it left (`leftover`, whose
    /// header names this transaction; null when there is none: the table was not changed
    /// yet); the transaction ends Rolled Back. Returns whether everything was undone: when
    /// an inverse cannot be applied (or the file cannot be read), the undoing stops there,
    /// the entries not yet applied stay in the file and the transaction stays Committing,
    /// for the next try; RecoveryFailure then says why.
    bool Recover(KsIOInterface* leftover);
    /// Why the last Recover stopped, or why undoing a failed commit did not get through.
    const KsString& RecoveryFailure() const { return undoFailure_; }

    /// Actions this process logged for the transaction, taken instead of reading back an
    /// action whose node still holds the bytes written (see KsFileTransactionLog).
    void UseLoggedActions(std::vector<KsFileTransactionLog::LoggedAction> logged) {
        logged_ = std::move(logged);
    }

    /// The name of an inverse file of the table `file` made at the time `made`.
    static KsString InverseFileName(const KsFile& file, const KsTimestamp& made);
    /// Whether `file` starts with a whole inverse file header; its transaction goes to `id`.
    static bool ReadInverseHeader(KsIOInterface& file, KsTimestamp& id);

private:
    struct FailedInverse {
        std::uint32_t sequence;
        KsString message;
    };
    enum class Outcome { kDone, kActionFailed, kUnknownFailure, kProgressFailed, kCanceled };

    // Carries out the logged actions; returns what stopped them and its message.
    Outcome CommitActions(KsProgressInterface& progress, KsString& message);
    // Inside a handler: `known`, with the reason of the exception in `message`, or an
    // unknown failure when the exception carries none.
    static Outcome FailureOutcome(Outcome known, KsString& message);
    // A synced transaction of modifies only saves all its inverses, taken from the table
    // before the first change, in one step (one sync): undoing them newest first restores
    // every record however often it was changed, and undoing a change not made writes back
    // what is there. Returns false (nothing written) for any other transaction.
    bool PrepareModifyBatch();
    // Reads the logged action `it` stands on, from a copy of the one logged when the log
    // still holds its bytes.
    void ReadAction(KsIOList<KsRecordActionListWrapper>& actions,
                    KsIOListIterator<KsRecordActionListWrapper>& it,
                    KsRecordActionListWrapper& logged);
    // Commits one logged action with its inverse saved first.
    void CommitOne(KsRecordAction& action);
    // Saves the entry of the inverse predicted for `action` (and any copy of the records it
    // moves, whose entry's start goes to `moved`) from `start`; returns the inverse, null
    // when none could be predicted and nothing was saved. `before` is the record count.
    std::unique_ptr<KsRecordAction> SavePredictedInverse(KsRecordAction& action, std::int64_t start,
                                                         const KsString& before,
                                                         std::int64_t& moved);
    // Replaces the entries from `start` by the one of the inverse the change gave; when that
    // fails, the change is undone at once and the failure raised.
    void ReplaceInverse(KsRecordAction& inverse, std::int64_t start, const KsString& before);
    // Leaves the entries from `at` on out of any rollback (their changes were not made): cut
    // from the file, or, when even that fails, skipped.
    void DropEntriesFrom(std::int64_t at) noexcept;
    // Writes an entry holding a copy of the records `action`, an insert, delete or remove
    // undone by `inverse`, is about to move; returns where it starts, or -1 when the action
    // moves none (or the table's records cannot be copied).
    std::int64_t AddMovedRecords(const KsRecordAction& action, const KsRecordAction& inverse);
    // Writes back the copy of moved records in the entry from `start` to `trailer`; false when
    // the entry is damaged. The table's indexes are built afresh afterwards.
    bool PutMovedRecordsBack(std::int64_t start, std::int64_t trailer);
    // The end of the last whole entry of the inverse file: a process killed while writing an
    // entry leaves it cut short, and the change it stands for not begun.
    std::int64_t EndOfWholeEntries();
    // Applies inverses from the end of the file; returns whether the file could be read.
    bool ApplyInverses(KsProgressInterface& progress, std::uint32_t& applied,
                       std::vector<FailedInverse>& failures);
    // Where undoing starts: the end of the entries whose changes may have been made; the
    // file is cut there.
    std::int64_t UndoStart();
    // The start of the entry that ends at `position`; a trailer that cannot be raises.
    std::int64_t EntryStart(std::int64_t position);
    // The entry from `start` is a copy of moved records: put back in a recovery (true), left
    // to the inverse before it in a commit (false); raises when it cannot be either.
    bool UndoMovedRecords(std::int64_t start, std::int64_t trailer, bool newest);
    // Reads the inverse entry from `start` to `trailer` into `entry` and applies it unless
    // it is the newest of a recovery and its change was not made. A failure is noted as
    // number `applied`; returns false when the undoing must stop there (a recovery).
    bool ApplyEntry(KsRecordActionListWrapper& entry, std::int64_t start, std::int64_t trailer,
                    bool newest, std::uint32_t applied, std::vector<FailedInverse>& failures);
    // Adds `reason`, unless noted already, to why the undoing did not get through.
    void NoteUndoFailure(const KsString& reason);
    // Whether the newest inverse is still to be applied (a recovery asks).
    bool NeedsApplying(const KsRecordActionListWrapper& entry) const;
    void MarkLogged(std::uint32_t applied, const std::vector<FailedInverse>& failures);
    [[noreturn]] void RaiseAfterRollback(Outcome outcome, const KsString& message, bool restored);
    void FinishStatus(char outcome);
    void SyncInverse();
    // Empties the inverse file after the commit, or leaves it to the next open.
    void ReleaseInverse() noexcept;

    KsFile* table_;
    KsFileTransactionLog* log_;
    KsTimestamp id_;
    KsFileTransactionLog::WholeLock logLock_;  // released after the cursor's own locks
    KsFileTransactionLog::Cursor transaction_;
    KsIOInterface* inverse_ = nullptr;  // the log's, or a recovery's
    bool opened_ = false;
    bool recovering_ = false;
    // Where each inverse entry of a batch of modifies ends, and the changes made.
    std::vector<std::int64_t> batchEnds_;
    std::size_t committed_ = 0;
    // Where entries of changes not made begin when they could not be cut off (else -1), and
    // whether a change whose entry was not saved could not be undone either.
    std::int64_t notMadeFrom_ = -1;
    bool undoFailed_ = false;
    // The transaction's final status is in the log.
    bool finished_ = false;
    // Why undoing stopped or failed: each reason once, separated by "; ".
    KsString undoFailure_;
    std::vector<KsFileTransactionLog::LoggedAction> logged_;
    std::size_t nextLogged_ = 0;  // where the search for the next node starts
};
