// The forms of single keys: comparable keys (golden bytes, byte order against the keys'
// own order, the inverse), native values, stream forms and debugging texts.

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
using kstest::HexBytes;
using kstest::MessageOf;

template <class T>
std::string ComparableHex(T value) {
    return HexBytes(ComparableOf(KsRecordKeyNumeric<T>(value)));
}

std::string AlphaHex(std::uint32_t length, const char* text) {
    KsRecordKeyAlpha key(length);
    key.SetText(text);
    return HexBytes(ComparableOf(key));
}

TEST(KsRecordKeyForms, ComparableKeysOfEachClassAreTheGoldenBytes) {
    EXPECT_EQ("7F FF FF FF", ComparableHex<std::int32_t>(-1));
    EXPECT_EQ("80 00 00 00", ComparableHex<std::int32_t>(0));
    EXPECT_EQ("80 00 00 01", ComparableHex<std::int32_t>(1));
    EXPECT_EQ("00 00 00 00", ComparableHex(std::numeric_limits<std::int32_t>::min()));
    EXPECT_EQ("7F FB", ComparableHex<std::int16_t>(-5));
    EXPECT_EQ("80 03", ComparableHex<std::int16_t>(3));
    EXPECT_EQ("FF FF FF FE", ComparableHex<std::uint32_t>(0xFFFFFFFE));
    EXPECT_EQ("12 34", ComparableHex<std::uint16_t>(0x1234));
    EXPECT_EQ("00", ComparableHex(false));
    EXPECT_EQ("01", ComparableHex(true));
    // 3.0 is 40 08 00..; its sign bit is inverted. -2.0 is C0 00 00..; every bit inverted.
    EXPECT_EQ("C0 08 00 00 00 00 00 00", ComparableHex(3.0));
    EXPECT_EQ("3F FF FF FF FF FF FF FF", ComparableHex(-2.0));
    EXPECT_EQ("80 00 00 00 00 00 00 00", ComparableHex(0.0));
    EXPECT_EQ("00 1A E8 9F", HexBytes(ComparableOf(KsRecordKeyDate(0x1AE89F))));
    EXPECT_EQ("41 42 00 00 00", AlphaHex(5, "AB"));
    EXPECT_EQ("41 42 43", AlphaHex(3, "ABCDE"));  // cut to the key's length
    EXPECT_EQ("", AlphaHex(0, "A"));
    KsRecordKeyBinary binary(3);
    binary.SetValue("\x00\xFF\x7F");
    EXPECT_EQ("00 FF 7F", HexBytes(ComparableOf(binary)));
}

TEST(KsRecordKeyForms, NumbersOrderByteWiseAndRestoreExactly) {
    const double ordered[] = {-std::numeric_limits<double>::infinity(),
                              -std::numeric_limits<double>::max(),
                              -2.0,
                              -0.5,
                              -std::numeric_limits<double>::denorm_min(),
                              0.0,
                              std::numeric_limits<double>::denorm_min(),
                              3.0,
                              std::numeric_limits<double>::infinity(),
                              std::numeric_limits<double>::quiet_NaN()};
    std::string previous;
    for (double value : ordered) {
        KsRecordKeyNumber key(value);
        std::string bytes = ComparableOf(key);
        EXPECT_LT(previous, bytes) << value;
        previous = bytes;
        KsRecordKeyNumber restored(42);
        restored.SetComparableKey(bytes.data());
        EXPECT_EQ(std::bit_cast<std::uint64_t>(value),
                  std::bit_cast<std::uint64_t>(restored.GetNumber()))
            << value;
    }
}

// -0.0 equals 0.0 and every NaN equals every other, so each pair shares one comparable
// key; NaN orders after every number, so keys have one total order.
TEST(KsRecordKeyForms, NegativeZeroAndNaNKeepByteOrderAndComparisonInStep) {
    KsRecordKeyNumber zero(0.0), negativeZero(-0.0), infinity(INFINITY);
    KsRecordKeyNumber nan(std::nan("1")), negativeNan(-std::nan("7"));
    EXPECT_TRUE(negativeZero.IsEqual(zero));
    EXPECT_EQ(ComparableOf(zero), ComparableOf(negativeZero));
    EXPECT_TRUE(nan.IsEqual(negativeNan));
    EXPECT_FALSE(nan.IsLessThan(negativeNan));
    EXPECT_TRUE(infinity.IsLessThan(nan));
    EXPECT_FALSE(nan.IsLessThan(infinity));
    EXPECT_FALSE(nan.IsEqual(infinity));
    EXPECT_EQ("FF F8 00 00 00 00 00 00", HexBytes(ComparableOf(negativeNan)));
    KsRecordKeyNumber restored(1);
    restored.SetComparableKey(ComparableOf(negativeNan).data());
    EXPECT_TRUE(std::isnan(restored.GetNumber()));
}

// A random value for a key of each kind: edges of the range often, any bit pattern else.
struct RandomKeys {
    std::mt19937_64 rng{20261207};

    template <class T>
    T Integer() {
        using Limits = std::numeric_limits<T>;
        const T edges[] = {Limits::min(), T(Limits::min() + 1), T(0),
                           T(1),          T(Limits::max() - 1), Limits::max()};
        return rng() % 3 == 0 ? edges[rng() % 6] : static_cast<T>(rng());
    }
    double Number() {
        const double edges[] = {0.0, -0.0, 1.0, -1.0, INFINITY, -INFINITY, NAN, 5e-324};
        switch (rng() % 3) {
            case 0:
                return edges[rng() % 8];
            case 1:
                return static_cast<double>(static_cast<std::int8_t>(rng())) / 4;
            default:
                return std::bit_cast<double>(rng());
        }
    }
    // Native bytes of texts from a small alphabet (with bytes above 127), sometimes with
    // bytes left after the NUL.
    std::string Text(std::size_t length) {
        static constexpr char kAlphabet[] = "aAbB\x80\xFF";
        std::string bytes(length + 1, '\0');
        std::size_t used = rng() % (length + 1);
        for (std::size_t i = 0; i < length; ++i) {
            bytes[i] = i < used || rng() % 4 == 0 ? kAlphabet[rng() % 6] : '\0';
        }
        return bytes;
    }
    std::unique_ptr<KsRecordKey> Key(char kind);
};

std::unique_ptr<KsRecordKey> RandomKeys::Key(char kind) {
    switch (kind) {
        case 'I':
            return std::make_unique<KsRecordKeyLong>(Integer<std::int32_t>());
        case 'S':
            return std::make_unique<KsRecordKeyShort>(Integer<std::int16_t>());
        case 'W':
            return std::make_unique<KsRecordKeyUnsignedLong>(Integer<std::uint32_t>());
        case 'U':
            return std::make_unique<KsRecordKeyUnsignedShort>(Integer<std::uint16_t>());
        case 'L':
            return std::make_unique<KsRecordKeyBoolean>(rng() % 2 == 0);
        case 'N':
            return std::make_unique<KsRecordKeyNumber>(Number());
        case 'D':
            return std::make_unique<KsRecordKeyDate>(
                rng() % 4 == 0 ? Integer<std::int32_t>()
                               : static_cast<std::int32_t>(rng() % KsTimestamp::kLastDayNumber));
        case 'Y': {
            auto key = std::make_unique<KsRecordKeyBinary>(static_cast<std::uint32_t>(rng() % 3));
            std::string bytes = Text(key->GetLength());
            key->SetValue(bytes.data());
            return key;
        }
        case 'A':
        case 'a': {
            auto key =
                kind == 'A'
                    ? std::make_unique<KsRecordKeyAlpha>(3)
                    : std::make_unique<KsRecordKeyAlpha>(std::vector<std::uint16_t>{2, 0, 3});
            std::string bytes = Text(key->GetComparableKeyLength());
            key->SetValue(bytes.data());
            return key;
        }
        default: {
            auto key = std::make_unique<KsMultiRecordKey>();
            key->AddComponent(Key('a'));
            key->AddComponent(Key('I'));
            key->AddComponent(Key('N'));
            return key;
        }
    }
}

int KeyOrder(const KsRecordKey& a, const KsRecordKey& b) {
    return a.IsLessThan(b) ? -1 : (a.IsEqual(b) ? 0 : 1);
}

int ByteOrder(const std::string& a, const std::string& b) {
    int order = a.compare(b);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

// For every kind of key: the byte order of comparable keys is the order of the keys, the
// order is antisymmetric, and the comparable key, the native value and the stream form
// each restore a key equal to the original.
TEST(KsRecordKeyForms, ByteOrderOfRandomKeysIsTheirOrderAndEveryFormRestoresThem) {
    RandomKeys random;
    for (char kind : std::string("ISWULNDYAaM")) {
        for (int round = 0; round < 3000; ++round) {
            std::unique_ptr<KsRecordKey> a = random.Key(kind);
            std::unique_ptr<KsRecordKey> b = random.Key(kind);
            if (a->GetComparableKeyLength() != b->GetComparableKeyLength()) {
                continue;  // Binary keys of random lengths
            }
            std::string bytesA = ComparableOf(*a);
            ASSERT_EQ(ByteOrder(bytesA, ComparableOf(*b)), KeyOrder(*a, *b))
                << kind << " " << HexBytes(bytesA) << " / " << HexBytes(ComparableOf(*b));
            ASSERT_EQ(KeyOrder(*a, *b), -KeyOrder(*b, *a)) << kind;

            std::unique_ptr<KsRecordKey> copy(b->Clone());
            copy->SetComparableKey(bytesA.data());
            ASSERT_TRUE(copy->IsEqual(*a)) << kind << " " << HexBytes(bytesA);
            ASSERT_EQ(bytesA, ComparableOf(*copy)) << kind;
            copy.reset(b->Clone());
            kstest::MemoryStream stream(kstest::StreamOf(*a));
            copy->Read(stream);
            ASSERT_TRUE(copy->IsEqual(*a)) << kind;
            ASSERT_EQ(stream.Bytes().size(), stream.Position()) << kind;
            if (kind != 'D' && kind != 'M') {  // dates outside the calendar have no text
                copy.reset(b->Clone());
                copy->SetValue(kstest::NativeOf(*a).data());
                ASSERT_TRUE(copy->IsEqual(*a)) << kind;
            }
        }
    }
}

// Native forms: numbers in memory order, texts with their NUL, dates as 8 digits.
TEST(KsRecordKeyForms, NativeValuesAreTheValuesInMemoryOrTheirTexts) {
    EXPECT_EQ("FE FF FF FF", HexBytes(kstest::NativeOf(KsRecordKeyLong(-2))));
    EXPECT_EQ("34 12", HexBytes(kstest::NativeOf(KsRecordKeyUnsignedShort(0x1234))));
    EXPECT_EQ("00 00 00 00 00 00 F0 3F", HexBytes(kstest::NativeOf(KsRecordKeyNumber(1.0))));
    KsRecordKeyAlpha alpha(4);
    alpha.SetText("xy");
    EXPECT_EQ(std::string("xy\0\0\0", 5), kstest::NativeOf(alpha));
    alpha.SetValue("abcdefg");  // length bytes are taken, the NUL stays
    EXPECT_STREQ("abcd", alpha.GetText());

    KsRecordKeyBoolean truth;
    truth.SetValue("\x02");
    EXPECT_TRUE(truth.GetNumber());
    EXPECT_EQ("01", HexBytes(ComparableOf(truth)));
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

TEST(KsRecordKeyForms, StreamFormsAreTheNumbersLittleEndianAndTextsRaw) {
    KsRecordKeyAlpha alpha(4);
    alpha.SetText("ab");
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
        {std::shared_ptr<KsRecordKey>(alpha.Clone()), "61 62 00 00"},
        {std::shared_ptr<KsRecordKey>(binary.Clone()), "01 02"},
    };
    for (const auto& [key, hex] : cases) {
        EXPECT_EQ(hex, HexBytes(kstest::StreamOf(*key)));
    }

    kstest::MemoryStream text(std::string("wxyz", 4));
    alpha.Read(text);
    EXPECT_STREQ("wxyz", alpha.GetText());  // terminated after the raw bytes
    // Input that ends early raises the stream's error and leaves each key as it was.
    for (KsRecordKey* key : std::initializer_list<KsRecordKey*>{&alpha, &binary}) {
        kstest::MemoryStream shortInput("q");
        KsException error = kstest::CaughtError([&] { key->Read(shortInput); });
        EXPECT_NE(std::string::npos,
                  std::string(error.GetCallpath()).find("Read() of KsRecordKey"));
    }
    EXPECT_STREQ("wxyz", alpha.GetText());
    EXPECT_EQ("01 02", HexBytes(ComparableOf(binary)));
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
