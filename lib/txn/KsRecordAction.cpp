#include "txn/KsRecordAction.h"

#include <cstring>
#include <functional>
#include <map>
#include <string>

#include "core/KsCallpath.h"
#include "core/KsException.h"
#include "files/KsFile.h"
#include "files/KsFileRecord.h"
#include "io/KsIOList.h"
#include "io/KsStreamInterface.h"

namespace {

constexpr const char* kClass = "KsRecordAction";

// How one kind of change names itself in its failure messages.
struct Change {
    const char* noun;       // "The %s of a record failed ..."
    const char* atomic;     // "%s rollback failed ..."
    const char* undo;       // "(Could not %s of record ...", "(Could not %s of indexes ..."
    const char* undoIndex;  // the name the index text of the undo uses
};

constexpr Change kAdd{"addition", "AtomicAdd()", "UndoAdd()", "UndoAdd()"};
constexpr Change kAppend{"appending", "AtomicAppend()", "UndoAppend()", "UndoAppend()"};
constexpr Change kInsert{"insertion", "AtomicInsert()", "UndoInsert()", "UndoInsert()"};
constexpr Change kModify{"modification", "AtomicModify()", "UndoModify()", "UndoModify()"};
constexpr Change kDelete{"deletion", "AtomicDelete()", "UndoDelete()", "UndoDelete()"};
constexpr Change kRemove{"removal", "AtomicRemove()", "UndoRemove()", "UndoModify()"};

// The outcome of one step run under a handler for every failure.
struct StepResult {
    bool failed = false;
    bool known = false;  // the failure was a KsException
    std::string message;

    // The message, or the stand-in for a failure that carries none.
    const char* Text() const { return known ? message.c_str() : "unknown error"; }
};

template <class Step>
StepResult Attempt(Step&& step) {
    try {
        step();
        return {};
    } catch (const KsException& error) {
        return {true, true, error.GetErrorMessage()};
    } catch (...) {
        return {true, false, {}};
    }
}

[[noreturn]] void ThrowCommitFailure(const Change& change, const StepResult& failure) {
    if (failure.known) {
        KsException::GenerateAs<KsCommitFailure>("The %s of a record failed with message \"%s\"",
                                                 kClass, change.noun, failure.message.c_str());
    }
    KsException::GenerateAs<KsCommitFailure>("The %s of a record failed for an unknown reason",
                                             kClass, change.noun);
}

[[noreturn]] void ThrowRollbackFailure(const Change& change, const StepResult& undo,
                                       const StepResult& original) {
    if (original.known) {
        KsException::GenerateAs<KsRollbackFailure>(
            "%s rollback failed with message \"%s\" for an original exception of \"%s\"", kClass,
            change.atomic, undo.Text(), original.message.c_str());
    }
    KsException::GenerateAs<KsRollbackFailure>(
        "%s rollback failed with message \"%s\" for an unknown original exception", kClass,
        change.atomic, undo.Text());
}

// The data step, then the maintenance step on the record number the data step gave; when
// the maintenance step fails, `undoData` takes the data step back before the failure is
// reported.
std::int32_t RunAtomic(const Change& change, const std::function<std::int32_t()>& data,
                       const std::function<void(std::int32_t)>& maintain,
                       const std::function<void(std::int32_t)>& undoData) {
    std::int32_t n = 0;
    StepResult failure = Attempt([&] { n = data(); });
    if (failure.failed) {
        ThrowCommitFailure(change, failure);
    }
    failure = Attempt([&] { maintain(n); });
    if (!failure.failed) {
        return n;
    }
    StepResult undo = Attempt([&] { undoData(n); });
    if (undo.failed) {
        ThrowRollbackFailure(change, undo, failure);
    }
    ThrowCommitFailure(change, failure);
}

// The maintenance undo, then the data undo; both are tried and their failures reported
// together.
void RunUndo(const Change& change, const std::function<void()>& maintenance,
             const std::function<void()>& data) {
    std::string failures;
    auto note = [&failures](const char* name, const char* part, const StepResult& result) {
        if (result.failed) {
            failures.append("(Could not ").append(name).append(" of ").append(part);
            failures.append(" : \"").append(result.Text()).append("\")");
        }
    };
    note(change.undoIndex, "indexes", Attempt(maintenance));
    note(change.undo, "record", Attempt(data));
    if (!failures.empty()) {
        KsException::GenerateAs<KsRollbackFailure>("%s", kClass, failures.c_str());
    }
}

KsFileRecord& OldOrScratch(KsFile& table, KsFileRecord* oldRecord) {
    if (oldRecord != nullptr) {
        return *oldRecord;
    }
    if (table.GetScratchRecord() == nullptr) {
        KsException::Generate("The table is not open", kClass);
    }
    return *table.GetScratchRecord();
}

}  // namespace

bool KsRecordAction::CanCommitTo(const KsFile&) const {
    return true;
}

const KsRecordAction* KsRecordAction::FindPrototype(char type) {
    // Filled once, on first use; the null action is in it so that every written action
    // reads back.
    static const std::map<char, std::unique_ptr<KsRecordAction>> prototypes = [] {
        std::map<char, std::unique_ptr<KsRecordAction>> kinds;
        auto add = [&kinds](KsRecordAction* prototype) {
            kinds.emplace(prototype->GetType(), prototype);
        };
        add(new KsAddAction());
        add(new KsAppendAction());
        add(new KsInsertAction());
        add(new KsModifyAction());
        add(new KsDeleteAction(0));
        add(new KsRemoveAction());
        add(new KsNullAction());
        return kinds;
    }();
    auto found = prototypes.find(type);
    return found != prototypes.end() ? found->second.get() : nullptr;
}

std::unique_ptr<KsRecordAction> KsRecordAction::Read(KsFile& table,
                                                     KsInputStreamInterface& stream) {
    return KsCallpath("Read()", kClass, [&] {
        char type = '\0';
        stream.Read(&type, 1, true);
        const KsRecordAction* prototype = FindPrototype(type);
        if (prototype == nullptr) {
            KsException::GenerateAs<KsRecordActionUnknown>(
                "Cannot use file action of type '%c' (%d)", kClass, type,
                static_cast<int>(static_cast<unsigned char>(type)));
        }
        return prototype->ReadData(table, stream);
    });
}

void KsRecordAction::Write(const KsRecordAction& action, KsOutputStreamInterface& stream) {
    KsCallpath("Write()", kClass, [&] {
        char type = action.GetType();
        stream.Write(&type, 1);
        action.WriteData(stream);
    });
}

bool KsRecordAction::WritesSameAs(const KsRecordAction& other) const {
    KsIOListObject mine;
    KsIOListObject theirs;
    Write(*this, mine);
    Write(other, theirs);
    return mine.GetSize() == theirs.GetSize() &&
           std::memcmp(mine.GetData(), theirs.GetData(), mine.GetSize()) == 0;
}

// ---- Atomic changes

std::int32_t KsRecordAction::AtomicAdd(KsFile& table, KsFileRecord& record) {
    return RunAtomic(
        kAdd, [&] { return table.DataAdd(record); },
        [&](std::int32_t n) { table.FileMaintenanceAdd(n, record); },
        [&](std::int32_t n) { table.DataDelete(n); });
}

std::int32_t KsRecordAction::AtomicAppend(KsFile& table, KsFileRecord& record) {
    return RunAtomic(
        kAppend, [&] { return table.DataAppend(record); },
        [&](std::int32_t n) { table.FileMaintenanceAdd(n, record); },
        [&](std::int32_t n) { table.DataDelete(n); });
}

std::int32_t KsRecordAction::AtomicInsert(KsFile& table, std::int32_t number,
                                          KsFileRecord& record) {
    return RunAtomic(
        kInsert, [&] { return table.DataInsert(number, record); },
        [&](std::int32_t n) { table.FileMaintenanceAdd(n, record); },
        [&](std::int32_t n) { table.DataDelete(n); });
}

std::int32_t KsRecordAction::AtomicModify(KsFile& table, std::int32_t number, KsFileRecord& record,
                                          KsFileRecord* oldRecord) {
    KsFileRecord& old = OldOrScratch(table, oldRecord);
    return RunAtomic(
        kModify, [&] { return table.DataModify(number, record, &old); },
        [&](std::int32_t n) {
            if (n == number) {
                table.FileMaintenanceModify(n, old, record);
            } else {
                OutOfPlaceModify(table, number, n, record, old);
            }
        },
        [&](std::int32_t n) { table.DataModify(n, old); });
}

void KsRecordAction::AtomicDelete(KsFile& table, std::int32_t number, KsFileRecord* oldRecord) {
    KsFileRecord& old = OldOrScratch(table, oldRecord);
    RunAtomic(
        kDelete,
        [&] {
            table.DataDelete(number, &old);
            return number;
        },
        [&](std::int32_t n) { table.FileMaintenanceDelete(n); },
        [&](std::int32_t n) { table.DataInsert(n, old); });
}

std::int32_t KsRecordAction::AtomicRemove(KsFile& table, KsFileRecord& record,
                                          KsFileRecord* oldRecord) {
    KsFileRecord& old = OldOrScratch(table, oldRecord);
    // Undone by an insert at the old number: adding the record again would put it at the
    // end and move every record behind it.
    return RunAtomic(
        kRemove, [&] { return table.DataRemove(record, &old); },
        [&](std::int32_t n) { table.FileMaintenanceDelete(n); },
        [&](std::int32_t n) { table.DataInsert(n, old); });
}

void KsRecordAction::OutOfPlaceModify(KsFile& table, std::int32_t number, std::int32_t n,
                                      const KsFileRecord& record, const KsFileRecord& oldRecord) {
    KsCallpath("OutOfPlaceModify()", kClass, [&] {
        table.FileMaintenanceDelete(number);
        StepResult failure = Attempt([&] { table.FileMaintenanceAdd(n, record); });
        if (!failure.failed) {
            return;
        }
        // Puts the old record back where the maintained structures had it.
        StepResult undo = Attempt([&] { table.FileMaintenanceAdd(number, oldRecord); });
        std::string message = failure.Text();
        if (undo.failed) {
            message.append(" (OutOfPlaceModify() rollback failed with message \"")
                .append(undo.Text())
                .append("\")");
        }
        KsException::Generate("%s", kClass, message.c_str());
    });
}

// ---- Undoing atomic changes

void KsRecordAction::UndoAdd(KsFile& table, std::int32_t n) {
    RunUndo(
        kAdd, [&] { table.FileMaintenanceDelete(n); }, [&] { table.DataDelete(n); });
}

void KsRecordAction::UndoAppend(KsFile& table, std::int32_t n) {
    RunUndo(
        kAppend, [&] { table.FileMaintenanceDelete(n); }, [&] { table.DataDelete(n); });
}

void KsRecordAction::UndoInsert(KsFile& table, std::int32_t n) {
    RunUndo(
        kInsert, [&] { table.FileMaintenanceDelete(n); }, [&] { table.DataDelete(n); });
}

void KsRecordAction::UndoModify(KsFile& table, std::int32_t n, KsFileRecord& oldRecord,
                                const KsFileRecord& record) {
    RunUndo(
        kModify, [&] { table.FileMaintenanceModify(n, record, oldRecord); },
        [&] { table.DataModify(n, oldRecord); });
}

void KsRecordAction::UndoDelete(KsFile& table, std::int32_t n, KsFileRecord& oldRecord) {
    RunUndo(
        kDelete, [&] { table.FileMaintenanceAdd(n, oldRecord); },
        [&] { table.DataInsert(n, oldRecord); });
}

void KsRecordAction::UndoRemove(KsFile& table, std::int32_t n, KsFileRecord& oldRecord) {
    RunUndo(
        kRemove, [&] { table.FileMaintenanceAdd(n, oldRecord); },
        [&] { table.DataInsert(n, oldRecord); });
}
