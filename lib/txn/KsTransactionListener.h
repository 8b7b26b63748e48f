#pragma once
// Listeners told when transactions begin and end and which tables they touch. The one
// process-wide KsMultiTransactionListener forwards every call to its registered listeners,
// highest priority first (equal priorities in the order registered). Registrations changed
// while it forwards (from inside a notification) wait until the forwarding ends.

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

class KsFile;
class KsTransaction;

class KsTransactionListener {
public:
    virtual ~KsTransactionListener() = default;
    virtual void TLTransactionBegun(KsTransaction* transaction) { (void)transaction; }
    virtual void TLFileEntered(KsTransaction* transaction, KsFile* file) {
        (void)transaction;
        (void)file;
    }
    virtual void TLFileLeft(KsTransaction* transaction, KsFile* file, bool committed) {
        (void)transaction;
        (void)file;
        (void)committed;
    }
    virtual void TLTransactionEnded(KsTransaction* transaction) { (void)transaction; }
};

class KsMultiTransactionListener : public KsTransactionListener {
public:
    static KsMultiTransactionListener& Instance();

    void Register(KsTransactionListener& listener, std::int32_t priority);
    // Removes every registration of `listener`.
    void Unregister(KsTransactionListener& listener);
    std::size_t GetCount() const { return listeners_.size(); }

    void TLTransactionBegun(KsTransaction* transaction) override;
    void TLFileEntered(KsTransaction* transaction, KsFile* file) override;
    void TLFileLeft(KsTransaction* transaction, KsFile* file, bool committed) override;
    void TLTransactionEnded(KsTransaction* transaction) override;

private:
    struct Change {
        bool add;
        std::int32_t priority;
        KsTransactionListener* listener;
    };

    void Forward(const char* function, const std::function<void(KsTransactionListener&)>& call);
    void Apply(const Change& change);
    // Applies the changes queued while forwarding.
    void ExitListener();

    std::multimap<std::int32_t, KsTransactionListener*, std::greater<>> listeners_;
    std::vector<Change> queued_;
    int forwarding_ = 0;
};
