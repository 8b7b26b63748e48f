#include "InputChecks.h"

#include "core/KsString.h"
#include "io/KsFileName.h"
#include "platform/KsPosixFile.h"

namespace {

// Full path of a name after upper-casing it, as the same-name test compares them.
std::string UpperCaseFullPath(const std::string& text) {
    KsString upper(text.c_str());
    upper.ToUpper();
    KsFileName name(upper.GetCString());
    return name.GetFullPath();
}

bool IsExistingFile(const std::string& name) {
    KsPosix::FileStatus status;
    return KsPosix::GetStatus(name.c_str(), status) && status.kind != KsPosix::FileKind::kDirectory;
}

// Whether reading one and writing the other would damage the file.
bool Collide(bool found, const KsPosix::FileStatus& first, const KsPosix::FileStatus& second) {
    using KsPosix::FileKind;
    return found && first.IsSameFileAs(second) && first.kind != FileKind::kCharacterDevice &&
           first.kind != FileKind::kSocket;
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
    KsPosix::FileStatus a;
    KsPosix::FileStatus b;
    return Collide(KsPosix::GetStatus(first.c_str(), a) && KsPosix::GetStatus(second.c_str(), b), a,
                   b);
}

bool IsSameFile(int first, int second) {
    KsPosix::FileStatus a;
    KsPosix::FileStatus b;
    return Collide(KsPosix::GetStatus(first, a) && KsPosix::GetStatus(second, b), a, b);
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
        return std::string(kHeaderSizeWarning);
    }
    // Names equal apart from letter case are refused too (on the safe side), and so is
    // any other spelling of the same file: a link, "..", a second path to it.
    if (UpperCaseFullPath(inputs.inputFile) == UpperCaseFullPath(inputs.outputFile) ||
        IsSameFile(inputs.inputFile, inputs.outputFile)) {
        return std::string(kSameFileWarning);
    }
    if (!inputs.layoutFile.empty()) {
        const std::string layout = UpperCaseFullPath(inputs.layoutFile);
        if (layout == UpperCaseFullPath(inputs.inputFile) ||
            layout == UpperCaseFullPath(inputs.outputFile) ||
            IsSameFile(inputs.layoutFile, inputs.inputFile) ||
            IsSameFile(inputs.layoutFile, inputs.outputFile)) {
            return std::string(kLayoutSameFileWarning);
        }
    }
    return std::nullopt;
}

unsigned ParseHeaderSize(const ConversionInputs& inputs) {
    if (!inputs.insertHeaderField || !IsValidHeaderSizeText(inputs.headerSizeText)) {
        return 0;
    }
    return static_cast<unsigned>(std::stoi(inputs.headerSizeText));
}
