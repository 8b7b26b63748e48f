// Table headers from untrusted bytes: opening a table whose structure file is the input
// (beside a small data file) must either succeed or raise a KsException, never crash,
// leak or hang. A table that opens reads every record and every field as text, and the
// structure it writes opens again.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "files/CBFFile.h"
#include "ini/KsIniFile.h"

namespace {

// A folder of its own for the fuzzer's files, made once.
const std::string& Folder() {
    static const std::string folder = [] {
        char pattern[] = "/tmp/structure_fuzzer_XXXXXX";
        const char* made = mkdtemp(pattern);
        if (made == nullptr) {
            std::abort();
        }
        return std::string(made);
    }();
    return folder;
}

void WriteFile(const std::string& name, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(name.c_str(), "wb");
    if (file == nullptr || (size > 0 && std::fwrite(data, 1, size, file) != size)) {
        std::abort();
    }
    std::fclose(file);
}

void ReadEverything(CBFFile& table) {
    std::unique_ptr<KsFileRecord> record = table.GetNewRecord();
    char text[512];
    for (std::int32_t n = 1; n <= table.GetNumRecords(); ++n) {
        table.GotoRecord(n, record.get());
        for (std::int32_t i = 0; i < record->GetFieldCount(); ++i) {
            try {
                record->GetField(i, text, sizeof text);
            } catch (const KsException&) {
                // Types the format does not store and filters that refuse a value.
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string table = Folder() + "/t";
    static const bool dataWritten = [] {
        std::uint8_t bytes[100];
        for (int i = 0; i < 100; ++i) {
            bytes[i] = static_cast<std::uint8_t>(i * 37);
        }
        WriteFile(table + ".cbf", bytes, sizeof bytes);
        return true;
    }();
    (void)dataWritten;
    WriteFile(table + ".kss", data, size);
    CBFFile file;
    try {
        file.Open(table.c_str(), IO_READ);
    } catch (const KsException&) {
        return 0;  // a bad header is reported as an error, which is all that is asked
    }
    try {
        ReadEverything(file);
    } catch (const KsException& error) {
        std::fprintf(stderr, "%s\n", error.GetErrorMessage());
        std::abort();  // an opened table reads all its records
    }
    KsIniFile written;
    file.WriteStructure(&written);
    CBFFile again;
    try {
        again.SetPassword(nullptr);
        written.GetSection("FileInfo")->SetString("Password", "");
        again.Open(table.c_str(), IO_READ, nullptr, &written);
    } catch (const KsException& error) {
        std::fprintf(stderr, "a written structure did not open: %s\n", error.GetErrorMessage());
        std::abort();
    }
    if (again.GetFieldCount() != file.GetFieldCount() ||
        again.GetRecordLength() != file.GetRecordLength()) {
        std::abort();
    }
    return 0;
}
