#include "InputChecks.h"

#include <sys/stat.h>

#include "io/KsFileName.h"
#include "core/KsString.h"

namespace {

// Full path of a name after upper-casing it, as the same-name test compares them.
std::string UpperCaseFullPath(const std::string& text) {
    KsString upper(text.c_str());
    upper.ToUpper();
    KsFileName name(upper.GetCString());
    return name.GetFullPath();
}

bool IsExistingFile(const std::string& name) {
    struct stat status {};
    return stat(name.c_str(), &status) == 0 && !S_ISDIR(status.st_mode);
}

}  // namespace

bool IsValidHeaderSizeText(const std::string& text) {
    if (text.empty() || text.size() > 2) {
        return false;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

bool IsSameFile(const std::string& first, const std::string& second) {
    struct stat a {};
    struct stat b {};
    return stat(first.c_str(), &a) == 0 && stat(second.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

std::optional<std::string> CheckConversionInputs(const ConversionInputs& inputs) {
    // File names on this system are case-sensitive: the input must exist as typed.
    if (inputs.inputFile.empty() || !IsExistingFile(inputs.inputFile)) {
        return std::string("Please enter a valid input file name.");
    }
    if (inputs.outputFile.empty()) {
        return std::string("Please enter a valid output file name.");
    }
    if (inputs.insertHeaderField && !IsValidHeaderSizeText(inputs.headerSizeText)) {
        return std::string("Please enter a valid scanner header length.");
    }
    // Names equal apart from letter case are refused too (on the safe side), and so is
    // any other spelling of the same file: a link, "..", a second path to it.
    if (UpperCaseFullPath(inputs.inputFile) == UpperCaseFullPath(inputs.outputFile) ||
        IsSameFile(inputs.inputFile, inputs.outputFile)) {
        return std::string("You cannot choose the same file name for the input and the output.");
    }
    return std::nullopt;
}

unsigned ParseHeaderSize(const ConversionInputs& inputs) {
    if (!inputs.insertHeaderField || !IsValidHeaderSizeText(inputs.headerSizeText)) {
        return 0;
    }
    return static_cast<unsigned>(std::stoi(inputs.headerSizeText));
}
