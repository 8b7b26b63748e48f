#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Commands.h"
#include "Interrupt.h"
#include "ProgressBar.h"
#include "Table.h"
#include "index/KsSortFileWrapper.h"
#include "progress/KsProgressInterface.h"

namespace {

// Shows each phase of the sort on a terminal's progress bar and stops it on Ctrl-C.
class SortProgress : public KsProgressInterface {
public:
    explicit SortProgress(std::uint32_t recordLength) : recordLength_(recordLength) {
        if (isatty(STDERR_FILENO)) {
            bar_ = std::make_unique<ProgressBar>(stderr);
        }
    }
    bool ShouldContinue() override { return !KsTool::Interrupted(); }
    void SetMaximum(std::int32_t maximum) override { maximum_ = maximum; }
    void SetPosition(std::int32_t position) override {
        if (bar_) {
            bar_->Update(static_cast<std::uint64_t>(position) * recordLength_,
                         static_cast<std::uint64_t>(maximum_) * recordLength_);
        }
    }

private:
    std::unique_ptr<ProgressBar> bar_;
    std::uint32_t recordLength_;
    std::int32_t maximum_ = 0;
};

std::vector<KsSortField> SortFieldsOf(const CBFFile& table, const CommandLine& line,
                                      const std::string& name) {
    std::vector<KsSortField> fields;
    for (const SortFieldOrder& given : line.sortFields) {
        std::int32_t number = 0;
        try {
            number = table.GetFieldNumber(given.name.c_str());
        } catch (const KsFieldNotFoundException&) {
            throw UsageError("no field \"" + given.name + "\" in \"" + name + "\"");
        }
        fields.push_back(KsSortField{static_cast<std::uint16_t>(number), given.descending});
    }
    return fields;
}

}  // namespace

int SortTable(const CommandLine& line) {
    const TableFiles files = TableFilesOf(line.table);
    struct stat status {};
    if (!line.tempDirectory.empty() &&
        (stat(line.tempDirectory.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))) {
        throw MissingFileError("no folder \"" + line.tempDirectory + "\" for temporary files");
    }
    LockedTable locked(files, true);
    CBFFile& table = locked.Table();
    const std::vector<KsSortField> fields = SortFieldsOf(table, line, files.data);
    const std::int32_t count = table.GetNumRecords();
    KsTableSortSettings settings;
    settings.memoryBytes = line.memory;
    settings.tempDirectory = line.tempDirectory.empty() ? nullptr : line.tempDirectory.c_str();
    // The lock of LockedTable's own handle keeps other processes out.
    settings.lockTable = false;
    SortProgress progress(static_cast<std::uint32_t>(table.GetRecordLength()));
    bool sorted = false;
    try {
        // Killed once the index files are gone, the next command builds them; a failure
        // leaves that to the next command too, as the scope ends by an exception.
        KsFile::ChangeScope change = table.BeginChange();
        KsSortTable(table, fields, progress, settings);
        sorted = true;
        RebuildIndexFiles(table);
    } catch (const KsException& error) {
        if (sorted) {
            throw;  // the records are sorted; only their index files failed
        }
        // A sort that stops keeps the old data file.
        std::fprintf(stderr, "kstable: %s\nkstable: nothing was sorted; \"%s\" is as it was\n",
                     KsTool::Interrupted() ? "interrupted" : error.GetErrorMessage(),
                     files.data.c_str());
        return KsTool::Interrupted() ? KsTool::kExitInterrupted : 1;
    }
    locked.Close();
    std::printf("Sorted %d %s of \"%s\".\n", static_cast<int>(count),
                count == 1 ? "record" : "records", files.data.c_str());
    return 0;
}
