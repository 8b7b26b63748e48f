// The link-word accessors, the hand-over-hand iterator and the checks of what a list file
// says. The allocator is in KsIOListAllocator.cpp.

#include "io/KsIOListBase.h"

#include <cstdarg>
#include <utility>

#include "core/KsByteOrder.h"
#include "core/KsCallpath.h"
#include "core/KsScopeExit.h"
#include "io/KsIOListWords.h"

namespace {

constexpr const char* kClass = "KsIOListBase";
constexpr const char* kLockClass = "KsIOListBase::accessor_lock";
constexpr const char* kIteratorClass = "KsIOListBase::void_iterator";

using namespace KsIOListFormat;

}  // namespace

// ---- checks ----

std::uint64_t KsIOListCheck::Size(bool refresh) {
    if (refresh || !sizeKnown_) {
        size_ = KsIOListWords::Size(*file_);
        sizeKnown_ = true;
    }
    return size_;
}

void KsIOListCheck::Damaged(std::uint64_t where, const char* format, ...) {
    KsString reason;
    va_list args;
    va_start(args, format);
    reason.vprintf(format, args);
    va_end(args);
    KsException::Generate("List file \"%s\" is damaged at offset %llu: %s", kClass,
                          file_->GetFileName(), static_cast<unsigned long long>(where),
                          reason.GetCString());
}

void KsIOListCheck::Block(std::uint64_t where, std::uint64_t target, std::uint64_t size) {
    using ull = unsigned long long;
    if (target < kSmallestBlockOffset) {
        Damaged(where, "the link points to %llu, inside the header", static_cast<ull>(target));
    }
    std::uint64_t end = 0;
    if (__builtin_add_overflow(target, size, &end) || (end > Size() && end > Size(true))) {
        Damaged(where,
                "the link points to a block of %llu bytes at %llu, beyond the end of the "
                "file (%llu bytes)",
                static_cast<ull>(size), static_cast<ull>(target), static_cast<ull>(size_));
    }
    // Blocks are whole granules laid end to end from the header, like the file itself.
    if (target % kGranule != size_ % kGranule) {
        Damaged(where, "the link points to %llu, which is not on a block boundary",
                static_cast<ull>(target));
    }
}

void KsIOListCheck::BlockSize(std::uint64_t where, std::uint64_t size) {
    if (size == 0 || size % kGranule != 0) {
        Damaged(where, "a block size of %llu is not a positive multiple of %d",
                static_cast<unsigned long long>(size), static_cast<int>(kGranule));
    }
}

void KsIOListCheck::Step(std::uint64_t where) {
    ++steps_;
    auto nodesThatFit = [](std::uint64_t size) {
        return size > kSmallestBlockOffset ? (size - kSmallestBlockOffset) / kGranule : 0;
    };
    if (steps_ > nodesThatFit(Size()) && steps_ > nodesThatFit(Size(true))) {
        Damaged(where, "the list runs round in a cycle");
    }
}

// ---- accessors ----

std::uint64_t KsIOListBase::accessor_base::Get() const {
    return KsIOListWords::Read(GetFile(), GetPosition());
}

void KsIOListBase::accessor_base::Set(std::uint64_t value) {
    KsIOListWords::Write(GetFile(), GetPosition(), value);
}

KsIOListBase::accessor_lock::accessor_lock(accessor_lock&& other) noexcept
    : accessor_base(other.GetFile(), other.GetPosition()), type_(other.type_) {
    other.type_ = kUnlocked;
    other.proxy_.SetPosition(0);
}

KsIOListBase::accessor_lock& KsIOListBase::accessor_lock::operator=(
    accessor_lock&& other) noexcept {
    if (this != &other) {
        ReleaseQuietly();
        proxy_ = other.proxy_;
        other.proxy_.SetPosition(0);
        type_ = std::exchange(other.type_, kUnlocked);
    }
    return *this;
}

KsIOListBase::accessor_lock::~accessor_lock() {
    ReleaseQuietly();
}

void KsIOListBase::accessor_lock::Acquire(int type, std::int64_t relativeOffset,
                                          const KsIOProxy& proxy) {
    if (proxy.GetPosition() != 0) {
        AcquireAt(type, proxy.GetPosition() + static_cast<std::uint64_t>(relativeOffset));
    }
}

void KsIOListBase::accessor_lock::AcquireAt(int type, std::uint64_t position) {
    KsCallpath("Acquire()", kLockClass, [&] {
        if (type != LOCK_READ && type != LOCK_WRITE && type != kUnlocked) {
            KsException::Generate("Unknown lock type %d", kLockClass, type);
        }
        if (type_ == type && GetPosition() == position) {
            return;
        }
        Release();
        if (type != kUnlocked) {
            GetFile().Lock(type, position, kWordSize);
        }
        proxy_.SetPosition(position);
        type_ = type;
    });
}

void KsIOListBase::accessor_lock::Release() {
    KsCallpath("Release()", kLockClass, [&] {
        int type = std::exchange(type_, kUnlocked);
        std::uint64_t position = GetPosition();
        // Set in place: a new proxy costs more than the rest of a release.
        proxy_.SetPosition(0);
        if (type != kUnlocked) {
            GetFile().UnLock(type, position, kWordSize);
        }
    });
}

void KsIOListBase::accessor_lock::ReleaseQuietly() noexcept {
    try {
        Release();
    } catch (const KsException&) {
        // Nowhere to report it; the lock goes with the file's descriptor at the latest.
    }
}

void KsIOListBase::accessor_lock::Swap(accessor_lock& other) noexcept {
    proxy_.Swap(other.proxy_);
    std::swap(type_, other.type_);
}

// ---- iterator ----

KsIOListBase::void_iterator KsIOListBase::Begin(int lockType) const {
    void_iterator it(*file_, lockType);
    it.Start(position_);
    return it;
}

KsIOListBase::void_iterator KsIOListBase::After(std::uint64_t node, int lockType) const {
    void_iterator it(*file_, lockType);
    // A node's word 1 lies where a pseudo-node's head word does.
    it.Start(node);
    return it;
}

KsIOListBase::void_iterator::void_iterator(KsIOInterface& file, int lockType)
    : node_(file), link_(file), nodeLock_(file), lockType_(lockType), check_(file) {}

void KsIOListBase::void_iterator::Start(std::uint64_t listPosition) {
    KsCallpath("Start()", kIteratorClass, [&] {
        Release();
        std::uint64_t head = listPosition + kWordSize;
        if (head + kWordSize > check_.Size() && head + kWordSize > check_.Size(true)) {
            check_.Damaged(head, "the list's head word lies beyond the end of the file");
        }
        link_.AcquireAt(lockType_, head);
        KsScopeExit abandon([&] { Abandon(); });
        std::uint64_t first = ReadLink(head);
        accessor_lock firstLock(GetFile());
        if (first != 0) {
            firstLock.AcquireAt(lockType_, first);
        }
        StandOn(first, firstLock);
        abandon.Dismiss();
    });
}

void KsIOListBase::void_iterator::Release() {
    node_.SetPosition(0);
    accessor_lock link(std::move(link_));
    accessor_lock node(std::move(nodeLock_));
    link.Release();
    node.Release();
}

void KsIOListBase::void_iterator::Abandon() noexcept {
    try {
        Release();
    } catch (const KsException&) {
        // The error that made the iterator give up is on its way out already.
    }
}

std::uint64_t KsIOListBase::void_iterator::ReadLink(std::uint64_t where) {
    std::uint64_t target = KsIOListWords::Read(GetFile(), where);
    if (target != 0) {
        check_.Block(where, target, kGranule);
        check_.Step(where);
    }
    return target;
}

void KsIOListBase::void_iterator::StandOn(std::uint64_t node, accessor_lock& nodeLock) {
    node_.SetPosition(node);
    nodeLock_.Swap(nodeLock);
    nodeLock.Release();  // the lock of the node left behind
}

KsIOListBase::void_iterator& KsIOListBase::void_iterator::operator++() {
    KsCallpath("operator++", kIteratorClass, [&] {
        if (AtEnd()) {
            KsException::Generate("Cannot advance the end() iterator", kIteratorClass);
        }
        KsScopeExit abandon([&] { Abandon(); });
        // Hand over hand: the word ahead is held before the one behind is released.
        accessor_lock next(GetFile());
        next.Acquire(lockType_, kWordSize, node_);
        link_.Swap(next);
        next.Release();
        std::uint64_t target = ReadLink(link_.GetPosition());
        accessor_lock targetLock(GetFile());
        if (target != 0) {
            targetLock.AcquireAt(lockType_, target);
        }
        StandOn(target, targetLock);
        abandon.Dismiss();
    });
    return *this;
}

std::uint64_t KsIOListBase::void_iterator::GetWord0() const {
    return KsIOListWords::Read(GetFile(), GetPosition());
}

void KsIOListBase::void_iterator::RequireWriter(const char* action) const {
    if (GetLinkPosition() == 0) {
        KsException::Generate("Cannot %s through an iterator that is on no list", kIteratorClass,
                              action);
    }
    if (lockType_ == LOCK_READ) {
        KsException::Generate("Cannot %s through an iterator that only reads", kIteratorClass,
                              action);
    }
}

void KsIOListBase::void_iterator::Insert(std::uint64_t node) {
    KsCallpath("Insert()", kIteratorClass, [&] {
        RequireWriter("insert");
        accessor_lock nodeLock(GetFile());
        nodeLock.AcquireAt(lockType_, node);
        KsIOListWords::Write(GetFile(), node + kWordSize, GetPosition());
        link_.Set(node);  // the node is complete: now it can be reached
        StandOn(node, nodeLock);
        check_ = KsIOListCheck(GetFile());
    });
}

void KsIOListBase::void_iterator::Insert(std::uint64_t node, std::uint64_t word0) {
    KsCallpath("Insert()", kIteratorClass, [&] {
        RequireWriter("insert");
        accessor_lock nodeLock(GetFile());
        nodeLock.AcquireAt(lockType_, node);
        KsIOListWords::WritePair(GetFile(), node, word0, GetPosition());
        link_.Set(node);
        StandOn(node, nodeLock);
        check_ = KsIOListCheck(GetFile());
    });
}

std::uint64_t KsIOListBase::void_iterator::Drop() {
    return KsCallpath("Drop()", kIteratorClass, [&] {
        if (AtEnd()) {
            KsException::Generate("Cannot drop the end() iterator", kIteratorClass);
        }
        RequireWriter("drop a node");
        std::uint64_t dropped = GetPosition();
        // Word 1 too, so that no writer standing on the successor changes it meanwhile.
        accessor_lock tail(GetFile());
        tail.Acquire(lockType_, kWordSize, node_);
        std::uint64_t next = ReadLink(dropped + kWordSize);
        accessor_lock nextLock(GetFile());
        if (next != 0) {
            nextLock.AcquireAt(lockType_, next);
        }
        link_.Set(next);
        StandOn(next, nextLock);
        return dropped;
    });
}

void KsIOListBase::void_iterator::CopyNode(std::uint64_t offset, const std::uint64_t* word0,
                                           bool relink) {
    if (AtEnd()) {
        KsException::Generate("Cannot move the end() iterator", kIteratorClass);
    }
    RequireWriter("move a node");
    std::uint64_t node = GetPosition();
    // Word 1 stays locked until the copy is linked, so no insert after the node is lost.
    accessor_lock tail(GetFile());
    tail.Acquire(lockType_, kWordSize, node_);
    std::uint64_t first = word0 ? *word0 : GetWord0();
    std::uint64_t second = KsIOListWords::Read(GetFile(), node + kWordSize);
    accessor_lock copyLock(GetFile());
    copyLock.AcquireAt(lockType_, offset);
    KsIOListWords::WritePair(GetFile(), offset, first, second);
    if (relink) {
        link_.Set(offset);
    }
    StandOn(offset, copyLock);
}

void KsIOListBase::void_iterator::MoveTo(std::uint64_t offset) {
    KsCallpath("MoveTo()", kIteratorClass, [&] { CopyNode(offset, nullptr, false); });
}

void KsIOListBase::void_iterator::Relocate(std::uint64_t offset) {
    KsCallpath("Relocate()", kIteratorClass, [&] { CopyNode(offset, nullptr, true); });
}

void KsIOListBase::void_iterator::Relocate(std::uint64_t offset, std::uint64_t word0) {
    KsCallpath("Relocate()", kIteratorClass, [&] { CopyNode(offset, &word0, true); });
}

void KsIOListBase::void_iterator::GraftAfter(accessor_lock& link) {
    KsCallpath("GraftAfter()", kIteratorClass, [&] {
        if (AtEnd()) {
            KsException::Generate("Cannot graft the end() iterator", kIteratorClass);
        }
        RequireWriter("graft a node");
        if (link.GetType() != lockType_) {
            KsException::Generate(
                "Cannot graft a node after a link word that is not locked "
                "for writing",
                kIteratorClass);
        }
        std::uint64_t node = GetPosition();
        std::uint64_t next = link.Get();
        if (next != 0) {
            check_.Block(link.GetPosition(), next, kGranule);
        }
        accessor_lock newLink(GetFile());
        newLink.AcquireAt(lockType_, link.GetPosition());
        KsIOListWords::Write(GetFile(), node + kWordSize, next);
        link.Set(node);
        link_.Swap(newLink);
        newLink.Release();
    });
}
