#pragma once
// A transaction that logs its actions in the table's transaction log and carries them out
// together on Commit, undoing every one of them when one fails, the progress object fails
// or the user cancels. A successful commit ends Committed; a transaction destroyed without
// a commit ends Rolled Back. Every step reaches the log through the table, so a table
// closed while the transaction lives makes the next step fail.

#include <cstdint>

#include "txn/KsTransaction.h"
#include "values/KsTimestamp.h"

class KsFileTransactionLog;

class KsTransactionNew : public KsTransaction {
public:
    KsTransactionNew(KsFile& file, std::uint32_t number, const char* description);
    ~KsTransactionNew() override;

    // Logs a copy of `action` for the transaction's own table.
    void AddAction(KsFile& file, KsRecordAction& action) override;
    void Commit() override;
    void Commit(KsProgressInterface& progress) override;
    // Marks the transaction Rolled Back; refused once it is committed.
    void Rollback() override;

    const KsTimestamp& GetIdentity() const { return id_; }
    bool IsCommitted() const { return committed_; }
    std::uint32_t GetActionCount() const { return actionCount_; }

private:
    KsFileTransactionLog& Log() const;

    KsFile* file_;
    KsTimestamp id_;
    bool committed_ = false;
    std::uint32_t actionCount_ = 0;
};
