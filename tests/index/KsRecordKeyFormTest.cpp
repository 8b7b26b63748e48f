// The forms of keys: comparable keys (golden bytes, byte order against the keys' own
// order, the inverse), native values, stream forms and debugging texts.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>

#include "index/KsMultiRecordKey.h"
#include "index/KsRecordKeyTestSupport.h"
#include "support/KsErrorCapture.h"

namespace {

using kstest::ComparableOf;
using kstest::HexOfKey;
using kstest::MessageOf;

KsRecordKeyAlpha Alpha(std::uint32_t length, const char* text) {
    KsRecordKeyAlpha key(length);
    key.SetText(text);
    return key;
}

TEST(KsRecordKeyForms, ComparableKeysOfEachClassAreTheGoldenBytes) {
    EXPECT_EQ("7F FF FF FF", HexOfKey(KsRecordKeyLong(-1)));
    EXPECT_EQ("80 00 00 00", HexOfKey(KsRecordKeyLong(0)));
    EXPECT_EQ("80 00 00 01", HexOfKey(KsRecordKeyLong(1)));
    EXPECT_EQ("00 00 00 00", HexOfKey(KsRecordKeyLong(std::numeric_limits<std::int32_t>::min())));
    EXPECT_EQ("7F FB", HexOfKey(KsRecordKeyShort(-5)));
    EXPECT_EQ("80 03", HexOfKey(KsRecordKeyShort(3)));
    EXPECT_EQ("FF FF FF FE", HexOfKey(KsRecordKeyUnsignedLong(0xFFFFFFFE)));
    EXPECT_EQ("12 34", HexOfKey(KsRecordKeyUnsignedShort(0x1234)));
    EXPECT_EQ("00", HexOfKey(KsRecordKeyBoolean(false)));
    EXPECT_EQ("01", HexOfKey(KsRecordKeyBoolean(true)));
    EXPECT_EQ("C0 08 00 00 00 00 00 00", HexOfKey(KsRecordKeyNumber(3.0)));   // sign bit flipped
    EXPECT_EQ("3F FF FF FF FF FF FF FF", HexOfKey(KsRecordKeyNumber(-2.0)));  // every bit
    EXPECT_EQ("80 00 00 00 00 00 00 00", HexOfKey(KsRecordKeyNumber(-0.0)));  // as 0.0
    EXPECT_EQ("FF F8 00 00 00 00 00 00", HexOfKey(KsRecordKeyNumber(-std::nan("7"))));
    EXPECT_EQ("00 1A E8 9F", HexOfKey(KsRecordKeyDate(0x1AE89F)));
    EXPECT_EQ("41 42 00 00 00", HexOfKey(Alpha(5, "AB")));
    EXPECT_EQ("41 42 43", HexOfKey(Alpha(3, "ABCDE")));  // cut to the key's length
    EXPECT_EQ("", HexOfKey(Alpha(0, "A")));
    EXPECT_TRUE(Alpha(5, "AB").IsLessThan(Alpha(5, "ABC")));
    EXPECT_TRUE(Alpha(5, "AB").IsEqual(Alpha(2, "AB")));
    EXPECT_TRUE(Alpha(5, "abc").IsLessThanAlternate(Alpha(5, "ABD")));
    EXPECT_TRUE(Alpha(5, "ABD").IsLessThan(Alpha(5, "abc")));
    EXPECT_TRUE(Alpha(5, "abc").IsEqualAlternate(Alpha(5, "ABC")));
    KsRecordKeyBinary binary(3);
    binary.SetValue("\x00\xFF\x7F");
    EXPECT_EQ("00 FF 7F", HexOfKey(binary));
}

// Numbers in order, with -0.0 equal to 0.0 and NaN after +infinity (equal to every other
// NaN), so that keys have one order; each restores exactly from its comparable key.
TEST(KsRecordKeyForms, NumbersOrderByteWiseAndRestoreExactly) {
    using Limits = std::numeric_limits<double>;
    const double ordered[] = {-Limits::infinity(),
                              -Limits::max(),
                              -2.0,
                              -0.5,
                              -Limits::denorm_min(),
                              0.0,
                              Limits::denorm_min(),
                              3.0,
                              Limits::infinity(),
                              Limits::quiet_NaN()};
    std::string previous;
    for (double value : ordered) {
        std::string bytes = ComparableOf(KsRecordKeyNumber(value));
        EXPECT_LT(previous, bytes) << value;
        previous = bytes;
        KsRecordKeyNumber restored(42);
        restored.SetComparableKey(bytes.data());
        EXPECT_EQ(std::bit_cast<std::uint64_t>(value),
                  std::bit_cast<std::uint64_t>(restored.GetNumber()));
    }
    KsRecordKeyNumber nan(std::nan("1")), negativeNan(-std::nan("7")), infinity(INFINITY);
    EXPECT_TRUE(KsRecordKeyNumber(-0.0).IsEqual(KsRecordKeyNumber(0.0)));
    EXPECT_TRUE(nan.IsEqual(negativeNan));
    EXPECT_FALSE(nan.IsLessThan(negativeNan));
    EXPECT_TRUE(infinity.IsLessThan(nan));
    EXPECT_FALSE(nan.IsLessThan(infinity));
}

// A key of each kind with random native bytes, often the edge bytes of values.
std::unique_ptr<KsRecordKey> RandomKey(char kind, std::mt19937_64& rng) {
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
    for (char kind : std::string("ISWULNDYAaM")) {
        for (int round = 0; round < 4000; ++round) {
            std::unique_ptr<KsRecordKey> a = RandomKey(kind, rng), b = RandomKey(kind, rng);
            std::string bytesA = ComparableOf(*a), bytesB = ComparableOf(*b);
            if (bytesA.size() != bytesB.size()) {
                continue;  // Alpha and Binary keys of random lengths
            }
            int byteOrder = bytesA.compare(bytesB);
            ASSERT_EQ(byteOrder < 0 ? -1 : (byteOrder > 0 ? 1 : 0), KeyOrder(*a, *b))
                << kind << " " << kstest::Hex(bytesA, 1) << " / " << kstest::Hex(bytesB, 1);
            ASSERT_EQ(KeyOrder(*a, *b), -KeyOrder(*b, *a)) << kind;
            std::unique_ptr<KsRecordKey> copy(a->Clone());
            copy->SetComparableKey(bytesB.data());
            ASSERT_TRUE(copy->IsEqual(*b) && ComparableOf(*copy) == bytesB) << kind;
            kstest::MemoryStream stream(kstest::StreamOf(*a));
            copy->Read(stream);
            ASSERT_TRUE(copy->IsEqual(*a) && stream.Position() == stream.Bytes().size()) << kind;
            if (kind != 'D' && kind != 'M') {  // days outside the calendar have no date text
                copy->SetValue(kstest::NativeOf(*b).data());
                ASSERT_TRUE(copy->IsEqual(*b)) << kind;
            }
        }
    }
}

TEST(KsRecordKeyForms, NativeValuesAreTheValuesInMemoryOrTheirTexts) {
    EXPECT_EQ("FE FF FF FF", kstest::Hex(kstest::NativeOf(KsRecordKeyLong(-2)), 1));
    EXPECT_EQ("00 00 00 00 00 00 F0 3F", kstest::Hex(kstest::NativeOf(KsRecordKeyNumber(1)), 1));
    EXPECT_EQ(std::string("xy\0\0\0", 5), kstest::NativeOf(Alpha(4, "xy")));
    KsRecordKeyAlpha alpha(4);
    alpha.SetValue("abcdefg");  // length bytes are taken, the NUL stays
    EXPECT_STREQ("abcd", alpha.GetText());
    KsRecordKeyBoolean truth;
    truth.SetValue("\x02");  // any byte but 0 is true
    EXPECT_EQ("01", HexOfKey(truth));
    truth.SetComparableKey("\x00");
    EXPECT_FALSE(truth.GetNumber());

    KsRecordKeyDate date;
    date.SetValue("20000229");
    EXPECT_EQ(730179, date.GetDayNumber());
    EXPECT_EQ(std::string("20000229\0", 9), kstest::NativeOf(date));
    date.SetValue("00010101");
    EXPECT_EQ(1, date.GetDayNumber());
    EXPECT_EQ("\"2000-2-2\" is not a date text of 8 digits",
              MessageOf([&] { date.SetValue("2000-2-29"); }));
    EXPECT_EQ("13 is not a valid month", MessageOf([&] { date.SetValue("20001301"); }));
    EXPECT_EQ(1, date.GetDayNumber());  // a refused text leaves the key as it was
    KsException error = kstest::CaughtError([] { kstest::NativeOf(KsRecordKeyDate(0)); });
    EXPECT_STREQ("11759222 is too large; 9999 is the maximum year", error.GetErrorMessage());
    EXPECT_STREQ(
        "SetYear() of KsTimestamp\r\nSetJulianDayFromCalendarStart() of KsTimestamp\r\n"
        "GetValue() of KsRecordKeyDate",
        error.GetCallpath());
}

TEST(KsRecordKeyForms, StreamFormsAreNumbersLittleEndianAndTextsRaw) {
    KsRecordKeyBinary binary(2);
    binary.SetValue("\x01\x02");
    const std::pair<std::shared_ptr<KsRecordKey>, const char*> cases[] = {
        {std::make_shared<KsRecordKeyLong>(-2), "FE FF FF FF"},
        {std::make_shared<KsRecordKeyShort>(-2), "FE FF"},
        {std::make_shared<KsRecordKeyUnsignedLong>(0x01020304), "04 03 02 01"},
        {std::make_shared<KsRecordKeyUnsignedShort>(0x0102), "02 01"},
        {std::make_shared<KsRecordKeyNumber>(-2.0), "00 00 00 00 00 00 00 C0"},
        {std::make_shared<KsRecordKeyBoolean>(true), "01"},
        {std::make_shared<KsRecordKeyDate>(730179), "43 24 0B 00"},
        {std::make_shared<KsRecordKeyAlpha>(Alpha(4, "ab")), "61 62 00 00"},
        {std::shared_ptr<KsRecordKey>(binary.Clone()), "01 02"},
    };
    for (const auto& [key, hex] : cases) {
        EXPECT_EQ(hex, kstest::Hex(kstest::StreamOf(*key), 1));
    }
    KsRecordKeyAlpha alpha(4);
    kstest::MemoryStream text(std::string("wxyz", 4));
    alpha.Read(text);
    EXPECT_STREQ("wxyz", alpha.GetText());  // terminated after the raw bytes
    // Input that ends early raises the stream's error and leaves each key as it was.
    for (KsRecordKey* key : std::initializer_list<KsRecordKey*>{&alpha, &binary}) {
        kstest::MemoryStream shortInput("q");
        EXPECT_EQ(key == &alpha ? "Read() of KsRecordKeyAlpha" : "Read() of KsRecordKeyBinary",
                  std::string(kstest::CaughtError([&] { key->Read(shortInput); }).GetCallpath()));
    }
    EXPECT_STREQ("wxyz", alpha.GetText());
    EXPECT_EQ("01 02", HexOfKey(binary));
}

TEST(KsRecordKeyForms, DumpsNameTheKindAndShowTheValue) {
    KsRecordKeyAlpha alpha(std::vector<std::uint16_t>{3, 2});
    alpha.SetValue("ab\0cd");
    KsRecordKeyBinary binary(3);
    binary.SetValue("\x0A\xFF\x00");
    KsMultiRecordKey multi;
    multi.AddComponent(std::make_unique<KsRecordKeyLong>(-12));
    multi.AddComponent(std::make_unique<KsRecordKeyNumber>(2.5));
    multi.AddComponent(std::make_unique<KsRecordKeyBoolean>(true));
    EXPECT_EQ("A:ab|cd", kstest::DumpOf(alpha));
    EXPECT_EQ("B:0x0AFF00", kstest::DumpOf(binary));
    EXPECT_EQ("D:Feb 29, 2000", kstest::DumpOf(KsRecordKeyDate(730179)));
    EXPECT_EQ("( N:-12, N:2.5, N:1", kstest::DumpOf(multi));
    EXPECT_EQ("N:65535", kstest::DumpOf(KsRecordKeyUnsignedShort(65535)));
}

}  // namespace
