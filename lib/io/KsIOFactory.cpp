// The factory of real files.

#include "io/KsIOFactory.h"

#include <cerrno>

#include "core/KsCallpath.h"
#include "io/KsIO.h"
#include "platform/KsPosixFile.h"
#include "platform/KsSystemError.h"

namespace {

constexpr const char* kClass = "KsIOInterface";

void CheckNames(const char* first, const char* second) {
    if (first == nullptr || second == nullptr) {
        KsException::Generate("Null pointer to filename", kClass);
    }
}

}  // namespace

std::unique_ptr<KsIOInterface> KsIOFactory::Open(const char* name, int flags) {
    return std::make_unique<KsIO>(name, flags);
}

void KsIOFactory::Rename(const char* newName, const char* oldName) {
    KsCallpath("Rename()", kClass, [&] {
        CheckNames(newName, oldName);
        if (SystemRename(oldName, newName) != 0) {
            // For example across file systems.
            KsIOInterface::Copy(newName, oldName, nullptr, *this);
            Delete(oldName);
        }
    });
}

void KsIOFactory::Replace(const char* target, const char* replacement) {
    KsCallpath("Replace()", kClass, [&] {
        CheckNames(target, replacement);
        // A file rewritten this way keeps who may read it, and a new one gets what a plain
        // create would give, not the private mode of a temporary file; failing that is no
        // reason to refuse the new content.
        if (KsPosix::CopyPermissions(target, replacement) != 0 && !KsPosix::Exists(target)) {
            KsPosix::GiveNewFilePermissions(replacement);
        }
        if (SystemRename(replacement, target) != 0) {
            KsThrowSystemError(errno, kClass, "Unable to rename \"%s\" to \"%s\" -- ", replacement,
                               target);
        }
    });
}

void KsIOFactory::Delete(const char* name) {
    KsCallpath("Delete()", kClass, [&] {
        CheckNames(name, name);
        int errorNumber = SystemRemove(name) == 0 ? 0 : errno;
        if (KsPosix::Exists(name)) {
            KsIOInterface::ThrowOpenFailed("deleting", name, errorNumber, kClass);
        }
    });
}

void KsIOFactory::SyncFolder(const char* folder) {
    KsCallpath("SyncFolder()", kClass, [&] {
        if (KsPosix::SyncDirectory(folder) != 0) {
            KsThrowSystemError(errno, kClass, "Unable to sync the folder \"%s\" -- ", folder);
        }
    });
}

bool KsIOFactory::Exists(const char* name) {
    return name != nullptr && KsPosix::Exists(name);
}

const char* KsIOFactory::GetTempFileName(KsString& out, const char* directory, const char* prefix) {
    return KsIOInterface::GetTempFileName(out, directory, prefix);
}

int KsIOFactory::SystemRename(const char* oldName, const char* newName) {
    return KsPosix::Rename(oldName, newName);
}

int KsIOFactory::SystemRemove(const char* name) {
    return KsPosix::Remove(name);
}

KsIOFactory& KsIOFactory::Default() {
    static KsIOFactory factory;
    return factory;
}
