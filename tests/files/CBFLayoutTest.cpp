// Layout of compressed binary records and the encodings of their fields.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "TableTestSupport.h"
#include "files/CBFFile.h"
#include "ini/KsIniFile.h"
#include "support/KsErrorCapture.h"
#include "support/MemoryStream.h"

namespace {

using kstest::MessageOf;

// A record over `fields` loaded with the bytes of a hexadecimal text.
struct Loaded {
    KsFieldList fields;
    KsVector<CBFBits> noBits;
    std::unique_ptr<CBFRec> record;
    Loaded(KsFieldList list, const std::string& hex) : fields(std::move(list)) {
        std::string bytes;
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
            bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
        }
        record = std::make_unique<CBFRec>(fields, static_cast<std::int16_t>(bytes.size()), noBits);
        record->Load(bytes.data());
    }
};

KsFieldList BitField(char type, std::uint16_t first, std::uint16_t bits) {
    KsFieldList fields = kstest::CBFFields({{"F", type, 2, bits}});
    static_cast<CBFField*>(fields[0])->SetStartingBit(first);
    return fields;
}

KsFieldList NumberField(std::int32_t divisor) {
    return kstest::CBFFields({{"N", 'N', 4, 32, divisor}});
}

TEST(CBFLayout, ShortFieldsFillWordsFirstFitFromTheTop) {
    KsFieldList fields = kstest::CBFFields({{"A", 'S', 0, 11}, {"B", 'U', 0, 5}, {"C", 'S', 0, 3}});
    KsVector<CBFField*> run;
    for (KsField* field : fields) {
        run.push_back(static_cast<CBFField*>(field));
    }
    EXPECT_EQ(4, CBFFile::PackShortFields(8, nullptr, run));
    std::pair<int, int> expected[] = {{8, 1}, {8, 12}, {10, 1}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(expected[i].first, run[i]->GetByteOffset()) << i;
        EXPECT_EQ(expected[i].second, run[i]->GetStartingBit()) << i;
        EXPECT_EQ(2, run[i]->GetLength());
    }
    // User bit fields take the first word with room after the fields: 3 bits after the
    // 11-bit field, 4 bits then find no room before the second word's 13 free bits.
    KsVector<CBFBits> user{CBFBits(0, 3), CBFBits(0, 4), CBFBits(0, 16)};
    KsVector<CBFField*> one{run[0]};
    EXPECT_EQ(6, CBFFile::PackShortFields(8, &user, one));
    EXPECT_EQ(64u + 11, user[0].GetBitOffset());
    EXPECT_EQ(64u + 16, user[1].GetBitOffset());
    EXPECT_EQ(64u + 32, user[2].GetBitOffset());
    EXPECT_EQ("Bit string of length 0 at offset 3 would cross a 16-bit boundary",
              MessageOf([] { CBFBits(3, 0); }));
}

TEST(CBFLayout, BitStringsReadAndReplaceOnlyTheirBits) {
    Loaded word(BitField('U', 3, 4), "A53C");
    EXPECT_EQ(9, word.record->GetUnsignedShort(0));
    word.record->PutUnsignedShort(0, 6);
    EXPECT_EQ("993C", kstest::HexOf(*word.record));

    Loaded low(BitField('S', 14, 3), "FFFF");
    low.record->PutShort(0, 5);
    EXPECT_EQ("FFFD", kstest::HexOf(*low.record));
    EXPECT_EQ(5, low.record->GetShort(0));
    EXPECT_EQ("Number out of range", MessageOf([&] { low.record->PutShort(0, 8); }));
    EXPECT_EQ("Number out of range", MessageOf([&] { low.record->PutUnsignedShort(0, 8); }));
    EXPECT_EQ("Number out of range", MessageOf([&] { low.record->PutShort(0, -1); }));
    EXPECT_EQ("FFFD", kstest::HexOf(*low.record));

    Loaded whole(BitField('S', 1, 16), "8001");  // read without sign extension
    EXPECT_EQ(0x8001, whole.record->GetUnsignedShort(0));
    EXPECT_EQ(0x8001, static_cast<std::uint16_t>(whole.record->GetShort(0)));
}

TEST(CBFLayout, NumbersAreScaledBigEndianWordsWithASignBitUnderADivisor) {
    struct Case {
        double value;
        std::int32_t divisor;
        const char* bytes;
        double readBack;
    } cases[] = {
        // The golden sample table holds 12.34, -0.5 and 0.29 in cents and the largest Long.
        {-0.5, 10, "80000005", -0.5},
        {-7, 0, "FFFFFFF9", -7},
        {-2147483647, 1, "FFFFFFFF", -2147483647},
        {-2147483648.0, 0, "80000000", -2147483648.0},
        {-0.04, 10, "00000000", 0},
    };
    for (const Case& c : cases) {
        Loaded number(NumberField(c.divisor), "00000000");
        number.record->PutNumber(0, c.value);
        EXPECT_EQ(c.bytes, kstest::HexOf(*number.record)) << c.value;
        EXPECT_DOUBLE_EQ(c.readBack, number.record->GetNumber(0)) << c.value;
    }
    Loaded number(NumberField(1), "00000000");
    for (double bad : {2147483648.0, -2147483648.0, double{NAN}, double{INFINITY}}) {
        EXPECT_EQ("Number out of range", MessageOf([&] { number.record->PutNumber(0, bad); }));
    }
    Loaded cents(NumberField(100), "00000000");
    EXPECT_EQ("Number out of range", MessageOf([&] { cents.record->PutNumber(0, 21474836.48); }));
}

// Where the sample's fields go is checked by the sample table's golden header.
TEST(CBFLayout, PackFieldsLaysOutAnyMixOfTypesWithoutOverlap) {
    // Any mix of types lays out without two fields sharing a bit.
    std::mt19937 random(7);
    const kstest::FieldSpec kinds[] = {{"n", 'N'},        {"i", 'I'},        {"a", 'A', 3},
                                       {"b", 'A', 9},     {"y", 'Y', 2, 16}, {"s", 'S', 0, 5},
                                       {"u", 'U', 0, 12}, {"w", 'W', 4, 32}, {"t", 'U'}};
    for (int round = 0; round < 200; ++round) {
        KsFieldList mix;
        int count = std::uniform_int_distribution<>(1, 40)(random);
        for (int i = 0; i < count; ++i) {
            mix.Add(std::unique_ptr<KsField>(
                kstest::CBFFields({kinds[random() % std::size(kinds)]})[0]->Clone()));
        }
        CBFFile::PackFields(nullptr, mix);
        std::vector<bool> used(8 * 4000);
        for (const KsField* field : mix) {
            const auto& f = static_cast<const CBFField&>(*field);
            bool bits = f.GetType() == 'S' || f.GetType() == 'U';
            int first = 8 * f.GetByteOffset() + (bits ? f.GetStartingBit() - 1 : 0);
            int width = bits ? f.GetNumberOfBits() : 8 * f.GetLength();
            for (int b = first; b < first + width; ++b) {
                ASSERT_FALSE(used[static_cast<std::size_t>(b)]) << "round " << round;
                used[static_cast<std::size_t>(b)] = true;
            }
        }
    }
}

TEST(CBFLayout, PackFieldsRefusesWhatItCannotStore) {
    KsFieldList none;
    EXPECT_EQ("Files must have at least one field",
              MessageOf([&] { CBFFile::PackFields(nullptr, none); }));
    KsFieldList plain = kstest::CBFFields({{"a", 'N'}});
    plain.Add(std::make_unique<KsField>());
    EXPECT_EQ("Field 1 is not a CBFField.",
              MessageOf([&] { CBFFile::PackFields(nullptr, plain); }));
    struct Case {
        kstest::FieldSpec spec;
        const char* message;
    } cases[] = {
        {{"d", 'D', 8}, "Field type 'D' is not supported by CBFFiles"},
        {{"y", 'Y', 4}, "Field type 'Y' is not supported by CBFFiles"},
        {{"s", 'S', 0, 17},
         "Field 0 (\"s\") has 17 bits; a Short or Unsigned Short field holds "
         "at most 16"},
        {{"a", 'A', 0}, "Field 0 (\"a\") has no length"},
        {{"a", 'A', 8192},
         "Field 0 (\"a\") of 8192 bytes is longer than the 8191 bytes of a text "
         "field"},
        {{"a", 'A', 8191}, "Records of more than 32767 bytes are longer than a table can hold"},
    };
    for (const Case& c : cases) {
        KsFieldList fields = kstest::CBFFields(
            {c.spec, {"b", 'A', 8191}, {"c", 'A', 8191}, {"d", 'A', 8191}, {"e", 'N'}});
        EXPECT_EQ(c.message, MessageOf([&] { CBFFile::PackFields(nullptr, fields); }));
    }
}

TEST(CBFLayout, ForeignTypeCodesReadAsTypesAndMappedFieldsWriteNoBits) {
    // Headers written elsewhere code Short as 0 or 1; the sample table shows our own codes.
    for (auto [code, type] :
         {std::pair{"0", 'S'}, {"1", 'S'}, {"2", 'U'}, {"3", 'N'}, {"I", 'I'}}) {
        KsIniSection section("F");
        section.AddLine("Type", code);
        CBFField field;
        field.Read(0, section);
        EXPECT_EQ(type, field.GetType()) << code;
    }
    // A mapped field writes none of the bit keys.
    CBFField mapped(*kstest::SampleFields()[0]);
    mapped.SetMappedFieldName("Id");
    KsIniSection section("F");
    mapped.Write(section);
    kstest::MemoryStream out;
    section.Write(out);
    EXPECT_EQ("[F]\r\nFieldName=Id\r\nMappedTo=Id\r\n\r\n", out.Bytes());
}

}  // namespace
