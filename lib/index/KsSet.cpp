#include "index/KsSet.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>
#include <limits>

#include "core/KsByteOrder.h"
#include "core/KsCallpath.h"

namespace {

constexpr const char* kClass = "KsSet";
// Zero bytes kept after every bitmap, so that its last 8-byte block can be read whole.
constexpr std::int32_t kSlack = 8;
constexpr std::int32_t kMaximumRecords = std::numeric_limits<std::int32_t>::max();
// Largest piece of a compressed bitmap read from a stream at once.
constexpr std::int64_t kReadPiece = 64 * 1024;

std::int32_t ByteCountFor(std::int32_t records) {
    return records == 0 ? 0 : (records - 1) / 8 + 1;
}

// The bits of the last bitmap byte that belong to records.
unsigned char LastByteMask(std::int32_t records) {
    int used = records % 8;
    return static_cast<unsigned char>(used == 0 ? 0xFF : 0xFF << (8 - used));
}

// The `count` most significant bits of a byte.
unsigned char HighBits(int count) {
    return static_cast<unsigned char>(0xFF00 >> count);
}

std::uint64_t LoadNative(const unsigned char* p) {
    std::uint64_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

void StoreNative(unsigned char* p, std::uint64_t value) {
    std::memcpy(p, &value, sizeof value);
}

// Big-endian blocks put the lowest record of the block in the most significant bit.
std::uint64_t LoadBlock(const unsigned char* p) {
    return KsByteOrder::LoadBig<std::uint64_t>(p);
}

void StoreBlock(unsigned char* p, std::uint64_t value) {
    KsByteOrder::StoreBig(p, value);
}

bool HasZeroByte(std::uint64_t v) {
    return ((v - 0x0101010101010101ull) & ~v & 0x8080808080808080ull) != 0;
}

// Number of leading bytes that are neither 0x00 nor 0xFF, that is, that stand for
// themselves in the compressed form.
std::size_t LiteralSpan(const unsigned char* p, std::size_t n) {
    std::size_t i = 0;
    while (i + 8 <= n) {
        std::uint64_t v = LoadNative(p + i);
        if (HasZeroByte(v) || HasZeroByte(~v)) {
            break;
        }
        i += 8;
    }
    while (i < n && p[i] != 0x00 && p[i] != 0xFF) {
        ++i;
    }
    return i;
}

// Number of leading bytes equal to p[0], at most `limit` (at least 1).
std::size_t RunLength(const unsigned char* p, std::size_t limit) {
    std::uint64_t pattern = p[0] == 0 ? 0 : ~std::uint64_t{0};
    std::size_t i = 1;
    while (i + 8 <= limit && LoadNative(p + i) == pattern) {
        i += 8;
    }
    while (i < limit && p[i] == p[0]) {
        ++i;
    }
    return i;
}

std::int64_t CountBits(const unsigned char* p, std::size_t n) {
    std::int64_t count = 0;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        count += std::popcount(LoadNative(p + i));
    }
    for (; i < n; ++i) {
        count += std::popcount(p[i]);
    }
    return count;
}

// The fewest compressed bytes that can expand to `remaining` bytes: a run gives at most
// 255 bytes for two, a literal one byte for one. Reading no more than this from a stream
// never reads past the end of a stored set.
std::int64_t MinimumCompressedLength(std::int64_t remaining) {
    std::int64_t tail = remaining % 255;
    return remaining / 255 * 2 + (tail == 0 ? 0 : tail == 1 ? 1 : 2);
}

// Writes the compressed form of `n` bitmap bytes to `out`, which has room for 2n bytes
// (a lone 0x00 or 0xFF takes two); returns its length.
std::size_t CompressBitmap(const unsigned char* in, std::size_t n, unsigned char* out) {
    std::size_t o = 0;
    for (std::size_t i = 0; i < n;) {
        std::size_t literals = LiteralSpan(in + i, n - i);
        std::memcpy(out + o, in + i, literals);
        o += literals;
        i += literals;
        if (i == n) {
            break;
        }
        std::size_t run = RunLength(in + i, std::min<std::size_t>(n - i, 255));
        out[o++] = in[i];
        out[o++] = static_cast<unsigned char>(run);
        i += run;
    }
    return o;
}

// Walks a compressed bitmap, handing its literal bytes and runs to a sink. It stops with
// false at a run of length 0 (never written, and it would let a stored bitmap grow
// without end) or where the bitmap would grow beyond `capacity` bytes. The bytes may come
// in pieces: a run byte at the end of one piece takes its count from the next.
class RunDecoder {
public:
    explicit RunDecoder(std::int64_t capacity) : capacity_(capacity) {}

    template <class Sink>
    bool Feed(const unsigned char* in, std::size_t n, Sink& sink) {
        std::size_t i = 0;
        if (pendingRun_ >= 0 && n > 0) {
            if (!Run(static_cast<unsigned char>(pendingRun_), in[0], sink)) {
                return false;
            }
            pendingRun_ = -1;
            i = 1;
        }
        while (i < n) {
            std::size_t literals = LiteralSpan(in + i, n - i);
            if (literals > 0) {
                if (static_cast<std::int64_t>(literals) > capacity_ - produced_) {
                    reached_ = capacity_ + 1;
                    return false;
                }
                sink.Literals(in + i, literals, produced_);
                produced_ += static_cast<std::int64_t>(literals);
                i += literals;
            } else if (i + 1 == n) {
                pendingRun_ = in[i++];
            } else {
                if (!Run(in[i], in[i + 1], sink)) {
                    return false;
                }
                i += 2;
            }
        }
        return true;
    }

    std::int64_t Produced() const { return produced_; }
    bool Pending() const { return pendingRun_ >= 0; }
    // Why Feed returned false: a run of length 0, else an overrun; and for an overrun
    // where the bitmap would have ended.
    bool EmptyRun() const { return emptyRun_; }
    std::int64_t Reached() const { return reached_; }

private:
    template <class Sink>
    bool Run(unsigned char value, unsigned char count, Sink& sink) {
        if (count == 0) {
            emptyRun_ = true;
            return false;
        }
        if (count > capacity_ - produced_) {
            reached_ = produced_ + count;
            return false;
        }
        sink.Run(value, count, produced_);
        produced_ += count;
        return true;
    }

    std::int64_t capacity_;
    std::int64_t produced_ = 0;
    std::int64_t reached_ = 0;
    bool emptyRun_ = false;
    int pendingRun_ = -1;
};

// Expands into a bitmap that has room for the decoder's capacity.
struct ExpandSink {
    unsigned char* out;
    void Literals(const unsigned char* p, std::size_t n, std::int64_t at) {
        std::memcpy(out + at, p, n);
    }
    void Run(unsigned char value, unsigned char count, std::int64_t at) {
        std::memset(out + at, value, count);
    }
};

// Counts the selected bits of a compressed bitmap and keeps its last byte.
struct ScanSink {
    std::int64_t selected = 0;
    unsigned char last = 0;
    void Literals(const unsigned char* p, std::size_t n, std::int64_t) {
        selected += CountBits(p, n);
        last = p[n - 1];
    }
    void Run(unsigned char value, unsigned char count, std::int64_t) {
        last = value;
        selected += value == 0xFF ? 8 * count : 0;
    }
};

// Moves the bits from `position` on one place towards higher positions in a bitmap of
// `byteCount` bytes; `position` becomes 0. The bit leaving the last byte must be 0.
void ShiftUpFrom(unsigned char* bits, std::int32_t position, std::int32_t byteCount) {
    std::int32_t first = position / 8;
    unsigned char keep = HighBits(position % 8);
    unsigned char x = bits[first];
    unsigned carry = x & 1u;
    bits[first] = static_cast<unsigned char>((x & keep) | ((x & ~keep & 0xFF) >> 1));
    std::int32_t i = first + 1;
    for (; i + 8 <= byteCount; i += 8) {
        std::uint64_t w = LoadBlock(bits + i);
        StoreBlock(bits + i, (w >> 1) | (std::uint64_t{carry} << 63));
        carry = static_cast<unsigned>(w & 1u);
    }
    for (; i < byteCount; ++i) {
        unsigned char b = bits[i];
        bits[i] = static_cast<unsigned char>((b >> 1) | (carry << 7));
        carry = b & 1u;
    }
    assert(carry == 0);
}

// Removes the bit at `position` from a bitmap of `byteCount` bytes followed by zero
// slack, moving every later bit one place towards lower positions.
void ShiftDownFrom(unsigned char* bits, std::int32_t position, std::int32_t byteCount) {
    std::int32_t first = position / 8;
    unsigned char keep = HighBits(position % 8);
    unsigned char x = bits[first];
    bits[first] =
        static_cast<unsigned char>((x & keep) | ((x << 1) & ~keep & 0xFF) | (bits[first + 1] >> 7));
    std::int32_t i = first + 1;
    for (; i + 8 <= byteCount; i += 8) {
        std::uint64_t w = LoadBlock(bits + i);
        StoreBlock(bits + i, (w << 1) | (bits[i + 8] >> 7));
    }
    for (; i < byteCount; ++i) {
        bits[i] = static_cast<unsigned char>((bits[i] << 1) | (bits[i + 1] >> 7));
    }
}

// bits[block] = combine(bits[block], sources[block]...) for the 8-byte blocks before `end`.
// The pointers are locals, so the loop need not reload them after every store.
template <class Combine, class... Sources>
void CombineEachBlock(unsigned char* bits, std::size_t end, Combine combine,
                      const Sources*... sources) {
    for (std::size_t i = 0; i < end; i += 8) {
        StoreNative(bits + i, combine(LoadNative(bits + i), LoadNative(sources + i)...));
    }
}

// The stored counts of a set read from a stream.
struct StoredHeader {
    std::int32_t records;
    std::int32_t bytes;
    std::int32_t selected;
};

void CheckStoredHeader(const StoredHeader& header, const char* file) {
    if (header.records < 0) {
        KsException::Generate("Invalid record count %ld in set of \"%s\"", kClass,
                              static_cast<long>(header.records), file);
    }
    if (header.bytes != ByteCountFor(header.records)) {
        KsException::Generate("Invalid byte count %ld for %ld records in set of \"%s\"", kClass,
                              static_cast<long>(header.bytes), static_cast<long>(header.records),
                              file);
    }
}

// Takes no notice of the bits, for a reader that only passes a stored set.
struct SkipSink {
    void Literals(const unsigned char*, std::size_t, std::int64_t) {}
    void Run(unsigned char, unsigned char, std::int64_t) {}
};

// Reads the stored header's counts and checks them.
StoredHeader ReadStoredHeader(KsInputStreamInterface& stream, const char* file) {
    if (stream.ReadKsHeader(KsSet::kStreamMarker) != KsSet::kStreamVersion) {
        KsException::Generate("Invalid set header information", kClass);
    }
    StoredHeader header;
    header.records = stream.ReadLong();
    header.bytes = stream.ReadLong();
    header.selected = stream.ReadLong();
    CheckStoredHeader(header, file);
    return header;
}

// Reads compressed bytes until they expand to header.bytes, checking them on the way;
// never reads past them. Returns what the scan found; `out` receives exactly the bytes.
template <class Sink>
Sink ReadCompressedBitmap(KsInputStreamInterface& stream, const StoredHeader& header,
                          const char* file, KsResizableChunk& out) {
    RunDecoder decoder(header.bytes);
    Sink scan;
    std::int64_t length = 0;
    while (decoder.Produced() < header.bytes || decoder.Pending()) {
        std::int64_t piece =
            decoder.Pending()
                ? 1
                : std::min(kReadPiece, MinimumCompressedLength(header.bytes - decoder.Produced()));
        if (length + piece > out.GetChunkSize()) {
            std::int64_t room = std::max<std::int64_t>(length + piece, 2 * length);
            out.Resize(static_cast<std::int32_t>(room));
        }
        auto* at = reinterpret_cast<unsigned char*>(out.GetData()) + length;
        stream.Read(at, static_cast<std::int32_t>(piece), true);
        if (!decoder.Feed(at, static_cast<std::size_t>(piece), scan)) {
            if (decoder.EmptyRun()) {
                KsException::Generate(
                    "Compressed set of \"%s\" has a run of length 0 at bitmap byte %ld", kClass,
                    file, static_cast<long>(decoder.Produced()));
            }
            KsException::Generate("Compressed set of \"%s\" expands beyond its %ld bytes", kClass,
                                  file, static_cast<long>(header.bytes));
        }
        length += piece;
    }
    out.Resize(static_cast<std::int32_t>(length));
    return scan;
}

void CheckScannedBitmap(const StoredHeader& header, const ScanSink& scan, const char* file) {
    if (header.bytes > 0 && (scan.last & ~LastByteMask(header.records)) != 0) {
        KsException::Generate("Set of \"%s\" has bits set beyond its %ld records", kClass, file,
                              static_cast<long>(header.records));
    }
    if (header.selected != -1 && header.selected != scan.selected) {
        KsException::Generate("Set of \"%s\" gives %ld selected records but selects %ld", kClass,
                              file, static_cast<long>(header.selected),
                              static_cast<long>(scan.selected));
    }
}

void CheckSize(std::int32_t lRecords) {
    if (lRecords < 0) {
        KsException::Generate("Invalid (negative) set size requested.", kClass);
    }
}

void CheckRoomFor(std::int64_t records) {
    if (records > kMaximumRecords) {
        KsException::Generate("A set cannot hold more than %ld records", kClass,
                              static_cast<long>(kMaximumRecords));
    }
}

}  // namespace

KsSet::KsSet(std::int32_t lRecords, bool bAllSelected) {
    KsCallpath("KsSet()", kClass, [&] {
        CheckSize(lRecords);
        Reset(lRecords, bAllSelected);
    });
}

KsSet::KsSet(const KsSet& other) : KsArrayPointerObject(other) {
    Init(0);
    Copy(other);
}

KsSet& KsSet::operator=(const KsSet& other) {
    if (this != &other) {
        Copy(other);
    }
    return *this;
}

void KsSet::Init(std::int32_t lRecords) {
    KsCallpath("Init()", kClass, [&] {
        CheckSize(lRecords);
        // A set is never left with fewer bytes than its records need.
        bits_.ResizeChunk(static_cast<std::uint32_t>(ByteCountFor(lRecords) + kSlack), true, 0);
        recordCount_ = lRecords;
        byteCount_ = ByteCountFor(lRecords);
        selectedCount_ = 0;
        compressed_ = false;
        assert(HoldsItsForm());
    });
}

void KsSet::Copy(const KsSet& other) {
    KsCallpath("Copy()", kClass, [&] {
        bits_ = other.bits_;
        byteCount_ = other.byteCount_;
        compressed_ = other.compressed_;
        recordCount_ = other.recordCount_;
        selectedCount_ = other.selectedCount_;
    });
}

std::int32_t KsSet::Reset(std::int32_t lRecords, bool bSelect) {
    return KsCallpath("Reset()", kClass, [&] {
        CheckSize(lRecords);
        MakeRoom(ByteCountFor(lRecords));
        recordCount_ = lRecords;
        byteCount_ = ByteCountFor(lRecords);
        compressed_ = false;
        if (bSelect) {
            return AllRecords();
        }
        NoRecords();
        return 0;
    });
}

std::int32_t KsSet::GetSelectedCount() const {
    return KsCallpath("GetSelectedCount()", kClass, [&] {
        if (selectedCount_ == -1) {
            Expand();
            // The slack and the bits past the last record are zero, so whole blocks count.
            selectedCount_ = static_cast<std::int32_t>(CountBits(Bytes(), byteCount_ / 8 * 8 + 8));
        }
        return selectedCount_;
    });
}

std::int32_t KsSet::GetNextInSet(std::int32_t lRecord) const {
    return KsCallpath("GetNextInSet()", kClass, [&]() -> std::int32_t {
        if (lRecord >= recordCount_) {
            return 0;
        }
        std::int32_t position = std::max(lRecord, 0);
        Expand();
        const unsigned char* bits = Bytes();
        std::int32_t block = position / 64;
        std::int32_t lastBlock = (recordCount_ - 1) / 64;
        std::uint64_t word = LoadBlock(bits + block * 8) & (~std::uint64_t{0} >> (position % 64));
        while (word == 0) {
            if (++block > lastBlock) {
                return 0;
            }
            word = LoadBlock(bits + block * 8);
        }
        std::int64_t found = std::int64_t{block} * 64 + std::countl_zero(word) + 1;
        return found > recordCount_ ? 0 : static_cast<std::int32_t>(found);
    });
}

bool KsSet::IsSelected(std::int32_t lRecord) const {
    return KsCallpath("IsSelected()", kClass, [&] {
        CheckRecord(lRecord, recordCount_);
        Expand();
        std::int32_t position = lRecord - 1;
        return (Bytes()[position / 8] & (0x80 >> (position % 8))) != 0;
    });
}

void KsSet::SelectRecord(std::int32_t lRecord, bool bSelect) {
    KsCallpath("SelectRecord()", kClass, [&] {
        Expand();
        CheckRecord(lRecord, recordCount_);
        std::int32_t position = lRecord - 1;
        unsigned char& byte = Bytes()[position / 8];
        auto mask = static_cast<unsigned char>(0x80 >> (position % 8));
        if (((byte & mask) != 0) == bSelect) {
            return;
        }
        byte = static_cast<unsigned char>(bSelect ? byte | mask : byte & ~mask);
        if (selectedCount_ != -1) {
            selectedCount_ += bSelect ? 1 : -1;
        }
        assert(HoldsItsForm());
    });
}

void KsSet::AddToSet(std::int32_t lRecord, bool bSelect) {
    KsCallpath("AddToSet()", kClass, [&] {
        CheckRoomFor(std::int64_t{recordCount_} + 1);
        CheckRecord(lRecord, recordCount_ + 1);
        Expand();
        std::int32_t oldRecords = recordCount_;
        MakeRoom(ByteCountFor(oldRecords + 1));
        recordCount_ = oldRecords + 1;
        byteCount_ = ByteCountFor(recordCount_);
        if (lRecord <= oldRecords) {
            ShiftUpFrom(Bytes(), lRecord - 1, byteCount_);
        }
        if (bSelect) {
            SelectRecord(lRecord, true);
        }
        assert(HoldsItsForm());
    });
}

void KsSet::DeleteFromSet(std::int32_t lRecord) {
    KsCallpath("DeleteFromSet()", kClass, [&] {
        CheckRecord(lRecord, recordCount_);
        Expand();
        bool wasSelected = IsSelected(lRecord);
        ShiftDownFrom(Bytes(), lRecord - 1, byteCount_);
        --recordCount_;
        byteCount_ = ByteCountFor(recordCount_);
        if (selectedCount_ != -1 && wasSelected) {
            --selectedCount_;
        }
        assert(HoldsItsForm());
    });
}

void KsSet::Truncate(std::int32_t lRecords) {
    KsCallpath("Truncate()", kClass, [&] {
        CheckSize(lRecords);
        if (lRecords >= recordCount_) {
            return;
        }
        Expand();
        bits_.Resize(ByteCountFor(lRecords) + kSlack);
        byteCount_ = ByteCountFor(lRecords);
        if (byteCount_ > 0) {
            Bytes()[byteCount_ - 1] &= LastByteMask(lRecords);
        }
        std::memset(Bytes() + byteCount_, 0, kSlack);
        recordCount_ = lRecords;
        selectedCount_ = -1;
        assert(HoldsItsForm());
    });
}

template <class Combine, class... Others>
void KsSet::CombineBlocks(Combine combine, const Others&... others) {
    (CheckSameSize(others), ...);
    selectedCount_ = -1;
    Expand();
    (others.Expand(), ...);
    // Blocks 0 to byteCount_ / 8 cover the bitmap; the last one may reach into the slack.
    CombineEachBlock(Bytes(), static_cast<std::size_t>(byteCount_ / 8 * 8 + 8), combine,
                     static_cast<const unsigned char*>(others.Bytes())...);
    assert(HoldsItsForm());
}

void KsSet::AndSet(const KsSet& other) {
    KsCallpath("AndSet()", kClass, [&] {
        CombineBlocks([](std::uint64_t a, std::uint64_t b) { return a & b; }, other);
    });
}

void KsSet::OrSet(const KsSet& other) {
    KsCallpath("OrSet()", kClass, [&] {
        CombineBlocks([](std::uint64_t a, std::uint64_t b) { return a | b; }, other);
    });
}

void KsSet::MaskedOrSet(const KsSet& a, const KsSet& b) {
    KsCallpath("MaskedOrSet()", kClass, [&] {
        CombineBlocks(
            [](std::uint64_t self, std::uint64_t x, std::uint64_t y) { return self | (x & y); }, a,
            b);
    });
}

std::int32_t KsSet::AllRecords() {
    return KsCallpath("AllRecords()", kClass, [&] {
        if (compressed_) {
            bits_.Resize(byteCount_ + kSlack);
            compressed_ = false;
        }
        unsigned char* bits = Bytes();
        std::memset(bits, 0xFF, static_cast<std::size_t>(byteCount_));
        if (byteCount_ > 0) {
            bits[byteCount_ - 1] &= LastByteMask(recordCount_);
        }
        std::memset(bits + byteCount_, 0, bits_.GetChunkSize() - byteCount_);
        selectedCount_ = recordCount_;
        assert(HoldsItsForm());
        return recordCount_;
    });
}

void KsSet::NoRecords() {
    KsCallpath("NoRecords()", kClass, [&] {
        if (compressed_) {
            bits_.Resize(byteCount_ + kSlack);
            compressed_ = false;
        }
        // The whole chunk, not only the bitmap: room kept from a larger size must not
        // hold bits that a later growth would take in.
        std::memset(Bytes(), 0, bits_.GetChunkSize());
        selectedCount_ = 0;
        assert(HoldsItsForm());
    });
}

void KsSet::ByteAppend(const KsSet& other) {
    KsCallpath("ByteAppend()", kClass, [&] {
        if (recordCount_ % 8 != 0) {
            KsException::Generate("%d is not a multiple of %d", kClass, recordCount_, 8);
        }
        std::int64_t records = std::int64_t{recordCount_} + other.recordCount_;
        CheckRoomFor(records);
        // Taken first: `other` may be this set.
        std::int32_t otherSelected = other.selectedCount_;
        std::int32_t otherBytes = other.byteCount_;
        if (other.compressed_) {
            Compress();
            bits_.CopyFrom(other.bits_, other.bits_.GetChunkSize(), 0, bits_.GetChunkSize());
        } else {
            Expand();
            bits_.CopyFrom(other.bits_, static_cast<std::uint32_t>(otherBytes + kSlack), 0,
                           static_cast<std::uint32_t>(byteCount_));
        }
        selectedCount_ =
            selectedCount_ != -1 && otherSelected != -1 ? selectedCount_ + otherSelected : -1;
        recordCount_ = static_cast<std::int32_t>(records);
        byteCount_ = ByteCountFor(recordCount_);
        assert(HoldsItsForm());
    });
}

void KsSet::Compress() const {
    KsCallpath("Compress()", kClass, [&] {
        if (!compressed_) {
            PrivateCompress();
        }
    });
}

void KsSet::Expand() const {
    KsCallpath("Expand()", kClass, [&] {
        if (compressed_) {
            PrivateExpand();
        }
    });
}

void KsSet::PrivateCompress() const {
    KsResizableChunk out;
    out.Resize(std::max(2 * byteCount_, kSlack));
    std::size_t length = CompressBitmap(Bytes(), static_cast<std::size_t>(byteCount_),
                                        reinterpret_cast<unsigned char*>(out.GetData()));
    out.Resize(static_cast<std::int32_t>(length));
    bits_.Swap(out);
    compressed_ = true;
}

void KsSet::PrivateExpand() const {
    KsResizableChunk out(static_cast<std::uint32_t>(byteCount_ + kSlack));
    RunDecoder decoder(byteCount_);
    ExpandSink sink{reinterpret_cast<unsigned char*>(out.GetData())};
    if (!decoder.Feed(Bytes(), bits_.GetChunkSize(), sink)) {
        KsException::Generate("Overrun! Wrote up to %d bytes in a %d byte chunk", kClass,
                              static_cast<int>(decoder.Reached()), byteCount_);
    }
    // Compressed forms come only from compressing, appending and checked reads.
    assert(decoder.Produced() == byteCount_ && !decoder.Pending());
    bits_.Swap(out);
    compressed_ = false;
    assert(HoldsItsForm());
}

void KsSet::Write(KsOutputStreamInterface& stream) const {
    KsString file;
    stream.GetFileName(file);
    KsCallpath("Write()", kClass, file.GetCString(), [&] {
        stream.WriteKsHeader(kStreamMarker, kStreamVersion);
        stream.WriteLong(recordCount_);
        stream.WriteLong(byteCount_);
        stream.WriteLong(selectedCount_);
        Compress();
        if (bits_.GetChunkSize() > 0) {
            stream.Write(bits_.GetData(), static_cast<std::int32_t>(bits_.GetChunkSize()));
        }
    });
}

void KsSet::Read(KsInputStreamInterface& stream) {
    KsString file;
    stream.GetFileName(file);
    KsCallpath("Read()", kClass, file.GetCString(), [&] {
        const StoredHeader header = ReadStoredHeader(stream, file.GetCString());
        KsResizableChunk compressed;
        auto scan = ReadCompressedBitmap<ScanSink>(stream, header, file.GetCString(), compressed);
        CheckScannedBitmap(header, scan, file.GetCString());
        // Nothing changes until the whole set has been read and checked.
        bits_.Swap(compressed);
        recordCount_ = header.records;
        byteCount_ = header.bytes;
        selectedCount_ = header.selected;
        compressed_ = true;
    });
}

KsSet::Stored KsSet::Skip(KsInputStreamInterface& stream) {
    KsString file;
    stream.GetFileName(file);
    return KsCallpath("Skip()", kClass, file.GetCString(), [&] {
        const StoredHeader header = ReadStoredHeader(stream, file.GetCString());
        KsResizableChunk compressed;
        if (header.selected < 0) {
            auto scan =
                ReadCompressedBitmap<ScanSink>(stream, header, file.GetCString(), compressed);
            return Stored{header.records, static_cast<std::int32_t>(scan.selected)};
        }
        ReadCompressedBitmap<SkipSink>(stream, header, file.GetCString(), compressed);
        return Stored{header.records, header.selected};
    });
}

// The notes' form: the byte count follows the records; an expanded bitmap has no bits past
// its last record and 8 zero bytes after it; a cached count lies within the records.
bool KsSet::HoldsItsForm() const {
    if (byteCount_ != ByteCountFor(recordCount_) || selectedCount_ < -1 ||
        selectedCount_ > recordCount_) {
        return false;
    }
    if (compressed_) {
        return true;
    }
    const unsigned char* bits = Bytes();
    if (bits_.GetChunkSize() < static_cast<std::uint32_t>(byteCount_ + kSlack) ||
        (byteCount_ > 0 && (bits[byteCount_ - 1] & ~LastByteMask(recordCount_)) != 0)) {
        return false;
    }
    return std::all_of(bits + byteCount_, bits + byteCount_ + kSlack,
                       [](unsigned char c) { return c == 0; });
}

void KsSet::MakeRoom(std::int32_t byteCount) {
    if (bits_.GetChunkSize() < static_cast<std::uint32_t>(byteCount + kSlack)) {
        bits_.ResizeChunk(static_cast<std::uint32_t>(byteCount + kSlack), false, 0);
    }
}

void KsSet::CheckRecord(std::int32_t lRecord, std::int32_t lastValid) const {
    if (lRecord < 1 || lRecord > lastValid) {
        KsException::Generate("Set record value of %ld not valid for set with %ld records.", kClass,
                              static_cast<long>(lRecord), static_cast<long>(recordCount_));
    }
}

void KsSet::CheckSameSize(const KsSet& other) const {
    if (other.recordCount_ != recordCount_) {
        KsException::Generate(
            "The sets are not the same size; this set has %d records and the other set has %d",
            kClass, recordCount_, other.recordCount_);
    }
}
