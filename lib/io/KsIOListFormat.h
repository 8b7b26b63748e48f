#pragma once
/// @file
/// Layout of a list file: singly linked lists of serialized objects in one file, with an
/// allocator of 16-byte-granular blocks and a free list. Words are unsigned 64-bit
/// little-endian; offsets count from the start of the file; a link of 0 ends a list.
///
///   offset    size  field
///   0         8     "ListFile" (no terminator)
///   8         2     version, unsigned 16-bit: 540
///   10        6     zero
///   16        8     head of the free list (first free block, ascending offsets)
///   24 + 8k   8     head of list k
///
/// Every head word is the "next" word of a pseudo-node 8 bytes before it (the free list's
/// at 8, list k's at 16 + 8k), so one walk serves heads and nodes alike. Blocks follow the
/// header; their sizes are multiples of 16, so every block starts at the header's size
/// modulo 16 (the file's size modulo 16, since the file only grows by whole blocks).
///
///   block              word 0 (+0)                    word 1 (+8)
///   free block         its size in bytes              next free block
///   list node          the element's object block     next node
///   list-of-lists node the element's sub-list header  next node
///   sub-list header    the element's object block     head of the element's sub-list
///   object block       32-bit size of the block, then the object's bytes, then padding
///
/// A sub-list header is the pseudo-node of its sub-list. An object of n bytes takes a block
/// of ((n + 3) / 16 + 1) * 16 bytes; its own length is not stored, so objects delimit
/// themselves.

#include <cstdint>

namespace KsIOListFormat {

/// The file's first eight bytes.
inline constexpr char kMarker[8] = {'L', 'i', 's', 't', 'F', 'i', 'l', 'e'};
/// The format version stored after the marker.
inline constexpr std::uint16_t kVersion = 540;
/// Where the version lies.
inline constexpr std::uint64_t kVersionOffset = 8;
/// The bytes of marker and version together.
inline constexpr std::uint64_t kMarkerAndVersionSize = 10;
/// The size of a link or size word.
inline constexpr std::uint64_t kWordSize = 8;
/// Block sizes are multiples of this; a node or a sub-list header is one granule.
inline constexpr std::uint64_t kGranule = 16;
/// The free list's pseudo-node; its head word is at 16.
inline constexpr std::uint64_t kFreeListPosition = 8;
/// Offsets below this are header (a file with one list); no block starts before it.
inline constexpr std::uint64_t kSmallestBlockOffset = 32;

/// The pseudo-node of list `index` (its head word is 8 bytes further).
inline constexpr std::uint64_t ListPosition(std::uint64_t index) {
    return 16 + 8 * index;
}
/// The size of the header of a file with `lists` lists.
inline constexpr std::uint64_t HeaderSize(std::uint64_t lists) {
    return 24 + 8 * lists;
}
/// The block size for an object of `n` bytes: at least n + 4, a multiple of 16.
inline constexpr std::uint64_t ObjectBlockSize(std::uint64_t n) {
    return ((n + 3) / kGranule + 1) * kGranule;
}

}  // namespace KsIOListFormat
