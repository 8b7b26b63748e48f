#pragma once
/// @file
/// Adds actions to a transaction of the log: each goes after the transaction's last action
/// with status 'K'. An inserter lives for one Add.

#include "txn/KsFileTransactionLog.h"

/// Adds one action to a transaction.
class KsActionInserter {
public:
    virtual ~KsActionInserter() = default;
    /// Logs a copy of `action` after the transaction's last action.
    virtual void Add(KsRecordAction& action) = 0;
};

/// The inserter of the log of a table (see the file notes).
class KsFileTransactionInserter : public KsActionInserter {
public:
    /// `transaction` stands on the transaction's status element.
    KsFileTransactionInserter(KsFile& file, KsFileTransactionLog::Cursor transaction);

    void Add(KsRecordAction& action) override;

private:
    KsFile* table_;
    KsFileTransactionLog::Cursor transaction_;
};
