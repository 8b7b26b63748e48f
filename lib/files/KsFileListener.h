#pragma once
// Observers of a table: KsFileListener receives what happens to a table (open, close,
// destruction, locks, refreshes, record changes, transactions); KsMultiFileListener fans
// each event out to the listeners registered with it. A table owns one multi-listener.
//
// The base behaviours funnel events into ActionHandler(file, action, record) with the
// action codes below (file-level events pass record -1), and the record-level events with
// records into the plain ones: FLRecordRemoved -> FLRecordDeleted, FLRecordAdded ->
// FLRecordInserted, FLRecordChanged -> FLRecordModified. A listener overrides what it
// needs.
//
// Registrations are counted: every Add raises the listener's reference count and every
// Remove lowers it; a listener added twice to one multi-listener is told each event once
// and stays registered until it has been removed twice. A listener destroyed while still
// registered takes itself out of every multi-listener first (so none keeps a dangling
// reference) and then fails with "Reference count of KsFileListener is %d at destruction"
// (unless an exception is already on its way). A multi-listener destroyed first releases
// its registrations, so a listener may outlive the table it listened to.

#include <cstdint>
#include <vector>

class KsFile;
class KsFileRecord;
class KsMultiFileListener;

// Action codes of ActionHandler.
enum KsFileAction : int {
    kKsActionInserted = 0,
    kKsActionDeleted = 1,
    kKsActionDestroyed = 2,
    kKsActionModified = 3,
    kKsActionRefresh = 4,
    kKsActionOpened = 5,
    kKsActionTransactionBegun = 6,
    kKsActionTransactionEnded = 7,
    kKsActionReplaced = 8,
};

class KsFileListener {
public:
    KsFileListener() = default;
    KsFileListener(const KsFileListener&) = delete;
    KsFileListener& operator=(const KsFileListener&) = delete;
    virtual ~KsFileListener() noexcept(false);

    virtual void ActionHandler(KsFile& file, int action, std::int32_t record);
    virtual void FLActivate(KsFile& file);
    virtual void FLCheckSystemSet(KsFile& file);
    virtual void FLClose(KsFile& file);
    virtual void FLDeactivate(KsFile& file);
    virtual void FLDestroy(KsFile& file);
    virtual void FLLock(KsFile& file, int flags);
    virtual void FLOpen(KsFile& file);
    virtual void FLRecordDeleted(KsFile& file, std::int32_t record);
    virtual void FLRecordInserted(KsFile& file, std::int32_t record);
    virtual void FLRecordModified(KsFile& file, std::int32_t record);
    virtual void FLRefresh(KsFile& file);
    virtual void FLUnlock(KsFile& file, int flags);
    virtual void FLTransactionBegun(KsFile& file);
    virtual void FLTransactionEnded(KsFile& file);
    // `record` is the table's scratch record.
    virtual void FLRecordRemoved(KsFile& file, std::int32_t number, const KsFileRecord& record);
    virtual void FLRecordAdded(KsFile& file, std::int32_t number, const KsFileRecord& record);
    virtual void FLRecordChanged(KsFile& file, std::int32_t number, const KsFileRecord& oldRecord,
                                 std::int32_t newNumber, const KsFileRecord& newRecord);
    virtual void FLRecordReplaced(KsFile& file, std::int32_t oldNumber,
                                  const KsFileRecord& oldRecord, std::int32_t newNumber,
                                  const KsFileRecord& newRecord, bool oldSelected,
                                  bool oldSecondSelected);

    bool IsInactive() const { return inactive_; }
    void SetInactive(bool inactive) { inactive_ = inactive; }
    // The number of registrations that hold this listener.
    std::int32_t GetReferenceCount() const { return referenceCount_; }

private:
    friend class KsMultiFileListener;

    bool inactive_ = false;
    std::int32_t referenceCount_ = 0;
    // One entry per registration, for taking the listener out at its destruction.
    std::vector<KsMultiFileListener*> holders_;
};

class KsMultiFileListener : public KsFileListener {
public:
    KsMultiFileListener() = default;
    // Releases every registration, its own in other multi-listeners too.
    ~KsMultiFileListener() noexcept override;

    // Registers `listener` (appended when it is not registered yet) and raises its count;
    // adding the multi-listener to itself fails with "Cannot add KsMultiFileListener to
    // itself".
    void Add(KsFileListener& listener);
    // Undoes one Add; the listener leaves the list (the others keep their order) when its
    // last registration here goes. A listener that is not registered is ignored.
    void Remove(KsFileListener& listener);
    // Undoes every Add of every listener.
    void RemoveAll();
    bool IsRegistered(const KsFileListener& listener) const;
    std::int32_t GetListenerCount() const { return static_cast<std::int32_t>(entries_.size()); }

    // Each event goes to the registered listeners from the last registered to the first,
    // nothing while the inactive flag is set.
    void ActionHandler(KsFile& file, int action, std::int32_t record) override;
    void FLActivate(KsFile& file) override;
    void FLCheckSystemSet(KsFile& file) override;
    void FLClose(KsFile& file) override;
    void FLDeactivate(KsFile& file) override;
    void FLDestroy(KsFile& file) override;
    void FLLock(KsFile& file, int flags) override;
    void FLOpen(KsFile& file) override;
    void FLRecordDeleted(KsFile& file, std::int32_t record) override;
    void FLRecordInserted(KsFile& file, std::int32_t record) override;
    void FLRecordModified(KsFile& file, std::int32_t record) override;
    void FLRefresh(KsFile& file) override;
    void FLUnlock(KsFile& file, int flags) override;
    void FLTransactionBegun(KsFile& file) override;
    void FLTransactionEnded(KsFile& file) override;
    void FLRecordRemoved(KsFile& file, std::int32_t number, const KsFileRecord& record) override;
    void FLRecordAdded(KsFile& file, std::int32_t number, const KsFileRecord& record) override;
    void FLRecordChanged(KsFile& file, std::int32_t number, const KsFileRecord& oldRecord,
                         std::int32_t newNumber, const KsFileRecord& newRecord) override;
    void FLRecordReplaced(KsFile& file, std::int32_t oldNumber, const KsFileRecord& oldRecord,
                          std::int32_t newNumber, const KsFileRecord& newRecord, bool oldSelected,
                          bool oldSecondSelected) override;

private:
    friend class KsFileListener;

    struct Entry {
        KsFileListener* listener;
        std::int32_t registrations;
    };

    // Calls `event` on every registered listener, last registered first, under a call-path
    // line naming the event. A listener taken out by an earlier one on the way is skipped.
    template <class Event>
    void FanOut(const char* eventName, Event&& event);
    // Takes `listener` out with all its registrations here.
    void Forget(KsFileListener& listener);

    std::vector<Entry> entries_;
};
