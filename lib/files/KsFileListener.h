#pragma once
/// @file
/// Observers of a table: KsFileListener receives what happens to a table (open, close,
/// destruction, locks, refreshes, record changes, transactions); KsMultiFileListener fans
/// each event out to the listeners registered with it. A table owns one multi-listener.
///
/// The base behaviours funnel events into ActionHandler(file, action, record) with the
/// action codes below (file-level events pass record -1), and the record-level events with
/// records into the plain ones: FLRecordRemoved -> FLRecordDeleted, FLRecordAdded ->
/// FLRecordInserted, FLRecordChanged -> FLRecordModified. A listener overrides what it
/// needs.
///
/// Registrations are counted: every Add raises the listener's reference count and every
/// Remove lowers it; a listener added twice to one multi-listener is told each event once
/// and stays registered until it has been removed twice. A listener destroyed while still
/// registered takes itself out of every multi-listener first (so none keeps a dangling
/// reference) and then fails with "Reference count of KsFileListener is %d at destruction"
/// (unless an exception is already on its way). A multi-listener destroyed first releases
/// its registrations, so a listener may outlive the table it listened to.

#include <cstdint>
#include <vector>

class KsFile;
class KsFileRecord;
class KsMultiFileListener;

/// Action codes of ActionHandler: a record added, removed, changed (its old number) or
/// replaced (its new number); the table destroyed, read again or opened; a transaction
/// begun or ended.
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

/// An observer of tables (see the file notes). Every event method does nothing unless
/// said otherwise; errors a listener raises pass out of the table call that caused the
/// event.
class KsFileListener {
public:
    /// Registered nowhere.
    KsFileListener() = default;
    /// @{
    /// Not copyable: registrations refer to the object.
    KsFileListener(const KsFileListener&) = delete;
    KsFileListener& operator=(const KsFileListener&) = delete;
    /// @}
    /// Leaves every multi-listener; raises the reference-count error when it was still
    /// registered (see the file notes).
    virtual ~KsFileListener() noexcept(false);

    /// Receives the funnelled events: `action` a KsFileAction, `record` a record number
    /// or -1.
    virtual void ActionHandler(KsFile& file, int action, std::int32_t record);
    /// The table became the active one.
    virtual void FLActivate(KsFile& file);
    /// The table's system selection should be checked.
    virtual void FLCheckSystemSet(KsFile& file);
    /// The table is closing.
    virtual void FLClose(KsFile& file);
    /// The table stopped being the active one.
    virtual void FLDeactivate(KsFile& file);
    /// The table is being destroyed; ActionHandler with kKsActionDestroyed.
    virtual void FLDestroy(KsFile& file);
    /// The table was locked with `flags` (LOCK_READ, LOCK_WRITE).
    virtual void FLLock(KsFile& file, int flags);
    /// The table was opened; ActionHandler with kKsActionOpened.
    virtual void FLOpen(KsFile& file);
    /// Record `record` was removed; ActionHandler with kKsActionDeleted.
    virtual void FLRecordDeleted(KsFile& file, std::int32_t record);
    /// Record `record` was added; ActionHandler with kKsActionInserted.
    virtual void FLRecordInserted(KsFile& file, std::int32_t record);
    /// Record `record` was changed; ActionHandler with kKsActionModified.
    virtual void FLRecordModified(KsFile& file, std::int32_t record);
    /// The table was read again; ActionHandler with kKsActionRefresh.
    virtual void FLRefresh(KsFile& file);
    /// The table's lock of `flags` was released.
    virtual void FLUnlock(KsFile& file, int flags);
    /// A transaction started; ActionHandler with kKsActionTransactionBegun.
    virtual void FLTransactionBegun(KsFile& file);
    /// The transaction ended; ActionHandler with kKsActionTransactionEnded.
    virtual void FLTransactionEnded(KsFile& file);
    /// Record `number` was removed; `record` is the table's scratch record, valid during
    /// the call. Goes on to FLRecordDeleted.
    virtual void FLRecordRemoved(KsFile& file, std::int32_t number, const KsFileRecord& record);
    /// Record `number` was added as `record`. Goes on to FLRecordInserted.
    virtual void FLRecordAdded(KsFile& file, std::int32_t number, const KsFileRecord& record);
    /// Record `number` became `newRecord` at `newNumber`. Goes on to FLRecordModified
    /// with the old number.
    virtual void FLRecordChanged(KsFile& file, std::int32_t number, const KsFileRecord& oldRecord,
                                 std::int32_t newNumber, const KsFileRecord& newRecord);
    /// Record `oldNumber` was replaced by `newRecord` at `newNumber`; the flags tell
    /// whether the old record was in the selection and the second selection.
    /// ActionHandler with kKsActionReplaced and the new number.
    virtual void FLRecordReplaced(KsFile& file, std::int32_t oldNumber,
                                  const KsFileRecord& oldRecord, std::int32_t newNumber,
                                  const KsFileRecord& newRecord, bool oldSelected,
                                  bool oldSecondSelected);

    /// Whether the listener is switched off (a multi-listener then passes nothing on).
    bool IsInactive() const { return inactive_; }
    /// Switches the listener off or on.
    void SetInactive(bool inactive) { inactive_ = inactive; }
    /// The number of registrations that hold this listener.
    std::int32_t GetReferenceCount() const { return referenceCount_; }

private:
    friend class KsMultiFileListener;

    bool inactive_ = false;
    std::int32_t referenceCount_ = 0;
    // One entry per registration, for taking the listener out at its destruction.
    std::vector<KsMultiFileListener*> holders_;
};

/// Passes each event on to the listeners registered with it (not owned).
class KsMultiFileListener : public KsFileListener {
public:
    /// Without listeners.
    KsMultiFileListener() = default;
    /// Releases every registration, its own in other multi-listeners too.
    ~KsMultiFileListener() noexcept override;

    /// Registers `listener` (appended when it is not registered yet) and raises its count;
    /// adding the multi-listener to itself fails with "Cannot add KsMultiFileListener to
    /// itself".
    void Add(KsFileListener& listener);
    /// Undoes one Add; the listener leaves the list (the others keep their order) when its
    /// last registration here goes. A listener that is not registered is ignored.
    void Remove(KsFileListener& listener);
    /// Undoes every Add of every listener.
    void RemoveAll();
    /// Whether `listener` holds a registration here.
    bool IsRegistered(const KsFileListener& listener) const;
    /// The listeners registered (each counted once).
    std::int32_t GetListenerCount() const { return static_cast<std::int32_t>(entries_.size()); }

    /// @{
    /// Each event goes to the registered listeners from the last registered to the first,
    /// nothing while the inactive flag is set.
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
    /// @}

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
