#include <charconv>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Commands.h"
#include "Counted.h"
#include "Csv.h"
#include "CsvRecord.h"
#include "Interrupt.h"
#include "Table.h"
#include "progress/KsProgressInterface.h"
#include "txn/KsFileTransactionLog.h"
#include "txn/KsTransactionNew.h"

namespace {

constexpr const char* kClass = "kstable apply";

// Stops a commit when Ctrl-C arrives, and counts the changes carried out until one fails
// (the commit steps once after each change, and back once for each change it undoes).
class CommitProgress : public KsProgressInterface {
public:
    bool ShouldContinue() override { return !KsTool::Interrupted(); }
    void StepBy(std::int32_t steps) override {
        undoing_ = undoing_ || steps < 0;
        if (!undoing_) {
            done_ += static_cast<std::size_t>(steps);
        }
    }
    std::size_t Done() const { return done_; }

private:
    std::size_t done_ = 0;
    bool undoing_ = false;
};

// The reason a commit failed, without the wrappers the transaction put around it
// ("The commit failed because \"The deletion of a record failed with message \"...\"\""),
// whose stacked quotes hide it: "the deletion of a record failed: ...".
std::string ReasonOf(std::string message) {
    const auto unwrap = [&message](std::string_view head, std::string_view tail) {
        const bool wrapped = message.size() >= head.size() + tail.size() &&
                             message.starts_with(head) && message.ends_with(tail);
        if (wrapped) {
            message = message.substr(head.size(), message.size() - head.size() - tail.size());
        }
        return wrapped;
    };
    unwrap("The commit failed because \"", "\"");
    constexpr std::string_view kFailed = " of a record failed with message \"";
    const std::size_t failed = message.find(kFailed);
    if (message.starts_with("The ") && failed != std::string::npos && message.ends_with('"')) {
        const std::string change = message.substr(4, failed - 4);  // "deletion", ...
        message =
            "the " + change + " of a record failed: " +
            message.substr(failed + kFailed.size(), message.size() - failed - kFailed.size() - 1);
    }
    return message;
}

std::int32_t RecordNumber(const CsvReader& reader) {
    std::string_view text = reader.Count() > 1 ? reader.View(1) : std::string_view();
    std::int32_t n = 0;
    auto result = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size() ||
        n < 1) {
        KsException::Generate("line %lld: \"%.*s\" is no record number", kClass,
                              static_cast<long long>(reader.Line()), static_cast<int>(text.size()),
                              text.data());
    }
    return n;
}

// The change on the reader's record, made a record action.
std::unique_ptr<KsRecordAction> ReadChange(const CsvReader& reader, CsvRecordFiller& filler,
                                           KsFileRecord& record) {
    std::string_view kind = reader.View(0);
    if (kind == "append") {
        filler.Fill(record, reader, 1);
        return std::make_unique<KsAppendAction>(record);
    }
    if (kind == "insert" || kind == "modify") {
        std::int32_t n = RecordNumber(reader);
        filler.Fill(record, reader, 2);
        if (kind == "insert") {
            return std::make_unique<KsInsertAction>(record, n);
        }
        return std::make_unique<KsModifyAction>(record, n);
    }
    if (kind == "delete") {
        std::int32_t n = RecordNumber(reader);
        if (reader.Count() != 2) {
            KsException::Generate("line %lld: a delete takes only a record number", kClass,
                                  static_cast<long long>(reader.Line()));
        }
        return std::make_unique<KsDeleteAction>(n);
    }
    KsException::Generate("line %lld: unknown change \"%s\" (append, insert, modify or delete)",
                          kClass, static_cast<long long>(reader.Line()), reader.Value(0));
}

// Logs every change of the input in `transaction`; `lines` gets the line each starts on.
void LogChanges(CBFFile& table, KsTransaction& transaction, CsvReader& reader,
                std::vector<std::int64_t>& lines) {
    CsvRecordFiller filler(table);
    std::unique_ptr<KsFileRecord> record = table.GetNewRecord();
    for (;;) {
        try {
            if (!reader.Next()) {
                return;
            }
        } catch (KsException& error) {
            KsException::Generate("line %lld: %s", kClass, static_cast<long long>(reader.Line()),
                                  error.GetErrorMessage());
        }
        if (KsTool::Interrupted()) {
            throw Interrupted();
        }
        std::unique_ptr<KsRecordAction> action = ReadChange(reader, filler, *record);
        transaction.AddAction(table, *action);
        lines.push_back(reader.Line());
    }
}

}  // namespace

int ApplyChanges(const CommandLine& line) {
    const TableFiles files = TableFilesOf(line.table);
    std::unique_ptr<KsIOInterface> input = OpenCsvInput(line.input);
    KsFileTransactionLog::SetSyncing(line.sync);
    LockedTable locked(files, true);
    CBFFile& table = locked.Table();
    CsvReader reader(*input);
    std::vector<std::int64_t> lines;
    CommitProgress progress;
    bool committing = false;
    try {
        // The table is locked for writing until the end already; holding the log too saves
        // a lock call and a read of the log at every change.
        KsFileTransactionLog::WholeLock logLock = KsFileTransactionLog::Of(table).LockAll();
        std::string description = "kstable apply " + line.input;
        KsTransactionNew transaction(table, 0, description.c_str());
        LogChanges(table, transaction, reader, lines);
        committing = true;
        transaction.Commit(progress);
    } catch (const KsRollbackFailure& error) {
        std::fprintf(stderr, "kstable: %s\n", error.GetErrorMessage());
        return 1;
    } catch (const KsCommissionCanceled&) {
        std::fprintf(stderr, "kstable: interrupted; every change was rolled back\n");
        return KsTool::kExitInterrupted;
    } catch (const Interrupted&) {
        std::fprintf(stderr, "kstable: interrupted; no change was applied\n");
        return KsTool::kExitInterrupted;
    } catch (const KsCommitFailure& error) {
        const std::size_t failed = committing ? progress.Done() : lines.size();
        const std::string where =
            failed < lines.size() ? "line " + std::to_string(lines[failed]) : "the commit failed";
        std::fprintf(
            stderr, "kstable: %s: %s\nkstable: every change was rolled back; \"%s\" is as it was\n",
            where.c_str(), ReasonOf(error.GetErrorMessage()).c_str(), files.data.c_str());
        return 1;
    } catch (const KsException& error) {
        std::fprintf(stderr,
                     "kstable: %s\nkstable: every change was rolled back; \"%s\" is as it was\n",
                     error.GetErrorMessage(), files.data.c_str());
        return 1;
    }
    locked.Close();
    std::printf("Applied %s to \"%s\" as one transaction.\n",
                Counted(static_cast<long long>(lines.size()), "change").c_str(),
                files.data.c_str());
    return 0;
}

int ShowLog(const CommandLine& line) {
    LockedTable locked(TableFilesOf(line.table), true);
    KsFileTransactionLog& log = KsFileTransactionLog::Of(locked.Table());
    std::printf("IDENTITY\tSTATUS\tNUMBER\tDESCRIPTION\tACTIONS\n");
    log.ForEach([](const KsFileTransactionStatus& status, std::uint32_t actions) {
        std::printf("%.17s\t%s\t%lu\t%s\t%lu\n", status.GetCreated().GetDigits(),
                    status.GetStatusString(), static_cast<unsigned long>(status.GetNumber()),
                    status.GetDescription(), static_cast<unsigned long>(actions));
    });
    locked.Close();
    return 0;
}
