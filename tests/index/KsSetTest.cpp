#include "index/KsSet.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/KsErrorCapture.h"
#include "support/MemoryStream.h"

namespace {

using kstest::CaughtError;
using kstest::MemoryStream;
using kstest::MessageOf;
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
std::string Header(std::int32_t records, std::int32_t bytes, std::int32_t selected,
                   std::int16_t version = 400, char marker = 11) {
    MemoryStream out;
    out.WriteKsHeader(marker, version);
    out.WriteLong(records);
    out.WriteLong(bytes);
    out.WriteLong(selected);
    return out.Bytes();
}

KsSet FromBits(const std::vector<bool>& bits) {
    KsSet set(static_cast<std::int32_t>(bits.size()), false);
    for (std::size_t i = 0; i < bits.size(); ++i) {
        set.SelectRecord(static_cast<std::int32_t>(i + 1), bits[i]);
    }
    return set;
}

// Checks a set against its model: size, count, every record by search and by query, and
// the zero bytes after the bitmap.
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
    ASSERT_EQ(set.GetSelectedCount(), count);
    set.Expand();
    std::string chunk = ChunkOf(set);
    ASSERT_GE(chunk.size(), static_cast<std::size_t>(set.GetByteCount() + 8));
    for (std::int32_t i = 0; i < size; ++i) {
        ASSERT_EQ(set.IsSelected(i + 1), model[i]) << "record " << i + 1;
    }
    for (std::size_t i = static_cast<std::size_t>(size); i < chunk.size() * 8; ++i) {
        ASSERT_EQ(chunk[i / 8] & (0x80 >> (i % 8)), 0) << "bit " << i << " past the records";
    }
}

TEST(KsSetTest, NewSetsHaveTheirBitsFromTheTopOfEachByteAndEightZeroBytesAfter) {
    const std::string zeros(8, '\0');
    EXPECT_EQ(ChunkOf(KsSet(10, true)), "\xFF\xC0"s + zeros);
    EXPECT_EQ(ChunkOf(KsSet(16, true)), "\xFF\xFF"s + zeros);
    EXPECT_EQ(ChunkOf(KsSet(9, false)), "\0\0"s + zeros);
    EXPECT_EQ(ChunkOf(KsSet(0, true)), zeros);
    EXPECT_EQ(KsSet(10, true).GetSelectedCount(), 10);
}

TEST(KsSetTest, CompressedFormCodesOnlyRunsOfZeroAndFullBytes) {
    // 600 zero bytes, then the bytes 12 00 FF (records 4, 7 and 17 to 24).
    EXPECT_EQ(StreamOf(KsSet(4800, false)).substr(18), "\x00\xFF\x00\xFF\x00\x5A"s);
    KsSet set = FromBits({0, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1});
    EXPECT_EQ(StreamOf(set), Header(24, 3, 10) + "\x12\x00\x01\xFF\x01"s);
    EXPECT_EQ(StreamOf(set), "\x0B\0\0\0\x90\x01\x18\0\0\0\x03\0\0\0\x0A\0\0\0\x12\0\x01\xFF\x01"s);
    EXPECT_TRUE(set.IsCompressed());

    // A reader stops at the set's last byte and gives back the same set.
    MemoryStream in(StreamOf(set) + "next");
    KsSet back(3, true);
    back.Read(in);
    EXPECT_EQ(in.Position(), 23u);
    EXPECT_EQ(ChunkOf(back), "\x12\x00\x01\xFF\x01"s);
    EXPECT_EQ(StreamOf(back), StreamOf(set));
    back.Expand();
    EXPECT_EQ(ChunkOf(back), "\x12\x00\xFF"s + std::string(8, '\0'));
    EXPECT_EQ(back.GetSelectedCount(), 10);
}

TEST(KsSetTest, CountIsKeptUntilAWholeSetOperationThenCountedAgain) {
    KsSet set(10, true), other(10, true);
    set.DeleteFromSet(3);
    EXPECT_EQ(StreamOf(set).substr(14, 4), "\x09\0\0\0"s);
    set.AddToSet(10, false);
    set.AndSet(other);
    EXPECT_EQ(StreamOf(set).substr(14, 4), "\xFF\xFF\xFF\xFF"s);
    EXPECT_EQ(set.GetSelectedCount(), 9);
    EXPECT_EQ(StreamOf(set).substr(14, 4), "\x09\0\0\0"s);
}

TEST(KsSetTest, SearchesStartAfterTheGivenRecordAndStopAtTheLast) {
    KsSet set(200, false);
    EXPECT_EQ(set.GetNextInSet(0), 0);
    for (std::int32_t r : {64, 65, 200}) {
        set.SelectRecord(r, true);
    }
    const std::pair<std::int32_t, std::int32_t> cases[] = {
        {-5, 64}, {0, 64}, {63, 64}, {64, 65}, {65, 200}, {199, 200}, {200, 0}, {500, 0}};
    for (auto [from, next] : cases) {
        EXPECT_EQ(set.GetNextInSet(from), next) << from;
    }
}

TEST(KsSetTest, RefusesRecordsAndSizesOutOfRangeWithExactMessages) {
    KsSet ten(10, true), nine(9, true), twelve(12, false);
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { ten.SelectRecord(0, true); },
         "Set record value of 0 not valid for set with 10 records."},
        {[&] { ten.SelectRecord(11, true); },
         "Set record value of 11 not valid for set with 10 records."},
        {[&] { ten.IsSelected(11); }, "Set record value of 11 not valid for set with 10 records."},
        {[&] { ten.AddToSet(12, true); },
         "Set record value of 12 not valid for set with 10 records."},
        {[&] { ten.DeleteFromSet(11); },
         "Set record value of 11 not valid for set with 10 records."},
        {[&] { ten.AndSet(nine); },
         "The sets are not the same size; this set has 10 records and the other set has 9"},
        {[&] { nine.OrSet(ten); },
         "The sets are not the same size; this set has 9 records and the other set has 10"},
        {[&] { ten.MaskedOrSet(ten, nine); },
         "The sets are not the same size; this set has 10 records and the other set has 9"},
        {[&] { twelve.ByteAppend(ten); }, "12 is not a multiple of 8"},
        {[&] { KsSet(-1, false); }, "Invalid (negative) set size requested."},
        {[&] { ten.Init(-1); }, "Invalid (negative) set size requested."},
        {[&] { ten.Reset(-1, true); }, "Invalid (negative) set size requested."},
        {[&] { ten.Truncate(-1); }, "Invalid (negative) set size requested."},
    };
    for (const auto& [body, message] : cases) {
        KsException error = CaughtError(body);
        EXPECT_EQ(error.GetErrorMessage(), message);
        EXPECT_STREQ(error.GetClassName(), "KsSet");
    }
    EXPECT_EQ(ten.GetSelectedCount(), 10);
    EXPECT_EQ(ChunkOf(ten), "\xFF\xC0"s + std::string(8, '\0'));
}

TEST(KsSetTest, CorruptStreamsAreRefusedAndLeaveTheSetAsItWas) {
    const std::pair<std::string, std::string> cases[] = {
        {Header(8, 1, 0, 401) + "\x00\x01"s, "Invalid set header information"},
        {Header(8, 1, 0, 400, 12) + "\x00\x01"s, "Invalid header found"},
        {Header(-8, 0, 0), "Invalid record count -8 in set of \"memory\""},
        {Header(24, 4, 0) + "\x00\x04"s,
         "Invalid byte count 4 for 24 records in set of \"memory\""},
        {Header(24, 3, 0) + "\x00\x04"s, "Compressed set of \"memory\" expands beyond its 3 bytes"},
        {Header(24, 3, 8) + "\x12\xFF\x00"s,
         "Compressed set of \"memory\" has a run of length 0 at bitmap byte 1"},
        {Header(10, 2, -1) + "\xFF\x02"s, "Set of \"memory\" has bits set beyond its 10 records"},
        {Header(10, 2, 9) + "\xFF\x01\xC0"s,
         "Set of \"memory\" gives 9 selected records but selects 10"},
        {Header(24, 3, 0) + "\x00"s,
         "Unable to perform a required read at offset 19 of \"memory\""},
        // A huge size with few bytes is refused once the bytes run out, not allocated first.
        {Header(0x7FFFFFFF, 0x10000000, 0) + "\x00\xFF"s,
         "Unable to perform a required read at offset 20 of \"memory\""},
    };
    KsSet set(5, true);
    for (const auto& [bytes, message] : cases) {
        MemoryStream in(bytes);
        KsException error = CaughtError([&] { set.Read(in); });
        EXPECT_EQ(error.GetErrorMessage(), message);
        EXPECT_NE(std::string(error.GetCallpath()).find("Read() of KsSet (memory)"),
                  std::string::npos);
        EXPECT_EQ(StreamOf(set), Header(5, 1, 5) + "\xF8"s);
    }
}

TEST(KsSetTest, RoomKeptFromALargerSizeNeverComesBackSelected) {
    KsSet set(1000, true);
    set.Reset(100, false);
    for (std::int32_t r = 101; r <= 1000; ++r) {
        set.AddToSet(r, false);
    }
    EXPECT_EQ(set.GetSelectedCount(), 0);
    EXPECT_EQ(set.GetNextInSet(0), 0);

    set.Init(2000);  // an initialised set has room for all its records
    set.SelectRecord(2000, true);
    EXPECT_EQ(set.GetNextInSet(0), 2000);

    KsSet empty;
    empty.Compress();
    EXPECT_EQ(empty.AllRecords(), 0);
    EXPECT_FALSE(empty.IsCompressed());
    EXPECT_EQ(ChunkOf(empty), std::string(8, '\0'));
}

TEST(KsSetTest, AppendsKeepTheCompressedFormOfACompressedSet) {
    KsSet set = FromBits({1, 0, 1, 0, 1, 0, 1, 0}), tail(4, true);
    set.ByteAppend(set);
    EXPECT_EQ(ChunkOf(set), "\xAA\xAA"s + std::string(8, '\0'));
    tail.Compress();
    set.ByteAppend(tail);
    EXPECT_TRUE(set.IsCompressed());
    EXPECT_EQ(StreamOf(set), Header(20, 3, 12) + "\xAA\xAA\xF0"s);
    set.Truncate(16);
    set.Compress();
    set.ByteAppend(set);
    EXPECT_EQ(StreamOf(set), Header(32, 4, -1) + "\xAA\xAA\xAA\xAA"s);

    // The largest set there can be refuses to grow.
    std::string huge = Header(0x7FFFFFFF, 0x10000000, 0);
    for (int i = 0; i < 0x10000000 / 255; ++i) {
        huge += "\x00\xFF"s;
    }
    MemoryStream in(huge + "\x00"s + static_cast<char>(0x10000000 % 255));
    set.Read(in);
    EXPECT_EQ(MessageOf([&] { set.AddToSet(1, false); }),
              "A set cannot hold more than 2147483647 records");
    EXPECT_EQ(MessageOf([&] { KsSet(8).ByteAppend(set); }),
              "A set cannot hold more than 2147483647 records");
}

// Random operations against a vector of bools, compressed, streamed and copied at random.
TEST(KsSetTest, RandomOperationsMatchAPlainVectorOfBools) {
    std::mt19937 random(20240611);
    auto below = [&](std::int32_t n) { return static_cast<std::int32_t>(random() % n); };
    auto randomBits = [&](std::size_t size) {
        std::vector<bool> bits(size);
        int density = below(4);
        for (std::size_t i = 0; i < size; ++i) {
            bits[i] = density == 0 ? false : density == 3 ? below(8) != 0 : below(density + 1) == 0;
        }
        return bits;
    };
    std::vector<bool> model = randomBits(150);
    KsSet set = FromBits(model);
    for (int step = 0; step < 6000; ++step) {
        auto size = static_cast<std::int32_t>(model.size());
        std::int32_t record = 1 + below(size + 1);
        switch (below(13)) {
            case 0:
                if (record <= size) {
                    set.SelectRecord(record, model[record - 1] = below(2));
                }
                break;
            case 1: {
                bool on = below(2);
                set.AddToSet(record, on);
                model.insert(model.begin() + record - 1, on);
            } break;
            case 2:
                if (record <= size) {
                    set.DeleteFromSet(record);
                    model.erase(model.begin() + record - 1);
                }
                break;
            case 3: {
                std::int32_t keep = below(size + 3);
                set.Truncate(keep);
                if (keep < size)
                    model.resize(keep);
            } break;
            case 4: {
                auto other = randomBits(size);
                set.AndSet(FromBits(other));
                for (std::int32_t i = 0; i < size; ++i)
                    model[i] = model[i] && other[i];
            } break;
            case 5: {
                auto other = randomBits(size);
                set.OrSet(FromBits(other));
                for (std::int32_t i = 0; i < size; ++i)
                    model[i] = model[i] || other[i];
            } break;
            case 6: {
                auto a = randomBits(size), b = randomBits(size);
                set.MaskedOrSet(FromBits(a), FromBits(b));
                for (std::int32_t i = 0; i < size; ++i)
                    model[i] = model[i] || (a[i] && b[i]);
            } break;
            case 7: {
                std::int32_t n = below(300);
                bool on = below(2);
                set.Reset(n, on);
                model.assign(n, on);
            } break;
            case 8:
                if (size % 8 == 0) {
                    auto other = randomBits(below(90));
                    KsSet tail = FromBits(other);
                    if (below(2))
                        tail.Compress();
                    set.ByteAppend(tail);
                    model.insert(model.end(), other.begin(), other.end());
                }
                break;
            case 9:
                if (below(2)) {
                    set.AllRecords();
                    model.assign(size, true);
                } else {
                    set.NoRecords();
                    model.assign(size, false);
                }
                break;
            case 10: {
                MemoryStream stream;
                set.Write(stream);
                KsSet back(3, true);
                back.Read(stream);
                set = below(2) ? back : *std::unique_ptr<KsSet>(back.Clone());
            } break;
            default:
                if (below(2)) {
                    set.Compress();
                } else {
                    set.Expand();
                }
                break;
        }
        if (step % 7 == 0 || model.size() < 20) {
            ASSERT_NO_FATAL_FAILURE(ExpectMatches(set, model)) << "step " << step;
        }
        if (model.size() > 600) {
            set.Truncate(100);
            model.resize(100);
        }
    }
}

}  // namespace
