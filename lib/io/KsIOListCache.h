#pragma once
/// @file

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "io/KsIOInterface.h"

/// A memory copy of the pages of a list file that a walk reads, kept while the caller holds
/// the whole file exclusively: then no other process can change it, and every change of
/// this one goes through the list classes, which write through the cache (KsIOListWords).
/// A walk then costs one read of the file a page instead of two reads a node.
///
///     KsIOLockGuard whole(file, LOCK_WRITE, 0, 0);
///     KsIOListCache::Scope cache(file);   // goes before the lock does
///     ... walk and change lists of `file` ...
///
/// Scopes belong to the thread that makes them; a scope of a file cached already by an
/// outer scope of the thread shares that cache. A write reaches the file before anything
/// is read from it, and the cache at once; a failed write empties the cache.
///
/// A write is held back while the next one falls within the same page, before or after it:
/// the two then take one call (with the bytes between them from the cached page when they
/// are apart) and still reach the file whole or in order, since a killed process cuts a
/// write only between pages. The write held is made before the file is read, at Flush, and
/// at the latest when the scope ends (where a failure can no longer be reported: the owner
/// calls Flush before).
///
/// Space taken at the end of the file (Reserve) only moves the size the allocator sees: no
/// other allocator can look meanwhile, and the blocks are normally written whole before
/// the scope ends. Whatever is still short of that size then is filled out with one byte,
/// so that the file ends on a block boundary.
class KsIOListCache {
public:
    /// Caches `file` for the calling thread until it goes (see the class notes).
    class Scope {
    public:
        explicit Scope(KsIOInterface& file);
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;
        ~Scope();

    private:
        std::unique_ptr<KsIOListCache> cache_;  // null when an outer scope caches the file
    };

    /// The cache of `file` in the calling thread, or null.
    static KsIOListCache* Of(const KsIOInterface& file);

    /// Reads `count` bytes at `offset` as the file's ReadFrom with `required` set would.
    void Read(std::uint64_t offset, void* buffer, std::int32_t count);
    /// Writes `count` bytes at `offset` to the file, then to the cached pages.
    void Write(std::uint64_t offset, const void* data, std::int32_t count);
    /// The file's size, space reserved included.
    std::uint64_t Size();
    /// Takes the space up to `end` for the caller (see the class notes).
    void Reserve(std::uint64_t end);
    /// Forgets every page and the size (after the file was cut or a write failed).
    void Forget();
    /// Makes the write held back, if any; the file's write errors pass through.
    void Flush();

    /// The bytes of a cached page.
    static constexpr std::uint64_t kPageSize = 4096;

private:
    struct Page {
        std::vector<char> bytes;  // the page's bytes up to the file's end when it was read
    };

    KsIOListCache(KsIOInterface& file, KsIOListCache* outer) : file_(&file), outer_(outer) {}
    // The page `index` holding the bytes up to `needed` within it; null when the file ends
    // before them.
    Page* Load(std::uint64_t index, std::uint64_t needed);
    // Puts written bytes into the cached page `index` (they start `from` bytes into it);
    // `oldEnd` is the file's size before the write (UINT64_MAX when not known).
    void Patch(std::uint64_t index, std::uint64_t from, const char* data, std::uint64_t n,
               std::uint64_t oldEnd);

    // Holds the write back, or adds it to the one held, or makes it (see the class notes).
    void Hold(std::uint64_t offset, const char* data, std::uint64_t count);
    // Writes a byte at the end of space reserved and not written yet; false when it fails.
    bool FillReserved() noexcept;

    KsIOInterface* file_;
    KsIOListCache* outer_;    // the cache of another file this thread made before
    std::vector<char> held_;  // a write not made yet, at heldAt_
    std::uint64_t heldAt_ = 0;
    std::unordered_map<std::uint64_t, Page> pages_;
    std::uint64_t size_ = 0;     // the file's bytes and the space reserved after them
    std::uint64_t written_ = 0;  // the file's bytes, the write held included
    bool sizeKnown_ = false;
};
