#include "txn/KsInstallTransactions.h"

#include "files/KsTransactionSupport.h"
#include "txn/KsFileTransactionLog.h"
#include "txn/KsTransactionNew.h"
#include "txn/KsTransactionRecovery.h"

namespace {

class TransactionSupport : public KsTransactionSupport {
public:
    std::unique_ptr<KsTransactionLog> OpenLog(KsFile& file) override {
        auto log = std::make_unique<KsFileTransactionLog>(file);
        log->SetRecovered(KsRecoverTransactions(*log));
        return log;
    }
    KsTransaction* NewOldTransaction(KsFile& file) override { return new KsTransactionOld(file); }
    KsTransaction* NewTransaction(KsFile& file, std::int32_t number,
                                  const char* description) override {
        return new KsTransactionNew(file, static_cast<std::uint32_t>(number), description);
    }
    Kind GetKind(const KsTransaction& transaction) const override {
        if (dynamic_cast<const KsTransactionNew*>(&transaction) != nullptr) {
            return Kind::kNew;
        }
        if (dynamic_cast<const KsTransactionOld*>(&transaction) != nullptr) {
            return Kind::kOld;
        }
        return Kind::kDatabaseOld;
    }
    bool Exists(const KsTransaction* transaction) const override {
        return KsTransaction::Exists(transaction);
    }
    void Destroy(KsTransaction* transaction) override { delete transaction; }
    void AddAppend(KsTransaction& transaction, KsFile& file, const KsFileRecord& record) override {
        KsAppendAction action(record);
        transaction.AddAction(file, action);
    }
    void AddModify(KsTransaction& transaction, KsFile& file, std::int32_t n,
                   const KsFileRecord& record) override {
        KsModifyAction action(record, n);
        transaction.AddAction(file, action);
    }
};

}  // namespace

void KsInstallTransactions() {
    static TransactionSupport support;
    KsTransactionSupport::Install(&support);
}
