// Runs index searches on one field of a table, the search side of the index benchmark:
// loads the field's index (reading its index file, or building it when there is none that
// fits) and answers each query of QUERIES, a line "VALUE" (equality) or "LOW,HIGH" (both
// included). Prints the sum of the records found, or, with no QUERIES, the key count.
//
//   index_search TABLE FIELD [QUERIES]     (TABLE with or without ".cbf")

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "core/KsException.h"
#include "files/CBFFile.h"
#include "index/KsIndex.h"
#include "index/KsRecordKey.h"
#include "index/KsSet.h"

#include "Table.h"  // kstable's naming of a table's files

namespace {

std::string KeyOfText(CBFFile& table, std::int32_t field, const std::string& text) {
    std::unique_ptr<KsFileRecord> record = table.GetNewRecord();
    record->PutField(field, text.c_str(), KsFileRecord::kPlain);
    return KsRecordKey::ComparableKeyOf(*record, field);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: index_search TABLE FIELD [QUERIES]\n");
        return 2;
    }
    try {
        CBFFile table;
        table.Open(TableFilesOf(argv[1]).data.c_str(), IO_READ);
        std::int32_t field = table.GetFieldNumber(argv[2]);
        KsIndex& index = *table.GetIndex(static_cast<std::uint16_t>(field));
        if (argc < 4) {
            std::printf("%ld keys\n", static_cast<long>(index.GetKeyCount()));
            return 0;
        }
        std::ifstream queries(argv[3]);
        long long total = 0;
        KsSet found;
        for (std::string line; std::getline(queries, line);) {
            std::size_t comma = line.find(',');
            std::string low = KeyOfText(table, field, line.substr(0, comma));
            std::string high =
                comma == std::string::npos ? "" : KeyOfText(table, field, line.substr(comma + 1));
            found.NoRecords();
            index.Search(low.data(), comma == std::string::npos ? nullptr : high.data(), found);
            total += found.GetSelectedCount();
        }
        std::printf("%lld\n", total);
        return 0;
    } catch (const KsException& error) {
        std::fprintf(stderr, "index_search: %s\n", error.GetErrorMessage());
        return 1;
    }
}
