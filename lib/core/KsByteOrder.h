#pragma once
/// @file
/// Loads and stores of 16-, 32- and 64-bit values in a fixed byte order, whatever the host's.
/// Stream forms are little-endian; the bit-packed table records are big-endian. Each is one
/// move, with a byte swap when the host's order differs.

#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace KsByteOrder {

/// The unsigned type of the same width as T.
template <class T>
using Unsigned = std::make_unsigned_t<T>;

/// Reverses the bytes of an unsigned value.
template <class U>
constexpr U Swapped(U value) {
    static_assert(std::is_unsigned_v<U>);
    if constexpr (sizeof(U) == 1) {
        return value;
    } else if constexpr (sizeof(U) == 2) {
        return __builtin_bswap16(value);
    } else if constexpr (sizeof(U) == 4) {
        return __builtin_bswap32(value);
    } else {
        static_assert(sizeof(U) == 8);
        return __builtin_bswap64(value);
    }
}

/// `value` in host order converted to `order`, or back (the swap is its own inverse).
template <class U>
constexpr U FromHost(U value, std::endian order) {
    return order == std::endian::native ? value : Swapped(value);
}

/// Writes the integer `value` to `destination` (any alignment) in byte order `order`.
template <class T>
inline void Store(void* destination, T value, std::endian order) {
    static_assert(std::is_integral_v<T>);
    static_assert(std::endian::native == std::endian::little ||
                  std::endian::native == std::endian::big);
    Unsigned<T> bits = FromHost(static_cast<Unsigned<T>>(value), order);
    std::memcpy(destination, &bits, sizeof bits);
}

/// Reads an integer of type T from `source` (any alignment) in byte order `order`.
template <class T>
inline T Load(const void* source, std::endian order) {
    static_assert(std::is_integral_v<T>);
    Unsigned<T> bits;
    std::memcpy(&bits, source, sizeof bits);
    return static_cast<T>(FromHost(bits, order));
}

/// Store, little-endian (the stream forms).
template <class T>
inline void StoreLittle(void* destination, T value) {
    Store(destination, value, std::endian::little);
}

/// Store, big-endian (the compressed binary records).
template <class T>
inline void StoreBig(void* destination, T value) {
    Store(destination, value, std::endian::big);
}

/// Load, little-endian (the stream forms).
template <class T>
inline T LoadLittle(const void* source) {
    return Load<T>(source, std::endian::little);
}

/// Load, big-endian (the compressed binary records).
template <class T>
inline T LoadBig(const void* source) {
    return Load<T>(source, std::endian::big);
}

}  // namespace KsByteOrder
