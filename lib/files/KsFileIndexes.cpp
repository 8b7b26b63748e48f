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

#include <string>

#include "core/KsCallpath.h"
#include "core/KsException.h"
#include "files/KsFile.h"
#include "index/KsBlobIndex.h"
#include "index/KsIndex.h"
#include "index/KsRecordKey.h"
#include "index/KsSortFileWrapper.h"
#include "progress/KsNullProgress.h"
#include "progress/KsProgressInterface.h"

namespace {

constexpr const char* kClass = "KsFile";
// Records between two questions to the progress object while blobs are indexed.
constexpr std::int32_t kBlobReportInterval = 128;
// Progress positions of one field in VerifyIndexExists.
constexpr std::int32_t kVerifyStepsPerField = 100;

KsProgressInterface& ProgressOrNull(KsProgressInterface* progress) {
    return progress != nullptr ? *progress : KsNullProgress::Instance();
}

}  // namespace

// ---- Which fields, which slots

std::uint16_t KsFile::IndexedFieldOf(std::uint16_t fieldNumber) const {
    const KsField& field = GetField(fieldNumber);
    return field.IsMapped() ? static_cast<std::uint16_t>(GetFieldNumber(field.GetMappedFieldName()))
                            : fieldNumber;
}

bool KsFile::IsIndexedField(std::uint16_t fieldNumber) const {
    const KsField& field = GetField(fieldNumber);
    return field.GetIndexCount() > 0 && !field.IsMapped();
}

std::unique_ptr<KsIndex>& KsFile::IndexSlot(std::uint16_t fieldNumber) {
    (void)GetField(fieldNumber);  // the range check
    if (indexes_.size() != fields_.size()) {
        indexes_.resize(fields_.size());
    }
    return indexes_[fieldNumber];
}

KsIndex* KsFile::GetLoadedIndex(std::uint16_t fieldNumber) const {
    std::uint16_t indexed = IndexedFieldOf(fieldNumber);
    return indexed < indexes_.size() ? indexes_[indexed].get() : nullptr;
}

std::unique_ptr<KsIndex> KsFile::GetNewIndex(char type, std::uint16_t length,
                                             std::int32_t recordCount) {
    return KsCallpath("GetNewIndex()", kClass, [&]() -> std::unique_ptr<KsIndex> {
        if (type != 'B') {
            return std::make_unique<KsIndex>(type, length, recordCount);
        }
        if (!blobFile_) {
            KsException::Generate("Cannot create index on blob field without a blob file", kClass);
        }
        return std::make_unique<KsBlobIndex>(*blobFile_, recordCount);
    });
}

// ---- Building, reading, writing

void KsFile::AddIndex(std::uint16_t fieldNumber, KsProgressInterface* progress) {
    KsCallpath("AddIndex()", kClass, [&] {
        std::unique_ptr<KsIndex>& slot = IndexSlot(fieldNumber);
        if (slot) {
            KsException::Generate("Index already exists", kClass);
        }
        if (GetField(fieldNumber).IsMapped()) {
            KsException::Generate("Cannot create an index on a mapped field", kClass);
        }
        KsProgressInterface& report = ProgressOrNull(progress);
        std::unique_ptr<KsIndex> index =
            GetField(fieldNumber).GetType() == 'B'
                ? BuildBlobIndex(fieldNumber, report)
                : std::make_unique<KsIndex>(*this, fieldNumber, &report);
        slot = std::move(index);
        std::int32_t current = GetCurrentRecordNumber();
        if (current > 0 && current <= GetNumRecords()) {
            GotoRecord(current);
        }
    });
}

void KsFile::AddIndex(const char* fieldName, KsProgressInterface* progress) {
    KsCallpath("AddIndex()", kClass,
               [&] { AddIndex(static_cast<std::uint16_t>(GetFieldNumber(fieldName)), progress); });
}

std::unique_ptr<KsIndex> KsFile::BuildBlobIndex(std::uint16_t fieldNumber,
                                                KsProgressInterface& progress) {
    const KsField& field = GetField(fieldNumber);
    std::int32_t count = GetNumRecords();
    std::unique_ptr<KsIndex> index = GetNewIndex('B', KsBlobIndex::kPieceLength, count);
    auto& blobIndex = static_cast<KsBlobIndex&>(*index);
    SetTitlef(progress, 1023, "Indexing %d blobs...", count);
    SetDetailf(progress, 1023, "Field \"%s\" of \"%s\"", field.GetName(), GetFileName());
    progress.SetRange(1, count);
    std::unique_ptr<KsFileRecord> record = GetNewRecord();
    for (std::int32_t r = 1; r <= count; ++r) {
        GotoRecord(r, record.get());
        blobIndex.InsertRecord(r, record->GetBLOBIndex(fieldNumber));
        if (r % kBlobReportInterval == 0) {
            progress.SetPosition(r);
            if (!progress.ShouldContinue()) {
                KsException::GenerateAs<KsIndexBuildCanceled>(
                    "Build of blob index on field \"%s\" of file \"%s\" was cancelled by user.",
                    kClass, field.GetName(), GetFileName());
            }
        }
    }
    return index;
}

std::unique_ptr<KsIndex> KsFile::ReadIndexFile(std::uint16_t fieldNumber,
                                               std::int32_t recordCount) {
    const KsField& field = GetField(fieldNumber);
    std::unique_ptr<KsIndex> index =
        GetNewIndex(field.GetType(), static_cast<std::uint16_t>(field.GetLength()), recordCount);
    std::unique_ptr<KsIOInterface> file =
        factory_.Open(GetIndexFileName(fieldNumber).GetCString(), IO_READ);
    index->Open(*file, false);
    return index;
}

KsIndex* KsFile::GetIndex(std::uint16_t fieldNumber, bool rebuild) {
    return KsCallpath("GetIndex()", kClass, [&] {
        std::uint16_t indexed = IndexedFieldOf(fieldNumber);
        if (GetField(indexed).GetIndexCount() <= 0) {
            KsException::Generate("Index for field %hd of file \"%s\" does not exist", kClass,
                                  static_cast<std::int16_t>(fieldNumber), GetFileName());
        }
        std::unique_ptr<KsIndex>& slot = IndexSlot(indexed);
        if (slot && rebuild) {
            slot.reset();
        }
        if (!slot && !rebuild && IndexFileExists(indexed)) {
            try {
                slot = ReadIndexFile(indexed, GetNumRecords());
            } catch (const KsException&) {
                // Written for another table state, or damaged: built again below (and
                // written over the file when the table is saved).
                if ((openFlags_ & IO_WRITE) != 0) {
                    DeleteIndexFile(indexed);
                }
            }
        }
        if (!slot) {
            AddIndex(indexed, nullptr);
        }
        return slot.get();
    });
}

void KsFile::WriteIndexFile(KsIndex& index, const char* name, std::int16_t version) {
    WriteReplacing(name, kIndexTag, [&](const char* fresh) {
        std::unique_ptr<KsIOInterface> file = factory_.Open(fresh, IO_WRITE | IO_TRUNCATE);
        index.Write(*file, version);
        file->Close();
    });
}

void KsFile::SaveIndex(std::uint16_t fieldNumber, std::int16_t version) {
    KsCallpath("SaveIndex()", kClass, [&] {
        std::uint16_t indexed = IndexedFieldOf(fieldNumber);
        KsIndex* index = GetLoadedIndex(indexed);
        if (index == nullptr) {
            KsException::Generate("Index for field %hd of file \"%s\" is not loaded", kClass,
                                  static_cast<std::int16_t>(fieldNumber), GetFileName());
        }
        WriteIndexFile(*index, GetIndexFileName(indexed).GetCString(), version);
        index->SetModified(false);
    });
}

void KsFile::SaveIndexes() {
    KsCallpath("SaveIndexes()", kClass, [&] {
        for (std::size_t i = 0; i < indexes_.size(); ++i) {
            if (indexes_[i] && indexes_[i]->IsModified()) {
                SaveIndex(static_cast<std::uint16_t>(i));
            }
        }
    });
}

void KsFile::BuildEmptyIndexes(const char* name) {
    KsCallpath("BuildEmptyIndexes()", kClass,
               [&] { BuildEmptyIndexesFor(fields_, name != nullptr ? name : GetFileName()); });
}

void KsFile::BuildEmptyIndexesFor(const FieldList& fields, const char* name) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const KsField& field = *fields[static_cast<std::int32_t>(i)];
        if (field.GetIndexCount() > 0 && !field.IsMapped()) {
            KsIndex index(field.GetType(), static_cast<std::uint16_t>(field.GetLength()), 0);
            WriteIndexFile(index,
                           GetIndexFileName(static_cast<std::uint16_t>(i), name).GetCString(),
                           KsIndex::kVersion);
        }
    }
}

// ---- Checking, loading, releasing, deleting

void KsFile::VerifyOneIndex(std::uint16_t fieldNumber, bool rebuild, KsProgressInterface& progress,
                            std::int16_t version) {
    const KsField& field = GetField(fieldNumber);
    if (field.IsMapped()) {
        GetFieldNumber(field.GetMappedFieldName());
        return;
    }
    KsString name = GetIndexFileName(fieldNumber);
    bool exists = factory_.Exists(name.GetCString());
    if (!IsIndexedField(fieldNumber)) {
        if (exists) {
            factory_.Delete(name.GetCString());
        }
        return;
    }
    if (exists && rebuild) {
        IndexSlot(fieldNumber).reset();
        factory_.Delete(name.GetCString());
        exists = false;
    }
    if (!exists) {
        IndexSlot(fieldNumber).reset();
        progress.SetSubRange(progress.GetPosition(), progress.GetPosition() + kVerifyStepsPerField);
        AddIndex(fieldNumber, progress.GetSubProgress());
        SaveIndex(fieldNumber, version);
    }
}

void KsFile::VerifyIndexExists(bool rebuild, KsProgressInterface* progress, std::int16_t version) {
    KsCallpath("VerifyIndexExists()", kClass, [&] {
        KsProgressInterface& report = ProgressOrNull(progress);
        std::int32_t indexedCount = 0;
        for (std::int32_t i = 0; i < GetFieldCount(); ++i) {
            indexedCount += IsIndexedField(static_cast<std::uint16_t>(i)) ? 1 : 0;
        }
        report.SetRange(0, kVerifyStepsPerField * indexedCount);
        report.SetPosition(0);
        std::string failures;
        std::int32_t handled = 0;
        for (std::int32_t i = 0; i < GetFieldCount() && report.ShouldContinue(); ++i) {
            auto number = static_cast<std::uint16_t>(i);
            const KsField& field = GetField(i);
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

std::vector<std::uint16_t> KsFile::RepairIndexFiles() {
    return KsCallpath("RepairIndexFiles()", kClass, [&] {
        std::vector<std::uint16_t> built;
        for (std::int32_t i = 0; i < GetFieldCount(); ++i) {
            auto number = static_cast<std::uint16_t>(i);
            const KsField& field = GetField(i);
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
            AddIndex(number, nullptr);
            bool agrees = false;
            if (IndexFileExists(number)) {
                try {
                    agrees = ReadIndexFile(number, GetNumRecords())->IsSameAs(*slot);
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

void KsFile::LoadIndexes() {
    KsCallpath("LoadIndexes()", kClass, [&] {
        VerifyIndexExists(false, nullptr, KsIndex::kVersion);
        for (std::int32_t i = 0; i < GetFieldCount(); ++i) {
            if (IsIndexedField(static_cast<std::uint16_t>(i))) {
                GetIndex(static_cast<std::uint16_t>(i));
            }
        }
    });
}

void KsFile::ClearIndexes(bool discard) {
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

void KsFile::DeleteIndexes() {
    KsCallpath("DeleteIndexes()", kClass, [&] {
        if ((openFlags_ & IO_WRITE) != 0) {
            for (std::int32_t i = 0; i < GetFieldCount(); ++i) {
                if (IsIndexedField(static_cast<std::uint16_t>(i)) &&
                    IndexFileExists(static_cast<std::uint16_t>(i))) {
                    // Built again at the close, or by the repair when the process dies first.
                    MarkIndexFilesOut();
                    break;
                }
            }
        }
        indexes_.clear();
        DeleteIndexesFor(GetFileName(), GetFieldCount());
    });
}

void KsFile::DeleteIndexFile(std::uint16_t fieldNumber) {
    KsString name = GetIndexFileName(fieldNumber);
    if (factory_.Exists(name.GetCString())) {
        factory_.Delete(name.GetCString());
    }
}

void KsFile::DeleteIndexesFor(const char* name, std::int32_t count) {
    KsCallpath("DeleteIndexesFor()", kClass, [&] {
        for (std::int32_t i = 0; i < count; ++i) {
            KsString index = GetIndexFileName(static_cast<std::uint16_t>(i), name);
            if (factory_.Exists(index.GetCString())) {
                factory_.Delete(index.GetCString());
            }
        }
    });
}

void KsFile::RemoveIndex(std::uint16_t fieldNumber) {
    KsCallpath("RemoveIndex(unsigned short)", kClass, [&] {
        IndexSlot(fieldNumber).reset();
        DeleteIndexFile(fieldNumber);
    });
}

void KsFile::RemoveIndex(const char* fieldName) {
    KsCallpath("RemoveIndex(char *)", kClass,
               [&] { RemoveIndex(static_cast<std::uint16_t>(GetFieldNumber(fieldName))); });
}

void KsFile::CopyIndexes(const char* sourceName, const char* targetName) {
    KsCallpath("CopyIndexes()", kClass, [&] {
        for (std::int32_t i = 0; i < GetFieldCount(); ++i) {
            KsString from = GetIndexFileName(static_cast<std::uint16_t>(i), sourceName);
            if (factory_.Exists(from.GetCString())) {
                KsString to = GetIndexFileName(static_cast<std::uint16_t>(i), targetName);
                KsIOInterface::Copy(to.GetCString(), from.GetCString(), nullptr, factory_);
            }
        }
    });
}

bool KsFile::IndexFileExists(std::uint16_t fieldNumber) {
    return KsCallpath("IndexFileExists", kClass,
                      [&] { return factory_.Exists(GetIndexFileName(fieldNumber).GetCString()); });
}

void KsFile::SetIndexingState(bool enabled) {
    KsCallpath("SetIndexingState()", kClass, [&] {
        if (!enabled) {
            ClearIndexes(false);
        }
        indexingEnabled_ = enabled;
    });
}

// ---- Sorting

void KsFile::Sort(const KsVector<std::uint16_t>& fieldNumbers, KsProgressInterface* progress,
                  bool rebuildIndexes) {
    KsCallpath("Sort()", kClass, [&] {
        std::vector<KsSortField> fields;
        for (std::uint16_t number : fieldNumbers) {
            fields.push_back(KsSortField{number, false});
        }
        // KsSortTable deletes the index files, which describe the old order.
        KsSortTable(*this, fields, ProgressOrNull(progress));
        if (!rebuildIndexes) {
            return;
        }
        for (std::int32_t i = 0; i < GetFieldCount(); ++i) {
            auto number = static_cast<std::uint16_t>(i);
            if (IsIndexedField(number)) {
                AddIndex(number, progress);
                SaveIndex(number);
            }
        }
    });
}

// ---- Keeping indexes in step with record changes

void KsFile::UpdateIndexes(std::int32_t recordsBefore,
                           const std::function<void(KsIndex&, std::uint16_t)>& update) {
    for (std::int32_t i = 0; i < GetFieldCount(); ++i) {
        auto number = static_cast<std::uint16_t>(i);
        if (!IsIndexedField(number)) {
            continue;
        }
        std::unique_ptr<KsIndex>& slot = IndexSlot(number);
        if (!indexingEnabled_ || GetField(i).GetType() == 'B') {
            slot.reset();
            if (IndexFileExists(number)) {
                MarkIndexFilesOut();
                DeleteIndexFile(number);
            }
            continue;
        }
        if (!slot && IndexFileExists(number)) {
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
                if (IndexFileExists(number)) {
                    MarkIndexFilesOut();
                    DeleteIndexFile(number);
                }
                slot->SetModified(true);
            }
            update(*slot, number);
        }
    }
}

void KsFile::IndexRecordAdded(std::int32_t n, const KsFileRecord& record) {
    KsCallpath("IndexRecordAdded()", kClass, [&] {
        UpdateIndexes(GetNumRecords() - 1, [&](KsIndex& index, std::uint16_t field) {
            index.InsertRecord(n, KsRecordKey::ComparableKeyOf(record, field).data());
        });
    });
}

void KsFile::IndexRecordDeleted(std::int32_t n) {
    KsCallpath("IndexRecordDeleted()", kClass, [&] {
        UpdateIndexes(GetNumRecords() + 1,
                      [&](KsIndex& index, std::uint16_t) { index.DeleteRecord(n); });
    });
}

void KsFile::IndexRecordModified(std::int32_t n, const KsFileRecord& record) {
    KsCallpath("IndexRecordModified()", kClass, [&] {
        UpdateIndexes(GetNumRecords(), [&](KsIndex& index, std::uint16_t field) {
            index.UpdateRecord(n, KsRecordKey::ComparableKeyOf(record, field).data());
        });
    });
}
