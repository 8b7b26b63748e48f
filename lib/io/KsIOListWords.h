#pragma once
/// @file
/// Reads and writes of the little-endian 64-bit words and the raw bytes of a list file. The
/// list classes read and write the file only through these, so that a KsIOListCache of the
/// file sees every change.

#include <cstdint>

#include "core/KsByteOrder.h"
#include "io/KsIOInterface.h"
#include "io/KsIOListCache.h"

namespace KsIOListWords {

/// `count` bytes at `position`, all of them or the file's read error.
inline void ReadBytes(KsIOInterface& file, std::uint64_t position, void* buffer,
                      std::int32_t count) {
    if (KsIOListCache* cache = KsIOListCache::Of(file)) {
        cache->Read(position, buffer, count);
    } else {
        file.ReadFrom(position, buffer, count, true);
    }
}

/// Writes `count` bytes at `position`; the file's write errors pass through.
inline void WriteRaw(KsIOInterface& file, std::uint64_t position, const void* data,
                     std::int32_t count) {
    if (KsIOListCache* cache = KsIOListCache::Of(file)) {
        cache->Write(position, data, count);
    } else {
        file.WriteTo(position, data, count);
    }
}

/// Makes the write a cache of the file holds back, then the file's own buffered writes.
inline void Flush(KsIOInterface& file) {
    if (KsIOListCache* cache = KsIOListCache::Of(file)) {
        cache->Flush();
    }
    file.Flush();
}

/// The file's size.
inline std::uint64_t Size(KsIOInterface& file) {
    if (KsIOListCache* cache = KsIOListCache::Of(file)) {
        return cache->Size();
    }
    std::int64_t size = file.GetFileSize64();
    return size > 0 ? static_cast<std::uint64_t>(size) : 0;
}

/// The word at `position`; the file's read errors pass through.
inline std::uint64_t Read(KsIOInterface& file, std::uint64_t position) {
    unsigned char bytes[8];
    ReadBytes(file, position, bytes, 8);
    return KsByteOrder::LoadLittle<std::uint64_t>(bytes);
}

/// Writes `value` as the word at `position`; the file's write errors pass through.
inline void Write(KsIOInterface& file, std::uint64_t position, std::uint64_t value) {
    unsigned char bytes[8];
    KsByteOrder::StoreLittle(bytes, value);
    WriteRaw(file, position, bytes, 8);
}

/// Both words of a node or a free block in one write.
inline void WritePair(KsIOInterface& file, std::uint64_t position, std::uint64_t word0,
                      std::uint64_t word1) {
    unsigned char bytes[16];
    KsByteOrder::StoreLittle(bytes, word0);
    KsByteOrder::StoreLittle(bytes + 8, word1);
    WriteRaw(file, position, bytes, 16);
}

/// `count` bytes at `position`, in pieces that the 32-bit counts of the file interface take.
inline void WriteBytes(KsIOInterface& file, std::uint64_t position, const void* data,
                       std::uint64_t count) {
    constexpr std::uint64_t kPiece = 1u << 30;
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (count > 0) {
        std::uint64_t piece = count < kPiece ? count : kPiece;
        WriteRaw(file, position, bytes, static_cast<std::int32_t>(piece));
        position += piece;
        bytes += piece;
        count -= piece;
    }
}

}  // namespace KsIOListWords
