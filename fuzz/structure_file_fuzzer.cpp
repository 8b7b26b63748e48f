// Table headers from untrusted bytes: opening a table whose structure file is the input
// (beside a small data file) must either succeed or raise a KsException, never crash,
// leak or hang. A table that opens has its fields apart inside the record, reads every
// record and every field as text, builds the key of every field as an index or a search
// does, and the structure it writes opens again.

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "files/CBFFile.h"
#include "index/KsRecordKey.h"
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

// Whether every field that is not mapped lies inside the record and no two share a bit: a
// bit field holds bits of its 16-bit word, which no other kind of field may touch, any
// other field its bytes. Worked out bit by bit, apart from the table's own checks.
bool FieldsApart(const CBFFile& table) {
    constexpr std::int32_t kFree = -1;
    constexpr std::int32_t kWord = -2;
    std::size_t length = static_cast<std::size_t>(table.GetRecordLength());
    std::vector<std::int32_t> bytes(length, kFree);
    std::vector<bool> bits(8 * length);
    for (std::int32_t n = 0; n < table.GetFieldCount(); ++n) {
        const auto& field = static_cast<const CBFField&>(table.GetField(n));
        char type = field.GetType();
        bool bitField = type == 'S' || type == 'U';
        bool fourBytes = type == 'N' || type == '$' || type == 'I' || type == 'W';
        if (field.IsMapped()) {
            continue;
        }
        std::size_t first = field.GetByteOffset();
        std::size_t width = bitField ? 2
                            : fourBytes
                                ? 4
                                : static_cast<std::size_t>(std::max<int>(field.GetLength(), 0));
        if (width == 0 || first + width > length) {
            return false;
        }
        for (std::size_t b = first; b < first + width; ++b) {
            if (bytes[b] != kFree && !(bitField && bytes[b] == kWord)) {
                return false;
            }
            bytes[b] = bitField ? kWord : n;
        }
        if (bitField) {
            if (field.GetStartingBit() < 1 || field.GetNumberOfBits() < 1 ||
                field.GetStartingBit() - 1 + field.GetNumberOfBits() > 16) {
                return false;
            }
            std::size_t start = 8 * first + field.GetStartingBit() - 1;
            for (std::size_t b = start; b < start + field.GetNumberOfBits(); ++b) {
                if (bits[b]) {
                    return false;
                }
                bits[b] = true;
            }
        }
    }
    return true;
}

// The key of every field, through the buffers an index gives it.
void BuildKeys(const KsFileRecord& record) {
    for (std::int32_t i = 0; i < record.GetFieldCount(); ++i) {
        try {
            std::unique_ptr<KsRecordKey> key = KsRecordKey::Extract(record, i);
            std::vector<char> comparable(key->GetComparableKeyLength());
            key->GetComparableKey(comparable.data());
            key->SetComparableKey(comparable.data());
            std::vector<char> value(key->GetLength());
            key->GetValue(value.data());
            key->SetValue(static_cast<const void*>(value.data()));
        } catch (const KsException&) {
            // Types that form no key, or that the format does not store.
        }
    }
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
        BuildKeys(*record);
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
    if (!FieldsApart(file)) {
        std::fprintf(stderr, "a table opened with fields over each other\n");
        std::abort();
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
