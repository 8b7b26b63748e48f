#pragma once
/// @file
/// A transaction that logs its actions in the table's transaction log and carries them out
/// together on Commit, undoing every one of them when one fails, the progress object fails
/// or the user cancels. A successful commit ends Committed; a transaction destroyed without
/// a commit ends Rolled Back. Every step reaches the log through the table, so a table
/// closed while the transaction lives makes the next step fail.

#include <cstdint>

#include "txn/KsTransaction.h"
#include "values/KsTimestamp.h"

class KsFileTransactionLog;

/// A transaction that logs its actions in the table's transaction log and commits them
/// together: when one action fails, the progress object fails or the user cancels, those
/// carried out are undone from the inverse file, newest first, the transaction ends
/// Rolled Back (Failed when an undo failed too) and Commit raises the error. Made by
/// KsFile::StartTransaction and deleted by KsFile::EndTransaction.
class KsTransactionNew : public KsTransaction {
public:
    /// Creates the transaction's entry in the log of `file` (which must outlive it) under
    /// `number` and `description`; a table without a log raises KsTransactionException.
    KsTransactionNew(KsFile& file, std::uint32_t number, const char* description);
    /// Marks a transaction that was not committed Rolled Back; errors of that are
    /// swallowed (the log shows what became of it).
    ~KsTransactionNew() override;

    /// Logs a copy of `action` for the transaction's own table.
    void AddAction(KsFile& file, KsRecordAction& action) override;
    /// @{
    /// Carries the logged actions out in order (see the class notes); `progress` gets one
    /// step per action.
    void Commit() override;
    void Commit(KsProgressInterface& progress) override;
    /// @}
    /// Marks the transaction Rolled Back; refused once it is committed
    /// (KsTransactionException "Cannot rollback a transaction which is \"Committed\"").
    void Rollback() override;

    /// The creation time that identifies the transaction in the log.
    const KsTimestamp& GetIdentity() const { return id_; }
    /// Whether Commit succeeded.
    bool IsCommitted() const { return committed_; }
    /// The actions added since the transaction began or last committed or rolled back.
    std::uint32_t GetActionCount() const { return actionCount_; }

private:
    KsFileTransactionLog& Log() const;

    KsFile* file_;
    KsTimestamp id_;
    bool committed_ = false;
    std::uint32_t actionCount_ = 0;
};
