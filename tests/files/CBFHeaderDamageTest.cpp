// Damaged table headers are refused at open with the section and key to blame; every header
// that the library lays out and writes opens again and reads back what was written.

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "TableTestSupport.h"
#include "files/CBFFile.h"
#include "files/CBFRec.h"
#include "index/KsRecordKey.h"
#include "support/KsErrorCapture.h"
#include "support/TempDir.h"

namespace {

using kstest::MessageOf;
using kstest::ReadWholeFile;
using kstest::WriteWholeFile;

// A table of every stored type as Create writes it: two Numbers, three bit fields in one
// word, an Unsigned Long, a text, raw bytes and a field mapped onto the text. Its record:
//   0-3 id   4-7 price   8-9 visits (bits 1-8), rating (9-12), level (13-15)
//   10-13 count   14-33 name (and alias)   34-36 code
std::string MakeBaseTable(const kstest::TempDir& dir) {
    std::string name = dir.File("t");
    KsFieldList fields = kstest::CBFFields({{"id", 'I'},
                                            {"price", 'N', 0, 0, 100, 2},
                                            {"name", 'A', 20},
                                            {"rating", 'U', 0, 4},
                                            {"visits", 'U', 0, 8},
                                            {"level", 'S', 0, 3},
                                            {"code", 'Y', 3, 24},
                                            {"count", 'W', 4, 32}});
    CBFFile::PackFields(nullptr, fields);
    auto alias = std::make_unique<CBFField>(*fields[2]);
    alias->SetName("alias", nullptr, "name");
    fields.Add(std::move(alias));
    CBFFile table;
    table.Create(name.c_str(), fields, 0, false);
    return name;
}

// One change to a header: `from` becomes `to` inside the section.
struct Edit {
    const char* section;
    const char* from;
    const char* to;
};

std::string Edited(std::string header, const Edit& edit) {
    std::size_t start = header.find("[" + std::string(edit.section) + "]\r\n");
    std::size_t end = header.find("\r\n[", start);
    std::size_t at = header.find(edit.from, start);
    if (start == std::string::npos || at == std::string::npos || at > end) {
        ADD_FAILURE() << edit.section << " holds no " << edit.from;
        return header;
    }
    return header.replace(at, std::strlen(edit.from), edit.to);
}

TEST(CBFHeaderDamage, EachDamageIsRefusedNamingSectionAndKeyAndItsNeighbourOpens) {
    kstest::TempDir dir;
    std::string name = MakeBaseTable(dir);
    const std::string golden = ReadWholeFile(name + ".kss");
    struct Row {
        std::vector<Edit> edits;
        const char* message;  // empty: the header opens
    } rows[] = {
        // Keys without which a field would be read with made-up values.
        {{{"Field3", "Length=20", "Lxngth=20"}}, "[Field3] Length is missing"},
        {{{"Field7", "Length=3", "Length= "}}, "[Field7] Length is missing"},
        {{{"Field1", "ByteOffset=0\r\n", ""}}, "[Field1] ByteOffset is missing"},
        {{{"Field8", "ByteOffset=10", "ByteOffset=1O"}},
         "[Field8] ByteOffset \"1O\" is not a number"},
        {{{"Field4", "StartingBit=9\r\n", ""}}, "[Field4] StartingBit is missing"},
        {{{"Field6", "NumberOfBits=3\r\n", ""}}, "[Field6] NumberOfBits is missing"},
        {{{"Field2", "Divisor=100\r\n", ""}}, "[Field2] Divisor is missing"},
        {{{"Field9", "MappedTo=name\r\n", "MappedTo=name\r\nLength=0\r\n"}}, ""},
        // Lengths a type cannot have.
        {{{"Field3", "Length=20", "Length=0"}},
         "[Field3] Length 0 does not fit \"name\": Alpha fields have 1 to 8191 bytes"},
        {{{"Field3", "Length=20", "Length=8192"}},
         "[Field3] Length 8192 does not fit \"name\": Alpha fields have 1 to 8191 bytes"},
        {{{"Field3", "Length=20\r\nByteOffset=14", "Length=8191\r\nByteOffset=37"},
          {"FileInfo", "RecordLength=37", "RecordLength=8228"}},
         ""},
        {{{"Field7", "Length=3", "Length=0"}},
         "[Field7] Length 0 does not fit \"code\": Binary fields have 1 byte or more"},
        {{{"Field2", "Length=4", "Length=6"}},
         "[Field2] Length 6 does not fit \"price\": Number fields have 4 bytes"},
        {{{"Field8", "Length=4", "Length=2"}},
         "[Field8] Length 2 does not fit \"count\": Unsigned Long fields have 4 bytes"},
        {{{"Field6", "Length=2", "Length=1"}},
         "[Field6] Length 1 does not fit \"level\": Short fields have 2 bytes"},
        // Bits of a bit field.
        {{{"Field4", "NumberOfBits=4", "NumberOfBits=0"}},
         "[Field4] NumberOfBits 0 does not fit \"rating\": Unsigned Short fields have 1 to 16 "
         "bits"},
        {{{"Field5", "NumberOfBits=8", "NumberOfBits=17"}},
         "[Field5] NumberOfBits 17 does not fit \"visits\": Unsigned Short fields have 1 to 16 "
         "bits"},
        {{{"Field4", "StartingBit=9", "StartingBit=0"}},
         "[Field4] StartingBit 0 does not fit \"rating\": bit fields start at bit 1 to 16 of "
         "their word"},
        {{{"Field6", "StartingBit=13", "StartingBit=17"}},
         "[Field6] StartingBit 17 does not fit \"level\": bit fields start at bit 1 to 16 of "
         "their word"},
        {{{"Field6", "StartingBit=13", "StartingBit=15"}},
         "[Field6] StartingBit 15 and NumberOfBits 3 put \"level\" past the end of its word "
         "(bits 15 to 17 of 16)"},
        {{{"Field6", "NumberOfBits=3", "NumberOfBits=4"}}, ""},
        {{{"Field6", "StartingBit=13", "StartingBit=14"}}, ""},
        {{{"Field4", "StartingBit=9", "StartingBit=8"}},
         "[Field4] StartingBit 8 and NumberOfBits 4 make \"rating\" share bits with \"visits\" "
         "in the word at byte 8 (bits 8 to 11 against 1 to 8)"},
        // Places in the record.
        {{{"Field7", "ByteOffset=34", "ByteOffset=35"}},
         "[Field7] ByteOffset 35 and Length 3 put \"code\" outside the record of 37 bytes "
         "(bytes 35 to 37)"},
        {{{"Field7", "Length=3", "Length=4"}},
         "[Field7] ByteOffset 34 and Length 4 put \"code\" outside the record of 37 bytes "
         "(bytes 34 to 37)"},
        {{{"FileInfo", "RecordLength=37", "RecordLength=36"}},
         "[Field7] ByteOffset 34 and Length 3 put \"code\" outside the record of 36 bytes "
         "(bytes 34 to 36)"},
        {{{"Field5", "ByteOffset=8", "ByteOffset=36"}},
         "[Field5] ByteOffset 36 and Length 2 put \"visits\" outside the record of 37 bytes "
         "(bytes 36 to 37)"},
        {{{"Field7", "ByteOffset=34", "ByteOffset=35"},
          {"FileInfo", "RecordLength=37", "RecordLength=38"}},
         ""},
        // Fields over each other's bytes.
        {{{"Field3", "ByteOffset=14", "ByteOffset=4"}},
         "[Field3] ByteOffset 4 makes \"name\" overlap \"price\" (bytes 4 to 23 against 4 to 7)"},
        {{{"Field1", "ByteOffset=0", "ByteOffset=12"}},
         "[Field1] ByteOffset 12 makes \"id\" overlap \"count\" (bytes 12 to 15 against 10 to 13)"},
        {{{"Field3", "Length=20", "Length=21"}},
         "[Field7] ByteOffset 34 makes \"code\" overlap \"name\" (bytes 34 to 36 against 14 to "
         "34)"},
        {{{"Field5", "ByteOffset=8", "ByteOffset=12"}},
         "[Field5] ByteOffset 12 makes \"visits\" overlap \"count\" (bytes 12 to 13 against 10 to "
         "13)"},
        {{{"Field6", "ByteOffset=8", "ByteOffset=9"}},
         "[Field6] ByteOffset 9 makes \"level\" overlap \"visits\" (bytes 9 to 10 against 8 to 9)"},
    };
    const std::string prefix = "Header \"" + name + ".kss\": ";
    for (const Row& row : rows) {
        std::string header = golden;
        for (const Edit& edit : row.edits) {
            header = Edited(header, edit);
        }
        WriteWholeFile(name + ".kss", header);
        CBFFile table;
        std::string change = std::string(row.edits[0].section) + ": " + row.edits[0].to;
        if (*row.message == '\0') {
            EXPECT_NO_THROW(table.Open(name.c_str(), IO_READ)) << change;
            EXPECT_EQ(9, table.GetFieldCount()) << change;
            continue;
        }
        EXPECT_EQ(prefix + row.message, MessageOf([&] { table.Open(name.c_str(), IO_READ); }))
            << change;
        EXPECT_EQ(0, table.GetFieldCount()) << change;  // a refused open leaves it closed
    }
}

// What a field of a random table was given in one record.
struct Expected {
    double number = 0;       // Number fields
    std::int64_t whole = 0;  // Long, Unsigned Long, Short, Unsigned Short
    std::string bytes;       // Alpha (the text) and Binary
};

// A random field list of every stored type, with texts and bit counts at their limits,
// laid out by PackFields; some lists get a field mapped onto one of the others.
KsFieldList RandomFields(std::mt19937& random, std::vector<std::int32_t>& targetOf) {
    auto pick = [&](std::int32_t low, std::int32_t high) {
        return std::uniform_int_distribution<std::int32_t>(low, high)(random);
    };
    auto oneOf = [&](std::initializer_list<std::int32_t> values) {
        return *(values.begin() + pick(0, static_cast<std::int32_t>(values.size()) - 1));
    };
    KsFieldList fields;
    std::int32_t count = pick(1, 12);
    std::int32_t longTexts = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        std::string name = "f" + std::to_string(i);
        auto bits = static_cast<std::uint16_t>(oneOf({0, 1, 16, pick(1, 16)}));
        auto text = static_cast<std::int16_t>(oneOf({1, 255, 256, 8191, pick(1, 40)}));
        if (text == 8191 && ++longTexts > 2) {
            text = 9;  // three would not fit a record
        }
        auto raw = static_cast<std::int16_t>(pick(1, 40));
        const kstest::FieldSpec kinds[] = {
            {name.c_str(), 'I'},
            {name.c_str(), 'N', 0, 0, oneOf({10, 100, 1000}), 2},
            {name.c_str(), 'I', 4, 32},
            {name.c_str(), 'W', 4, 32},
            {name.c_str(), 'S', 0, bits},
            {name.c_str(), 'U', 0, bits},
            {name.c_str(), 'A', text},
            {name.c_str(), 'Y', raw, static_cast<std::uint16_t>(8 * raw)}};
        const kstest::FieldSpec& spec = kinds[pick(0, std::size(kinds) - 1)];
        fields.Add(std::unique_ptr<KsField>(kstest::CBFFields({spec})[0]->Clone()));
        targetOf.push_back(i);
    }
    CBFFile::PackFields(nullptr, fields);
    if (pick(0, 2) == 0) {
        std::int32_t target = pick(0, count - 1);
        auto alias = std::make_unique<CBFField>(static_cast<const CBFField&>(*fields[target]));
        alias->SetName("alias", nullptr, fields[target]->GetName());
        fields.Add(std::move(alias));
        targetOf.push_back(target);
    }
    return fields;
}

Expected PutRandom(KsFileRecord& record, std::int32_t n, std::mt19937& random) {
    const auto& field = static_cast<const CBFField&>(*record.GetFields()[n]);
    auto pick = [&](std::int64_t low, std::int64_t high) {
        return std::uniform_int_distribution<std::int64_t>(low, high)(random);
    };
    Expected value;
    std::uint32_t bits = field.GetNumberOfBits();
    switch (field.GetType()) {
        case 'N': {
            std::int32_t divisor = field.GetDivisor();
            value.number = static_cast<double>(pick(-0x7FFFFFFF, 0x7FFFFFFF)) / divisor;
            record.PutNumber(n, value.number);
            break;
        }
        case 'I':
            value.whole = pick(INT32_MIN, INT32_MAX);
            record.PutLong(n, static_cast<std::int32_t>(value.whole));
            break;
        case 'W':
            value.whole = pick(0, UINT32_MAX);
            record.PutUnsignedLong(n, static_cast<std::uint32_t>(value.whole));
            break;
        case 'S':
            value.whole = pick(0, std::min<std::int64_t>((1 << bits) - 1, INT16_MAX));
            record.PutShort(n, static_cast<std::int16_t>(value.whole));
            break;
        case 'U':
            value.whole = pick(0, (1 << bits) - 1);
            record.PutUnsignedShort(n, static_cast<std::uint16_t>(value.whole));
            break;
        case 'A':
            for (auto used = pick(0, field.GetLength()); used > 0; --used) {
                value.bytes += static_cast<char>(pick('a', 'z'));
            }
            record.PutAlpha(n, value.bytes.c_str());
            break;
        default:
            for (std::int16_t i = 0; i < field.GetLength(); ++i) {
                value.bytes += static_cast<char>(pick(0, 255));
            }
            record.PutBinary(n, value.bytes.data(), static_cast<std::uint32_t>(value.bytes.size()));
    }
    return value;
}

void ExpectHolds(const KsFileRecord& record, std::int32_t n, const Expected& value) {
    const KsField& field = *record.GetFields()[n];
    std::string bytes(static_cast<std::size_t>(field.GetLength()) + 1, '\0');
    switch (field.GetType()) {
        case 'N':
            EXPECT_DOUBLE_EQ(value.number, record.GetNumber(n)) << field.GetName();
            break;
        case 'I':
            EXPECT_EQ(value.whole, record.GetLong(n)) << field.GetName();
            break;
        case 'W':
            EXPECT_EQ(value.whole, record.GetUnsignedLong(n)) << field.GetName();
            break;
        case 'S':
            EXPECT_EQ(value.whole, record.GetShort(n)) << field.GetName();
            break;
        case 'U':
            EXPECT_EQ(value.whole, record.GetUnsignedShort(n)) << field.GetName();
            break;
        case 'A':
            EXPECT_EQ(value.bytes, record.GetAlpha(n, bytes.data(),
                                                   static_cast<std::uint32_t>(bytes.size()), false))
                << field.GetName();
            break;
        default:
            bytes.pop_back();
            record.GetBinary(n, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
            EXPECT_EQ(kstest::Hex(value.bytes), kstest::Hex(bytes)) << field.GetName();
    }
}

// Every header that Create writes for a list that PackFields laid out opens again, and
// every field reads back what was written under the first open.
TEST(CBFHeaderDamage, EveryLaidOutHeaderOpensAndReadsBackItsRecords) {
    kstest::TempDir dir;
    std::mt19937 random(2024);
    for (int round = 0; round < 150; ++round) {
        std::vector<std::int32_t> targetOf;
        KsFieldList fields = RandomFields(random, targetOf);
        std::string name = dir.File("p" + std::to_string(round));
        std::vector<std::vector<Expected>> model;
        {
            std::unique_ptr<CBFFile> table = kstest::CreateTable(name, std::move(fields));
            std::unique_ptr<KsFileRecord> record = table->GetNewRecord();
            for (int r = 0; r < 3; ++r) {
                model.emplace_back();
                for (std::int32_t n = 0; n < record->GetFieldCount(); ++n) {
                    // A mapped field shares its target's bytes: it is not given a value.
                    model.back().push_back(targetOf[n] == n ? PutRandom(*record, n, random)
                                                            : Expected());
                }
                table->DataAppend(*record);
            }
        }
        CBFFile table;
        ASSERT_NO_THROW(table.Open(name.c_str(), IO_READ)) << "round " << round << "\n"
                                                           << ReadWholeFile(name + ".kss");
        ASSERT_EQ(static_cast<std::int32_t>(targetOf.size()), table.GetFieldCount());
        std::unique_ptr<KsFileRecord> record = table.GetNewRecord();
        for (int r = 0; r < 3; ++r) {
            table.GotoRecord(r + 1, record.get());
            for (std::int32_t n = 0; n < record->GetFieldCount(); ++n) {
                SCOPED_TRACE("round " + std::to_string(round) + ", record " + std::to_string(r));
                ExpectHolds(*record, n, model[static_cast<std::size_t>(r)][targetOf[n]]);
            }
        }
    }
}

// Keys of no bytes are no longer built from headers, but the key classes take the empty
// buffers such a key is given without touching them.
TEST(CBFHeaderDamage, KeysOfNoBytesCopyNothingThroughEmptyBuffers) {
    KsRecordKeyAlpha text(0);
    text.SetText(nullptr);
    text.SetValue(static_cast<const void*>(nullptr));
    text.SetComparableKey(nullptr);
    text.GetComparableKey(nullptr);
    EXPECT_STREQ("", text.GetText());
    KsFieldList fields = kstest::CBFFields({{"y", 'Y', 0, 8}});
    KsVector<CBFBits> noBits;
    CBFRec record(fields, 0, noBits);
    KsRecordKeyBinary bytes(0);
    bytes.SetValue(record, 0);
    bytes.GetComparableKey(nullptr);
    EXPECT_EQ(0u, bytes.GetLength());
}

}  // namespace
