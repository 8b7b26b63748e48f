#include "txn/KsFileTransactionInserter.h"

#include "core/KsCallpath.h"

namespace {
constexpr const char* kClass = "KsFileTransactionInserter";
}

KsFileTransactionInserter::KsFileTransactionInserter(KsFile& file,
                                                     KsFileTransactionLog::Cursor transaction)
    : table_(&file), transaction_(std::move(transaction)) {}

void KsFileTransactionInserter::Add(KsRecordAction& action) {
    KsCallpath("Add()", kClass, [&] {
        KsRecordActionListWrapper element(*table_, action);
        KsIOList<KsRecordActionListWrapper> actions = transaction_.SubList();
        auto end = actions.begin(LOCK_WRITE);
        while (!(end == actions.end())) {
            ++end;
        }
        actions.insert(end, element);
    });
}
