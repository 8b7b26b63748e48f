#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "Commands.h"
#include "Csv.h"
#include "ExportPlan.h"
#include "Interrupt.h"
#include "ProgressBar.h"
#include "Table.h"
#include "io/KsIO.h"

namespace {

// The numbers of the fields to export: those named, in that order, or every field.
std::vector<std::int32_t> ExportedFields(const CBFFile& table, const CommandLine& line,
                                         const std::string& name) {
    std::vector<std::int32_t> numbers;
    if (line.exportFields.empty()) {
        for (std::int32_t n = 0; n < table.GetFieldCount(); ++n) {
            numbers.push_back(n);
        }
        return numbers;
    }
    for (const std::string& field : line.exportFields) {
        try {
            numbers.push_back(table.GetFieldNumber(field.c_str()));
        } catch (const KsFieldNotFoundException&) {
            throw UsageError("no field \"" + field + "\" in \"" + name + "\"");
        }
    }
    return numbers;
}

// The records to export, checked against the table's.
RecordRange ExportedRecords(const CBFFile& table, const CommandLine& line,
                            const std::string& name) {
    RecordRange range = line.records;
    const std::int32_t count = table.GetNumRecords();
    if (range.last == 0) {
        range.last = count;
        if (line.records.first == 1 && count == 0) {
            range.first = 1;  // the whole of an empty table: a header line alone
            return range;
        }
    }
    if (range.first > count || range.last > count) {
        throw UsageError("records " + std::to_string(line.records.first) + "-" +
                         (line.records.last ? std::to_string(line.records.last) : "") + ": \"" +
                         name + "\" holds " + std::to_string(count) +
                         (count == 1 ? " record" : " records"));
    }
    return range;
}

void WriteRecords(CBFFile& table, const std::vector<std::int32_t>& fields, RecordRange range,
                  CsvWriter& writer) {
    for (std::int32_t n : fields) {
        writer.Value(table.GetField(n).GetName());
    }
    writer.EndRecord();
    std::unique_ptr<ProgressBar> bar;
    if (isatty(STDERR_FILENO)) {
        bar = std::make_unique<ProgressBar>(stderr);
    }
    ExportPlan plan(table, fields);
    const std::size_t length = plan.RecordLength();
    const auto total = static_cast<std::uint64_t>(range.last - range.first + 1) * length;
    // The records come from the data file a batch at a time, as it stores them.
    const auto batch = static_cast<std::int32_t>(std::max<std::size_t>(1, (1 << 20) / length));
    std::vector<unsigned char> stored(static_cast<std::size_t>(batch) * length);
    for (std::int64_t first = range.first; first <= range.last; first += batch) {
        const auto count =
            static_cast<std::int32_t>(std::min<std::int64_t>(batch, range.last - first + 1));
        table.ReadStoredRecords(static_cast<std::int32_t>(first), count,
                                reinterpret_cast<char*>(stored.data()));
        for (std::int32_t i = 0; i < count; ++i) {
            if (KsTool::Interrupted()) {
                throw Interrupted();
            }
            const std::int64_t done = first + i - range.first + 1;
            writer.EndRecordAt(plan.Put(stored.data() + static_cast<std::size_t>(i) * length,
                                        writer.RecordRoom(plan.MaxRecordBytes())));
            if (bar && done % 1024 == 0) {
                bar->Update(static_cast<std::uint64_t>(done) * length, total);
            }
        }
    }
}

}  // namespace

int ExportRecords(const CommandLine& line) {
    const TableFiles files = TableFilesOf(line.table);
    LockedTable locked(files, false);
    CBFFile& table = locked.Table();
    const std::vector<std::int32_t> fields = ExportedFields(table, line, files.data);
    const RecordRange range = ExportedRecords(table, line, files.data);
    KsIO output;
    output.OpenDescriptor(STDOUT_FILENO, "standard output", IO_WRITE);
    output.SetBufferSize(KsIO::kMaximumBufferSize);  // the writer hands on a megabyte at a time
    CsvWriter writer(output);
    WriteRecords(table, fields, range, writer);
    writer.Flush();
    output.Close();
    return 0;
}
