#include "files/CBFField.h"

#include "core/KsCallpath.h"
#include "files/CBFFormat.h"
#include "files/KsFieldTypeLetters.h"
#include "files/KsSectionValues.h"
#include "ini/KsIniFile.h"

namespace {

constexpr const char* kFieldClass = "CBFField";
constexpr const char* kBitsClass = "CBFBits";

}  // namespace

// ---- CBFBits

CBFBits::CBFBits(std::uint32_t bitOffset, std::uint32_t bitCount) {
    SetPosition(bitOffset, bitCount);
}

void CBFBits::SetPosition(std::uint32_t bitOffset, std::uint32_t bitCount) {
    KsCallpath("SetPosition()", kBitsClass, [&] {
        std::uint64_t last = std::uint64_t{bitOffset} + bitCount - 1;
        if (bitCount == 0 || bitOffset / kCBFWordBits != last / kCBFWordBits) {
            KsException::Generate(
                "Bit string of length %u at offset %u would cross a %u-bit "
                "boundary",
                kBitsClass, bitCount, bitOffset, kCBFWordBits);
        }
        bitOffset_ = bitOffset;
        bitCount_ = bitCount;
    });
}

// ---- CBFField

CBFField::CBFField(const KsField& source) : KsField(source) {
    if (const auto* field = dynamic_cast<const CBFField*>(&source)) {
        startingBit_ = field->startingBit_;
        numberOfBits_ = field->numberOfBits_;
        divisor_ = field->divisor_;
    }
}

bool CBFField::BitsFitTheirWord() const {
    return startingBit_ >= 1 && numberOfBits_ >= 1 &&
           startingBit_ - 1u + numberOfBits_ <= kCBFWordBits;
}

CBFField::CBFField(const CBFField& source)
    : KsField(source),
      startingBit_(source.startingBit_),
      numberOfBits_(source.numberOfBits_),
      divisor_(source.divisor_) {}

CBFField::~CBFField() = default;

void CBFField::CopyStoredForm(const KsField& source) {
    if (const auto* field = dynamic_cast<const CBFField*>(&source)) {
        numberOfBits_ = field->numberOfBits_;
        divisor_ = field->divisor_;
    }
}

CBFField* CBFField::Clone() const {
    return KsCallpath("Clone()", kFieldClass, [&] { return new CBFField(*this); });
}

char CBFField::TypeCode(char type) {
    switch (type) {
        case KS_NUMBER_FLD:
            return kCBFNumberCode;
        case KS_USHORT_FLD:
            return kCBFUnsignedShortCode;
        case KS_SHORT_FLD:
            return kCBFShortCode;
        default:
            return type;
    }
}

char CBFField::TypeFromCode(char code) {
    switch (code) {
        case kCBFShortCode:
        case kCBFShortCodeAlternative:
            return KS_SHORT_FLD;
        case kCBFUnsignedShortCode:
            return KS_USHORT_FLD;
        case kCBFNumberCode:
            return KS_NUMBER_FLD;
        default:
            return code;
    }
}

void CBFField::Read(std::uint16_t number, KsIniSection& section, const FlagTypes* extraFlagTypes) {
    KsCallpath("Read()", kFieldClass, section.GetName(), [&] {
        ReadDefinition(number, section, extraFlagTypes);
        SetType(TypeFromCode(GetType()));
        CheckType(section);
        startingBit_ = static_cast<std::uint16_t>(
            KsSectionRangedInt(section, kCBFStartingBitKey, 0, 0, UINT16_MAX, kFieldClass));
        numberOfBits_ = static_cast<std::uint16_t>(
            KsSectionRangedInt(section, kCBFNumberOfBitsKey, 0, 0, UINT16_MAX, kFieldClass));
        divisor_ = section.GetInt(kCBFDivisorKey, 0);
    });
}

void CBFField::Write(KsIniSection& section, const FlagTypes* extraFlagTypes) const {
    KsCallpath("Write()", kFieldClass, section.GetName(), [&] {
        KsField::Write(section, extraFlagTypes);
        if (IsMapped()) {
            for (const char* key : {kCBFStartingBitKey, kCBFNumberOfBitsKey, kCBFDivisorKey}) {
                section.SetString(key, "");
            }
            return;
        }
        const char code[2] = {TypeCode(GetType()), '\0'};
        section.SetString(kKsFieldTypeKey, code);
        section.SetInt(kCBFStartingBitKey, startingBit_);
        section.SetInt(kCBFNumberOfBitsKey, numberOfBits_);
        section.SetInt(kCBFDivisorKey, divisor_);
    });
}
