#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "Commands.h"
#include "Csv.h"
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
    std::unique_ptr<KsFileRecord> record = table.GetNewRecord();
    for (std::int32_t n : fields) {
        writer.Value(record->GetFieldName(n));
    }
    writer.EndRecord();
    std::unique_ptr<ProgressBar> bar;
    if (isatty(STDERR_FILENO)) {
        bar = std::make_unique<ProgressBar>(stderr);
    }
    const auto total = static_cast<std::uint64_t>(range.last - range.first + 1) *
                       static_cast<std::uint64_t>(table.GetRecordLength());
    std::vector<char> text(2048);
    for (std::int32_t r = range.first; r <= range.last; ++r) {
        if (KsTool::Interrupted()) {
            throw Interrupted();
        }
        table.GotoRecord(r, record.get());
        for (std::int32_t n : fields) {
            writer.Value(record->GetField(n, text.data(), static_cast<std::uint32_t>(text.size())));
        }
        writer.EndRecord();
        if (bar && (r - range.first) % 1024 == 1023) {
            bar->Update(static_cast<std::uint64_t>(r - range.first + 1) *
                            static_cast<std::uint64_t>(table.GetRecordLength()),
                        total);
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
    CsvWriter writer(output);
    WriteRecords(table, fields, range, writer);
    writer.Flush();
    output.Close();
    return 0;
}
