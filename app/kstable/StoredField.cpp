#include "StoredField.h"

#include "files/CBFFormat.h"

std::optional<StoredPlace> StoredPlaceOf(const CBFField& field, std::int32_t recordLength) {
    StoredPlace place;
    place.offset = field.GetByteOffset();
    switch (field.GetType()) {
        case 'N':
        case '$':
        case 'I':
        case 'W':
            place.bytes = kCBFNumberBytes;
            break;
        case 'S':
        case 'U': {
            place.bytes = kCBFWordBytes;
            const std::uint32_t first = field.GetStartingBit();
            const std::uint32_t bits = field.GetNumberOfBits();
            if (!field.BitsFitTheirWord()) {
                return std::nullopt;
            }
            place.shift = static_cast<std::uint8_t>(kCBFWordBits - (first - 1) - bits);
            place.mask = static_cast<std::uint16_t>((1u << bits) - 1);
            break;
        }
        case 'A':
        case 'Y':
            if (field.GetLength() < 0) {
                return std::nullopt;
            }
            place.bytes = static_cast<std::uint16_t>(field.GetLength());
            break;
        default:
            return std::nullopt;
    }
    if (std::int32_t{place.offset} + place.bytes > recordLength) {
        return std::nullopt;
    }
    return place;
}
