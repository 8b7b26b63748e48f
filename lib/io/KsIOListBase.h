#pragma once
/// @file

#include <cstdint>
#include <vector>

#include "io/KsIOInterface.h"
#include "io/KsIOListFormat.h"
#include "io/KsIOProxy.h"

/// Checks offsets and sizes read from a list file before they are trusted, and counts the
/// steps of a walk so that a cycle ends it. Its errors name the file and the offset of the
/// word that was wrong.
class KsIOListCheck {
public:
    /// Checks against `file`, which must outlive the check.
    explicit KsIOListCheck(KsIOInterface& file) : file_(&file) {}

    /// `target`, read from the word at `where`, must start a block of `size` bytes inside
    /// the file, after the header and on a block boundary.
    void Block(std::uint64_t where, std::uint64_t target, std::uint64_t size);
    /// A block size read from `where`: a nonzero multiple of 16.
    void BlockSize(std::uint64_t where, std::uint64_t size);
    /// The walk reached the word at `where` once more; a walk with more steps than the file
    /// has room for nodes runs round in a cycle.
    void Step(std::uint64_t where);
    /// The file's size, read again when `refresh` is set or nothing was read yet.
    std::uint64_t Size(bool refresh = false);
    /// Raises `List file "<name>" is damaged at offset <where>: <reason>` (KsException),
    /// the reason formatted from `format` and the arguments.
    [[gnu::format(printf, 3, 4)]] [[noreturn]] void Damaged(std::uint64_t where, const char* format,
                                                            ...);

private:
    KsIOInterface* file_;
    std::uint64_t size_ = 0;  // the size read last; the file only grows
    bool sizeKnown_ = false;
    std::uint64_t steps_ = 0;
};

/// The machinery shared by every list of a list file (layout in io/KsIOListFormat.h): the
/// block allocator with its free list, locked access to single link words, and the iterator
/// that walks a list hand over hand.
///
/// Locking protocol. Every lock covers exactly one 8-byte word; readers take LOCK_READ,
/// writers LOCK_WRITE.
/// - An iterator standing on node C holds two locks: the link word L that points at C (a
///   head word, or the word 1 of the node before C) and C's word 0. Nobody can unlink C, or
///   change what it holds, while they are held: that needs L and C's word 0 exclusively.
/// - Advancing locks C's word 1 before releasing L, reads it, locks the next node's word 0
///   and only then releases C's word 0: a lock ahead is always held before the one behind
///   goes, so the node under the iterator never changes beneath it.
/// - Inserting before C (writer on L and C's word 0): the new node is written whole and
///   locked before L is pointed at it. Dropping C: C's word 1 is locked as well (so no
///   writer standing on C's successor can change it), then L takes C's successor.
/// - Relocating C locks C's word 1 until L points at the copy.
/// - Allocate and Free hold LOCK_WRITE on the free list's head for their whole run, which
///   serialises them between processes. Nobody else touches the free list, so inside that
///   lock it is walked and changed without locks on its words (an iterator of type
///   kUnlocked), which saves four lock calls a step.
/// Why no deadlock: along a list, locks are only ever requested ahead of those already
/// held (a waiter waits for a word later in its list than every word it holds, and an
/// acyclic list has no last-to-first edge). The free-list head is requested while list
/// locks are held (an insert allocates), but whoever holds it never waits for a list word:
/// Allocate and Free touch only free blocks, which belong to no list. A file must not be
/// changed from two file objects of one process at once: their locks exclude each other
/// like other processes' locks do.
///
/// Order of writes. Every change reaches the disk so that each state in between is a
/// valid file: a block's content and links are written before the single link word that
/// makes it reachable, and a block is unlinked before it is freed or reused.
/// - Insert: the node (and a sub-list header) and the object block are allocated and
///   written whole; then the one link word that makes the node part of the list.
/// - Erase: the link word that skips the node; then the object, the sub-list and the node
///   are freed.
/// - Allocate: a block of the exact size is unlinked (one word); a larger one has its rest
///   written as a new free block after the part taken, then the link is moved to it.
/// - Free: a new free block is written whole, then linked; growing the block before the
///   freed bytes is one size word; absorbing the block after them unlinks that one first
///   and then grows the size; the block after growing backwards is written at its new
///   start, then linked.
/// - Rewrite: in place, the new bytes first, then the tail no longer needed is freed;
///   moved, the new block is written, the word referring to the object is pointed at it,
///   then the old block is freed.
/// - PrepareFile: the empty heads first, the marker last.
/// A change cut off half way may leave a block neither in use nor free, never a block in
/// two places and never a list that does not end. One aligned 8-byte word is taken to be
/// written whole.
///
/// Every offset and size read from the file is checked before it is used: a bad link, a
/// block of a bad size or a walk longer than the file has blocks raises an error naming
/// the file and the offset (KsIOListCheck). An iterator counts the nodes it reaches (by
/// advancing or dropping) since it started or last inserted; more than the file has room
/// for means a cycle. On a list damaged into a cycle, writers of several processes may
/// still wait for each other's locks; within one process the walk ends in the error.
///
/// Processes that share a list file must use a file class that caches nothing
/// (KsIOUnbuffered): a buffered file would read its own stale copy of words others change.
/// The one exception is KsIOListCache, which keeps pages only while its owner holds the
/// whole file exclusively, so that no one else can change them.
class KsIOListBase {
public:
    /// The lock type of an iterator that takes no locks, for a caller whose own lock keeps
    /// every other process out of the list; such an iterator may change the list.
    static constexpr int kUnlocked = 0;

    /// Designates one 8-byte link word of the list file through a proxy.
    class accessor_base {
    public:
        /// Designates the word at `position` of `file` (which must outlive it).
        explicit accessor_base(KsIOInterface& file, std::uint64_t position = 0)
            : proxy_(file, position) {}

        /// The word's offset in the file; 0 designates no word.
        std::uint64_t GetPosition() const { return proxy_.GetPosition(); }
        /// The list file.
        KsIOInterface& GetFile() const { return proxy_.GetTarget(); }
        /// The word's value, read from the file; read errors pass through.
        std::uint64_t Get() const;
        /// Writes `value` into the word; write errors pass through.
        void Set(std::uint64_t value);

    protected:
        /// The file and the word's offset.
        KsIOProxy proxy_;
    };

    /// An accessor that holds a lock of one type on its word (kUnlocked: it only designates
    /// the word). Moving it hands the lock over; destroying it releases the lock.
    class accessor_lock : public accessor_base {
    public:
        /// Designates no word of `file` and holds no lock.
        explicit accessor_lock(KsIOInterface& file) : accessor_base(file) {}
        /// @{
        /// Takes over the word and the lock of `other`, which is left holding none (the
        /// assignment releases this one's lock first).
        accessor_lock(accessor_lock&& other) noexcept;
        accessor_lock& operator=(accessor_lock&& other) noexcept;
        /// @}
        /// Releases the lock; a failure of that is swallowed.
        ~accessor_lock();

        /// Locks the word at `proxy`'s position + `relativeOffset` with `type`; nothing when
        /// `proxy` stands at the end (position 0) or that lock is held already. Any other
        /// lock held is released first. The file's lock errors pass through.
        void Acquire(int type, std::int64_t relativeOffset, const KsIOProxy& proxy);
        /// The same for the word at `position`.
        void AcquireAt(int type, std::uint64_t position);
        /// Gives back the lock held, if any; the file's unlock errors pass through.
        void Release();
        /// The type of the lock held: LOCK_READ, LOCK_WRITE or kUnlocked.
        int GetType() const { return type_; }
        /// Exchanges words and locks with `other`.
        void Swap(accessor_lock& other) noexcept;

    private:
        void ReleaseQuietly() noexcept;

        int type_ = 0;
    };

    /// Walks one list hand over hand (see the protocol above). It stands on a node, or at
    /// the end (position 0) after the last one; at the end it still holds the last link
    /// word, so a node can be inserted there. Move-only: it owns its locks.
    class void_iterator {
    public:
        /// An end iterator that holds nothing and is on no list; it will take locks of
        /// `lockType` (LOCK_READ, LOCK_WRITE or kUnlocked) on `file`.
        explicit void_iterator(KsIOInterface& file, int lockType = LOCK_READ);
        /// @{
        /// Takes over the position and the locks of `other`.
        void_iterator(void_iterator&& other) noexcept = default;
        void_iterator& operator=(void_iterator&& other) noexcept = default;
        /// @}

        /// Stands on the first node of the list whose pseudo-node is at `listPosition`.
        /// A damaged head word raises the KsIOListCheck error; lock and read errors pass
        /// through.
        void Start(std::uint64_t listPosition);
        /// Gives back the locks and goes to the end of no list.
        void Release();

        /// The current node, 0 at the end.
        std::uint64_t GetPosition() const { return node_.GetPosition(); }
        /// Whether the iterator stands after the last node.
        bool AtEnd() const { return GetPosition() == 0; }
        /// The link word that points at the current node.
        std::uint64_t GetLinkPosition() const { return link_.GetPosition(); }
        /// The type of the locks the iterator takes.
        int GetLockType() const { return lockType_; }
        /// The list file.
        KsIOInterface& GetFile() const { return node_.GetTarget(); }
        /// The checks of this walk, for callers that read more words of the node.
        KsIOListCheck& Check() { return check_; }
        /// Iterators are equal when they stand on the same node (all ends are equal).
        bool operator==(const void_iterator& other) const {
            return GetPosition() == other.GetPosition();
        }

        /// Stands on the next node (or the end). A damaged link, or more steps than the
        /// file has room for nodes (a cycle), raises the KsIOListCheck error.
        void_iterator& operator++();
        /// Word 0 of the current node.
        std::uint64_t GetWord0() const;
        /// @{
        /// Links `node` (its word 0 written already) before the current node and stands on
        /// it. The second form writes word 0 too, with the link in one write. Needs a
        /// writer (RequireWriter).
        void Insert(std::uint64_t node);
        void Insert(std::uint64_t node, std::uint64_t word0);
        /// @}
        /// Unlinks the current node and stands on its successor. Returns the node dropped,
        /// which the caller frees. Needs a writer.
        std::uint64_t Drop();
        /// Copies the current node's two words to `offset` and stands on the copy; the link
        /// word still points at the original until Relocate or GraftAfter.
        void MoveTo(std::uint64_t offset);
        /// @{
        /// Moves the current node to `offset` and points the link word at it. The second
        /// form gives the moved node a new word 0 in the same write. Needs a writer.
        void Relocate(std::uint64_t offset);
        void Relocate(std::uint64_t offset, std::uint64_t word0);
        /// @}
        /// Inserts the current node (not linked anywhere) where `link` points: the node's
        /// word 1 takes the link's value and the link takes the node. `link` must hold
        /// the iterator's lock type; it keeps its lock, and the iterator locks it too as its
        /// new link.
        void GraftAfter(accessor_lock& link);

        /// Raises unless the iterator may change the list: a writer on a list. `action`
        /// completes "Cannot %s through an iterator that ..." (KsException).
        void RequireWriter(const char* action) const;

    private:
        // Release while another error is on its way out.
        void Abandon() noexcept;
        // Reads the link word `where` and checks it as a link to a node.
        std::uint64_t ReadLink(std::uint64_t where);
        // Stands on `node`, whose word 0 is locked by `nodeLock`.
        void StandOn(std::uint64_t node, accessor_lock& nodeLock);
        void CopyNode(std::uint64_t offset, const std::uint64_t* word0, bool relink);

        KsIOProxy node_;
        accessor_lock link_;      // the link word that points at the current node
        accessor_lock nodeLock_;  // word 0 of the current node
        int lockType_;
        KsIOListCheck check_;
    };

    /// The list whose pseudo-node is at `position` of `file`; the file must outlive it.
    KsIOListBase(KsIOInterface& file, std::uint64_t position) : file_(&file), position_(position) {}
    virtual ~KsIOListBase() = default;

    /// The list file.
    KsIOInterface& GetFile() const { return *file_; }
    /// The list's pseudo-node: its head word is 8 bytes further.
    std::uint64_t GetPosition() const { return position_; }

    /// A block of `size` bytes (a multiple of 16): the first free block large enough, or new
    /// space at the end of the file. The rest of a larger free block stays free in place.
    std::uint64_t Allocate(std::uint64_t size);
    /// New space of `size` bytes at the end of the file, read as zero.
    std::uint64_t AllocateFromEnd(std::uint64_t size);
    /// Gives back `size` bytes at `offset`, merged with the free blocks that touch them.
    /// The file never shrinks. Freeing bytes that are free already, or that are not in the
    /// file's blocks, is refused.
    void Free(std::uint64_t offset, std::uint64_t size);
    /// Stores an object of `n` bytes in a new block and returns the block.
    std::uint64_t AppendSerializedObject(const void* data, std::uint32_t n);
    /// Replaces the object in the block at `offset` with `n` new bytes and returns the
    /// block that now holds it: the same one when it fits (a tail no longer needed is
    /// freed), else a new one, after which the old one is freed. When the object moves
    /// and `referrer` is not 0, the word at `referrer` is pointed at the new block before the
    /// old one is freed, so the file never refers to a free block.
    std::uint64_t RewriteSerializedObject(std::uint64_t offset, const void* data, std::uint32_t n,
                                          std::uint64_t referrer = 0);
    /// The checked size of the object block at `offset`, reached through the word at `where`.
    std::uint32_t ReadObjectBlockSize(KsIOListCheck& check, std::uint64_t where,
                                      std::uint64_t offset) const;

protected:
    /// Blocks taken for something that is not linked yet. Unless dismissed (once they are
    /// linked, or may be), they are freed again when it goes; a failure of that leaves them
    /// lost, never in two places.
    class PendingBlocks {
    public:
        /// Blocks of `list`'s file, freed through `list`.
        explicit PendingBlocks(KsIOListBase& list) : list_(list) {}
        PendingBlocks(const PendingBlocks&) = delete;
        PendingBlocks& operator=(const PendingBlocks&) = delete;
        /// Frees the blocks not dismissed; errors of that are swallowed.
        ~PendingBlocks();

        /// Records the block of `size` bytes at `offset`.
        void Add(std::uint64_t offset, std::uint64_t size) { blocks_.push_back({offset, size}); }
        /// Forgets every block recorded: they stay allocated.
        void Dismiss() { blocks_.clear(); }

    private:
        struct Block {
            std::uint64_t offset;
            std::uint64_t size;
        };
        KsIOListBase& list_;
        std::vector<Block> blocks_;
    };

    /// An iterator standing on the first node of this list.
    void_iterator Begin(int lockType) const;
    /// An iterator standing on the node after `node` (or at the end after it). `node` must
    /// be a node of this list that nobody can unlink meanwhile: the walk starts from its
    /// link word as from a head word.
    void_iterator After(std::uint64_t node, int lockType) const;

private:
    /// Walks the free list to the first block that ends at or after `offset` (checking the
    /// order of the blocks); returns its size, or 0 at the end.
    std::uint64_t FindFreeBlockEndingFrom(void_iterator& it, std::uint64_t offset);
    /// The checked size of the free block the iterator stands on; `previousEnd` is where the
    /// block before it ended, and becomes where this one ends.
    std::uint64_t FreeBlockSize(void_iterator& it, std::uint64_t& previousEnd);
    /// Free's case of a free block that ends exactly at `offset`: it grows over the freed
    /// bytes and, when they reach the next free block, over that one too.
    void GrowFreeBlock(void_iterator& it, std::uint64_t blockSize, std::uint64_t offset,
                       std::uint64_t size);
    void CheckFreedRange(KsIOListCheck& check, std::uint64_t offset, std::uint64_t size) const;
    /// Writes the block size and the object's bytes at `offset`.
    void WriteObject(std::uint64_t offset, std::uint64_t blockSize, const void* data,
                     std::uint32_t n);

    KsIOInterface* file_;
    std::uint64_t position_;
};
