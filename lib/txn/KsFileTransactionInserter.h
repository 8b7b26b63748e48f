#pragma once
// Adds actions to a transaction of the log: each goes after the transaction's last action
// with status 'K'. An inserter lives for one Add.

#include "txn/KsFileTransactionLog.h"

class KsActionInserter {
public:
    virtual ~KsActionInserter() = default;
    virtual void Add(KsRecordAction& action) = 0;
};

class KsFileTransactionInserter : public KsActionInserter {
public:
    // `transaction` stands on the transaction's status element.
    KsFileTransactionInserter(KsFile& file, KsFileTransactionLog::Cursor transaction);

    void Add(KsRecordAction& action) override;

private:
    KsFile* table_;
    KsFileTransactionLog::Cursor transaction_;
};
