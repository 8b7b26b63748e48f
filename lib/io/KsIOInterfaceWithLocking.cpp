#include "io/KsIOInterfaceWithLocking.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <string>

#include "core/KsCallpath.h"
#include "core/KsScopeExit.h"
#include "platform/KsPosixFile.h"

namespace {

constexpr const char* kClass = "KsIOInterfaceWithLocking";
constexpr std::uint64_t kEndOfAnyFile = std::numeric_limits<std::uint64_t>::max();

// First byte after the range; kEndOfAnyFile for a length of 0 or a range that would wrap.
std::uint64_t EndOf(const KsIOLock& lock) {
    std::uint64_t offset = lock.GetOffset();
    std::uint64_t length = lock.GetLength();
    return length == 0 || length > kEndOfAnyFile - offset ? kEndOfAnyFile : offset + length;
}

const char* TypeWord(int type) {
    return type == LOCK_WRITE ? "WRITE" : "READ";
}

// KsException keeps its message setter for its own family; an error in flight is given a
// new message through it, keeping its type and call path.
struct MessageRewriter : KsException {
    static void Rewrite(KsException& error, const std::string& message) {
        (error.*&MessageRewriter::SetMessage)(message.c_str());
    }
};

}  // namespace

bool KsIOInterfaceWithLocking::RangeLess::operator()(const KsIOLock* a, const KsIOLock* b) const {
    if (a->GetOffset() != b->GetOffset()) {
        return a->GetOffset() < b->GetOffset();
    }
    return a->GetLength() < b->GetLength();
}

bool KsIOInterfaceWithLocking::SameRange::operator()(const KsIOLock* a, const KsIOLock* b) const {
    return a->GetOffset() == b->GetOffset() && a->GetLength() == b->GetLength();
}

KsIOInterfaceWithLocking::KsIOInterfaceWithLocking(const KsIOInterfaceWithLocking& other)
    : KsIOInterface(other) {}

KsIOInterfaceWithLocking& KsIOInterfaceWithLocking::operator=(const KsIOInterfaceWithLocking&) {
    return *this;
}

KsIOInterfaceWithLocking::~KsIOInterfaceWithLocking() {
    ReleaseLocks();
}

void KsIOInterfaceWithLocking::SetupBaseLock() {
    baseLock_ = CreateLock(LOCK_READ, 0, 0);
}

std::int64_t KsIOInterfaceWithLocking::SystemWrite(int fd, const void* buffer, std::size_t count,
                                                   std::int64_t offset, int& errorNumber) {
    return offset < 0 ? KsPosix::WriteFully(fd, buffer, count, errorNumber)
                      : KsPosix::WriteFullyAt(fd, buffer, count, offset, errorNumber);
}

std::int64_t KsIOInterfaceWithLocking::SystemWriteAt(int fd, const void* buffer, std::size_t count,
                                                     std::int64_t offset, int& errorNumber) {
    return KsPosix::WriteFullyAt(fd, buffer, count, offset, errorNumber);
}

int KsIOInterfaceWithLocking::SystemSetSize(int fd, std::int64_t size) {
    return KsPosix::SetSize(fd, size);
}

int KsIOInterfaceWithLocking::SystemSync(int fd) {
    return KsPosix::SyncData(fd);
}

int KsIOInterfaceWithLocking::SystemClose(int fd) {
    return KsPosix::CloseFile(fd);
}

void KsIOInterfaceWithLocking::ReleaseLocks() noexcept {
    std::lock_guard<std::mutex> hold(guard_);
    baseLock_.reset();
    // Each entry's destructor gives back its operating-system lock.
    locks_.clear();
}

template <class Body>
decltype(auto) KsIOInterfaceWithLocking::RunLocked(const char* function, Body body) {
    return KsCallpath(function, kClass, [&]() -> decltype(auto) {
        try {
            std::lock_guard<std::mutex> hold(guard_);
            return body();
        } catch (KsException& error) {
            MessageRewriter::Rewrite(
                error, std::string(error.GetErrorMessage()) + " (" + GetFileName() + ")");
            throw;
        }
    });
}

void KsIOInterfaceWithLocking::Lock(int type, std::uint64_t offset, std::uint64_t length) {
    RunLocked("Lock()", [&] {
        KsIOLock& entry = FindOrAddEntry(type, offset, length);
        if (entry.GetCount() > 0) {
            entry.Lock();
        } else {
            Acquire(entry, true);
        }
    });
}

bool KsIOInterfaceWithLocking::TryLock(int type, std::uint64_t offset, std::uint64_t length) {
    return RunLocked("TryLock()", [&] {
        KsIOLock& entry = FindOrAddEntry(type, offset, length);
        // A failed try leaves its entry in the table, not held.
        return entry.GetCount() > 0 ? entry.TryLock() : Acquire(entry, false);
    });
}

bool KsIOInterfaceWithLocking::UnLock(int type, std::uint64_t offset, std::uint64_t length) {
    return RunLocked("UnLock()", [&] {
        std::int32_t index = FindEntry(type, offset, length);
        if (index < 0) {
            return true;
        }
        KsIOLock& entry = *locks_[index];
        if (entry.GetCount() == 1) {
            Release(entry);
        } else {
            entry.Unlock();
        }
        if (entry.GetCount() != 0) {
            return false;
        }
        locks_.DeleteAt(index);
        return true;
    });
}

std::int32_t KsIOInterfaceWithLocking::GetLockEntryCount() const {
    std::lock_guard<std::mutex> hold(guard_);
    return static_cast<std::int32_t>(locks_.size());
}

std::int32_t KsIOInterfaceWithLocking::GetLockCount(std::uint64_t offset,
                                                    std::uint64_t length) const {
    std::lock_guard<std::mutex> hold(guard_);
    for (const KsIOLock* entry : locks_) {
        if (entry->GetOffset() == offset && entry->GetLength() == length) {
            return entry->GetCount();
        }
    }
    return -1;
}

std::int32_t KsIOInterfaceWithLocking::FindEntry(int type, std::uint64_t offset,
                                                 std::uint64_t length) {
    if (!baseLock_) {
        KsException::Generate("Base lock not setup", kClass);
    }
    // The base lock serves as the search key.
    baseLock_->Reset(type, offset, length);
    return locks_.Find(baseLock_.get());
}

KsIOLock& KsIOInterfaceWithLocking::FindOrAddEntry(int type, std::uint64_t offset,
                                                   std::uint64_t length) {
    std::int32_t index = FindEntry(type, offset, length);
    if (index >= 0) {
        KsIOLock& entry = *locks_[index];
        if (entry.GetType() != type) {
            if (entry.GetCount() > 0) {
                KsException::Generate(
                    "Could not establish a %s lock of length %llu at offset %llu; %s lock already "
                    "held!",
                    kClass, TypeWord(type), static_cast<unsigned long long>(length),
                    static_cast<unsigned long long>(offset), TypeWord(entry.GetType()));
            }
            // An entry left by a failed try holds nothing; it takes the new type.
            entry.type_ = type;
        }
        return entry;
    }
    if (locks_.size() == locks_.capacity()) {
        locks_.reserve(locks_.empty() ? 256 : 2 * locks_.size());
    }
    index = locks_.InsertElement(baseLock_->Clone());
    return *locks_[index];
}

std::vector<KsIOInterfaceWithLocking::Segment> KsIOInterfaceWithLocking::SegmentsOf(
    const KsIOLock& entry) const {
    std::uint64_t begin = entry.GetOffset();
    std::uint64_t end = EndOf(entry);
    std::vector<const KsIOLock*> others;
    std::vector<std::uint64_t> cuts{begin, end};
    for (const KsIOLock* other : locks_) {
        if (other == &entry || other->GetCount() == 0) {
            continue;
        }
        std::uint64_t otherBegin = other->GetOffset();
        std::uint64_t otherEnd = EndOf(*other);
        if (otherBegin < end && begin < otherEnd) {
            others.push_back(other);
            cuts.push_back(std::clamp(otherBegin, begin, end));
            cuts.push_back(std::clamp(otherEnd, begin, end));
        }
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    std::vector<Segment> segments;
    for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
        Segment segment{cuts[i], cuts[i + 1], Cover::kNone};
        for (const KsIOLock* other : others) {
            if (other->GetOffset() <= segment.begin && segment.end <= EndOf(*other)) {
                Cover cover = other->IsExclusive() ? Cover::kExclusive : Cover::kShared;
                segment.cover = std::max(segment.cover, cover);
            }
        }
        segments.push_back(segment);
    }
    return segments;
}

std::unique_ptr<KsIOLock> KsIOInterfaceWithLocking::PartOf(int type, const Segment& segment) {
    std::uint64_t length = segment.end == kEndOfAnyFile ? 0 : segment.end - segment.begin;
    return CreateLock(type, segment.begin, length);
}

bool KsIOInterfaceWithLocking::Acquire(KsIOLock& entry, bool wait) {
    std::vector<Segment> segments = SegmentsOf(entry);
    bool overlapped = std::any_of(segments.begin(), segments.end(),
                                  [](const Segment& s) { return s.cover != Cover::kNone; });
    if (!overlapped) {
        if (!wait) {
            return entry.TryLock();
        }
        entry.Lock();
        return true;
    }
    // Lock only the parts that other entries do not already hold strongly enough.
    std::vector<Segment> taken;
    KsScopeExit undoOnError([&] { RestoreAfterError(taken); });
    for (const Segment& segment : segments) {
        bool needed = entry.IsExclusive() ? segment.cover != Cover::kExclusive
                                          : segment.cover == Cover::kNone;
        if (!needed) {
            continue;
        }
        std::unique_ptr<KsIOLock> part = PartOf(entry.GetType(), segment);
        if (wait) {
            part->DoLock();
        } else if (!part->DoTryLock()) {
            undoOnError.Dismiss();
            Restore(taken);
            return false;
        }
        taken.push_back(segment);
    }
    undoOnError.Dismiss();
    entry.count_ = 1;
    return true;
}

void KsIOInterfaceWithLocking::RestoreAfterError(const std::vector<Segment>& segments) noexcept {
    try {
        Restore(segments);
    } catch (const KsException&) {
        // The error that made us undo is the one to report; the descriptor's close gives
        // back whatever could not be restored here.
    }
}

void KsIOInterfaceWithLocking::Release(KsIOLock& entry) {
    std::vector<Segment> segments = SegmentsOf(entry);
    bool overlapped = std::any_of(segments.begin(), segments.end(),
                                  [](const Segment& s) { return s.cover != Cover::kNone; });
    if (!overlapped) {
        entry.Unlock();
        return;
    }
    if (entry.IsExclusive()) {
        Restore(segments);
    } else {
        // A shared entry changes nothing where another entry holds the bytes too.
        std::vector<Segment> alone;
        std::copy_if(segments.begin(), segments.end(), std::back_inserter(alone),
                     [](const Segment& s) { return s.cover == Cover::kNone; });
        Restore(alone);
    }
    entry.count_ = 0;
}

void KsIOInterfaceWithLocking::Restore(const std::vector<Segment>& segments) {
    for (const Segment& segment : segments) {
        switch (segment.cover) {
            case Cover::kNone:
                PartOf(LOCK_READ, segment)->DoUnlock();
                break;
            case Cover::kShared:
                // Turning our own exclusive lock into a shared one never waits.
                PartOf(LOCK_READ, segment)->DoLock();
                break;
            case Cover::kExclusive:
                break;
        }
    }
}
