#pragma once
/// @file
/// Flag types name the bit fields of a field's flag words. A flag type covers the bits of
/// its mask; a system flag type lives in the field's Flags word, any other in its
/// UserFlags word (or, for a caller's list of extra types, in the extra flags word).
///
/// A flag type whose mask holds one bit is stored in a structure section as a boolean key
/// named after it; a wider one as an integer key holding its bits shifted down to bit 0.
///
/// The field flag registry is the process-wide, ordered list of flag types that every
/// field reads and writes. It starts with the five standard types below; an application
/// may register its own types. The registry refers to flag types, it does not own them:
/// a registered type must stay alive until it is unregistered.

#include <cstdint>

#include "core/KsArrayPointerObject.h"
#include "core/KsString.h"
#include "core/KsVector.h"

/// @{
/// The bits of the standard flag types in a field's Flags word: Hidden, Required,
/// System, Read Only and Non Native Data Source.
inline constexpr std::uint32_t kKsFieldHidden = 0x01;
inline constexpr std::uint32_t kKsFieldRequired = 0x02;
inline constexpr std::uint32_t kKsFieldSystem = 0x04;
inline constexpr std::uint32_t kKsFieldReadOnly = 0x08;
inline constexpr std::uint32_t kKsFieldNonNativeDataSource = 0x10;
/// @}

/// One flag type: a name, a description, the mask of its bits and whether it is a system
/// flag type (see the file notes).
class KsFlagType : public KsArrayPointerObject {
public:
    /// A flag type with copies of the texts; the shift is worked out from the mask.
    KsFlagType(const char* name, const char* description, std::uint32_t mask, bool system);
    /// @{
    /// Copies every attribute; a copy is not registered.
    KsFlagType(const KsFlagType&) = default;
    KsFlagType& operator=(const KsFlagType&) = default;
    /// @}
    ~KsFlagType() override = default;
    KsFlagType* Clone() const override { return new KsFlagType(*this); }

    /// The name, also the structure key; valid while the flag type is unchanged.
    const char* GetName() const { return name_.GetCString(); }
    /// The description shown to users.
    const char* GetDescription() const { return description_.GetCString(); }
    /// The bits the flag type covers in its word.
    std::uint32_t GetMask() const { return mask_; }
    /// Number of trailing zero bits of the mask; 0 for a zero mask.
    std::uint16_t GetShift() const { return shift_; }
    /// Whether the bits lie in the Flags word rather than the UserFlags word.
    bool IsSystem() const { return system_; }
    /// Stored as a boolean key: the mask is one bit.
    bool IsSingleBit() const { return (mask_ >> shift_) == 1; }
    /// The mask shifted down to bit 0: the largest value the flag type can hold.
    std::uint32_t GetShiftedMask() const { return mask_ >> shift_; }
    /// Bits from the lowest to the highest bit of the mask.
    std::uint16_t GetBitWidth() const;

    /// Renames the flag type (copied); do not rename a registered one.
    void SetName(const char* name) { name_ = name; }
    /// Sets the description (copied).
    void SetDescription(const char* description) { description_ = description; }
    /// Sets the mask and the shift that goes with it.
    void SetMask(std::uint32_t mask);
    /// Sets whether the flag type is a system one.
    void SetSystem(bool system) { system_ = system; }

    /// The field flag registry, in the order in which fields read and write it.
    static const KsVector<const KsFlagType*>& GetFieldFlagRegistry();
    /// Appends a flag type to the registry. An empty name, a zero mask and a name that is
    /// already registered (compared without regard to case, as ini keys are) are refused
    /// (KsException). The registry keeps a reference, not a copy.
    static void RegisterFieldFlagType(const KsFlagType& flagType);
    /// Removes the flag type; false when it was not registered.
    static bool UnregisterFieldFlagType(const KsFlagType& flagType);
    /// The registered flag type of that name (without regard to case), or null.
    static const KsFlagType* FindFieldFlagType(const char* name);

private:
    KsString description_;
    KsString name_;
    std::uint32_t mask_ = 0;
    std::uint16_t shift_ = 0;
    bool system_ = true;
};
