#pragma once
/// @file
/// Record actions: one change to a table packaged as an object that can carry itself out on
/// the table and give back the action that undoes it. Transactions log actions, commit them
/// and roll them back with their inverses.
///
/// Every change is two steps on the table: the data step (its storage changes) and the
/// maintenance step (indexes, sets and listeners follow). When the maintenance step fails,
/// the data step is undone before the failure is reported (KsCommitFailure); when the undo
/// fails too, KsRollbackFailure says the table may be half-changed.
///
/// Committing an action and then the inverse it returned leaves the table as it was: the
/// same records at the same record numbers. So a delete or a remove is undone by inserting
/// the old record back at its old number.
///
/// Stream form: one type byte, then the kind's data (little-endian):
///   'A' add, 'P' append, 'R' remove   the record's serial form (KsFileRecord::RawSerialWrite)
///   'I' insert, 'M' modify            the record's serial form, the number as 32 bits
///   'D' delete                        the number as 32 bits
///   0   null                          nothing

#include <cstdint>
#include <memory>

#include "core/KsString.h"

class KsFile;
class KsFileRecord;
class KsInputStreamInterface;
class KsOutputStreamInterface;
class KsRecordActionData;

/// The type bytes of the stream form, one per kind.
namespace KsActionType {
inline constexpr char kAdd = 'A';     ///< KsAddAction: the record, placed by its primary key
inline constexpr char kAppend = 'P';  ///< KsAppendAction: the record, after the last
inline constexpr char kInsert = 'I';  ///< KsInsertAction: the record and its number
inline constexpr char kModify = 'M';  ///< KsModifyAction: the record and the number it overwrites
inline constexpr char kDelete = 'D';  ///< KsDeleteAction: the number
inline constexpr char kRemove = 'R';  ///< KsRemoveAction: the record, found by its primary key
inline constexpr char kNull = 0;      ///< KsNullAction: nothing
}  // namespace KsActionType

/// One change to a table (see the file notes). Errors are KsException or a subclass
/// named here, with the call path of the action.
class KsRecordAction {
public:
    /// The kind's own data, without the type byte.
    virtual void WriteData(KsOutputStreamInterface& stream) const = 0;
    virtual ~KsRecordAction() = default;
    /// Whether the action can be carried out on `table`; the kinds that find their record by
    /// its primary key need a table that has one.
    virtual bool CanCommitTo(const KsFile& table) const;
    /// A new action equal to this one.
    virtual std::unique_ptr<KsRecordAction> Copy() const = 0;
    /// Carries the action out; returns the action that undoes it.
    virtual std::unique_ptr<KsRecordAction> Commit(KsFile& table) = 0;
    /// The action that would undo this one, worked out without changing the table.
    virtual std::unique_ptr<KsRecordAction> GenerateInverse(KsFile& table) = 0;
    /// The action that undoes this one on the table as it is now, worked out before it is
    /// carried out, in the form a rollback applies by record number (the record a modify
    /// overwrites, a delete of the record an append or insert adds); null when the table
    /// does not hold what the action needs. By default GenerateInverse's.
    virtual std::unique_ptr<KsRecordAction> PredictInverse(KsFile& table) {
        return GenerateInverse(table);
    }
    /// Carries the action out without keeping an inverse.
    virtual void PermanentCommit(KsFile& table) = 0;
    /// Whether `other` writes the same type byte and data as this action (see Write). By
    /// default both are written and compared.
    virtual bool WritesSameAs(const KsRecordAction& other) const;
    /// The record and number data of a kind that keeps them, or null.
    virtual const KsRecordActionData* GetData() const { return nullptr; }
    /// Appends a text saying what the action does.
    virtual void AppendDescription(KsString& out) const = 0;
    /// The type byte of the stream form.
    virtual char GetType() const = 0;

    /// Reads one action (its type byte and data) for `table`. An unknown type fails with
    /// KsRecordActionUnknown.
    static std::unique_ptr<KsRecordAction> Read(KsFile& table, KsInputStreamInterface& stream);
    /// Writes the action's type byte and data.
    static void Write(const KsRecordAction& action, KsOutputStreamInterface& stream);

    /// @{
    /// One change in its two steps, the data step undone when the maintenance step fails.
    /// They return the number of the record changed. A null `oldRecord` stands for the
    /// table's scratch record; it receives the content deleted or overwritten.
    static std::int32_t AtomicAdd(KsFile& table, KsFileRecord& record);
    static std::int32_t AtomicAppend(KsFile& table, KsFileRecord& record);
    static std::int32_t AtomicInsert(KsFile& table, std::int32_t number, KsFileRecord& record);
    static std::int32_t AtomicModify(KsFile& table, std::int32_t number, KsFileRecord& record,
                                     KsFileRecord* oldRecord);
    static void AtomicDelete(KsFile& table, std::int32_t number, KsFileRecord* oldRecord);
    static std::int32_t AtomicRemove(KsFile& table, KsFileRecord& record, KsFileRecord* oldRecord);
    /// @}

    /// @{
    /// Reverse one atomic change that landed at record `n`: the maintenance step first, then
    /// the data step. Both are tried; the failures are collected into one KsRollbackFailure.
    static void UndoAdd(KsFile& table, std::int32_t n);
    static void UndoAppend(KsFile& table, std::int32_t n);
    static void UndoInsert(KsFile& table, std::int32_t n);
    /// @}
    /// Writes `oldRecord` back over `record` at n.
    static void UndoModify(KsFile& table, std::int32_t n, KsFileRecord& oldRecord,
                           const KsFileRecord& record);
    /// @{
    /// Puts the deleted or removed `oldRecord` back at n.
    static void UndoDelete(KsFile& table, std::int32_t n, KsFileRecord& oldRecord);
    static void UndoRemove(KsFile& table, std::int32_t n, KsFileRecord& oldRecord);
    /// @}

protected:
    /// @{
    /// For the action kinds.
    KsRecordAction() = default;
    KsRecordAction(const KsRecordAction&) = default;
    KsRecordAction& operator=(const KsRecordAction&) = default;
    /// @}

    /// A new action of this kind whose data is read from `stream` (records for `table`).
    /// Called on the registered prototype of the kind.
    virtual std::unique_ptr<KsRecordAction> ReadData(KsFile& table,
                                                     KsInputStreamInterface& stream) const = 0;

private:
    // The registered kind of a type byte, or null.
    static const KsRecordAction* FindPrototype(char type);
    // Moves the record at `number` of the maintained structures to `n`.
    static void OutOfPlaceModify(KsFile& table, std::int32_t number, std::int32_t n,
                                 const KsFileRecord& record, const KsFileRecord& oldRecord);
};

/// The data the kinds keep: an owned copy of a record and a record number, either of which a
/// kind may leave unused. A prototype holds no record.
class KsRecordActionData : public KsRecordAction {
public:
    ~KsRecordActionData() override;
    void WriteData(KsOutputStreamInterface& stream) const override;
    std::unique_ptr<KsRecordAction> Commit(KsFile& table) override;
    /// Carries the action out as Commit does; the inverse is dropped.
    void PermanentCommit(KsFile& table) override;
    /// Records of known equal content settle it without writing both, which costs more than
    /// the rest of a modify.
    bool WritesSameAs(const KsRecordAction& other) const override;
    const KsRecordActionData* GetData() const override { return this; }

    /// @{
    /// The kind's record (owned by the action; null only in a prototype) and number.
    const KsFileRecord* GetRecord() const { return record_.get(); }
    std::int32_t GetNumber() const { return number_; }
    /// @}

protected:
    /// `className` names the kind in call paths; `constructor` is its constructor's name.
    KsRecordActionData(const char* className, const char* constructor, const KsFileRecord* record,
                       std::int32_t number, bool hasNumber);
    /// As above with `record` itself (not null) as the kind's record, not a copy of it.
    KsRecordActionData(const char* className, std::unique_ptr<KsFileRecord> record,
                       std::int32_t number, bool hasNumber);
    /// The kind's change on the table; returns its inverse.
    virtual std::unique_ptr<KsRecordAction> CarryOut(KsFile& table) = 0;
    /// The kind's record.
    KsFileRecord& Record() const { return *record_; }
    /// The kind's class name for call paths.
    const char* ClassName() const { return className_; }
    /// @{
    /// The record and the number of a kind that stores them, read from `stream`.
    static std::unique_ptr<KsFileRecord> ReadRecord(KsFile& table, KsInputStreamInterface& stream);
    static std::int32_t ReadNumber(KsInputStreamInterface& stream);
    /// @}
    /// Appends the record's text dump.
    void AppendRecord(KsString& out) const;
    /// The record at `n`, read into the table's scratch record.
    static KsFileRecord& ReadIntoScratch(KsFile& table, std::int32_t n);

private:
    const char* className_;
    std::unique_ptr<KsFileRecord> record_;
    std::int32_t number_;
    bool hasNumber_;
};

/// Adds a record by its primary key; undone by removing it again.
class KsAddAction : public KsRecordActionData {
public:
    /// Adds a copy of `record`.
    explicit KsAddAction(const KsFileRecord& record);
    bool CanCommitTo(const KsFile& table) const override;
    std::unique_ptr<KsRecordAction> Copy() const override;
    std::unique_ptr<KsRecordAction> GenerateInverse(KsFile& table) override;
    void AppendDescription(KsString& out) const override;
    char GetType() const override { return KsActionType::kAdd; }

protected:
    std::unique_ptr<KsRecordAction> CarryOut(KsFile& table) override;
    std::unique_ptr<KsRecordAction> ReadData(KsFile& table,
                                             KsInputStreamInterface& stream) const override;

private:
    friend class KsRecordAction;
    KsAddAction();
};

/// Appends a record after the last one; undone by deleting the record where it landed.
class KsAppendAction : public KsRecordActionData {
public:
    /// Appends a copy of `record`.
    explicit KsAppendAction(const KsFileRecord& record);
    std::unique_ptr<KsRecordAction> Copy() const override;
    std::unique_ptr<KsRecordAction> GenerateInverse(KsFile& table) override;
    std::unique_ptr<KsRecordAction> PredictInverse(KsFile& table) override;
    void AppendDescription(KsString& out) const override;
    char GetType() const override { return KsActionType::kAppend; }

protected:
    std::unique_ptr<KsRecordAction> CarryOut(KsFile& table) override;
    std::unique_ptr<KsRecordAction> ReadData(KsFile& table,
                                             KsInputStreamInterface& stream) const override;

private:
    friend class KsRecordAction;
    KsAppendAction();
};

/// Inserts a record as record `number`; undone by deleting the record where it landed.
/// As the inverse of a delete or a remove it puts the record back into the selection as it
/// was; that state lives in the object only, the stream form has no place for it.
class KsInsertAction : public KsRecordActionData {
public:
    /// Inserts a copy of `record` as record `number`.
    KsInsertAction(const KsFileRecord& record, std::int32_t number);
    /// The inserted record is selected or not whatever the table does with new records.
    void SetSelectedWhenInserted(bool selected) { selectedWhenInserted_ = selected ? 1 : 0; }
    std::unique_ptr<KsRecordAction> Copy() const override;
    std::unique_ptr<KsRecordAction> GenerateInverse(KsFile& table) override;
    std::unique_ptr<KsRecordAction> PredictInverse(KsFile& table) override;
    void AppendDescription(KsString& out) const override;
    char GetType() const override { return KsActionType::kInsert; }

protected:
    std::unique_ptr<KsRecordAction> CarryOut(KsFile& table) override;
    std::unique_ptr<KsRecordAction> ReadData(KsFile& table,
                                             KsInputStreamInterface& stream) const override;

private:
    friend class KsRecordAction;
    KsInsertAction();
    int selectedWhenInserted_ = -1;  // -1: as the table selects new records
};

/// Overwrites record `number`; undone by writing the old content back.
class KsModifyAction : public KsRecordActionData {
public:
    /// Overwrites record `number` with a copy of `record`.
    KsModifyAction(const KsFileRecord& record, std::int32_t number);
    /// Overwrites record `number` with `record` (not null), taken without a copy.
    KsModifyAction(std::unique_ptr<KsFileRecord> record, std::int32_t number);
    std::unique_ptr<KsRecordAction> Copy() const override;
    /// Fails: the old content is not known before the change.
    std::unique_ptr<KsRecordAction> GenerateInverse(KsFile& table) override;
    std::unique_ptr<KsRecordAction> PredictInverse(KsFile& table) override;
    void AppendDescription(KsString& out) const override;
    char GetType() const override { return KsActionType::kModify; }

protected:
    std::unique_ptr<KsRecordAction> CarryOut(KsFile& table) override;
    std::unique_ptr<KsRecordAction> ReadData(KsFile& table,
                                             KsInputStreamInterface& stream) const override;

private:
    friend class KsRecordAction;
    KsModifyAction();
};

/// Deletes record `number`; undone by inserting the old record back at that number.
class KsDeleteAction : public KsRecordActionData {
public:
    /// Deletes record `number`.
    explicit KsDeleteAction(std::int32_t number);
    std::unique_ptr<KsRecordAction> Copy() const override;
    std::unique_ptr<KsRecordAction> GenerateInverse(KsFile& table) override;
    void AppendDescription(KsString& out) const override;
    char GetType() const override { return KsActionType::kDelete; }

protected:
    std::unique_ptr<KsRecordAction> CarryOut(KsFile& table) override;
    std::unique_ptr<KsRecordAction> ReadData(KsFile& table,
                                             KsInputStreamInterface& stream) const override;
};

/// Removes the record with the primary key of the given one; undone by inserting the
/// removed record back at its old number.
class KsRemoveAction : public KsRecordActionData {
public:
    /// Removes the record with the primary key of a copy of `record`.
    explicit KsRemoveAction(const KsFileRecord& record);
    bool CanCommitTo(const KsFile& table) const override;
    std::unique_ptr<KsRecordAction> Copy() const override;
    std::unique_ptr<KsRecordAction> GenerateInverse(KsFile& table) override;
    std::unique_ptr<KsRecordAction> PredictInverse(KsFile& table) override;
    void AppendDescription(KsString& out) const override;
    char GetType() const override { return KsActionType::kRemove; }

protected:
    std::unique_ptr<KsRecordAction> CarryOut(KsFile& table) override;
    std::unique_ptr<KsRecordAction> ReadData(KsFile& table,
                                             KsInputStreamInterface& stream) const override;

private:
    friend class KsRecordAction;
    KsRemoveAction();
};

/// Changes nothing; its inverse is another null action.
class KsNullAction : public KsRecordAction {
public:
    KsNullAction() = default;
    void WriteData(KsOutputStreamInterface&) const override {}
    std::unique_ptr<KsRecordAction> Copy() const override;
    std::unique_ptr<KsRecordAction> Commit(KsFile& table) override;
    std::unique_ptr<KsRecordAction> GenerateInverse(KsFile& table) override;
    void PermanentCommit(KsFile&) override {}
    void AppendDescription(KsString& out) const override;
    char GetType() const override { return KsActionType::kNull; }

protected:
    std::unique_ptr<KsRecordAction> ReadData(KsFile& table,
                                             KsInputStreamInterface& stream) const override;
};
