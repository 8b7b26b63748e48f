// The factory of real files.

#include "io/KsIOFactory.h"

#include "io/KsIO.h"

std::unique_ptr<KsIOInterface> KsIOFactory::Open(const char* name, int flags) {
    return std::make_unique<KsIO>(name, flags);
}

void KsIOFactory::Rename(const char* newName, const char* oldName) {
    KsIOInterface::Rename(newName, oldName);
}

void KsIOFactory::Delete(const char* name) {
    KsIOInterface::Delete(name);
}

bool KsIOFactory::Exists(const char* name) {
    return KsIOInterface::Exists(name);
}

const char* KsIOFactory::GetTempFileName(KsString& out, const char* directory,
                                         const char* prefix) {
    return KsIOInterface::GetTempFileName(out, directory, prefix);
}

KsIOFactory& KsIOFactory::Default() {
    static KsIOFactory factory;
    return factory;
}
