// kstable index, unindex, search and check: the index files beside a table.

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Commands.h"
#include "Counted.h"
#include "Csv.h"
#include "CsvRecord.h"
#include "ExportPlan.h"
#include "Table.h"
#include "index/KsIndex.h"
#include "index/KsRecordKey.h"
#include "index/KsSet.h"
#include "io/KsIO.h"
#include "txn/KsFileTransactionLog.h"

namespace {

std::uint16_t FieldNumberOf(const CBFFile& table, const std::string& field,
                            const std::string& name) {
    try {
        return static_cast<std::uint16_t>(table.GetFieldNumber(field.c_str()));
    } catch (const KsFieldNotFoundException&) {
        throw UsageError("no field \"" + field + "\" in \"" + name + "\"");
    }
}

// The field's comparable key for the value as text.
std::unique_ptr<KsRecordKey> KeyOfText(CBFFile& table, std::uint16_t field,
                                       const std::string& text) {
    std::unique_ptr<KsFileRecord> record = table.GetNewRecord();
    try {
        PutFieldText(*record, field, text.c_str(), KsFileRecord::kPlain,
                     FieldRangeText(static_cast<const CBFField&>(table.GetField(field))));
    } catch (const KsException& error) {
        KsException::Generate("field \"%s\": %s", "kstable search", record->GetFieldName(field),
                              error.GetErrorMessage());
    }
    return KsRecordKey::Extract(*record, field);
}

void WriteFoundRecords(CBFFile& table, const KsSet& found) {
    KsIO output;
    output.OpenDescriptor(STDOUT_FILENO, "standard output", IO_WRITE);
    CsvWriter writer(output);
    std::unique_ptr<KsFileRecord> record = table.GetNewRecord();
    std::vector<std::int32_t> fields;
    for (std::int32_t n = 0; n < table.GetFieldCount(); ++n) {
        writer.Value(record->GetFieldName(n));
        fields.push_back(n);
    }
    writer.EndRecord();
    // Written as export writes them.
    ExportPlan plan(table, fields);
    std::vector<unsigned char> stored(plan.RecordLength());
    for (std::int32_t r = found.GetNextInSet(0); r != 0; r = found.GetNextInSet(r)) {
        table.GotoRecord(r, record.get());
        record->Store(stored.data());
        writer.EndRecordAt(plan.Put(stored.data(), writer.RecordRoom(plan.MaxRecordBytes())));
    }
    writer.Flush();
    output.Close();
}

// Compares what is written with a file's bytes as they come, a piece at a time.
class ComparingOutput final : public KsOutputStreamInterface {
public:
    explicit ComparingOutput(KsIOInterface& file) : file_(file) {}
    void GetFileName(KsString& out) override { out = file_.GetFileName(); }
    void Write(const void* buffer, std::int32_t count) override {
        if (!same_ || count <= 0) {
            return;
        }
        piece_.resize(static_cast<std::size_t>(count));
        std::int32_t got = file_.ReadFrom(offset_, piece_.data(), count, false);
        same_ = got == count && std::memcmp(piece_.data(), buffer, piece_.size()) == 0;
        offset_ += static_cast<std::uint64_t>(count);
    }
    // Whether everything written matched and the file holds nothing more.
    bool Same() const {
        return same_ && offset_ == static_cast<std::uint64_t>(file_.GetFileSize64());
    }

private:
    KsIOInterface& file_;
    std::vector<char> piece_;
    std::uint64_t offset_ = 0;
    bool same_ = true;
};

// Whether the index file holds exactly the bytes the index writes.
bool FileHoldsIndex(CBFFile& table, const std::string& file, KsIndex& index) {
    try {
        std::unique_ptr<KsIOInterface> input = table.GetFactory().Open(file.c_str(), IO_READ);
        ComparingOutput compared(*input);
        index.Write(compared, KsIndex::kVersion);
        return compared.Same();
    } catch (const KsException&) {
        return false;  // the full check below names the fault
    }
}

// Disagreements of one index file with the records, as lines of text. A file that holds
// the bytes of the index built from the records agrees without reading it as an index;
// any other is read and compared key by key.
std::vector<std::string> CheckIndexFile(CBFFile& table, std::uint16_t field) {
    const std::string file = table.GetIndexFileName(field).GetCString();
    KsIndex built(table, field, nullptr);
    if (FileHoldsIndex(table, file, built)) {
        return {};
    }
    const KsField& info = table.GetField(field);
    std::unique_ptr<KsIndex> stored = table.GetNewIndex(
        info.GetType(), static_cast<std::uint16_t>(info.GetLength()), table.GetNumRecords());
    try {
        std::unique_ptr<KsIOInterface> input = table.GetFactory().Open(file.c_str(), IO_READ);
        stored->Read(*input, true);
    } catch (const KsException& error) {
        return {"\"" + file + "\": " + error.GetErrorMessage()};
    }
    if (stored->GetRecordCount() != built.GetRecordCount()) {
        return {"\"" + file + "\": indexes " + Counted(stored->GetRecordCount(), "record") +
                ", the table holds " + std::to_string(built.GetRecordCount())};
    }
    if (!stored->IsSameAs(built)) {
        return {"\"" + file + "\": its keys or records differ from those of the records"};
    }
    return {};
}

// The field to index or unindex: a field of the table that is not mapped to another.
std::uint16_t UnmappedField(const CBFFile& table, const CommandLine& line,
                            const std::string& name) {
    const std::uint16_t field = FieldNumberOf(table, line.field, name);
    if (table.GetField(field).IsMapped()) {
        throw UsageError("field \"" + line.field + "\" is mapped to another field");
    }
    return field;
}

}  // namespace

void RebuildIndexFiles(CBFFile& table) {
    for (std::int32_t n = 0; n < table.GetFieldCount(); ++n) {
        const KsField& field = table.GetField(n);
        if (field.GetIndexCount() > 0 && !field.IsMapped()) {
            table.GetIndex(static_cast<std::uint16_t>(n), true);
            table.SaveIndex(static_cast<std::uint16_t>(n));
        }
    }
}

int IndexField(const CommandLine& line) {
    const TableFiles files = TableFilesOf(line.table);
    LockedTable locked(files, true);
    CBFFile& table = locked.Table();
    const std::uint16_t field = UnmappedField(table, line, files.data);
    // Killed between the header and the index file, the next command builds the file.
    KsFile::ChangeScope change = table.BeginChange();
    if (table.GetField(field).GetIndexCount() <= 0) {
        table.GetField(field).SetIndexCount(1);
        table.WriteStructure();
    }
    KsIndex* index = table.GetIndex(field, true);
    table.SaveIndex(field);
    std::printf("Indexed field \"%s\" of \"%s\": %s in \"%s\".\n", line.field.c_str(),
                files.data.c_str(), Counted(index->GetKeyCount(), "key").c_str(),
                table.GetIndexFileName(field).GetCString());
    locked.Close();
    return 0;
}

int UnindexField(const CommandLine& line) {
    const TableFiles files = TableFilesOf(line.table);
    LockedTable locked(files, true);
    CBFFile& table = locked.Table();
    const std::uint16_t field = UnmappedField(table, line, files.data);
    const bool wasIndexed = table.GetField(field).GetIndexCount() > 0;
    const bool hadFile = table.IndexFileExists(field);
    // Killed between the header and the index file, the next command deletes the file.
    KsFile::ChangeScope change = table.BeginChange();
    if (wasIndexed) {
        table.GetField(field).SetIndexCount(0);
        table.WriteStructure();
    }
    table.RemoveIndex(field);
    // Unindexing a field that is not indexed changes nothing but a stray index file, and
    // is no error: the field ends as asked.
    if (wasIndexed) {
        std::printf("Field \"%s\" of \"%s\" is no longer indexed.\n", line.field.c_str(),
                    files.data.c_str());
    } else if (hadFile) {
        std::printf(
            "Field \"%s\" of \"%s\" was not indexed; deleted the stray index file \"%s\".\n",
            line.field.c_str(), files.data.c_str(), table.GetIndexFileName(field).GetCString());
    } else {
        std::printf("Field \"%s\" of \"%s\" was not indexed; nothing changed.\n",
                    line.field.c_str(), files.data.c_str());
    }
    locked.Close();
    return 0;
}

int SearchTable(const CommandLine& line) {
    const TableFiles files = TableFilesOf(line.table);
    LockedTable locked(files, false);
    CBFFile& table = locked.Table();
    const std::uint16_t field = FieldNumberOf(table, line.field, files.data);
    const KsField& info = table.GetField(field);
    if (!info.IsMapped() && info.GetIndexCount() <= 0) {
        throw UsageError("field \"" + line.field + "\" is not indexed; 'kstable index " +
                         line.table + " " + line.field + "' indexes it");
    }
    const std::unique_ptr<KsRecordKey> low = KeyOfText(table, field, line.value);
    const std::unique_ptr<KsRecordKey> high =
        line.hasTo ? KeyOfText(table, field, line.toValue) : nullptr;
    KsSet found;
    // GetIndex reads the index file only when it fits the table, else builds the index.
    table.GetIndex(field)->Search(*low, high.get(), found);
    if (line.countOnly) {
        std::printf("%ld\n", static_cast<long>(found.GetSelectedCount()));
    } else {
        WriteFoundRecords(table, found);
    }
    locked.Close();
    return 0;
}

std::vector<std::string> TableProblems(CBFFile& table, const TableFiles& files, int& checked) {
    std::vector<std::string> problems;
    if (const std::int64_t extra = table.GetExtraBytes(); extra > 0) {
        problems.push_back("\"" + files.data + "\": " + std::to_string(extra) +
                           " bytes after the last whole record of " +
                           std::to_string(table.GetRecordLength()) + " bytes");
    }
    checked = 0;
    for (std::int32_t n = 0; n < table.GetFieldCount(); ++n) {
        const KsField& field = table.GetField(n);
        auto number = static_cast<std::uint16_t>(n);
        if (field.IsMapped()) {
            continue;
        }
        const bool indexed = field.GetIndexCount() > 0;
        const bool exists = table.IndexFileExists(number);
        const std::string file = table.GetIndexFileName(number).GetCString();
        if (indexed && exists) {
            std::vector<std::string> found = CheckIndexFile(table, number);
            problems.insert(problems.end(), found.begin(), found.end());
            checked += found.empty() ? 1 : 0;
        } else if (indexed) {
            problems.push_back("\"" + file + "\": missing; the header marks field \"" +
                               field.GetName() + "\" indexed");
        } else if (exists) {
            problems.push_back("\"" + file + "\": the header does not mark field \"" +
                               field.GetName() + "\" indexed");
        }
    }
    const std::string log = LogFileOf(files);
    if (std::string reason = KsFileTransactionLog::Inspect(table.GetFactory(), log.c_str());
        !reason.empty()) {
        problems.push_back("\"" + log + "\" cannot be used: " + reason);
    }
    for (const std::string& left : AbandonedLeftovers(files)) {
        problems.push_back(left);
    }
    return problems;
}

int ReportProblems(const std::vector<std::string>& problems, CBFFile& table,
                   const TableFiles& files, int checked) {
    for (const std::string& problem : problems) {
        std::printf("%s\n", problem.c_str());
    }
    if (problems.empty()) {
        std::printf("\"%s\": %s, header and %s agree.\n", files.data.c_str(),
                    Counted(table.GetNumRecords(), "record").c_str(),
                    Counted(checked, "index file").c_str());
    }
    return problems.empty() ? 0 : 1;
}

int CheckTable(const CommandLine& line) {
    const TableFiles files = TableFilesOf(line.table);
    LockedTable locked(files, false);
    CBFFile& table = locked.Table();
    int checked = 0;
    const std::vector<std::string> problems = TableProblems(table, files, checked);
    const int status = ReportProblems(problems, table, files, checked);
    locked.Close();
    return status;
}
