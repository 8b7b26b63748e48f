// Shared by the examples that change the survey table: prints the record count and every
// record's name after `when`.
#pragma once

#include <cstdio>
#include <memory>

#include "files/KsFile.h"

inline void ShowSurvey(KsFile& table, const char* when) {
    std::unique_ptr<KsFileRecord> record = table.GetNewRecord();
    char text[64];
    std::printf("%s: %d records;", when, static_cast<int>(table.GetNumRecords()));
    for (std::int32_t n = 1; n <= table.GetNumRecords(); ++n) {
        table.GotoRecord(n, record.get());
        std::printf(" %s", record->GetField(1, text, sizeof text, false));
    }
    std::printf("\n");
}
