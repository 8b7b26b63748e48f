// Record keys: their comparable keys (golden bytes, byte order against the keys' own order,
// the inverse), native values, stream forms and debugging texts; extraction of every field
// type, keys over several fields, putting keys back into records, and the errors of each.

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <functional>
#include <map>
#include <random>

#include "files/CBFFile.h"
#include "files/CBFRec.h"
#include "files/TableTestSupport.h"
#include "index/KsMultiRecordKey.h"
#include "index/KsRecordKeyDescending.h"
#include "support/KsErrorCapture.h"
#include "support/MemoryStream.h"

namespace {

using kstest::Hex;
using kstest::MessageOf;
using Fields = std::vector<std::uint16_t>;

// The comparable key of `key`, or its native value when `native`.
std::string BytesOf(const KsRecordKey& key, bool native = false) {
    std::string bytes(native ? key.GetLength() : key.GetComparableKeyLength(), '\0');
    native ? key.GetValue(bytes.data()) : key.GetComparableKey(bytes.data());
    return bytes;
}

// The stream form of `key`, or its debugging text when `dump`.
std::string StreamOf(const KsRecordKey& key, bool dump = false) {
    kstest::MemoryStream out;
    dump ? key.Dump(out) : key.Write(out);
    return out.Bytes();
}

KsRecordKeyAlpha Alpha(std::uint32_t length, const char* text) {
    KsRecordKeyAlpha key(length);
    key.SetText(text);
    return key;
}

std::shared_ptr<KsRecordKey> Multi() {
    auto key = std::make_shared<KsMultiRecordKey>();
    key->AddComponent(std::make_unique<KsRecordKeyLong>(-12));
    key->AddComponent(std::make_unique<KsRecordKeyNumber>(2.5));
    key->AddComponent(std::make_unique<KsRecordKeyBoolean>(true));
    return key;
}

// Each key's comparable key, native value and stream form, byte by byte, and its dump;
// each form read back into a copy of another value restores the key.
TEST(KsRecordKeyForms, EveryFormOfEachClassIsItsGoldenBytes) {
    auto alpha = [](std::vector<std::uint16_t> pieces, const char* bytes) {
        auto key = std::make_shared<KsRecordKeyAlpha>(std::move(pieces));
        key->SetValue(bytes);
        return key;
    };
    auto binary = std::make_shared<KsRecordKeyBinary>(3);
    binary->SetValue("\x0A\xFF\x00");
    // Comparable key, native value, stream form ("=": the native value) and dump.
    const std::pair<std::shared_ptr<KsRecordKey>, std::string> cases[] = {
        {std::make_shared<KsRecordKeyLong>(-1), "7F FF FF FF/FF FF FF FF/=/N:-1"},
        {std::make_shared<KsRecordKeyLong>(0), "80 00 00 00/00 00 00 00/=/N:0"},
        {std::make_shared<KsRecordKeyLong>(1), "80 00 00 01/01 00 00 00/=/N:1"},
        {std::make_shared<KsRecordKeyShort>(-5), "7F FB/FB FF/=/N:-5"},
        {std::make_shared<KsRecordKeyUnsignedLong>(0xFFFFFFFE),
         "FF FF FF FE/FE FF FF FF/=/N:4294967294"},
        {std::make_shared<KsRecordKeyUnsignedShort>(0x1234), "12 34/34 12/=/N:4660"},
        {std::make_shared<KsRecordKeyBoolean>(true), "01/01/=/N:1"},
        {std::make_shared<KsRecordKeyNumber>(3.0),
         "C0 08 00 00 00 00 00 00/00 00 00 00 00 00 08 40/=/N:3"},
        {std::make_shared<KsRecordKeyNumber>(-2.0),
         "3F FF FF FF FF FF FF FF/00 00 00 00 00 00 00 C0/=/N:-2"},
        {std::make_shared<KsRecordKeyNumber>(-0.0),
         "80 00 00 00 00 00 00 00/00 00 00 00 00 00 00 80/=/N:-0"},
        {std::make_shared<KsRecordKeyDate>(730179),
         "00 0B 24 43/32 30 30 30 30 32 32 39 00/43 24 0B 00/D:Feb 29, 2000"},
        {alpha({5}, "AB\0\0\0"), "41 42 00 00 00/41 42 00 00 00 00/41 42 00 00 00/A:AB"},
        {alpha({3, 2}, "ab\0cd"), "61 62 00 63 64/61 62 00 63 64 00/61 62 00 63 64/A:ab|cd"},
        {alpha({0}, ""), "/00//A:"},
        {binary, "0A FF 00/0A FF 00/=/B:0x0AFF00"},
        {Multi(),
         "7F FF FF F4 C0 04 00 00 00 00 00 00 01/F4 FF FF FF 00 00 00 00 00 00 04 40 01/=/"
         "( N:-12, N:2.5, N:1"},
    };
    for (const auto& [key, forms] : cases) {
        std::string native = Hex(BytesOf(*key, true), 1), stream = Hex(StreamOf(*key), 1);
        EXPECT_EQ(forms, Hex(BytesOf(*key), 1) + "/" + native + "/" +
                             (stream == native ? "=" : stream) + "/" + StreamOf(*key, true));
    }
}

TEST(KsRecordKeyForms, TextsCompareUpToTheirNulAndOtherFormsAreCheckedOrNormalised) {
    // Keys of one length order as their comparable keys do (the random test's part).
    EXPECT_TRUE(Alpha(5, "AB").IsEqual(Alpha(2, "AB")));
    EXPECT_TRUE(Alpha(5, "abc").IsLessThanAlternate(Alpha(5, "ABD")));
    EXPECT_FALSE(Alpha(5, "abc").IsLessThanAlternate(Alpha(5, "ABC")));
    EXPECT_TRUE(Alpha(5, "abz").IsEqualAlternate(Alpha(5, "ABZ")) &&
                !Alpha(5, "abz").IsEqual(Alpha(5, "ABZ")));
    EXPECT_STREQ("ABC", Alpha(3, "ABCDE").GetText());  // cut to the key's length
    KsRecordKeyAlpha alpha(4);
    alpha.SetValue("abcdefg");  // length bytes are taken, the NUL stays
    EXPECT_STREQ("abcd", alpha.GetText());
    KsRecordKeyBinary two(2), three(3);
    three.SetValue("\0\0\0");
    EXPECT_TRUE(two.IsLessThan(three) && !three.IsLessThan(two));  // a longer key of zeros
    KsRecordKeyBoolean truth;
    truth.SetValue("\x02");  // any byte but 0 is true
    EXPECT_EQ("01", Hex(BytesOf(truth)));

    KsRecordKeyDate date;
    date.SetValue("00010101");
    EXPECT_EQ(1, date.GetDayNumber());
    EXPECT_EQ("\"2000-2-2\" is not a date text of 8 digits",
              MessageOf([&] { date.SetValue("2000-2-29"); }));
    EXPECT_EQ("13 is not a valid month", MessageOf([&] { date.SetValue("20001301"); }));
    EXPECT_EQ(1, date.GetDayNumber());  // a refused text leaves the key as it was
    EXPECT_EQ("11759222 is too large; 9999 is the maximum year",
              MessageOf([] { BytesOf(KsRecordKeyDate(0), true); }));

    // Input that ends early raises the stream's error and leaves each key as it was.
    std::shared_ptr<KsRecordKey> multi = Multi();
    const std::tuple<KsRecordKey*, std::string, const char*> readers[] = {
        {&alpha, "xyz", "Read() of KsRecordKeyAlpha"},
        {multi.get(), std::string("\x01\x00\x00\x00q", 5),
         "ReadDouble() of KsInputStreamInterface\r\nRead() of KsRecordKey\r\nRead() of "
         "KsMultiRecordKey"}};
    for (const auto& [key, bytes, path] : readers) {
        kstest::MemoryStream input(bytes);
        EXPECT_STREQ(path, kstest::CaughtError([&] { key->Read(input); }).GetCallpath());
    }
    EXPECT_STREQ("abcd", alpha.GetText());
    EXPECT_EQ("( N:-12, N:2.5, N:1", StreamOf(*multi, true));
}

// Numbers in order, with -0.0 equal to 0.0 and NaN after +infinity (equal to every other
// NaN), so that keys have one order; each restores exactly from its comparable key.
TEST(KsRecordKeyForms, NumbersOrderByteWiseAndRestoreExactly) {
    const double inf = INFINITY, max = DBL_MAX, tiny = DBL_TRUE_MIN;
    const double ordered[] = {-inf, -max, -2.0, -0.5, -tiny, 0.0, tiny, 3.0, inf, NAN};
    std::string previous;
    for (double value : ordered) {
        std::string bytes = BytesOf(KsRecordKeyNumber(value));
        EXPECT_LT(previous, bytes) << value;
        previous = bytes;
        KsRecordKeyNumber restored(42);
        restored.SetComparableKey(bytes.data());
        EXPECT_EQ(std::bit_cast<std::uint64_t>(value),
                  std::bit_cast<std::uint64_t>(restored.GetNumber()));
    }
    KsRecordKeyNumber nan(std::nan("1")), negativeNan(-std::nan("7")), infinity(INFINITY);
    EXPECT_TRUE(KsRecordKeyNumber(-0.0).IsEqual(KsRecordKeyNumber(0.0)));
    EXPECT_TRUE(nan.IsEqual(negativeNan) && !nan.IsLessThan(negativeNan));
    EXPECT_TRUE(infinity.IsLessThan(nan) && !nan.IsLessThan(infinity));
}

// A key of each kind with random native bytes, often the edge bytes of values.
std::unique_ptr<KsRecordKey> RandomKey(char kind, std::mt19937_64& rng) {
    if (kind == 'd') {
        return std::make_unique<KsRecordKeyDescending>(RandomKey('M', rng));
    }
    if (kind == 'M') {
        auto key = std::make_unique<KsMultiRecordKey>();
        for (char component : {'a', 'I', 'N'}) {
            key->AddComponent(RandomKey(component, rng));
        }
        return key;
    }
    std::unique_ptr<KsRecordKey> key =
        kind == 'a' ? std::make_unique<KsRecordKeyAlpha>(std::vector<std::uint16_t>{2, 0, 3})
                    : KsRecordKey::Instantiate(kind, static_cast<std::uint32_t>(rng() % 4));
    static constexpr unsigned char kEdges[] = {0x00, 0x01, 0x7F, 0x80, 0xFF, 'a', 'A', 'b'};
    std::string bytes(key->GetLength() + 8, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(rng() % 3 == 0 ? rng() : kEdges[rng() % 8]);
    }
    kind == 'D' ? key->SetComparableKey(bytes.data()) : key->SetValue(bytes.data());
    return key;
}

int KeyOrder(const KsRecordKey& a, const KsRecordKey& b) {
    return a.IsLessThan(b) ? -1 : (a.IsEqual(b) ? 0 : 1);
}

// For every kind of key: the byte order of comparable keys is the order of the keys, the
// order is antisymmetric, and the comparable key, the stream form and the native value
// each restore a key equal to the original.
TEST(KsRecordKeyForms, ByteOrderOfRandomKeysIsTheirOrderAndEveryFormRestoresThem) {
    std::mt19937_64 rng(20261207);
    for (char kind : std::string("ISWULNDYAaMd")) {
        for (int round = 0; round < 4000; ++round) {
            std::unique_ptr<KsRecordKey> a = RandomKey(kind, rng), b = RandomKey(kind, rng);
            std::string bytesA = BytesOf(*a), bytesB = BytesOf(*b);
            if (bytesA.size() != bytesB.size()) {
                continue;  // Alpha and Binary keys of random lengths
            }
            int byteOrder = bytesA.compare(bytesB);
            ASSERT_EQ(byteOrder < 0 ? -1 : (byteOrder > 0 ? 1 : 0), KeyOrder(*a, *b))
                << kind << " " << Hex(bytesA, 1) << " / " << Hex(bytesB, 1);
            ASSERT_EQ(KeyOrder(*a, *b), -KeyOrder(*b, *a)) << kind;
            std::unique_ptr<KsRecordKey> copy(a->Clone());
            copy->SetComparableKey(bytesB.data());
            ASSERT_TRUE(copy->IsEqual(*b) && BytesOf(*copy) == bytesB) << kind;
            kstest::MemoryStream stream(StreamOf(*a));
            copy->Read(stream);
            ASSERT_TRUE(copy->IsEqual(*a) && stream.Position() == stream.Bytes().size()) << kind;
            if (kind != 'D' && kind != 'M') {  // days outside the calendar have no date text
                copy->SetValue(BytesOf(*b, true).data());
                ASSERT_TRUE(copy->IsEqual(*b)) << kind;
            }
        }
    }
}

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
class KsRecordKeyRecords : public testing::Test {
protected:
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
    KeyRecord NewRecord() const { return KeyRecord(layout, 64, noBits); }

    KsFieldList layout = Layout();
    KsVector<CBFBits> noBits;
    KeyRecord record = NewRecord();

    KsRecordKeyRecords() {
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

// Each keyed type makes its key; several fields make one key: Alpha or Binary fields one
// consolidated key whose fields stay apart, fields of mixed types a multiple key, descending
// fields inverted bit by bit. The keys put their fields back into a record unchanged. A
// field longer than a key over one field is cut to the key's length; a key longer than its
// field keeps zeros after the field's value.
TEST_F(KsRecordKeyRecords, FieldsMakeTheirKeysAndPutThemBack) {
    KeyRecord copy = NewRecord();
    const std::tuple<Fields, std::vector<bool>, const char*, const char*> cases[] = {
        {{3}, {false}, "7F FB", "N:-5"},
        {{4}, {false}, "40 1F FF FF FF FF FF FF", "N:-0.5"},
        {{6}, {false}, "FF FF FF FF", "N:4294967295"},
        {{7}, {false}, "00 09", "N:9"},
        {{8}, {false}, "00 0B 46 81", "D:Feb 29, 2024"},
        {{9}, {false}, "01", "N:1"},
        {{0, 1}, {false, false}, "41 42 00 77 78 79 7A", "A:AB|wxyz"},
        {{5, 5}, {false, false}, "01 02 01 02", "B:0x01020102"},
        {{0, 2}, {false, false}, "41 42 00 7F FF FF F9", "( A:AB, N:-7"},
        {{0, 2}, {false, true}, "41 42 00 80 00 00 06", "( A:AB, ~N:-7"},
    };
    auto hex = [](const KsRecordKey& key) { return Hex(BytesOf(key), 1); };
    for (const auto& [numbers, descending, bytes, dump] : cases) {
        std::unique_ptr<KsRecordKey> key =
            KsRecordKeyDescending::Extract(record, numbers, descending);
        EXPECT_EQ(bytes, hex(*key));
        EXPECT_EQ(dump, StreamOf(*key, true));
        key->GetValue(copy, numbers);
    }
    EXPECT_EQ(kstest::HexOf(record), kstest::HexOf(copy));
    EXPECT_EQ(nullptr, KsRecordKey::GetConsolidatedKey(record, Fields{0, 5}));
    EXPECT_EQ(nullptr, KsRecordKey::GetConsolidatedKey(record, Fields{2, 2}));
    KsRecordKeyAlpha alpha(2), longer(6), both(9);
    alpha.SetValue(record, 1);
    longer.SetValue("qqqqqq");
    longer.SetValue(record, 0);
    both.SetValue("qqqqqqqqq");
    both.SetValue(record, Fields{0, 1});
    KsRecordKeyBinary binary(1), wide(4);
    wide.SetValue("\xFF\xFF\xFF\xFF");
    binary.SetValue(record, 5);
    wide.SetValue(record, 5);
    EXPECT_EQ("77 78|41 42 00 00 00 00|41 42 00 77 78 79 7A 00 00 00|01|01 02 00 00",
              hex(alpha) + "|" + hex(longer) + "|" + Hex(BytesOf(both, true), 1) + "|" +
                  hex(binary) + "|" + hex(wide));
}

// Multiple keys find the first component that differs (their count when none does).
TEST_F(KsRecordKeyRecords, MultipleKeysFindTheFirstComponentThatDiffers) {
    KeyRecord changed = NewRecord();
    std::unique_ptr<KsRecordKey> mixed = KsRecordKey::Extract(record, Fields{0, 2});
    std::unique_ptr<KsRecordKey> other(mixed->Clone());
    for (auto [alpha, number, first] : {std::tuple{"AB", -7, 2}, {"AB", -8, 1}, {"AC", -8, 0}}) {
        changed.PutAlpha(0, alpha);
        changed.PutLong(2, number);
        other->SetValue(changed, Fields{0, 2});
        EXPECT_EQ(first, dynamic_cast<KsMultiRecordKey&>(*mixed).FindFirstNotEqual(*other));
    }
}

TEST_F(KsRecordKeyRecords, UnkeyedTypesAndMismatchedKeysAndFieldListsGiveTheirMessages) {
    KeyRecord& r = record;
    std::unique_ptr<KsRecordKey> pair = KsRecordKey::Extract(r, Fields{2, 3});
    const Fields three{2, 3, 4}, mixed{0, 2}, alphas{0, 1}, binaries{5, 5}, unkeyed{2, 11};
    std::unique_ptr<KsRecordKey> triple = KsRecordKey::Extract(r, three);
    // Each call, then the class and message of its error.
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { KsRecordKey::Extract(r, 10); },
         "KsRecordKey: Field type of field 10 is 'T', an unknown type."},
        {[&] { KsRecordKey::Extract(r, Fields{}); }, "KsRecordKey: A key needs at least one field"},
        {[&] { KsRecordKeyDescending::Extract(r, mixed, {true}); },
         "KsRecordKeyDescending: 2 fields, but 1 sort directions"},
        {[&] { pair->IsLessThan(*triple); },
         "KsMultiRecordKey: This KsMultiRecordKey has 2 components, but the other one has 3"},
        {[&] { pair->GetValue(r, Fields{2}); },
         "KsMultiRecordKey: 2 components in key, but passed in vector has 1 components"},
        {[&] { pair->SetValue(r, three); },
         "KsMultiRecordKey: KsMultiRecordKey has 2 components, but passed in vector has 3"},
        {[&] { pair->GetValue(r, 2); },
         "KsMultiRecordKey: Tried to retrieve a single field, but there are 2 components"},
        {[&] { pair->SetValue(r, 2); },
         "KsMultiRecordKey: Tried to retrieve a single field, but there are 2 components"},
        {[&] { KsRecordKeyLong(1).IsLessThan(KsRecordKeyShort(1)); },
         "KsRecordKey: Cannot compare a key of type Long with a key of type Short"},
        {[&] { KsRecordKeyAlpha(1).IsEqual(*pair); },
         "KsRecordKeyAlpha: Cannot compare a key of type Alpha with a key of type Multi"},
        {[&] { KsMultiRecordKey().AddComponent(nullptr); },
         "KsMultiRecordKey: A key component cannot be null"},
        {[&] { KsRecordKey::Instantiate('A', 65536); },
         "KsRecordKeyAlpha: A key of 65536 bytes is longer than the longest of 65535 bytes"},
        {[&] { KsRecordKey::Instantiate('Y', 70000); },
         "KsRecordKeyBinary: A key of 70000 bytes is longer than the longest of 65535 bytes"},
        {[&] { KsRecordKeyAlpha(3).SetValue(r, alphas); },
         "KsRecordKeyAlpha: Field 1 of 4 bytes at offset 3 does not fit a key of 3 bytes"},
        {[&] { KsRecordKeyBinary(3).GetValue(r, binaries); },
         "KsRecordKeyBinary: Field 5 of 2 bytes at offset 2 does not fit a key of 3 bytes"},
    };
    for (const auto& [call, expected] : cases) {
        EXPECT_EQ(kstest::ClassAndMessageOf(call), expected);
    }
    for (char type : {'T', '@', 'B', 'X', 'a'}) {
        EXPECT_EQ(std::string("Field type is '") + type + "', an unknown type.",
                  MessageOf([&] { KsRecordKey::Instantiate(type, 4); }));
    }
    EXPECT_EQ(nullptr, KsRecordKey::GetConsolidatedKey(r, Fields{}));
    // The key of each field adds its line under that of the key over all of them.
    EXPECT_STREQ("Extract() of KsRecordKey\r\nExtract() of KsRecordKey",
                 kstest::CaughtError([&] { KsRecordKey::Extract(r, unkeyed); }).GetCallpath());
}

}  // namespace
