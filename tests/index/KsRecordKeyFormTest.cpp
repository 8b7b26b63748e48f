// The forms of keys: comparable keys (golden bytes, byte order against the keys' own
// order, the inverse), native values, stream forms and debugging texts.

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <random>

#include "index/KsMultiRecordKey.h"
#include "index/KsRecordKeyDescending.h"
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
    const std::tuple<std::shared_ptr<KsRecordKey>, const char*, const char*, const char*,
                     const char*>
        cases[] = {
            // key, comparable key, native value, stream form (null: the native value), dump
            {std::make_shared<KsRecordKeyLong>(-1), "7F FF FF FF", "FF FF FF FF", nullptr, "N:-1"},
            {std::make_shared<KsRecordKeyLong>(0), "80 00 00 00", "00 00 00 00", nullptr, "N:0"},
            {std::make_shared<KsRecordKeyLong>(1), "80 00 00 01", "01 00 00 00", nullptr, "N:1"},
            {std::make_shared<KsRecordKeyShort>(-5), "7F FB", "FB FF", nullptr, "N:-5"},
            {std::make_shared<KsRecordKeyUnsignedLong>(0xFFFFFFFE), "FF FF FF FE", "FE FF FF FF",
             nullptr, "N:4294967294"},
            {std::make_shared<KsRecordKeyUnsignedShort>(0x1234), "12 34", "34 12", nullptr,
             "N:4660"},
            {std::make_shared<KsRecordKeyBoolean>(true), "01", "01", nullptr, "N:1"},
            {std::make_shared<KsRecordKeyNumber>(3.0), "C0 08 00 00 00 00 00 00",
             "00 00 00 00 00 00 08 40", nullptr, "N:3"},
            {std::make_shared<KsRecordKeyNumber>(-2.0), "3F FF FF FF FF FF FF FF",
             "00 00 00 00 00 00 00 C0", nullptr, "N:-2"},
            {std::make_shared<KsRecordKeyNumber>(-0.0), "80 00 00 00 00 00 00 00",
             "00 00 00 00 00 00 00 80", nullptr, "N:-0"},
            {std::make_shared<KsRecordKeyDate>(730179), "00 0B 24 43", "32 30 30 30 30 32 32 39 00",
             "43 24 0B 00", "D:Feb 29, 2000"},
            {alpha({5}, "AB\0\0\0"), "41 42 00 00 00", "41 42 00 00 00 00", "41 42 00 00 00",
             "A:AB"},
            {alpha({3, 2}, "ab\0cd"), "61 62 00 63 64", "61 62 00 63 64 00", "61 62 00 63 64",
             "A:ab|cd"},
            {alpha({0}, ""), "", "00", "", "A:"},
            {binary, "0A FF 00", "0A FF 00", nullptr, "B:0x0AFF00"},
            {Multi(), "7F FF FF F4 C0 04 00 00 00 00 00 00 01",
             "F4 FF FF FF 00 00 00 00 00 00 04 40 01", nullptr, "( N:-12, N:2.5, N:1"},
        };
    for (const auto& [key, comparable, native, stream, dump] : cases) {
        EXPECT_EQ(comparable, HexOfKey(*key)) << dump;
        EXPECT_EQ(native, kstest::Hex(kstest::NativeOf(*key), 1)) << dump;
        EXPECT_EQ(stream != nullptr ? stream : native, kstest::Hex(kstest::StreamOf(*key), 1))
            << dump;
        EXPECT_EQ(dump, kstest::DumpOf(*key));
    }
}

TEST(KsRecordKeyForms, TextsCompareUpToTheirNulAndOtherFormsAreCheckedOrNormalised) {
    // Keys of one length order as their comparable keys do (the random test's part).
    EXPECT_TRUE(Alpha(5, "AB").IsEqual(Alpha(2, "AB")));
    EXPECT_TRUE(Alpha(5, "abc").IsLessThanAlternate(Alpha(5, "ABD")));
    EXPECT_FALSE(Alpha(5, "abc").IsLessThanAlternate(Alpha(5, "ABC")));
    EXPECT_TRUE(Alpha(5, "abc").IsEqualAlternate(Alpha(5, "ABC")));
    EXPECT_STREQ("ABC", Alpha(3, "ABCDE").GetText());  // cut to the key's length
    KsRecordKeyAlpha alpha(4);
    alpha.SetValue("abcdefg");  // length bytes are taken, the NUL stays
    EXPECT_STREQ("abcd", alpha.GetText());
    KsRecordKeyBinary two(2), three(3);
    three.SetValue("\0\0\0");
    EXPECT_TRUE(two.IsLessThan(three) && !three.IsLessThan(two));  // a longer key of zeros
    KsRecordKeyBoolean truth;
    truth.SetValue("\x02");  // any byte but 0 is true
    EXPECT_EQ("01", HexOfKey(truth));

    KsRecordKeyDate date;
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
    EXPECT_EQ("( N:-12, N:2.5, N:1", kstest::DumpOf(*multi));
}

// Numbers in order, with -0.0 equal to 0.0 and NaN after +infinity (equal to every other
// NaN), so that keys have one order; each restores exactly from its comparable key.
TEST(KsRecordKeyForms, NumbersOrderByteWiseAndRestoreExactly) {
    const double inf = INFINITY, max = DBL_MAX, tiny = DBL_TRUE_MIN;
    const double ordered[] = {-inf, -max, -2.0, -0.5, -tiny, 0.0, tiny, 3.0, inf, NAN};
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

}  // namespace
