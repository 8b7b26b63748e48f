#include "files/KsBlobFile.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "core/KsByteOrder.h"
#include "core/KsCallpath.h"
#include "core/KsScopeExit.h"
#include "io/KsFileName.h"
#include "io/KsReplacementFile.h"
#include "io/KsSyncPolicy.h"

using namespace KsBlobFileFormat;

namespace {

constexpr const char* kClass = "KsBlobFile";
constexpr const char* kDescriptorClass = "KsBlobDescriptor";
// Offsets and sizes in the file are signed 32-bit values.
constexpr std::int64_t kLargestOffset = INT32_MAX;

std::int64_t TableSize(std::int64_t count) {
    return kTableHeaderSize + kRecordSize * count;
}

// A descriptor met on the free or unused list must not hold a blob.
void CheckListMember(const KsBlobDescriptor& d) {
    if (d.HoldsBlob()) {
        KsException::Generate(
            "Attempt to link allocated KsBlobDescriptor into KsBlobFile free/unused list.",
            kDescriptorClass);
    }
}

}  // namespace

// ---- descriptors ----

void KsBlobDescriptor::Read(KsInputStreamInterface& stream) {
    KsCallpath("Read()", kDescriptorClass, [&] {
        link = stream.ReadLong();
        offset = stream.ReadLong();
        length = stream.ReadLong();
        space = stream.ReadLong();
    });
}

void KsBlobDescriptor::Write(KsOutputStreamInterface& stream) const {
    KsCallpath("Write()", kDescriptorClass, [&] {
        if (IsInMemory()) {
            KsException::Generate(
                "Memory blobs must be allocated disk space before they can be saved",
                kDescriptorClass);
        }
        stream.WriteLong(link);
        stream.WriteLong(offset);
        stream.WriteLong(length);
        stream.WriteLong(space);
    });
}

void KsBlobDescriptor::MakeUnused() {
    link = offset = length = space = kNone;
    memoryBlob.reset();
}

// ---- the ranges the state on disk uses ----

void KsBlobFile::DiskState::Add(std::int64_t begin, std::int64_t end) {
    if (begin < end) {
        ranges_.emplace_back(begin, end);
        normalized_ = false;
    }
}

void KsBlobFile::DiskState::Normalize() {
    std::sort(ranges_.begin(), ranges_.end());
    std::size_t kept = 0;
    for (const auto& range : ranges_) {
        if (kept != 0 && range.first <= ranges_[kept - 1].second) {
            ranges_[kept - 1].second = std::max(ranges_[kept - 1].second, range.second);
        } else {
            ranges_[kept++] = range;
        }
    }
    ranges_.resize(kept);
    normalized_ = true;
}

bool KsBlobFile::DiskState::Overlaps(std::int64_t begin, std::int64_t end) const {
    assert(normalized_);
    if (begin >= end) {
        return false;
    }
    // The last range that starts before `end` is the only one that can reach past `begin`.
    auto after =
        std::lower_bound(ranges_.begin(), ranges_.end(), end,
                         [](const auto& range, std::int64_t value) { return range.first < value; });
    return after != ranges_.begin() && std::prev(after)->second > begin;
}

// ---- life ----

KsBlobFile::KsBlobFile(const char* name, int flags, KsIOFactory& factory) : factory_(&factory) {
    KsCallpath("Constructor", kClass, [&] {
        Init();
        Open(name, flags);
    });
}

KsBlobFile::~KsBlobFile() {
    try {
        Close();
    } catch (const KsException&) {
        // Nowhere to report it; the file keeps the last state that was completely written.
    }
}

void KsBlobFile::Init() {
    delayedFree_ = false;
    dirty_ = false;
    tableOffset_ = kHeaderSize;
    freeHead_ = kNone;
    unusedHead_ = kNone;
}

void KsBlobFile::Open(const char* name, int flags) {
    KsCallpath("Open()", kClass, name, [&] {
        if (name == nullptr) {
            KsException::Generate("Null pointer to filename", kClass);
        }
        KsFileName path;
        path.Set(name);
        path.SetExtension(kExtension);
        KsString fullName = path.GetFullPath();
        Close();
        ClearDescriptors();
        Init();
        name_ = fullName;
        KsScopeExit closeOnFailure([&] {
            ClearDescriptors();
            file_.reset();
        });
        if (factory_->Exists(fullName.GetCString())) {
            file_ = factory_->Open(fullName.GetCString(), flags);
            flags_ = flags;
            ReadDescriptors();
        } else {
            flags_ = IO_READ | IO_WRITE | IO_CREATE;
            file_ = factory_->Open(fullName.GetCString(), flags_);
        }
        emptyOnDisk_ = file_->GetFileSize64() == 0;
        RememberDiskState();
        if (flags_ & IO_WRITE) {
            GiveBackUnusedTail();
        }
        closeOnFailure.Dismiss();
    });
}

void KsBlobFile::Close() {
    KsCallpath("Close()", kClass, name_.GetCString(), [&] {
        if (!file_) {
            return;
        }
        ClearDelayedFree();
        WriteDescriptors();
        ClearDescriptors();
        std::unique_ptr<KsIOInterface> file = std::move(file_);
        flags_ = 0;
        file->Close();
    });
}

void KsBlobFile::ClearDescriptors() {
    table_.clear();
    freeHead_ = kNone;
    unusedHead_ = kNone;
    memoryBytes_ = 0;
    inMemory_.clear();
}

// ---- checked access ----

KsBlobDescriptor& KsBlobFile::At(std::int32_t number) {
    return const_cast<KsBlobDescriptor&>(std::as_const(*this).At(number));
}

const KsBlobDescriptor& KsBlobFile::At(std::int32_t number) const {
    if (number < 1 || number > GetDescriptorCount()) {
        KsException::GenerateAs<KsBlobNumberOutOfRange>(
            "BLOB %ld is out of range [1, %ld] of blob file \"%s\"", kClass,
            static_cast<long>(number), static_cast<long>(GetDescriptorCount()), GetFileName());
    }
    return *table_[static_cast<std::size_t>(number - 1)];
}

const KsBlobDescriptor& KsBlobFile::GetDescriptor(std::int32_t number) const {
    return KsCallpath("GetDescriptor()", kClass,
                      [&]() -> const KsBlobDescriptor& { return At(number); });
}

KsBlobDescriptor& KsBlobFile::ListMember(std::int32_t number) {
    KsBlobDescriptor& descriptor = At(number);
    CheckListMember(descriptor);
    return descriptor;
}

KsBlobDescriptor& KsBlobFile::InUse(std::int32_t blobNumber) {
    KsBlobDescriptor& descriptor = At(blobNumber);
    if (!descriptor.HoldsBlob()) {
        KsException::Generate("BLOB %ld is not in use.", kClass, static_cast<long>(blobNumber));
    }
    return descriptor;
}

void KsBlobFile::CheckWritable() const {
    if (!file_) {
        KsException::Generate("Blob file \"%s\" is not open", kClass, GetFileName());
    }
    if (!(flags_ & IO_WRITE)) {
        KsException::Generate("Blob file \"%s\" is open for reading only", kClass, GetFileName());
    }
}

void KsBlobFile::ThrowCorrupt(const char* format, ...) const {
    char detail[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(detail, sizeof detail, format, args);
    va_end(args);
    KsException::Generate("Blob file \"%s\" is corrupt: %s", kClass, GetFileName(), detail);
}

// ---- reading the table ----

void KsBlobFile::ReadDescriptors() {
    std::int64_t size = file_->GetFileSize64();
    if (size == 0) {
        return;
    }
    if (size < kHeaderSize + kTableHeaderSize) {
        ThrowCorrupt("it has %lld bytes, fewer than the %d of an empty table",
                     static_cast<long long>(size), kHeaderSize + kTableHeaderSize);
    }
    if (size > kLargestOffset) {
        ThrowCorrupt("it has %lld bytes, more than 32-bit offsets reach",
                     static_cast<long long>(size));
    }
    file_->Seek(0, 0);
    std::int32_t offset = file_->ReadLong();
    if (offset < kHeaderSize || offset + std::int64_t{kTableHeaderSize} > size) {
        ThrowCorrupt("its descriptor table offset %ld lies outside its %lld bytes",
                     static_cast<long>(offset), static_cast<long long>(size));
    }
    file_->Seek(offset, 0);
    freeHead_ = file_->ReadLong();
    unusedHead_ = file_->ReadLong();
    std::int32_t count = file_->ReadLong();
    if (count < 0 || offset + TableSize(count) > size) {
        ThrowCorrupt("%ld descriptors at offset %ld do not fit in its %lld bytes",
                     static_cast<long>(count), static_cast<long>(offset),
                     static_cast<long long>(size));
    }
    tableOffset_ = offset;
    table_.reserve(static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i) {
        table_.push_back(std::make_unique<KsBlobDescriptor>());
        table_.back()->Read(*file_);
    }
    CheckDescriptorStates();
    CheckFreeList();
    CheckUnusedList();
    CheckExtentsApart();
}

void KsBlobFile::CheckDescriptorStates() const {
    for (std::int32_t number = 1; number <= GetDescriptorCount(); ++number) {
        const KsBlobDescriptor& d = At(number);
        bool valid;
        if (d.HoldsBlob()) {
            // An empty blob's offset is never read; the data area may have shrunk past it.
            valid = d.offset >= kHeaderSize && d.space >= d.length &&
                    (d.space == 0 || d.End() <= tableOffset_);
        } else if (d.offset >= 0) {
            valid = d.length == kNone && d.offset >= kHeaderSize && d.space >= 0 &&
                    d.End() <= tableOffset_;
        } else {
            valid = d.length == kNone && d.offset == kNone && d.space == kNone;
        }
        if (!valid) {
            ThrowCorrupt(
                "descriptor %ld (link %ld, offset %ld, length %ld, space %ld) is in no "
                "valid state",
                static_cast<long>(number), static_cast<long>(d.link), static_cast<long>(d.offset),
                static_cast<long>(d.length), static_cast<long>(d.space));
        }
    }
}

void KsBlobFile::CheckFreeList() const {
    std::int32_t listed = 0;
    std::int64_t previousEnd = -1;
    // Offsets must rise strictly, so a cycle shows as a step backwards.
    for (std::int32_t number = freeHead_; number != kNone;) {
        if (number < 1 || number > GetDescriptorCount()) {
            ThrowCorrupt("its free list links to descriptor %ld, outside 1 to %ld",
                         static_cast<long>(number), static_cast<long>(GetDescriptorCount()));
        }
        const KsBlobDescriptor& d = At(number);
        CheckListMember(d);
        // An empty free extent is no free space, and another extent may hold its offset.
        if (!d.IsFreeExtent() || d.space <= 0) {
            ThrowCorrupt("its free list holds descriptor %ld, which has no extent",
                         static_cast<long>(number));
        }
        if (d.offset <= previousEnd) {
            ThrowCorrupt("its free list goes back or touches at descriptor %ld",
                         static_cast<long>(number));
        }
        previousEnd = d.End();
        ++listed;
        number = d.link;
    }
    auto extents = std::count_if(table_.begin(), table_.end(),
                                 [](const auto& d) { return d->IsFreeExtent(); });
    if (extents != listed) {
        ThrowCorrupt("%ld free extents are not on its free list",
                     static_cast<long>(extents - listed));
    }
}

void KsBlobFile::CheckUnusedList() const {
    std::int32_t listed = 0;
    std::int32_t previous = 0;
    // Numbers must rise strictly, so a cycle shows as a step backwards.
    for (std::int32_t number = unusedHead_; number != kNone;) {
        if (number <= previous || number > GetDescriptorCount()) {
            ThrowCorrupt(
                "its unused list links to descriptor %ld after %ld, out of order or "
                "outside 1 to %ld",
                static_cast<long>(number), static_cast<long>(previous),
                static_cast<long>(GetDescriptorCount()));
        }
        const KsBlobDescriptor& d = At(number);
        CheckListMember(d);
        if (!d.IsUnused()) {
            ThrowCorrupt("its unused list holds descriptor %ld, which has an extent",
                         static_cast<long>(number));
        }
        ++listed;
        previous = number;
        number = d.link;
    }
    auto unused =
        std::count_if(table_.begin(), table_.end(), [](const auto& d) { return d->IsUnused(); });
    if (unused != listed) {
        ThrowCorrupt("%ld unused descriptors are not on its unused list",
                     static_cast<long>(unused - listed));
    }
}

void KsBlobFile::CheckExtentsApart() const {
    struct Extent {
        std::int64_t begin, end;
        std::int32_t number;
    };
    std::vector<Extent> extents;
    for (std::int32_t number = 1; number <= GetDescriptorCount(); ++number) {
        const KsBlobDescriptor& d = At(number);
        if (d.offset >= 0 && d.space > 0) {
            extents.push_back({d.offset, d.End(), number});
        }
    }
    std::sort(extents.begin(), extents.end(),
              [](const Extent& a, const Extent& b) { return a.begin < b.begin; });
    for (std::size_t i = 1; i < extents.size(); ++i) {
        if (extents[i].begin < extents[i - 1].end) {
            ThrowCorrupt("the extents of descriptors %ld and %ld overlap",
                         static_cast<long>(extents[i - 1].number),
                         static_cast<long>(extents[i].number));
        }
    }
}

void KsBlobFile::RememberDiskState() {
    onDisk_.Clear();
    onDisk_.Add(0, kHeaderSize);
    if (!emptyOnDisk_) {
        AddStateTo(onDisk_);
    }
    onDisk_.Normalize();
}

void KsBlobFile::AddStateTo(DiskState& ranges) const {
    ranges.Add(tableOffset_, tableOffset_ + TableSize(GetDescriptorCount()));
    for (const auto& d : table_) {
        if (d->HoldsBlob() && !d->IsInMemory()) {
            ranges.Add(d->offset, d->offset + std::int64_t{d->length});
        }
    }
}

void KsBlobFile::GiveBackUnusedTail() {
    // Bytes after the table (left by an interrupted close) go with the next close.
    if (!emptyOnDisk_ && file_->GetFileSize64() > onDisk_.End()) {
        dirty_ = true;
    }
    // Space after the last blob that no free extent keeps out of reach of D (a close
    // interrupted between its two switches leaves such space before the table).
    std::int64_t end = kHeaderSize;
    for (const auto& d : table_) {
        if (d->HoldsBlob() && d->space > 0) {
            end = std::max(end, d->End());
        }
    }
    if (end >= tableOffset_) {
        return;
    }
    std::int32_t predecessor = kNone;
    std::int32_t number = freeHead_;
    while (number != kNone && At(number).offset < end) {
        predecessor = number;
        number = At(number).link;
    }
    (predecessor == kNone ? freeHead_ : At(predecessor).link) = kNone;
    std::vector<std::int32_t> beyond;
    for (; number != kNone; number = At(number).link) {
        beyond.push_back(number);
    }
    for (std::int32_t extent : beyond) {
        AddUnusedDescriptor(extent);
    }
    tableOffset_ = static_cast<std::int32_t>(end);
    dirty_ = true;
}

// ---- reading and changing blobs ----

void KsBlobFile::GetBlob(std::int32_t blobNumber, KsBlob& out) {
    KsCallpath("GetBlob()", kClass, name_.GetCString(), [&] {
        const KsBlobDescriptor& d = InUse(blobNumber);
        if (d.IsInMemory()) {
            out.SetBlob(d.memoryBlob->GetData(), d.memoryBlob->GetSize());
        } else if (d.length == 0) {
            out.SetBlob(nullptr, 0);
        } else {
            file_->Seek(d.offset, 0);
            out.Read(*file_, static_cast<std::uint32_t>(d.length));
        }
    });
}

std::int32_t KsBlobFile::AddBlob(const void* data, std::int32_t size, std::int32_t references) {
    return KsCallpath("AddBlob()", kClass, name_.GetCString(), [&] {
        std::unique_ptr<KsBlob> bytes = PrepareNewBytes(data, size);
        std::int32_t number = TakeDescriptor();
        KeepInMemory(number, std::move(bytes));
        At(number).link = references;
        return number;
    });
}

void KsBlobFile::RewriteBlob(std::int32_t blobNumber, const void* data, std::int32_t size) {
    KsCallpath("RewriteBlob()", kClass, name_.GetCString(), [&] {
        KsBlobDescriptor& d = InUse(blobNumber);
        std::unique_ptr<KsBlob> bytes = PrepareNewBytes(data, size);  // may store d itself
        std::int32_t oldOffset = d.offset;
        std::int32_t oldSpace = d.space;
        KeepInMemory(blobNumber, std::move(bytes));
        if (oldOffset >= 0 && oldSpace > 0) {
            FreeRange(oldOffset, oldSpace);
        }
    });
}

std::unique_ptr<KsBlob> KsBlobFile::PrepareNewBytes(const void* data, std::int32_t size) {
    CheckWritable();
    if (size < 0) {
        KsException::Generate("Invalid blob size %ld", kClass, static_cast<long>(size));
    }
    // Blobs added earlier are stored first, so that a failure leaves this change undone.
    if (memoryBytes_ > memoryLimit_) {
        StoreMemoryBlobs();
    }
    return std::make_unique<KsBlob>(static_cast<const char*>(data),
                                    static_cast<std::uint32_t>(size));
}

void KsBlobFile::KeepInMemory(std::int32_t number, std::unique_ptr<KsBlob> bytes) {
    KsBlobDescriptor& d = At(number);
    if (d.IsInMemory()) {
        memoryBytes_ -= d.length;
    }
    d.offset = kNone;
    d.length = d.space = static_cast<std::int32_t>(bytes->GetSize());
    d.memoryBlob = std::move(bytes);
    memoryBytes_ += d.length;
    inMemory_.push_back(number);
    dirty_ = true;
}

std::int32_t KsBlobFile::ChangeReferenceCount(std::int32_t blobNumber, std::int32_t delta) {
    return KsCallpath("ChangeReferenceCount()", kClass, name_.GetCString(), [&] {
        CheckWritable();
        KsBlobDescriptor& d = InUse(blobNumber);
        std::int64_t count = std::int64_t{d.link} + delta;
        if (count < INT32_MIN || count > INT32_MAX) {
            KsException::Generate("Reference count %ld of BLOB %ld cannot change by %ld", kClass,
                                  static_cast<long>(d.link), static_cast<long>(blobNumber),
                                  static_cast<long>(delta));
        }
        d.link = static_cast<std::int32_t>(count);
        dirty_ = true;
        if (count < 1 && !delayedFree_) {
            FreeDescriptor(blobNumber);
        }
        return static_cast<std::int32_t>(count);
    });
}

// ---- freeing ----

void KsBlobFile::FreeDescriptor(std::int32_t blobNumber) {
    KsCallpath("FreeDescriptor()", kClass, name_.GetCString(), [&] {
        CheckWritable();
        // Freeing a free or unused descriptor would link it into a list twice.
        KsBlobDescriptor& d = InUse(blobNumber);
        dirty_ = true;
        if (d.IsInMemory()) {
            memoryBytes_ -= d.length;
            AddUnusedDescriptor(blobNumber);
            return;
        }
        d.length = kNone;
        d.link = kNone;
        if (d.space == 0) {
            // An empty extent is no free space; keeping it would make free extents touch.
            AddUnusedDescriptor(blobNumber);
            return;
        }
        FreeExtent(blobNumber);
    });
}

void KsBlobFile::FreeExtent(std::int32_t number) {
    std::int32_t predecessor = kNone;
    std::int32_t successor = kNone;
    FindFreeDescriptorInsertionPoint(At(number).offset, predecessor, successor);
    ConsolidateWithNext(number, successor);
    InsertFreeDescriptor(number, predecessor);
    dirty_ = true;
}

void KsBlobFile::FindFreeDescriptorInsertionPoint(std::int64_t offset, std::int32_t& predecessor,
                                                  std::int32_t& successor) {
    KsCallpath("FindFreeDescriptorInsertionPoint()", kClass, [&] {
        predecessor = kNone;
        successor = freeHead_;
        while (successor != kNone) {
            const KsBlobDescriptor& d = ListMember(successor);
            if (d.offset < 0) {
                KsException::Generate("Cannot find offset following memory blob.",
                                      kDescriptorClass);
            }
            if (d.offset >= offset) {
                break;
            }
            predecessor = successor;
            successor = d.link;
        }
    });
}

void KsBlobFile::ConsolidateWithNext(std::int32_t number, std::int32_t successor) {
    KsCallpath("ConsolidateWithNext()", kClass, [&] {
        KsBlobDescriptor& d = At(number);
        if (successor != kNone) {
            KsBlobDescriptor& next = ListMember(successor);
            if (d.End() == next.offset) {
                d.space += next.space;
                std::int32_t following = next.link;
                AddUnusedDescriptor(successor);
                successor = following;
            }
        }
        d.link = successor;
    });
}

void KsBlobFile::InsertFreeDescriptor(std::int32_t number, std::int32_t predecessor) {
    KsCallpath("InsertFreeDescriptor()", kClass, [&] {
        KsBlobDescriptor& d = At(number);
        if (d.End() < tableOffset_) {
            if (predecessor == kNone) {
                freeHead_ = number;
                return;
            }
            KsBlobDescriptor& previous = ListMember(predecessor);
            previous.link = number;
            if (previous.End() == d.offset) {
                previous.space += d.space;
                previous.link = d.link;
                AddUnusedDescriptor(number);
            }
            return;
        }
        // The extent reaches D: the data area ends where it begins.
        tableOffset_ = d.offset;
        AddUnusedDescriptor(number);
        if (predecessor == kNone) {
            freeHead_ = kNone;
        } else {
            AdjustLastFreeSpaceDescriptor(predecessor);
        }
    });
}

void KsBlobFile::AdjustLastFreeSpaceDescriptor(std::int32_t number) {
    KsCallpath("AdjustLastFreeSpaceDescriptor()", kClass, [&] {
        KsBlobDescriptor& d = ListMember(number);
        if (d.End() < tableOffset_) {
            d.link = kNone;
            return;
        }
        tableOffset_ = d.offset;
        if (freeHead_ == number) {
            freeHead_ = kNone;
        } else {
            for (std::int32_t n = freeHead_; n != kNone;) {
                KsBlobDescriptor& e = ListMember(n);
                if (e.link == number) {
                    e.link = kNone;
                    break;
                }
                n = e.link;
            }
        }
        AddUnusedDescriptor(number);
    });
}

void KsBlobFile::AddUnusedDescriptor(std::int32_t number) {
    KsCallpath("AddUnusedDescriptor()", kClass, [&] {
        KsBlobDescriptor& d = At(number);
        d.MakeUnused();
        if (number == GetDescriptorCount()) {
            TrimUnusedDescriptors();
            return;
        }
        std::int32_t predecessor = FindUnusedDescriptorInsertionPoint(number);
        std::int32_t& before = predecessor == kNone ? unusedHead_ : At(predecessor).link;
        d.link = before;
        before = number;
    });
}

std::int32_t KsBlobFile::FindUnusedDescriptorInsertionPoint(std::int32_t number) {
    return KsCallpath("FindUnusedDescriptorInsertionPoint()", kClass, [&] {
        std::int32_t predecessor = kNone;
        for (std::int32_t n = unusedHead_; n != kNone && n < number; n = ListMember(n).link) {
            predecessor = n;
        }
        return predecessor;
    });
}

void KsBlobFile::TrimUnusedDescriptors() {
    KsCallpath("TrimUnusedDescriptors()", kClass, [&] {
        std::int32_t before = GetDescriptorCount();
        while (!table_.empty() && table_.back()->IsUnused()) {
            table_.pop_back();
        }
        std::int32_t firstRemoved = GetDescriptorCount() + 1;
        if (firstRemoved > before) {
            return;
        }
        if (unusedHead_ == kNone || unusedHead_ >= firstRemoved) {
            unusedHead_ = kNone;
            return;
        }
        for (std::int32_t n = unusedHead_; n != kNone;) {
            KsBlobDescriptor& e = ListMember(n);
            if (e.link >= firstRemoved) {
                e.link = kNone;
                break;
            }
            n = e.link;
        }
    });
}

void KsBlobFile::FreeAbandonedBlobs() {
    KsCallpath("FreeAbandonedBlobs()", kClass, [&] {
        // Freeing may trim the table, so its size is asked each time.
        for (std::int32_t number = 1; number <= GetDescriptorCount(); ++number) {
            const KsBlobDescriptor& d = At(number);
            if (d.HoldsBlob() && d.link < 1) {
                FreeDescriptor(number);
            }
        }
    });
}

void KsBlobFile::ClearDelayedFree() {
    KsCallpath("ClearDelayedFree()", kClass, [&] {
        // A file open for reading only keeps its blobs: it is never written.
        if (delayedFree_ && (flags_ & IO_WRITE)) {
            FreeAbandonedBlobs();
        }
        delayedFree_ = false;
    });
}

// ---- allocation ----

std::int32_t KsBlobFile::TakeDescriptor() {
    if (unusedHead_ != kNone) {
        std::int32_t number = unusedHead_;
        KsBlobDescriptor& d = ListMember(number);
        unusedHead_ = d.link;
        d.link = kNone;
        return number;
    }
    if (TableSize(GetDescriptorCount() + 1) > kLargestOffset - kHeaderSize) {
        KsException::Generate("Blob file \"%s\" has no room for another descriptor", kClass,
                              GetFileName());
    }
    table_.push_back(std::make_unique<KsBlobDescriptor>());
    return GetDescriptorCount();
}

void KsBlobFile::FreeRange(std::int64_t offset, std::int64_t size) {
    std::int32_t number = TakeDescriptor();
    KsBlobDescriptor& d = At(number);
    d.link = kNone;
    d.offset = static_cast<std::int32_t>(offset);
    d.length = kNone;
    d.space = static_cast<std::int32_t>(size);
    FreeExtent(number);
}

KsBlobFile::Placement KsBlobFile::FindSpace(std::int32_t size) {
    Placement placement;
    if (size == 0) {
        return placement;  // an empty blob needs no space; it points at the data area
    }
    // First fit, but never over bytes that the state on disk still uses.
    for (std::int32_t number = freeHead_; number != kNone;) {
        const KsBlobDescriptor& d = ListMember(number);
        if (d.space >= size && !onDisk_.Overlaps(d.offset, std::int64_t{d.offset} + size)) {
            placement.number = number;
            placement.offset = d.offset;
            return placement;
        }
        placement.predecessor = number;
        number = d.link;
    }
    std::int64_t start = tableOffset_;
    if (onDisk_.Overlaps(start, start + size)) {
        start = std::max(start, onDisk_.End());
    }
    if (start + size > kLargestOffset) {
        KsException::Generate("Blob file \"%s\" cannot grow past %ld bytes", kClass, GetFileName(),
                              static_cast<long>(kLargestOffset));
    }
    placement.predecessor = kNone;
    placement.offset = start;
    placement.atEnd = true;
    return placement;
}

void KsBlobFile::Claim(const Placement& placement, std::int32_t size) {
    if (size == 0) {
        return;
    }
    dirty_ = true;
    if (placement.atEnd) {
        std::int64_t oldEnd = tableOffset_;
        tableOffset_ = static_cast<std::int32_t>(placement.offset + size);
        if (placement.offset > oldEnd) {
            FreeRange(oldEnd, placement.offset - oldEnd);  // what the state on disk uses
        }
        return;
    }
    KsBlobDescriptor& d = At(placement.number);
    d.offset += size;
    d.space -= size;
    if (d.space == 0) {
        (placement.predecessor == kNone ? freeHead_ : At(placement.predecessor).link) = d.link;
        AddUnusedDescriptor(placement.number);
    }
}

void KsBlobFile::EnsureValidOnDisk() {
    if (!emptyOnDisk_) {
        return;
    }
    // A file of 0 bytes stays valid only while nothing is in it. Before the first write, a
    // new file holding an empty table takes its place in one step; later writes leave that
    // table alone until the switch.
    KsBlob empty;
    empty.WriteLong(kHeaderSize);
    empty.WriteLong(kNone);
    empty.WriteLong(kNone);
    empty.WriteLong(0);
    KsReplacementFile::WriteReplacing(
        *factory_, name_.GetCString(), kNewFileTag, [&](const char* fresh) {
            std::unique_ptr<KsIOInterface> out = factory_->Open(fresh, IO_READ | IO_WRITE);
            empty.Write(*out);
            out->Close();
        });
    // The handle on the file that was replaced goes (and may fail to close) only once the new
    // file is open; until then a second try starts over.
    std::unique_ptr<KsIOInterface> replaced =
        factory_->Open(name_.GetCString(), flags_ & ~(IO_CREATE | IO_TRUNCATE));
    file_.swap(replaced);
    emptyOnDisk_ = false;
    onDisk_.Add(kHeaderSize, kHeaderSize + kTableHeaderSize);
    onDisk_.Normalize();
}

void KsBlobFile::StoreMemoryBlobs() {
    for (std::int32_t number : inMemory_) {
        if (number <= GetDescriptorCount() && At(number).IsInMemory()) {
            StoreMemoryBlob(At(number));
        }
    }
    inMemory_.clear();
}

void KsBlobFile::StoreMemoryBlob(KsBlobDescriptor& d) {
    EnsureValidOnDisk();
    Placement placement = FindSpace(d.length);
    if (d.length > 0) {
        file_->WriteTo(static_cast<std::uint64_t>(placement.offset), d.memoryBlob->GetData(),
                       d.length);
    }
    Claim(placement, d.length);
    d.offset = static_cast<std::int32_t>(placement.offset);
    d.space = d.length;
    d.memoryBlob.reset();
    memoryBytes_ -= d.length;
}

// ---- writing the table ----

void KsBlobFile::EncodeTable(KsBlob& out) const {
    out.WriteLong(freeHead_);
    out.WriteLong(unusedHead_);
    out.WriteLong(GetDescriptorCount());
    for (const auto& d : table_) {
        d->Write(out);
    }
}

void KsBlobFile::WriteDescriptors() {
    KsCallpath("WriteDescriptors()", kClass, [&] {
        if (!dirty_ || !file_) {
            return;
        }
        // While freeing is delayed, a blob without references may yet get one back.
        if (!delayedFree_) {
            FreeAbandonedBlobs();
        }
        StoreMemoryBlobs();
        EnsureValidOnDisk();
        KsBlob table;
        EncodeTable(table);
        std::int64_t end = tableOffset_ + std::int64_t{table.GetSize()};
        std::int64_t interim = std::max(onDisk_.End(), end);
        bool coversDiskState = onDisk_.Overlaps(tableOffset_, end);
        if ((coversDiskState ? interim + table.GetSize() : end) > kLargestOffset) {
            KsException::Generate("Blob file \"%s\" cannot grow past %ld bytes", kClass,
                                  GetFileName(), static_cast<long>(kLargestOffset));
        }
        // Whatever fails below, the file holds the old state or the new one: keep both.
        AddStateTo(onDisk_);
        if (coversDiskState) {
            onDisk_.Add(interim, interim + table.GetSize());
        }
        onDisk_.Normalize();
        if (coversDiskState) {
            WriteTableAt(interim, table);
        }
        WriteTableAt(tableOffset_, table);
        dirty_ = false;
        RememberDiskState();
        CutAfter(end);
    });
}

void KsBlobFile::WriteTableAt(std::int64_t offset, const KsBlob& table) {
    // The blobs and the table reach the device before the header word points at them, and
    // the word before anything overwrites what the old one pointed at.
    const bool syncing = KsSyncPolicy::IsOn();
    file_->WriteTo(static_cast<std::uint64_t>(offset), table.GetData(),
                   static_cast<std::int32_t>(table.GetSize()));
    syncing ? file_->Sync() : file_->Flush();
    unsigned char word[kHeaderSize];
    KsByteOrder::StoreLittle(word, static_cast<std::int32_t>(offset));
    file_->WriteTo(0, word, kHeaderSize);
    syncing ? file_->Sync() : file_->Flush();
}

void KsBlobFile::CutAfter(std::int64_t end) {
    std::int64_t size = file_->GetFileSize64();
    if (size > end) {
        file_->Truncate(static_cast<std::int32_t>(size - end));
    }
}
