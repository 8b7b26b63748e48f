// The import and export plans against the generic record text path, on a table with a
// field of every type: every record of the input fills the same bytes through both or is
// refused with the same message, and every record stored (and every run of input bytes as
// a stored record) exports as the same text through both.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "Commands.h"
#include "Csv.h"
#include "CsvRecord.h"
#include "ExportPlan.h"
#include "ImportPlan.h"
#include "app/kstable/GenericExport.h"
#include "core/KsException.h"
#include "support/MemoryStream.h"

namespace {

CBFFile& TheTable() {
    static CBFFile* table = [] {
        char folder[] = "/tmp/table_plan_fuzzer.XXXXXX";
        if (mkdtemp(folder) == nullptr) {
            std::abort();
        }
        CommandLine line;
        line.table = std::string(folder) + "/t";
        for (const char* spec : {"a:A8", "y:Y3", "n:N", "c:N/100", "q:N/4", "g:N/1000000000", "i:I",
                                 "w:W", "s:S", "s3:S3", "u:U", "u5:U5", "u7:U7"}) {
            line.fields.push_back(ParseFieldSpec(spec));
        }
        if (std::freopen("/dev/null", "w", stdout) == nullptr) {  // CreateTable's line
            std::abort();
        }
        CreateTable(line);
        auto* opened = new CBFFile;
        opened->Open((line.table + ".cbf").c_str(), IO_READ);
        // Nothing is written to it, so it needs no name once it is open.
        std::filesystem::remove_all(folder);
        return opened;
    }();
    return *table;
}

void CompareExports(CBFFile& table, const std::string& bytes) {
    static std::vector<std::int32_t> fields = [&] {
        std::vector<std::int32_t> all;
        for (std::int32_t n = 0; n < table.GetFieldCount(); ++n) {
            all.push_back(n);
        }
        return all;
    }();
    static ExportPlan plan(table, fields);
    static std::unique_ptr<KsFileRecord> record = table.GetNewRecord();
    record->Load(bytes.data());
    std::string text(plan.MaxRecordBytes(), '\0');
    const auto* stored = reinterpret_cast<const unsigned char*>(bytes.data());
    text.resize(static_cast<std::size_t>(plan.Put(stored, text.data()) - text.data()));
    if (text.size() > plan.MaxRecordBytes() || text != kstest::GenericExportText(*record, fields)) {
        __builtin_trap();
    }
}

template <class Body>
std::string Outcome(Body body) {
    try {
        return body();
    } catch (const KsException& error) {
        return std::string("error: ") + error.GetErrorMessage();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CBFFile& table = TheTable();
    static ImportPlan plan(table);
    static CsvRecordFiller filler(table);
    static std::unique_ptr<KsFileRecord> record = table.GetNewRecord();
    const std::string text(reinterpret_cast<const char*>(data), size);
    kstest::MemoryStream input(text);
    CsvReader reader(input, 64);
    try {
        for (int records = 0; records < 64 && reader.Next(); ++records) {
            const std::string generic = Outcome([&] {
                filler.Fill(*record, reader, 0);
                std::string bytes(plan.RecordLength(), '\0');
                record->Store(bytes.data());
                return bytes;
            });
            const std::string planned = Outcome([&] {
                return std::string(reinterpret_cast<const char*>(plan.Fill(reader)),
                                   plan.RecordLength());
            });
            if (planned != generic) {
                __builtin_trap();
            }
            if (generic.rfind("error: ", 0) != 0) {
                CompareExports(table, generic);
            }
        }
    } catch (const KsException&) {
        // Malformed text: the reader's own fuzzer looks at that.
    }
    for (std::size_t at = 0; at + plan.RecordLength() <= size; at += plan.RecordLength()) {
        CompareExports(table, text.substr(at, plan.RecordLength()));
    }
    return 0;
}
