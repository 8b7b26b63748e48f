#pragma once
/// @file
/// KsTableIndexes is a table's side of its indexes: one slot per field for the loaded or
/// built index, which fields are indexed, when index files are read, built, written back and
/// deleted, and the updates of loaded indexes after record changes. A KsFile owns one and
/// forwards its index operations to it; see KsFile for what each operation does.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/KsVector.h"
#include "files/KsFileRecord.h"

class KsFile;
class KsIndex;
class KsProgressInterface;

/// The indexes of one table (see the file notes). Errors and call paths name the table
/// class, whose operations these are.
class KsTableIndexes {
public:
    /// The indexes of `table`, which owns this object; none loaded, indexing on.
    explicit KsTableIndexes(KsFile& table);
    /// @{
    /// Not copyable: the indexes belong to one table.
    KsTableIndexes(const KsTableIndexes&) = delete;
    KsTableIndexes& operator=(const KsTableIndexes&) = delete;
    /// @}
    ~KsTableIndexes();

    /// @{
    /// The table's index operations of the same names (see KsFile).
    void AddIndex(std::uint16_t fieldNumber, KsProgressInterface* progress);
    void AddIndex(const char* fieldName, KsProgressInterface* progress);
    KsIndex* GetIndex(std::uint16_t fieldNumber, bool rebuild);
    bool IndexFileExists(std::uint16_t fieldNumber);
    void RemoveIndex(std::uint16_t fieldNumber);
    void RemoveIndex(const char* fieldName);
    void Sort(const KsVector<std::uint16_t>& fieldNumbers, KsProgressInterface* progress,
              bool rebuildIndexes);
    void BuildEmptyIndexes(const char* name);
    void BuildEmptyIndexesFor(const KsFieldList& fields, const char* name);
    std::unique_ptr<KsIndex> GetNewIndex(char type, std::uint16_t length, std::int32_t recordCount);
    KsIndex* GetLoadedIndex(std::uint16_t fieldNumber) const;
    void VerifyIndexExists(bool rebuild, KsProgressInterface* progress, std::int16_t version);
    void LoadIndexes();
    void SaveIndexes();
    void SaveIndex(std::uint16_t fieldNumber, std::int16_t version = 510);
    void ClearIndexes(bool discard);
    void DeleteIndexes();
    void DeleteIndexesFor(const char* name, std::int32_t count);
    void CopyIndexes(const char* sourceName, const char* targetName);
    bool GetIndexingState() const { return indexingEnabled_; }
    void SetIndexingState(bool enabled);
    void IndexRecordAdded(std::int32_t n, const KsFileRecord& record);
    void IndexRecordDeleted(std::int32_t n);
    void IndexRecordModified(std::int32_t n, const KsFileRecord& record);
    /// @}

    /// The field whose index serves field `fieldNumber`: the field it is mapped to, else
    /// itself.
    std::uint16_t IndexedFieldOf(std::uint16_t fieldNumber) const;
    /// Whether the field has an index of its own (indexed and not mapped).
    bool IsIndexedField(std::uint16_t fieldNumber) const;
    /// Builds each indexed field's index from the records (loading it), writes it over a
    /// file that does not hold the same, and deletes the index files of unindexed fields;
    /// returns the fields whose files were written.
    std::vector<std::uint16_t> RepairIndexFiles();
    /// Releases every loaded index without writing it; the files stay as they are.
    void ReleaseAll();

private:
    std::unique_ptr<KsIndex>& IndexSlot(std::uint16_t fieldNumber);
    std::unique_ptr<KsIndex> ReadIndexFile(std::uint16_t fieldNumber, std::int32_t recordCount);
    std::unique_ptr<KsIndex> BuildBlobIndex(std::uint16_t fieldNumber,
                                            KsProgressInterface& progress);
    void WriteIndexFile(KsIndex& index, const char* name, std::int16_t version);
    void DeleteIndexFile(std::uint16_t fieldNumber);
    void VerifyOneIndex(std::uint16_t fieldNumber, bool rebuild, KsProgressInterface& progress,
                        std::int16_t version);
    // Runs `update` on the index of every indexed field that the change of a record
    // concerns, loading index files written for recordsBefore records first; see the .cpp.
    void UpdateIndexes(std::int32_t recordsBefore,
                       const std::function<void(KsIndex&, std::uint16_t)>& update);

    KsFile& table_;
    // One slot per field, empty until the field's index is loaded or built.
    std::vector<std::unique_ptr<KsIndex>> indexes_;
    bool indexingEnabled_ = true;
};
