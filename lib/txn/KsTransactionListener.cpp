#include "txn/KsTransactionListener.h"

#include "core/KsCallpath.h"
#include "core/KsScopeExit.h"

namespace {
constexpr const char* kClass = "KsMultiTransactionListener";
}

KsMultiTransactionListener& KsMultiTransactionListener::Instance() {
    static KsMultiTransactionListener instance;
    return instance;
}

void KsMultiTransactionListener::Register(KsTransactionListener& listener, std::int32_t priority) {
    Change change{true, priority, &listener};
    forwarding_ > 0 ? queued_.push_back(change) : Apply(change);
}

void KsMultiTransactionListener::Unregister(KsTransactionListener& listener) {
    Change change{false, 0, &listener};
    forwarding_ > 0 ? queued_.push_back(change) : Apply(change);
}

void KsMultiTransactionListener::Apply(const Change& change) {
    if (change.add) {
        listeners_.emplace(change.priority, change.listener);
        return;
    }
    std::erase_if(listeners_, [&](const auto& entry) { return entry.second == change.listener; });
}

void KsMultiTransactionListener::ExitListener() {
    KsCallpath("ExitListener()", kClass, [&] {
        if (--forwarding_ > 0) {
            return;
        }
        std::vector<Change> changes;
        changes.swap(queued_);
        for (const Change& change : changes) {
            Apply(change);
        }
    });
}

void KsMultiTransactionListener::Forward(const char* function,
                                         const std::function<void(KsTransactionListener&)>& call) {
    KsCallpath(function, kClass, [&] {
        ++forwarding_;
        KsScopeExit exit([&] { ExitListener(); });
        for (const auto& entry : listeners_) {
            call(*entry.second);
        }
    });
}

void KsMultiTransactionListener::TLTransactionBegun(KsTransaction* transaction) {
    Forward("TLTransactionBegun()",
            [&](KsTransactionListener& listener) { listener.TLTransactionBegun(transaction); });
}

void KsMultiTransactionListener::TLFileEntered(KsTransaction* transaction, KsFile* file) {
    Forward("TLFileEntered()",
            [&](KsTransactionListener& listener) { listener.TLFileEntered(transaction, file); });
}

void KsMultiTransactionListener::TLFileLeft(KsTransaction* transaction, KsFile* file,
                                            bool committed) {
    Forward("TLFileLeft()", [&](KsTransactionListener& listener) {
        listener.TLFileLeft(transaction, file, committed);
    });
}

void KsMultiTransactionListener::TLTransactionEnded(KsTransaction* transaction) {
    Forward("TLTransactionEnded()",
            [&](KsTransactionListener& listener) { listener.TLTransactionEnded(transaction); });
}
