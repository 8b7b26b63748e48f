// Reads every record of a table in order through the record API and prints the sum of each
// field named, with the field's decimals: the scan side of the table benchmark.
//
//   table_scan TABLE FIELD...     (TABLE is the data file's name, with or without ".cbf")

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "core/KsException.h"
#include "files/CBFFile.h"

#include "Table.h"  // kstable's naming of a table's files

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: table_scan TABLE FIELD...\n");
        return 2;
    }
    try {
        CBFFile table;
        table.Open(TableFilesOf(argv[1]).data.c_str(), IO_READ);
        std::vector<std::int32_t> fields;
        for (int i = 2; i < argc; ++i) {
            fields.push_back(table.GetFieldNumber(argv[i]));
        }
        std::vector<double> sums(fields.size());
        std::unique_ptr<KsFileRecord> record = table.GetNewRecord();
        for (std::int32_t r = 1; r <= table.GetNumRecords(); ++r) {
            table.GotoRecord(r, record.get());
            for (std::size_t f = 0; f < fields.size(); ++f) {
                sums[f] += record->GetNumber(fields[f]);
            }
        }
        for (std::size_t f = 0; f < fields.size(); ++f) {
            std::printf(f ? " %.*f" : "%.*f",
                        static_cast<int>(table.GetField(fields[f]).GetPrecision()), sums[f]);
        }
        std::printf("\n");
        return 0;
    } catch (const KsException& error) {
        std::fprintf(stderr, "table_scan: %s\n", error.GetErrorMessage());
        return 1;
    }
}
