#pragma once
/// @file
/// Transactions group record actions on a table.
///
///   KsTransactionOld          carries each action out at once on its table; no undo
///   KsDatabaseTransactionOld  the same for actions on any table
///   KsTransactionNew          (txn/KsTransactionNew.h) logs its actions and commits them
///                             together, undoing them all when one fails
///
/// Every transaction tells the process-wide KsMultiTransactionListener when it begins, which
/// table it enters and leaves, and when it ends.

#include "txn/KsRecordAction.h"

class KsFile;
class KsProgressInterface;

/// A group of record actions on tables (see the file notes). Errors are KsException or
/// KsTransactionException with the call path of the transaction call.
class KsTransaction {
public:
    virtual ~KsTransaction();
    /// Adds `action` (the caller keeps it; the transaction copies what it needs) on
    /// `file`, or carries it out at once, as the class says.
    virtual void AddAction(KsFile& file, KsRecordAction& action) = 0;
    /// Makes the actions added so far take effect, all or none.
    virtual void Commit() = 0;
    /// Reports a one-step range around Commit().
    virtual void Commit(KsProgressInterface& progress);
    /// Drops the actions added and not committed.
    virtual void Rollback() = 0;

    /// Whether `transaction` points to a transaction not yet deleted; a pointer to one that
    /// was deleted is safe to pass (it is compared, never followed).
    static bool Exists(const KsTransaction* transaction);

protected:
    /// For the transaction classes.
    KsTransaction();
    /// @{
    /// Not copyable.
    KsTransaction(const KsTransaction&) = delete;
    KsTransaction& operator=(const KsTransaction&) = delete;
    /// @}
};

/// Carries each action out at once on its one table; cannot be rolled back. Made by
/// KsFile::BeginTransaction.
class KsTransactionOld : public KsTransaction {
public:
    /// A transaction on `file`, which must outlive it.
    explicit KsTransactionOld(KsFile& file);
    ~KsTransactionOld() override;

    /// Carries `action` out on `file`, which must be the transaction's table.
    void AddAction(KsFile& file, KsRecordAction& action) override;
    /// Nothing to do: every action is carried out already.
    void Commit() override {}
    /// @{
    /// The form with a progress display.
    using KsTransaction::Commit;
    /// @}
    /// Raises KsNotImplementedError "Old-style transactions cannot be rolled back".
    void Rollback() override;

private:
    KsFile* file_;
};

/// Carries each action out at once on any table; cannot be rolled back.
class KsDatabaseTransactionOld : public KsTransaction {
public:
    /// Tells the listeners that it began.
    KsDatabaseTransactionOld();
    /// Tells the listeners that it ended.
    ~KsDatabaseTransactionOld() override;

    /// Carries `action` out on `file` at once.
    void AddAction(KsFile& file, KsRecordAction& action) override;
    /// Nothing to do: every action is carried out already.
    void Commit() override {}
    /// @{
    /// The form with a progress display.
    using KsTransaction::Commit;
    /// @}
    /// Raises KsNotImplementedError "Old-style transactions cannot be rolled back".
    void Rollback() override;
};
