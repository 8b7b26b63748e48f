#include "files/KsFlagType.h"

#include <strings.h>

#include <algorithm>
#include <bit>

#include "core/KsCallpath.h"

namespace {

constexpr const char* kClassName = "KsFlagType";

// Built on first use, so that fields read in static initialisers find them.
KsVector<const KsFlagType*>& Registry() {
    static const KsFlagType standard[] = {
        {"Hidden", "Field is invisible", kKsFieldHidden, true},
        {"Required", "Field must have a value", kKsFieldRequired, true},
        {"System", "Field is not used for user data", kKsFieldSystem, true},
        {"ReadOnly", "Field can not be updated", kKsFieldReadOnly, true},
        {"NonNativeDataSource",
         "Field's data source (e.g. database) storage format differs from its memory-buffer "
         "storage format",
         kKsFieldNonNativeDataSource, true},
    };
    static KsVector<const KsFlagType*> registry = [] {
        KsVector<const KsFlagType*> types;
        for (const KsFlagType& type : standard) {
            types.push_back(&type);
        }
        return types;
    }();
    return registry;
}

}  // namespace

KsFlagType::KsFlagType(const char* name, const char* description, std::uint32_t mask, bool system)
    : description_(description), name_(name), system_(system) {
    SetMask(mask);
}

void KsFlagType::SetMask(std::uint32_t mask) {
    mask_ = mask;
    shift_ = mask == 0 ? 0 : static_cast<std::uint16_t>(std::countr_zero(mask));
}

std::uint16_t KsFlagType::GetBitWidth() const {
    return static_cast<std::uint16_t>(std::bit_width(GetShiftedMask()));
}

const KsVector<const KsFlagType*>& KsFlagType::GetFieldFlagRegistry() {
    return Registry();
}

void KsFlagType::RegisterFieldFlagType(const KsFlagType& flagType) {
    KsCallpath("RegisterFieldFlagType()", kClassName, [&] {
        if (*flagType.GetName() == '\0') {
            KsException::Generate("A flag type needs a name", kClassName);
        }
        if (flagType.GetMask() == 0) {
            KsException::Generate("Flag type \"%s\" has no bits", kClassName, flagType.GetName());
        }
        if (FindFieldFlagType(flagType.GetName()) != nullptr) {
            KsException::Generate("A flag type named \"%s\" is already registered", kClassName,
                                  flagType.GetName());
        }
        Registry().push_back(&flagType);
    });
}

bool KsFlagType::UnregisterFieldFlagType(const KsFlagType& flagType) {
    KsVector<const KsFlagType*>& registry = Registry();
    auto found = std::find(registry.begin(), registry.end(), &flagType);
    if (found == registry.end()) {
        return false;
    }
    registry.erase(found);
    return true;
}

const KsFlagType* KsFlagType::FindFieldFlagType(const char* name) {
    if (name == nullptr) {
        return nullptr;
    }
    for (const KsFlagType* type : Registry()) {
        if (strcasecmp(type->GetName(), name) == 0) {
            return type;
        }
    }
    return nullptr;
}
