#include "io/KsIOList.h"

#include <cstring>

#include "core/KsByteOrder.h"
#include "core/KsScopeExit.h"
#include "io/KsIOListWords.h"
#include "io/KsIOLockGuard.h"

namespace {

constexpr const char* kListClass = "KsIOList<void>";
constexpr const char* kSimpleListClass = "KsIOSimpleList<void>";

using namespace KsIOListFormat;
using ull = unsigned long long;

}  // namespace

// ---- one object's bytes ----

std::int32_t KsIOListObject::Read(void* buffer, std::int32_t count, bool required) {
    std::size_t wanted = count > 0 ? static_cast<std::size_t>(count) : 0;
    std::size_t available = bytes_.size() - position_;
    std::size_t n = wanted < available ? wanted : available;
    if (required && n < wanted) {
        KsException::Generate(
            "The object at offset %llu of list file \"%s\" is larger than its block of %llu bytes",
            kListClass, static_cast<ull>(offset_), name_.GetCString(),
            static_cast<ull>(bytes_.size() + 4));
    }
    std::memcpy(buffer, bytes_.data() + position_, n);
    position_ += n;
    return static_cast<std::int32_t>(n);
}

void KsIOListObject::Write(const void* buffer, std::int32_t count) {
    if (count > 0) {
        const char* bytes = static_cast<const char*>(buffer);
        bytes_.insert(bytes_.end(), bytes, bytes + count);
    }
}

std::uint32_t KsIOListObject::GetSize() const {
    if (bytes_.size() > UINT32_MAX - 4) {
        KsException::Generate("An object of %llu bytes is too large for a list file", kListClass,
                              static_cast<ull>(bytes_.size()));
    }
    return static_cast<std::uint32_t>(bytes_.size());
}

void KsIOListObject::Load(KsIOInterface& file, std::uint64_t offset, std::uint32_t blockSize) {
    name_ = file.GetFileName();
    offset_ = offset;
    position_ = 0;
    bytes_.resize(blockSize - 4);
    std::uint64_t done = 0;
    while (done < bytes_.size()) {
        std::uint64_t piece = bytes_.size() - done < (1u << 30) ? bytes_.size() - done : 1u << 30;
        KsIOListWords::ReadBytes(file, offset + 4 + done, bytes_.data() + done,
                                 static_cast<std::int32_t>(piece));
        done += piece;
    }
}

// ---- simple lists ----

void KsIOSimpleList<void>::PrepareFile(int numberOfLists) {
    KsCallpath("PrepareFile()", kSimpleListClass, [&] {
        if (numberOfLists < 1) {
            KsException::Generate("List files require at least one list", kSimpleListClass);
        }
        KsIOInterface& file = GetFile();
        KsIOLockGuard whole(file, LOCK_WRITE, 0, 0);
        file.Truncate(0);
        if (KsIOListCache* cache = KsIOListCache::Of(file)) {
            cache->Forget();
        }
        static const unsigned char zeros[4096] = {};
        std::uint64_t header = HeaderSize(static_cast<std::uint64_t>(numberOfLists));
        for (std::uint64_t at = kSmallestBlockOffset - 16; at < header; at += sizeof zeros) {
            std::uint64_t piece = header - at < sizeof zeros ? header - at : sizeof zeros;
            KsIOListWords::WriteBytes(file, at, zeros, piece);
        }
        // The marker last: a file cut off before it is not taken for a list file.
        unsigned char start[16] = {};
        std::memcpy(start, kMarker, sizeof kMarker);
        KsByteOrder::StoreLittle(start + kVersionOffset, kVersion);
        KsIOListWords::WriteBytes(file, 0, start, sizeof start);
        whole.Release();
    });
}

// ---- lists of objects ----

KsIOList<void>::KsIOList(KsIOInterface& file, std::uint64_t position)
    : KsIOSimpleList<void>(file, position) {
    CheckFile(file, "KsIOList()");
}

void KsIOList<void>::CheckFile(KsIOInterface& file, const char* function) {
    KsCallpath(function, kListClass, file.GetFileName(), [&] {
        if (!file.IsOpen() || file.GetFileSize64() == 0) {
            return;
        }
        unsigned char start[kMarkerAndVersionSize] = {};
        std::int32_t got = file.ReadFrom(0, start, sizeof start, false);
        if (got < static_cast<std::int32_t>(sizeof start) ||
            std::memcmp(start, kMarker, sizeof kMarker) != 0) {
            KsException::Generate("Bound-to file is not a list file", kListClass);
        }
        if (KsByteOrder::LoadLittle<std::uint16_t>(start + kVersionOffset) != kVersion) {
            KsException::Generate("List file is of an unsupported version", kListClass);
        }
    });
}

std::uint64_t KsIOList<void>::ObjectWord(void_iterator& it) {
    if (it.AtEnd()) {
        KsException::Generate("Cannot read the end() iterator", kListClass);
    }
    return it.GetPosition();
}

void KsIOList<void>::ReadElement(void_iterator& it, KsIOListObject& out) {
    KsCallpath("ReadElement()", kListClass, [&] {
        std::uint64_t word = ObjectWord(it);
        std::uint64_t object = KsIOListWords::Read(GetFile(), word);
        std::uint32_t size = ReadObjectBlockSize(it.Check(), word, object);
        out.Load(GetFile(), object, size);
    });
}

std::uint64_t KsIOList<void>::PrepareElement(const void* data, std::uint32_t n,
                                             PendingBlocks& pending) {
    std::uint64_t object = AppendSerializedObject(data, n);
    pending.Add(object, ObjectBlockSize(n));
    return object;
}

void KsIOList<void>::InsertElement(void_iterator& it, const void* data, std::uint32_t n) {
    KsCallpath("Insert()", kListClass, [&] {
        it.RequireWriter("insert");
        PendingBlocks pending(*this);
        std::uint64_t node = Allocate(kGranule);
        pending.Add(node, kGranule);
        std::uint64_t word0 = PrepareElement(data, n, pending);
        // From here a failure may have linked the node: its blocks are no longer ours.
        pending.Dismiss();
        it.Insert(node, word0);
    });
}

void KsIOList<void>::RewriteElement(void_iterator& it, const void* data, std::uint32_t n) {
    KsCallpath("RewriteElement()", kListClass, [&] {
        it.RequireWriter("rewrite an element");
        std::uint64_t word = ObjectWord(it);
        RewriteSerializedObject(KsIOListWords::Read(GetFile(), word), data, n, word);
    });
}

void KsIOList<void>::EraseElement(void_iterator& it) {
    KsCallpath("EraseElement()", kListClass, [&] {
        if (it.AtEnd()) {
            KsException::Generate("Cannot drop the end() iterator", kListClass);
        }
        it.RequireWriter("erase an element");
        // Everything is read and checked before the element is unlinked.
        std::uint64_t word = ObjectWord(it);
        std::uint64_t object = KsIOListWords::Read(GetFile(), word);
        std::uint64_t objectSize = ReadObjectBlockSize(it.Check(), word, object);
        std::uint64_t node = it.Drop();
        FreeElement(node, word, object, objectSize);
    });
}

void KsIOList<void>::FreeElement(std::uint64_t node, std::uint64_t, std::uint64_t object,
                                 std::uint64_t objectSize) {
    Free(object, objectSize);
    Free(node, kGranule);
}

// ---- lists of lists ----

KsIOListOfLists<void, void>::KsIOListOfLists(KsIOInterface& file, std::uint64_t position)
    : KsIOList<void>(file, position, kSubList) {
    CheckFile(file, "KsIOListOfLists()");
}

std::uint64_t KsIOListOfLists<void, void>::SubListPosition(void_iterator& it) {
    return KsCallpath("SubListPosition()", "KsIOListOfLists<void,void>", [&] {
        if (it.AtEnd()) {
            KsException::Generate("Cannot read the end() iterator", kListClass);
        }
        std::uint64_t header = it.GetWord0();
        it.Check().Block(it.GetPosition(), header, kGranule);
        return header;
    });
}

std::uint64_t KsIOListOfLists<void, void>::ObjectWord(void_iterator& it) {
    return SubListPosition(it);
}

std::uint64_t KsIOListOfLists<void, void>::PrepareElement(const void* data, std::uint32_t n,
                                                          PendingBlocks& pending) {
    std::uint64_t header = Allocate(kGranule);
    pending.Add(header, kGranule);
    std::uint64_t object = KsIOList<void>::PrepareElement(data, n, pending);
    // A reused block still holds its old words: the new sub-list starts empty.
    KsIOListWords::WritePair(GetFile(), header, object, 0);
    return header;
}

void KsIOListOfLists<void, void>::FreeElement(std::uint64_t node, std::uint64_t objectWord,
                                              std::uint64_t object, std::uint64_t objectSize) {
    // The element is unreachable now; whoever still walks its sub-list is waited for.
    KsIOList<void> subList(GetFile(), objectWord, kSubList);
    void_iterator it = subList.begin(LOCK_WRITE);
    while (!it.AtEnd()) {
        subList.EraseElement(it);
    }
    it.Release();
    Free(objectWord, kGranule);
    KsIOList<void>::FreeElement(node, objectWord, object, objectSize);
}
