// Records: text conversion, copies between records, the serial form and the scrambler,
// through the compressed binary record.

#include "files/KsFileRecord.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "TableTestSupport.h"
#include "files/CBFRec.h"
#include "io/KsBlob.h"
#include "support/KsErrorCapture.h"
#include "support/MemoryStream.h"
#include "values/KsFormat.h"
#include "values/KsNumberFilter.h"
#include "values/KsStringFilter.h"
#include "values/KsTimestampFilter.h"

namespace {

using kstest::MessageOf;

// A record of the sample layout.
struct SampleRecord {
    KsFieldList fields = kstest::SampleFields();
    KsVector<CBFBits> noBits;
    CBFRec record{fields, 23, noBits};

    std::string Text(std::int32_t n, bool formatted = true) {
        char text[64];
        return record.GetField(n, text, sizeof text, formatted);
    }
};

TEST(KsFileRecord, PlainTextsConvertBothWaysWithinEachFieldsRange) {
    SampleRecord sample;
    struct Case {
        std::int32_t field;
        const char* in;
        const char* out;  // null: the conversion fails with `error`
        const char* error = nullptr;
    } cases[] = {
        {0, "42", "42"},
        {0, " -7", "-7"},
        {0, "", "0"},  // empty text stores the blank, zero
        {0, "abc", nullptr, "\"abc\" is not a valid double"},
        {0, "2147483648", nullptr, "Number out of range"},
        {1, "12.345", "12.34"},
        {1, "-0.5", "-0.50"},
        {1, "1e300", nullptr, "Number out of range"},
        {2, "  hi ", "hi"},
        {2, "HELLOWORLD", "HELLO"},
        {2, "", ""},
        {3, "7", "7"},
        {3, "8", nullptr, "Number out of range"},
        {3, "-1", nullptr, "\"-1\" is not a valid unsigned short"},
        {4, "2047", "2047"},
        {4, "-3", nullptr, "Number out of range"},
        {4, "40000", nullptr, "\"40000\" does not fit in a short"},
        {5, "beef", "BEEF"},
        {5, "01", "0100"},
        {5, "BEE", nullptr, "\"BEE\" is not hexadecimal text of whole bytes"},
        {5, "XY", nullptr, "\"XY\" is not hexadecimal text of whole bytes"},
        {6, "4294967295", "4294967295"},
        {7, "65535", "65535"},
        {7, "32768", "32768"},
        {7, "0", "0"},
    };
    for (const Case& c : cases) {
        if (c.out != nullptr) {
            sample.record.PutField(c.field, c.in);
            EXPECT_EQ(c.out, sample.Text(c.field)) << c.field << " " << c.in;
        } else {
            std::string before = kstest::HexOf(sample.record);
            EXPECT_EQ(c.error, MessageOf([&] { sample.record.PutField(c.field, c.in); })) << c.in;
            EXPECT_EQ(before, kstest::HexOf(sample.record)) << c.in;
        }
    }
    // Compressed binary records have no blanks: the least Long shows as itself.
    KsFieldList longs = kstest::CBFFields({{"L", 'I', 4, 32}});
    CBFRec record(longs, 4, sample.noBits);
    record.PutField(0, "-2147483648");
    EXPECT_EQ("80000000", kstest::HexOf(record));
    char text[16];
    EXPECT_STREQ("-2147483648", record.GetField(0, text, sizeof text));
    EXPECT_EQ("The field index (value=8) is not in range [0, 7].",
              MessageOf([&] { sample.Text(8); }));
    char small[4];
    sample.record.PutField(6, "4000000000");
    EXPECT_STREQ("400", sample.record.GetField(6, small, sizeof small));  // cut to the buffer
}

TEST(KsFileRecord, FormatsAndFiltersShowAndReadTheirOwnTexts) {
    SampleRecord sample;
    KsFormat sizes("Sizes", 'U');
    sizes.AddLine("1", "Small");
    sizes.AddLine("2-3", "Large");
    sample.fields[3]->SetFormat(sizes);
    sample.record.PutField(3, "Large");
    EXPECT_EQ(2, sample.record.GetUnsignedShort(3));
    EXPECT_EQ("Large", sample.Text(3));
    EXPECT_EQ("2", sample.Text(3, false));
    sample.record.PutField(3, "5");  // not a label: the value itself
    EXPECT_EQ("5", sample.Text(3));  // no label: the plain text

    auto money = std::make_unique<KsNumberFilter>();
    money->SetRoundingVars(0, 2);
    money->SetThousandSeparator(true);
    sample.fields[1]->SetFormat(KsField::kFiltered, nullptr, std::move(money));
    sample.record.PutField(1, "-1234.5");
    EXPECT_EQ(-1234.5, sample.record.GetNumber(1));
    EXPECT_EQ("-1,234.50", sample.Text(1));

    sample.fields[2]->SetFormat(KsField::kFiltered, nullptr,
                                std::make_unique<KsStringFilter>("##-##"));
    sample.record.PutField(2, "12-34");
    EXPECT_EQ("1234", sample.Text(2, false));
    EXPECT_EQ("12-34", sample.Text(2));

    // The filter's kind must match what the field can hand it.
    sample.fields[4]->SetFormat(KsField::kFiltered, nullptr,
                                std::make_unique<KsTimestampFilter>("%y", KsFilter::kDateFilter));
    EXPECT_EQ("Unknown field type for timestamp filter", MessageOf([&] { sample.Text(4); }));
    EXPECT_EQ("No filter for UnfilterField request",
              MessageOf([&] { sample.record.PutField(5, "00", KsFileRecord::kFiltered); }));
}

TEST(KsFileRecord, UnsupportedTypesAndFieldsOutsideTheRecordAreRefused) {
    SampleRecord sample;
    KsDate date;
    EXPECT_EQ("CBFFiles do not support DATE fields",
              MessageOf([&] { sample.record.GetDate(0, date); }));
    EXPECT_EQ("CBFFiles do not support BOOLEAN fields",
              MessageOf([&] { sample.record.PutBoolean(0, true); }));
    EXPECT_EQ("Invalid field type", MessageOf([&] { sample.record.GetNumber(2); }));
    EXPECT_EQ("Invalid (null) parameter", MessageOf([&] { sample.record.PutAlpha(2, nullptr); }));
    char four[4];
    EXPECT_EQ("Buffer too small", MessageOf([&] { sample.record.GetAlpha(2, four, 4, false); }));

    KsFieldList fields = kstest::CBFFields({{"X", 'N', 4, 32}});
    fields[0]->SetByteOffset(2);
    KsVector<CBFBits> noBits;
    CBFRec outside(fields, 4, noBits);
    EXPECT_EQ("Field 0 (\"X\") lies outside the record of 4 bytes",
              MessageOf([&] { outside.PutNumber(0, 1); }));
    KsFieldList plain;
    plain.Add(std::make_unique<KsField>());
    EXPECT_EQ("Field 0 is not a CBFField.", MessageOf([&] { CBFRec(plain, 4, noBits); }));
}

TEST(KsFileRecord, FieldValuesAndCopiesKeepEveryValue) {
    SampleRecord from;
    const char* texts[] = {"-9", "3.25", "XY", "6", "99", "ABCD", "123456", "4321"};
    from.record.PutAllFields(texts, 0, 0);
    SampleRecord to;
    to.record.LoadFieldsFrom(from.record);
    EXPECT_EQ(kstest::HexOf(from.record), kstest::HexOf(to.record));

    KsFieldValue value;
    from.record.RetrieveFieldValue(1, value);
    EXPECT_EQ('N', value.GetType());
    EXPECT_EQ(3.25, value.GetNumber());
    value.SetType('I');
    EXPECT_EQ("Cannot put a field value of type KS_LONG_FLD into a field of type KS_NUMBER_FLD.",
              MessageOf([&] { to.record.PutFieldValue(1, value); }));
    from.record.RetrieveFieldValue(5, value);
    to.record.PutFieldValue(5, value);
    EXPECT_EQ("ABCD", to.Text(5));

    char buffers[8][32];
    char* out[8];
    for (int i = 0; i < 8; ++i) {
        out[i] = buffers[i];
    }
    to.record.GetAllFields(out, 3, 5, 32);
    EXPECT_STREQ("123456", out[6]);
    EXPECT_EQ("Attempt to GetFields past end of record",
              MessageOf([&] { to.record.GetAllFields(out, 4, 5, 32); }));
    EXPECT_EQ("Attempt to PutFields past end of record",
              MessageOf([&] { to.record.PutAllFields(texts, 9, 0); }));

    KsFieldList other = kstest::CBFFields({{"A", 'A', 4}});
    CBFFile::PackFields(nullptr, other);
    KsVector<CBFBits> noBits;
    CBFRec text(other, 4, noBits);
    EXPECT_EQ("Field 0 has type 'A' locally, but passed in record has type 'N' for this field",
              MessageOf([&] { text.LoadFieldsFrom(from.record); }));

    KsString dump;
    dump << from.record;
    EXPECT_STREQ("-9,3.25,XY,6,99,{BINARY},123456,4321,", dump.GetCString());
}

// A record class that may keep values outside its bytes.
class ExtraRecord : public CBFRec {
public:
    using CBFRec::CBFRec;
};

// Equal bytes are the same content only between plain records of one field list.
TEST(KsFileRecord, SameContentNeedsEqualBytesOfOneFieldListInPlainRecords) {
    SampleRecord one, other;
    CBFRec twin(one.fields, 23, one.noBits);
    ExtraRecord derived(one.fields, 23, one.noBits);
    for (CBFRec* record : {&one.record, &other.record, &twin, static_cast<CBFRec*>(&derived)}) {
        record->PutField(2, "BOB", KsFileRecord::kPlain);
    }
    EXPECT_TRUE(one.record.HasSameContentAs(twin));
    EXPECT_EQ(kstest::HexOf(one.record), kstest::HexOf(other.record));
    EXPECT_FALSE(one.record.HasSameContentAs(other.record));
    EXPECT_FALSE(one.record.HasSameContentAs(derived));
    EXPECT_FALSE(derived.HasSameContentAs(one.record));
    twin.PutField(2, "BOC", KsFileRecord::kPlain);
    EXPECT_FALSE(one.record.HasSameContentAs(twin));
}

TEST(KsFileRecord, SerialFormIsABlankVectorThenEachValue) {
    KsFieldList fields = kstest::CBFFields({{"N", 'N'}, {"A", 'A', 4}, {"W", 'W', 4, 32}});
    CBFFile::PackFields(nullptr, fields);
    KsVector<CBFBits> noBits;
    CBFRec record(fields, 12, noBits);
    record.PutNumber(0, 2);
    record.PutAlpha(1, "ab");
    record.PutUnsignedLong(2, 0x01020304);
    kstest::MemoryStream out;
    record.RawSerialWrite(out);
    // No field is blank; the double 2; "ab" and its NUL within the width; the value.
    EXPECT_EQ(
        "00"
        "0000000000000040"
        "616200"
        "04030201",
        kstest::Hex(out.Bytes()));
    CBFRec back(fields, 12, noBits);
    back.RawSerialRead(out);
    EXPECT_EQ(kstest::HexOf(back), kstest::HexOf(record));
}

// A record that keeps one value and a blank mark per field, for the conversions of the
// types that compressed binary records do not store.
class MemoryRecord : public KsFileRecord {
public:
    explicit MemoryRecord(const KsFieldList& fields)
        : KsFileRecord(fields), values_(fields.size()), blank_(fields.size(), true) {}
    MemoryRecord* Clone() const override { return new MemoryRecord(*this); }
    void Clear() override { blank_.assign(blank_.size(), true); }
    bool IsBlank(std::int32_t n) const override { return blank_[At(n)]; }
    const char* GetAlpha(std::int32_t n, char* buffer, std::uint32_t size, bool) const override {
        std::snprintf(buffer, size, "%s", values_[At(n)].GetAlpha());
        return buffer;
    }
    void GetBinary(std::int32_t n, void* buffer, std::uint32_t) const override {
        std::memcpy(buffer, values_[At(n)].GetBinary().data(), values_[At(n)].GetBinary().size());
    }
    bool GetBoolean(std::int32_t n) const override { return values_[At(n)].GetBoolean(); }
    void GetDate(std::int32_t n, KsDate& d) const override { d = KsDate(Stamp(n)); }
    void GetTime(std::int32_t n, KsTime& t) const override { t = KsTime(Stamp(n)); }
    void GetTimestamp(std::int32_t n, KsTimestamp& t) const override { t = Stamp(n); }
    std::int32_t GetLong(std::int32_t n) const override { return values_[At(n)].GetLong(); }
    double GetNumber(std::int32_t n) const override { return values_[At(n)].GetNumber(); }
    std::int16_t GetShort(std::int32_t n) const override { return values_[At(n)].GetShort(); }
    std::uint32_t GetUnsignedLong(std::int32_t n) const override {
        return values_[At(n)].GetUnsignedLong();
    }
    std::uint16_t GetUnsignedShort(std::int32_t n) const override {
        return values_[At(n)].GetUnsignedShort();
    }
    void PutAlpha(std::int32_t n, const char* t) override { Set(n).SetAlpha(t); }
    void PutBinary(std::int32_t n, const void* b, std::uint32_t c) override {
        Set(n).SetBinary(b, c);
    }
    void PutBlank(std::int32_t n) override { blank_[At(n)] = true; }
    void PutBoolean(std::int32_t n, bool v) override { Set(n).SetBoolean(v); }
    void PutDate(std::int32_t n, const KsDate& d) override {
        Set(n).SetTimestamp(d.GetTimestamp());
    }
    void PutTime(std::int32_t n, const KsTime& t) override {
        Set(n).SetTimestamp(t.GetTimestamp());
    }
    void PutTimestamp(std::int32_t n, const KsTimestamp& t) override { Set(n).SetTimestamp(t); }
    void PutLong(std::int32_t n, std::int32_t v) override { Set(n).SetLong(v); }
    void PutNumber(std::int32_t n, double v) override { Set(n).SetNumber(v); }
    void PutShort(std::int32_t n, std::int16_t v) override { Set(n).SetShort(v); }
    void PutUnsignedLong(std::int32_t n, std::uint32_t v) override { Set(n).SetUnsignedLong(v); }
    void PutUnsignedShort(std::int32_t n, std::uint16_t v) override { Set(n).SetUnsignedShort(v); }
    void GetBLOB(std::int32_t n, KsBlob& blob) const override {
        const std::string& bytes = values_[At(n)].GetBinary();
        blob.SetBlob(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    }
    void PutBLOB(std::int32_t n, const KsBlob& blob) override {
        Set(n).SetBinary(blob.GetData(), blob.GetSize());
    }
    std::int32_t GetBLOBIndex(std::int32_t) const override { return 0; }
    std::int32_t GetRecordLength() const override { return 0; }
    void Load(const void*) override {}
    void Store(void*) const override {}
    void ReadRecord(KsInputStreamInterface&) override {}
    void WriteRecord(KsOutputStreamInterface&) const override {}

private:
    std::size_t At(std::int32_t n) const {
        CheckFieldIndexRange(n);
        return static_cast<std::size_t>(n);
    }
    KsFieldValue& Set(std::int32_t n) {
        blank_[At(n)] = false;
        return values_[At(n)];
    }
    KsTimestamp Stamp(std::int32_t n) const { return values_[At(n)].GetTimestamp(); }
    std::vector<KsFieldValue> values_;
    std::vector<bool> blank_;
};

TEST(KsFileRecord, DatesTimesTruthAndBlanksConvertThroughTheRecordInterface) {
    KsFieldList fields = kstest::CBFFields({{"D", 'D', 8},
                                            {"T", 'T', 9},
                                            {"S", '@', 17},
                                            {"L", 'L', 1},
                                            {"I", 'I', 4},
                                            {"N", 'N', 4}});
    MemoryRecord record(fields);
    char text[64];
    auto shown = [&](std::int32_t n) { return std::string(record.GetField(n, text, 64)); };
    EXPECT_TRUE(record.GetAllFieldsBlank());
    for (std::int32_t n = 0; n < 6; ++n) {
        EXPECT_EQ("", shown(n)) << n;  // blank fields show the empty text
    }
    record.PutField(0, "20240229");
    record.PutField(1, "235958123");
    record.PutField(2, "19991231235959999");
    record.PutField(3, "yes");
    record.PutField(4, "-2147483648");  // the blank stand-in of a Long shows empty too
    record.PutField(5, "2.7");
    EXPECT_EQ("20240229|235958123|19991231235959999|True||3", shown(0) + "|" + shown(1) + "|" +
                                                                  shown(2) + "|" + shown(3) + "|" +
                                                                  shown(4) + "|" + shown(5));
    EXPECT_FALSE(record.GetAllFieldsBlank());
    for (const char* bad : {"2024", "2024-2-9", "202402290"}) {
        EXPECT_EQ("\"" + std::string(bad) + "\" is not a text of 8 digits",
                  MessageOf([&] { record.PutField(0, bad); }));
    }
    EXPECT_EQ("13 is not a valid month", MessageOf([&] { record.PutField(0, "20241301"); }));

    fields[0]->SetFormat(
        KsField::kFiltered, nullptr,
        std::make_unique<KsTimestampFilter>("%02d/%02m/%y", KsFilter::kDateFilter));
    EXPECT_EQ("29/02/2024", shown(0));
    record.PutField(0, "01/03/2023");
    EXPECT_EQ("20230301", std::string(record.GetField(0, text, 64, false)));
    fields[5]->SetFormat(KsField::kFiltered, nullptr, std::make_unique<KsNumberFilter>());
    static_cast<KsNumberFilter*>(fields[5]->GetFilter())->SetMissingString("n/a");
    record.PutBlank(5);
    EXPECT_EQ("n/a", shown(5));

    // Serial form: fields 4 and 5 blank (bits 0x10 and 0x20), then the values.
    record.PutBlank(4);
    kstest::MemoryStream out;
    record.RawSerialWrite(out);
    KsTimestamp day;
    day.SetYear(2023), day.SetMonth(3), day.SetDay(1);
    std::uint32_t dayNumber = day.GetJulianDayFromCalendarStart();
    std::string expected = "30";
    for (std::uint32_t word : {dayNumber, 86398123u}) {
        expected += kstest::Hex(std::string(reinterpret_cast<const char*>(&word), 4));
    }
    EXPECT_EQ(expected, kstest::Hex(out.Bytes()).substr(0, expected.size()));
    EXPECT_EQ(expected.size() + 8 * 2 + 2, kstest::Hex(out.Bytes()).size());
    MemoryRecord back(fields);
    back.RawSerialRead(out);
    for (std::int32_t n = 0; n < 6; ++n) {
        EXPECT_EQ(shown(n), back.GetField(n, text, 64)) << n;
    }

    MemoryRecord copy(fields);
    copy.PutField(4, "9");
    copy.LoadFieldsFrom(record);
    EXPECT_TRUE(copy.IsBlank(4));
    EXPECT_EQ("20230301", std::string(copy.GetField(0, text, 64, false)));
}

TEST(KsFileRecord, BlobsTravelAsTextsValuesCopiesAndInTheSerialForm) {
    KsFieldList fields = kstest::CBFFields({{"Memo", 'B', 4}});
    MemoryRecord record(fields);
    record.PutField(0, "a long memo");
    char text[8];
    EXPECT_STREQ("a long ", record.GetField(0, text, sizeof text));
    KsFieldValue value;
    record.RetrieveFieldValue(0, value);
    EXPECT_EQ('B', value.GetType());
    EXPECT_EQ("a long memo", value.GetBinary());
    value.SetBinary("x\0y", 3);
    MemoryRecord copy(fields);
    copy.PutFieldValue(0, value);
    record.LoadFieldsFrom(copy);
    kstest::MemoryStream out;
    record.RawSerialWrite(out);
    EXPECT_EQ(
        "00"
        "03000000"
        "780079",
        kstest::Hex(out.Bytes()));  // no blank, size, bytes
    MemoryRecord back(fields);
    back.RawSerialRead(out);
    back.RetrieveFieldValue(0, value);
    EXPECT_EQ(std::string("x\0y", 3), value.GetBinary());
    kstest::MemoryStream huge(std::string("\0\xFF\xFF\xFF\x7F", 5));
    EXPECT_THROW(back.RawSerialRead(huge), KsException);  // a size beyond the stream
    KsString dump;
    dump << record;
    EXPECT_STREQ("{BLOB},", dump.GetCString());
}

TEST(KsFileRecord, ScramblerRestoresEveryByteAndOnlyAddsTheKeyForOneCharacter) {
    unsigned char abc[] = {'a', 'b', 'c'};
    KsFileRecord::Encrypt(abc, 3, "K");
    EXPECT_EQ("E9E8E7", kstest::Hex(std::string(abc, abc + 3)));
    KsFileRecord::Decrypt(abc, 3, "K");
    EXPECT_EQ("abc", std::string(abc, abc + 3));

    EXPECT_EQ(13u, std::strlen(KsFileRecord::GetLibraryKey()));
    for (const char* key : {KsFileRecord::GetLibraryKey(), "\xF0\x80z"}) {
        for (std::uint32_t length : {5u, 13u, 256u}) {
            std::string bytes(length, '\0');
            for (std::uint32_t i = 0; i < length; ++i) {
                bytes[i] = static_cast<char>((i * 7) % 256);
            }
            std::string scrambled = bytes;
            auto* data = reinterpret_cast<unsigned char*>(scrambled.data());
            KsFileRecord::Encrypt(data, length, key);
            EXPECT_NE(bytes, scrambled);
            KsFileRecord::Decrypt(data, length, key);
            EXPECT_EQ(bytes, scrambled) << length;
        }
    }
    EXPECT_EQ("Invalid (null) parameter",
              MessageOf([] { KsFileRecord::Encrypt(nullptr, 1, "k"); }));
    EXPECT_EQ("Invalid (null) parameter", MessageOf([&] { KsFileRecord::Decrypt(abc, 3, ""); }));
}

}  // namespace
