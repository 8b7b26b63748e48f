#include "txn/KsFileTransactionInserter.h"

#include "core/KsCallpath.h"

namespace {
constexpr const char* kClass = "KsFileTransactionInserter";
}

KsFileTransactionInserter::KsFileTransactionInserter(KsFile& file, KsFileTransactionLog& log,
                                                     KsFileTransactionLog::Cursor transaction,
                                                     std::uint64_t* lastAction)
    : table_(&file),
      logLock_(log.LockAll()),
      transaction_(std::move(transaction)),
      lastAction_(lastAction) {}

void KsFileTransactionInserter::Add(KsRecordAction& action) {
    KsCallpath("Add()", kClass, [&] {
        KsRecordActionListWrapper element(*table_, action);
        KsIOList<KsRecordActionListWrapper> actions = transaction_.SubList();
        bool known = lastAction_ != nullptr && *lastAction_ != 0;
        auto end = known ? actions.after(*lastAction_, KsFileTransactionLog::kWalk) : actions.begin(KsFileTransactionLog::kWalk);
        while (!(end == actions.end())) {
            ++end;
        }
        actions.insert(end, element);
        if (lastAction_ != nullptr) {
            *lastAction_ = end.GetPosition();
        }
    });
}
