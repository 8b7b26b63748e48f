#include "io/KsIOListCache.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "core/KsException.h"
#include "core/KsScopeExit.h"

namespace {

// The innermost cache the thread made; each links to the one made before it.
thread_local KsIOListCache* innermost = nullptr;

// Reads longer than this go to the file: an object that large is read once.
constexpr std::int32_t kLargestCachedRead = 4 * static_cast<std::int32_t>(KsIOListCache::kPageSize);
// The pages kept at the most (1 MB).
constexpr std::size_t kMostPages = 256;

}  // namespace

KsIOListCache::Scope::Scope(KsIOInterface& file) {
    if (Of(file) == nullptr) {
        cache_.reset(new KsIOListCache(file, innermost));
        innermost = cache_.get();
    }
}

KsIOListCache::Scope::~Scope() {
    if (!cache_) {
        return;
    }
    try {
        cache_->Flush();
    } catch (const KsException&) {
        // Its owner flushed before, where the error could be reported.
    }
    cache_->FillReserved();
    // Scopes normally end in the reverse order of their start; if not, unlink this one
    // wherever it is.
    for (KsIOListCache** link = &innermost; *link != nullptr; link = &(*link)->outer_) {
        if (*link == cache_.get()) {
            *link = cache_->outer_;
            break;
        }
    }
}

KsIOListCache* KsIOListCache::Of(const KsIOInterface& file) {
    for (KsIOListCache* cache = innermost; cache != nullptr; cache = cache->outer_) {
        if (cache->file_ == &file) {
            return cache;
        }
    }
    return nullptr;
}

KsIOListCache::Page* KsIOListCache::Load(std::uint64_t index, std::uint64_t needed) {
    auto found = pages_.find(index);
    if (found != pages_.end() && found->second.bytes.size() >= needed) {
        return &found->second;
    }
    // Not cached, or cached while the file ended inside it: read it (again).
    // A page that the known end of the file cuts short is read only up to that end, so
    // the read is not tried again past it.
    std::uint64_t wanted = kPageSize;
    if (sizeKnown_ && written_ > index * kPageSize) {
        wanted = std::min(wanted, std::max(written_ - index * kPageSize, needed));
    }
    Flush();
    Page page;
    page.bytes.resize(wanted);
    std::int32_t got = file_->ReadFrom(index * kPageSize, page.bytes.data(),
                                       static_cast<std::int32_t>(wanted), false);
    page.bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    if (page.bytes.size() < needed) {
        return nullptr;
    }
    if (pages_.size() >= kMostPages) {
        // A long walk would keep the whole file: start again with the pages it reads next.
        pages_.clear();
    }
    Page& slot = pages_[index];
    slot = std::move(page);
    return &slot;
}

void KsIOListCache::Read(std::uint64_t offset, void* buffer, std::int32_t count) {
    if (count > kLargestCachedRead) {
        Flush();
        file_->ReadFrom(offset, buffer, count, true);
        return;
    }
    auto* out = static_cast<char*>(buffer);
    std::uint64_t end = offset + static_cast<std::uint64_t>(count > 0 ? count : 0);
    for (std::uint64_t at = offset; at < end;) {
        std::uint64_t within = at % kPageSize;
        std::uint64_t n = std::min(end - at, kPageSize - within);
        Page* page = Load(at / kPageSize, within + n);
        if (page == nullptr) {
            // The file ends first: its own read raises the error a short read gives.
            file_->ReadFrom(offset, buffer, count, true);
            return;
        }
        std::memcpy(out + (at - offset), page->bytes.data() + within, n);
        at += n;
    }
}

void KsIOListCache::Patch(std::uint64_t index, std::uint64_t from, const char* data,
                          std::uint64_t n, std::uint64_t oldEnd) {
    auto found = pages_.find(index);
    if (found == pages_.end()) {
        return;
    }
    std::vector<char>& bytes = found->second.bytes;
    if (from > bytes.size() && index * kPageSize + bytes.size() < oldEnd) {
        // What lies between is the file's, and not known here.
        pages_.erase(found);
        return;
    }
    // Bytes between the page's end and the write lay past the file's end: the write left
    // zeros there.
    if (from + n > bytes.size()) {
        bytes.resize(from + n, 0);
    }
    std::memcpy(bytes.data() + from, data, n);
}

void KsIOListCache::Flush() {
    if (held_.empty()) {
        return;
    }
    std::vector<char> bytes;
    bytes.swap(held_);
    // A write that fails may have changed part of the bytes: nothing cached is trusted.
    KsScopeExit forget([&] { Forget(); });
    file_->WriteTo(heldAt_, bytes.data(), static_cast<std::int32_t>(bytes.size()));
    forget.Dismiss();
}

void KsIOListCache::Hold(std::uint64_t offset, const char* data, std::uint64_t count) {
    const std::uint64_t heldEnd = heldAt_ + held_.size();
    const std::uint64_t from = std::min(offset, heldAt_);
    const std::uint64_t to = std::max(offset + count, heldEnd);
    const bool samePage = from / kPageSize == (to - 1) / kPageSize;
    if (!held_.empty() && samePage && offset + count == heldAt_) {
        held_.insert(held_.begin(), data, data + count);
        heldAt_ = offset;
        return;
    }
    if (!held_.empty() && samePage && offset == heldEnd) {
        held_.insert(held_.end(), data, data + count);
        return;
    }
    if (!held_.empty() && samePage && (offset + count < heldAt_ || offset > heldEnd)) {
        // Apart within one page: joined by the bytes between, when the page holds them.
        const bool before = offset < heldAt_;
        const std::uint64_t gapFrom = before ? offset + count : heldEnd;
        const std::uint64_t gapTo = before ? heldAt_ : offset;
        const std::uint64_t pageStart = from - from % kPageSize;
        auto found = pages_.find(from / kPageSize);
        if (found != pages_.end() && found->second.bytes.size() >= gapTo - pageStart) {
            const char* gap = found->second.bytes.data() + (gapFrom - pageStart);
            auto at = before ? held_.begin() : held_.end();
            at = held_.insert(at, gap, gap + (gapTo - gapFrom));
            held_.insert(before ? at : held_.end(), data, data + count);
            heldAt_ = from;
            return;
        }
    }
    Flush();
    if (count < kPageSize && offset / kPageSize == (offset + count - 1) / kPageSize) {
        held_.assign(data, data + count);
        heldAt_ = offset;
        return;
    }
    KsScopeExit forget([&] { Forget(); });
    file_->WriteTo(offset, data, static_cast<std::int32_t>(count));
    forget.Dismiss();
}

void KsIOListCache::Write(std::uint64_t offset, const void* data, std::int32_t count) {
    if (count <= 0) {
        return;
    }
    // The file's end before the write, when known; a page that reached it may grow.
    const std::uint64_t oldEnd = sizeKnown_ ? written_ : UINT64_MAX;
    Hold(offset, static_cast<const char*>(data), static_cast<std::uint64_t>(count));
    const auto* in = static_cast<const char*>(data);
    std::uint64_t end = offset + static_cast<std::uint64_t>(count > 0 ? count : 0);
    for (std::uint64_t at = offset; at < end;) {
        std::uint64_t within = at % kPageSize;
        std::uint64_t n = std::min(end - at, kPageSize - within);
        Patch(at / kPageSize, within, in + (at - offset), n, oldEnd);
        at += n;
    }
    size_ = std::max(size_, end);
    written_ = std::max(written_, end);
}

std::uint64_t KsIOListCache::Size() {
    if (!sizeKnown_) {
        Flush();
        std::int64_t size = file_->GetFileSize64();
        written_ = std::max(written_, static_cast<std::uint64_t>(size > 0 ? size : 0));
        size_ = std::max(size_, written_);
        sizeKnown_ = true;
    }
    return size_;
}

void KsIOListCache::Reserve(std::uint64_t end) {
    Size();
    size_ = std::max(size_, end);
}

bool KsIOListCache::FillReserved() noexcept {
    if (!sizeKnown_ || size_ <= written_) {
        return true;
    }
    const unsigned char zero = 0;
    try {
        Flush();
        file_->WriteTo(size_ - 1, &zero, 1);
        written_ = size_;
        return true;
    } catch (const KsException&) {
        // Blocks past the file's end were never linked: the next allocator takes them again.
        return false;
    }
}

void KsIOListCache::Forget() {
    // Reserved space the file does not hold yet must not be given out twice.
    FillReserved();
    held_.clear();
    pages_.clear();
    size_ = 0;
    written_ = 0;
    sizeKnown_ = false;
}
