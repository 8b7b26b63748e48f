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

/// Size of the reserve block.
inline constexpr std::int64_t kKsAllocReserveSize = 32000;

/// True while the reserve block is held.
bool KsAllocReserveHeld();

/// Gives the reserve block back, if it is held; the next successful KsAlloc takes it again.
void KsAllocReleaseReserve();
