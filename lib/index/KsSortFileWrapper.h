#pragma once
/// @file
/// Sorting a table by a list of its fields.
///
/// KsSortFileWrapper is both the source and the sink of the sort. As a source it reads the
/// table's records in turn; each sort record is the comparable key of the listed fields
/// (each field's in turn; a descending field's with every bit inverted) followed by the
/// record's image, so a KsSortCKey over GetKeyLength() bytes orders it. As a sink it
/// writes the record images, in the order they come, to a new data file beside the table
/// ("<data file>.QJsrt..." in the table's folder, see KsReplacementFile); Commit puts that file in
/// the place of the table's data file in one rename. Until then the table is untouched, so a sort
/// that fails or is cancelled at any point leaves the table with its records in their old order,
/// and the new file is deleted with the wrapper.
///
/// KsSortTable runs the whole operation under the table's write lock and deletes the table's index
/// files, which describe the old order, before the records move.

#include <cstdint>
#include <memory>
#include <vector>

#include "core/KsString.h"
#include "core/KsVector.h"
#include "index/KsSort.h"
#include "io/KsIOInterface.h"
#include "io/KsReplacementFile.h"

class KsFile;
class KsFileRecord;
class KsProgressInterface;
class KsRecordKey;

/// One field of a sort order.
struct KsSortField {
    /// The field number.
    std::uint16_t number = 0;
    /// Whether the field orders downwards.
    bool descending = false;
};

/// The table side of a sort: reads the table's records as sort records (the comparable
/// key, then the record's bytes) and writes the sorted ones to a new data file, which
/// Commit puts in place of the old one. Without Commit the new file is deleted.
class KsSortFileWrapper : public KsSortInput, public KsSortOutput {
public:
    /// Checks the fields (at least one, each a field of the table with a type that forms
    /// keys) and the record length before anything is read or written.
    KsSortFileWrapper(KsFile& file, const std::vector<KsSortField>& fields);
    /// Ascending fields.
    KsSortFileWrapper(KsFile& file, const KsVector<std::uint16_t>& fieldNumbers);
    ~KsSortFileWrapper() override;
    /// @{
    /// Not copyable.
    KsSortFileWrapper(const KsSortFileWrapper&) = delete;
    KsSortFileWrapper& operator=(const KsSortFileWrapper&) = delete;
    /// @}

    /// Bytes of the comparable key in front of each sort record.
    std::uint32_t GetKeyLength() const { return keyLength_; }

    bool IsAtEnd() override;
    void GetNextRecord(void* buffer) override;
    std::uint32_t GetRecordCount() override;
    std::uint32_t GetRecordLength() override { return keyLength_ + imageLength_; }
    void Rewind() override { recordNumber_ = 0; }
    void PutNextRecord(std::uint32_t length, const void* record) override;
    /// Writes the new data file out and closes it.
    void Finish() override;
    /// Makes the sorted records the table's: the new data file replaces the old one. Raises
    /// unless every record of the table was written and finished.
    void Commit();

private:
    void BuildKeys(const std::vector<KsSortField>& fields);
    void OpenReplacement();
    // Deletes the new data file unless it was committed; never raises.
    void DiscardReplacement() noexcept;
    // Deletes the new data file once its owner's lock is given up; never raises.
    void DeleteReplacementQuietly() noexcept;

    KsFile& file_;
    std::unique_ptr<KsFileRecord> record_;
    std::int32_t recordNumber_ = 0;
    std::uint32_t keyLength_ = 0;
    std::uint32_t imageLength_ = 0;
    // The key over the fields (KsRecordKeyDescending::Extract) and their numbers.
    std::unique_ptr<KsRecordKey> key_;
    std::vector<std::uint16_t> fieldNumbers_;
    // The new data file beside the table, owned (locked) by this process while it is made.
    std::unique_ptr<KsReplacementFile> replacementFile_;
    std::unique_ptr<KsIOInterface> replacement_;
    std::int64_t written_ = 0;
    bool finished_ = false;
};

/// Where and within what memory a table is sorted.
struct KsTableSortSettings {
    /// The run heap, the merge heap and the temporary files' buffers together.
    std::uint64_t memoryBytes = 64ull << 20;
    /// The temporary files' folder; null or empty: the system's temporary directory.
    const char* tempDirectory = nullptr;
    /// The number of temporary files (even, at least 4).
    std::uint32_t fileCount = 8;
    /// Take the table's write lock for the sort; off for a caller that holds the data file
    /// locked through a handle of its own.
    bool lockTable = true;
};

/// Sorts the records of the open table by `fields` in place, reporting to `progress`.
void KsSortTable(KsFile& file, const std::vector<KsSortField>& fields,
                 KsProgressInterface& progress, const KsTableSortSettings& settings = {});
