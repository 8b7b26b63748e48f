#include "txn/KsFileTransactionCommitter.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "core/KsByteOrder.h"
#include "core/KsCallpath.h"
#include "files/KsFile.h"
#include "files/KsFileRecord.h"
#include "files/KsStoredRecords.h"
#include "files/KsTableLeftovers.h"
#include "io/KsIOList.h"
#include "progress/KsNullProgress.h"
#include "txn/KsRecordAction.h"
#include "txn/KsTransactionLogFormat.h"

namespace {

constexpr const char* kClass = "KsFileTransactionCommitter";
constexpr const char* kUnknownReason = "(unknown reason)";
namespace Fmt = KsTransactionLogFormat;

// Why the exception being handled was raised: the message of a KsException or of a
// std::exception; false, and `reason` empty, for one that carries no text.
bool ReasonOfCurrentException(KsString& reason) {
    try {
        throw;
    } catch (const KsException& error) {
        reason = error.GetErrorMessage();
    } catch (const std::exception& error) {
        reason = error.what();
    } catch (...) {
        reason.Clear();
        return false;
    }
    return true;
}

// The reason of the exception being handled, or "(unknown reason)".
KsString ReasonOrUnknown() {
    KsString reason;
    return ReasonOfCurrentException(reason) ? reason : KsString(kUnknownReason);
}

// The action that undoes `action` on the table as it is now, worked out before the action
// is carried out; null when it cannot be.
std::unique_ptr<KsRecordAction> PredictInverse(KsRecordAction& action, KsFile& table) {
    try {
        return action.PredictInverse(table);
    } catch (const KsException&) {
        // The action itself reports what is wrong.
        return nullptr;
    }
}

// Records copied at a time into or out of an entry of moved records: about 1 MB.
std::int32_t RecordsAPiece(std::int32_t length) {
    return std::max<std::int32_t>(1, (1 << 20) / length);
}

// The fields of an entry holding a copy of moved records, after its marker byte.
struct MovedCopy {
    std::int32_t first;
    std::int32_t count;   // the record count before the change
    std::int32_t length;  // bytes a record
    // The bytes of the records copied, for fields that make sense; else -1.
    std::int64_t Bytes() const {
        return first < 1 || count < first || length < 1
                   ? -1
                   : (std::int64_t{count} - first + 1) * length;
    }
};

// Reads the fields of a copy of moved records, positioned after its marker byte.
MovedCopy ReadMovedCopy(KsIOInterface& file) {
    unsigned char fields[Fmt::kInverseMovedHeaderSize - 1];
    file.Read(fields, sizeof fields, true);
    return {KsByteOrder::LoadLittle<std::int32_t>(fields),
            KsByteOrder::LoadLittle<std::int32_t>(fields + 4),
            KsByteOrder::LoadLittle<std::int32_t>(fields + 8)};
}

// Leaves the file `size` bytes long, positioned at its end.
void CutAt(KsIOInterface& file, std::int64_t size) {
    std::int64_t length = file.GetFileSize64();
    if (size < length) {
        file.Truncate64(size == 0 ? 0 : length - size);
    }
    file.Seek64Absolute(size);
}

}  // namespace

KsFileTransactionCommitter::KsFileTransactionCommitter(KsFile& file, KsFileTransactionLog& log,
                                                       const KsTimestamp& id,
                                                       KsFileTransactionLog::Cursor transaction)
    : table_(&file),
      log_(&log),
      id_(id),
      logLock_(log.LockAll()),
      transaction_(std::move(transaction)) {}

KsFileTransactionCommitter::~KsFileTransactionCommitter() {
    ReleaseInverse();
}

KsString KsFileTransactionCommitter::InverseFileName(const KsFile& file, const KsTimestamp& made) {
    return KsString(
        KsTableLeftovers::InverseFileName(file.GetFileName(), made.GetDigits()).c_str());
}

bool KsFileTransactionCommitter::ReadInverseHeader(KsIOInterface& file, KsTimestamp& id) {
    unsigned char header[Fmt::kInverseHeaderSize];
    if (file.ReadFrom(0, header, sizeof header, false) != sizeof header ||
        std::memcmp(header, Fmt::kInverseMarker, sizeof Fmt::kInverseMarker) != 0) {
        return false;
    }
    try {
        const unsigned char* stamp = header + Fmt::kInverseIdOffset;
        id.SetJulianDayFromCalendarStart(KsByteOrder::LoadLittle<std::uint32_t>(stamp));
        id.SetTimeInMilliseconds(KsByteOrder::LoadLittle<std::uint32_t>(stamp + 4));
    } catch (const KsException&) {
        return false;
    }
    return true;
}

void KsFileTransactionCommitter::OpenInverseFile() {
    KsCallpath("OpenInverseFile()", kClass, [&] {
        if (opened_) {
            KsException::GenerateAs<KsCommitFailure>(
                "The commit failed because the transaction has already been committed.",
                "KsFileTransactionCommiter");
        }
        inverse_ = &log_->InverseFile();
        opened_ = true;
        unsigned char header[Fmt::kInverseHeaderSize];
        std::memcpy(header, Fmt::kInverseMarker, sizeof Fmt::kInverseMarker);
        KsByteOrder::StoreLittle(header + Fmt::kInverseIdOffset,
                                 id_.GetJulianDayFromCalendarStart());
        KsByteOrder::StoreLittle(header + Fmt::kInverseIdOffset + 4, id_.GetTimeInMilliseconds());
        // Cut to the header's length, not emptied: rewriting a page the file keeps costs less
        // than a new one. Until the new header reaches the file, the old one names a finished
        // transaction, and no entry follows it.
        CutAt(*inverse_, Fmt::kInverseHeaderSize);
        inverse_->Seek64Absolute(0);
        // Reaches the file with the first entry, before any change of the table.
        inverse_->Write(header, sizeof header);
    });
}

bool KsFileTransactionCommitter::Recover(KsIOInterface* leftover) {
    return KsCallpath("Recover()", kClass, [&] {
        recovering_ = true;
        if (leftover != nullptr) {
            inverse_ = leftover;
            inverse_->Seek64FromEnd(0);
            if (!Rollback(KsNullProgress::Instance())) {
                // Still Committing: the next open takes the rollback up where it stopped.
                return false;
            }
        }
        FinishStatus(Fmt::kRolledBack);
        return true;
    });
}

void KsFileTransactionCommitter::SyncInverse() {
    if (KsFileTransactionLog::IsSyncing()) {
        inverse_->Sync();
    } else {
        // Even unsynced, the entry must leave this process before the table changes.
        inverse_->Flush();
    }
}

void KsFileTransactionCommitter::ReleaseInverse() noexcept {
    if (!opened_) {
        return;
    }
    try {
        if (finished_ ||
            inverse_->GetFileSize64() <= static_cast<std::int64_t>(Fmt::kInverseHeaderSize)) {
            // Kept as it is until the next commit has synced the log, which holds the end
            // of this one for sure then: until that, a power failure may take the end away,
            // and the next open undoes the commit from the file.
            return;
        }
    } catch (const KsException&) {
        // Not known to be empty: it is not used again.
    }
    // The log may still say Committing while the table holds changes that only this file
    // can undo: the next open of the table does so.
    log_->LeaveInverseFile();
}

void KsFileTransactionCommitter::AddInverse(const KsRecordActionListWrapper& wrapper) {
    KsCallpath("AddInverse()", kClass, [&] {
        std::uint64_t start = static_cast<std::uint64_t>(inverse_->Tell64());
        wrapper.Write(*inverse_);
        inverse_->WriteUnsignedNative(start);
    });
}

bool KsFileTransactionCommitter::PrepareModifyBatch() {
    if (!KsFileTransactionLog::IsSyncing()) {
        // Unsynced, an entry written just before its change costs less than reading every
        // record twice (once here, once to change it).
        return false;
    }
    std::vector<std::unique_ptr<KsRecordAction>> inverses;
    {
        KsIOList<KsRecordActionListWrapper> actions = transaction_.SubList();
        KsRecordActionListWrapper logged(*table_);
        for (auto it = actions.begin(KsFileTransactionLog::kWalk); !(it == actions.end()); ++it) {
            ReadAction(actions, it, logged);
            if (logged.GetAction()->GetType() != KsActionType::kModify) {
                return false;
            }
            inverses.push_back(PredictInverse(*logged.GetAction(), *table_));
            if (!inverses.back()) {
                return false;
            }
        }
    }
    for (std::unique_ptr<KsRecordAction>& inverse : inverses) {
        AddInverse(KsRecordActionListWrapper(*table_, std::move(inverse)));
        batchEnds_.push_back(inverse_->Tell64());
    }
    SyncInverse();
    return true;
}

void KsFileTransactionCommitter::ReadAction(KsIOList<KsRecordActionListWrapper>& actions,
                                            KsIOListIterator<KsRecordActionListWrapper>& it,
                                            KsRecordActionListWrapper& logged) {
    if (logged_.empty()) {
        it.Read(logged);
        return;
    }
    KsCallpath("Read()", "KsIOList<TYPE>", [&] {
        KsIOListObject object;
        actions.ReadElement(it.GetVoidIterator(), object);
        // The actions come in the order they were logged; a walk starts again from the first.
        for (std::size_t k = 0; k < logged_.size(); ++k) {
            KsFileTransactionLog::LoggedAction& known = logged_[(nextLogged_ + k) % logged_.size()];
            if (known.node != it.GetPosition()) {
                continue;
            }
            nextLogged_ = (nextLogged_ + k + 1) % logged_.size();
            if (known.bytes.size() == object.GetSize() &&
                std::memcmp(known.bytes.data(), object.GetData(), known.bytes.size()) == 0) {
                logged.Reset(known.action->Copy());
                logged.SetStatus(Fmt::kActionLogged);
                logged.SetText("");
                return;
            }
            break;
        }
        logged.Read(object);
    });
}

void KsFileTransactionCommitter::CommitOne(KsRecordAction& action) {
    if (!batchEnds_.empty()) {
        // Its inverse is in the file already.
        action.Commit(*table_);
        return;
    }
    const std::int64_t start = inverse_->Tell64();
    KsString before;
    before.printf("%ld", static_cast<long>(table_->GetNumRecords()));
    std::int64_t moved = -1;
    std::unique_ptr<KsRecordAction> predicted = SavePredictedInverse(action, start, before, moved);
    std::unique_ptr<KsRecordAction> inverse;
    try {
        inverse = action.Commit(*table_);
    } catch (...) {
        // The action left the table as it was: its inverse must not be applied.
        DropEntriesFrom(start);
        throw;
    }
    if (!predicted || !predicted->WritesSameAs(*inverse)) {
        ReplaceInverse(*inverse, start, before);
        moved = -1;
    }
    if (action.GetType() == KsActionType::kModify) {
        // Writing old content back does no harm when the change was not made, so the
        // change may wait in the table's buffers.
        return;
    }
    // The change leaves the table's buffers before the next entry is written, so that
    // after a crash only the newest entry may stand for a change that was not made.
    KsFileTransactionLog::IsSyncing() ? table_->Sync() : table_->Flush();
    if (moved >= 0) {
        // The records have moved for good: the inverse undoes the change from here on.
        CutAt(*inverse_, moved);
    }
}

std::unique_ptr<KsRecordAction> KsFileTransactionCommitter::SavePredictedInverse(
    KsRecordAction& action, std::int64_t start, const KsString& before, std::int64_t& moved) {
    std::unique_ptr<KsRecordAction> predicted = PredictInverse(action, *table_);
    if (!predicted) {
        return predicted;
    }
    try {
        KsRecordActionListWrapper entry(*table_, std::move(predicted));
        entry.SetText(before.GetCString());
        AddInverse(entry);
        predicted = std::move(entry).TakeAction();
        moved = AddMovedRecords(action, *predicted);
        SyncInverse();
    } catch (...) {
        // The action is not made: its entry, whole or not, must not be applied.
        DropEntriesFrom(start);
        throw;
    }
    return predicted;
}

void KsFileTransactionCommitter::ReplaceInverse(KsRecordAction& inverse, std::int64_t start,
                                                const KsString& before) {
    try {
        CutAt(*inverse_, start);
        KsRecordActionListWrapper entry(*table_, inverse);
        entry.SetText(before.GetCString());
        AddInverse(entry);
        SyncInverse();
    } catch (...) {
        // The change is made, but the entry that undoes it may not be whole: the change
        // is undone here instead, and the entry left out of the rollback.
        DropEntriesFrom(start);
        try {
            inverse.PermanentCommit(*table_);
        } catch (...) {
            undoFailed_ = true;
            NoteUndoFailure(ReasonOrUnknown());
        }
        throw;
    }
}

void KsFileTransactionCommitter::DropEntriesFrom(std::int64_t at) noexcept {
    try {
        CutAt(*inverse_, at);
    } catch (const KsException&) {
        notMadeFrom_ = at;
    }
}

std::int64_t KsFileTransactionCommitter::AddMovedRecords(const KsRecordAction& action,
                                                         const KsRecordAction& inverse) {
    char type = action.GetType();
    if (type != KsActionType::kInsert && type != KsActionType::kDelete &&
        type != KsActionType::kRemove) {
        return -1;
    }
    KsStoredRecords* table = table_->GetStoredRecords();
    const KsRecordActionData* undo = inverse.GetData();
    if (table == nullptr || undo == nullptr) {
        return -1;
    }
    std::int32_t first = undo->GetNumber();
    std::int32_t count = table_->GetNumRecords();
    if (first < 1 || first > count) {
        return -1;  // an insert after the last record moves none
    }
    return KsCallpath("AddMovedRecords()", kClass, [&] {
        std::int64_t start = inverse_->Tell64();
        std::int32_t length = table->GetRecordLength();
        unsigned char head[Fmt::kInverseMovedHeaderSize] = {Fmt::kInverseMovedMarker};
        KsByteOrder::StoreLittle(head + 1, first);
        KsByteOrder::StoreLittle(head + 5, count);
        KsByteOrder::StoreLittle(head + 9, length);
        inverse_->Write(head, sizeof head);
        std::int32_t piece = RecordsAPiece(length);
        std::vector<char> bytes;
        for (std::int32_t n = first; n <= count; n += piece) {
            std::int32_t records = std::min(piece, count - n + 1);
            bytes.resize(static_cast<std::size_t>(records) * static_cast<std::size_t>(length));
            table->ReadStoredRecords(n, records, bytes.data());
            inverse_->Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        }
        inverse_->WriteUnsignedNative(static_cast<std::uint64_t>(start));
        return start;
    });
}

bool KsFileTransactionCommitter::PutMovedRecordsBack(std::int64_t start, std::int64_t trailer) {
    KsStoredRecords* table = table_->GetStoredRecords();
    inverse_->Seek64Absolute(start + 1);
    auto [first, count, length] = ReadMovedCopy(*inverse_);
    std::int64_t bytes = trailer - start - static_cast<std::int64_t>(Fmt::kInverseMovedHeaderSize);
    if (table == nullptr || length != table->GetRecordLength() ||
        bytes != MovedCopy{first, count, length}.Bytes()) {
        return false;
    }
    std::int32_t piece = RecordsAPiece(length);
    std::vector<char> copy;
    for (std::int32_t n = first; n <= count; n += piece) {
        std::int32_t records = std::min(piece, count - n + 1);
        copy.resize(static_cast<std::size_t>(records) * static_cast<std::size_t>(length));
        inverse_->Read(copy.data(), static_cast<std::int32_t>(copy.size()), true);
        table->WriteStoredRecords(n, records, copy.data());
    }
    table_->KeepRecords(count);
    // The selection follows the records put back, as a fresh open would make it, so that
    // the older inverses find the numbers they undo.
    table_->Refresh();
    KsFileTransactionLog::IsSyncing() ? table_->Sync() : table_->Flush();
    // The indexes may hold the torn records, or know nothing of the copy: built afresh.
    table_->ClearIndexes(true);
    return true;
}

std::int64_t KsFileTransactionCommitter::EndOfWholeEntries() {
    const auto header = static_cast<std::int64_t>(Fmt::kInverseHeaderSize);
    std::int64_t size = inverse_->GetFileSize64();
    std::int64_t end = header;
    KsRecordActionListWrapper entry(*table_);
    try {
        while (end < size) {
            inverse_->Seek64Absolute(end);
            char kind = 0;
            inverse_->Read(&kind, 1, true);
            if (kind == Fmt::kInverseMovedMarker) {
                std::int64_t bytes = ReadMovedCopy(*inverse_).Bytes();
                if (bytes < 0) {
                    break;
                }
                inverse_->Seek64Absolute(inverse_->Tell64() + bytes);
            } else {
                inverse_->Seek64Absolute(end);
                entry.Read(*inverse_);
            }
            std::int64_t trailer = inverse_->Tell64();
            if (trailer + static_cast<std::int64_t>(Fmt::kInverseOffsetSize) > size ||
                inverse_->ReadUnsignedNative() != static_cast<std::uint64_t>(end)) {
                break;
            }
            end = trailer + static_cast<std::int64_t>(Fmt::kInverseOffsetSize);
        }
    } catch (const KsException&) {
        // The entry from `end` is cut short.
    }
    return end;
}

KsFileTransactionCommitter::Outcome KsFileTransactionCommitter::CommitActions(
    KsProgressInterface& progress, KsString& message) {
    try {
        // Without a batch nothing follows the header yet.
        PrepareModifyBatch();
    } catch (...) {
        // No change is made yet.
        batchEnds_.clear();
        DropEntriesFrom(Fmt::kInverseHeaderSize);
        return FailureOutcome(Outcome::kActionFailed, message);
    }
    KsIOList<KsRecordActionListWrapper> actions = transaction_.SubList();
    KsRecordActionListWrapper logged(*table_);
    for (auto it = actions.begin(KsFileTransactionLog::kWalk); !(it == actions.end());) {
        try {
            ReadAction(actions, it, logged);
            CommitOne(*logged.GetAction());
            ++committed_;
        } catch (...) {
            Outcome outcome = FailureOutcome(Outcome::kActionFailed, message);
            logged.SetStatus(Fmt::kActionFailed);
            logged.SetText(outcome == Outcome::kUnknownFailure ? kUnknownReason
                                                               : message.GetCString());
            try {
                it.Write(logged);
            } catch (const KsException&) {
                // The failure itself is what the caller learns.
            }
            return outcome;
        }
        ++it;
        try {
            progress.StepBy(1);
            if (!progress.ShouldContinue()) {
                return Outcome::kCanceled;
            }
        } catch (...) {
            return FailureOutcome(Outcome::kProgressFailed, message);
        }
    }
    return Outcome::kDone;
}

KsFileTransactionCommitter::Outcome KsFileTransactionCommitter::FailureOutcome(Outcome known,
                                                                               KsString& message) {
    return ReasonOfCurrentException(message) ? known : Outcome::kUnknownFailure;
}

void KsFileTransactionCommitter::Commit(KsProgressInterface& progress) {
    KsCallpath("Commit()", kClass, [&] {
        OpenInverseFile();
        progress.SetPosition(0);
        table_->DelayExternalUpdates();
        KsString message;
        Outcome outcome = CommitActions(progress, message);
        if (outcome == Outcome::kDone) {
            try {
                table_->PerformExternalUpdates();
                KsFileTransactionLog::IsSyncing() ? table_->Sync() : table_->Flush();
                FinishStatus(Fmt::kCommitted);
                return;
            } catch (...) {
                // Not known to be committed: undone like a failed action.
                outcome = FailureOutcome(Outcome::kActionFailed, message);
            }
        }
        if (!batchEnds_.empty()) {
            // Only the changes made are undone.
            CutAt(*inverse_, committed_ == 0 ? static_cast<std::int64_t>(Fmt::kInverseHeaderSize)
                                             : batchEnds_[committed_ - 1]);
        }
        bool restored = Rollback(progress);
        try {
            table_->PerformExternalUpdates();
            FinishStatus(restored ? Fmt::kRolledBack : Fmt::kFailed);
        } catch (const KsException&) {
            // What happened to the commit is the error to report.
        }
        RaiseAfterRollback(outcome, message, restored);
    });
}

void KsFileTransactionCommitter::FinishStatus(char outcome) {
    KsFileTransactionStatus status;
    transaction_.Read(status);
    KsTimestamp now;
    now.Now(false);
    if (outcome == Fmt::kCommitted) {
        status.Stabilize(now);
    } else if (outcome == Fmt::kRolledBack) {
        status.Rolledback(now, true);
    } else {
        status.Failing(now);
    }
    transaction_.Write(status);
    if (recovering_) {
        // The status must be on the disk before the inverse file goes.
        log_->Sync();
    } else {
        // The inverse file keeps its entries until the status is on the disk (see
        // ReleaseInverse): a crash of the process loses nothing from here on.
        log_->Flush();
    }
    finished_ = true;
}

void KsFileTransactionCommitter::RaiseAfterRollback(Outcome outcome, const KsString& message,
                                                    bool restored) {
    KsString base = table_->GetBaseName();
    const char* name = base.GetCString();
    const char* text = message.GetCString();
    if (restored) {
        switch (outcome) {
            case Outcome::kActionFailed:
                KsException::GenerateAs<KsCommitFailure>("The commit failed because \"%s\"", kClass,
                                                         text);
            case Outcome::kProgressFailed:
                KsException::GenerateAs<KsCommitFailure>(
                    "The commit failed because the progress threw \"%s\"", kClass, text);
            case Outcome::kCanceled:
                KsException::GenerateAs<KsCommissionCanceled>(
                    "The commit to table \"%s\" was canceled by the user", kClass, name);
            default:
                KsException::GenerateAs<KsCommitFailure>("The commit failed for an unknown reason",
                                                         kClass);
        }
    }
    KsString failure;
    switch (outcome) {
        case Outcome::kActionFailed:
            failure.printf("The commit failed because \"%s\"", text);
            break;
        case Outcome::kProgressFailed:
            failure.printf("The commit failed because the progress threw \"%s\"", text);
            break;
        case Outcome::kCanceled:
            failure.printf("The commit to table \"%s\" was cancelled by the user", name);
            break;
        default:
            failure = "The commit failed for an unknown reason";
            break;
    }
    KsException::GenerateAs<KsRollbackFailure>(
        "%s and a rollback could not be performed (%s).\n\nYou should consider the data in "
        "table \"%s\" suspect and should probably restore from a backup.",
        kClass, failure.GetCString(),
        undoFailure_.IsEmpty() ? kUnknownReason : undoFailure_.GetCString(), name);
}

bool KsFileTransactionCommitter::NeedsApplying(const KsRecordActionListWrapper& entry) const {
    char type = entry.GetAction()->GetType();
    if (type == KsActionType::kModify || type == KsActionType::kNull) {
        // Writing the old content back twice does no harm.
        return true;
    }
    char* end = nullptr;
    long before = std::strtol(entry.GetText(), &end, 10);
    if (end == entry.GetText() || *end != '\0') {
        return true;
    }
    // The record count is back where it was before the change: it was not made, or was
    // undone already.
    return table_->GetNumRecords() != before;
}

void KsFileTransactionCommitter::NoteUndoFailure(const KsString& reason) {
    // Inverses failing alike (a listener refusing every undo) say so once.
    const std::string noted = std::string("; ") + undoFailure_.GetCString() + "; ";
    if (noted.find(std::string("; ") + reason.GetCString() + "; ") != std::string::npos) {
        return;
    }
    if (!undoFailure_.IsEmpty()) {
        undoFailure_.Append("; ");
    }
    undoFailure_.Append(reason.GetCString());
}

std::int64_t KsFileTransactionCommitter::UndoStart() {
    std::int64_t position = notMadeFrom_ >= 0 ? notMadeFrom_ : inverse_->Tell64();
    // Inside a header cut short: no entry, and no change of the table, follows it.
    if (recovering_ && position >= static_cast<std::int64_t>(Fmt::kInverseHeaderSize)) {
        position = EndOfWholeEntries();
    }
    CutAt(*inverse_, position);
    return position;
}

std::int64_t KsFileTransactionCommitter::EntryStart(std::int64_t position) {
    const std::int64_t trailer = position - static_cast<std::int64_t>(Fmt::kInverseOffsetSize);
    if (trailer < static_cast<std::int64_t>(Fmt::kInverseHeaderSize)) {
        KsException::Generate("the inverse file's entry ending at byte %lld is cut short", kClass,
                              static_cast<long long>(position));
    }
    inverse_->Seek64Absolute(trailer);
    std::uint64_t start = inverse_->ReadUnsignedNative();
    if (start < Fmt::kInverseHeaderSize || start >= static_cast<std::uint64_t>(trailer)) {
        KsException::Generate(
            "the inverse file's entry ending at byte %lld starts at %llu, outside the entries",
            kClass, static_cast<long long>(position), static_cast<unsigned long long>(start));
    }
    return static_cast<std::int64_t>(start);
}

bool KsFileTransactionCommitter::UndoMovedRecords(std::int64_t start, std::int64_t trailer,
                                                  bool newest) {
    // Only ever the newest entry, left by a change that may not have finished.
    if (!newest) {
        KsException::Generate(
            "the inverse file's copy of moved records at byte %lld is not its newest entry", kClass,
            static_cast<long long>(start));
    }
    if (!recovering_) {
        return false;
    }
    if (!PutMovedRecordsBack(start, trailer)) {
        KsException::Generate(
            "the inverse file's copy of moved records at byte %lld does not fit the table", kClass,
            static_cast<long long>(start));
    }
    return true;
}

bool KsFileTransactionCommitter::ApplyEntry(KsRecordActionListWrapper& entry, std::int64_t start,
                                            std::int64_t trailer, bool newest,
                                            std::uint32_t applied,
                                            std::vector<FailedInverse>& failures) {
    inverse_->Seek64Absolute(start);
    entry.Read(*inverse_);
    if (inverse_->Tell64() != trailer) {
        KsException::Generate("the inverse file's entry at byte %lld does not end at its trailer",
                              kClass, static_cast<long long>(start));
    }
    if (recovering_ && newest && !NeedsApplying(entry)) {
        return true;
    }
    try {
        entry.GetAction()->PermanentCommit(*table_);
        // The undoing reaches the device before its entry leaves the file.
        KsFileTransactionLog::IsSyncing() ? table_->Sync() : table_->Flush();
    } catch (...) {
        failures.push_back({applied, ReasonOrUnknown()});
        NoteUndoFailure(failures.back().message);
        // A recovery goes no further than the table is sound: the entry stays for the next
        // try.
        return !recovering_;
    }
    return true;
}

bool KsFileTransactionCommitter::ApplyInverses(KsProgressInterface& progress,
                                               std::uint32_t& applied,
                                               std::vector<FailedInverse>& failures) {
    try {
        std::int64_t position = UndoStart();
        KsRecordActionListWrapper entry(*table_);
        bool newest = true;
        bool restored = false;  // the newest change was undone from the copy of its records
        while (position > static_cast<std::int64_t>(Fmt::kInverseHeaderSize)) {
            const std::int64_t trailer =
                position - static_cast<std::int64_t>(Fmt::kInverseOffsetSize);
            const std::int64_t start = EntryStart(position);
            inverse_->Seek64Absolute(start);
            char kind = 0;
            inverse_->Read(&kind, 1, true);
            if (kind == Fmt::kInverseMovedMarker) {
                restored = UndoMovedRecords(start, trailer, newest);
            } else {
                // An entry whose change the copy of records undid already is only dropped.
                if (!restored && !ApplyEntry(entry, start, trailer, newest, applied, failures)) {
                    return false;
                }
                newest = false;
                restored = false;
                ++applied;
                try {
                    progress.StepBy(-1);
                } catch (...) {
                    // Undoing goes on whatever the display does.
                }
            }
            // An entry applied leaves the file, so that a crash does not apply it twice.
            position = start;
            CutAt(*inverse_, position);
            SyncInverse();
        }
        return true;
    } catch (...) {
        NoteUndoFailure(ReasonOrUnknown());
        return false;
    }
}

void KsFileTransactionCommitter::MarkLogged(std::uint32_t applied,
                                            const std::vector<FailedInverse>& failures) {
    KsIOList<KsRecordActionListWrapper> actions = transaction_.SubList();
    KsRecordActionListWrapper logged(*table_);
    std::uint32_t i = 0;
    for (auto it = actions.begin(KsFileTransactionLog::kWalk);
         i < applied && !(it == actions.end()); ++it, ++i) {
        it.Read(logged);
        std::uint32_t sequence = applied - 1 - i;
        logged.SetStatus(Fmt::kActionUndone);
        logged.SetText("");
        for (const FailedInverse& failure : failures) {
            if (failure.sequence == sequence) {
                logged.SetStatus(Fmt::kActionFailed);
                logged.SetText(failure.message.GetCString());
            }
        }
        it.Write(logged);
    }
}

bool KsFileTransactionCommitter::Rollback(KsProgressInterface& progress) {
    std::uint32_t applied = 0;
    std::vector<FailedInverse> failures;
    bool readable = ApplyInverses(progress, applied, failures);
    if (recovering_ && (!readable || !failures.empty())) {
        // Left Committing, its actions as they were, for the next try.
        return false;
    }
    try {
        KsFileTransactionLog::IsSyncing() ? table_->Sync() : table_->Flush();
        MarkLogged(applied, failures);
    } catch (...) {
        NoteUndoFailure(ReasonOrUnknown());
        return false;
    }
    return readable && failures.empty() && !undoFailed_;
}
