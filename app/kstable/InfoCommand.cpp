#include <algorithm>
#include <cstdio>
#include <cstring>

#include "Commands.h"
#include "Counted.h"
#include "Table.h"

namespace {

void PrintFields(const CBFFile& table) {
    int nameWidth = 4;
    for (const KsField* field : table.GetFields()) {
        nameWidth = std::max(nameWidth, static_cast<int>(std::strlen(field->GetName())));
    }
    std::printf("\n%5s  %-*s  Type  Length  Offset  Bit  Bits  Divisor\n", "#", nameWidth, "Name");
    for (std::int32_t n = 0; n < table.GetFieldCount(); ++n) {
        const auto& field = static_cast<const CBFField&>(table.GetField(n));
        std::printf("%5d  %-*s  %-4c  %6d  %6u  %3u  %4u  %7ld\n", static_cast<int>(n), nameWidth,
                    field.GetName(), field.GetType(), static_cast<int>(field.GetLength()),
                    static_cast<unsigned>(field.GetByteOffset()),
                    static_cast<unsigned>(field.GetStartingBit()),
                    static_cast<unsigned>(field.GetNumberOfBits()),
                    static_cast<long>(field.GetDivisor()));
    }
}

}  // namespace

int ShowTableInfo(const CommandLine& line) {
    LockedTable locked(TableFilesOf(line.table), false);
    const CBFFile& table = locked.Table();
    std::printf("File type:      %s\n", table.GetFileTypeName());
    std::printf("Title:          %s\n", table.GetTitle());
    std::printf("Records:        %ld\n", static_cast<long>(table.GetNumRecords()));
    std::printf("Record length:  %s\n", Counted(table.GetRecordLength(), "byte").c_str());
    if (const std::int64_t extra = table.GetExtraBytes(); extra > 0) {
        std::printf("Extra bytes:    %lld after the last whole record (not part of the table)\n",
                    static_cast<long long>(extra));
    }
    std::printf("Fields:         %d\n", static_cast<int>(table.GetFieldCount()));
    PrintFields(table);
    return 0;
}
