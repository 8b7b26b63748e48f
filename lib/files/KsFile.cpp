#include "files/KsFile.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "core/KsCallpath.h"
#include "core/KsConvertValue.h"
#include "core/KsScopeExit.h"
#include "core/KsStringTokenizer.h"
#include "files/KsFieldTypeLetters.h"
#include "files/KsFileCheckPoint.h"
#include "files/KsFileType.h"
#include "files/KsSectionValues.h"
#include "index/KsIndex.h"
#include "index/KsRecordKey.h"
#include "index/KsSortFileWrapper.h"
#include "ini/KsIniFile.h"
#include "io/KsReplacementFile.h"
#include "progress/KsNullProgress.h"
#include "values/KsFilter.h"

namespace {

constexpr const char* kClass = "KsFile";
// Index files of field numbers below this are removed for a table without a structure file.
constexpr std::int32_t kIndexFilesWithoutStructure = 500;
// How many records CreateFrom copies between two questions to its progress display.
constexpr std::int32_t kCopyReportInterval = 1000;

std::string Numbered(const char* prefix, std::int32_t number) {
    return prefix + std::to_string(number);
}

// Removes every line of a section, so that a reused structure file keeps nothing of a
// field that is gone.
void EmptySection(KsIniSection& section) {
    while (section.GetNumLines() > 0) {
        std::string key = section.GetLine(0)->GetKey();
        section.SetString(key.c_str(), "");
        if (section.GetNumLines() > 0 && key == section.GetLine(0)->GetKey()) {
            break;  // a line without a key cannot be removed by key
        }
    }
}

// Removes the keys prefix<first>, prefix<first + 1>, ... up to the first missing one.
void RemoveNumberedKeys(KsIniSection& section, const char* prefix, std::int32_t first) {
    for (std::int32_t i = first;; ++i) {
        std::string key = Numbered(prefix, i);
        if (section.FindKey(key.c_str()) < 0) {
            return;
        }
        section.SetString(key.c_str(), "");
    }
}

// Compares two texts in a time that depends on neither where they differ nor how long the
// shorter one is.
bool SameSecret(const char* a, const char* b) {
    std::size_t lengthA = std::strlen(a);
    std::size_t lengthB = std::strlen(b);
    std::size_t longest = std::max(lengthA, lengthB);
    unsigned difference = lengthA == lengthB ? 0u : 1u;
    for (std::size_t i = 0; i < longest; ++i) {
        auto byteA = static_cast<unsigned char>(i < lengthA ? a[i] : 0);
        auto byteB = static_cast<unsigned char>(i < lengthB ? b[i] : 0);
        difference |= static_cast<unsigned>(byteA ^ byteB);
    }
    return difference == 0;
}

// Holds a table's lock for a scope; the destructor cannot report a failed unlock.
class TableLock {
public:
    TableLock(KsFile& table, int flags) : table_(table), flags_(flags) { table.Lock(flags); }
    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;
    ~TableLock() {
        if (held_) {
            try {
                table_.Unlock(flags_);
            } catch (const KsException&) {
                // The lock goes with the table's data file at the latest.
            }
        }
    }
    void Release() {
        held_ = false;
        table_.Unlock(flags_);
    }

private:
    KsFile& table_;
    int flags_;
    bool held_ = true;
};

}  // namespace

KsFile::KsFile(KsIOFactory& factory) : factory_(factory) {}

KsFile::~KsFile() {
    NotifyDestroy();
    try {
        KsFile::Close();
    } catch (const KsException&) {
        // A destructor cannot report; Close of a concrete table reports its own failures.
    }
}

void KsFile::NotifyDestroy() noexcept {
    if (destroyNotified_) {
        return;
    }
    destroyNotified_ = true;
    try {
        listeners_.FLDestroy(*this);
    } catch (const KsException&) {
        // A destructor cannot report; the listeners are released all the same.
    }
    listeners_.RemoveAll();
}

void KsFile::ThrowNotImplemented(const char* operation) const {
    KsNotImplementedError::Generate("%s is not available for tables yet", kClass, operation);
}

// ---- Operations of later layers

std::int32_t KsFile::GetRecordNumberByKey(const KsFileRecord& record) {
    return KsCallpath("GetRecordNumberByKey()", kClass, [&]() -> std::int32_t {
        if (primaryKeyFieldCount_ == 0) {
            KsException::Generate("No primary key defined for this file", kClass);
        }
        if (KeyFieldsIndexed()) {
            return FindByKeyIndexes(record);
        }
        std::vector<std::uint16_t> keyFields(primaryKeyFieldCount_);
        for (std::uint16_t i = 0; i < primaryKeyFieldCount_; ++i) {
            keyFields[i] = i;
        }
        std::unique_ptr<KsRecordKey> wanted = KsRecordKey::Extract(record, keyFields);
        std::unique_ptr<KsRecordKey> candidate(wanted->Clone());
        std::unique_ptr<KsFileRecord> stored = GetNewRecord();
        // Reading a record makes its number the current one; the current record's number
        // (not its contents, which may hold changes) is put back afterwards.
        std::int32_t current = GetCurrentRecordNumber();
        std::int32_t found = 0;
        for (std::int32_t n = 1; n <= GetNumRecords() && found == 0; ++n) {
            GotoRecord(n, stored.get());
            candidate->SetValue(*stored, keyFields);
            if (candidate->IsEqual(*wanted)) {
                found = n;
            }
        }
        if (current != 0 && current <= GetNumRecords()) {
            GotoRecord(current, stored.get());
        }
        return found;
    });
}

// With every primary key field indexed (by an index of its own), the indexes answer a key
// look-up; otherwise every record is compared.
bool KsFile::KeyFieldsIndexed() const {
    if (!indexes_.GetIndexingState()) {
        return false;
    }
    for (std::uint16_t i = 0; i < primaryKeyFieldCount_; ++i) {
        if (!indexes_.IsIndexedField(i) || indexes_.IndexedFieldOf(i) != i ||
            GetField(i).GetType() == KS_BLOB_FLD) {
            return false;
        }
    }
    return true;
}

std::int32_t KsFile::FindByKeyIndexes(const KsFileRecord& record) {
    KsSet found;
    for (std::uint16_t i = 0; i < primaryKeyFieldCount_; ++i) {
        std::string key = KsRecordKey::ComparableKeyOf(record, i);
        KsSet hits;
        GetIndex(i)->Search(key.data(), nullptr, i == 0 ? found : hits);
        if (i > 0) {
            found.AndSet(hits);
        }
    }
    return found.GetNextInSet(0);
}

void KsFile::OpenBlobFile() {
    KsCallpath("OpenBlobFile()", kClass, [&] {
        CloseBlobFile();
        // Never truncating or creating with the table's flags: the blobs stay.
        blobFile_ = std::make_unique<KsBlobFile>(GetFileName(), openFlags_ & (IO_READ | IO_WRITE),
                                                 factory_);
    });
}

void KsFile::CloseBlobFile() {
    std::unique_ptr<KsBlobFile> blobs = std::move(blobFile_);
    if (blobs) {
        blobs->Close();
    }
}

std::int32_t KsFile::DataInsert(std::int32_t, KsFileRecord& record) {
    return KsCallpath("DataInsert()", kClass, [&] { return DataAppend(record); });
}

std::int32_t KsFile::DataAdd(KsFileRecord& record) {
    return KsCallpath("DataAdd()", kClass, [&] {
        std::int32_t existing = GetRecordNumberByKey(record);
        if (existing != 0) {
            KsException::Generate(
                "Attempting to add new record, but the primary keys match those of record %d",
                kClass, existing);
        }
        return DataAppend(record);
    });
}

std::int32_t KsFile::DataRemove(KsFileRecord& record, KsFileRecord* oldRecord) {
    return KsCallpath("DataRemove()", kClass, [&] {
        std::int32_t n = GetRecordNumberByKey(record);
        if (n == 0) {
            KsException::Generate("Keys not found in file", kClass);
        }
        DataDelete(n, oldRecord);
        return n;
    });
}

std::int32_t KsFile::DataUpdate(KsFileRecord& record, KsFileRecord* oldRecord) {
    return KsCallpath("DataUpdate()", kClass, [&] {
        std::int32_t n = GetRecordNumberByKey(record);
        if (n == 0) {
            KsException::Generate("Keys not found in file", kClass);
        }
        return DataModify(n, record, oldRecord);
    });
}

void KsFile::DataReplace(KsFileRecord& oldRecord, KsFileRecord& newRecord,
                         KsFileRecord* removedCopy, std::int32_t& removedNumber,
                         std::int32_t& addedNumber) {
    KsCallpath("DataReplace()", kClass, [&] {
        removedNumber = DataRemove(oldRecord, removedCopy);
        addedNumber = DataAdd(newRecord);
    });
}

// A maintenance call that fails part-way takes back what it did to the sets and indexes,
// so that a caller that then undoes its data change finds the table as it was. An index
// whose change cannot be taken back is discarded; it is built afresh when next needed.
void KsFile::DiscardIndexesQuietly() noexcept {
    try {
        // Built afresh at the close, or by the repair when the process dies first.
        MarkIndexFilesOut();
        ClearIndexes(true);
    } catch (...) {  // nothing more can be done on a failure path
    }
}

void KsFile::TakeBack(const std::function<void()>& undo) noexcept {
    try {
        undo();
    } catch (...) {
        DiscardIndexesQuietly();
    }
}

void KsFile::FileMaintenanceAdd(std::int32_t n, const KsFileRecord& record) {
    KsCallpath("FileMaintenanceAdd()", kClass, [&] {
        bool indexed = false, inSets = false;
        KsScopeExit takeBack([&]() noexcept {
            TakeBack([&] {
                if (inSets) {
                    selection_.RemoveFromSets(n);
                }
                if (indexed) {
                    IndexRecordDeleted(n);
                } else {
                    DiscardIndexesQuietly();
                }
            });
        });
        IndexRecordAdded(n, record);
        indexed = true;
        if (selection_.GetSetMaintenance()) {
            selection_.AddToSets(n, selection_.GetNewRecordsSelected(), true);
            inSets = true;
            listeners_.FLRecordAdded(*this, n, record);
        }
        takeBack.Dismiss();
    });
}

void KsFile::FileMaintenanceDelete(std::int32_t n) {
    KsCallpath("FileMaintenanceDelete()", kClass, [&] {
        std::int32_t current = GetCurrentRecordNumber();
        bool removed = false;
        std::pair<bool, bool> bits;
        KsScopeExit takeBack([&]() noexcept {
            TakeBack([&] {
                if (removed) {
                    selection_.AddToSets(n, bits.first, bits.second);
                }
                DiscardIndexesQuietly();  // the deleted values are gone: built afresh
            });
        });
        IndexRecordDeleted(n);
        if (selection_.GetSetMaintenance()) {
            bits = selection_.RemoveFromSets(n);
            removed = true;
            listeners_.FLRecordRemoved(*this, n, *scratchRecord_);
        }
        takeBack.Dismiss();
        FollowDeletedCurrentRecord(n, current);
    });
}

void KsFile::FollowDeletedCurrentRecord(std::int32_t n, std::int32_t current) {
    if (current == 0) {
        return;
    }
    if (GetNumRecords() == 0) {
        ForgetCurrentRecord();
    } else if (current == n) {
        GotoRecord(std::max(1, current - 1));
    } else if (current > n && current - 1 <= GetNumRecords()) {
        // The current record moved down with the others: its number follows it; reading
        // it into the scratch record keeps any change in the current record.
        GotoRecord(current - 1, scratchRecord_.get());
    }
}

void KsFile::FileMaintenanceModify(std::int32_t n, const KsFileRecord& oldRecord,
                                   const KsFileRecord& newRecord) {
    KsCallpath("FileMaintenanceModify()", kClass, [&] {
        bool indexed = false;
        KsScopeExit takeBack([&]() noexcept {
            TakeBack([&] {
                if (indexed) {
                    IndexRecordModified(n, oldRecord);
                } else {
                    DiscardIndexesQuietly();
                }
            });
        });
        IndexRecordModified(n, newRecord);
        indexed = true;
        if (selection_.GetSetMaintenance()) {
            listeners_.FLRecordChanged(*this, n, oldRecord, n, newRecord);
        }
        takeBack.Dismiss();
    });
}

void KsFile::FileMaintenanceReplace(std::int32_t oldNumber, std::int32_t newNumber,
                                    const KsFileRecord& oldRecord, const KsFileRecord& newRecord) {
    KsCallpath("FileMaintenanceReplace()", kClass, [&] {
        bool removed = false, added = false;
        std::pair<bool, bool> bits;
        KsScopeExit takeBack([&]() noexcept {
            TakeBack([&] {
                if (added) {
                    selection_.RemoveFromSets(newNumber);
                }
                if (removed) {
                    selection_.AddToSets(oldNumber, bits.first, bits.second);
                }
                DiscardIndexesQuietly();
            });
        });
        IndexRecordDeleted(oldNumber);
        IndexRecordAdded(newNumber, newRecord);
        if (selection_.GetSetMaintenance()) {
            bits = selection_.RemoveFromSets(oldNumber);
            removed = true;
            selection_.AddToSets(newNumber, selection_.GetNewRecordsSelected(), true);
            added = true;
            listeners_.FLRecordReplaced(*this, oldNumber, oldRecord, newNumber, newRecord,
                                        bits.first, bits.second);
        }
        takeBack.Dismiss();
        GotoRecord(newNumber);
    });
}

std::unique_ptr<KsFileCheckPoint> KsFile::GetCheckPoint() {
    return KsCallpath("GetCheckPoint()", kClass, [&]() -> std::unique_ptr<KsFileCheckPoint> {
        return std::make_unique<KsPlainFCheckPoint>(*this);
    });
}

void KsFile::RestoreCheckPoint(KsFileCheckPoint& checkPoint) {
    KsCallpath("RestoreCheckPoint()", kClass, [&] {
        checkPoint.CheckNotExpired();
        if (&checkPoint.GetFile() != this) {
            KsException::Generate("The checkpoint was made on another file", kClass);
        }
        std::int32_t count = GetNumRecords();
        std::int32_t had = selection_.Restore(checkPoint, count);
        if (had != count) {
            KsException::Generate(
                "Checkpoint had %ld records in set, but file contains %ld records", kClass,
                static_cast<long>(had), static_cast<long>(count));
        }
    });
}

void KsFile::ReplaceDataFile(const char*) {
    ThrowNotImplemented("ReplaceDataFile()");
}

void KsFile::AddActionListener(KsFileListener& listener) {
    KsCallpath("AddActionListener()", kClass, [&] { listeners_.Add(listener); });
}

void KsFile::RemoveActionListener(KsFileListener& listener) {
    listeners_.Remove(listener);
}

void KsFile::DelayExternalUpdates() {
    if (blobFile_) {
        blobFile_->SetDelayedFree();
    }
}

void KsFile::PerformExternalUpdates() {
    KsCallpath("PerformExternalUpdates()", kClass, [&] {
        if (blobFile_) {
            blobFile_->ClearDelayedFree();
        }
    });
}

// ---- Creating, copying, deleting and renaming tables

void KsFile::Create(const char*, FieldList&, std::uint16_t, bool) {
    KsCallpath("Create()", kClass,
               [&] { KsException::Generate("This driver can not create a new file.", kClass); });
}

void KsFile::Empty() {
    KsCallpath("Empty()", kClass,
               [&] { KsException::Generate("Empty function not supported", kClass); });
}

void KsFile::KeepRecords(std::int32_t) {
    KsCallpath("KeepRecords()", kClass,
               [&] { KsException::Generate("KeepRecords function not supported", kClass); });
}

void KsFile::CreateAndOpenFrom(const char* name, KsFile& source, const FieldList* fields) {
    KsCallpath("CreateAndOpenFrom()", kClass, name, [&] {
        FieldList layout;
        if (fields != nullptr) {
            layout = *fields;
        } else {
            for (const KsField* from : source.GetFields()) {
                std::unique_ptr<KsField> field = GetNewField();
                field->SetAttributes(from->GetFieldNumber(), from->GetType(), from->GetLength(),
                                     from->GetPrecision(), from->GetCategory());
                field->SetFlags(from->GetFlags(true), true);
                field->SetFlags(from->GetFlags(false), false);
                field->SetExtraFlags(from->GetExtraFlags());
                field->SetIndexCount(from->GetIndexCount());
                field->SetName(from->GetName());
                field->CopyStoredForm(*from);
                if (from->GetFormatOption() == KsField::kFormatted) {
                    field->SetFormat(KsField::kFormatted, from->GetFormatName(), nullptr);
                } else if (from->GetFormatOption() == KsField::kFiltered && from->GetFilter()) {
                    field->SetFormat(KsField::kFiltered, nullptr, from->GetFilter()->Clone());
                }
                layout.Add(std::move(field));
            }
            userFlagTypes_ = KsPointerVector<KsFlagType>();
            for (const KsFlagType* type : source.GetUserFlagTypes()) {
                userFlagTypes_.Add(std::unique_ptr<KsFlagType>(type->Clone()));
            }
        }
        PackFields(layout);
        Create(name, layout, source.GetPrimaryKeyFieldCount(), true);
        Open(name, IO_READ | IO_WRITE | IO_CREATE | IO_TRUNCATE);
    });
}

void KsFile::CreateFrom(const char* newName, KsFile& source, KsProgressInterface* progress, int) {
    KsCallpath("CreateFrom()", kClass, newName, [&] {
        CreateAndOpenFrom(newName, source);
        KsProgressInterface& report = progress != nullptr ? *progress : KsNullProgress::Instance();
        std::int32_t count = source.GetNumRecords();
        SetTitlef(report, 1023, "Copying %d records...", count);
        SetDetailf(report, 1023, "%s --> %s", source.GetFileName(), GetFileName());
        report.SetRange(1, count);
        SetIndexingState(false);
        TableLock lock(*this, LOCK_WRITE);
        std::unique_ptr<KsFileRecord> from = source.GetNewRecord();
        std::unique_ptr<KsFileRecord> to = GetNewRecord();
        for (std::int32_t i = 1; i <= count; ++i) {
            source.GotoRecord(i, from.get());
            to->LoadFieldsFrom(*from);
            DataAppend(*to);
            if (i % kCopyReportInterval == 0) {
                if (!report.ShouldContinue()) {
                    KsException::GenerateAs<KsFileCanceledException>(
                        "Copying from \"%s\" to \"%s\" canceled by user", kClass,
                        source.GetFileName(), GetFileName());
                }
                report.SetPosition(i);
            }
        }
        Flush();
        lock.Release();
        Refresh();
    });
}

void KsFile::Copy(const char* sourceName, const char* targetName, KsProgressInterface* progress,
                  bool copyStructure, bool copyData) {
    KsCallpath("Copy()", kClass, sourceName, [&] {
        KsString sourceStructure = CompanionName(sourceName, kKsStructureExtension);
        std::int32_t fieldCount = kIndexFilesWithoutStructure;
        if (factory_.Exists(sourceStructure.GetCString())) {
            KsIniFile structure(sourceStructure.GetCString(), false, false, IO_READ, factory_);
            fieldCount =
                KsSectionRangedInt(*structure.GetSection(kKsFileInfoSection), kKsNumberOfFieldsKey,
                                   kIndexFilesWithoutStructure, 0, UINT16_MAX, kClass);
        }
        auto copyIfPresent = [&](const KsString& from, const KsString& to) {
            if (factory_.Exists(from.GetCString())) {
                KsIOInterface::Copy(to.GetCString(), from.GetCString(), progress, factory_);
            }
        };
        if (copyStructure) {
            KsString target = CompanionName(targetName, kKsStructureExtension);
            KsIOInterface::Copy(target.GetCString(), sourceStructure.GetCString(), progress,
                                factory_);
            KsIniFile structure(target.GetCString(), true, false, IO_READ | IO_WRITE, factory_);
            KsIniSection& info = *structure.GetSection(kKsFileInfoSection);
            if (info.FindKey(kKsFileNameKey) >= 0) {
                KsFileName data(CompanionName(targetName, GetDefaultExtension()).GetCString());
                info.SetString(kKsFileNameKey, data.GetCompleteFileName());
                structure.Write();
            }
        }
        if (copyData) {
            const char* dataExtension = GetDefaultExtension();
            KsIOInterface::Copy(CompanionName(targetName, dataExtension).GetCString(),
                                CompanionName(sourceName, dataExtension).GetCString(), progress,
                                factory_);
            copyIfPresent(CompanionName(sourceName, kKsBlobExtension),
                          CompanionName(targetName, kKsBlobExtension));
            for (std::int32_t i = 0; i < fieldCount; ++i) {
                auto number = static_cast<std::uint16_t>(i);
                copyIfPresent(GetIndexFileName(number, sourceName),
                              GetIndexFileName(number, targetName));
            }
        }
    });
}

void KsFile::DeleteFile(const char* name, bool deleteStructure, bool deleteData) {
    KsCallpath("DeleteFile()", kClass, name, [&] {
        KsString structure = CompanionName(name, kKsStructureExtension);
        if (deleteData) {
            std::int32_t fieldCount = kIndexFilesWithoutStructure;
            if (factory_.Exists(structure.GetCString())) {
                KsIniFile ini(structure.GetCString(), false, false, IO_READ, factory_);
                fieldCount =
                    KsSectionRangedInt(*ini.GetSection(kKsFileInfoSection), kKsNumberOfFieldsKey,
                                       kIndexFilesWithoutStructure, 0, UINT16_MAX, kClass);
            }
            DeleteIndexesFor(name, fieldCount);
            for (const char* extension :
                 {GetDefaultExtension(), kKsBlobExtension, kKsLogExtension}) {
                factory_.Delete(CompanionName(name, extension).GetCString());
            }
        }
        if (deleteStructure) {
            factory_.Delete(structure.GetCString());
        }
    });
}

void KsFile::Rename(const char* oldName, const char* newName, const char* password) {
    KsCallpath("Rename()", kClass, oldName, [&] {
        if (password != nullptr && *password != '\0') {
            KsException::Generate("KsFile's Rename can not handle passwords", kClass);
        }
        KsString oldStructure = CompanionName(oldName, kKsStructureExtension);
        std::int32_t fieldCount = kIndexFilesWithoutStructure;
        if (factory_.Exists(oldStructure.GetCString())) {
            KsIniFile ini(oldStructure.GetCString(), false, false, IO_READ, factory_);
            fieldCount =
                KsSectionRangedInt(*ini.GetSection(kKsFileInfoSection), kKsNumberOfFieldsKey,
                                   kIndexFilesWithoutStructure, 0, UINT16_MAX, kClass);
        }
        auto renameIfPresent = [&](const KsString& from, const KsString& to) {
            if (factory_.Exists(from.GetCString())) {
                factory_.Rename(to.GetCString(), from.GetCString());
            }
        };
        const char* dataExtension = GetDefaultExtension();
        factory_.Rename(CompanionName(newName, dataExtension).GetCString(),
                        CompanionName(oldName, dataExtension).GetCString());
        // The blob, log and index files go along, or the table would lose them.
        for (const char* extension : {kKsBlobExtension, kKsLogExtension}) {
            renameIfPresent(CompanionName(oldName, extension), CompanionName(newName, extension));
        }
        for (std::int32_t i = 0; i < fieldCount; ++i) {
            auto number = static_cast<std::uint16_t>(i);
            renameIfPresent(GetIndexFileName(number, oldName), GetIndexFileName(number, newName));
        }
        renameIfPresent(oldStructure, CompanionName(newName, kKsStructureExtension));
    });
}

// ---- Fields

std::int32_t KsFile::GetFieldNumber(const char* name) const {
    return KsCallpath("GetFieldNumber()", kClass, [&]() -> std::int32_t {
        if (name == nullptr) {
            KsException::Generate("Invalid parameter (null) in GetFieldNumber", kClass);
        }
        for (std::int32_t n = 0; n < GetFieldCount(); ++n) {
            if (strcasecmp(fields_[n]->GetName(), name) == 0) {
                return n;
            }
        }
        KsException::GenerateAs<KsFieldNotFoundException>("%s", "KsFileRecord", name);
    });
}

const KsField& KsFile::FieldGetInfo(const char* name) const {
    return KsCallpath("FieldGetInfo()", kClass,
                      [&]() -> const KsField& { return *fields_[GetFieldNumber(name)]; });
}

std::unique_ptr<KsField> KsFile::GetNewField() const {
    return std::make_unique<KsField>();
}

// ---- Records and the selection

bool KsFile::GotoFirstRecord(KsFileRecord* record) {
    return KsCallpath("GotoFirstRecord()", kClass, [&] {
        std::int32_t first = selection_.StartWalk();
        if (first == 0) {
            return false;
        }
        GotoRecord(first, record);
        selection_.WalkStarted();
        return true;
    });
}

void KsFile::Refresh() {
    KsCallpath("Refresh()", kClass, [&] {
        selection_.FollowRecordCount(GetNumRecords());
        GotoFirstRecord();
        listeners_.FLRefresh(*this);
    });
}

// ---- Attributes

void KsFile::SetInputLayout(const char* text, std::uint16_t number) {
    inputLayout_ = text;
    inputLayoutNumber_ = number;
}

void KsFile::AddCategory(const char* name) {
    KsCallpath("AddCategory()", kClass, [&] { categories_.push_back(KsString(name)); });
}

void KsFile::RemoveCategory(std::int32_t index) {
    KsCallpath("RemoveCategory()", kClass, [&] {
        (void)categories_[index];  // the range check
        categories_.erase(categories_.begin() + index);
    });
}

void KsFile::AddUserFlagType(std::unique_ptr<KsFlagType> type) {
    type->SetSystem(false);
    userFlagTypes_.Add(std::move(type));
}

KsFormatLib* KsFile::GetFormatLib() const {
    return formatLib_ != nullptr ? formatLib_ : KsField::GetProcessFormatLib();
}

const char* KsFile::GetDefaultExtension() const {
    return GetFileType().GetDataFileExtension();
}

const char* KsFile::GetFileTypeName() const {
    return GetFileType().GetTypeName();
}

KsString KsFile::GetBaseName() const {
    return KsString(fileName_.GetFileName());
}

std::int32_t KsFile::GotoRecordByPrimaryKeys(const KsFileRecord& record, KsFileRecord& target) {
    return KsCallpath("GotoRecordByPrimaryKeys()", kClass, [&] {
        std::int32_t n = GetRecordNumberByKey(record);
        if (n != 0) {
            GotoRecord(n, &target);
        }
        return n;
    });
}

// ---- Locks and listeners

void KsFile::Lock(int flags) {
    CountLock(flags);
}

bool KsFile::Unlock(int flags) {
    return CountUnlock(flags);
}

void KsFile::CountLock(int flags) {
    if ((flags & LOCK_WRITE) != 0) {
        ++writeLocks_;
    } else {
        ++readLocks_;
    }
    listeners_.FLLock(*this, flags);
}

bool KsFile::CountUnlock(int flags) {
    if (writeLocks_ == 0 && readLocks_ == 0) {
        return true;
    }
    // A read lock is given back by an unlock without the write bit, so that the counts
    // follow the storage's locks.
    bool write = (flags & LOCK_WRITE) != 0;
    if ((write && writeLocks_ > 0) || readLocks_ == 0) {
        if (--writeLocks_ == 0) {
            // The end of a write: listeners switched off for it hear again, and what was
            // written may have changed anything.
            listeners_.SetInactive(false);
            listeners_.FLRefresh(*this);
        }
    } else {
        --readLocks_;
    }
    listeners_.FLUnlock(*this, flags);
    return writeLocks_ == 0 && readLocks_ == 0;
}

void KsFile::DeactivateListeners(bool notify) {
    KsCallpath("DeactivateListeners()", kClass, [&] {
        if (!listeners_.IsInactive()) {
            if (notify) {
                listeners_.FLDeactivate(*this);
            }
            listeners_.SetInactive(true);
        }
    });
}

void KsFile::ActivateListeners(bool notify) {
    KsCallpath("ActivateListeners()", kClass, [&] {
        if (listeners_.IsInactive()) {
            listeners_.SetInactive(false);
            if (notify) {
                listeners_.FLActivate(*this);
            }
        }
    });
}

// ---- Companion files

KsString KsFile::CompanionName(const char* name, const char* extension) {
    KsFileName file(name);
    file.SetExtension(extension);
    return KsString(file.GetFullPath());
}

KsString KsFile::GetIndexFileName(std::uint16_t fieldNumber, const char* name) const {
    return KsCallpath("GetIndexFileName()", kClass, [&] {
        std::uint16_t number = fieldNumber;
        if (name == nullptr) {
            name = GetFileName();
            const KsField& field = *fields_[fieldNumber];
            if (field.IsMapped()) {
                number = static_cast<std::uint16_t>(GetFieldNumber(field.GetMappedFieldName()));
            }
        }
        char extension[8];
        std::snprintf(extension, sizeof extension, ".%03u", static_cast<unsigned>(number));
        return CompanionName(name, extension);
    });
}

std::unique_ptr<KsIniFile> KsFile::GetIniFile(const char* dataFileName) const {
    return KsCallpath("GetIniFile()", kClass, [&] {
        KsString own = CompanionName(dataFileName, kKsStructureExtension);
        if (factory_.Exists(own.GetCString())) {
            return std::make_unique<KsIniFile>(own.GetCString(), false, false, IO_READ, factory_);
        }
        KsFileName shared(dataFileName);
        shared.SetFileName("default");
        shared.SetExtension(kKsStructureExtension);
        if (factory_.Exists(shared.GetFullPath())) {
            return std::make_unique<KsIniFile>(shared.GetFullPath(), false, false, IO_READ,
                                               factory_);
        }
        KsFileException::Generate("Unable to open .KSS for %s", kClass, dataFileName, dataFileName);
    });
}

// ---- Indexes (the work is done by the index side, see KsTableIndexes)

std::unique_ptr<KsIndex> KsFile::GetNewIndex(char type, std::uint16_t length,
                                             std::int32_t recordCount) {
    return indexes_.GetNewIndex(type, length, recordCount);
}

void KsFile::AddIndex(std::uint16_t fieldNumber, KsProgressInterface* progress) {
    indexes_.AddIndex(fieldNumber, progress);
}

void KsFile::AddIndex(const char* fieldName, KsProgressInterface* progress) {
    indexes_.AddIndex(fieldName, progress);
}

KsIndex* KsFile::GetIndex(std::uint16_t fieldNumber, bool rebuild) {
    return indexes_.GetIndex(fieldNumber, rebuild);
}

bool KsFile::IndexFileExists(std::uint16_t fieldNumber) {
    return indexes_.IndexFileExists(fieldNumber);
}

void KsFile::Sort(const KsVector<std::uint16_t>& fieldNumbers, KsProgressInterface* progress,
                  bool rebuildIndexes) {
    indexes_.Sort(fieldNumbers, progress, rebuildIndexes);
}

void KsFile::IndexRecordAdded(std::int32_t n, const KsFileRecord& record) {
    indexes_.IndexRecordAdded(n, record);
}

void KsFile::IndexRecordModified(std::int32_t n, const KsFileRecord& record) {
    indexes_.IndexRecordModified(n, record);
}

void KsFile::DeleteIndexesFor(const char* name, std::int32_t count) {
    indexes_.DeleteIndexesFor(name, count);
}

KsIndex* KsFile::GetLoadedIndex(std::uint16_t fieldNumber) const {
    return indexes_.GetLoadedIndex(fieldNumber);
}

void KsFile::VerifyIndexExists(bool rebuild, KsProgressInterface* progress, std::int16_t version) {
    indexes_.VerifyIndexExists(rebuild, progress, version);
}

void KsFile::SaveIndex(std::uint16_t fieldNumber, std::int16_t version) {
    indexes_.SaveIndex(fieldNumber, version);
}

void KsFile::CopyIndexes(const char* sourceName, const char* targetName) {
    indexes_.CopyIndexes(sourceName, targetName);
}

void KsFile::BuildEmptyIndexesFor(const FieldList& fields, const char* name) {
    indexes_.BuildEmptyIndexesFor(fields, name);
}

// ---- Open and close

void KsFile::Close() {
    KsCallpath("Close()", kClass, [&] {
        CloseTransactions();
        listeners_.FLClose(*this);
        // Changed indexes are written while the fields they describe are still there; the
        // table closes even when that fails, and the failure is raised at the end.
        std::exception_ptr indexFailure;
        try {
            if ((openFlags_ & IO_WRITE) != 0) {
                SaveIndexes();
                if (indexFilesOut_) {
                    // Indexes dropped on a failure path are built again from the records.
                    VerifyIndexExists(false, nullptr, KsIndex::kVersion);
                }
            }
        } catch (const KsException&) {
            indexFailure = std::current_exception();
        }
        // Written, the index files need no repair; not written, they are left to the next
        // open, which finds the marker. A change scope still open keeps the marker.
        if (indexFilesOut_) {
            indexFilesOut_ = false;
            if (changes_.empty()) {
                DropMarker(indexFailure != nullptr);
            }
        }
        ReleaseClaimedMarkers();
        indexes_.ReleaseAll();
        // Records refer to the field list: they go first.
        currentRecord_.reset();
        scratchRecord_.reset();
        fields_.clear();
        userFlagTypes_.clear();
        categories_.clear();
        relateFields_.clear();
        writeLocks_ = 0;
        readLocks_ = 0;
        inputLayoutNumber_ = 0;
        primaryKeyFieldCount_ = 0;
        transactionWriteLocked_ = false;
        listeners_.SetInactive(false);
        fileName_ = KsFileName();
        inputLayout_.Clear();
        title_.Clear();
        information_.Clear();
        password_.Clear();
        selection_.Clear();
        openFlags_ = 0;
        CloseBlobFile();
        if (indexFailure) {
            std::rethrow_exception(indexFailure);
        }
    });
}

void KsFile::OpenSetup(const char* name) {
    Close();
    if (name == nullptr || *name == '\0') {
        KsException::Generate("A table needs a file name", kClass);
    }
    fileName_.Set(name);
    fileName_.SetExtension(GetDefaultExtension());
}

void KsFile::OpenStructure(int flags, const char* alternateHeader, KsIniFile* ini,
                           const char* password) {
    password_ = password;
    openFlags_ = flags;
    if (ini != nullptr) {
        ReadStructure(ini);
    } else if (alternateHeader != nullptr && *alternateHeader != '\0') {
        if (!factory_.Exists(alternateHeader)) {
            KsFileException::Generate("Alternate .KSS file \"%s\" not found", kClass,
                                      alternateHeader, alternateHeader);
        }
        KsIniFile alternate(alternateHeader, false, false, IO_READ, factory_);
        ReadStructure(&alternate);
    } else {
        ReadStructure(nullptr);
    }
    if ((flags & IO_TRUNCATE) != 0) {
        ClearIndexes(true);
    }
}

void KsFile::OpenFinish() {
    for (KsField* field : fields_) {
        if (field->GetOwnerFile() == nullptr) {
            field->SetOwnerFile(this, formatLib_);
        }
    }
    for (const KsField* field : fields_) {
        if (field->GetType() == KS_BLOB_FLD && !blobFile_) {
            OpenBlobFile();
        }
    }
    currentRecord_ = GetNewRecord();
    scratchRecord_ = GetNewRecord();
    const bool writing = (openFlags_ & IO_WRITE) != 0;
    if (writing) {
        RepairBeforeLog();
    }
    std::int32_t count = GetNumRecords();
    selection_.SelectAll(count);
    if (count > 0) {
        GotoFirstRecord();
    }
    listeners_.FLOpen(*this);
    OpenTransactionLog();
    if (writing) {
        RepairAfterLog();
    }
}

// ---- Reading the structure

void KsFile::WithStructureFile(KsIniFile* ini, const char* dataFileName,
                               const std::function<void(KsIniFile&)>& read) {
    if (ini != nullptr) {
        read(*ini);
        return;
    }
    std::unique_ptr<KsIniFile> file = GetIniFile(dataFileName);
    read(*file);
}

void KsFile::ReadStructure(KsIniFile* ini) {
    KsCallpath("ReadStructure()", kClass, GetFileName(), [&] {
        WithStructureFile(ini, GetFileName(), [&](KsIniFile& structure) {
            KsIniSection& info = *structure.GetSection(kKsFileInfoSection);
            ReadFileInfo(info, GetFileName());
            CheckPassword(info, GetFileName());
            ReadCategories(info);
            ReadUserFlags(info);
            ReadFieldArray(structure);
        });
    });
}

void KsFile::ReadFileInfo(KsIniSection& info, const char* dataFileName) {
    title_ = info.GetString(kKsTitleKey, dataFileName);
    information_ = info.GetString(kKsInformationKey, "");
    inputLayout_ = info.GetString(kKsInputLayoutKey, "");
    inputLayoutNumber_ = static_cast<std::uint16_t>(
        KsSectionRangedInt(info, kKsInputLayoutNumberKey, 0, 0, UINT16_MAX, kClass));
    primaryKeyFieldCount_ = static_cast<std::uint16_t>(
        KsSectionRangedInt(info, kKsPrimaryKeyFieldsKey, 0, 0, UINT16_MAX, kClass));
    std::int32_t relateFields =
        KsSectionRangedInt(info, kKsRelateFieldCountKey, 0, 0, UINT16_MAX, kClass);
    relateFields_.clear();
    for (std::int32_t i = 0; i < relateFields; ++i) {
        std::string key = Numbered(kKsRelateFieldKey, i);
        relateFields_.push_back(KsString(info.GetString(key.c_str(), "")));
    }
}

void KsFile::CheckPassword(KsIniSection& info, const char* dataFileName) const {
    std::string stored = info.GetString(kKsPasswordKey, "");
    if (stored.empty()) {
        return;
    }
    std::size_t bytes = stored.size() / 2;
    bool fits = bytes + 1 <= UINT16_MAX;
    std::string decoded(bytes + 1, '\0');
    if (fits) {
        info.GetBinaryString(kKsPasswordKey, decoded.data(),
                             static_cast<std::uint16_t>(decoded.size()), '\0');
        KsFileRecord::Decrypt(reinterpret_cast<unsigned char*>(decoded.data()),
                              static_cast<std::uint32_t>(bytes), KsFileRecord::GetLibraryKey());
    }
    if (!fits || !SameSecret(decoded.c_str(), password_.GetCString())) {
        KsFileException::Generate("Invalid password", kClass, dataFileName);
    }
}

void KsFile::ReadCategories(KsIniSection& info) {
    categories_.clear();
    for (std::int32_t i = 1;; ++i) {
        std::string key = Numbered("Category", i);
        const char* value = info.GetString(key.c_str(), "");
        if (*value == '\0') {
            return;
        }
        categories_.push_back(KsString(value));
    }
}

namespace {

// One "name;\"description\";value;width" line of the user flags: a flag type for the bits
// from `position` on, and its width.
std::unique_ptr<KsFlagType> ParseUserFlag(const char* line, std::uint32_t position,
                                          std::uint32_t& width) {
    auto refuse = [&] { KsException::Generate("Bad UserFlag string \"%s\"", kClass, line); };
    KsStringTokenizer tokens(line, ";", "\"");
    if (tokens.GetNumTokens() != 4) {
        refuse();
    }
    KsString name(*tokens.GetNextToken());
    KsString description(*tokens.GetNextToken());
    std::uint32_t value = 0;
    KsCallpath("ParseUserFlag()", kClass, [&] {
        KsConvertValue(value, tokens.GetNextToken()->GetCString(), true);
        KsConvertValue(width, tokens.GetNextToken()->GetCString(), true);
    });
    // The bits must lie inside the flag word, and the value inside its width.
    if (name.IsEmpty() || value == 0 || width < 1 || width > 32 || position + width > 32 ||
        (width < 32 && (value >> width) != 0)) {
        refuse();
    }
    return std::make_unique<KsFlagType>(name.GetCString(), description.GetCString(),
                                        value << position, false);
}

}  // namespace

void KsFile::ReadUserFlags(KsIniSection& info) {
    KsCallpath("ReadUserFlags()", kClass, [&] {
        userFlagTypes_.clear();
        std::int32_t count =
            KsSectionRangedInt(info, kKsUserFlagCountKey, 0, 0, UINT16_MAX, kClass);
        std::uint32_t position = 0;
        for (std::int32_t i = 1; i <= count; ++i) {
            if (position > 31) {
                KsException::Generate("Too many unknown flags", kClass);
            }
            std::string key = Numbered("UserFlag", i);
            std::string line = info.GetString(key.c_str(), "");
            std::uint32_t width = 0;
            std::unique_ptr<KsFlagType> type = ParseUserFlag(line.c_str(), position, width);
            if (KsFlagType::FindFieldFlagType(type->GetName()) == nullptr) {
                userFlagTypes_.Add(std::move(type));
                position += width;
            }
        }
    });
}

void KsFile::ReadFieldArray(KsIniFile& ini) {
    KsCallpath("ReadFieldArray()", kClass, [&] {
        // The field sections and their names, for the look-up of mapped fields.
        std::vector<KsIniSection*> sections;
        std::vector<std::string> names;
        for (std::int32_t i = 1;; ++i) {
            std::string name = Numbered("Field", i);
            std::int32_t index = ini.GetSectionIndex(name.c_str());
            if (index < 0) {
                break;
            }
            if (i > UINT16_MAX - 1) {
                KsException::Generate("More field sections than a table can hold", kClass);
            }
            sections.push_back(ini.GetSection(index));
            names.emplace_back(sections.back()->GetString(kKsFieldNameKey, ""));
        }
        fields_.clear();
        const KsField::FlagTypes* extra = &userFlagTypes_.GetPointers();
        for (std::size_t i = 0; i < sections.size(); ++i) {
            KsIniSection& section = *sections[i];
            std::unique_ptr<KsField> field = GetNewField();
            auto number = static_cast<std::uint16_t>(i);
            std::string mappedTo = section.GetString(kKsFieldMappedToKey, "");
            if (section.FindKey(kKsFieldMappedToKey) < 0) {
                field->Read(number, section, extra);
            } else {
                std::size_t target = 0;
                while (target < names.size() && names[target] != mappedTo) {
                    ++target;
                }
                if (target == names.size()) {
                    KsException::Generate(
                        "Field %d is mapped to \"%s\", which no field section "
                        "names",
                        kClass, static_cast<int>(i + 1), mappedTo.c_str());
                }
                // A mapped field's own section holds no definition to read: a field mapped
                // to itself or to another mapped field would not open again once written.
                if (sections[target]->FindKey(kKsFieldMappedToKey) >= 0) {
                    KsException::Generate("Field %d is mapped to \"%s\", which is a mapped field",
                                          kClass, static_cast<int>(i + 1), mappedTo.c_str());
                }
                field->Read(static_cast<std::uint16_t>(target), *sections[target], extra);
                field->ReadMappedField(number, section);
            }
            fields_.Add(std::move(field));
        }
    });
}

// ---- Writing the structure

void KsFile::WriteStructure(KsIniFile* ini, const FieldList* fields) {
    KsCallpath("WriteStructure()", kClass, GetFileName(), [&] {
        const FieldList& list = fields != nullptr ? *fields : fields_;
        if (ini != nullptr) {
            WriteStructureTo(*ini, list, GetFileName(), primaryKeyFieldCount_);
            if (*ini->GetFileName() != '\0') {
                ini->Write();
            }
            return;
        }
        ReplaceStructureFile(CompanionName(GetFileName(), kKsStructureExtension).GetCString(),
                             [&](KsIniFile& structure) {
                                 WriteStructureTo(structure, list, GetFileName(),
                                                  primaryKeyFieldCount_);
                             });
    });
}

void KsFile::ReplaceStructureFile(const char* name, const std::function<void(KsIniFile&)>& write) {
    WriteReplacing(name, kStructureTag, [&](const char* fresh) {
        KsIniFile structure(fresh, false, false, IO_READ | IO_WRITE, factory_);
        write(structure);
        structure.Write(false, IO_READ);
    });
}

void KsFile::WriteReplacing(const char* name, const char* prefix,
                            const std::function<void(const char* fresh)>& fill) {
    KsReplacementFile::WriteReplacing(factory_, name, prefix, fill);
}

void KsFile::WriteStructureTo(KsIniFile& ini, const FieldList& fields, const char* dataFileName,
                              std::uint16_t primaryKeyFieldCount) {
    KsIniSection& info = *ini.GetSection(kKsFileInfoSection);
    WriteFileInfo(info, dataFileName, primaryKeyFieldCount);
    WriteUserFlags(info);
    const KsField::FlagTypes* extra = &userFlagTypes_.GetPointers();
    std::int32_t n = 1;
    for (const KsField* field : fields) {
        std::string name = Numbered("Field", n++);
        field->Write(*ini.GetSection(name.c_str()), extra);
    }
    for (;; ++n) {
        std::string name = Numbered("Field", n);
        std::int32_t index = ini.GetSectionIndex(name.c_str());
        if (index < 0) {
            break;
        }
        EmptySection(*ini.GetSection(index));
    }
}

void KsFile::WriteFileInfo(KsIniSection& info, const char* dataFileName,
                           std::uint16_t primaryKeyFieldCount) const {
    KsFileName data(dataFileName);
    info.SetString(kKsFileNameKey, data.GetCompleteFileName());
    info.SetString(kKsTitleKey, title_.GetCString());
    info.SetString(kKsInformationKey, information_.GetCString());
    info.SetString(kKsInputLayoutKey, inputLayout_.GetCString());
    info.SetInt(kKsInputLayoutNumberKey, inputLayoutNumber_);
    info.SetInt(kKsPrimaryKeyFieldsKey, primaryKeyFieldCount);
    if (!password_.IsEmpty()) {
        std::string scrambled = password_.GetCString();
        KsFileRecord::Encrypt(reinterpret_cast<unsigned char*>(scrambled.data()),
                              static_cast<std::uint32_t>(scrambled.size()),
                              KsFileRecord::GetLibraryKey());
        info.SetBinaryString(kKsPasswordKey,
                             reinterpret_cast<const unsigned char*>(scrambled.data()),
                             static_cast<std::uint16_t>(scrambled.size()));
    } else {
        info.SetString(kKsPasswordKey, "");
    }
    std::int32_t i = 1;
    for (const KsString& category : categories_) {
        std::string key = Numbered("Category", i++);
        info.SetString(key.c_str(), category.GetCString());
    }
    RemoveNumberedKeys(info, "Category", i);
}

void KsFile::WriteUserFlags(KsIniSection& info) const {
    info.SetInt(kKsUserFlagCountKey, 0);
    std::int32_t written = 0;
    auto writeType = [&](const KsFlagType& type) {
        KsString line;
        line.printf("%s;\"%s\";%u;%u", type.GetName(), type.GetDescription(), type.GetShiftedMask(),
                    static_cast<unsigned>(type.GetBitWidth()));
        std::string key = Numbered("UserFlag", ++written);
        info.SetString(key.c_str(), line.GetCString());
    };
    for (const KsFlagType* type : KsFlagType::GetFieldFlagRegistry()) {
        if (!type->IsSystem()) {
            writeType(*type);
        }
    }
    for (const KsFlagType* type : userFlagTypes_) {
        writeType(*type);
    }
    info.SetInt(kKsUserFlagCountKey, written);
    RemoveNumberedKeys(info, "UserFlag", written + 1);
}
