#pragma once
/// @file
/// Listeners told when transactions begin and end and which tables they touch. The one
/// process-wide KsMultiTransactionListener forwards every call to its registered listeners,
/// highest priority first (equal priorities in the order registered). Registrations changed
/// while it forwards (from inside a notification) wait until the forwarding ends.

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

class KsFile;
class KsTransaction;

/// An observer of transactions; every method does nothing unless overridden.
class KsTransactionListener {
public:
    virtual ~KsTransactionListener() = default;
    /// `transaction` began.
    virtual void TLTransactionBegun(KsTransaction* transaction) { (void)transaction; }
    /// `transaction` works on `file`.
    virtual void TLFileEntered(KsTransaction* transaction, KsFile* file) {
        (void)transaction;
        (void)file;
    }
    /// `transaction` is done with `file`, committed or not.
    virtual void TLFileLeft(KsTransaction* transaction, KsFile* file, bool committed) {
        (void)transaction;
        (void)file;
        (void)committed;
    }
    /// `transaction` ended.
    virtual void TLTransactionEnded(KsTransaction* transaction) { (void)transaction; }
};

/// The process-wide forwarder of transaction events (see the file notes).
class KsMultiTransactionListener : public KsTransactionListener {
public:
    /// The one object, alive for the whole program.
    static KsMultiTransactionListener& Instance();

    /// Registers `listener` (not owned; it must stay alive until unregistered) at
    /// `priority`.
    void Register(KsTransactionListener& listener, std::int32_t priority);
    /// Removes every registration of `listener`.
    void Unregister(KsTransactionListener& listener);
    /// The registrations in force.
    std::size_t GetCount() const { return listeners_.size(); }

    /// @{
    /// Forwarded to every registered listener.
    void TLTransactionBegun(KsTransaction* transaction) override;
    void TLFileEntered(KsTransaction* transaction, KsFile* file) override;
    void TLFileLeft(KsTransaction* transaction, KsFile* file, bool committed) override;
    void TLTransactionEnded(KsTransaction* transaction) override;
    /// @}

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
