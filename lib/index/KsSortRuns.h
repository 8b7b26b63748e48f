#pragma once
/// @file
/// The two producers of sorted runs of the external sort (see KsSort.h):
///
///   KsSortRunBuilder       replacement selection: reads records from an input into a heap
///                          and writes ascending runs about twice the heap's size; a record
///                          that sorts before the one just written is parked for the next run
///   KsSortRunConsolidator  merges one run from each of its inputs into one run
///
/// Both keep their records in one block allocated up front and move only pointers: heaps,
/// parking and swaps exchange pointers into the block. The heaps are binary min-heaps
/// (children of i at 2i + 1 and 2i + 2); equal records never move, so the sort is not
/// stable.
///
/// Every record written counts on a shared counter; every 1000 records the count goes to
/// the progress object's SetPosition and ShouldContinue() is asked, and a false answer
/// raises KsSortCanceledException.

#include <cstdint>
#include <memory>
#include <vector>

#include "index/KsSort.h"

class KsProgressInterface;

/// A record in the run builder's heap: a pointer into the store and, for a plain key, its
/// first eight key bytes as a number, which settle most comparisons without reading the
/// record (the heap is far larger than the processor's caches).
struct KsSortNode {
    /// The first key bytes as a number.
    std::uint64_t prefix = 0;
    /// The record in the store (not owned).
    char* record = nullptr;
};

/// The criterion of a sort, with a fast path for a plain key that needs no virtual call.
class KsSortOrder {
public:
    /// No criterion yet; set one before comparing.
    KsSortOrder() = default;
    /// The order of `criterion`, which must outlive it.
    explicit KsSortOrder(const KsSortCriterion& criterion);
    /// @{
    /// How record `a` compares with record `b`.
    bool IsLess(const char* a, const char* b) const;
    bool IsGreater(const char* a, const char* b) const { return IsLess(b, a); }
    bool operator()(const char* a, const char* b) const { return IsLess(a, b); }
    /// @}

    /// The first (up to) eight bytes of a plain key, big-endian; 0 for other criteria.
    std::uint64_t PrefixOf(const char* record) const;
    /// @{
    /// How node `a` compares with node `b`, by prefix first.
    bool IsLess(const KsSortNode& a, const KsSortNode& b) const {
        if (a.prefix != b.prefix) {
            return a.prefix < b.prefix;
        }
        return IsLessAfterPrefix(a.record, b.record);
    }
    bool operator()(const KsSortNode& a, const KsSortNode& b) const { return IsLess(a, b); }
    /// @}

private:
    // Records whose prefixes are equal.
    bool IsLessAfterPrefix(const char* a, const char* b) const;

    const KsSortCriterion* criterion_ = nullptr;
    std::uint32_t plainKeyLength_ = 0;
    bool plainKey_ = false;
};

/// A producer of ascending runs.
class KsSortRunSource {
public:
    virtual ~KsSortRunSource() = default;
    /// Whether records remain to be written.
    virtual bool HasData() const = 0;
    /// Writes one ascending run to `out`.
    virtual void OutputSingleRun(KsSortOutput& out, KsProgressInterface* progress,
                                 std::uint32_t& counter) = 0;
};

/// Builds the initial runs by replacement selection (see the file notes).
class KsSortRunBuilder : public KsSortRunSource {
public:
    /// The smallest heap.
    static constexpr int kMinimumHeapSize = 4;

    /// A heap of `heapSize` records of `recordLength` bytes, allocated when data is set.
    KsSortRunBuilder(int heapSize, std::uint32_t recordLength);
    /// Takes the input's record length and fills the heap from it. Both must outlive the
    /// builder's use.
    void SetDataSource(KsSortInput& input, const KsSortCriterion& criterion);
    bool HasData() const override { return held_ > 0; }
    void OutputSingleRun(KsSortOutput& out, KsProgressInterface* progress,
                         std::uint32_t& counter) override;

private:
    void AllocateArray();
    void VerifyRecordLength(std::uint32_t length);
    void FillHeapA();
    // Writes the records left in the heap once the input has ended, moving the parked
    // records to the front; returns how many are parked.
    int DrainActive(KsSortOutput& out, KsProgressInterface* progress, std::uint32_t& counter,
                    int active, int parked);
    void WriteSmallest(KsSortOutput& out, KsProgressInterface* progress, std::uint32_t& counter);
    // Reads the input's next record into the node.
    void ReadInto(KsSortNode& node);

    KsSortInput* input_ = nullptr;
    KsSortOrder order_;
    std::unique_ptr<char[]> store_;
    std::uint32_t recordLength_;
    std::vector<KsSortNode> heap_;
    KsSortNode spare_;
    int held_ = 0;
    int heapSize_;
};

/// Merges one run from each input into one run (see the file notes).
class KsSortRunConsolidator : public KsSortRunSource {
public:
    /// Room for `capacity` inputs of records of `recordLength` bytes.
    KsSortRunConsolidator(int capacity, std::uint32_t recordLength);
    /// The order of the next merge; must outlive it.
    void SetCriterion(const KsSortCriterion& criterion) { order_ = KsSortOrder(criterion); }
    /// Adds an input of the consolidator's record length; it must outlive its use.
    void AddInput(KsSortInput& input);
    /// Reads the first record of each input (dropping those at their end) into the heap.
    void LoadHeap();
    /// Copies the smallest record into the spare slot; done after LoadHeap.
    void CopyRootToSpare();
    /// The inputs that still have records.
    int GetInputCount() const { return count_; }
    bool HasData() const override { return count_ > 0; }
    void OutputSingleRun(KsSortOutput& out, KsProgressInterface* progress,
                         std::uint32_t& counter) override;

private:
    struct Entry {
        char* record;
        KsSortInput* input;
    };
    void AllocateArrays();
    // Reads the root's next record; false when the root's run (or input) has ended and
    // it has been moved behind position `last`.
    bool LoadNextRecordForRoot(int last);

    KsSortOrder order_;
    std::unique_ptr<char[]> store_;
    std::vector<Entry> heap_;
    char* spare_ = nullptr;
    std::uint32_t recordLength_;
    int capacity_;
    int count_ = 0;
};
