#pragma once
// What the import and export plans need to know of a field of a compressed binary table:
// where its stored bits lie in a record, checked as the record class checks them.

#include <cstdint>
#include <optional>

#include "files/CBFField.h"

struct StoredPlace {
    std::uint16_t offset = 0;  // of the field's first byte
    std::uint16_t bytes = 0;   // 4 for a number, 2 for a bit string's word, else the length
    // A bit string's shift from its word's least significant bit and its mask there.
    std::uint8_t shift = 0;
    std::uint16_t mask = 0;
};

// The field's place in a record of `recordLength` bytes; nothing for a field of a type the
// format does not store, or one that does not lie inside the record or its word (the
// generic path refuses those with its own words).
std::optional<StoredPlace> StoredPlaceOf(const CBFField& field, std::int32_t recordLength);

// 10 to the power 0 to 9; 0 outside.
constexpr std::uint32_t PowerOfTen(int exponent) {
    constexpr std::uint32_t kPowers[] = {1,      10,      100,      1000,      10000,
                                         100000, 1000000, 10000000, 100000000, 1000000000};
    return exponent >= 0 && exponent <= 9 ? kPowers[exponent] : 0;
}
