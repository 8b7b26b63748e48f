#include "values/KsFilter.h"

#include <map>
#include <mutex>
#include <string>

#include "core/KsCallpath.h"
#include "ini/KsIniFile.h"
#include "io/KsStreamInterface.h"
#include "progress/KsNullProgress.h"
#include "progress/KsSubProgress.h"
#include "values/KsNumberFilter.h"
#include "values/KsStringFilter.h"
#include "values/KsTimestampFilter.h"

namespace {

constexpr const char* kClass = "KsFilter";

struct Registry {
    std::mutex guard;
    std::map<std::string, std::unique_ptr<KsFilter>> prototypes;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

}  // namespace

void KsFilter::Read(KsIniSection* pIniSection) {
    KsCallpath("Read()", GetClassnameCString(), [&] {
        if (pIniSection == nullptr) {
            KsException::Generate("null pointer: pIniSection", GetClassnameCString());
        }
        Read(*pIniSection, KsNullProgress::Instance());
    });
}

void KsFilter::Write(KsIniSection* pIniSection) const {
    KsCallpath("Write()", GetClassnameCString(), [&] {
        if (pIniSection == nullptr) {
            KsException::Generate("null pointer: pIniSection", GetClassnameCString());
        }
        Write(*pIniSection, KsNullProgress::Instance());
    });
}

std::unique_ptr<KsFilter> KsFilter::Instantiate(int type) {
    return KsCallpath("Instantiate()", kClass, [&]() -> std::unique_ptr<KsFilter> {
        switch (type) {
            case kNoFilter:
                return nullptr;
            case kStringFilter:
                return std::make_unique<KsStringFilter>();
            case kNumberFilter:
                return std::make_unique<KsNumberFilter>();
            case kDateFilter:
            case kTimeFilter:
            case kTimestampFilter:
                return std::make_unique<KsTimestampFilter>(nullptr,
                                                           static_cast<std::uint8_t>(type));
            default:
                KsException::Generate("Unknown filter type %d", kClass, type);
        }
    });
}

std::unique_ptr<KsFilter> KsFilter::GetFilterFromRegistry(const KsString& index) {
    return KsCallpath("GetFilterFromRegistry()", kClass, [&] {
        Registry& registry = TheRegistry();
        std::lock_guard lock(registry.guard);
        auto found = registry.prototypes.find(index.GetCString());
        if (found == registry.prototypes.end()) {
            KsException::GenerateAs<KsFilterRegistryException>(
                "The application has not registered the following filter: \"%s\".", kClass,
                index.GetCString());
        }
        return found->second->Clone();
    });
}

void KsFilter::RegisterFilter(std::unique_ptr<KsFilter> prototype) {
    KsCallpath("RegisterFilter()", kClass, [&] {
        if (prototype == nullptr || prototype->GetFilterType() == kNoFilter) {
            KsException::GenerateAs<KsFilterRegistryException>(
                "Cannot register a filter of type, \"NoFilter\"", kClass);
        }
        std::string index = prototype->GetRegistryIndex();
        if (index.empty()) {
            KsException::GenerateAs<KsFilterRegistryException>(
                "Cannot register a filter whose RegistryIndex is an empty string.", kClass);
        }
        Registry& registry = TheRegistry();
        std::lock_guard lock(registry.guard);
        if (registry.prototypes.count(index) != 0) {
            KsException::GenerateAs<KsFilterRegistryException>(
                "The filter's RegistryIndex (value: \"%s\") is not unique.\nDeveloper: check to "
                "make sure that the filter's GetRegistryIndex function has been redefined to "
                "return the name of this filter object's actual type.",
                kClass, index.c_str());
        }
        registry.prototypes.emplace(index, std::move(prototype));
    });
}

bool KsFilter::UnregisterFilter(const char* index) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.guard);
    return registry.prototypes.erase(index != nullptr ? index : "") > 0;
}

std::unique_ptr<KsFilter> KsFilter::ReadRegisteredFilterFromIniSection(
    KsIniSection& section, bool strict, KsProgressInterface& progress) {
    return KsCallpath("ReadRegisteredFilterFromIniSection()", kClass, [&] {
        std::int32_t type = section.GetInt(kKsFilterTypeKey, kNoFilter);
        KsString index(section.GetString(kKsFilterRegistryIndexKey, ""));
        std::unique_ptr<KsFilter> filter;
        if (index.IsEmpty()) {
            filter = Instantiate(type);
        } else {
            try {
                filter = GetFilterFromRegistry(index);
            } catch (const KsFilterRegistryException&) {
                // Files name the built-in classes too; they need no prototype.
                std::unique_ptr<KsFilter> builtIn;
                if (type >= kStringFilter && type <= kTimestampFilter) {
                    builtIn = Instantiate(type);
                }
                if (builtIn != nullptr && index == builtIn->GetClassnameCString()) {
                    filter = std::move(builtIn);
                } else if (strict) {
                    throw;
                }
            }
        }
        if (filter != nullptr) {
            filter->Read(section, progress);
        }
        return filter;
    });
}

void KsFilter::WriteRegisteredFilterToIniSection(KsIniSection& section, const KsFilter& filter,
                                                 KsProgressInterface& progress) {
    KsCallpath("WriteRegisteredFilterToIniSection()", kClass, [&] {
        progress.SetRange(0, 100);
        section.SetInt(kKsFilterTypeKey, filter.GetFilterType());
        section.SetString(kKsFilterRegistryIndexKey, filter.GetRegistryIndex());
        {
            KsSubProgress part(progress, 5, 99);
            filter.Write(section, part);
        }
        progress.SetPosition(progress.GetMaximum());
    });
}

void KsFilter::ReadStreamHeader(KsInputStreamInterface& stream, char marker, std::int16_t version,
                                const char* className) {
    if (stream.ReadKsHeader(marker) != version) {
        ThrowInvalidStreamHeader(className);
    }
}

void KsFilter::ThrowInvalidStreamHeader(const char* className) {
    KsException::Generate("Invalid ksfilter header information", className);
}
