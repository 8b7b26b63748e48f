// The kinds of record actions: what each carries out, its inverse, its data and its text.
#include <cassert>
#include <memory>
#include <utility>

#include "core/KsCallpath.h"
#include "core/KsException.h"
#include "core/KsScopeExit.h"
#include "files/KsFile.h"
#include "files/KsFileRecord.h"
#include "io/KsStreamInterface.h"
#include "txn/KsRecordAction.h"

namespace {

constexpr const char* kAddClass = "KsAddAction";
constexpr const char* kAppendClass = "KsAppendAction";
constexpr const char* kInsertClass = "KsInsertAction";
constexpr const char* kModifyClass = "KsModifyAction";
constexpr const char* kDeleteClass = "KsDeleteAction";
constexpr const char* kRemoveClass = "KsRemoveAction";
constexpr const char* kGenerateInverse = "GenerateInverse ( KsFile &theTable )";

// A record of the table to receive what a change deletes or overwrites. A record of the
// action's own, not the scratch record, which the table itself may use during the change.
std::unique_ptr<KsFileRecord> NewOldRecord(KsFile& table) {
    std::unique_ptr<KsFileRecord> old = table.GetNewRecord();
    if (!old) {
        KsException::Generate("The table is not open", "KsRecordAction");
    }
    return old;
}

// The inverse of taking record `number` out of the table: inserting `old` back there, into
// the selection as the record was.
std::unique_ptr<KsInsertAction> ReinsertAction(const KsFileRecord& old, std::int32_t number,
                                               bool selected) {
    auto inverse = std::make_unique<KsInsertAction>(old, number);
    inverse->SetSelectedWhenInserted(selected);
    return inverse;
}

// Whether record n is in the table's selection (false for a number outside it).
bool IsSelected(const KsFile& table, std::int32_t n) {
    const KsSet& selection = table.GetSelection();
    return n >= 1 && n <= selection.GetSize() && selection.IsSelected(n);
}

}  // namespace

// ---- Shared data

KsRecordActionData::KsRecordActionData(const char* className, const char* constructor,
                                       const KsFileRecord* record, std::int32_t number,
                                       bool hasNumber)
    : className_(className), number_(number), hasNumber_(hasNumber) {
    if (record != nullptr) {
        KsCallpath(constructor, className, [&] { record_.reset(record->Clone()); });
    }
}

KsRecordActionData::KsRecordActionData(const char* className, std::unique_ptr<KsFileRecord> record,
                                       std::int32_t number, bool hasNumber)
    : className_(className), record_(std::move(record)), number_(number), hasNumber_(hasNumber) {
    assert(record_);
}

KsRecordActionData::~KsRecordActionData() = default;

std::unique_ptr<KsRecordAction> KsRecordActionData::Commit(KsFile& table) {
    return KsCallpath("Commit()", className_, [&] { return CarryOut(table); });
}

void KsRecordActionData::PermanentCommit(KsFile& table) {
    KsCallpath("PermanentCommit()", className_, [&] { CarryOut(table); });
}

bool KsRecordActionData::WritesSameAs(const KsRecordAction& other) const {
    const KsRecordActionData* data = other.GetData();
    const KsFileRecord* record = data != nullptr ? data->GetRecord() : nullptr;
    if (data != nullptr && GetType() == other.GetType() && number_ == data->GetNumber() &&
        (record_ == nullptr ? record == nullptr
                            : record != nullptr && record_->HasSameContentAs(*record))) {
        return true;
    }
    return KsRecordAction::WritesSameAs(other);
}

void KsRecordActionData::WriteData(KsOutputStreamInterface& stream) const {
    KsCallpath("WriteData()", className_, [&] {
        if (record_) {
            record_->RawSerialWrite(stream);
        }
        if (hasNumber_) {
            stream.WriteLong(number_);
        }
    });
}

std::unique_ptr<KsFileRecord> KsRecordActionData::ReadRecord(KsFile& table,
                                                             KsInputStreamInterface& stream) {
    std::unique_ptr<KsFileRecord> record = NewOldRecord(table);
    record->RawSerialRead(stream);
    return record;
}

std::int32_t KsRecordActionData::ReadNumber(KsInputStreamInterface& stream) {
    return stream.ReadLong();
}

void KsRecordActionData::AppendRecord(KsString& out) const {
    if (record_) {
        record_->AppendTextDump(out);
    }
}

KsFileRecord& KsRecordActionData::ReadIntoScratch(KsFile& table, std::int32_t n) {
    KsFileRecord* scratch = table.GetScratchRecord();
    if (scratch == nullptr) {
        KsException::Generate("The table is not open", "KsRecordAction");
    }
    table.GotoRecord(n, scratch);
    return *scratch;
}

// ---- Add

KsAddAction::KsAddAction() : KsRecordActionData(kAddClass, "KsAddAction()", nullptr, 0, false) {}

KsAddAction::KsAddAction(const KsFileRecord& record)
    : KsRecordActionData(kAddClass, "KsAddAction()", &record, 0, false) {}

bool KsAddAction::CanCommitTo(const KsFile& table) const {
    return table.GetPrimaryKeyFieldCount() != 0;
}

std::unique_ptr<KsRecordAction> KsAddAction::Copy() const {
    return std::make_unique<KsAddAction>(Record());
}

std::unique_ptr<KsRecordAction> KsAddAction::CarryOut(KsFile& table) {
    AtomicAdd(table, Record());
    return std::make_unique<KsRemoveAction>(Record());
}

std::unique_ptr<KsRecordAction> KsAddAction::GenerateInverse(KsFile&) {
    return KsCallpath(kGenerateInverse, kAddClass, [&]() -> std::unique_ptr<KsRecordAction> {
        return std::make_unique<KsRemoveAction>(Record());
    });
}

void KsAddAction::AppendDescription(KsString& out) const {
    out.Append("add the record ");
    AppendRecord(out);
}

std::unique_ptr<KsRecordAction> KsAddAction::ReadData(KsFile& table,
                                                      KsInputStreamInterface& stream) const {
    return std::make_unique<KsAddAction>(*ReadRecord(table, stream));
}

// ---- Append

KsAppendAction::KsAppendAction()
    : KsRecordActionData(kAppendClass, "KsAppendAction()", nullptr, 0, false) {}

KsAppendAction::KsAppendAction(const KsFileRecord& record)
    : KsRecordActionData(kAppendClass, "KsAppendAction()", &record, 0, false) {}

std::unique_ptr<KsRecordAction> KsAppendAction::Copy() const {
    return std::make_unique<KsAppendAction>(Record());
}

std::unique_ptr<KsRecordAction> KsAppendAction::CarryOut(KsFile& table) {
    return std::make_unique<KsDeleteAction>(AtomicAppend(table, Record()));
}

std::unique_ptr<KsRecordAction> KsAppendAction::GenerateInverse(KsFile&) {
    return KsCallpath(kGenerateInverse, kAppendClass, [&]() -> std::unique_ptr<KsRecordAction> {
        return std::make_unique<KsRemoveAction>(Record());
    });
}

std::unique_ptr<KsRecordAction> KsAppendAction::PredictInverse(KsFile& table) {
    return std::make_unique<KsDeleteAction>(table.GetNumRecords() + 1);
}

void KsAppendAction::AppendDescription(KsString& out) const {
    out.Append("append the record ");
    AppendRecord(out);
}

std::unique_ptr<KsRecordAction> KsAppendAction::ReadData(KsFile& table,
                                                         KsInputStreamInterface& stream) const {
    return std::make_unique<KsAppendAction>(*ReadRecord(table, stream));
}

// ---- Insert

KsInsertAction::KsInsertAction()
    : KsRecordActionData(kInsertClass, "KsInsertAction()", nullptr, 0, true) {}

KsInsertAction::KsInsertAction(const KsFileRecord& record, std::int32_t number)
    : KsRecordActionData(kInsertClass, "KsInsertAction()", &record, number, true) {}

std::unique_ptr<KsRecordAction> KsInsertAction::Copy() const {
    auto copy = std::make_unique<KsInsertAction>(Record(), GetNumber());
    copy->selectedWhenInserted_ = selectedWhenInserted_;
    return copy;
}

std::unique_ptr<KsRecordAction> KsInsertAction::CarryOut(KsFile& table) {
    if (selectedWhenInserted_ < 0) {
        return std::make_unique<KsDeleteAction>(AtomicInsert(table, GetNumber(), Record()));
    }
    bool rule = table.GetNewRecordsSelected();
    KsScopeExit restoreRule([&] { table.SetNewRecordsSelected(rule); });
    table.SetNewRecordsSelected(selectedWhenInserted_ != 0);
    return std::make_unique<KsDeleteAction>(AtomicInsert(table, GetNumber(), Record()));
}

std::unique_ptr<KsRecordAction> KsInsertAction::GenerateInverse(KsFile&) {
    return KsCallpath(kGenerateInverse, kInsertClass, [&]() -> std::unique_ptr<KsRecordAction> {
        return std::make_unique<KsRemoveAction>(Record());
    });
}

std::unique_ptr<KsRecordAction> KsInsertAction::PredictInverse(KsFile&) {
    return std::make_unique<KsDeleteAction>(GetNumber());
}

void KsInsertAction::AppendDescription(KsString& out) const {
    out.Append("insert the record ");
    AppendRecord(out);
    out.Append(" at ").Append(static_cast<long>(GetNumber()));
}

std::unique_ptr<KsRecordAction> KsInsertAction::ReadData(KsFile& table,
                                                         KsInputStreamInterface& stream) const {
    std::unique_ptr<KsFileRecord> record = ReadRecord(table, stream);
    return std::make_unique<KsInsertAction>(*record, ReadNumber(stream));
}

// ---- Modify

KsModifyAction::KsModifyAction()
    : KsRecordActionData(kModifyClass, "KsModifyAction()", nullptr, 0, true) {}

KsModifyAction::KsModifyAction(const KsFileRecord& record, std::int32_t number)
    : KsRecordActionData(kModifyClass, "KsModifyAction()", &record, number, true) {}

KsModifyAction::KsModifyAction(std::unique_ptr<KsFileRecord> record, std::int32_t number)
    : KsRecordActionData(kModifyClass, std::move(record), number, true) {}

std::unique_ptr<KsRecordAction> KsModifyAction::Copy() const {
    return std::make_unique<KsModifyAction>(Record(), GetNumber());
}

std::unique_ptr<KsRecordAction> KsModifyAction::CarryOut(KsFile& table) {
    std::unique_ptr<KsFileRecord> old = NewOldRecord(table);
    std::int32_t n = AtomicModify(table, GetNumber(), Record(), old.get());
    return std::make_unique<KsModifyAction>(std::move(old), n);
}

std::unique_ptr<KsRecordAction> KsModifyAction::GenerateInverse(KsFile&) {
    return KsCallpath(kGenerateInverse, kModifyClass, [&]() -> std::unique_ptr<KsRecordAction> {
        KsException::GenerateAs<KsRollbackFailure>(
            "Cannot perform delayed rollbacks on modifications; do not know the original value",
            kModifyClass);
    });
}

std::unique_ptr<KsRecordAction> KsModifyAction::PredictInverse(KsFile& table) {
    std::unique_ptr<KsFileRecord> old = table.GetNewRecord();
    table.GotoRecord(GetNumber(), old.get());
    return std::make_unique<KsModifyAction>(std::move(old), GetNumber());
}

void KsModifyAction::AppendDescription(KsString& out) const {
    out.Append("modify the record at ").Append(static_cast<long>(GetNumber())).Append(" to be ");
    AppendRecord(out);
}

std::unique_ptr<KsRecordAction> KsModifyAction::ReadData(KsFile& table,
                                                         KsInputStreamInterface& stream) const {
    std::unique_ptr<KsFileRecord> record = ReadRecord(table, stream);
    std::int32_t number = ReadNumber(stream);
    return std::make_unique<KsModifyAction>(std::move(record), number);
}

// ---- Delete

KsDeleteAction::KsDeleteAction(std::int32_t number)
    : KsRecordActionData(kDeleteClass, "KsDeleteAction()", nullptr, number, true) {}

std::unique_ptr<KsRecordAction> KsDeleteAction::Copy() const {
    return std::make_unique<KsDeleteAction>(GetNumber());
}

std::unique_ptr<KsRecordAction> KsDeleteAction::CarryOut(KsFile& table) {
    std::unique_ptr<KsFileRecord> old = NewOldRecord(table);
    bool selected = IsSelected(table, GetNumber());
    AtomicDelete(table, GetNumber(), old.get());
    return ReinsertAction(*old, GetNumber(), selected);
}

std::unique_ptr<KsRecordAction> KsDeleteAction::GenerateInverse(KsFile& table) {
    return KsCallpath(kGenerateInverse, kDeleteClass, [&]() -> std::unique_ptr<KsRecordAction> {
        return std::make_unique<KsInsertAction>(ReadIntoScratch(table, GetNumber()), GetNumber());
    });
}

void KsDeleteAction::AppendDescription(KsString& out) const {
    out.Append("delete the record at ").Append(static_cast<long>(GetNumber()));
}

std::unique_ptr<KsRecordAction> KsDeleteAction::ReadData(KsFile&,
                                                         KsInputStreamInterface& stream) const {
    return std::make_unique<KsDeleteAction>(ReadNumber(stream));
}

// ---- Remove

KsRemoveAction::KsRemoveAction()
    : KsRecordActionData(kRemoveClass, "KsRemoveAction()", nullptr, 0, false) {}

KsRemoveAction::KsRemoveAction(const KsFileRecord& record)
    : KsRecordActionData(kRemoveClass, "KsRemoveAction()", &record, 0, false) {}

bool KsRemoveAction::CanCommitTo(const KsFile& table) const {
    return table.GetPrimaryKeyFieldCount() != 0;
}

std::unique_ptr<KsRecordAction> KsRemoveAction::Copy() const {
    return std::make_unique<KsRemoveAction>(Record());
}

// The inverse inserts the removed record at its old number: an add would put it after the
// last record, so the records behind it would change their numbers.
std::unique_ptr<KsRecordAction> KsRemoveAction::CarryOut(KsFile& table) {
    std::unique_ptr<KsFileRecord> old = NewOldRecord(table);
    std::int32_t found = table.GetRecordNumberByKey(Record());
    bool selected = IsSelected(table, found);
    std::int32_t n = AtomicRemove(table, Record(), old.get());
    return ReinsertAction(*old, n, selected);
}

std::unique_ptr<KsRecordAction> KsRemoveAction::GenerateInverse(KsFile& table) {
    return KsCallpath(kGenerateInverse, kRemoveClass, [&]() -> std::unique_ptr<KsRecordAction> {
        std::int32_t n = table.GetRecordNumberByKey(Record());
        if (n == 0) {
            return std::make_unique<KsAddAction>(Record());
        }
        return std::make_unique<KsInsertAction>(ReadIntoScratch(table, n), n);
    });
}

std::unique_ptr<KsRecordAction> KsRemoveAction::PredictInverse(KsFile& table) {
    const std::int32_t n = table.GetRecordNumberByKey(Record());
    if (n <= 0) {
        return nullptr;
    }
    std::unique_ptr<KsFileRecord> old = table.GetNewRecord();
    table.GotoRecord(n, old.get());
    return std::make_unique<KsInsertAction>(*old, n);
}

void KsRemoveAction::AppendDescription(KsString& out) const {
    out.Append("remove the record ");
    AppendRecord(out);
}

std::unique_ptr<KsRecordAction> KsRemoveAction::ReadData(KsFile& table,
                                                         KsInputStreamInterface& stream) const {
    return std::make_unique<KsRemoveAction>(*ReadRecord(table, stream));
}

// ---- Null

std::unique_ptr<KsRecordAction> KsNullAction::Copy() const {
    return std::make_unique<KsNullAction>();
}

std::unique_ptr<KsRecordAction> KsNullAction::Commit(KsFile&) {
    return std::make_unique<KsNullAction>();
}

std::unique_ptr<KsRecordAction> KsNullAction::GenerateInverse(KsFile&) {
    return std::make_unique<KsNullAction>();
}

void KsNullAction::AppendDescription(KsString& out) const {
    out.Append("do nothing");
}

std::unique_ptr<KsRecordAction> KsNullAction::ReadData(KsFile&, KsInputStreamInterface&) const {
    return std::make_unique<KsNullAction>();
}
