#pragma once
/// @file
/// What the two readers of index files share: KsIndexImage, which reads a file whole into
/// compact arrays, and KsIndexMap, which answers from a read-only mapping of it. Both keep
/// values in their file form and records in arrays that are filled once, straight from the
/// file; both find keys by binary search on the values' bytes.

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "core/KsByteOrder.h"
#include "core/KsString.h"
#include "core/KsVector.h"
#include "index/KsIndexKey.h"
#include "index/KsRecordKey.h"
#include "io/KsStreamInterface.h"

namespace KsIndexBytes {

/// Large arrays get huge pages, so that filling them costs few page faults; growing leaves
/// new elements unset, since each is written once, straight from the file.
template <class T>
struct UnsetAllocator : KsLargeAllocator<T> {
    template <class U>
    struct rebind {
        using other = UnsetAllocator<U>;
    };
    template <class U>
    void construct(U* at) noexcept {
        ::new (static_cast<void*>(at)) U;
    }
    template <class U, class... Args>
    void construct(U* at, Args&&... args) {
        ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
    }
};
/// An array of UnsetAllocator.
template <class T>
using Array = std::vector<T, UnsetAllocator<T>>;

/// The vector form as this library writes it: form byte, header (marker word, version),
/// element size, the value 128, byte size, count and growth value, then the records.
inline constexpr std::size_t kPlainVectorHeader = 1 + 4 + 2 + 2 + 4 + 4 + 4 + 4;
/// Where that form keeps its byte size and count (8 bytes: byte size, then count).
inline constexpr std::size_t kPlainVectorSizes = 13;
/// The byte size and count of a plain vector of one record, read as one 8-byte value.
inline constexpr std::uint64_t kOneRecordSizes = 4 | std::uint64_t{1} << 32;

/// Whether `list` starts a record list in the vector form this library writes: form byte 0,
/// the marker, the version and elements of 4 bytes.
inline bool IsPlainVectorStart(const char* list) {
    using KsByteOrder::LoadLittle;
    const auto formAndMarker = static_cast<std::uint16_t>(KsIndexKey::kVectorMarker << 8);
    const std::uint32_t versionAndSize =
        static_cast<std::uint16_t>(KsIndexKey::kVectorVersion) | std::uint32_t{4} << 16;
    return LoadLittle<std::uint16_t>(list) == formAndMarker &&
           LoadLittle<std::uint32_t>(list + 5) == versionAndSize;
}

/// Compares eight bytes of texts a and b: 1 when a orders first there, 0 when b does or both
/// end equal, -1 when they go on the same.
[[gnu::always_inline]] inline int CompareEight(const char* a, const char* b) {
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
    auto x = KsByteOrder::LoadLittle<std::uint64_t>(a);  // first byte lowest
    auto y = KsByteOrder::LoadLittle<std::uint64_t>(b);
    std::uint64_t nuls = ~(((x & kLow7) + kLow7) | x | kLow7);  // top bit of each NUL
    std::uint64_t differ = x ^ y;
    if (differ == 0) {
        return nuls != 0 ? 0 : -1;
    }
    int at = std::countr_zero(differ) / 8;
    if ((nuls & ((std::uint64_t{1} << (8 * at)) - 1)) != 0) {
        return 0;  // both end before they differ
    }
    return static_cast<unsigned char>(a[at]) < static_cast<unsigned char>(b[at]) ? 1 : 0;
}

/// Whether text a orders before text b, both of at most `length` bytes and ending at their
/// first NUL, bytes compared as unsigned values. Eight bytes are compared at a time; the last
/// few of a text of eight bytes or more as the eight that end it, whose first bytes are
/// already known equal and without a NUL. Reads no byte past `length`.
[[gnu::always_inline]] inline bool TextBefore(const char* a, const char* b, std::size_t length) {
    std::size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        int order = CompareEight(a + i, b + i);
        if (order >= 0) {
            return order == 1;
        }
    }
    if (i == length) {
        return false;
    }
    if (length >= 8) {
        return CompareEight(a + length - 8, b + length - 8) == 1;
    }
    for (; i < length; ++i) {
        auto x = static_cast<unsigned char>(a[i]);
        auto y = static_cast<unsigned char>(b[i]);
        if (x != y) {
            return x < y;
        }
        if (x == 0) {
            return false;
        }
    }
    return false;
}

/// Bytes already in memory read as a stream, named as their file and numbered from its
/// offset `start` in errors; Consumed tells how far a reader went.
class BytesStream final : public KsInputStreamInterface {
public:
    BytesStream(const char* bytes, std::size_t size, const char* name, std::int64_t start = 0)
        : bytes_(bytes), size_(size), name_(name), start_(start) {}
    void GetFileName(KsString& out) override { out = name_; }
    std::int32_t Read(void* buffer, std::int32_t count, bool required) override;
    /// The bytes read so far.
    std::size_t Consumed() const { return at_; }

private:
    const char* bytes_;
    std::size_t size_;
    const char* name_;
    std::int64_t start_;
    std::size_t at_ = 0;
};

/// Raises the error of a file that ends at `offset`, before the bytes a reader needed.
[[noreturn]] void EndsTooSoon(std::int64_t offset, const char* name);
/// Raises the error of an index file whose keys list another number of records than the
/// `universe` it covers.
void CheckListedCount(std::int64_t listed, std::int32_t universe, const char* file);

/// The values of an index's keys in their file form, decoded and ordered. An Alpha value is
/// its text, the first `keyLength` bytes of its stored form, ending at the first NUL; any
/// other value its stream form. Searches compare an Alpha value of one piece as a C string
/// of its bytes, any other through its record key.
class Values {
public:
    Values(const KsRecordKey& prototype, std::uint16_t keyLength);

    /// Whether the values are Alpha texts.
    bool IsAlpha() const { return alpha_; }
    /// Whether they are Alpha texts of one piece, ordered as C strings of their bytes.
    bool IsPlainAlpha() const { return plainAlpha_; }
    /// The bytes an Alpha value takes in the file: 8 for a text shorter than that, else the
    /// text and 2 zeros.
    std::size_t AlphaFileBytes() const;
    /// The bytes of the stream form of any other value (the same for every value).
    std::size_t StreamBytes() const;

    /// The value of the file form at `bytes` (`size` bytes) into `value`.
    void Decode(const char* bytes, std::size_t size, KsRecordKey& value);
    /// The same in a scratch key that the next call overwrites.
    const KsRecordKey& At(const char* bytes, std::size_t size) {
        Decode(bytes, size, *scratch_);
        return *scratch_;
    }

    /// @{
    /// The first of `count` values whose bytes are at bytesOf(k) (`size` bytes each) not
    /// less than `value` (LowerBound) or greater than it (UpperBound); `count` when none.
    template <class BytesOf>
    std::int32_t LowerBound(const KsRecordKey& value, std::int32_t count, std::size_t size,
                            BytesOf bytesOf) {
        if (const char* text = PlainText(value)) {
            return Partition(
                count, [&](std::int32_t k) { return TextBefore(bytesOf(k), text, keyLength_); });
        }
        return Partition(count,
                         [&](std::int32_t k) { return At(bytesOf(k), size).IsLessThan(value); });
    }
    template <class BytesOf>
    std::int32_t UpperBound(const KsRecordKey& value, std::int32_t count, std::size_t size,
                            BytesOf bytesOf) {
        if (const char* text = PlainText(value)) {
            return Partition(
                count, [&](std::int32_t k) { return !TextBefore(text, bytesOf(k), keyLength_); });
        }
        return Partition(count,
                         [&](std::int32_t k) { return !value.IsLessThan(At(bytesOf(k), size)); });
    }
    /// @}

private:
    // The first k of [0, count) for which before(k) is false, before being true up to it.
    template <class Before>
    static std::int32_t Partition(std::int32_t count, Before before) {
        std::int32_t low = 0, high = count;
        while (low < high) {
            std::int32_t middle = low + (high - low) / 2;
            before(middle) ? low = middle + 1 : high = middle;
        }
        return low;
    }
    // The text of an Alpha value of one piece, whose bytes the keys' bytes are ordered
    // against; null for any other value.
    const char* PlainText(const KsRecordKey& value) const;

    std::uint16_t keyLength_;
    bool alpha_;
    bool plainAlpha_;
    std::unique_ptr<KsRecordKey> scratch_;
    std::vector<char> text_;  // an Alpha value and its terminating NUL
};

}  // namespace KsIndexBytes
