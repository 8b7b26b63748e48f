#pragma once
/// @file
/// What a table needs from the transaction layer, which sits above it: its log, the
/// transactions it starts and the actions of AppendRecord and SaveRecord. The transaction
/// layer installs one process-wide object (KsInstallTransactions()); without it a table has
/// no log and starts no transaction.

#include <cstdint>
#include <memory>

class KsFile;
class KsFileRecord;
class KsTransaction;
class KsTransactionLog;

/// The transaction layer's services to tables (see the file notes).
class KsTransactionSupport {
public:
    /// The class of a transaction: KsTransactionOld (kOld), KsDatabaseTransactionOld
    /// (kDatabaseOld) or KsTransactionNew (kNew).
    enum class Kind { kOld, kDatabaseOld, kNew };

    virtual ~KsTransactionSupport() = default;

    /// Opens (or creates) the log of a table opened for writing and finishes any commit a
    /// crash interrupted.
    virtual std::unique_ptr<KsTransactionLog> OpenLog(KsFile& file) = 0;
    /// @{
    /// New transactions on `file`, owned by the caller (who ends them with Destroy): one
    /// that carries actions out at once, and one that logs them under `number` and
    /// `description` and commits them together.
    virtual KsTransaction* NewOldTransaction(KsFile& file) = 0;
    virtual KsTransaction* NewTransaction(KsFile& file, std::int32_t number,
                                          const char* description) = 0;
    /// @}
    /// The class of `transaction`.
    virtual Kind GetKind(const KsTransaction& transaction) const = 0;
    /// Whether `transaction` points to a transaction not yet deleted (it is not followed).
    virtual bool Exists(const KsTransaction* transaction) const = 0;
    /// Deletes a transaction made by this object.
    virtual void Destroy(KsTransaction* transaction) = 0;
    /// @{
    /// Hand an append of `record`, or a modify of record n to `record`, to the transaction.
    virtual void AddAppend(KsTransaction& transaction, KsFile& file,
                           const KsFileRecord& record) = 0;
    virtual void AddModify(KsTransaction& transaction, KsFile& file, std::int32_t n,
                           const KsFileRecord& record) = 0;
    /// @}

    /// The installed object, or null.
    static KsTransactionSupport* Get();
    /// Makes `support` (not owned; it must live as long as tables use it) the installed
    /// object; null uninstalls.
    static void Install(KsTransactionSupport* support);
};
