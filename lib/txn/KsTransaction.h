#pragma once
// Transactions group record actions on a table.
//
//   KsTransactionOld          carries each action out at once on its table; no undo
//   KsDatabaseTransactionOld  the same for actions on any table
//   KsTransactionNew          (txn/KsTransactionNew.h) logs its actions and commits them
//                             together, undoing them all when one fails
//
// Every transaction tells the process-wide KsMultiTransactionListener when it begins, which
// table it enters and leaves, and when it ends.

#include "txn/KsRecordAction.h"

class KsFile;
class KsProgressInterface;

class KsTransaction {
public:
    virtual ~KsTransaction() = default;
    virtual void AddAction(KsFile& file, KsRecordAction& action) = 0;
    virtual void Commit() = 0;
    // Reports a one-step range around Commit().
    virtual void Commit(KsProgressInterface& progress);
    virtual void Rollback() = 0;

protected:
    KsTransaction() = default;
    KsTransaction(const KsTransaction&) = delete;
    KsTransaction& operator=(const KsTransaction&) = delete;
};

class KsTransactionOld : public KsTransaction {
public:
    explicit KsTransactionOld(KsFile& file);
    ~KsTransactionOld() override;

    // Carries `action` out on `file`, which must be the transaction's table.
    void AddAction(KsFile& file, KsRecordAction& action) override;
    void Commit() override {}
    using KsTransaction::Commit;
    // Raises KsNotImplementedError.
    void Rollback() override;

private:
    KsFile* file_;
};

class KsDatabaseTransactionOld : public KsTransaction {
public:
    KsDatabaseTransactionOld();
    ~KsDatabaseTransactionOld() override;

    void AddAction(KsFile& file, KsRecordAction& action) override;
    void Commit() override {}
    using KsTransaction::Commit;
    void Rollback() override;
};
