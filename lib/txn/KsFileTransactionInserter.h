#pragma once
/// @file
/// Adds actions to a transaction of the log: each goes after the transaction's last action
/// with status 'K'. An inserter lives for one Add.
///
/// Actions are never unlinked from a logged transaction, so a node once known to be its last
/// action stays in its list: the log remembers it, and the next Add walks on from there
/// instead of from the first action (which made long transactions quadratic).

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
    /// `transaction` stands on the transaction's status element of `log`, which is locked
    /// whole while the inserter lives. `lastAction`, when given,
    /// holds a node of the transaction's actions known to the caller (0: none) to walk on
    /// from, and receives the node of each action added; it must outlive the inserter.
    KsFileTransactionInserter(KsFile& file, KsFileTransactionLog& log,
                              KsFileTransactionLog::Cursor transaction,
                              std::uint64_t* lastAction = nullptr);

    void Add(KsRecordAction& action) override;

    /// Logs `element` after the last action of `actions` (a transaction's sub-list, the log
    /// locked whole), walking on from the node `*lastAction` when it is known (not 0);
    /// `*lastAction` receives the new node. Returns the new node; the bytes stored go to
    /// `written` when given.
    static std::uint64_t Append(KsIOList<KsRecordActionListWrapper>& actions,
                                const KsRecordActionListWrapper& element, std::uint64_t* lastAction,
                                KsIOListObject* written = nullptr);

private:
    KsFile* table_;
    KsFileTransactionLog::WholeLock logLock_;  // released after the cursor's own locks
    KsFileTransactionLog::Cursor transaction_;
    std::uint64_t* lastAction_;
};
