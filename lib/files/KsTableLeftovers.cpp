#include "files/KsTableLeftovers.h"

#include <cctype>
#include <cstring>
#include <filesystem>

#include "files/KsBlobFile.h"
#include "files/KsFile.h"
#include "index/KsSort.h"
#include "ini/KsIniFile.h"
#include "io/KsReplacementFile.h"

namespace KsTableLeftovers {

namespace {

bool IsInverseFileOf(const std::string& name, const std::string& base) {
    const std::string prefix = std::string(kInversePrefix) + base + "_";
    const std::size_t extension = std::strlen(kInverseExtension);
    if (name.size() != prefix.size() + kInverseDigits + extension ||
        name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - extension, extension, kInverseExtension) != 0) {
        return false;
    }
    for (std::size_t i = prefix.size(); i < prefix.size() + kInverseDigits; ++i) {
        if (std::isdigit(static_cast<unsigned char>(name[i])) == 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::vector<std::string> TemporaryTags() {
    return {KsFile::kStructureTag, KsIniFile::kNewFileTag, KsFile::kIndexTag,
            KsBlobFile::kNewFileTag, KsSort::kTempPrefix};
}

std::string InverseFileName(const char* dataFile, const char* digits) {
    std::filesystem::path path(dataFile);
    std::string folder = path.has_parent_path() ? path.parent_path().string() : ".";
    return folder + "/" + kInversePrefix + path.stem().string() + "_" +
           std::string(digits, kInverseDigits) + kInverseExtension;
}

Found Scan(const char* dataFile) {
    std::filesystem::path path(dataFile);
    const std::string base = path.stem().string();
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
    const std::vector<std::string> temporaryTags = TemporaryTags();
    const std::vector<std::string> markerTags{kMarkerTag};
    Found found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (IsInverseFileOf(name, base)) {
            found.inverseFiles.push_back(entry.path().string());
        } else if (KsReplacementFile::IsShapedFor(name, base, markerTags)) {
            found.markers.push_back(entry.path().string());
        } else if (KsReplacementFile::IsShapedFor(name, base, temporaryTags)) {
            found.temporaries.push_back(entry.path().string());
        }
    }
    return found;
}

}  // namespace KsTableLeftovers
