#pragma once
// The text the generic path exports for a record: each field's GetField text through the
// writer, as export wrote every record before its plan. The reference the export plan is
// compared with, in the tests and the fuzzer.

#include <cstdint>
#include <string>
#include <vector>

#include "Csv.h"
#include "files/KsFileRecord.h"
#include "support/MemoryStream.h"

namespace kstest {

inline std::string GenericExportText(KsFileRecord& record,
                                     const std::vector<std::int32_t>& fields) {
    MemoryStream out;
    CsvWriter writer(out);
    writer.Value("-");  // as the header line does, so that no value starts the output
    writer.EndRecord();
    std::vector<char> text(2048);
    for (std::int32_t n : fields) {
        writer.Value(record.GetField(n, text.data(), static_cast<std::uint32_t>(text.size())));
    }
    writer.EndRecord();
    writer.Flush();
    return out.Bytes().substr(3);
}

}  // namespace kstest
