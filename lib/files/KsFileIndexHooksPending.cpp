#include "files/KsFile.h"

// Indexes are not kept yet: nothing to bring up to date.
void KsFile::IndexRecordAdded(std::int32_t, const KsFileRecord&) {}
void KsFile::IndexRecordDeleted(std::int32_t) {}
void KsFile::IndexRecordModified(std::int32_t, const KsFileRecord&) {}
