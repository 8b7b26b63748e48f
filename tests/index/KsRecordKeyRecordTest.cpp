// Keys and records: extraction of every field type, consolidated keys over several Alpha
// or Binary fields, keys over fields of mixed types, putting keys back into records, and
// the errors of each.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "files/CBFFile.h"
#include "files/CBFRec.h"
#include "files/TableTestSupport.h"
#include "index/KsMultiRecordKey.h"
#include "index/KsRecordKeyTestSupport.h"
#include "support/KsErrorCapture.h"

namespace {

using kstest::ComparableOf;
using kstest::HexBytes;
using kstest::MessageOf;
using Fields = std::vector<std::uint16_t>;

KsDate DateOf(std::uint16_t year, std::uint16_t month, std::uint16_t day) {
    KsTimestamp stamp;
    stamp.SetYear(year), stamp.SetMonth(month), stamp.SetDay(day);
    return KsDate(stamp);
}

// Alpha 3, Alpha 4, Long, Short, Date, Boolean, Number, Binary 2, Unsigned Long,
// Unsigned Short, Time, Timestamp, Blob.
struct KeyedRecord {
    KsFieldList fields = kstest::KeyFields({{'A', 3},
                                            {'A', 4},
                                            {'I', 4},
                                            {'S', 2},
                                            {'D', 8},
                                            {'L', 1},
                                            {'N', 8},
                                            {'Y', 2},
                                            {'W', 4},
                                            {'U', 2},
                                            {'T', 9},
                                            {'@', 17},
                                            {'B', 4}});
    kstest::ValueRecord record{fields};

    KeyedRecord() {
        record.PutAlpha(0, "AB");
        record.PutAlpha(1, "wxyz");
        record.PutLong(2, -7);
        record.PutShort(3, -5);
        record.PutDate(4, DateOf(2024, 2, 29));
        record.PutBoolean(5, true);
        record.PutNumber(6, -0.5);
        record.PutBinary(7, "\x01\x02", 2);
        record.PutUnsignedLong(8, 0xFFFFFFFF);
        record.PutUnsignedShort(9, 9);
    }
};

TEST(KsRecordKeyRecords, EveryKeyedTypeIsExtractedAndPutBack) {
    KeyedRecord keyed;
    const char* const expected[] = {"41 42 00",
                                    "77 78 79 7A",
                                    "7F FF FF F9",
                                    "7F FB",
                                    "00 0B 46 81",
                                    "01",
                                    "40 1F FF FF FF FF FF FF",
                                    "01 02",
                                    "FF FF FF FF",
                                    "00 09"};
    kstest::ValueRecord copy(keyed.fields);
    for (std::int32_t field = 0; field < 10; ++field) {
        std::unique_ptr<KsRecordKey> key = KsRecordKey::Extract(keyed.record, field);
        EXPECT_EQ(expected[field], HexBytes(ComparableOf(*key))) << field;
        key->GetValue(copy, Fields{static_cast<std::uint16_t>(field)});
        std::unique_ptr<KsRecordKey> again = KsRecordKey::Extract(copy, field);
        EXPECT_TRUE(again->IsEqual(*key)) << field;
        // Instantiate makes an empty key of the same class for the type letter.
        std::unique_ptr<KsRecordKey> empty =
            KsRecordKey::Instantiate(keyed.record.GetFieldType(field),
                                     static_cast<std::uint32_t>(copy.GetFieldLength(field)));
        empty->SetValue(copy, field);
        EXPECT_TRUE(empty->IsEqual(*key)) << field;
    }
}

TEST(KsRecordKeyRecords, TypesWithoutKeysAndEmptyListsAreRefused) {
    KeyedRecord keyed;
    for (std::int32_t field : {10, 11, 12}) {
        KsException error = kstest::CaughtError([&] { KsRecordKey::Extract(keyed.record, field); });
        EXPECT_EQ("Field type of field " + std::to_string(field) + " is '" +
                      keyed.record.GetFieldType(field) + "', an unknown type.",
                  error.GetErrorMessage());
        EXPECT_STREQ("KsRecordKey", error.GetClassName());
        EXPECT_STREQ("Extract() of KsRecordKey", error.GetCallpath());
    }
    for (char type : {'T', '@', 'B', 'X', 'a'}) {
        EXPECT_EQ(std::string("Field type is '") + type + "', an unknown type.",
                  MessageOf([&] { KsRecordKey::Instantiate(type, 4); }));
    }
    EXPECT_EQ("A key needs at least one field",
              MessageOf([&] { KsRecordKey::Extract(keyed.record, Fields{}); }));
    EXPECT_EQ(nullptr, KsRecordKey::GetConsolidatedKey(keyed.record, Fields{}));
    // Through a list, the failing field's call path runs through both extractions.
    KsException error = kstest::CaughtError([&] {
        KsRecordKey::Extract(keyed.record, Fields{2, 10});
    });
    EXPECT_STREQ("Extract() of KsRecordKey\r\nExtract() of KsRecordKey", error.GetCallpath());
    EXPECT_EQ("Index 13 out of range; array is from 0 to 12",
              MessageOf([&] { KsRecordKey::Extract(keyed.record, 13); }));
}

// Two Alpha fields of lengths 3 and 4 make one Alpha key of length 7 whose fields stay
// apart: "AB" then "wxyz" is neither "ABw" nor equal to "AB" then "wxy".
TEST(KsRecordKeyRecords, AlphaFieldsConsolidateIntoOneKeyWhoseFieldsStayApart) {
    KeyedRecord keyed;
    std::unique_ptr<KsRecordKey> key = KsRecordKey::Extract(keyed.record, Fields{0, 1});
    auto* alpha = dynamic_cast<KsRecordKeyAlpha*>(key.get());
    ASSERT_NE(nullptr, alpha);
    EXPECT_EQ(7u, alpha->GetComparableKeyLength());
    EXPECT_EQ((std::vector<std::uint16_t>{3, 4}), alpha->GetPieces());
    EXPECT_EQ("41 42 00 77 78 79 7A", HexBytes(ComparableOf(*key)));
    EXPECT_EQ("A:AB|wxyz", kstest::DumpOf(*key));

    kstest::ValueRecord other(keyed.fields);
    other.PutAlpha(0, "AB");
    other.PutAlpha(1, "wxy");
    std::unique_ptr<KsRecordKey> shorter = KsRecordKey::Extract(other, Fields{0, 1});
    EXPECT_TRUE(shorter->IsLessThan(*key));
    EXPECT_FALSE(shorter->IsEqual(*key));
    EXPECT_LT(ComparableOf(*shorter), ComparableOf(*key));
    other.PutAlpha(1, "WXYZ");  // the alternate order ignores case piece by piece
    shorter->SetValue(other, Fields{0, 1});
    EXPECT_TRUE(shorter->IsEqualAlternate(*key));
    other.PutAlpha(0, "ABC");
    shorter->SetValue(other, Fields{0, 1});
    EXPECT_TRUE(key->IsLessThan(*shorter));
    EXPECT_TRUE(key->IsLessThanAlternate(*shorter));

    // Back into the record: each field gets its own piece.
    kstest::ValueRecord copy(keyed.fields);
    key->GetValue(copy, Fields{0, 1});
    char text[8];
    EXPECT_STREQ("AB", copy.GetAlpha(0, text, sizeof text, false));
    EXPECT_STREQ("wxyz", copy.GetAlpha(1, text, sizeof text, false));
}

TEST(KsRecordKeyRecords, BinaryFieldsConsolidateAndMixedTypesMakeMultiKeys) {
    KsFieldList fields = kstest::KeyFields({{'Y', 2}, {'Y', 3}, {'A', 5}, {'I', 4}});
    kstest::ValueRecord record(fields);
    record.PutBinary(0, "\x01\x02", 2);
    record.PutBinary(1, "\x03", 1);
    record.PutAlpha(2, "AB");
    record.PutLong(3, 5);
    std::unique_ptr<KsRecordKey> binary = KsRecordKey::Extract(record, Fields{0, 1});
    ASSERT_NE(nullptr, dynamic_cast<KsRecordKeyBinary*>(binary.get()));
    EXPECT_EQ("01 02 03 00 00", HexBytes(ComparableOf(*binary)));
    kstest::ValueRecord copy(fields);
    binary->GetValue(copy, Fields{0, 1});
    EXPECT_EQ("01 02 03 00 00", HexBytes(ComparableOf(*KsRecordKey::Extract(copy, Fields{0, 1}))));

    std::unique_ptr<KsRecordKey> mixed = KsRecordKey::Extract(record, Fields{2, 3});
    auto* multi = dynamic_cast<KsMultiRecordKey*>(mixed.get());
    ASSERT_NE(nullptr, multi);
    EXPECT_EQ(2, multi->GetComponentCount());
    EXPECT_EQ("41 42 00 00 00 80 00 00 05", HexBytes(ComparableOf(*mixed)));
    EXPECT_EQ(nullptr, KsRecordKey::GetConsolidatedKey(record, Fields{2, 3}));
    EXPECT_EQ(nullptr, KsRecordKey::GetConsolidatedKey(record, Fields{3, 3}));
    EXPECT_EQ(nullptr, KsRecordKey::GetConsolidatedKey(record, Fields{0, 2}));

    // Component by component: the first that differs decides.
    std::unique_ptr<KsRecordKey> same(mixed->Clone());
    EXPECT_EQ(2, multi->FindFirstNotEqual(*same));
    record.PutLong(3, 4);
    same->SetValue(record, Fields{2, 3});
    EXPECT_EQ(1, multi->FindFirstNotEqual(*same));
    EXPECT_TRUE(same->IsLessThan(*mixed));
    record.PutAlpha(2, "AC");
    same->SetValue(record, Fields{2, 3});
    EXPECT_EQ(0, multi->FindFirstNotEqual(*same));
    EXPECT_TRUE(mixed->IsLessThan(*same));
    EXPECT_FALSE(same->IsLessThan(*mixed));
    same->GetValue(copy, Fields{2, 3});
    char text[8];
    EXPECT_STREQ("AC", copy.GetAlpha(2, text, sizeof text, false));
    EXPECT_EQ(4, copy.GetLong(3));
}

// Native value and comparable key of a key over several fields split at the components'
// lengths; a stream read that ends early leaves the key as it was.
TEST(KsRecordKeyRecords, MultiKeyFormsSplitAtTheComponentsLengths) {
    KsMultiRecordKey key;
    key.AddComponent(std::make_unique<KsRecordKeyShort>(-2));
    key.AddComponent(std::make_unique<KsRecordKeyAlpha>(2));
    EXPECT_EQ(4u, key.GetComparableKeyLength());
    EXPECT_EQ(5u, key.GetLength());
    key.SetComparableKey("\x80\x07xy");
    EXPECT_EQ("( N:7, A:xy", kstest::DumpOf(key));
    key.SetValue("\xFE\xFFzz\0");
    EXPECT_EQ("( N:-2, A:zz", kstest::DumpOf(key));
    EXPECT_EQ(std::string("\xFE\xFFzz\0", 5), kstest::NativeOf(key));
    EXPECT_EQ("FE FF 7A 7A", HexBytes(kstest::StreamOf(key)));
    kstest::MemoryStream input(std::string("\x01\x00q", 3));
    EXPECT_FALSE(MessageOf([&] { key.Read(input); }).empty());
    EXPECT_EQ("( N:-2, A:zz", kstest::DumpOf(key));
}

TEST(KsRecordKeyRecords, MismatchedKeysAndFieldListsGiveTheirMessages) {
    KeyedRecord keyed;
    std::unique_ptr<KsRecordKey> pair = KsRecordKey::Extract(keyed.record, Fields{2, 3});
    std::unique_ptr<KsRecordKey> triple = KsRecordKey::Extract(keyed.record, Fields{2, 3, 6});
    const struct {
        std::function<void()> call;
        const char* message;
        const char* className;
    } cases[] = {
        {[&] { pair->IsLessThan(*triple); },
         "This KsMultiRecordKey has 2 components, but the other one has 3", "KsMultiRecordKey"},
        {[&] { pair->GetValue(keyed.record, Fields{2}); },
         "2 components in key, but passed in vector has 1 components", "KsMultiRecordKey"},
        {[&] {
             pair->SetValue(keyed.record, Fields{2, 3, 4});
         },
         "KsMultiRecordKey has 2 components, but passed in vector has 3", "KsMultiRecordKey"},
        {[&] { pair->GetValue(keyed.record, 2); },
         "Tried to retrieve a single field, but there are 2 components", "KsMultiRecordKey"},
        {[&] { pair->SetValue(keyed.record, 2); },
         "Tried to retrieve a single field, but there are 2 components", "KsMultiRecordKey"},
        {[&] { KsRecordKeyLong(1).IsLessThan(KsRecordKeyShort(1)); },
         "Cannot compare a key of type Long with a key of type Short", "KsRecordKey"},
        {[&] { KsRecordKeyAlpha(1).IsEqual(*pair); },
         "Cannot compare a key of type Alpha with a key of type Multi", "KsRecordKeyAlpha"},
        {[&] { pair->IsEqual(KsRecordKeyDate(1)); },
         "Cannot compare a key of type Multi with a key of type Date", "KsMultiRecordKey"},
        {[&] { KsMultiRecordKey().AddComponent(nullptr); }, "A key component cannot be null",
         "KsMultiRecordKey"},
        {[&] { KsRecordKey::Instantiate('A', 65536); },
         "A key of 65536 bytes is longer than the longest of 65535 bytes", "KsRecordKeyAlpha"},
        {[&] { KsRecordKey::Instantiate('Y', 70000); },
         "A key of 70000 bytes is longer than the longest of 65535 bytes", "KsRecordKeyBinary"},
        {[&] {
             KsRecordKeyAlpha(3).SetValue(keyed.record, Fields{0, 1});
         },
         "Field 1 of 4 bytes at offset 3 does not fit a key of 3 bytes", "KsRecordKeyAlpha"},
        {[&] {
             KsRecordKeyAlpha(3).GetValue(keyed.record, Fields{0, 1});
         },
         "Field 1 of 4 bytes at offset 3 does not fit a key of 3 bytes", "KsRecordKeyAlpha"},
        {[&] {
             KsRecordKeyBinary(3).GetValue(keyed.record, Fields{7, 7});
         },
         "Field 7 of 2 bytes at offset 2 does not fit a key of 3 bytes", "KsRecordKeyBinary"},
    };
    for (const auto& c : cases) {
        KsException error = kstest::CaughtError(c.call);
        EXPECT_STREQ(c.message, error.GetErrorMessage());
        EXPECT_STREQ(c.className, error.GetClassName()) << c.message;
    }
}

// A field longer than a key over one field is cut to the key's length; a key longer than
// its field keeps zeros after the field's value.
TEST(KsRecordKeyRecords, KeysOfOtherLengthsThanTheirFieldsCutOrPad) {
    KeyedRecord keyed;
    KsRecordKeyAlpha alpha(2);
    alpha.SetValue(keyed.record, 1);
    EXPECT_EQ("77 78", HexBytes(ComparableOf(alpha)));
    KsRecordKeyAlpha longer(6);
    longer.SetValue("qqqqqq");
    longer.SetValue(keyed.record, 0);
    EXPECT_EQ("41 42 00 00 00 00", HexBytes(ComparableOf(longer)));
    KsRecordKeyBinary binary(1), wide(4);
    binary.SetValue(keyed.record, 7);
    wide.SetValue("\xFF\xFF\xFF\xFF");
    wide.SetValue(keyed.record, 7);
    EXPECT_EQ("01", HexBytes(ComparableOf(binary)));
    EXPECT_EQ("01 02 00 00", HexBytes(ComparableOf(wide)));
}

// Every field type of compressed binary tables, from a stored record and back into a
// zeroed one: the record's bytes come back unchanged.
TEST(KsRecordKeyRecords, KeysCarryEveryFieldOfATableRecordIntoAnother) {
    KsFieldList fields = kstest::SampleFields();
    KsVector<CBFBits> noBits;
    CBFRec record(fields, 23, noBits), copy(fields, 23, noBits);
    const char* texts[] = {"-9", "3.25", "XY", "6", "99", "0AFF", "123456", "4321"};
    for (std::int32_t n = 0; n < 8; ++n) {
        record.PutField(n, texts[n], KsFileRecord::kPlain);
    }
    Fields all{0, 1, 2, 3, 4, 5, 6, 7};
    std::unique_ptr<KsRecordKey> key = KsRecordKey::Extract(record, all);
    EXPECT_EQ(8, dynamic_cast<KsMultiRecordKey&>(*key).GetComponentCount());
    key->GetValue(copy, all);
    EXPECT_EQ(kstest::HexOf(record), kstest::HexOf(copy));
    record.PutField(2, "XYZZY", KsFileRecord::kPlain);  // an Alpha field filled to its length
    KsRecordKey::Extract(record, 2)->GetValue(copy, 2);
    EXPECT_EQ(kstest::HexOf(record), kstest::HexOf(copy));
}

}  // namespace
