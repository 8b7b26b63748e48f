#include "io/KsFileName.h"

#include <cstring>
#include <string>

#include "core/KsCallpath.h"
#include "core/KsStringTokenizer.h"

namespace {

constexpr const char* kClassName = "KsFileName";

void RequireParameter(const char* parameter) {
    if (parameter == nullptr) {
        KsException::Generate("Null parameter", kClassName);
    }
}

bool HasInvalidFileNameChar(const std::string& text, std::size_t from) {
    for (std::size_t i = from; i < text.size(); ++i) {
        if (KsFileName::IsInvalidFileNameChar(text[i])) {
            return true;
        }
    }
    return false;
}

// Length of the network prefix "\\SRV\SHR" at the start of `work` (which starts with two
// backslashes); throws when the server or the share is not closed by a backslash.
std::size_t NetworkPrefixLength(const std::string& work) {
    std::size_t serverEnd = work.find('\\', 2);
    // The share needs at least one character, so its closing backslash is searched from
    // two places behind the server's.
    std::size_t shareEnd =
        serverEnd == std::string::npos ? std::string::npos : work.find('\\', serverEnd + 2);
    if (serverEnd == std::string::npos || shareEnd == std::string::npos) {
        KsException::Generate("Invalid UNC name", kClassName);
    }
    return shareEnd;
}

}  // namespace

KsFileName::KsFileName(const char* path) : KsFileName(KsPathStyle::Native(), path) {}

KsFileName::KsFileName(KsPathStyle style, const char* path) : style_(style) {
    KsCallpath("Constructor", kClassName, [&] {
        if (path != nullptr) {
            Set(path);
        }
    });
}

KsFileName::KsFileName(const KsFileName& other) : style_(other.style_) {
    KsCallpath("Copy Constructor", kClassName, [&] { Copy(other); });
}

KsFileName& KsFileName::operator=(const KsFileName& other) {
    KsCallpath("Assignment operator", kClassName, [&] {
        if (this != &other) {
            style_ = other.style_;
            Copy(other);
        }
    });
    return *this;
}

void KsFileName::Copy(const KsFileName& other) {
    KsCallpath("Copy", "KsFilename", [&] {
        SetDrive(other.GetDrive());
        SetDirectory(other.GetDirectory());
        SetFileName(other.GetFileName());
        SetExtension(other.GetExtension());
    });
}

void KsFileName::Set(const char* path) {
    KsCallpath("Set()", kClassName, [&] {
        if (path == nullptr) {
            KsException::Generate("Null pointer", kClassName);
        }
        std::string work;
        if (*path != '\0') {
            work = style_.fullPath != nullptr ? style_.fullPath(path) : std::string(path);
            if (work.empty()) {
                KsException::GenerateWithSystemError("Could not get full path name -- ", false,
                                                     kClassName);
            }
        }
        KsDeblank(work.data(), true, true);
        work.resize(std::strlen(work.c_str()));

        // The parts are worked out first and stored only when the whole path made sense.
        std::string extension;
        std::size_t dot = work.rfind('.');
        if (dot != std::string::npos && !HasInvalidFileNameChar(work, dot + 1)) {
            extension = work.substr(dot);
            work.erase(dot);
        }

        std::string fileName;
        std::size_t separator = work.rfind(style_.separator);
        if (separator == std::string::npos && style_.hasDrives) {
            separator = work.rfind(':');
        }
        if (separator == std::string::npos) {
            fileName.swap(work);
        } else {
            fileName = work.substr(separator + 1);
            work.erase(separator + 1);
        }

        std::string drive;
        if (style_.hasDrives) {
            std::size_t driveLength = 0;
            if (work.starts_with("\\\\")) {
                driveLength = NetworkPrefixLength(work);
            } else if (work.find(':') == 1) {
                driveLength = 2;
            }
            drive = work.substr(0, driveLength);
            work.erase(0, driveLength);
        }

        SetDrive(drive.c_str());
        SetDirectory(work.c_str());
        SetFileName(fileName.c_str());
        SetExtension(extension.c_str());
    });
}

void KsFileName::SetDrive(const char* drive) {
    KsCallpath("SetDrive()", kClassName, [&] {
        RequireParameter(drive);
        drive_ = drive;
        if (!drive_.IsEmpty() && !drive_.BeginsWith("\\\\") && !drive_.EndsWith(':')) {
            drive_.Append(':');
        }
    });
}

void KsFileName::SetDirectory(const char* directory) {
    KsCallpath("SetDirectory()", kClassName, [&] {
        RequireParameter(directory);
        directory_ = directory;
        if (!directory_.IsEmpty() && !directory_.EndsWith(style_.separator)) {
            directory_.Append(style_.separator);
        }
    });
}

void KsFileName::SetFileName(const char* name) {
    KsCallpath("SetFileName()", kClassName, [&] {
        RequireParameter(name);
        fileName_ = name;
    });
}

void KsFileName::SetExtension(const char* extension) {
    KsCallpath("SetExtension()", kClassName, [&] {
        RequireParameter(extension);
        extension_ = extension;
        if (!extension_.IsEmpty() && !extension_.BeginsWith(".")) {
            extension_.Insert('.', 0);
        }
    });
}

const char* KsFileName::GetFullPath() const {
    fullPath_.Clear();
    fullPath_.Append(drive_).Append(directory_).Append(fileName_).Append(extension_);
    return fullPath_.GetCString();
}

const char* KsFileName::GetCompleteFileName() const {
    fullPath_.Clear();
    fullPath_.Append(fileName_).Append(extension_);
    return fullPath_.GetCString();
}

bool KsFileName::IsInvalidFileNameChar(char c) {
    switch (c) {
        case '<':
        case '>':
        case ':':
        case '"':
        case '/':
        case '\\':
        case '|':
            return true;
        default:
            return false;
    }
}
