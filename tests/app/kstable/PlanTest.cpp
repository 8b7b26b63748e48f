// The import and export plans against the generic record text path they stand in for, on
// random tables of every field type (some with a header changed by hand: a Currency field,
// a Number without a divisor or with other decimals, a field read through its format
// option, a long Binary field) and random values around every boundary: ranges, decimals,
// text lengths, quoting. Import: the same bytes or the same message for every record.
// Export: the same text for every record, random stored bytes included.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "Commands.h"
#include "Csv.h"
#include "CsvModel.h"
#include "CsvRecord.h"
#include "ExportPlan.h"
#include "GenericExport.h"
#include "ImportPlan.h"
#include "Table.h"
#include "core/KsByteOrder.h"
#include "support/MemoryStream.h"
#include "support/TempDir.h"

namespace {

using kstest::ReadWholeFile;
using kstest::WriteWholeFile;

std::string RandomSpec(std::mt19937& random, int n) {
    static const int kLengths[] = {1, 2, 3, 10, 254, 255};
    static const int kDivisors[] = {1, 2, 4, 5, 8, 10, 25, 100, 125, 1000, 1000000, 1000000000};
    const std::string name = "f" + std::to_string(n) + ":";
    const int length = random() % 2 ? kLengths[random() % 6] : 1 + static_cast<int>(random() % 255);
    const std::string bits = std::to_string(random() % 3 ? 1 + random() % 16 : 16);
    const std::string number = random() % 4 ? "N/" + std::to_string(kDivisors[random() % 12]) : "N";
    const std::string a = "A" + std::to_string(length), y = "Y" + std::to_string(1 + random() % 8);
    const std::string kinds[] = {a, y, number, number, "I", "W", "S" + bits, "U" + bits};
    return name + kinds[random() % 8];
}

// Sets key=value in [FieldN] of a header's text (N from 1; lines end in CR LF).
void SetKey(std::string& header, std::int32_t n, const std::string& key, const std::string& value) {
    const std::size_t section = header.find("[Field" + std::to_string(n + 1) + "]\r\n");
    const std::size_t end = std::min(header.find("\r\n\r\n", section), header.size());
    const std::size_t at = header.find("\n" + key + "=", section);
    if (at < end) {
        header.erase(at + 1, header.find('\n', at + 1) - at);
    }
    header.insert(header.find('\n', section) + 1, key + "=" + value + "\r\n");
}

// Changes made by hand to some fields: kinds of fields that `create` does not make.
void EditHeader(std::string& header, std::mt19937& random, const std::string& types) {
    for (std::size_t i = 0; i < types.size(); ++i) {
        const auto n = static_cast<std::int32_t>(i);
        const auto change = random() % 6;
        if (change == 0) {
            SetKey(header, n, "FormatOption", "1");  // no format: shown plainly
        } else if (types[i] == 'N') {
            // Nine or ten decimals show more than a double keeps exactly.
            const std::string precision = std::to_string(random() % 2 ? 9 : random() % 11);
            const std::string edits[][2] = {
                {"Type", "$"}, {"Divisor", "0"}, {"Precision", precision}};
            const std::string* edit = edits[std::min<std::size_t>(change, 3) - 1];
            SetKey(header, n, edit[0], edit[1]);
        }
    }
}

struct Table {
    kstest::TempDir dir;
    CBFFile file;
};

// Creates the table as `create` makes it, changes its header with `edit` and opens it.
template <class Edit>
void OpenTable(Table& table, const std::vector<std::string>& specs, Edit edit) {
    CommandLine line;
    line.table = table.dir.File("t");
    std::string types;
    for (const std::string& spec : specs) {
        line.fields.push_back(ParseFieldSpec(spec));
        types += line.fields.back().type;
    }
    testing::internal::CaptureStdout();
    CreateTable(line);
    testing::internal::GetCapturedStdout();
    std::string header = ReadWholeFile(line.table + ".kss");
    edit(header, types);
    WriteWholeFile(line.table + ".kss", header);
    table.file.Open((line.table + ".cbf").c_str(), IO_READ | IO_WRITE);
}

// A random table, some of whose fields are changed by hand when `edited`.
void OpenRandomTable(Table& table, std::mt19937& random, bool edited) {
    std::vector<std::string> specs(1 + random() % 8);
    for (std::size_t n = 0; n < specs.size(); ++n) {
        specs[n] = RandomSpec(random, static_cast<int>(n));
    }
    OpenTable(table, specs, [&](std::string& header, const std::string& types) {
        if (edited) {
            EditHeader(header, random, types);
        }
    });
}

// Up to `length` pieces drawn from the first `choices` of `pieces`.
std::string Pieces(std::mt19937& random, std::size_t length, const std::string_view* pieces,
                   std::size_t choices) {
    std::string text;
    while (text.size() < length) {
        text += pieces[random() % choices];
    }
    return text;
}

constexpr std::string_view kDigits[] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "A", "B",
                                        "C", "D", "E", "F", "a", "b", "c", "d", "e", "f", "G"};
constexpr std::string_view kTextPieces[] = {"a",    "Z",  " ",    "\t",       ",", "\"",
                                            "\r\n", "\n", "\x01", "\xC3\xA9", "0", "9"};

// k / divisor exactly, with as many decimals as the divisor needs.
std::string ScaledText(std::int64_t k, std::int64_t divisor) {
    std::int64_t power = 1;
    std::size_t decimals = 0;
    for (; power % divisor != 0; power *= 10) {
        ++decimals;
    }
    std::string text = std::to_string((k < 0 ? -k : k) * (power / divisor));
    if (decimals > 0) {
        text.insert(0, std::max<std::size_t>(text.size(), decimals + 1) - text.size(), '0');
        text.insert(text.size() - decimals, ".");
    }
    return (k < 0 ? "-" : "") + text;
}

std::string NumberValue(const CBFField& field, std::mt19937& random) {
    const std::int64_t limit = INT32_MAX, some = random() % 100, any = random() % (limit + 1);
    const std::int64_t ks[] = {0,         1,    limit, limit - 1, limit - 1024, limit - 1025,
                               limit + 1, some, any};
    const std::int64_t k = ks[random() % 9] * (random() % 2 ? -1 : 1);
    std::string text = ScaledText(k, std::max(1, field.GetDivisor()));
    switch (random() % 8) {
        case 0:  // more decimals, zeros or not
            return text + (text.find('.') == std::string::npos ? "." : "") +
                   (random() % 2 ? "0" : Pieces(random, 1 + random() % 3, kDigits, 10));
        case 1:  // leading zeros
            return (k < 0 ? "-" : "") + std::string(random() % 22, '0') + text.substr(k < 0);
        case 2:  // decimals dropped
            return text.substr(0, text.find('.'));
        default:
            return text;
    }
}

std::string IntegerValue(const CBFField& field, std::mt19937& random) {  // I, W, S or U
    const char type = field.GetType();
    const std::int64_t low = type == 'I' ? INT32_MIN : 0;
    const std::int64_t high = type == 'I'   ? INT32_MAX
                              : type == 'W' ? UINT32_MAX
                                            : (std::int64_t{1} << field.GetNumberOfBits()) - 1;
    const std::int64_t any = low + static_cast<std::int64_t>(random() % (high - low + 1));
    const std::int64_t values[] = {low,   high, low - 1, high + 1, 0,   32767, 32768, 65535,
                                   65536, -1,   10,      99,       100, 9,     any};
    const std::int64_t value = values[random() % 15];
    const std::string zeros(random() % 4 == 0 ? random() % 8 : 0, '0');
    return (value < 0 ? "-" : "") + zeros + std::to_string(value < 0 ? -value : value);
}

std::string RandomValue(const CBFField& field, std::mt19937& random) {
    static const char* const kOdd[] = {"",   "x",  "-",    "+1", " 1", "1 ",  "1e2",   "0x1F", ".5",
                                       "5.", "-0", "-0.0", "+0", "00", "inf", "1.2.3", "--1"};
    if (random() % 8 == 0) {
        return kOdd[random() % 17];
    }
    const auto length = static_cast<std::size_t>(field.GetLength());
    switch (field.GetType()) {
        case 'A':
            return Pieces(random, random() % (length + 2), kTextPieces, std::size(kTextPieces));
        case 'Y':  // hexadecimal digits, and now and then one that is not
            return Pieces(random, random() % (2 * length + 3), kDigits, random() % 16 ? 22 : 23);
        case 'N':
        case '$':
            return NumberValue(field, random);
        default:
            return IntegerValue(field, random);
    }
}

// The bytes of the record, or the message that refused it.
template <class Body>
std::string Outcome(Body body) {
    try {
        return body();
    } catch (const KsException& error) {
        return "error: " + std::string(error.GetErrorMessage());
    }
}

// The records refused and stored over all tables: both must have happened for the
// comparison to mean anything.
struct Coverage {
    std::size_t refused = 0, stored = 0;
};

void CompareImports(CBFFile& table, std::mt19937& random, Coverage& coverage,
                    std::vector<std::string>& stored) {
    ImportPlan plan(table);
    CsvRecordFiller filler(table);
    std::unique_ptr<KsFileRecord> record = table.GetNewRecord();
    for (int r = 0; r < 150; ++r) {
        std::vector<std::string> values;
        for (std::int32_t n = 0; n < table.GetFieldCount(); ++n) {
            values.push_back(RandomValue(static_cast<const CBFField&>(table.GetField(n)), random));
        }
        if (random() % 40 == 0) {
            values.resize(values.size() + (random() % 2 ? 1 : -1));
        }
        const std::string line = kstest::WriteCsv({values}, 1 << 16);
        kstest::MemoryStream input(line);
        CsvReader reader(input);
        ASSERT_TRUE(reader.Next());
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
        ASSERT_EQ(planned, generic) << line;
        const bool refused = generic.rfind("error: ", 0) == 0;
        ++(refused ? coverage.refused : coverage.stored);
        stored.insert(stored.end(), refused ? 0 : 1, generic);
    }
}

// Words at the ends of their ranges, and the sign and magnitude forms of zero, into some
// of the numeric fields of a stored record.
void PlantEdgeWords(const CBFFile& table, std::mt19937& random, std::string& bytes) {
    static const std::uint32_t kWords[] = {0x80000000u, 0x7FFFFFFFu, 0xFFFFFFFFu, 0x80000001u, 0};
    static const std::uint16_t kHalves[] = {0x8000u, 0x7FFFu, 0xFFFFu, 0};
    for (std::int32_t n = 0; n < table.GetFieldCount(); ++n) {
        const KsField& field = table.GetField(n);
        char* at = bytes.data() + field.GetByteOffset();
        const char type = field.GetType();
        if (random() % 2 == 1 && type != 'A' && type != 'Y') {
            type == 'S' || type == 'U' ? KsByteOrder::StoreBig(at, kHalves[random() % 4])
                                       : KsByteOrder::StoreBig(at, kWords[random() % 5]);
        }
    }
}

void CompareExports(CBFFile& table, std::mt19937& random, std::vector<std::string> stored) {
    std::vector<std::int32_t> fields;
    for (std::int32_t n = 0; n < table.GetFieldCount() + 2; ++n) {
        fields.push_back(
            static_cast<std::int32_t>(random() % static_cast<unsigned>(table.GetFieldCount())));
    }
    ExportPlan plan(table, fields);
    std::unique_ptr<KsFileRecord> record = table.GetNewRecord();
    for (int r = 0; r < 150; ++r) {
        std::string bytes(plan.RecordLength(), '\0');
        std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<char>(random()); });
        PlantEdgeWords(table, random, bytes);
        stored.push_back(bytes);
    }
    std::string text(plan.MaxRecordBytes(), '\0');
    for (const std::string& bytes : stored) {
        record->Load(bytes.data());
        const auto* at = reinterpret_cast<const unsigned char*>(bytes.data());
        const std::size_t length =
            static_cast<std::size_t>(plan.Put(at, text.data()) - text.data());
        ASSERT_LE(length, plan.MaxRecordBytes());
        ASSERT_EQ(text.substr(0, length), kstest::GenericExportText(*record, fields));
    }
}

// Every field a plan has a converter for is converted by it, up to the last byte of the
// record (the Binary field's); the rest are left to the generic path: a field shown through a
// format, a Number without a divisor, and for the export a Number whose decimals do not show its
// values exactly, or only through a scale too large.
TEST(Plans, ConvertEveryFieldTheyCanAndLeaveTheRestToTheGenericPath) {
    Table table;
    OpenTable(table,
              {"s:S16", "u:U16", "i:I", "w:W", "formatted:A2", "a:A3", "y:Y2", "m:N/100",
               "eighths:N/8", "whole:N", "fifths:N/5"},
              [](std::string& header, const std::string&) {
                  SetKey(header, 4, "FormatOption", "1");
                  SetKey(header, 8, "Precision", "2");
                  SetKey(header, 9, "Divisor", "0");
                  SetKey(header, 10, "Precision", "9");
              });
    EXPECT_EQ(ImportPlan(table.file).PlannedFields(), 9u);
    EXPECT_EQ(ExportPlan(table.file, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}).PlannedFields(), 7u);
}

TEST(Plans, MatchTheGenericPathOnRandomTablesAndValues) {
    std::mt19937 random(4711);
    Coverage coverage;
    for (int round = 0; round < 60; ++round) {
        Table table;
        OpenRandomTable(table, random, round % 2 == 1);
        std::vector<std::string> stored;
        ASSERT_NO_FATAL_FAILURE(CompareImports(table.file, random, coverage, stored));
        ASSERT_NO_FATAL_FAILURE(CompareExports(table.file, random, stored));
    }
    EXPECT_GT(coverage.refused, 2000u);
    EXPECT_GT(coverage.stored, 800u);
}

}  // namespace
