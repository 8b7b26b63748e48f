#pragma once
/// @file
/// The library's allocation function. It keeps a reserve block of 32000 bytes that it
/// gives back before reporting that memory ran out, so that building and showing the
/// error still has room to work.

#include <cstdint>

/// Returns a new block of `size` bytes, released with delete[]. A block of at least one
/// byte starts with a NUL. Throws KsMemoryException for a negative size or when memory
/// runs out.
char* KsAlloc(std::int64_t size);

/// Arrays of at least this many bytes are taken from KsAllocLarge by KsLargeAllocator.
inline constexpr std::int64_t kKsLargeBlockSize = std::int64_t{2} << 20;

/// Returns a new zeroed block of `size` bytes mapped straight from the system, aligned to
/// and rounded up to whole huge pages, which the system is asked to use: a large array then
/// costs one page fault every 2 MiB instead of every 4 KiB. Released with KsFreeLarge and
/// the same size. Throws KsMemoryException like KsAlloc.
char* KsAllocLarge(std::int64_t size);

/// Releases a block of `size` bytes given by KsAllocLarge.
void KsFreeLarge(char* block, std::int64_t size) noexcept;

/// Size of the reserve block.
inline constexpr std::int64_t kKsAllocReserveSize = 32000;

/// True while the reserve block is held.
bool KsAllocReserveHeld();

/// Gives the reserve block back, if it is held; the next successful KsAlloc takes it again.
void KsAllocReleaseReserve();
