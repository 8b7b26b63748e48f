// Keys and records: extraction of every field type, consolidated keys over several Alpha
// or Binary fields, keys over fields of mixed types, putting keys back into records, and
// the errors of each.

#include <gtest/gtest.h>

#include <functional>

#include "index/KsMultiRecordKey.h"
#include "index/KsRecordKeyDescending.h"
#include "index/KsRecordKeyTestSupport.h"
#include "support/KsErrorCapture.h"

namespace {

using kstest::HexOfKey;
using kstest::MessageOf;
using Fields = std::vector<std::uint16_t>;

// Alpha 3, Alpha 4, Long, Short, Number, Binary 2, Unsigned Long, Unsigned Short, Date
// and Boolean fields, then Time, Timestamp and Blob fields, which have no keys.
struct Keyed {
    kstest::KeyTable table{
        {{"A3", 'A', 3},
         {"A4", 'A', 4},
         {"I", 'I', 0, 32},
         {"S", 'S', 0, 16},
         {"N", 'N', 0, 0, 100, 2},
         {"Y", 'Y', 2, 16},
         {"W", 'W', 0, 32},
         {"U", 'U', 0, 16}},
        {{"D", 'D', 8}, {"L", 'L', 1}, {"T", 'T', 9}, {"@", '@', 17}, {"B", 'B', 4}}};
    kstest::KeyRecord record = table.NewRecord();

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
    std::string Text(const KsRecord& from, std::int32_t n) {
        char text[8];
        return from.GetAlpha(n, text, sizeof text, false);
    }
};

TEST(KsRecordKeyRecords, EveryKeyedTypeIsExtractedAndPutBack) {
    Keyed keyed;
    const char* const expected[] = {
        "41 42 00", "77 78 79 7A", "7F FF FF F9", "7F FB",       "40 1F FF FF FF FF FF FF",
        "01 02",    "FF FF FF FF", "00 09",       "00 0B 46 81", "01"};
    kstest::KeyRecord copy = keyed.table.NewRecord();
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
    // A Short field holding -5 orders before one holding 3.
    copy.PutShort(3, 3);
    EXPECT_TRUE(KsRecordKey::Extract(keyed.record, 3)->IsLessThan(*KsRecordKey::Extract(copy, 3)));
}

TEST(KsRecordKeyRecords, TypesWithoutKeysAndEmptyListsAreRefused) {
    Keyed keyed;
    KsException error = kstest::CaughtError([&] { KsRecordKey::Extract(keyed.record, 10); });
    EXPECT_STREQ("Field type of field 10 is 'T', an unknown type.", error.GetErrorMessage());
    EXPECT_STREQ("KsRecordKey", error.GetClassName());
    EXPECT_STREQ("Extract() of KsRecordKey", error.GetCallpath());
    EXPECT_EQ("Field type of field 12 is 'B', an unknown type.",
              MessageOf([&] { KsRecordKey::Extract(keyed.record, 12); }));
    for (char type : {'T', '@', 'B', 'X', 'a'}) {
        EXPECT_EQ(std::string("Field type is '") + type + "', an unknown type.",
                  MessageOf([&] { KsRecordKey::Instantiate(type, 4); }));
    }
    EXPECT_EQ("A key needs at least one field",
              MessageOf([&] { KsRecordKey::Extract(keyed.record, Fields{}); }));
    EXPECT_EQ(nullptr, KsRecordKey::GetConsolidatedKey(keyed.record, Fields{}));
    error = kstest::CaughtError([&] { KsRecordKey::Extract(keyed.record, Fields{2, 11}); });
    EXPECT_STREQ("Extract() of KsRecordKey\r\nExtract() of KsRecordKey", error.GetCallpath());
}

// Two Alpha fields of lengths 3 and 4 make one Alpha key of length 7 whose fields stay
// apart: "AB" then "wxy" orders before "AB" then "wxyz", which is not "ABw...".
TEST(KsRecordKeyRecords, AlphaFieldsConsolidateIntoOneKeyWhoseFieldsStayApart) {
    Keyed keyed;
    std::unique_ptr<KsRecordKey> key = KsRecordKey::Extract(keyed.record, Fields{0, 1});
    auto& alpha = dynamic_cast<KsRecordKeyAlpha&>(*key);
    EXPECT_EQ((std::vector<std::uint16_t>{3, 4}), alpha.GetPieces());
    EXPECT_EQ("41 42 00 77 78 79 7A", HexOfKey(*key));
    EXPECT_EQ("A:AB|wxyz", kstest::DumpOf(*key));

    kstest::KeyRecord other = keyed.table.NewRecord();
    other.PutAlpha(0, "AB");
    other.PutAlpha(1, "wxy");
    std::unique_ptr<KsRecordKey> shorter = KsRecordKey::Extract(other, Fields{0, 1});
    EXPECT_TRUE(shorter->IsLessThan(*key));
    EXPECT_LT(kstest::ComparableOf(*shorter), kstest::ComparableOf(*key));
    other.PutAlpha(1, "WXYZ");  // the alternate order ignores case field by field
    shorter->SetValue(other, Fields{0, 1});
    EXPECT_TRUE(shorter->IsEqualAlternate(*key));
    EXPECT_FALSE(shorter->IsEqual(*key));
    other.PutAlpha(0, "ABC");
    shorter->SetValue(other, Fields{0, 1});
    EXPECT_TRUE(key->IsLessThan(*shorter));

    kstest::KeyRecord copy = keyed.table.NewRecord();
    key->GetValue(copy, Fields{0, 1});
    EXPECT_EQ("AB|wxyz", keyed.Text(copy, 0) + "|" + keyed.Text(copy, 1));
}

TEST(KsRecordKeyRecords, BinaryFieldsConsolidateAndMixedTypesMakeMultiKeys) {
    Keyed keyed;
    std::unique_ptr<KsRecordKey> binary = KsRecordKey::Extract(keyed.record, Fields{5, 5});
    EXPECT_EQ("01 02 01 02", HexOfKey(dynamic_cast<KsRecordKeyBinary&>(*binary)));
    EXPECT_EQ(nullptr, KsRecordKey::GetConsolidatedKey(keyed.record, Fields{0, 5}));
    EXPECT_EQ(nullptr, KsRecordKey::GetConsolidatedKey(keyed.record, Fields{2, 2}));

    std::unique_ptr<KsRecordKey> mixed = KsRecordKey::Extract(keyed.record, Fields{0, 2});
    auto& multi = dynamic_cast<KsMultiRecordKey&>(*mixed);
    EXPECT_EQ(2, multi.GetComponentCount());
    EXPECT_EQ("41 42 00 7F FF FF F9", HexOfKey(*mixed));
    // Component by component: the first that differs decides.
    std::unique_ptr<KsRecordKey> other(mixed->Clone());
    EXPECT_EQ(2, multi.FindFirstNotEqual(*other));
    kstest::KeyRecord record = keyed.table.NewRecord();
    record.PutAlpha(0, "AB");
    record.PutLong(2, -8);
    other->SetValue(record, Fields{0, 2});
    EXPECT_EQ(1, multi.FindFirstNotEqual(*other));
    EXPECT_TRUE(other->IsLessThan(*mixed));
    record.PutAlpha(0, "AC");
    other->SetValue(record, Fields{0, 2});
    EXPECT_EQ(0, multi.FindFirstNotEqual(*other));
    EXPECT_TRUE(mixed->IsLessThan(*other));
    EXPECT_FALSE(other->IsLessThan(*mixed));
    mixed->GetValue(record, Fields{0, 2});
    EXPECT_EQ("AB -7", keyed.Text(record, 0) + " " + std::to_string(record.GetLong(2)));
}

// Descending fields order downwards: their comparable keys are inverted bit by bit.
TEST(KsRecordKeyRecords, DescendingFieldsReverseTheirOrder) {
    Keyed keyed;
    std::unique_ptr<KsRecordKey> key =
        KsRecordKeyDescending::Extract(keyed.record, Fields{0, 2}, {false, true});
    EXPECT_EQ("41 42 00 80 00 00 06", HexOfKey(*key));
    EXPECT_EQ("( A:AB, ~N:-7", kstest::DumpOf(*key));
    std::unique_ptr<KsRecordKey> other(key->Clone());
    keyed.record.PutLong(2, 5);
    other->SetValue(keyed.record, Fields{0, 2});
    EXPECT_TRUE(other->IsLessThan(*key) && !key->IsLessThan(*other));
    other->SetComparableKey(kstest::ComparableOf(*key).data());
    EXPECT_TRUE(other->IsEqual(*key));
    std::unique_ptr<KsRecordKey> upwards =  // Alpha fields still consolidate
        KsRecordKeyDescending::Extract(keyed.record, Fields{0, 1}, {false, false});
    EXPECT_NE(nullptr, dynamic_cast<KsRecordKeyAlpha*>(upwards.get()));
    EXPECT_EQ("2 fields, but 1 sort directions", MessageOf([&] {
                  KsRecordKeyDescending::Extract(keyed.record, Fields{0, 2}, {true});
              }));
}

TEST(KsRecordKeyRecords, MismatchedKeysAndFieldListsGiveTheirMessages) {
    Keyed keyed;
    kstest::KeyRecord& r = keyed.record;
    std::unique_ptr<KsRecordKey> pair = KsRecordKey::Extract(r, Fields{2, 3});
    std::unique_ptr<KsRecordKey> triple = KsRecordKey::Extract(r, Fields{2, 3, 4});
    const std::tuple<std::function<void()>, const char*, const char*> cases[] = {
        {[&] { pair->IsLessThan(*triple); },
         "This KsMultiRecordKey has 2 components, but the other one has 3", "KsMultiRecordKey"},
        {[&] { pair->GetValue(r, Fields{2}); },
         "2 components in key, but passed in vector has 1 components", "KsMultiRecordKey"},
        {[&] {
             pair->SetValue(r, Fields{2, 3, 4});
         },
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
        {[&] {
             KsRecordKeyAlpha(3).SetValue(r, Fields{0, 1});
         },
         "Field 1 of 4 bytes at offset 3 does not fit a key of 3 bytes", "KsRecordKeyAlpha"},
        {[&] {
             KsRecordKeyBinary(3).GetValue(r, Fields{5, 5});
         },
         "Field 5 of 2 bytes at offset 2 does not fit a key of 3 bytes", "KsRecordKeyBinary"},
    };
    for (const auto& [call, message, className] : cases) {
        KsException error = kstest::CaughtError(call);
        EXPECT_STREQ(message, error.GetErrorMessage());
        EXPECT_STREQ(className, error.GetClassName()) << message;
    }
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
