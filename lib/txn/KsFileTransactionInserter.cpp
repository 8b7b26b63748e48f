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
        Append(actions, element, lastAction_);
    });
}

std::uint64_t KsFileTransactionInserter::Append(KsIOList<KsRecordActionListWrapper>& actions,
                                                const KsRecordActionListWrapper& element,
                                                std::uint64_t* lastAction,
                                                KsIOListObject* written) {
    constexpr int kWalk = KsFileTransactionLog::kWalk;
    bool known = lastAction != nullptr && *lastAction != 0;
    auto end = known ? actions.after(*lastAction, kWalk) : actions.begin(kWalk);
    // Normally at the end already; actions logged by another opener are walked over.
    while (!(end == actions.end())) {
        ++end;
    }
    KsIOListObject object;
    KsIOListObject& bytes = written != nullptr ? *written : object;
    KsCallpath("insert()", "KsIOList<TYPE>", [&] {
        element.Write(bytes);
        actions.InsertElement(end.GetVoidIterator(), bytes.GetData(), bytes.GetSize());
    });
    if (lastAction != nullptr) {
        *lastAction = end.GetPosition();
    }
    return end.GetPosition();
}
