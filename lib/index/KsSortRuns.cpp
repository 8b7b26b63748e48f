#include "index/KsSortRuns.h"

#include <cassert>
#include <cstring>
#include <utility>

#include "core/KsByteOrder.h"
#include "core/KsCallpath.h"
#include "core/KsException.h"
#include "progress/KsProgressInterface.h"

namespace {

constexpr const char* kBuilderClass = "KsSortRunBuilder";
constexpr const char* kConsolidatorClass = "KsSortRunConsolidator";
constexpr std::uint32_t kTickInterval = 1000;

// Moves the element at `position` down until no child in 0..last sorts before it.
// `less(a, b)` orders two elements.
template <class Element, class Less>
void SiftDown(Element* heap, int position, int last, Less less) {
    for (;;) {
        int best = position;
        int first = 2 * position + 1;
        if (first <= last && less(heap[first], heap[best])) {
            best = first;
        }
        if (first + 1 <= last && less(heap[first + 1], heap[best])) {
            best = first + 1;
        }
        if (best == position) {
            return;
        }
        std::swap(heap[position], heap[best]);
        position = best;
    }
}

// Moves the element at `position` up while its parent sorts after it.
template <class Element, class Less>
void SiftUp(Element* heap, int position, Less less) {
    while (position > 0) {
        int parent = (position + 1) / 2 - 1;
        if (!less(heap[position], heap[parent])) {
            return;
        }
        std::swap(heap[parent], heap[position]);
        position = parent;
    }
}

// Counts one record written; every kTickInterval records reports and asks whether to go on.
void Tick(KsProgressInterface* progress, std::uint32_t& counter, const char* message,
          const char* className) {
    if (progress == nullptr) {
        return;
    }
    ++counter;
    if (counter % kTickInterval == 0) {
        progress->SetPosition(static_cast<std::int32_t>(counter));
        if (!progress->ShouldContinue()) {
            KsException::GenerateAs<KsSortCanceledException>("%s", className, message);
        }
    }
}

}  // namespace

// ---- KsSortOrder

KsSortOrder::KsSortOrder(const KsSortCriterion& criterion) : criterion_(&criterion) {
    if (const auto* key = dynamic_cast<const KsSortCKey*>(&criterion)) {
        plainKey_ = true;
        plainKeyLength_ = key->GetKeyLength();
    }
}

bool KsSortOrder::IsLess(const char* a, const char* b) const {
    if (plainKey_) {
        return std::memcmp(a, b, plainKeyLength_) < 0;
    }
    return criterion_->IsLess(a, b);
}

std::uint64_t KsSortOrder::PrefixOf(const char* record) const {
    if (!plainKey_) {
        return 0;
    }
    unsigned char bytes[8] = {};
    std::memcpy(bytes, record, plainKeyLength_ < 8 ? plainKeyLength_ : 8);
    return KsByteOrder::LoadBig<std::uint64_t>(bytes);
}

bool KsSortOrder::IsLessAfterPrefix(const char* a, const char* b) const {
    if (plainKey_) {
        return plainKeyLength_ > 8 && std::memcmp(a + 8, b + 8, plainKeyLength_ - 8) < 0;
    }
    return criterion_->IsLess(a, b);
}

// ---- KsSortRunBuilder

KsSortRunBuilder::KsSortRunBuilder(int heapSize, std::uint32_t recordLength)
    : recordLength_(recordLength), heapSize_(heapSize) {
    KsCallpath("KsSortRunBuilder()", kBuilderClass, [&] {
        if (heapSize < kMinimumHeapSize) {
            KsException::Generate(
                "Asked for a heap size of %d, but must have at least %d elements in the heap",
                kBuilderClass, heapSize, kMinimumHeapSize);
        }
        AllocateArray();
    });
}

void KsSortRunBuilder::AllocateArray() {
    KsCallpath("AllocateArray()", kBuilderClass, [&] {
        if (recordLength_ == 0) {
            KsException::Generate("Record length must be nonzero", kBuilderClass);
        }
        std::size_t slots = static_cast<std::size_t>(heapSize_) + 1;
        store_ = std::make_unique<char[]>(slots * recordLength_);
        heap_.resize(static_cast<std::size_t>(heapSize_));
        for (std::size_t i = 0; i < heap_.size(); ++i) {
            heap_[i] = KsSortNode{0, store_.get() + i * recordLength_};
        }
        spare_ = KsSortNode{0, store_.get() + heap_.size() * recordLength_};
        held_ = 0;
    });
}

void KsSortRunBuilder::VerifyRecordLength(std::uint32_t length) {
    KsCallpath("VerifyRecordLenght()", kBuilderClass, [&] {
        if (length != recordLength_) {
            recordLength_ = length;
            AllocateArray();
        }
    });
}

void KsSortRunBuilder::SetDataSource(KsSortInput& input, const KsSortCriterion& criterion) {
    KsCallpath("SetDataSource()", kBuilderClass, [&] {
        input_ = &input;
        order_ = KsSortOrder(criterion);
        VerifyRecordLength(input.GetRecordLength());
        FillHeapA();
    });
}

void KsSortRunBuilder::FillHeapA() {
    KsCallpath("FillHeapA()", kBuilderClass, [&] {
        while (held_ < heapSize_ && !input_->IsAtEnd()) {
            ReadInto(heap_[static_cast<std::size_t>(held_)]);
            SiftUp(heap_.data(), held_, order_);
            ++held_;
        }
    });
}

void KsSortRunBuilder::WriteSmallest(KsSortOutput& out, KsProgressInterface* progress,
                                     std::uint32_t& counter) {
    Tick(progress, counter, "Build phase of sort halted by user", kBuilderClass);
    std::swap(heap_[0], spare_);
    out.PutNextRecord(recordLength_, spare_.record);
}

void KsSortRunBuilder::ReadInto(KsSortNode& node) {
    input_->GetNextRecord(node.record);
    node.prefix = order_.PrefixOf(node.record);
}

void KsSortRunBuilder::OutputSingleRun(KsSortOutput& out, KsProgressInterface* progress,
                                       std::uint32_t& counter) {
    KsCallpath("OutputSingleRun()", kBuilderClass, [&] {
        if (held_ == 0) {
            KsException::Generate("Cannot output a run with no data", kBuilderClass);
        }
        KsSortNode* heap = heap_.data();
        int active = held_;
        while (active > 0 && !input_->IsAtEnd()) {
            WriteSmallest(out, progress, counter);
            ReadInto(heap[0]);
            if (order_.IsLess(heap[0], spare_)) {
                // Sorts before the record just written: it waits for the next run.
                --active;
                std::swap(heap[0], heap[active]);
            }
            SiftDown(heap, 0, active - 1, order_);
        }
        int parked = held_ - active;
        if (active > 0) {
            parked = DrainActive(out, progress, counter, active, parked);
        }
        held_ = parked;
        for (int i = 1; i < held_; ++i) {
            SiftUp(heap, i, order_);
        }
    });
}

int KsSortRunBuilder::DrainActive(KsSortOutput& out, KsProgressInterface* progress,
                                  std::uint32_t& counter, int active, int parked) {
    KsSortNode* heap = heap_.data();
    while (active > 0) {
        WriteSmallest(out, progress, counter);
        // heap[0] now holds a free slot: the last active record takes the root, the last
        // parked record the place it left, and the free slot goes behind them all.
        KsSortNode free = heap[0];
        heap[0] = heap[active - 1];
        heap[active - 1] = heap[active - 1 + parked];
        heap[active - 1 + parked] = free;
        --active;
        SiftDown(heap, 0, active - 1, order_);
    }
    return parked;
}

// ---- KsSortRunConsolidator

KsSortRunConsolidator::KsSortRunConsolidator(int capacity, std::uint32_t recordLength)
    : recordLength_(recordLength), capacity_(capacity) {
    KsCallpath("KsSortRunConsolidator()", kConsolidatorClass, [&] {
        if (capacity < 2) {
            KsException::Generate("Need at least two files to consolidate", kConsolidatorClass);
        }
        if (recordLength == 0) {
            KsException::Generate("Record length must be nonzero", kConsolidatorClass);
        }
        AllocateArrays();
    });
}

void KsSortRunConsolidator::AllocateArrays() {
    KsCallpath("AllocateArrays()", kConsolidatorClass, [&] {
        std::size_t slots = static_cast<std::size_t>(capacity_) + 1;
        store_ = std::make_unique<char[]>(slots * recordLength_);
        heap_.resize(static_cast<std::size_t>(capacity_));
        for (std::size_t i = 0; i < heap_.size(); ++i) {
            heap_[i] = Entry{store_.get() + i * recordLength_, nullptr};
        }
        spare_ = store_.get() + heap_.size() * recordLength_;
        count_ = 0;
    });
}

void KsSortRunConsolidator::AddInput(KsSortInput& input) {
    KsCallpath("AddInput()", kConsolidatorClass, [&] {
        std::uint32_t length = input.GetRecordLength();
        if (length != recordLength_) {
            KsException::Generate(
                "Input has a record length of \"%d\", but KsSortRunConsolidator "
                "is set for a record length of \"%d\"",
                kConsolidatorClass, static_cast<int>(length), static_cast<int>(recordLength_));
        }
        if (count_ >= capacity_) {
            KsException::Generate("Consolidator only set up to handle at most %d inputs",
                                  kConsolidatorClass, capacity_);
        }
        heap_[static_cast<std::size_t>(count_)].input = &input;
        ++count_;
    });
}

namespace {
// Orders heap entries by their records.
struct EntryLess {
    KsSortOrder order;
    template <class Entry>
    bool operator()(const Entry& a, const Entry& b) const {
        return order.IsLess(a.record, b.record);
    }
};
}  // namespace

void KsSortRunConsolidator::LoadHeap() {
    KsCallpath("LoadHeap()", kConsolidatorClass, [&] {
        int i = 0;
        while (i < count_) {
            Entry& entry = heap_[static_cast<std::size_t>(i)];
            if (entry.input->IsAtEnd()) {
                std::swap(entry, heap_[static_cast<std::size_t>(count_ - 1)]);
                --count_;
                continue;
            }
            entry.input->GetNextRecord(entry.record);
            SiftUp(heap_.data(), i, EntryLess{order_});
            ++i;
        }
    });
}

void KsSortRunConsolidator::CopyRootToSpare() {
    assert(count_ > 0);
    std::memcpy(spare_, heap_[0].record, recordLength_);
}

void KsSortRunConsolidator::OutputSingleRun(KsSortOutput& out, KsProgressInterface* progress,
                                            std::uint32_t& counter) {
    KsCallpath("OutputSingleRun()", kConsolidatorClass, [&] {
        int last = count_ - 1;
        while (last >= 0) {
            Tick(progress, counter, "Merge phase of sort halted by user", kConsolidatorClass);
            out.PutNextRecord(recordLength_, heap_[0].record);
            std::swap(heap_[0].record, spare_);
            if (!LoadNextRecordForRoot(last)) {
                --last;
            }
        }
        for (int i = 1; i < count_; ++i) {
            SiftUp(heap_.data(), i, EntryLess{order_});
        }
    });
}

bool KsSortRunConsolidator::LoadNextRecordForRoot(int last) {
    return KsCallpath("LoadNextRecordForRoot()", kConsolidatorClass, [&] {
        Entry* heap = heap_.data();
        EntryLess less{order_};
        if (!heap[0].input->IsAtEnd()) {
            heap[0].input->GetNextRecord(heap[0].record);
            if (order_.IsLess(heap[0].record, spare_)) {
                // The input's run has ended; its next record waits for the next run.
                std::swap(heap[0], heap[last]);
                SiftDown(heap, 0, last - 1, less);
                return false;
            }
            SiftDown(heap, 0, last, less);
            return true;
        }
        std::swap(heap[0], heap[last]);
        --count_;
        std::swap(heap[last], heap[count_]);
        SiftDown(heap, 0, last - 1, less);
        return false;
    });
}
