// Record sets from untrusted stream bytes: a read either fails with a library error or
// gives a set whose count matches its bits, that never has bits past its last record,
// that writes back to a stream reading as the same set, and that survives the
// operations the remaining bytes ask for.

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "index/KsSet.h"
#include "support/MemoryStream.h"

namespace {

using ByteStream = kstest::MemoryStream;

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// The expanded bitmap agrees with the count, the search and the size.
void CheckBitmap(const KsSet& set) {
    set.Expand();
    const auto* bits = reinterpret_cast<const unsigned char*>(set.GetChunk().GetData());
    std::size_t chunk = set.GetChunk().GetChunkSize();
    Check(chunk >= static_cast<std::size_t>(set.GetByteCount()) + 8);
    std::int64_t count = 0;
    for (std::size_t i = 0; i < chunk; ++i) {
        count += std::popcount(bits[i]);
    }
    Check(count == set.GetSelectedCount());
    std::int32_t first = set.GetNextInSet(0);
    Check(count == 0 ? first == 0 : first >= 1 && first <= set.GetSize() && set.IsSelected(first));
    std::size_t size = static_cast<std::size_t>(set.GetSize());
    for (std::size_t i = size; i < std::min(chunk * 8, size + 64); ++i) {
        Check((bits[i / 8] & (0x80 >> (i % 8))) == 0);
    }
}

void CheckRoundTrip(const KsSet& set) {
    ByteStream stream;
    set.Write(stream);
    KsSet back;
    back.Read(stream);
    Check(stream.Position() == stream.Bytes().size());
    back.Expand();
    set.Expand();
    Check(back.GetSize() == set.GetSize() && back.GetSelectedCount() == set.GetSelectedCount());
    Check(std::memcmp(back.GetChunk().GetData(), set.GetChunk().GetData(),
                      static_cast<std::size_t>(set.GetByteCount())) == 0);
}

// Each remaining byte picks an operation; the next one picks a record.
void RunOperations(KsSet& set, const std::uint8_t* ops, std::size_t count) {
    for (std::size_t i = 0; i + 1 < count && i < 64; i += 2) {
        std::int32_t record =
            1 + static_cast<std::int32_t>(ops[i + 1] * 7919u %
                                          static_cast<unsigned>(set.GetSize() + 1));
        KsSet copy(set);
        switch (ops[i] % 8) {
            case 0:
                set.AddToSet(record, ops[i] & 0x80);
                break;
            case 1:
                if (record <= set.GetSize())
                    set.DeleteFromSet(record);
                break;
            case 2:
                if (record <= set.GetSize())
                    set.SelectRecord(record, ops[i] & 0x80);
                break;
            case 3:
                set.Truncate(record - 1);
                break;
            case 4:
                set.OrSet(copy);
                break;
            case 5:
                set.MaskedOrSet(copy, copy);
                break;
            case 6:
                if (set.GetSize() % 8 == 0 && set.GetSize() < 65536) {
                    copy.Compress();
                    set.ByteAppend(copy);
                }
                break;
            default:
                set.Compress();
                break;
        }
        CheckBitmap(set);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ByteStream stream(std::string(reinterpret_cast<const char*>(data), size));
    KsSet set(3, true);
    try {
        set.Read(stream);
    } catch (const KsException&) {
        Check(set.GetSize() == 3 && set.GetSelectedCount() == 3);
        return 0;
    }
    Check(stream.Position() <= size);
    CheckBitmap(set);
    CheckRoundTrip(set);
    RunOperations(set, data + stream.Position(), size - stream.Position());
    CheckRoundTrip(set);
    return 0;
}
