#pragma once
// Loads and stores of 16-, 32- and 64-bit values in a fixed byte order, whatever the host's.
// Stream forms are little-endian; the bit-packed table records are big-endian. The loops
// compile to single moves (with a byte swap where needed) on current compilers.

#include <cstdint>
#include <type_traits>

namespace KsByteOrder {

template <class T>
using Unsigned = std::make_unsigned_t<T>;

template <class T>
inline void StoreLittle(void* destination, T value) {
    static_assert(std::is_integral_v<T>);
    auto bits = static_cast<Unsigned<T>>(value);
    auto* out = static_cast<unsigned char*>(destination);
    for (unsigned i = 0; i < sizeof(T); ++i) {
        out[i] = static_cast<unsigned char>(bits >> (8 * i));
    }
}

template <class T>
inline void StoreBig(void* destination, T value) {
    static_assert(std::is_integral_v<T>);
    auto bits = static_cast<Unsigned<T>>(value);
    auto* out = static_cast<unsigned char*>(destination);
    for (unsigned i = 0; i < sizeof(T); ++i) {
        out[sizeof(T) - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
    }
}

template <class T>
inline T LoadLittle(const void* source) {
    static_assert(std::is_integral_v<T>);
    const auto* in = static_cast<const unsigned char*>(source);
    Unsigned<T> bits = 0;
    for (unsigned i = 0; i < sizeof(T); ++i) {
        bits = static_cast<Unsigned<T>>(bits | static_cast<Unsigned<T>>(in[i]) << (8 * i));
    }
    return static_cast<T>(bits);
}

template <class T>
inline T LoadBig(const void* source) {
    static_assert(std::is_integral_v<T>);
    const auto* in = static_cast<const unsigned char*>(source);
    Unsigned<T> bits = 0;
    for (unsigned i = 0; i < sizeof(T); ++i) {
        bits = static_cast<Unsigned<T>>(bits << 8 | in[i]);
    }
    return static_cast<T>(bits);
}

}  // namespace KsByteOrder
