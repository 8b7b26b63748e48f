#pragma once
/// @file
/// KsFile is the abstract table: a data file of numbered records (from 1) of one field
/// layout, described by a structure file in ini syntax beside it (the data file's name with
/// the extension ".kss"). A concrete class (CBFFile) supplies the storage; KsFile supplies
/// the field list, the structure file, the current and scratch records, the selection of
/// records, lock counting and the companion files of a table:
///
///   `<name><data extension>` the records (".cbf" for compressed binary tables)
///   `<name>.kss`             the structure file ("default.kss" in the folder stands in
///                            for a table without one)
///   `<name>.ksb`             the blob file
///   `<name>.klg`             the transaction log
///   `<name>.000` ...         one index file per indexed field, the field number in three
///                            digits
///
/// Structure file, section [FileInfo] in writing order: FileName, Title, Information,
/// InputLayout, InputLayoutNumber, PrimaryKeyFields, Password, Category1..n, UserFlagCount
/// and UserFlag1..n ("name;\"description\";value;width"); then one section [Field1] ...
/// [Fieldn] per field (see KsField). The stored password is the password's bytes run
/// through the record scrambler under the library key, in hexadecimal: it keeps the
/// password from being read at a glance, nothing more. Anyone with the library can
/// recover it; it is no protection against a determined reader.
///
/// Locks: Lock and Unlock count the table's read and write locks in step with the storage's
/// byte-range locks, so that nested code may lock a table it already holds.
///
/// Listeners (KsFileListener) registered with the table hear of its open, close,
/// destruction, locks, refreshes and, through the maintenance calls, of every record change.
///
/// Operations that belong to transactions are declared here and raise KsNotImplementedError
/// naming the operation until their layer provides them. The table's side of its indexes
/// lives in a KsTableIndexes, its selection in a KsTableSelection, both owned by the table.
///
/// Every file is opened, renamed and deleted through the KsIOFactory given at construction.

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "core/KsString.h"
#include "core/KsVector.h"
#include "files/KsBlobFile.h"
#include "files/KsField.h"
#include "files/KsFileListener.h"
#include "files/KsFileRecord.h"
#include "files/KsFlagType.h"
#include "files/KsTableIndexes.h"
#include "files/KsTableSelection.h"
#include "files/KsTransactionLog.h"
#include "io/KsFileName.h"
#include "io/KsIOFactory.h"
#include "io/KsReplacementFile.h"

class KsFileCheckPoint;
class KsFileListener;
class KsFileType;
class KsFormatLib;
class KsIndex;
class KsIniFile;
class KsIniSection;
class KsInputStreamInterface;
class KsOutputStreamInterface;
class KsProgressInterface;
class KsStoredRecords;
class KsTransaction;
class KsTransactionLog;

/// @{
/// Keys of the structure file's [FileInfo] section.
inline constexpr const char* kKsFileInfoSection = "FileInfo";
inline constexpr const char* kKsFileNameKey = "FileName";
inline constexpr const char* kKsTitleKey = "Title";
inline constexpr const char* kKsInformationKey = "Information";
inline constexpr const char* kKsInputLayoutKey = "InputLayout";
inline constexpr const char* kKsInputLayoutNumberKey = "InputLayoutNumber";
inline constexpr const char* kKsPrimaryKeyFieldsKey = "PrimaryKeyFields";
inline constexpr const char* kKsPasswordKey = "Password";
inline constexpr const char* kKsRelateFieldCountKey = "Number of Relate Fields";
inline constexpr const char* kKsRelateFieldKey = "Relate Field";
inline constexpr const char* kKsUserFlagCountKey = "UserFlagCount";
inline constexpr const char* kKsNumberOfFieldsKey = "NumberOfFields";
/// @}

/// @{
/// Companion file extensions: structure, blob and transaction log files.
inline constexpr const char* kKsStructureExtension = ".kss";
inline constexpr const char* kKsBlobExtension = ".ksb";
inline constexpr const char* kKsLogExtension = ".klg";
/// @}

/// A table: a data file of records, its structure file, indexes, a blob file and a
/// transaction log (see the file notes). The base class holds what every format shares;
/// a concrete format (CBFFile) supplies the storage. Errors are KsException or a
/// subclass named below, with the call path of the table call.
class KsFile {
public:
    /// The table's field list, which owns its fields.
    using FieldList = KsFieldList;
    /// @{
    /// Tags of the new structure and index files that replace the old ones (see
    /// KsReplacementFile).
    static constexpr const char* kStructureTag = "kss";
    static constexpr const char* kIndexTag = "kix";
    /// @}

    /// A closed table whose files go through `factory` (which must outlive it).
    explicit KsFile(KsIOFactory& factory = KsIOFactory::Default());
    /// @{
    /// Not copyable: listeners, locks and open files belong to one object.
    KsFile(const KsFile&) = delete;
    KsFile& operator=(const KsFile&) = delete;
    /// @}

    // ---- Operations of the concrete formats and of later layers

    /// Creates empty index files for the indexed fields of the table `name` (the open
    /// table's when null). Nothing to do when no field is indexed.
    virtual void BuildEmptyIndexes(const char* name = nullptr) { indexes_.BuildEmptyIndexes(name); }
    /// Makes this table `newName` with the layout of `source` and copies every record of
    /// `source` into it, reporting "Copying %d records..." and "%s --> %s" to `progress`
    /// (may be null), which is asked every 1000 records whether to go on; a refusal fails
    /// with KsFileCanceledException "Copying from \"%s\" to \"%s\" canceled by user". The
    /// records are appended under the table's write lock.
    virtual void CreateFrom(const char* newName, KsFile& source,
                            KsProgressInterface* progress = nullptr, int flags = 0);
    /// Makes and opens the table `name` from `fields`, or, without them, from fields of this
    /// class copied from `source` (number, type, length, precision, category, flags, index
    /// count, name, format or filter and what the class stores beyond them, such as the bits
    /// and divisor of a compressed binary field), laid out by PackFields, with `source`'s user flag
    /// types and primary key field count.
    virtual void CreateAndOpenFrom(const char* name, KsFile& source,
                                   const FieldList* fields = nullptr);
    /// The record whose primary key fields equal those of `record`, 0 when none (the lowest
    /// when several do); "No primary key defined for this file" without key fields. The
    /// current record number is kept.
    virtual std::int32_t GetRecordNumberByKey(const KsFileRecord& record);
    /// Opens the table's blob file (its name with ".ksb", made when missing), replacing the one
    /// open. Open does so for a table with Blob fields.
    virtual void OpenBlobFile();

    // Raw record changes; the sets and the current record are brought in step by Refresh
    // (or by the maintenance calls).

    /// Writes `record` after the last record; returns its number.
    virtual std::int32_t DataAppend(KsFileRecord& record) = 0;
    /// Removes record n, first copying it into `oldRecord` when one is given.
    virtual void DataDelete(std::int32_t n, KsFileRecord* oldRecord = nullptr) = 0;
    /// Inserts `record` as record n; this default appends it instead. Returns its number.
    virtual std::int32_t DataInsert(std::int32_t n, KsFileRecord& record);
    /// Overwrites record n, first copying it into `oldRecord` when one is given; returns n.
    virtual std::int32_t DataModify(std::int32_t n, KsFileRecord& record,
                                    KsFileRecord* oldRecord = nullptr) = 0;
    /// Removes the record with the primary key of `oldRecord` (copied into `removedCopy`
    /// when given) and adds `newRecord`; the numbers go to `removedNumber` and
    /// `addedNumber`.
    virtual void DataReplace(KsFileRecord& oldRecord, KsFileRecord& newRecord,
                             KsFileRecord* removedCopy, std::int32_t& removedNumber,
                             std::int32_t& addedNumber);
    /// Appends `record` unless a record has its primary key ("Attempting to add new
    /// record, but the primary keys match those of record %d"); returns its number.
    virtual std::int32_t DataAdd(KsFileRecord& record);
    /// @{
    /// Removes, or overwrites with `record`, the record with the primary key of `record`
    /// ("Keys not found in file" when none); returns its number.
    virtual std::int32_t DataRemove(KsFileRecord& record, KsFileRecord* oldRecord = nullptr);
    virtual std::int32_t DataUpdate(KsFileRecord& record, KsFileRecord* oldRecord = nullptr);
    /// @}
    /// @{
    /// Keep indexes, sets and listeners in step after a raw change. With set maintenance on,
    /// an added record n enters both sets at n (the selection with the new-records-selected
    /// bit, the second set selected) and a deleted one leaves them; the selection position
    /// becomes 0 and the listeners are told. After a deletion the current record follows:
    /// the record before a deleted current one (record 1 when it was the first), the same
    /// record one number lower when it lay behind, none when the table is empty. A
    /// replacement (old n deleted, new n added) makes new n current.
    virtual void FileMaintenanceAdd(std::int32_t n, const KsFileRecord& record);
    virtual void FileMaintenanceDelete(std::int32_t n);
    virtual void FileMaintenanceModify(std::int32_t n, const KsFileRecord& oldRecord,
                                       const KsFileRecord& newRecord);
    virtual void FileMaintenanceReplace(std::int32_t oldNumber, std::int32_t newNumber,
                                        const KsFileRecord& oldRecord,
                                        const KsFileRecord& newRecord);
    /// @}

    /// Sends the destroy event, releases the listeners and closes the table.
    virtual ~KsFile();

    /// @{
    /// Builds the field's index from the records into its slot (not yet saved): "Index
    /// already exists" when one is loaded, "Cannot create an index on a mapped field".
    /// `progress` may be null.
    virtual void AddIndex(std::uint16_t fieldNumber, KsProgressInterface* progress = nullptr);
    virtual void AddIndex(const char* fieldName, KsProgressInterface* progress = nullptr);
    /// @}
    /// Starts a transaction that carries each action out at once (KsTransactionOld), which
    /// EndTransaction ends and deletes; with `lockForWriting` under a write lock held
    /// until then. One at a time: KsTransactionException "Transaction already in process.
    /// Only one transaction allowed at a time."; a shared lock refuses writing; without
    /// KsInstallTransactions() KsNotImplementedError.
    virtual KsTransaction* BeginTransaction(bool lockForWriting);
    /// Ends any transaction, forgets the fields, the structure and the storage; the lock
    /// counts become 0.
    virtual void Close();
    /// Copies the structure file (rewriting its FileName) and/or the data, blob and index
    /// files of the table `sourceName` to `targetName`.
    virtual void Copy(const char* sourceName, const char* targetName, KsProgressInterface* progress,
                      bool copyStructure, bool copyData);
    /// Makes a new table from a laid-out field list; this default fails with "This driver
    /// can not create a new file."
    virtual void Create(const char* name, FieldList& fields, std::uint16_t primaryKeyFieldCount,
                        bool buildIndexes);
    /// Keeps the blob file from freeing unreferenced blobs until PerformExternalUpdates.
    virtual void DelayExternalUpdates();
    /// Deletes the files of the table `name`: with `deleteData` its index, data, blob and
    /// log files, with `deleteStructure` its structure file.
    virtual void DeleteFile(const char* name, bool deleteStructure, bool deleteData);
    /// Removes every record; this default fails with "Empty function not supported".
    virtual void Empty();
    /// Keeps the first `count` records and cuts off the rest (and any bytes after the last
    /// whole record); this default fails with "KeepRecords function not supported".
    virtual void KeepRecords(std::int32_t count);
    /// The table's records as stored bytes, when it keeps them as fixed-length blocks; null
    /// (this default) otherwise.
    virtual KsStoredRecords* GetStoredRecords() { return nullptr; }
    /// Ends `transaction` and deletes it: one of StartTransaction at once (its log entry
    /// stays), the active one of BeginTransaction with its write lock. Any other
    /// transaction, one already ended among them, raises KsTransactionException "No
    /// transaction in process.".
    virtual void EndTransaction(KsTransaction* transaction);
    /// A check point of the selection (KsPlainFCheckPoint).
    virtual std::unique_ptr<KsFileCheckPoint> GetCheckPoint();
    /// @{
    /// The file type's data file extension and name.
    virtual const char* GetDefaultExtension() const;
    virtual const char* GetFileTypeName() const;
    /// @}
    /// The version of the format.
    virtual double GetFileVersion() const { return 1.0; }
    /// The field's index (the index of the field it is mapped to): the loaded one, else its
    /// index file when that was written for the table as it is, else one built from the
    /// records. With `rebuild` it is built from the records whatever is loaded or stored.
    /// The index is owned by the table; it stays valid until it is removed, the indexes
    /// are cleared or the table closes.
    virtual KsIndex* GetIndex(std::uint16_t fieldNumber, bool rebuild = false);
    /// Whether the index file of the field exists.
    virtual bool IndexFileExists(std::uint16_t fieldNumber);
    /// A new, empty field of the table's field class.
    virtual std::unique_ptr<KsField> GetNewField() const;
    /// The data file's name without folder and extension.
    virtual KsString GetBaseName() const;
    /// Reads the record with the primary key of `record` into `target`; returns its number
    /// (0 when none, and `target` is unchanged).
    virtual std::int32_t GotoRecordByPrimaryKeys(const KsFileRecord& record, KsFileRecord& target);
    /// Counts one lock: a write lock when the flags carry LOCK_WRITE, else a read lock, and
    /// tells the listeners (FLLock). Concrete tables lock their storage first.
    virtual void Lock(int flags);
    /// Lets the blob file free what no record references any more.
    virtual void PerformExternalUpdates();
    /// The stream form of the table object.
    virtual void Read(KsInputStreamInterface& stream) = 0;
    /// Reads the structure from `ini`, or from the structure file of the open table.
    virtual void ReadStructure(KsIniFile* ini = nullptr);
    /// Brings the selection up to date with the record count, reads the first selected
    /// record and tells the listeners (FLRefresh).
    virtual void Refresh();
    /// Makes `transaction` (not owned) the table's active one unless one is active; a
    /// shared lock refuses it ("File is under a shared lock; no writes are allowed.").
    virtual void RegisterTransaction(KsTransaction* transaction);
    /// @{
    /// Releases the field's index and deletes its index file.
    virtual void RemoveIndex(const char* fieldName) { indexes_.RemoveIndex(fieldName); }
    virtual void RemoveIndex(std::uint16_t fieldNumber) { indexes_.RemoveIndex(fieldNumber); }
    /// @}
    /// Renames the table's files (data, structure, blob, log and index files) from `oldName`
    /// to `newName`; a password fails with "KsFile's Rename can not handle passwords".
    virtual void Rename(const char* oldName, const char* newName, const char* password = nullptr);
    /// Puts the check point's selection back. An expired check point fails with "Cannot
    /// restore file state from an expired checkpoint."; a selection of another size than
    /// the record count is cut or extended to it (new records with the new-records-selected
    /// bit) and fails with "Checkpoint had %ld records in set, but file contains %ld
    /// records".
    virtual void RestoreCheckPoint(KsFileCheckPoint& checkPoint);
    /// Sorts the records in place by the fields in order, ascending (see KsSortTable), under
    /// the table's write lock. Index files made for the old order go: with `rebuildIndexes`
    /// every indexed field's index is built again and saved, without it they are deleted
    /// (GetIndex builds them when asked).
    virtual void Sort(const KsVector<std::uint16_t>& fieldNumbers,
                      KsProgressInterface* progress = nullptr, bool rebuildIndexes = false);
    /// Puts the file `replacement` (the records' WriteRecord forms one after another) in the
    /// place of the table's data file in one rename and reads the table from it; the locks
    /// the table holds are taken on the new file first. When it raises, the table and its
    /// data file are as they were. This default raises KsNotImplementedError.
    virtual void ReplaceDataFile(const char* replacement);
    /// A new transaction that logs its actions and commits them together
    /// (KsTransactionNew) under `number` and `description`; the caller ends it with
    /// EndTransaction, which deletes it. Needs a table open for writing with
    /// KsInstallTransactions() called before it was opened: else KsTransactionException
    /// "New transactions require the ability to create a log file".
    virtual KsTransaction* StartTransaction(std::int32_t number, const char* description);
    /// Releases one lock counted by Lock; a write lock when the flags carry LOCK_WRITE (or
    /// when only write locks are held), else a read lock. Returns whether the table holds no
    /// lock any more. The last write lock's release switches the listeners on again and
    /// sends FLRefresh; every release sends FLUnlock.
    virtual bool Unlock(int flags);
    /// The stream form of the table object (read back by Read).
    virtual void Write(KsOutputStreamInterface& stream) = 0;
    /// Writes the structure of the open table (or of `fields`) to `ini`, or, without it,
    /// replaces the table's structure file.
    virtual void WriteStructure(KsIniFile* ini = nullptr, const FieldList* fields = nullptr);
    /// Writes pending changes of the storage.
    virtual void Flush() = 0;
    /// Flushes and waits until the records are on the storage device.
    virtual void Sync() { Flush(); }
    /// Number of the record last read, 0 when none.
    virtual std::int32_t GetCurrentRecordNumber() const = 0;
    /// Makes the current record number 0 (the record last read is gone).
    virtual void ForgetCurrentRecord() = 0;
    /// A new record of the table's record class over its fields.
    virtual std::unique_ptr<KsFileRecord> GetNewRecord() = 0;
    /// The number of records.
    virtual std::int32_t GetNumRecords() const = 0;
    /// Reads record n (1 to GetNumRecords()) into `record`, or into the current record.
    virtual void GotoRecord(std::int32_t n, KsFileRecord* record = nullptr) = 0;
    /// Opens the table whose data file is `name` with the open flags of KsIO; the structure
    /// comes from `ini`, else from `alternateHeader`, else from the table's structure file.
    /// A table stored with a password needs the same `password`.
    virtual void Open(const char* name, int flags, const char* alternateHeader = nullptr,
                      KsIniFile* ini = nullptr, const char* password = nullptr) = 0;
    /// Lays out a field list for this format: byte offsets, lengths and whatever else the
    /// format stores.
    virtual void PackFields(FieldList& fields) = 0;
    /// Lock without waiting; true when granted (and counted).
    virtual bool TryLock(int flags) = 0;
    /// The format's process-wide descriptor.
    virtual const KsFileType& GetFileType() const = 0;

    // ---- Fields

    /// The number of fields; 0 while closed.
    std::int32_t GetFieldCount() const { return static_cast<std::int32_t>(fields_.size()); }
    /// @{
    /// Field n, owned by the table; the vector's range check applies.
    KsField& GetField(std::int32_t n) { return *fields_[n]; }
    const KsField& GetField(std::int32_t n) const { return *fields_[n]; }
    /// @}
    /// The field list, owned by the table.
    const FieldList& GetFields() const { return fields_; }
    /// The number of the field of that name, compared without regard to case; an unknown
    /// name throws KsFieldNotFoundException with the name as its message.
    std::int32_t GetFieldNumber(const char* name) const;
    /// The field of that name (as GetFieldNumber finds it).
    const KsField& FieldGetInfo(const char* name) const;

    // ---- Records and the selection

    /// @{
    /// The current record (read by GotoRecord without a record) and the scratch record,
    /// owned by the table; null while the table is closed.
    KsFileRecord* GetCurrentRecord() { return currentRecord_.get(); }
    KsFileRecord* GetScratchRecord() { return scratchRecord_.get(); }
    /// @}
    /// Reads the first selected record into `record` (the current one when null); false when
    /// none is selected.
    bool GotoFirstRecord(KsFileRecord* record = nullptr);
    /// @{
    /// The selection: a set over the record numbers, owned by the table.
    const KsSet& GetSelection() const { return selection_.GetSelection(); }
    KsSet& GetSelection() { return selection_.GetSelection(); }
    /// @}
    /// The second set, kept in step with the selection.
    const KsSet& GetSecondSet() const { return selection_.GetSecondSet(); }
    /// Where GotoFirstRecord's walk through the selection stands; 0 before it starts.
    std::int32_t GetSelectionPosition() const { return selection_.GetPosition(); }
    /// The next GotoFirstRecord starts afresh.
    void ResetSelectionPosition() { selection_.ResetPosition(); }

    // ---- Table attributes

    /// The data file's full name; empty while closed.
    const char* GetFileName() const { return fileName_.GetFullPath(); }
    /// The factory through which the table opens its files.
    KsIOFactory& GetFactory() const { return factory_; }
    /// @{
    /// Attributes of the [FileInfo] section, stored by the next WriteStructure. Texts are
    /// copied, and valid while unchanged.
    const char* GetTitle() const { return title_.GetCString(); }
    void SetTitle(const char* title) { title_ = title; }
    const char* GetInformation() const { return information_.GetCString(); }
    void SetInformation(const char* text) { information_ = text; }
    const char* GetInputLayout() const { return inputLayout_.GetCString(); }
    void SetInputLayout(const char* text, std::uint16_t number);
    std::uint16_t GetInputLayoutNumber() const { return inputLayoutNumber_; }
    /// @}
    /// @{
    /// The number of leading fields that make up the primary key; 0 for none.
    std::uint16_t GetPrimaryKeyFieldCount() const { return primaryKeyFieldCount_; }
    void SetPrimaryKeyFieldCount(std::uint16_t count) { primaryKeyFieldCount_ = count; }
    /// @}
    /// The password stored by the next WriteStructure (empty: none).
    void SetPassword(const char* password) { password_ = password; }
    /// @{
    /// The relate fields read from the structure; an index outside raises the vector's
    /// range error.
    std::int32_t GetRelateFieldCount() const {
        return static_cast<std::int32_t>(relateFields_.size());
    }
    const char* GetRelateField(std::int32_t i) const { return relateFields_[i].GetCString(); }
    /// @}

    /// Appends a field category (copied).
    void AddCategory(const char* name);
    /// Removes category `index`; an index outside raises the vector's range error.
    void RemoveCategory(std::int32_t index);
    /// Category `index`, from 0.
    const char* GetCategory(std::int32_t index) const { return categories_[index].GetCString(); }
    /// The number of categories.
    std::int32_t GetCategoryCount() const { return static_cast<std::int32_t>(categories_.size()); }

    /// The table's own user flag types (beside the registry's).
    const KsField::FlagTypes& GetUserFlagTypes() const { return userFlagTypes_.GetPointers(); }
    /// Takes ownership of a user flag type of the table's own.
    void AddUserFlagType(std::unique_ptr<KsFlagType> type);

    /// The table's own format library, else the process-wide one of fields.
    KsFormatLib* GetFormatLib() const;
    /// Sets the table's own format library (not owned; null: the process-wide one).
    void SetFormatLib(KsFormatLib* library) { formatLib_ = library; }

    /// Whether record changes update the loaded indexes.
    bool GetIndexingState() const { return indexes_.GetIndexingState(); }
    /// Turning indexing off releases the loaded indexes.
    void SetIndexingState(bool enabled) { indexes_.SetIndexingState(enabled); }
    /// @{
    /// Bring the loaded indexes up to date after a record change (nothing when indexing is
    /// off). A Blob field's index is removed instead of updated.
    void IndexRecordAdded(std::int32_t n, const KsFileRecord& record);
    void IndexRecordDeleted(std::int32_t n) { indexes_.IndexRecordDeleted(n); }
    void IndexRecordModified(std::int32_t n, const KsFileRecord& record);
    /// @}
    /// @{
    /// Whether the maintenance calls keep the sets in step with added and deleted records.
    bool GetSetMaintenance() const { return selection_.GetSetMaintenance(); }
    void SetSetMaintenance(bool on) { selection_.SetSetMaintenance(on); }
    /// @}
    /// @{
    /// Whether a record added under set maintenance enters the selection selected.
    bool GetNewRecordsSelected() const { return selection_.GetNewRecordsSelected(); }
    void SetNewRecordsSelected(bool on) { selection_.SetNewRecordsSelected(on); }
    /// @}

    /// @{
    /// The locks counted by Lock and not yet released.
    std::uint16_t GetReadLockCount() const { return readLocks_; }
    std::uint16_t GetWriteLockCount() const { return writeLocks_; }
    /// @}

    // ---- Listeners

    /// @{
    /// Registers or unregisters a listener (not owned; see KsMultiFileListener for the
    /// counting of registrations).
    void AddActionListener(KsFileListener& listener);
    void RemoveActionListener(KsFileListener& listener);
    /// @}
    /// @{
    /// Switch the table's listeners off and on; `notify` tells them.
    void DeactivateListeners(bool notify);
    void ActivateListeners(bool notify);
    /// @}
    /// Whether the table's listeners receive events.
    bool AreListenersActive() const { return !listeners_.IsInactive(); }
    /// The table's listeners, for sending events.
    KsMultiFileListener& GetListeners() { return listeners_; }

    // ---- Companion files

    /// The structure file of the data file `dataFileName` (".kss" beside it, else
    /// "default.kss" in its folder); "Unable to open .KSS for %s" when neither exists.
    std::unique_ptr<KsIniFile> GetIniFile(const char* dataFileName) const;
    /// `name` with its extension replaced by `extension`.
    static KsString CompanionName(const char* name, const char* extension);
    /// The index file of a field of the table `name` (the open table's when null): the
    /// field number (of the field it is mapped to, for a mapped field of the open table) as
    /// a three-digit extension.
    KsString GetIndexFileName(std::uint16_t fieldNumber, const char* name = nullptr) const;
    /// Deletes the index files of field numbers 0 ... count - 1 of the table `name`.
    void DeleteIndexesFor(const char* name, std::int32_t count);

    // ---- Indexes (one index file per indexed field; see KsIndex for the format)

    /// A new, empty index for a field of that type and length over recordCount records. A
    /// Blob field's index reads the table's blob file: "Cannot create index on blob field
    /// without a blob file" without one.
    std::unique_ptr<KsIndex> GetNewIndex(char type, std::uint16_t length, std::int32_t recordCount);
    /// The loaded index of the field (of the field it is mapped to), or null.
    KsIndex* GetLoadedIndex(std::uint16_t fieldNumber) const;
    /// Builds every indexed field's missing index file (deleting every one first with
    /// `rebuild`) and deletes stray index files of unindexed fields; failures of single fields
    /// are collected and raised together.
    void VerifyIndexExists(bool rebuild, KsProgressInterface* progress = nullptr,
                           std::int16_t version = 510);
    /// VerifyIndexExists without rebuilding, then GetIndex for every indexed field.
    void LoadIndexes() { indexes_.LoadIndexes(); }
    /// Writes every loaded index that has changes to its file (see SaveIndex).
    void SaveIndexes() { indexes_.SaveIndexes(); }
    /// Writes the field's loaded index to its file through a new file renamed over the old
    /// one, so that the file is always the old index or the new one.
    void SaveIndex(std::uint16_t fieldNumber, std::int16_t version = 510);
    /// Writes back the changed indexes (unless `discard`), then releases every index; with
    /// `discard` the index files are deleted.
    void ClearIndexes(bool discard) { indexes_.ClearIndexes(discard); }
    /// Releases every loaded index and deletes every field's index file.
    void DeleteIndexes() { indexes_.DeleteIndexes(); }
    /// Copies the index files of the open table's fields from the table `sourceName` to the
    /// table `targetName`.
    void CopyIndexes(const char* sourceName, const char* targetName);
    /// The log of new-style transactions; "No transaction log available; file is either not
    /// open or read-only." when the table has none.
    KsTransactionLog& GetTransactionLog();
    /// Whether the table keeps a transaction log (open for writing with transactions
    /// installed).
    bool HasTransactionLog() const { return transactionLog_ != nullptr; }
    /// The transaction begun or registered on the table, or null; not owned by the caller.
    KsTransaction* GetActiveTransaction() const { return activeTransaction_; }
    /// @{
    /// Hand an append of `record`, or a modify of record n to `record`, to `transaction`; the
    /// table changes when the transaction carries them out (at once for one of
    /// BeginTransaction, at its Commit for one of StartTransaction). A null transaction
    /// raises "NULL transaction pointer passed to AppendRecord()" (or SaveRecord()).
    void AppendRecord(KsTransaction* transaction, const KsFileRecord& record);
    void SaveRecord(KsTransaction* transaction, std::int32_t n, const KsFileRecord& record);
    /// @}
    /// The open blob file, or null.
    KsBlobFile* GetBlobFile() const { return blobFile_.get(); }

    // ---- Changes outside the transaction log, and the repair after a crash

    /// Marks a change that the transaction log does not cover (an import, a sort, an index
    /// built or removed) for as long as it lives: a change marker beside the table (see
    /// files/KsTableLeftovers.h), claimed by this process and synced before the change
    /// begins, tells the next open for writing, should this process die first, to repair the
    /// table. Scopes nest and share one marker; it goes when the last scope ends normally,
    /// and stays, unclaimed, for the repair when a scope ends by an exception or Abandon.
    class ChangeScope {
    public:
        /// @{
        /// Moved, not copied: one scope ends one change.
        ChangeScope(ChangeScope&& other) noexcept : table_(other.table_) { other.table_ = nullptr; }
        ChangeScope(const ChangeScope&) = delete;
        ChangeScope& operator=(const ChangeScope&) = delete;
        ChangeScope& operator=(ChangeScope&&) = delete;
        /// @}
        /// Ends the change (see the class notes).
        ~ChangeScope();
        /// Ends the change leaving the marker for the next open to repair the table.
        void Abandon() noexcept;

    private:
        friend class KsFile;
        ChangeScope(KsFile& table) : table_(&table), exceptions_(std::uncaught_exceptions()) {}
        KsFile* table_;
        int exceptions_;
    };
    /// Starts a change (see ChangeScope). With `keepRecords` >= 0, the repair cuts the data
    /// file back to that many records (the change only appends); with `temporaryFolder`, it
    /// removes the sort run files ("QJsrt...") there that their sorts left when they died; in
    /// any case it builds the index files that do not fit the records afresh and removes the
    /// new files left beside the table.
    ChangeScope BeginChange(std::int32_t keepRecords = -1, const char* temporaryFolder = nullptr);
    /// @{
    /// Whether tables wait for what must survive a power failure to reach the storage
    /// device (see io/KsSyncPolicy.h, which these set and read).
    static void SetSyncing(bool on);
    static bool IsSyncing();
    /// @}
    /// What the last open for writing repaired after a crash, one sentence each.
    const std::vector<KsString>& GetRepairs() const { return repairs_; }
    /// The leftovers of a crash beside the table whose data file is `dataFile`: an inverse
    /// file, a change marker or a temporary file, whatever their state (see
    /// files/KsTableLeftovers.h); only an open for writing can repair what they stand for.
    static bool HasLeftovers(const char* dataFile);

protected:
    /// The first step of every Open: closes the table and takes the new name (with the
    /// format's data file extension).
    void OpenSetup(const char* name);
    /// The structure of the table being opened, from `ini`, `alternateHeader` or the
    /// structure file; then the index slots and, with IO_TRUNCATE in `flags`, the removal of
    /// the index files.
    void OpenStructure(int flags, const char* alternateHeader, KsIniFile* ini,
                       const char* password);
    /// The last step of every Open: owners of the fields, the current and scratch records,
    /// the selection, the first record.
    void OpenFinish();
    /// The [FileInfo] and field sections of `fields` into `ini` for the data file
    /// `dataFileName`; sections of fields beyond the list are emptied.
    void WriteStructureTo(KsIniFile& ini, const FieldList& fields, const char* dataFileName,
                          std::uint16_t primaryKeyFieldCount);
    /// Replaces the structure file `name` in one step by a new one that `write` fills, so
    /// that it is always either the old file or the new one.
    void ReplaceStructureFile(const char* name, const std::function<void(KsIniFile&)>& write);
    /// Reads the structure file of the data file `dataFileName`, or the given one, running
    /// `read` on it.
    void WithStructureFile(KsIniFile* ini, const char* dataFileName,
                           const std::function<void(KsIniFile&)>& read);
    /// Writes an empty index file (no records) for every indexed, unmapped field of `fields`
    /// beside the data file `name`.
    void BuildEmptyIndexesFor(const FieldList& fields, const char* name);
    /// @{
    /// Lets the count follow a lock or unlock of the storage.
    void CountLock(int flags);
    bool CountUnlock(int flags);
    /// @}
    /// @{
    /// The repair of a table opened for writing, when a process that changed it died:
    /// first, before the selection is made, RepairBeforeLog cuts back records that a change
    /// cut short appended (and refuses an open without transactions while a commit cut short
    /// waits to be rolled back); after the log has rolled back what it holds, RepairAfterLog
    /// builds the index files afresh and removes the leftovers.
    void RepairBeforeLog();
    void RepairAfterLog();
    /// @}
    /// @{
    /// Opens the transaction log of a table opened for writing (recovering an interrupted
    /// commit), and ends the active transaction and closes the log.
    void OpenTransactionLog();
    void CloseTransactions();
    /// @}
    /// The fields being read or written (the table's own).
    FieldList& MutableFields() { return fields_; }
    /// The record count the selection is kept at.
    void SetSelectionSize(std::int32_t size) { selection_.SetSize(size); }
    /// Sends the destroy event once and releases the listeners. A concrete table calls it
    /// first thing in its destructor, while listeners may still use the whole table.
    void NotifyDestroy() noexcept;

private:
    // The index side reads the open flags, replaces index files like the other files, and
    // marks the index files out for the repair.
    friend class KsTableIndexes;

    void ReadFileInfo(KsIniSection& info, const char* dataFileName);
    void CheckPassword(KsIniSection& info, const char* dataFileName) const;
    void ReadCategories(KsIniSection& info);
    void ReadUserFlags(KsIniSection& info);
    void ReadFieldArray(KsIniFile& ini);
    void WriteFileInfo(KsIniSection& info, const char* dataFileName,
                       std::uint16_t primaryKeyFieldCount) const;
    void WriteUserFlags(KsIniSection& info) const;
    // Closes the blob file and forgets it; a failure to write it is raised.
    void CloseBlobFile();
    [[noreturn]] void ThrowNotImplemented(const char* operation) const;
    // After record n left the table: the current record follows it (see
    // FileMaintenanceDelete).
    void FollowDeletedCurrentRecord(std::int32_t n, std::int32_t current);
    void DiscardIndexesQuietly() noexcept;
    // Runs `undo` on a failure path; when it fails too, the indexes are discarded.
    void TakeBack(const std::function<void()>& undo) noexcept;
    bool KeyFieldsIndexed() const;
    std::int32_t FindByKeyIndexes(const KsFileRecord& record);
    // Writes the file `name` through a new file (its name starting with `prefix`) beside it,
    // which `fill` writes and which then replaces `name` in one step.
    void WriteReplacing(const char* name, const char* prefix,
                        const std::function<void(const char* fresh)>& fill);
    std::uint16_t writeLocks_ = 0;
    std::uint16_t readLocks_ = 0;
    std::uint16_t inputLayoutNumber_ = 0;
    std::uint16_t primaryKeyFieldCount_ = 0;
    bool transactionWriteLocked_ = false;
    KsIOFactory& factory_;
    KsFileName fileName_;
    KsTableSelection selection_;
    KsString inputLayout_;
    KsString title_;
    KsString information_;
    KsString password_;
    KsPointerVector<KsFlagType> userFlagTypes_;
    KsVector<KsString> categories_;
    FieldList fields_;
    KsVector<KsString> relateFields_;
    std::unique_ptr<KsFileRecord> currentRecord_;
    std::unique_ptr<KsFileRecord> scratchRecord_;
    std::unique_ptr<KsBlobFile> blobFile_;
    // After the fields and the blob file, which its indexes use: destroyed before them.
    KsTableIndexes indexes_{*this};
    // The open flags of the table, for its blob file and its index side.
    int openFlags_ = 0;
    KsFormatLib* formatLib_ = nullptr;
    // Made at open for writing; reset before the fields go, since it reads actions back.
    std::unique_ptr<KsTransactionLog> transactionLog_;
    KsTransaction* activeTransaction_ = nullptr;
    // The listeners registered with the table; its inactive flag is the table's.
    KsMultiFileListener listeners_;
    bool destroyNotified_ = false;

    // Changes outside the log (KsFileRecovery.cpp). The marker stands while a scope is open
    // or while index files are deleted for changes of the loaded indexes (until they are
    // written at the close); `changes_` holds what each open scope asked of the repair.
    struct ChangeAsked {
        std::int32_t keepRecords;
        std::string temporaryFolder;
    };
    void StartChange(ChangeAsked asked);
    void EndChange(bool keepMarker) noexcept;
    void MarkIndexFilesOut();
    void WriteMarker();
    void SyncMarkerFolder();
    void DropMarker(bool keep) noexcept;
    // Gives up the markers of dead writers that an open claimed and did not repair.
    void ReleaseClaimedMarkers() noexcept;
    std::unique_ptr<KsReplacementFile> changeMarker_;
    std::vector<ChangeAsked> changes_;
    bool indexFilesOut_ = false;
    // What the opening repaired, and the markers of dead writers it claimed meanwhile.
    std::vector<KsString> repairs_;
    std::vector<std::pair<std::string, int>> claimedMarkers_;
    std::vector<std::string> runFolders_;
    bool needsRepair_ = false;
};
