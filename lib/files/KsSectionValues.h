#pragma once
/// @file
/// Reading numbers from structure sections that may be hostile: a value outside the range
/// of the attribute it is read into is refused with a message that names the section, the
/// key and the value as the file holds it.

#include <cstdint>
#include <string>

class KsIniSection;

/// The section's name without its brackets.
std::string KsSectionShownName(const KsIniSection& section);
/// The key's value as the section holds it; empty when the key is missing.
const char* KsSectionRawValue(const KsIniSection& section, const char* key);
/// Fails with "Section \"%s\": %s=%s is out of range [%lld, %lld]" (class `className`).
[[noreturn]] void KsThrowOutOfRange(const KsIniSection& section, const char* key, long long low,
                                    long long high, const char* className);
/// The integer key (or `def` when it is missing or no number), which must lie in
/// [low, high].
std::int32_t KsSectionRangedInt(const KsIniSection& section, const char* key, std::int32_t def,
                                std::int32_t low, std::int32_t high, const char* className);
