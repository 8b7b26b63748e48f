#include "files/KsFileListener.h"

#include <algorithm>
#include <exception>

#include "core/KsCallpath.h"
#include "core/KsException.h"

namespace {

constexpr const char* kListenerClass = "KsFileListener";
constexpr const char* kMultiClass = "KsMultiFileListener";

}  // namespace

// ---- KsFileListener: the base behaviours

KsFileListener::~KsFileListener() noexcept(false) {
    if (referenceCount_ == 0) {
        return;
    }
    std::int32_t count = referenceCount_;
    // No multi-listener may keep a reference to a listener that is gone.
    while (!holders_.empty()) {
        holders_.back()->Forget(*this);
    }
    referenceCount_ = 0;
    if (std::uncaught_exceptions() == 0) {
        KsException::Generate("Reference count of KsFileListener is %d at destruction",
                              kListenerClass, static_cast<int>(count));
    }
}

void KsFileListener::ActionHandler(KsFile&, int, std::int32_t) {}
void KsFileListener::FLActivate(KsFile&) {}
void KsFileListener::FLCheckSystemSet(KsFile&) {}
void KsFileListener::FLClose(KsFile&) {}
void KsFileListener::FLDeactivate(KsFile&) {}
void KsFileListener::FLLock(KsFile&, int) {}
void KsFileListener::FLUnlock(KsFile&, int) {}

void KsFileListener::FLDestroy(KsFile& file) {
    KsCallpath("FLDestroy()", kListenerClass, [&] { ActionHandler(file, kKsActionDestroyed, -1); });
}

void KsFileListener::FLOpen(KsFile& file) {
    KsCallpath("FLOpen()", kListenerClass, [&] { ActionHandler(file, kKsActionOpened, -1); });
}

void KsFileListener::FLRecordDeleted(KsFile& file, std::int32_t record) {
    KsCallpath("FLRecordDeleted()", kListenerClass,
               [&] { ActionHandler(file, kKsActionDeleted, record); });
}

void KsFileListener::FLRecordInserted(KsFile& file, std::int32_t record) {
    KsCallpath("FLRecordInserted()", kListenerClass,
               [&] { ActionHandler(file, kKsActionInserted, record); });
}

void KsFileListener::FLRecordModified(KsFile& file, std::int32_t record) {
    KsCallpath("FLRecordModified()", kListenerClass,
               [&] { ActionHandler(file, kKsActionModified, record); });
}

void KsFileListener::FLRefresh(KsFile& file) {
    KsCallpath("FLRefresh()", kListenerClass, [&] { ActionHandler(file, kKsActionRefresh, -1); });
}

void KsFileListener::FLTransactionBegun(KsFile& file) {
    KsCallpath("FLTransactionBegun()", kListenerClass,
               [&] { ActionHandler(file, kKsActionTransactionBegun, -1); });
}

void KsFileListener::FLTransactionEnded(KsFile& file) {
    KsCallpath("FLTransactionEnded()", kListenerClass,
               [&] { ActionHandler(file, kKsActionTransactionEnded, -1); });
}

void KsFileListener::FLRecordRemoved(KsFile& file, std::int32_t number, const KsFileRecord&) {
    KsCallpath("FLRecordRemoved()", kListenerClass, [&] { FLRecordDeleted(file, number); });
}

void KsFileListener::FLRecordAdded(KsFile& file, std::int32_t number, const KsFileRecord&) {
    KsCallpath("FLRecordAdded()", kListenerClass, [&] { FLRecordInserted(file, number); });
}

void KsFileListener::FLRecordChanged(KsFile& file, std::int32_t number, const KsFileRecord&,
                                     std::int32_t, const KsFileRecord&) {
    KsCallpath("FLRecordChanged()", kListenerClass, [&] { FLRecordModified(file, number); });
}

void KsFileListener::FLRecordReplaced(KsFile& file, std::int32_t, const KsFileRecord&,
                                      std::int32_t newNumber, const KsFileRecord&, bool, bool) {
    KsCallpath("FLRecordReplaced()", kListenerClass,
               [&] { ActionHandler(file, kKsActionReplaced, newNumber); });
}

// ---- KsMultiFileListener: registrations

KsMultiFileListener::~KsMultiFileListener() noexcept {
    RemoveAll();
    // Held by another multi-listener: leave it quietly, a table's listeners go with it.
    while (!holders_.empty()) {
        holders_.back()->Forget(*this);
    }
}

void KsMultiFileListener::Add(KsFileListener& listener) {
    KsCallpath("Add()", kMultiClass, [&] {
        if (&listener == this) {
            KsException::Generate("Cannot add KsMultiFileListener to itself", kMultiClass);
        }
        auto found = std::find_if(entries_.begin(), entries_.end(),
                                  [&](const Entry& entry) { return entry.listener == &listener; });
        if (found == entries_.end()) {
            entries_.push_back(Entry{&listener, 1});
        } else {
            ++found->registrations;
        }
        ++listener.referenceCount_;
        listener.holders_.push_back(this);
    });
}

void KsMultiFileListener::Remove(KsFileListener& listener) {
    auto found = std::find_if(entries_.begin(), entries_.end(),
                              [&](const Entry& entry) { return entry.listener == &listener; });
    if (found == entries_.end()) {
        return;
    }
    --listener.referenceCount_;
    auto& holders = listener.holders_;
    holders.erase(std::find(holders.begin(), holders.end(), this));
    if (--found->registrations == 0) {
        entries_.erase(found);
    }
}

void KsMultiFileListener::Forget(KsFileListener& listener) {
    while (IsRegistered(listener)) {
        Remove(listener);
    }
}

void KsMultiFileListener::RemoveAll() {
    while (!entries_.empty()) {
        Forget(*entries_.back().listener);
    }
}

bool KsMultiFileListener::IsRegistered(const KsFileListener& listener) const {
    return std::any_of(entries_.begin(), entries_.end(),
                       [&](const Entry& entry) { return entry.listener == &listener; });
}

// ---- KsMultiFileListener: events

template <class Event>
void KsMultiFileListener::FanOut(const char* eventName, Event&& event) {
    KsCallpath(eventName, kMultiClass, [&] {
        if (IsInactive()) {
            return;
        }
        // A listener may take itself (or another) out while it is told: work on a copy.
        std::vector<Entry> snapshot = entries_;
        for (auto entry = snapshot.rbegin(); entry != snapshot.rend(); ++entry) {
            if (IsRegistered(*entry->listener)) {
                event(*entry->listener);
            }
        }
    });
}

void KsMultiFileListener::ActionHandler(KsFile& file, int action, std::int32_t record) {
    FanOut("ActionHandler()",
           [&](KsFileListener& listener) { listener.ActionHandler(file, action, record); });
}

void KsMultiFileListener::FLActivate(KsFile& file) {
    FanOut("FLActivate()", [&](KsFileListener& listener) { listener.FLActivate(file); });
}

void KsMultiFileListener::FLCheckSystemSet(KsFile& file) {
    FanOut("FLCheckSystemSet()",
           [&](KsFileListener& listener) { listener.FLCheckSystemSet(file); });
}

void KsMultiFileListener::FLClose(KsFile& file) {
    FanOut("FLClose()", [&](KsFileListener& listener) { listener.FLClose(file); });
}

void KsMultiFileListener::FLDeactivate(KsFile& file) {
    FanOut("FLDeactivate()", [&](KsFileListener& listener) { listener.FLDeactivate(file); });
}

void KsMultiFileListener::FLDestroy(KsFile& file) {
    FanOut("FLDestroy()", [&](KsFileListener& listener) { listener.FLDestroy(file); });
}

void KsMultiFileListener::FLLock(KsFile& file, int flags) {
    FanOut("FLLock()", [&](KsFileListener& listener) { listener.FLLock(file, flags); });
}

void KsMultiFileListener::FLOpen(KsFile& file) {
    FanOut("FLOpen()", [&](KsFileListener& listener) { listener.FLOpen(file); });
}

void KsMultiFileListener::FLRecordDeleted(KsFile& file, std::int32_t record) {
    FanOut("FLRecordDeleted()",
           [&](KsFileListener& listener) { listener.FLRecordDeleted(file, record); });
}

void KsMultiFileListener::FLRecordInserted(KsFile& file, std::int32_t record) {
    FanOut("FLRecordInserted()",
           [&](KsFileListener& listener) { listener.FLRecordInserted(file, record); });
}

void KsMultiFileListener::FLRecordModified(KsFile& file, std::int32_t record) {
    FanOut("FLRecordModified()",
           [&](KsFileListener& listener) { listener.FLRecordModified(file, record); });
}

void KsMultiFileListener::FLRefresh(KsFile& file) {
    FanOut("FLRefresh()", [&](KsFileListener& listener) { listener.FLRefresh(file); });
}

void KsMultiFileListener::FLUnlock(KsFile& file, int flags) {
    FanOut("FLUnlock()", [&](KsFileListener& listener) { listener.FLUnlock(file, flags); });
}

void KsMultiFileListener::FLTransactionBegun(KsFile& file) {
    FanOut("FLTransactionBegun()",
           [&](KsFileListener& listener) { listener.FLTransactionBegun(file); });
}

void KsMultiFileListener::FLTransactionEnded(KsFile& file) {
    FanOut("FLTransactionEnded()",
           [&](KsFileListener& listener) { listener.FLTransactionEnded(file); });
}

void KsMultiFileListener::FLRecordRemoved(KsFile& file, std::int32_t number,
                                          const KsFileRecord& record) {
    FanOut("FLRecordRemoved()",
           [&](KsFileListener& listener) { listener.FLRecordRemoved(file, number, record); });
}

void KsMultiFileListener::FLRecordAdded(KsFile& file, std::int32_t number,
                                        const KsFileRecord& record) {
    FanOut("FLRecordAdded()",
           [&](KsFileListener& listener) { listener.FLRecordAdded(file, number, record); });
}

void KsMultiFileListener::FLRecordChanged(KsFile& file, std::int32_t number,
                                          const KsFileRecord& oldRecord, std::int32_t newNumber,
                                          const KsFileRecord& newRecord) {
    FanOut("FLRecordChanged()", [&](KsFileListener& listener) {
        listener.FLRecordChanged(file, number, oldRecord, newNumber, newRecord);
    });
}

void KsMultiFileListener::FLRecordReplaced(KsFile& file, std::int32_t oldNumber,
                                           const KsFileRecord& oldRecord, std::int32_t newNumber,
                                           const KsFileRecord& newRecord, bool oldSelected,
                                           bool oldSecondSelected) {
    FanOut("FLRecordReplaced()", [&](KsFileListener& listener) {
        listener.FLRecordReplaced(file, oldNumber, oldRecord, newNumber, newRecord, oldSelected,
                                  oldSecondSelected);
    });
}
