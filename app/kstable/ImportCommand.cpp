#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "Commands.h"
#include "Counted.h"
#include "Csv.h"
#include "CsvRecord.h"
#include "ImportPlan.h"
#include "Interrupt.h"
#include "ProgressBar.h"
#include "Table.h"
#include "core/KsScopeExit.h"
#include "core/KsText.h"
#include "io/KsIO.h"

namespace {

constexpr const char* kClass = "kstable import";

// The bytes the progress bar counts up to: the size of a regular input file while standard
// error is a terminal, else 0 (no bar).
std::uint64_t ProgressTotal(const std::string& name) {
    struct stat status {};
    if (name == "-" || !isatty(STDERR_FILENO) || stat(name.c_str(), &status) != 0 ||
        !S_ISREG(status.st_mode)) {
        return 0;
    }
    return static_cast<std::uint64_t>(status.st_size);
}

// Converts the records of the input into the table's records and appends them, a batch at
// a time in the form the data file stores them.
class Importer {
public:
    Importer(CBFFile& table, CsvReader& reader, std::uint64_t progressTotal)
        : table_(table), reader_(reader), plan_(table), total_(progressTotal) {
        if (total_ > 0) {
            bar_ = std::make_unique<ProgressBar>(stderr);
        }
    }

    // Appends every record of the input; returns how many.
    std::int32_t AppendAll(bool skipHeader) {
        if (skipHeader) {
            NextRecord();
        }
        const std::size_t length = plan_.RecordLength();
        const std::size_t batch = std::max<std::size_t>(1, (1 << 20) / length);
        std::vector<unsigned char> pending(batch * length);
        std::size_t count = 0;
        std::int32_t added = 0;
        while (NextRecord()) {
            if (KsTool::Interrupted()) {
                throw Interrupted();
            }
            std::memcpy(pending.data() + count * length, plan_.Fill(reader_), length);
            if (++count == batch) {
                Append(pending.data(), count);
                count = 0;
            }
            if (++added % 1024 == 0 && bar_) {
                bar_->Update(reader_.Consumed(), total_);
            }
        }
        Append(pending.data(), count);
        return added;
    }

private:
    bool NextRecord() {
        try {
            return reader_.Next();
        } catch (KsException& error) {
            KsException::Generate("line %lld: %s", kClass, static_cast<long long>(reader_.Line()),
                                  error.GetErrorMessage());
        }
    }

    void Append(const unsigned char* records, std::size_t count) {
        const std::int32_t last = table_.GetNumRecords();
        if (count == 0) {
            return;
        }
        if (static_cast<std::size_t>(INT32_MAX - last) < count) {
            // One by one, so that the table refuses the first record it cannot hold.
            std::unique_ptr<KsFileRecord> record = table_.GetNewRecord();
            for (std::size_t i = 0; i < count; ++i) {
                record->Load(records + i * plan_.RecordLength());
                table_.DataAppend(*record);
            }
            return;
        }
        table_.WriteStoredRecords(last + 1, static_cast<std::int32_t>(count),
                                  reinterpret_cast<const char*>(records));
    }

    CBFFile& table_;
    CsvReader& reader_;
    ImportPlan plan_;
    std::uint64_t total_;
    std::unique_ptr<ProgressBar> bar_;
};

// Bytes after the last whole record are what a killed import leaves; they are no record
// and go before new records are appended.
void DropExtraBytes(CBFFile& table) {
    if (const std::int64_t extra = table.GetExtraBytes(); extra > 0) {
        table.KeepRecords(table.GetNumRecords());
        std::fprintf(stderr, "kstable: removed %s after the last whole record of \"%s\"\n",
                     Counted(extra, "byte").c_str(), table.GetFileName());
    }
}

void ReportNothingImported(const char* reason, const std::string& table,
                           const std::string& cutBackFailure) {
    std::fprintf(stderr, "kstable: %s\n", reason);
    if (cutBackFailure.empty()) {
        std::fprintf(stderr, "kstable: nothing was imported; \"%s\" is as it was\n", table.c_str());
    } else {
        std::fprintf(stderr, "kstable: \"%s\" could not be cut back to its old records: %s\n",
                     table.c_str(), cutBackFailure.c_str());
    }
}

}  // namespace

int ImportRecords(const CommandLine& line) {
    const TableFiles files = TableFilesOf(line.table);
    std::unique_ptr<KsIOInterface> input = OpenCsvInput(line.input);
    LockedTable locked(files, true);
    CBFFile& table = locked.Table();
    DropExtraBytes(table);
    const std::int32_t before = table.GetNumRecords();
    const std::int64_t size = std::int64_t{before} * table.GetRecordLength();
    CsvReader reader(*input);
    std::string cutBackFailure;
    // Killed before it is done, the import is taken back by the next command: the marker
    // holds the record count to cut the table back to.
    KsFile::ChangeScope change = table.BeginChange(before);
    try {
        KsScopeExit cutBack([&] { cutBackFailure = locked.CloseAndCutBack(size); });
        Importer(table, reader, ProgressTotal(line.input)).AppendAll(line.skipHeader);
        // On the device before the command says it is done.
        table.Sync();
        cutBack.Dismiss();
    } catch (const KsException& error) {
        // A read of a terminal or a pipe cut short by Ctrl-C is the interrupt, not a fault.
        ReportNothingImported(KsTool::Interrupted() ? "interrupted" : error.GetErrorMessage(),
                              files.data, cutBackFailure);
        if (!cutBackFailure.empty()) {
            change.Abandon();  // the next command cuts it back
        }
        return KsTool::Interrupted() ? KsTool::kExitInterrupted : 1;
    } catch (const Interrupted&) {
        ReportNothingImported("interrupted", files.data, cutBackFailure);
        if (!cutBackFailure.empty()) {
            change.Abandon();
        }
        return KsTool::kExitInterrupted;
    }
    const std::int32_t after = table.GetNumRecords();
    // An index file written before the import no longer fits the record count, so it
    // would not be trusted anyway; it is built afresh now.
    if (after != before) {
        RebuildIndexFiles(table);
    }
    locked.Close();
    std::printf("Imported %ld record%s into \"%s\", which now holds %ld.\n",
                static_cast<long>(after - before), after - before == 1 ? "" : "s",
                files.data.c_str(), static_cast<long>(after));
    return 0;
}
