#pragma once
/// @file
/// The field of compressed binary tables and the position of a bit string in a record.
///
/// CBFBits: a bit offset from the start of the record (0 is the most significant bit of the
/// first byte) and a bit count. A bit string never crosses a 16-bit word boundary.
///
/// CBFField adds to KsField the starting bit (1-based position inside the 16-bit word at
/// the field's byte offset, 1 the word's most significant bit; 0 until laid out), the
/// number of bits and the divisor of Number fields (0: none). Its header section carries
/// them under StartingBit, NumberOfBits and Divisor, and its type as a code (CBFFormat.h).

#include <cstdint>

#include "files/KsField.h"

/// A bit string's place in a record (see the file notes).
class CBFBits {
public:
    /// Offset 0, count 0.
    CBFBits() = default;
    /// Through SetPosition.
    CBFBits(std::uint32_t bitOffset, std::uint32_t bitCount);

    /// Fails with "Bit string of length %u at offset %u would cross a %u-bit boundary"
    /// (also for a count of 0).
    void SetPosition(std::uint32_t bitOffset, std::uint32_t bitCount);
    /// The offset from the record's first bit.
    std::uint32_t GetBitOffset() const { return bitOffset_; }
    /// The bits of the string.
    std::uint32_t GetBitCount() const { return bitCount_; }

private:
    std::uint32_t bitOffset_ = 0;
    std::uint32_t bitCount_ = 0;
};

/// A field of a compressed binary table (see the file notes).
class CBFField final : public KsField {
public:
    CBFField() = default;
    /// A copy of any field; the bit attributes are copied from a CBFField, else 0.
    explicit CBFField(const KsField& source);
    /// Copies every attribute of `source`.
    CBFField(const CBFField& source);
    ~CBFField() override;

    /// Reads the KsField keys with the type code mapped to its letter, then the bit
    /// attributes; values that cannot place a field in a record are refused.
    void Read(std::uint16_t number, KsIniSection& section,
              const FlagTypes* extraFlagTypes = nullptr) override;
    /// Writes the KsField keys, then (unless mapped) the type code and the bit attributes.
    void Write(KsIniSection& section, const FlagTypes* extraFlagTypes = nullptr) const override;
    /// A copy with the bit attributes, owned by the caller.
    CBFField* Clone() const override;
    /// The number of bits and the divisor of a CBFField `source` (the layout places the
    /// field, so its starting bit is not taken).
    void CopyStoredForm(const KsField& source) override;

    /// The 1-based bit in its word where a Short or Unsigned Short field starts; 0 until
    /// laid out.
    std::uint16_t GetStartingBit() const { return startingBit_; }
    /// Sets the starting bit; checked when the table is laid out or read.
    void SetStartingBit(std::uint16_t bit) { startingBit_ = bit; }
    /// The bits of a Short or Unsigned Short field.
    std::uint16_t GetNumberOfBits() const { return numberOfBits_; }
    /// Sets the bits; checked when the table is laid out or read.
    void SetNumberOfBits(std::uint16_t bits) { numberOfBits_ = bits; }
    /// Whether the bits, from the starting bit on, lie within one 16-bit word: a laid-out
    /// Short or Unsigned Short field's do.
    bool BitsFitTheirWord() const;
    /// What a Number field's value is multiplied by when stored; 0 for none.
    std::int32_t GetDivisor() const { return divisor_; }
    /// Sets the divisor.
    void SetDivisor(std::int32_t divisor) { divisor_ = divisor; }

    /// @{
    /// The header's code for a type letter, and the letter a code stands for.
    static char TypeCode(char type);
    static char TypeFromCode(char code);
    /// @}

private:
    std::uint16_t startingBit_ = 0;
    std::uint16_t numberOfBits_ = 0;
    std::int32_t divisor_ = 0;
};
