#include "index/KsSet.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/KsByteOrder.h"
#include "support/KsErrorCapture.h"
#include "support/MemoryStream.h"

namespace {

using kstest::MemoryStream;
using namespace std::string_literals;

std::string ChunkOf(const KsSet& set) {
    return std::string(set.GetChunk().GetData(), set.GetChunk().GetChunkSize());
}

std::string StreamOf(const KsSet& set) {
    MemoryStream out;
    set.Write(out);
    return out.Bytes();
}

// Stream header of a set: marker 11, version 400, then the three counts.
std::string Header(std::int32_t records, std::int32_t bytes, std::int32_t selected) {
    std::string counts(12, '\0');
    for (int i = 0; i < 3; ++i) {
        KsByteOrder::StoreLittle(counts.data() + 4 * i, i == 0   ? records
                                                        : i == 1 ? bytes
                                                                 : selected);
    }
    return "\x0B\0\0\0\x90\x01"s + counts;
}

KsSet FromBits(const std::vector<bool>& bits) {
    KsSet set(static_cast<std::int32_t>(bits.size()), false);
    for (std::size_t i = 0; i < bits.size(); ++i) {
        set.SelectRecord(static_cast<std::int32_t>(i + 1), bits[i]);
    }
    return set;
}

// Checks a set against its model: size, count, the search from every record, and the zero
// bits after the last record.
void ExpectMatches(const KsSet& set, const std::vector<bool>& model) {
    auto size = static_cast<std::int32_t>(model.size());
    ASSERT_EQ(set.GetSize(), size);
    std::int32_t next = 0, count = 0;
    for (std::int32_t r = size; r >= 0; --r) {
        ASSERT_EQ(set.GetNextInSet(r), next) << "after " << r;
        if (r > 0 && model[r - 1]) {
            next = r;
            ++count;
        }
    }
    ASSERT_EQ(set.GetNextInSet(-5), next);
    ASSERT_EQ(set.GetSelectedCount(), count);
    set.Expand();
    std::string chunk = ChunkOf(set);
    for (std::size_t i = static_cast<std::size_t>(size); i < chunk.size() * 8; ++i) {
        ASSERT_EQ(chunk[i / 8] & (0x80 >> (i % 8)), 0) << "bit " << i << " past the records";
    }
}

TEST(KsSetTest, BitmapsStartAtTheTopBitAndCompressOnlyRunsOfZeroAndFullBytes) {
    EXPECT_EQ(ChunkOf(KsSet(10, true)), "\xFF\xC0"s + std::string(8, '\0'));
    // 600 zero bytes, then the bytes 12 00 FF (records 4, 7 and 17 to 24).
    EXPECT_EQ(StreamOf(KsSet(4800, false)).substr(18), "\x00\xFF\x00\xFF\x00\x5A"s);
    KsSet set = FromBits({0, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1});
    EXPECT_EQ(StreamOf(set), "\x0B\0\0\0\x90\x01\x18\0\0\0\x03\0\0\0\x0A\0\0\0\x12\0\x01\xFF\x01"s);

    // A reader stops at the set's last byte and gives back the same set.
    MemoryStream in(StreamOf(set) + "next");
    KsSet back(3, true);
    back.Read(in);
    EXPECT_EQ(in.Position(), 23u);
    EXPECT_EQ(StreamOf(back), StreamOf(set));
}

TEST(KsSetTest, RefusesRecordsAndSizesOutOfRangeWithExactMessages) {
    KsSet ten(10, true), nine(9, true), twelve(12, false);
    const std::string record = "Set record value of ",
                      notIn10 = " not valid for set with 10 records.",
                      sizes = "The sets are not the same size; this set has ",
                      negative = "Invalid (negative) set size requested.";
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { ten.SelectRecord(11, true); }, record + "11" + notIn10},
        {[&] { ten.IsSelected(11); }, record + "11" + notIn10},
        {[&] { ten.AddToSet(12, true); }, record + "12" + notIn10},
        {[&] { ten.DeleteFromSet(11); }, record + "11" + notIn10},
        {[&] { ten.AndSet(nine); }, sizes + "10 records and the other set has 9"},
        {[&] { ten.MaskedOrSet(ten, nine); }, sizes + "10 records and the other set has 9"},
        {[&] { twelve.ByteAppend(ten); }, "12 is not a multiple of 8"},
        {[&] { KsSet(-1, false); }, negative},
        {[&] { ten.Init(-1); }, negative},
        {[&] { ten.Reset(-1, true); }, negative},
        {[&] { ten.Truncate(-1); }, negative},
    };
    for (const auto& [body, message] : cases) {
        KsException error = kstest::CaughtError(body);
        EXPECT_EQ(error.GetErrorMessage(), message);
        EXPECT_STREQ(error.GetClassName(), "KsSet");
    }
    EXPECT_EQ(ChunkOf(ten), "\xFF\xC0"s + std::string(8, '\0'));
}

TEST(KsSetTest, CorruptStreamsAreRefusedAndLeaveTheSetAsItWas) {
    const std::pair<std::string, std::string> cases[] = {
        {Header(8, 1, 0).replace(4, 1, "\x91") + "\x00\x01"s, "Invalid set header information"},
        {Header(8, 1, 0).replace(0, 1, "\x0C") + "\x00\x01"s, "Invalid header found"},
        {Header(-8, 0, 0), "Invalid record count -8 in set of \"memory\""},
        {Header(24, 4, 0) + "\x00\x04"s,
         "Invalid byte count 4 for 24 records in set of \"memory\""},
        {Header(24, 3, 0) + "\x00\x04"s, "Compressed set of \"memory\" expands beyond its 3 bytes"},
        {Header(24, 3, 8) + "\x12\xFF\x00"s,
         "Compressed set of \"memory\" has a run of length 0 at bitmap byte 1"},
        {Header(10, 2, -1) + "\xFF\x02"s, "Set of \"memory\" has bits set beyond its 10 records"},
        {Header(10, 2, 9) + "\xFF\x01\xC0"s,
         "Set of \"memory\" gives 9 selected records but selects 10"},
        // A huge size with few bytes is refused once the bytes run out, not allocated first.
        {Header(0x7FFFFFFF, 0x10000000, 0) + "\x00\xFF"s,
         "Unable to perform a required read at offset 20 of \"memory\""},
    };
    KsSet set(5, true);
    for (const auto& [bytes, message] : cases) {
        MemoryStream in(bytes);
        KsException error = kstest::CaughtError([&] { set.Read(in); });
        EXPECT_EQ(error.GetErrorMessage(), message);
        EXPECT_NE(std::string(error.GetCallpath()).find("Read() of KsSet (memory)"),
                  std::string::npos);
        EXPECT_EQ(StreamOf(set), Header(5, 1, 5) + "\xF8"s);
    }
}

// Growing, shrinking and emptying against a model are the random test's.
TEST(KsSetTest, AppendsKeepTheCompressedFormAndTheLargestSetRefusesToGrow) {
    KsSet tail(4, true), set(10, true);
    set.Init(2000);  // an initialised set has room for all its records
    set.SelectRecord(2000, true);
    EXPECT_EQ(set.GetNextInSet(0), 2000);
    set = FromBits({1, 0, 1, 0, 1, 0, 1, 0});
    set.ByteAppend(set);
    EXPECT_EQ(ChunkOf(set), "\xAA\xAA"s + std::string(8, '\0'));
    tail.Compress();
    set.ByteAppend(tail);
    EXPECT_EQ(StreamOf(set), Header(20, 3, 12) + "\xAA\xAA\xF0"s);
    set.Truncate(16);
    set.Compress();
    set.ByteAppend(set);
    EXPECT_EQ(StreamOf(set), Header(32, 4, -1) + "\xAA\xAA\xAA\xAA"s);  // counted on demand
    EXPECT_EQ(set.GetSelectedCount(), 16);
    EXPECT_EQ(StreamOf(set).substr(14, 4), "\x10\0\0\0"s);
    set.AndSet(set);
    EXPECT_EQ(StreamOf(set).substr(14, 4), "\xFF\xFF\xFF\xFF"s);

    // The largest set there can be (every record selected) refuses to grow.
    MemoryStream in(Header(0x7FFFFFFF, 0x10000000, -1) + std::string(2105376, '\xFF') +
                    "\xFF\x0F\xFE"s);
    set.Read(in);
    const std::string full = "A set cannot hold more than 2147483647 records";
    EXPECT_EQ(kstest::MessageOf([&] { set.AddToSet(1, false); }), full);
    EXPECT_EQ(kstest::MessageOf([&] { KsSet(8).ByteAppend(set); }), full);
}

// Random operations against a vector of bools, compressed, streamed and copied at random.
TEST(KsSetTest, RandomOperationsMatchAPlainVectorOfBools) {
    std::mt19937 random(20240611);
    auto below = [&](std::int32_t n) { return static_cast<std::int32_t>(random() % n); };
    auto randomBits = [&](std::size_t size) {
        std::bernoulli_distribution bit(std::array{0.0, 0.05, 0.5, 0.95, 1.0}[below(5)]);
        std::vector<bool> bits(size);
        for (auto&& b : bits) {
            b = bit(random);
        }
        return bits;
    };
    std::vector<bool> model = randomBits(150);
    KsSet set = FromBits(model);
    for (int step = 0; step < 6000; ++step) {
        auto size = static_cast<std::int32_t>(model.size());
        std::int32_t record = 1 + below(size + 1), n = below(size + 3);
        bool on = below(2);
        auto a = randomBits(size), b = randomBits(size);
        int op = below(10);
        if (op == 0 && record <= size) {
            set.SelectRecord(record, model[record - 1] = on);
        } else if (op == 1) {
            set.AddToSet(record, on);
            model.insert(model.begin() + record - 1, on);
        } else if (op == 2 && record <= size) {
            set.DeleteFromSet(record);
            model.erase(model.begin() + record - 1);
        } else if (op == 3) {
            set.Truncate(n);
            model.resize(std::min(n, size));
        } else if (op == 4) {
            int kind = below(3);
            kind == 0   ? set.AndSet(FromBits(a))
            : kind == 1 ? set.OrSet(FromBits(a))
                        : set.MaskedOrSet(FromBits(a), FromBits(b));
            for (std::int32_t i = 0; i < size; ++i) {
                model[i] = kind == 0 ? model[i] && a[i] : model[i] || (a[i] && (kind == 1 || b[i]));
            }
        } else if (op == 5) {
            n = below(2) ? below(300) : size;
            n == size&& below(2) ? (on ? set.AllRecords() : (set.NoRecords(), 0))
                                 : set.Reset(n, on);
            model.assign(n, on);
        } else if (op == 6 && size % 8 == 0) {
            KsSet tail = FromBits(a = randomBits(below(90)));
            on ? tail.Compress() : tail.Expand();
            set.ByteAppend(tail);
            model.insert(model.end(), a.begin(), a.end());
        } else if (op == 7) {
            MemoryStream stream;
            set.Write(stream);
            KsSet back(3, true);
            back.Read(stream);
            std::unique_ptr<KsSet> clone(back.Clone());
            ASSERT_NO_FATAL_FAILURE(ExpectMatches(*clone, model));
            set = *clone;
        } else {
            on ? set.Compress() : set.Expand();
        }
        if (step % 7 == 0 || model.size() < 20) {
            ASSERT_NO_FATAL_FAILURE(ExpectMatches(set, model)) << "step " << step;
        }
    }
}

}  // namespace
