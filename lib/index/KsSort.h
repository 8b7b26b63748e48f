#pragma once
/// @file
/// The external sort: orders any number of fixed-length records by a byte-wise criterion
/// with a bounded amount of memory and a set of temporary files.
///
///   1. Run building: replacement selection over a heap of "nodes in memory" records writes
///      ascending runs, in turn, to the first half of the temporary files.
///   2. Merge passes: while more runs exist than files in a half, the runs of the first half
///      are merged into the second half (one run from each file into one longer run), then
///      the halves swap roles. Each pass divides the run count by half the file count.
///   3. Final merge: the at most half-count runs left are merged into the real output.
///
/// The temporary files ("QJsrt..." in the sort's directory, else the system's temporary
/// directory) are made through the given KsIOFactory and are deleted when the sort ends,
/// whether it succeeds, fails or is cancelled.
///
/// Memory: run building holds nodes + 1 records, each merge (files / 2) + 1 records, and the
/// temporary files share `cacheSize` bytes as their buffers.

#include <cstdint>
#include <memory>
#include <vector>

#include "core/KsString.h"
#include "io/KsIOFactory.h"

class KsProgressInterface;
class KsSortIOWrapper;

/// The order of the records of a sort.
class KsSortCriterion {
public:
    virtual ~KsSortCriterion() = default;
    /// @{
    /// How record `a` compares with record `b` (both of the sort's record length).
    virtual bool IsEqual(const void* a, const void* b) const = 0;
    virtual bool IsLess(const void* a, const void* b) const = 0;
    virtual bool IsGreater(const void* a, const void* b) const = 0;
    /// @}
    /// A copy owned by the caller.
    virtual std::unique_ptr<KsSortCriterion> Clone() const = 0;
};

/// Orders records by their first `keyLength` bytes as unsigned bytes.
class KsSortCKey : public KsSortCriterion {
public:
    /// Compares the first `keyLength` bytes.
    explicit KsSortCKey(std::uint32_t keyLength) : keyLength_(keyLength) {}
    bool IsEqual(const void* a, const void* b) const override;
    bool IsLess(const void* a, const void* b) const override;
    bool IsGreater(const void* a, const void* b) const override;
    std::unique_ptr<KsSortCriterion> Clone() const override;
    /// The bytes compared.
    std::uint32_t GetKeyLength() const { return keyLength_; }

private:
    std::uint32_t keyLength_;
};

/// A source of records of one length.
class KsSortInput {
public:
    virtual ~KsSortInput() = default;
    /// Whether every record has been read.
    virtual bool IsAtEnd() = 0;
    /// Copies the next record into `buffer` (GetRecordLength() bytes).
    virtual void GetNextRecord(void* buffer) = 0;
    /// The number of records when known, else 0.
    virtual std::uint32_t GetRecordCount() { return 0; }
    /// The bytes of every record.
    virtual std::uint32_t GetRecordLength() = 0;
    /// Called once run building has read every record.
    virtual void Rewind() = 0;
};

/// A sink of records of one length.
class KsSortOutput {
public:
    virtual ~KsSortOutput() = default;
    /// Takes the next record in sorted order (`length` bytes, valid during the call).
    virtual void PutNextRecord(std::uint32_t length, const void* record) = 0;
    /// Called once after the last record.
    virtual void Finish() = 0;
};

/// An external merge sort: runs sorted in memory go to temporary files (from the file
/// seam, named with kTempPrefix in the temporary folder) and are merged until one run is
/// left. The temporary files are deleted when the sort ends, also after a failure.
class KsSort {
public:
    /// The sort's name prefix of its temporary files.
    static constexpr const char* kTempPrefix = "QJsrt";
    /// @{
    /// The smallest number of records in memory, of temporary files and of cache bytes per
    /// file.
    static constexpr std::uint32_t kMinimumNodes = 4;
    static constexpr std::uint32_t kMinimumFiles = 4;
    static constexpr std::uint32_t kMinimumCachePerFile = 8192;
    /// @}

    /// `fileCount` is rounded down to an even number and must be at least 4; `cacheSize` 0
    /// means 8 KiB per file. The criterion and the factory must outlive the sort.
    KsSort(KsSortCriterion& criterion, const char* tempDirectory, unsigned fileCount,
           unsigned nodesInMemory, unsigned cacheSize,
           KsIOFactory& factory = KsIOFactory::Default());
    /// @{
    /// Not copyable.
    KsSort(const KsSort&) = delete;
    KsSort& operator=(const KsSort&) = delete;
    /// @}
    virtual ~KsSort();

    /// Sorts every record of `input` into `output`. An empty input touches nothing: the
    /// output is not finished and no file is made.
    virtual void Sort(KsSortInput& input, KsSortOutput& output, KsProgressInterface& progress);

    /// @{
    /// The settings in force: temporary files, records in memory, cache bytes per file.
    std::uint32_t GetFileCount() const { return fileCount_; }
    std::uint32_t GetNodesInMemory() const { return nodesInMemory_; }
    std::uint32_t GetCacheSize() const { return cacheSize_; }
    /// @}

    /// Nodes and cache for a sort of records of `recordLength` bytes over `fileCount` files
    /// that keeps its records and file buffers within `memoryBytes` together.
    struct Limits {
        /// @{
        /// The constructor's arguments of the same names.
        std::uint32_t nodesInMemory = 0;
        std::uint32_t cacheSize = 0;
        /// @}
    };
    /// The Limits of a sort of records of `recordLength` bytes over `fileCount` files
    /// within `memoryBytes`.
    static Limits LimitsFor(std::uint64_t memoryBytes, std::uint32_t recordLength,
                            std::uint32_t fileCount);

protected:
    /// Writes the initial runs to the first half of the files; returns their number.
    std::uint32_t CreateInitialRuns(KsSortInput& input, KsProgressInterface& progress);
    /// Merges the runs until one is left and hands it to `output`.
    void MergeRuns(KsSortOutput& output, std::uint32_t runCount, KsProgressInterface& progress);

private:
    // Refuses records of no length and a key longer than the records.
    void CheckRecordLength(std::uint32_t recordLength) const;
    void CreateTemporaryFiles();
    // Closes and deletes the temporary files; `report` raises a failed delete.
    void ReleaseTemporaryFiles(bool report);

    KsSortCriterion* criterion_;
    KsString tempDirectory_;
    std::uint32_t nodesInMemory_;
    std::uint32_t cacheSize_;
    std::uint32_t fileCount_;
    KsIOFactory& factory_;
    std::vector<std::unique_ptr<KsSortIOWrapper>> files_;
    std::vector<KsString> fileNames_;
    std::uint32_t recordLength_ = 0;
};
