#pragma once
// Helpers of the table tests: field lists from short NAME:TYPE texts, the sample table
// that the golden files describe, hexadecimal views of bytes, the records of a set and the
// files that sorts leave behind.

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "files/CBFFile.h"
#include "index/KsSort.h"

namespace kstest {

struct FieldSpec {
    const char* name;
    char type;
    std::int16_t length = 0;
    std::uint16_t bits = 0;  // preset number of bits; 0 lets the layout choose
    std::int32_t divisor = 0;
    std::int16_t precision = 0;
};

inline KsFieldList CBFFields(std::initializer_list<FieldSpec> specs) {
    KsFieldList fields;
    for (const FieldSpec& spec : specs) {
        auto field = std::make_unique<CBFField>();
        field->SetName(spec.name);
        field->SetType(spec.type);
        field->SetLength(spec.length);
        field->SetNumberOfBits(spec.bits);
        field->SetDivisor(spec.divisor);
        field->SetAttributes(0, spec.type, spec.length, spec.precision, -1);
        fields.Add(std::move(field));
    }
    return fields;
}

// One field of every stored type: a Long and an Unsigned Long with preset bits (the other
// Long becomes a Number), a Number with two decimals, Short and Unsigned Short bit fields,
// a 16-bit field, a text and two raw bytes.
inline KsFieldList SampleFields() {
    KsFieldList fields = CBFFields({{"Id", 'I'},
                                    {"Price", 'N', 0, 0, 100, 2},
                                    {"Code", 'A', 5},
                                    {"Flag", 'U', 0, 3},
                                    {"Level", 'S', 0, 11},
                                    {"Tag", 'Y', 2, 16},
                                    {"Count", 'W', 4, 32},
                                    {"Small", 'U'}});
    CBFFile::PackFields(nullptr, fields);
    return fields;
}

// Creates the table `name` with `fields` (laid out by the caller) and opens it for
// reading and writing.
inline std::unique_ptr<CBFFile> CreateTable(const std::string& name, KsFieldList fields,
                                            KsIOFactory& factory = KsIOFactory::Default()) {
    auto table = std::make_unique<CBFFile>(factory);
    table->Create(name.c_str(), fields, 0, false);
    table->Open(name.c_str(), IO_READ | IO_WRITE);
    return table;
}

// Appends a record made of plain texts, one per field.
inline void AppendTexts(KsFile& table, const std::vector<const char*>& texts) {
    std::unique_ptr<KsFileRecord> record = table.GetNewRecord();
    for (std::size_t n = 0; n < texts.size(); ++n) {
        record->PutField(static_cast<std::int32_t>(n), texts[n], KsFileRecord::kPlain);
    }
    table.DataAppend(*record);
}

// The plain texts of record n, separated by "|".
inline std::string TextsOf(KsFile& table, std::int32_t n) {
    std::unique_ptr<KsFileRecord> record = table.GetNewRecord();
    table.GotoRecord(n, record.get());
    std::string line;
    char text[300];
    for (std::int32_t i = 0; i < record->GetFieldCount(); ++i) {
        line += (i > 0 ? "|" : "") + std::string(record->GetField(i, text, sizeof text));
    }
    return line;
}

// The records of a set, in order.
inline std::vector<std::int32_t> Members(const KsSet& set) {
    std::vector<std::int32_t> records;
    for (std::int32_t r = set.GetNextInSet(0); r != 0; r = set.GetNextInSet(r)) {
        records.push_back(r);
    }
    return records;
}

// How many files in `folder` are temporaries of sorts: run files, which start with the
// prefix, and new data files, which carry it after the table's name.
inline long SortLeftovers(const std::filesystem::path& folder) {
    return std::ranges::count_if(
        std::filesystem::directory_iterator(folder), [](const auto& entry) {
            return entry.path().filename().string().find(KsSort::kTempPrefix) != std::string::npos;
        });
}

// Upper-case hexadecimal digits of bytes, a space between every `group` bytes.
inline std::string Hex(const std::string& bytes, std::size_t group = 0) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (group > 0 && i > 0 && i % group == 0) {
            out += ' ';
        }
        auto byte = static_cast<unsigned char>(bytes[i]);
        out += kDigits[byte >> 4];
        out += kDigits[byte & 0x0F];
    }
    return out;
}

// The bytes of a record as hexadecimal.
inline std::string HexOf(const KsFileRecord& record) {
    std::string bytes(static_cast<std::size_t>(record.GetRecordLength()), '\0');
    record.Store(bytes.data());
    return Hex(bytes);
}

}  // namespace kstest
