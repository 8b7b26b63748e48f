// Keys and records: extraction of every field type, consolidated keys over several Alpha
// or Binary fields, keys over fields of mixed types, putting keys back into records, and
// the errors of each.

#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "files/CBFFile.h"
#include "files/CBFRec.h"
#include "index/KsMultiRecordKey.h"
#include "index/KsRecordKeyDescending.h"
#include "index/KsRecordKeyTestSupport.h"
#include "support/KsErrorCapture.h"

namespace {

using kstest::HexOfKey;
using kstest::MessageOf;
using Fields = std::vector<std::uint16_t>;

// Compressed binary records that also keep Date, Boolean and negative Short values, so that
// every keyed field type lives on one record.
class KeyRecord : public CBFRec {
public:
    using CBFRec::CBFRec;
    KeyRecord* Clone() const override { return new KeyRecord(*this); }
    bool GetBoolean(std::int32_t n) const override { return truths_.at(n); }
    void PutBoolean(std::int32_t n, bool value) override { truths_[n] = value; }
    void GetDate(std::int32_t n, KsDate& date) const override { date = dates_.at(n); }
    void PutDate(std::int32_t n, const KsDate& date) override { dates_[n] = date; }
    // Bit fields hold no negative numbers; these records keep Short values of their own.
    std::int16_t GetShort(std::int32_t n) const override { return shorts_.at(n); }
    void PutShort(std::int32_t n, std::int16_t value) override { shorts_[n] = value; }

private:
    std::map<std::int32_t, bool> truths_;
    std::map<std::int32_t, KsDate> dates_;
    std::map<std::int32_t, std::int16_t> shorts_;
};

// Alpha 3, Alpha 4, Long, Short, Number, Binary 2, Unsigned Long and Unsigned Short fields
// laid out as a compressed binary table lays them out, then Date and Boolean fields and
// Time, Timestamp and Blob fields, which have no keys, at byte 48; records of 64 bytes.
struct Keyed {
    static KsFieldList Layout() {
        KsFieldList fields = kstest::CBFFields({{"A3", 'A', 3},
                                                {"A4", 'A', 4},
                                                {"I", 'I', 0, 32},
                                                {"S", 'S', 0, 16},
                                                {"N", 'N', 0, 0, 100, 2},
                                                {"Y", 'Y', 2, 16},
                                                {"W", 'W', 0, 32},
                                                {"U", 'U', 0, 16}});
        CBFFile::PackFields(nullptr, fields);
        KsFieldList more = kstest::CBFFields(
            {{"D", 'D', 8}, {"L", 'L', 1}, {"T", 'T', 9}, {"@", '@', 17}, {"B", 'B', 4}});
        while (!more.empty()) {
            std::unique_ptr<KsField> field = more.Detach(0);
            field->SetByteOffset(48);
            field->SetFieldNumber(static_cast<std::uint16_t>(fields.size()));
            fields.Add(std::move(field));
        }
        return fields;
    }
    KeyRecord NewRecord() const { return KeyRecord(fields, 64, noBits); }

    KsFieldList fields = Layout();
    KsVector<CBFBits> noBits;
    KeyRecord record = NewRecord();

    Keyed() {
        const char* texts[] = {"AB", "wxyz", "-7", "-5", "-0.5", "0102", "4294967295", "9"};
        for (std::int32_t n = 0; n < 8; ++n) {
            record.PutField(n, texts[n], KsFileRecord::kPlain);
        }
        KsTimestamp day;
        day.SetYear(2024), day.SetMonth(2), day.SetDay(29);
        record.PutDate(8, KsDate(day));
        record.PutBoolean(9, true);
    }
};

TEST(KsRecordKeyRecords, EveryKeyedTypeIsExtractedAndPutBack) {
    Keyed keyed;
    const char* const expected[] = {
        "41 42 00", "77 78 79 7A", "7F FF FF F9", "7F FB",       "40 1F FF FF FF FF FF FF",
        "01 02",    "FF FF FF FF", "00 09",       "00 0B 46 81", "01"};
    KeyRecord copy = keyed.NewRecord();
    for (std::int32_t field = 0; field < 10; ++field) {
        std::unique_ptr<KsRecordKey> key = KsRecordKey::Extract(keyed.record, field);
        EXPECT_EQ(expected[field], HexOfKey(*key)) << field;
        key->GetValue(copy, Fields{static_cast<std::uint16_t>(field)});
        // Instantiate makes an empty key of the same class for the type letter.
        std::unique_ptr<KsRecordKey> again = KsRecordKey::Instantiate(
            copy.GetFieldType(field), static_cast<std::uint32_t>(copy.GetFieldLength(field)));
        again->SetValue(copy, field);
        EXPECT_TRUE(again->IsEqual(*key)) << field;
    }
    EXPECT_EQ(kstest::HexOf(keyed.record), kstest::HexOf(copy));
    keyed.record.PutField(1, "WXYZ", KsFileRecord::kPlain);  // filled to its length
    KsRecordKey::Extract(keyed.record, 1)->GetValue(copy, 1);
    EXPECT_EQ(kstest::HexOf(keyed.record), kstest::HexOf(copy));
}

// Several fields make one key: Alpha or Binary fields one consolidated key whose fields
// stay apart, fields of mixed types a multiple key, descending fields inverted bit by bit.
// Each key puts its fields back into a record unchanged.
TEST(KsRecordKeyRecords, FieldListsMakeConsolidatedMultipleOrDescendingKeys) {
    Keyed keyed;
    const std::tuple<Fields, std::vector<bool>, const char*, const char*> cases[] = {
        {{0, 1}, {false, false}, "41 42 00 77 78 79 7A", "A:AB|wxyz"},
        {{5, 5}, {false, false}, "01 02 01 02", "B:0x01020102"},
        {{0, 2}, {false, false}, "41 42 00 7F FF FF F9", "( A:AB, N:-7"},
        {{0, 2}, {false, true}, "41 42 00 80 00 00 06", "( A:AB, ~N:-7"},
    };
    for (const auto& [fields, descending, hex, dump] : cases) {
        std::unique_ptr<KsRecordKey> key =
            KsRecordKeyDescending::Extract(keyed.record, fields, descending);
        EXPECT_EQ(hex, HexOfKey(*key));
        EXPECT_EQ(dump, kstest::DumpOf(*key));
        KeyRecord copy = keyed.NewRecord();
        key->GetValue(copy, fields);
        EXPECT_TRUE(KsRecordKeyDescending::Extract(copy, fields, descending)->IsEqual(*key))
            << dump;
    }
    EXPECT_EQ(nullptr, KsRecordKey::GetConsolidatedKey(keyed.record, Fields{0, 5}));
    EXPECT_EQ(nullptr, KsRecordKey::GetConsolidatedKey(keyed.record, Fields{2, 2}));
}

// "AB" then "wxy" orders before "AB" then "wxyz", which is not "ABw..."; the alternate order
// ignores case field by field. Multiple keys find the first component that differs.
TEST(KsRecordKeyRecords, KeysOverSeveralFieldsOrderFieldByField) {
    Keyed keyed;
    std::unique_ptr<KsRecordKey> alpha = KsRecordKey::Extract(keyed.record, Fields{0, 1});
    KeyRecord record = keyed.NewRecord();
    record.PutAlpha(0, "AB");
    record.PutAlpha(1, "wxy");
    std::unique_ptr<KsRecordKey> shorter = KsRecordKey::Extract(record, Fields{0, 1});
    EXPECT_TRUE(shorter->IsLessThan(*alpha) && !alpha->IsLessThan(*shorter));
    record.PutAlpha(1, "WXYZ");
    shorter->SetValue(record, Fields{0, 1});
    EXPECT_TRUE(shorter->IsEqualAlternate(*alpha) && !shorter->IsEqual(*alpha));
    std::unique_ptr<KsRecordKey> mixed = KsRecordKey::Extract(keyed.record, Fields{0, 2});
    auto& multi = dynamic_cast<KsMultiRecordKey&>(*mixed);
    std::unique_ptr<KsRecordKey> other(mixed->Clone());
    EXPECT_EQ(2, multi.FindFirstNotEqual(*other));
    record.PutAlpha(0, "AB");
    record.PutLong(2, -8);
    other->SetValue(record, Fields{0, 2});
    EXPECT_EQ(1, multi.FindFirstNotEqual(*other));
    record.PutAlpha(0, "AC");
    other->SetValue(record, Fields{0, 2});
    EXPECT_EQ(0, multi.FindFirstNotEqual(*other));
}

TEST(KsRecordKeyRecords, UnkeyedTypesAndMismatchedKeysAndFieldListsGiveTheirMessages) {
    Keyed keyed;
    KeyRecord& r = keyed.record;
    std::unique_ptr<KsRecordKey> pair = KsRecordKey::Extract(r, Fields{2, 3});
    const Fields three{2, 3, 4}, mixed{0, 2}, alphas{0, 1}, binaries{5, 5}, unkeyed{2, 11};
    std::unique_ptr<KsRecordKey> triple = KsRecordKey::Extract(r, three);
    const std::tuple<std::function<void()>, const char*, const char*> cases[] = {
        {[&] { KsRecordKey::Extract(r, 10); }, "Field type of field 10 is 'T', an unknown type.",
         "KsRecordKey"},
        {[&] { KsRecordKey::Extract(r, 12); }, "Field type of field 12 is 'B', an unknown type.",
         "KsRecordKey"},
        {[&] { KsRecordKey::Extract(r, Fields{}); }, "A key needs at least one field",
         "KsRecordKey"},
        {[&] { KsRecordKeyDescending::Extract(r, mixed, {true}); },
         "2 fields, but 1 sort directions", "KsRecordKeyDescending"},
        {[&] { pair->IsLessThan(*triple); },
         "This KsMultiRecordKey has 2 components, but the other one has 3", "KsMultiRecordKey"},
        {[&] { pair->GetValue(r, Fields{2}); },
         "2 components in key, but passed in vector has 1 components", "KsMultiRecordKey"},
        {[&] { pair->SetValue(r, three); },
         "KsMultiRecordKey has 2 components, but passed in vector has 3", "KsMultiRecordKey"},
        {[&] { pair->GetValue(r, 2); },
         "Tried to retrieve a single field, but there are 2 components", "KsMultiRecordKey"},
        {[&] { pair->SetValue(r, 2); },
         "Tried to retrieve a single field, but there are 2 components", "KsMultiRecordKey"},
        {[&] { KsRecordKeyLong(1).IsLessThan(KsRecordKeyShort(1)); },
         "Cannot compare a key of type Long with a key of type Short", "KsRecordKey"},
        {[&] { KsRecordKeyAlpha(1).IsEqual(*pair); },
         "Cannot compare a key of type Alpha with a key of type Multi", "KsRecordKeyAlpha"},
        {[&] { KsMultiRecordKey().AddComponent(nullptr); }, "A key component cannot be null",
         "KsMultiRecordKey"},
        {[&] { KsRecordKey::Instantiate('A', 65536); },
         "A key of 65536 bytes is longer than the longest of 65535 bytes", "KsRecordKeyAlpha"},
        {[&] { KsRecordKey::Instantiate('Y', 70000); },
         "A key of 70000 bytes is longer than the longest of 65535 bytes", "KsRecordKeyBinary"},
        {[&] { KsRecordKeyAlpha(3).SetValue(r, alphas); },
         "Field 1 of 4 bytes at offset 3 does not fit a key of 3 bytes", "KsRecordKeyAlpha"},
        {[&] { KsRecordKeyBinary(3).GetValue(r, binaries); },
         "Field 5 of 2 bytes at offset 2 does not fit a key of 3 bytes", "KsRecordKeyBinary"},
    };
    for (const auto& [call, message, className] : cases) {
        KsException error = kstest::CaughtError(call);
        EXPECT_STREQ(message, error.GetErrorMessage());
        EXPECT_STREQ(className, error.GetClassName()) << message;
    }
    for (char type : {'T', '@', 'B', 'X', 'a'}) {
        EXPECT_EQ(std::string("Field type is '") + type + "', an unknown type.",
                  MessageOf([&] { KsRecordKey::Instantiate(type, 4); }));
    }
    EXPECT_EQ(nullptr, KsRecordKey::GetConsolidatedKey(r, Fields{}));
    EXPECT_STREQ("Extract() of KsRecordKey\r\nExtract() of KsRecordKey",
                 kstest::CaughtError([&] { KsRecordKey::Extract(r, unkeyed); }).GetCallpath());
    EXPECT_STREQ("Extract() of KsRecordKey",
                 kstest::CaughtError([&] { KsRecordKey::Extract(r, 10); }).GetCallpath());
}

// A field longer than a key over one field is cut to the key's length; a key longer than
// its field keeps zeros after the field's value.
TEST(KsRecordKeyRecords, KeysOfOtherLengthsThanTheirFieldsCutOrPad) {
    Keyed keyed;
    KsRecordKeyAlpha alpha(2), longer(6), fields(9);
    alpha.SetValue(keyed.record, 1);
    longer.SetValue("qqqqqq");
    longer.SetValue(keyed.record, 0);
    fields.SetValue("qqqqqqqqq");
    fields.SetValue(keyed.record, Fields{0, 1});
    KsRecordKeyBinary binary(1), wide(4);
    wide.SetValue("\xFF\xFF\xFF\xFF");
    binary.SetValue(keyed.record, 5);
    wide.SetValue(keyed.record, 5);
    EXPECT_EQ("77 78|41 42 00 00 00 00|41 42 00 77 78 79 7A 00 00 00|01|01 02 00 00",
              HexOfKey(alpha) + "|" + HexOfKey(longer) + "|" +
                  kstest::Hex(kstest::NativeOf(fields), 1) + "|" + HexOfKey(binary) + "|" +
                  HexOfKey(wide));
}

}  // namespace
