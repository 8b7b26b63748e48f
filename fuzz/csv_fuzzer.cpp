// Comma-separated text from untrusted bytes: whatever the buffer size and the stop search,
// the reader gives the records of the plain model (tests/app/kstable/CsvModel.h) and stops
// at the same record with the same error; every value is a NUL-free C string; and what the
// writer makes of the records reads back as the same records.

#include <cstdint>
#include <string>
#include <vector>

#include "Csv.h"
#include "app/kstable/CsvModel.h"

using Outcome = kstest::CsvOutcome;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t smallBuffer = 1 + data[0] % 16;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    const Outcome model = kstest::ModelCsv(text);
    for (CsvScan scan : SupportedCsvScans()) {
        if (kstest::ReadCsv(text, smallBuffer, scan) != model ||
            kstest::ReadCsv(text, 1 << 16, scan) != model) {
            __builtin_trap();
        }
    }
    const Outcome again =
        kstest::ReadCsv(kstest::WriteCsv(model.records, 64), smallBuffer, ChosenCsvScan());
    if (!again.error.empty() || again.records != model.records) {
        __builtin_trap();
    }
    return 0;
}
