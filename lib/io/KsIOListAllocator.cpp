// The allocator of a list file: first fit over a free list kept in ascending order of
// offset, with neighbouring free blocks merged, and serialized objects stored in blocks.
// Allocate and Free hold LOCK_WRITE on the free list's head for their whole run. Every
// process that touches the free list does, so inside that lock the free list is walked and
// changed without locks of its words.

#include <cstring>

#include "core/KsCallpath.h"
#include "io/KsIOListBase.h"
#include "io/KsIOListWords.h"

namespace {

constexpr const char* kClass = "KsIOListBase";

using namespace KsIOListFormat;
using ull = unsigned long long;

constexpr std::uint64_t kFreeListHead = kFreeListPosition + kWordSize;

[[noreturn]] void ThrowFreeAlready(const KsIOInterface& file, std::uint64_t offset,
                                   std::uint64_t size) {
    KsException::Generate(
        "Cannot free %llu bytes at offset %llu of list file \"%s\": part of them is free already",
        kClass, static_cast<ull>(size), static_cast<ull>(offset), file.GetFileName());
}

// The free list ascends: a block starts at or after the end of the one before it.
void CheckFreeOrder(KsIOListCheck& check, std::uint64_t where, std::uint64_t block,
                    std::uint64_t previousEnd) {
    if (block < previousEnd) {
        check.Damaged(where,
                      "the free list goes back to %llu, before the end of the block before it",
                      static_cast<ull>(block));
    }
}

void CheckAllocationSize(std::uint64_t size) {
    if (size % kGranule != 0) {
        KsException::Generate("Must allocate a multiple of %d bytes from list", kClass,
                              static_cast<int>(kGranule));
    }
    if (size == 0) {
        KsException::Generate("Cannot allocate 0 bytes from list", kClass);
    }
}

}  // namespace

KsIOListBase::PendingBlocks::~PendingBlocks() {
    for (const Block& block : blocks_) {
        try {
            list_.Free(block.offset, block.size);
        } catch (const KsException&) {
            // The first error is the one reported; the block is lost space.
        }
    }
}

std::uint64_t KsIOListBase::Allocate(std::uint64_t size) {
    return KsCallpath("Allocate()", kClass, [&] {
        CheckAllocationSize(size);
        accessor_lock head(*file_);
        head.AcquireAt(LOCK_WRITE, kFreeListHead);
        void_iterator it(*file_, kUnlocked);
        it.Start(kFreeListPosition);
        std::uint64_t previousEnd = 0;
        for (; !it.AtEnd(); ++it) {
            std::uint64_t blockSize = FreeBlockSize(it, previousEnd);
            if (blockSize >= size) {
                std::uint64_t offset = it.GetPosition();
                if (blockSize > size) {
                    // The rest stays free in the same place of the list.
                    it.Relocate(offset + size, blockSize - size);
                } else {
                    it.Drop();
                }
                return offset;
            }
        }
        it.Release();
        return AllocateFromEnd(size);
    });
}

std::uint64_t KsIOListBase::AllocateFromEnd(std::uint64_t size) {
    return KsCallpath("AllocateFromEnd()", kClass, [&] {
        CheckAllocationSize(size);
        // Two processes must not both take the same end of the file.
        accessor_lock head(*file_);
        head.AcquireAt(LOCK_WRITE, kFreeListHead);
        KsIOListCheck check(*file_);
        std::uint64_t offset = check.Size(true);
        if (offset < kSmallestBlockOffset) {
            check.Damaged(offset, "the file is shorter than the header of a list file");
        }
        if (KsIOListCache* cache = KsIOListCache::Of(*file_)) {
            // Whoever caches the file holds it whole: the space needs no write to be taken.
            cache->Reserve(offset + size);
            return offset;
        }
        const unsigned char zero = 0;
        KsIOListWords::WriteRaw(*file_, offset + size - 1, &zero, 1);
        return offset;
    });
}

std::uint64_t KsIOListBase::FreeBlockSize(void_iterator& it, std::uint64_t& previousEnd) {
    KsIOListCheck& check = it.Check();
    std::uint64_t block = it.GetPosition();
    std::uint64_t size = it.GetWord0();
    check.BlockSize(block, size);
    check.Block(it.GetLinkPosition(), block, size);
    CheckFreeOrder(check, it.GetLinkPosition(), block, previousEnd);
    previousEnd = block + size;
    return size;
}

std::uint64_t KsIOListBase::FindFreeBlockEndingFrom(void_iterator& it, std::uint64_t offset) {
    std::uint64_t previousEnd = 0;
    for (; !it.AtEnd(); ++it) {
        std::uint64_t size = FreeBlockSize(it, previousEnd);
        if (previousEnd >= offset) {
            return size;
        }
    }
    return 0;
}

void KsIOListBase::CheckFreedRange(KsIOListCheck& check, std::uint64_t offset,
                                   std::uint64_t size) const {
    std::uint64_t end = 0;
    if (offset < kSmallestBlockOffset || offset % kGranule != check.Size() % kGranule ||
        __builtin_add_overflow(offset, size, &end) || end > check.Size(true)) {
        KsException::Generate(
            "Cannot free %llu bytes at offset %llu of list file \"%s\": they are not blocks of "
            "the file",
            kClass, static_cast<ull>(size), static_cast<ull>(offset), file_->GetFileName());
    }
}

void KsIOListBase::Free(std::uint64_t offset, std::uint64_t size) {
    KsCallpath("Free()", kClass, [&] {
        if (size % kGranule != 0) {
            KsException::Generate("Cannot free blocks unless they are a multiple of %d bytes",
                                  kClass, static_cast<int>(kGranule));
        }
        if (size == 0) {
            return;
        }
        accessor_lock head(*file_);
        head.AcquireAt(LOCK_WRITE, kFreeListHead);
        void_iterator it(*file_, kUnlocked);
        it.Start(kFreeListPosition);
        CheckFreedRange(it.Check(), offset, size);
        std::uint64_t blockSize = FindFreeBlockEndingFrom(it, offset);
        std::uint64_t block = it.GetPosition();
        if (it.AtEnd()) {
            it.Insert(offset, size);
        } else if (block + blockSize == offset) {
            GrowFreeBlock(it, blockSize, offset, size);
        } else if (block < offset + size) {
            ThrowFreeAlready(*file_, offset, size);
        } else if (block == offset + size) {
            it.Relocate(offset, blockSize + size);  // the block grows backwards
        } else {
            it.Insert(offset, size);
        }
    });
}

void KsIOListBase::GrowFreeBlock(void_iterator& it, std::uint64_t blockSize, std::uint64_t offset,
                                 std::uint64_t size) {
    std::uint64_t block = it.GetPosition();
    std::uint64_t grown = blockSize + size;
    std::uint64_t previousEnd = offset;
    ++it;
    if (!it.AtEnd()) {
        std::uint64_t nextSize = FreeBlockSize(it, previousEnd);
        if (it.GetPosition() < offset + size) {
            ThrowFreeAlready(*file_, offset, size);
        }
        if (it.GetPosition() == offset + size) {
            // What follows must lie beyond it, or the unlinking below would close a loop.
            std::uint64_t link = it.GetPosition() + kWordSize;
            std::uint64_t after = KsIOListWords::Read(*file_, link);
            if (after != 0) {
                CheckFreeOrder(it.Check(), link, after, previousEnd);
            }
            // The next block is unlinked first: until the size below grows, its bytes are
            // merely unused.
            it.Drop();
            grown += nextSize;
        }
    }
    // The iterator has moved on, but the head lock keeps every other process out of the
    // free list.
    KsIOListWords::Write(*file_, block, grown);
}

void KsIOListBase::WriteObject(std::uint64_t offset, std::uint64_t blockSize, const void* data,
                               std::uint32_t n) {
    // The block is written to its end, padding too, so that a block at the end of the file
    // leaves the file ending on a block boundary.
    unsigned char start[256] = {};
    KsByteOrder::StoreLittle(start, static_cast<std::uint32_t>(blockSize));
    if (blockSize <= sizeof start) {
        std::memcpy(start + 4, data, n);
        KsIOListWords::WriteBytes(*file_, offset, start, blockSize);
        return;
    }
    KsIOListWords::WriteBytes(*file_, offset, start, 4);
    KsIOListWords::WriteBytes(*file_, offset + 4, data, n);
    const unsigned char padding[kGranule] = {};
    KsIOListWords::WriteBytes(*file_, offset + 4 + n, padding, blockSize - 4 - n);
}

std::uint64_t KsIOListBase::AppendSerializedObject(const void* data, std::uint32_t n) {
    return KsCallpath("AppendSerializedObject()", kClass, [&] {
        std::uint64_t blockSize = ObjectBlockSize(n);
        std::uint64_t offset = Allocate(blockSize);
        PendingBlocks pending(*this);
        pending.Add(offset, blockSize);
        WriteObject(offset, blockSize, data, n);
        pending.Dismiss();
        return offset;
    });
}

std::uint32_t KsIOListBase::ReadObjectBlockSize(KsIOListCheck& check, std::uint64_t where,
                                                std::uint64_t offset) const {
    check.Block(where, offset, kGranule);
    unsigned char bytes[4];
    KsIOListWords::ReadBytes(*file_, offset, bytes, 4);
    std::uint32_t size = KsByteOrder::LoadLittle<std::uint32_t>(bytes);
    check.BlockSize(offset, size);
    check.Block(where, offset, size);
    return size;
}

std::uint64_t KsIOListBase::RewriteSerializedObject(std::uint64_t offset, const void* data,
                                                    std::uint32_t n, std::uint64_t referrer) {
    return KsCallpath("RewriteSerializedObject()", kClass, [&] {
        KsIOListCheck check(*file_);
        std::uint64_t oldSize = ReadObjectBlockSize(check, referrer ? referrer : offset, offset);
        std::uint64_t newSize = ObjectBlockSize(n);
        if (newSize <= oldSize) {
            // The new bytes first, so the tail is only freed once nothing uses it.
            WriteObject(offset, newSize, data, n);
            Free(offset + newSize, oldSize - newSize);
            return offset;
        }
        std::uint64_t moved = AppendSerializedObject(data, n);
        if (referrer != 0) {
            KsIOListWords::Write(*file_, referrer, moved);
        }
        Free(offset, oldSize);
        return moved;
    });
}
