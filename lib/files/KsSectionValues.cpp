#include "files/KsSectionValues.h"

#include "core/KsException.h"
#include "ini/KsIniFile.h"

std::string KsSectionShownName(const KsIniSection& section) {
    std::string name = section.GetName();
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']') {
        name = name.substr(1, name.size() - 2);
    }
    return name;
}

const char* KsSectionRawValue(const KsIniSection& section, const char* key) {
    std::int32_t index = section.FindKey(key);
    return index >= 0 ? section.GetLine(index)->GetValue() : "";
}

void KsThrowOutOfRange(const KsIniSection& section, const char* key, long long low, long long high,
                       const char* className) {
    KsException::Generate("Section \"%s\": %s=%s is out of range [%lld, %lld]", className,
                          KsSectionShownName(section).c_str(), key, KsSectionRawValue(section, key),
                          low, high);
}

std::int32_t KsSectionRangedInt(const KsIniSection& section, const char* key, std::int32_t def,
                                std::int32_t low, std::int32_t high, const char* className) {
    std::int32_t value = section.GetInt(key, def);
    if (value < low || value > high) {
        KsThrowOutOfRange(section, key, low, high, className);
    }
    return value;
}
