// The table's side of its indexes: which fields are indexed, when index files are read,
// built, written back and deleted, and the updates of loaded indexes after record changes.
//
// An index file is trusted only when it was written for the table as it is: one written
// for another record count, field type or key length, or one that does not read back
// whole, is deleted and the index built again from the records. An index file is always
// written to a new file that then replaces the old one, so it is the old index or the new,
// and a file that a loaded index maps stays as it was while mapped. A mapped index is
// checked whole before its first change; one that fails then is dropped with its file, as
// one that fails to load.
//
// An index that is not loaded when a record changes would go stale on disk, so every
// record change first loads the index files of the indexed fields (written for the record
// count before the change) and updates them with the loaded ones; with indexing off, a
// change deletes the index files instead, and the next GetIndex builds them afresh.

#include "files/KsTableIndexes.h"

#include <string>

#include "core/KsCallpath.h"
#include "core/KsException.h"
#include "files/KsFieldTypeLetters.h"
#include "files/KsFile.h"
#include "index/KsBlobIndex.h"
#include "index/KsIndex.h"
#include "index/KsRecordKey.h"
#include "index/KsSortFileWrapper.h"
#include "progress/KsNullProgress.h"
#include "progress/KsProgressInterface.h"

namespace {

// Call paths name the table class, whose operations these are.
constexpr const char* kClass = "KsFile";
// Records between two questions to the progress object while blobs are indexed.
constexpr std::int32_t kBlobReportInterval = 128;
// Progress positions of one field in VerifyIndexExists.
constexpr std::int32_t kVerifyStepsPerField = 100;

KsProgressInterface& ProgressOrNull(KsProgressInterface* progress) {
    return progress != nullptr ? *progress : KsNullProgress::Instance();
}

}  // namespace

KsTableIndexes::KsTableIndexes(KsFile& table) : table_(table) {}

KsTableIndexes::~KsTableIndexes() = default;

// ---- Which fields, which slots

std::uint16_t KsTableIndexes::IndexedFieldOf(std::uint16_t fieldNumber) const {
    const KsField& field = table_.GetField(fieldNumber);
    return field.IsMapped()
               ? static_cast<std::uint16_t>(table_.GetFieldNumber(field.GetMappedFieldName()))
               : fieldNumber;
}

bool KsTableIndexes::IsIndexedField(std::uint16_t fieldNumber) const {
    const KsField& field = table_.GetField(fieldNumber);
    return field.GetIndexCount() > 0 && !field.IsMapped();
}

std::unique_ptr<KsIndex>& KsTableIndexes::IndexSlot(std::uint16_t fieldNumber) {
    (void)table_.GetField(fieldNumber);  // the range check
    if (indexes_.size() != table_.GetFields().size()) {
        indexes_.resize(table_.GetFields().size());
    }
    return indexes_[fieldNumber];
}

KsIndex* KsTableIndexes::GetLoadedIndex(std::uint16_t fieldNumber) const {
    std::uint16_t indexed = IndexedFieldOf(fieldNumber);
    return indexed < indexes_.size() ? indexes_[indexed].get() : nullptr;
}

std::unique_ptr<KsIndex> KsTableIndexes::GetNewIndex(char type, std::uint16_t length,
                                                     std::int32_t recordCount) {
    return KsCallpath("GetNewIndex()", kClass, [&]() -> std::unique_ptr<KsIndex> {
        if (type != KS_BLOB_FLD) {
            return std::make_unique<KsIndex>(type, length, recordCount);
        }
        if (!table_.GetBlobFile()) {
            KsException::Generate("Cannot create index on blob field without a blob file", kClass);
        }
        return std::make_unique<KsBlobIndex>(*table_.GetBlobFile(), recordCount);
    });
}

// ---- Building, reading, writing

void KsTableIndexes::AddIndex(std::uint16_t fieldNumber, KsProgressInterface* progress) {
    KsCallpath("AddIndex()", kClass, [&] {
        std::unique_ptr<KsIndex>& slot = IndexSlot(fieldNumber);
        if (slot) {
            KsException::Generate("Index already exists", kClass);
        }
        if (table_.GetField(fieldNumber).IsMapped()) {
            KsException::Generate("Cannot create an index on a mapped field", kClass);
        }
        KsProgressInterface& report = ProgressOrNull(progress);
        std::unique_ptr<KsIndex> index =
            table_.GetField(fieldNumber).GetType() == KS_BLOB_FLD
                ? BuildBlobIndex(fieldNumber, report)
                : std::make_unique<KsIndex>(table_, fieldNumber, &report);
        slot = std::move(index);
        std::int32_t current = table_.GetCurrentRecordNumber();
        if (current > 0 && current <= table_.GetNumRecords()) {
            table_.GotoRecord(current);
        }
    });
}

void KsTableIndexes::AddIndex(const char* fieldName, KsProgressInterface* progress) {
    KsCallpath("AddIndex()", kClass, [&] {
        table_.AddIndex(static_cast<std::uint16_t>(table_.GetFieldNumber(fieldName)), progress);
    });
}

std::unique_ptr<KsIndex> KsTableIndexes::BuildBlobIndex(std::uint16_t fieldNumber,
                                                        KsProgressInterface& progress) {
    const KsField& field = table_.GetField(fieldNumber);
    std::int32_t count = table_.GetNumRecords();
    std::unique_ptr<KsIndex> index = GetNewIndex(KS_BLOB_FLD, KsBlobIndex::kPieceLength, count);
    auto& blobIndex = static_cast<KsBlobIndex&>(*index);
    SetTitlef(progress, 1023, "Indexing %d blobs...", count);
    SetDetailf(progress, 1023, "Field \"%s\" of \"%s\"", field.GetName(), table_.GetFileName());
    progress.SetRange(1, count);
    std::unique_ptr<KsFileRecord> record = table_.GetNewRecord();
    for (std::int32_t r = 1; r <= count; ++r) {
        table_.GotoRecord(r, record.get());
        blobIndex.InsertRecord(r, record->GetBLOBIndex(fieldNumber));
        if (r % kBlobReportInterval == 0) {
            progress.SetPosition(r);
            if (!progress.ShouldContinue()) {
                KsException::GenerateAs<KsIndexBuildCanceled>(
                    "Build of blob index on field \"%s\" of file \"%s\" was cancelled by user.",
                    kClass, field.GetName(), table_.GetFileName());
            }
        }
    }
    return index;
}

std::unique_ptr<KsIndex> KsTableIndexes::ReadIndexFile(std::uint16_t fieldNumber,
                                                       std::int32_t recordCount) {
    const KsField& field = table_.GetField(fieldNumber);
    std::unique_ptr<KsIndex> index =
        GetNewIndex(field.GetType(), static_cast<std::uint16_t>(field.GetLength()), recordCount);
    std::unique_ptr<KsIOInterface> file =
        table_.GetFactory().Open(table_.GetIndexFileName(fieldNumber).GetCString(), IO_READ);
    index->Open(*file, false);
    return index;
}

KsIndex* KsTableIndexes::GetIndex(std::uint16_t fieldNumber, bool rebuild) {
    return KsCallpath("GetIndex()", kClass, [&] {
        std::uint16_t indexed = IndexedFieldOf(fieldNumber);
        if (table_.GetField(indexed).GetIndexCount() <= 0) {
            KsException::Generate("Index for field %hd of file \"%s\" does not exist", kClass,
                                  static_cast<std::int16_t>(fieldNumber), table_.GetFileName());
        }
        std::unique_ptr<KsIndex>& slot = IndexSlot(indexed);
        if (slot && rebuild) {
            slot.reset();
        }
        if (!slot && !rebuild && table_.IndexFileExists(indexed)) {
            try {
                slot = ReadIndexFile(indexed, table_.GetNumRecords());
            } catch (const KsException&) {
                // Written for another table state, or damaged: built again below (and
                // written over the file when the table is saved).
                if ((table_.openFlags_ & IO_WRITE) != 0) {
                    DeleteIndexFile(indexed);
                }
            }
        }
        if (!slot) {
            table_.AddIndex(indexed, nullptr);
        }
        return slot.get();
    });
}

void KsTableIndexes::WriteIndexFile(KsIndex& index, const char* name, std::int16_t version) {
    table_.WriteReplacing(name, KsFile::kIndexTag, [&](const char* fresh) {
        std::unique_ptr<KsIOInterface> file =
            table_.GetFactory().Open(fresh, IO_WRITE | IO_TRUNCATE);
        index.Write(*file, version);
        file->Close();
    });
}

void KsTableIndexes::SaveIndex(std::uint16_t fieldNumber, std::int16_t version) {
    KsCallpath("SaveIndex()", kClass, [&] {
        std::uint16_t indexed = IndexedFieldOf(fieldNumber);
        KsIndex* index = GetLoadedIndex(indexed);
        if (index == nullptr) {
            KsException::Generate("Index for field %hd of file \"%s\" is not loaded", kClass,
                                  static_cast<std::int16_t>(fieldNumber), table_.GetFileName());
        }
        WriteIndexFile(*index, table_.GetIndexFileName(indexed).GetCString(), version);
        index->SetModified(false);
    });
}

void KsTableIndexes::SaveIndexes() {
    KsCallpath("SaveIndexes()", kClass, [&] {
        for (std::size_t i = 0; i < indexes_.size(); ++i) {
            if (indexes_[i] && indexes_[i]->IsModified()) {
                SaveIndex(static_cast<std::uint16_t>(i));
            }
        }
    });
}

void KsTableIndexes::BuildEmptyIndexes(const char* name) {
    KsCallpath("BuildEmptyIndexes()", kClass, [&] {
        BuildEmptyIndexesFor(table_.GetFields(), name != nullptr ? name : table_.GetFileName());
    });
}

void KsTableIndexes::BuildEmptyIndexesFor(const KsFieldList& fields, const char* name) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const KsField& field = *fields[static_cast<std::int32_t>(i)];
        if (field.GetIndexCount() > 0 && !field.IsMapped()) {
            KsIndex index(field.GetType(), static_cast<std::uint16_t>(field.GetLength()), 0);
            WriteIndexFile(
                index, table_.GetIndexFileName(static_cast<std::uint16_t>(i), name).GetCString(),
                KsIndex::kVersion);
        }
    }
}

// ---- Checking, loading, releasing, deleting

void KsTableIndexes::VerifyOneIndex(std::uint16_t fieldNumber, bool rebuild,
                                    KsProgressInterface& progress, std::int16_t version) {
    const KsField& field = table_.GetField(fieldNumber);
    if (field.IsMapped()) {
        table_.GetFieldNumber(field.GetMappedFieldName());
        return;
    }
    KsString name = table_.GetIndexFileName(fieldNumber);
    bool exists = table_.GetFactory().Exists(name.GetCString());
    if (!IsIndexedField(fieldNumber)) {
        if (exists) {
            table_.GetFactory().Delete(name.GetCString());
        }
        return;
    }
    if (exists && rebuild) {
        IndexSlot(fieldNumber).reset();
        table_.GetFactory().Delete(name.GetCString());
        exists = false;
    }
    if (!exists) {
        IndexSlot(fieldNumber).reset();
        progress.SetSubRange(progress.GetPosition(), progress.GetPosition() + kVerifyStepsPerField);
        table_.AddIndex(fieldNumber, progress.GetSubProgress());
        SaveIndex(fieldNumber, version);
    }
}

void KsTableIndexes::VerifyIndexExists(bool rebuild, KsProgressInterface* progress,
                                       std::int16_t version) {
    KsCallpath("VerifyIndexExists()", kClass, [&] {
        KsProgressInterface& report = ProgressOrNull(progress);
        std::int32_t indexedCount = 0;
        for (std::int32_t i = 0; i < table_.GetFieldCount(); ++i) {
            indexedCount += IsIndexedField(static_cast<std::uint16_t>(i)) ? 1 : 0;
        }
        report.SetRange(0, kVerifyStepsPerField * indexedCount);
        report.SetPosition(0);
        std::string failures;
        std::int32_t handled = 0;
        for (std::int32_t i = 0; i < table_.GetFieldCount() && report.ShouldContinue(); ++i) {
            auto number = static_cast<std::uint16_t>(i);
            const KsField& field = table_.GetField(i);
            if (IsIndexedField(number)) {
                report.SetPosition(kVerifyStepsPerField * handled);
                SetTitlef(report, 1023, "%hd out of %hd", static_cast<std::int16_t>(handled + 1),
                          static_cast<std::int16_t>(indexedCount));
                ++handled;
            }
            try {
                VerifyOneIndex(number, rebuild, report, version);
            } catch (const KsFieldNotFoundException&) {
                failures += std::string(failures.empty() ? "" : "\n") + "Field \"" +
                            field.GetName() + "\" is mapped to a non-existent field.";
            } catch (const KsException& error) {
                failures += std::string(failures.empty() ? "" : "\n") +
                            "Error in building index for field \"" + field.GetName() +
                            "\", error = " + error.GetErrorMessage();
            }
        }
        if (!failures.empty()) {
            KsException::Generate("%s", kClass, failures.c_str());
        }
    });
}

std::vector<std::uint16_t> KsTableIndexes::RepairIndexFiles() {
    return KsCallpath("RepairIndexFiles()", kClass, [&] {
        std::vector<std::uint16_t> built;
        for (std::int32_t i = 0; i < table_.GetFieldCount(); ++i) {
            auto number = static_cast<std::uint16_t>(i);
            const KsField& field = table_.GetField(i);
            if (field.IsMapped()) {
                continue;
            }
            if (!IsIndexedField(number)) {
                DeleteIndexFile(number);
                continue;
            }
            std::unique_ptr<KsIndex>& slot = IndexSlot(number);
            slot.reset();
            // Built from the records whatever the file holds: a power failure may bring
            // back a file deleted before a change, for the same record count.
            table_.AddIndex(number, nullptr);
            bool agrees = false;
            if (table_.IndexFileExists(number)) {
                try {
                    agrees = ReadIndexFile(number, table_.GetNumRecords())->IsSameAs(*slot);
                } catch (const KsException&) {
                    // Damaged, or written for other records.
                }
            }
            if (!agrees) {
                SaveIndex(number);
                built.push_back(number);
            }
        }
        return built;
    });
}

void KsTableIndexes::LoadIndexes() {
    KsCallpath("LoadIndexes()", kClass, [&] {
        VerifyIndexExists(false, nullptr, KsIndex::kVersion);
        for (std::int32_t i = 0; i < table_.GetFieldCount(); ++i) {
            if (IsIndexedField(static_cast<std::uint16_t>(i))) {
                table_.GetIndex(static_cast<std::uint16_t>(i));
            }
        }
    });
}

void KsTableIndexes::ClearIndexes(bool discard) {
    KsCallpath("ClearIndexes()", kClass, [&] {
        if (!discard) {
            SaveIndexes();
        }
        indexes_.clear();
        if (discard) {
            DeleteIndexes();
        }
    });
}

void KsTableIndexes::ReleaseAll() {
    indexes_.clear();
}

void KsTableIndexes::DeleteIndexes() {
    KsCallpath("DeleteIndexes()", kClass, [&] {
        if ((table_.openFlags_ & IO_WRITE) != 0) {
            for (std::int32_t i = 0; i < table_.GetFieldCount(); ++i) {
                if (IsIndexedField(static_cast<std::uint16_t>(i)) &&
                    table_.IndexFileExists(static_cast<std::uint16_t>(i))) {
                    // Built again at the close, or by the repair when the process dies first.
                    table_.MarkIndexFilesOut();
                    break;
                }
            }
        }
        indexes_.clear();
        DeleteIndexesFor(table_.GetFileName(), table_.GetFieldCount());
    });
}

void KsTableIndexes::DeleteIndexFile(std::uint16_t fieldNumber) {
    KsString name = table_.GetIndexFileName(fieldNumber);
    if (table_.GetFactory().Exists(name.GetCString())) {
        table_.GetFactory().Delete(name.GetCString());
    }
}

void KsTableIndexes::DeleteIndexesFor(const char* name, std::int32_t count) {
    KsCallpath("DeleteIndexesFor()", kClass, [&] {
        for (std::int32_t i = 0; i < count; ++i) {
            KsString index = table_.GetIndexFileName(static_cast<std::uint16_t>(i), name);
            if (table_.GetFactory().Exists(index.GetCString())) {
                table_.GetFactory().Delete(index.GetCString());
            }
        }
    });
}

void KsTableIndexes::RemoveIndex(std::uint16_t fieldNumber) {
    KsCallpath("RemoveIndex(unsigned short)", kClass, [&] {
        IndexSlot(fieldNumber).reset();
        DeleteIndexFile(fieldNumber);
    });
}

void KsTableIndexes::RemoveIndex(const char* fieldName) {
    KsCallpath("RemoveIndex(char *)", kClass, [&] {
        table_.RemoveIndex(static_cast<std::uint16_t>(table_.GetFieldNumber(fieldName)));
    });
}

void KsTableIndexes::CopyIndexes(const char* sourceName, const char* targetName) {
    KsCallpath("CopyIndexes()", kClass, [&] {
        for (std::int32_t i = 0; i < table_.GetFieldCount(); ++i) {
            KsString from = table_.GetIndexFileName(static_cast<std::uint16_t>(i), sourceName);
            if (table_.GetFactory().Exists(from.GetCString())) {
                KsString to = table_.GetIndexFileName(static_cast<std::uint16_t>(i), targetName);
                KsIOInterface::Copy(to.GetCString(), from.GetCString(), nullptr,
                                    table_.GetFactory());
            }
        }
    });
}

bool KsTableIndexes::IndexFileExists(std::uint16_t fieldNumber) {
    return KsCallpath("IndexFileExists", kClass, [&] {
        return table_.GetFactory().Exists(table_.GetIndexFileName(fieldNumber).GetCString());
    });
}

void KsTableIndexes::SetIndexingState(bool enabled) {
    KsCallpath("SetIndexingState()", kClass, [&] {
        if (!enabled) {
            ClearIndexes(false);
        }
        indexingEnabled_ = enabled;
    });
}

// ---- Sorting

void KsTableIndexes::Sort(const KsVector<std::uint16_t>& fieldNumbers,
                          KsProgressInterface* progress, bool rebuildIndexes) {
    KsCallpath("Sort()", kClass, [&] {
        std::vector<KsSortField> fields;
        for (std::uint16_t number : fieldNumbers) {
            fields.push_back(KsSortField{number, false});
        }
        // KsSortTable deletes the index files, which describe the old order.
        KsSortTable(table_, fields, ProgressOrNull(progress));
        if (!rebuildIndexes) {
            return;
        }
        for (std::int32_t i = 0; i < table_.GetFieldCount(); ++i) {
            auto number = static_cast<std::uint16_t>(i);
            if (IsIndexedField(number)) {
                table_.AddIndex(number, progress);
                SaveIndex(number);
            }
        }
    });
}

// ---- Keeping indexes in step with record changes

void KsTableIndexes::UpdateIndexes(std::int32_t recordsBefore,
                                   const std::function<void(KsIndex&, std::uint16_t)>& update) {
    for (std::int32_t i = 0; i < table_.GetFieldCount(); ++i) {
        auto number = static_cast<std::uint16_t>(i);
        if (!IsIndexedField(number)) {
            continue;
        }
        std::unique_ptr<KsIndex>& slot = IndexSlot(number);
        if (!indexingEnabled_ || table_.GetField(i).GetType() == KS_BLOB_FLD) {
            slot.reset();
            if (table_.IndexFileExists(number)) {
                table_.MarkIndexFilesOut();
                DeleteIndexFile(number);
            }
            continue;
        }
        if (!slot && table_.IndexFileExists(number)) {
            try {
                slot = ReadIndexFile(number, recordsBefore);
            } catch (const KsException&) {
                DeleteIndexFile(number);  // stale or damaged: GetIndex builds it afresh
            }
        }
        if (slot && !slot->IsModified()) {
            try {
                slot->Unmap();  // a change needs all of a mapped file checked
            } catch (const KsException&) {
                slot.reset();
                DeleteIndexFile(number);
            }
        }
        if (slot) {
            // Once its index changes, the file no longer describes the records: it goes
            // now and is written afresh when the table closes, so a process that dies in
            // between leaves no stale index file to be trusted.
            if (!slot->IsModified()) {
                if (table_.IndexFileExists(number)) {
                    table_.MarkIndexFilesOut();
                    DeleteIndexFile(number);
                }
                slot->SetModified(true);
            }
            update(*slot, number);
        }
    }
}

void KsTableIndexes::IndexRecordAdded(std::int32_t n, const KsFileRecord& record) {
    KsCallpath("IndexRecordAdded()", kClass, [&] {
        UpdateIndexes(table_.GetNumRecords() - 1, [&](KsIndex& index, std::uint16_t field) {
            index.InsertRecord(n, KsRecordKey::ComparableKeyOf(record, field).data());
        });
    });
}

void KsTableIndexes::IndexRecordDeleted(std::int32_t n) {
    KsCallpath("IndexRecordDeleted()", kClass, [&] {
        UpdateIndexes(table_.GetNumRecords() + 1,
                      [&](KsIndex& index, std::uint16_t) { index.DeleteRecord(n); });
    });
}

void KsTableIndexes::IndexRecordModified(std::int32_t n, const KsFileRecord& record) {
    KsCallpath("IndexRecordModified()", kClass, [&] {
        UpdateIndexes(table_.GetNumRecords(), [&](KsIndex& index, std::uint16_t field) {
            index.UpdateRecord(n, KsRecordKey::ComparableKeyOf(record, field).data());
        });
    });
}
