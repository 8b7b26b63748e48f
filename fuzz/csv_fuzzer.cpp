// Comma-separated text from untrusted bytes: whatever the buffer size and the stop search,
// the reader gives the records of the plain model (tests/app/kstable/CsvModel.h) and stops
// at the same record with the same error; every value is a NUL-free C string; and what the
// writer makes of the records reads back as the same records.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "Csv.h"
#include "app/kstable/CsvModel.h"
#include "core/KsException.h"
#include "support/MemoryStream.h"

namespace {

using Outcome = kstest::CsvOutcome;

Outcome ReadAll(const std::string& text, std::size_t bufferSize, CsvScan scan) {
    kstest::MemoryStream input(text);
    CsvReader reader(input, bufferSize, scan);
    Outcome outcome;
    try {
        while (reader.Next()) {
            outcome.records.emplace_back();
            outcome.lines.push_back(reader.Line());
            for (std::size_t i = 0; i < reader.Count(); ++i) {
                if (std::strlen(reader.Value(i)) != reader.View(i).size()) {
                    __builtin_trap();
                }
                outcome.records.back().emplace_back(reader.View(i));
            }
        }
    } catch (const KsException& error) {
        outcome.error = error.GetErrorMessage();
        outcome.lines.push_back(reader.Line());
    }
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t smallBuffer = 1 + data[0] % 16;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    const Outcome model = kstest::ModelCsv(text);
    for (CsvScan scan : SupportedCsvScans()) {
        if (ReadAll(text, smallBuffer, scan) != model || ReadAll(text, 1 << 16, scan) != model) {
            __builtin_trap();
        }
    }
    kstest::MemoryStream written;
    CsvWriter writer(written, 64);
    for (const auto& record : model.records) {
        for (const std::string& value : record) {
            writer.Value(value);
        }
        writer.EndRecord();
    }
    writer.Flush();
    const Outcome again = ReadAll(written.Bytes(), smallBuffer, ChosenCsvScan());
    if (!again.error.empty() || again.records != model.records) {
        __builtin_trap();
    }
    return 0;
}
