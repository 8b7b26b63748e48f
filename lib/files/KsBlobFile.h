#pragma once
/// @file
/// The blob file of a table (extension ".ksb"): variable-length byte strings ("blobs") that
/// the blob fields of the table refer to by number.
///
/// Layout; every integer is 32-bit signed little-endian, offsets count from the file's start:
///   0        D: offset of the descriptor table, 4 when there is no data
///   4        data area up to D: the blobs' bytes and the free extents between them
///   D        head of the free list: a descriptor number, or -1
///   D + 4    head of the unused list: a descriptor number, or -1
///   D + 8    N: number of descriptors
///   D + 12   N descriptor records of 16 bytes, number 1 first: link, offset, length, space
/// A file of 0 bytes is an empty blob file. Bytes after the last record are not part of it.
///
/// Descriptor states (link, offset, length, space):
///   allocated on disk     reference count, >= 4, >= 0, extent size
///   allocated in memory   reference count, -1, >= 0, size of the owned KsBlob (never stored)
///   free extent           next free descriptor or -1, >= 4, -1, extent size
///   unused                next unused descriptor or -1, -1, -1, -1
/// The free list runs in ascending offset, its extents never touch and none reaches D. The
/// unused list runs in ascending number, and descriptor N is never unused. A descriptor that
/// holds a blob is on neither list.
///
/// What this class adds to reading and freeing, and why:
/// - AddBlob and RewriteBlob keep the new bytes in memory (the in-memory state), so that a
///   blob added and dropped again within a session costs no I/O. They are stored before the
///   next change once more than the memory blob limit (1 MiB unless set) waits, and before
///   the table is written; a change that fails thus leaves nothing half done.
///   Storing takes the front of the first free extent that is large enough (first fit, in
///   offset order), else space at the end of the data area. An empty blob takes no space (it
///   points at offset 4), and freeing it gives no free extent. New blobs take the lowest
///   unused descriptor number, else a new one.
/// - A reference count that falls below 1 frees its blob at once, unless freeing is delayed
///   (a transaction may still restore the reference); ClearDelayedFree and Close free those.
///   For the same reason WriteDescriptors frees no unreferenced blob while freeing is delayed.
/// - Freeing a descriptor that holds no blob is refused ("BLOB %ld is not in use."): it would
///   link the descriptor into a list twice. A number outside 1..N raises
///   KsBlobNumberOutOfRange, which is both a KsException and a std::out_of_range.
/// - Closing is safe against a failure half-way (disk full, a crash): the state on disk (the
///   header word, the table it points to and the blobs that table uses) is never written over
///   while it is current. Free space that it still uses (blobs freed since it was written, its
///   own table) is not reused, and appends go after its end. Close stores the new blobs in
///   such space, writes the new table where nothing of the old state lies, flushes, and only
///   then switches the header word at offset 0 (one 4-byte write, which the disk does whole)
///   and cuts the file. When the new table's place would cover part of the old state (the
///   data area shrank), the table is first written after the old state's end and switched
///   to, then written at its place and switched again. An interrupted close thus leaves the
///   old or the new state. Interrupted between the two switches, it leaves the new state with
///   unused space before its table; the next writable Open gives that back, and bytes after
///   the table too. A file of 0 bytes has no header word to switch: before its first write, a
///   new file holding an empty table takes its place in one step (KsIOFactory::Replace).
/// - A Close that fails keeps the file open with every change, so it can be tried again; the
///   destructor gives up quietly and the file keeps its last complete state.
/// - Every stored value is checked on Open: offsets, lengths and counts inside the file, no
///   overlapping extents, lists in order, in range, of the right states, without cycles. A
///   corrupt file raises `Blob file "<name>" is corrupt: ...`.

#include <cassert>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

#include "core/KsException.h"
#include "core/KsString.h"
#include "io/KsBlob.h"
#include "io/KsIOFactory.h"
#include "io/KsIOInterface.h"

/// Layout constants of blob files (see the file notes).
namespace KsBlobFileFormat {
/// @{
/// The extension; the sizes of the header word D, of the descriptor table's header
/// (free head, unused head, N) and of one descriptor record (link, offset, length,
/// space); kNone ends a list and stands for no offset and no blob.
inline constexpr const char* kExtension = ".ksb";
inline constexpr std::int32_t kHeaderSize = 4;        // the word D at offset 0
inline constexpr std::int32_t kTableHeaderSize = 12;  // free head, unused head, N
inline constexpr std::int32_t kRecordSize = 16;       // link, offset, length, space
inline constexpr std::int32_t kNone = -1;             // end of a list, no offset, no blob
/// @}
}  // namespace KsBlobFileFormat

/// One descriptor: the four fields of its record, and the bytes of an in-memory blob.
class KsBlobDescriptor {
public:
    KsBlobDescriptor() = default;
    virtual ~KsBlobDescriptor() = default;

    /// The four fields in record order.
    void Read(KsInputStreamInterface& stream);
    /// The four fields in record order; an in-memory blob cannot be stored.
    void Write(KsOutputStreamInterface& stream) const;

    /// @{
    /// What the descriptor stands for: a blob (stored, or in memory without an offset),
    /// a free extent of the file, or nothing.
    bool HoldsBlob() const { return length >= 0; }
    bool IsInMemory() const { return length >= 0 && offset < 0; }
    bool IsFreeExtent() const { return length < 0 && offset >= 0; }
    bool IsUnused() const { return length < 0 && offset < 0; }
    /// @}
    /// The file offset after the extent.
    std::int64_t End() const { return std::int64_t{offset} + space; }
    /// All four fields -1, the in-memory bytes released.
    void MakeUnused();

    /// @{
    /// The record's fields: a blob's reference count or the next descriptor in a list,
    /// the extent's offset and size, the blob's size; and the bytes of an in-memory blob,
    /// owned by the descriptor.
    std::int32_t link = KsBlobFileFormat::kNone;    // reference count, or the next in a list
    std::int32_t offset = KsBlobFileFormat::kNone;  // the extent's file offset
    std::int32_t length = KsBlobFileFormat::kNone;  // the blob's size
    std::int32_t space = KsBlobFileFormat::kNone;   // the extent's size
    std::unique_ptr<KsBlob> memoryBlob;             // the bytes of an in-memory blob
    /// @}
};

/// A blob number outside 1..N. It is a KsException that standard handlers of out_of_range
/// catch as well.
class KsBlobNumberOutOfRange : public std::out_of_range, public virtual KsException {
public:
    /// An error whose message the thrower sets (KsException::GenerateAs).
    KsBlobNumberOutOfRange() : std::out_of_range("blob number out of range") {}
    /// The KsException message.
    const char* what() const noexcept override { return GetErrorMessage(); }
};

/// A table's blob file (see the file notes): blobs stored, shared by reference count and
/// freed, with its errors (KsException) naming the file.
class KsBlobFile {
public:
    /// The tag of the new file that replaces an empty blob file (see KsReplacementFile).
    static constexpr const char* kNewFileTag = "ksb";
    /// New bytes wait in memory until more than this many are pending.
    static constexpr std::int64_t kMemoryBlobLimit = 1 << 20;

    /// Opens, or creates, the blob file beside `name` (its extension replaced by ".ksb").
    KsBlobFile(const char* name, int flags, KsIOFactory& factory = KsIOFactory::Default());
    /// Closes; a failure is not reported (call Close to know).
    virtual ~KsBlobFile();
    KsBlobFile(const KsBlobFile&) = delete;
    KsBlobFile& operator=(const KsBlobFile&) = delete;

    /// Closes what is open, then opens the file beside `name`; a missing file is created.
    void Open(const char* name, int flags);
    /// Frees what waits to be freed, writes the table when it changed, closes the file.
    void Close();

    /// Copies the blob's bytes into `out`, position 0.
    void GetBlob(std::int32_t blobNumber, KsBlob& out);
    /// A new blob with these bytes and reference count; returns its number.
    std::int32_t AddBlob(const void* data, std::int32_t size, std::int32_t references = 1);
    /// Replaces a blob's bytes; its number and reference count stay.
    void RewriteBlob(std::int32_t blobNumber, const void* data, std::int32_t size);
    /// Adds `delta` to the reference count and returns the new count. Below 1 the blob is
    /// freed, at once or, while freeing is delayed, by ClearDelayedFree.
    std::int32_t ChangeReferenceCount(std::int32_t blobNumber, std::int32_t delta);
    /// Frees a blob and its space.
    void FreeDescriptor(std::int32_t blobNumber);
    /// Frees every blob whose reference count is below 1.
    void FreeAbandonedBlobs();
    /// Keeps blobs whose count falls below 1 until ClearDelayedFree.
    void SetDelayedFree() { delayedFree_ = true; }
    /// Frees the blobs kept by SetDelayedFree, then frees at once again.
    void ClearDelayedFree();
    /// Stores blobs waiting in memory and writes the table, when anything changed.
    void WriteDescriptors();
    /// Forgets every descriptor (without writing).
    void ClearDescriptors();

    /// How many bytes of new blobs may wait in memory before they are stored.
    void SetMemoryBlobLimit(std::int64_t bytes) { memoryLimit_ = bytes; }

    /// Whether a file is open.
    bool IsOpen() const { return file_ != nullptr; }
    /// Whether unreferenced blobs are kept until the delay ends.
    bool IsDelayedFree() const { return delayedFree_; }
    /// Whether changes wait to be written.
    bool IsDirty() const { return dirty_; }
    /// The full name of the file, kept after Close.
    const char* GetFileName() const { return name_.GetCString(); }
    /// @{
    /// The descriptor table as read or last written: its file offset (the word D), the
    /// heads of the free and unused lists (kNone when empty) and the count N.
    std::int32_t GetDescriptorOffset() const { return tableOffset_; }
    std::int32_t GetFreeListHead() const { return freeHead_; }
    std::int32_t GetUnusedListHead() const { return unusedHead_; }
    std::int32_t GetDescriptorCount() const { return static_cast<std::int32_t>(table_.size()); }
    /// @}
    /// Descriptor `number` (1..N).
    const KsBlobDescriptor& GetDescriptor(std::int32_t number) const;

private:
    // Byte ranges [begin, end) that the state on disk uses, sorted and disjoint.
    class DiskState {
    public:
        void Clear() {
            ranges_.clear();
            normalized_ = true;
        }
        /// Adds a range; Normalize must follow before the next question.
        void Add(std::int64_t begin, std::int64_t end);
        void Normalize();
        bool Overlaps(std::int64_t begin, std::int64_t end) const;
        std::int64_t End() const {
            assert(normalized_);
            return ranges_.empty() ? 0 : ranges_.back().second;
        }

    private:
        std::vector<std::pair<std::int64_t, std::int64_t>> ranges_;
        bool normalized_ = true;
    };
    // Where storing `size` bytes would go: the front of free extent `number` (after
    // `predecessor`), or `offset` at the end of the data area when `number` is -1.
    struct Placement {
        std::int32_t number = KsBlobFileFormat::kNone;
        std::int32_t predecessor = KsBlobFileFormat::kNone;
        std::int64_t offset = KsBlobFileFormat::kHeaderSize;
        bool atEnd = false;
    };

    void Init();
    KsBlobDescriptor& At(std::int32_t number);
    const KsBlobDescriptor& At(std::int32_t number) const;
    // Descriptor `number` as a list member: it must not hold a blob.
    KsBlobDescriptor& ListMember(std::int32_t number);
    KsBlobDescriptor& InUse(std::int32_t blobNumber);
    void CheckWritable() const;
    KS_PRINTF(2, 3) [[noreturn]] void ThrowCorrupt(const char* format, ...) const;

    // Opening.
    void ReadDescriptors();
    void CheckDescriptorStates() const;
    void CheckFreeList() const;
    void CheckUnusedList() const;
    void CheckExtentsApart() const;
    void GiveBackUnusedTail();
    void RememberDiskState();

    // The list operations of freeing.
    void FreeExtent(std::int32_t number);
    void FindFreeDescriptorInsertionPoint(std::int64_t offset, std::int32_t& predecessor,
                                          std::int32_t& successor);
    void ConsolidateWithNext(std::int32_t number, std::int32_t successor);
    void InsertFreeDescriptor(std::int32_t number, std::int32_t predecessor);
    void AdjustLastFreeSpaceDescriptor(std::int32_t number);
    void AddUnusedDescriptor(std::int32_t number);
    std::int32_t FindUnusedDescriptorInsertionPoint(std::int32_t number);
    void TrimUnusedDescriptors();

    // Allocation.
    std::int32_t TakeDescriptor();
    void FreeRange(std::int64_t offset, std::int64_t size);
    Placement FindSpace(std::int32_t size);
    void Claim(const Placement& placement, std::int32_t size);
    void EnsureValidOnDisk();
    void StoreMemoryBlobs();
    void StoreMemoryBlob(KsBlobDescriptor& descriptor);
    // Checks a change of bytes and copies them, after storing what waits beyond the limit.
    std::unique_ptr<KsBlob> PrepareNewBytes(const void* data, std::int32_t size);
    // Gives the descriptor these bytes as an in-memory blob.
    void KeepInMemory(std::int32_t number, std::unique_ptr<KsBlob> bytes);

    // Writing the table.
    void AddStateTo(DiskState& ranges) const;
    void EncodeTable(KsBlob& out) const;
    void WriteTableAt(std::int64_t offset, const KsBlob& table);
    void CutAfter(std::int64_t end);

    bool delayedFree_ = false;
    bool dirty_ = false;
    std::int32_t tableOffset_ = KsBlobFileFormat::kHeaderSize;  // D
    std::int32_t freeHead_ = KsBlobFileFormat::kNone;
    std::int32_t unusedHead_ = KsBlobFileFormat::kNone;
    std::vector<std::unique_ptr<KsBlobDescriptor>> table_;  // element i - 1 is number i
    std::unique_ptr<KsIOInterface> file_;
    KsIOFactory* factory_;
    int flags_ = 0;
    KsString name_;
    std::int64_t memoryBytes_ = 0;  // bytes of the blobs waiting in memory
    std::int64_t memoryLimit_ = kMemoryBlobLimit;
    std::vector<std::int32_t> inMemory_;  // their numbers (some may be stored already)
    bool emptyOnDisk_ = false;            // the file has 0 bytes
    DiskState onDisk_;
};
