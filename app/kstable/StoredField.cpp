#include "StoredField.h"

#include "files/CBFFormat.h"
#include "files/KsFieldTypeLetters.h"

std::optional<StoredPlace> StoredPlaceOf(const CBFField& field, std::int32_t recordLength) {
    StoredPlace place;
    place.offset = field.GetByteOffset();
    switch (field.GetType()) {
        case KS_NUMBER_FLD:
        case KS_CURRENCY_FLD:
        case KS_LONG_FLD:
        case KS_ULONG_FLD:
            place.bytes = kCBFNumberBytes;
            break;
        case KS_SHORT_FLD:
        case KS_USHORT_FLD: {
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
        case KS_ALPHA_FLD:
        case KS_BINARY_FLD:
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
