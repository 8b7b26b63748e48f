// survey_index TABLE NAME LOW HIGH: indexes the name and spend fields of the table made by
// survey_import, then searches the name index for NAME and the spend index for the range
// LOW to HIGH (both ends included) and prints the records found.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "core/KsException.h"
#include "files/CBFFile.h"
#include "index/KsIndex.h"
#include "index/KsRecordKey.h"
#include "index/KsSet.h"

namespace {

// Prints the names of the records in `found`, in record order.
void PrintNames(CBFFile& table, const KsSet& found, std::int32_t customer) {
    std::unique_ptr<KsFileRecord> record = table.GetNewRecord();
    char text[64];
    for (std::int32_t n = found.GetNextInSet(0); n > 0; n = found.GetNextInSet(n)) {
        table.GotoRecord(n, record.get());
        std::printf(" %d:%s", static_cast<int>(n),
                    record->GetAlpha(customer, text, sizeof text, true));
    }
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::cerr << "usage: survey_index TABLE NAME LOW HIGH\n";
        return 2;
    }
    try {
        const std::string name = std::string(argv[1]) + ".cbf";
        CBFFile table;
        table.Open(name.c_str(), IO_READ | IO_WRITE);
        const auto customer = static_cast<std::uint16_t>(table.GetFieldNumber("name"));
        const auto spend = static_cast<std::uint16_t>(table.GetFieldNumber("spend"));
        // Marks both fields indexed in the table's structure, builds their indexes and
        // saves them beside the table, where later opens find them.
        for (std::uint16_t field : {customer, spend}) {
            table.GetField(field).SetIndexCount(1);
        }
        table.WriteStructure();
        table.AddIndex("name");
        table.AddIndex("spend");
        table.SaveIndexes();

        // Search values are the field's keys, made from a record that holds the value.
        std::unique_ptr<KsFileRecord> probe = table.GetNewRecord();
        probe->PutAlpha(customer, argv[2]);
        const std::unique_ptr<KsRecordKey> wanted = KsRecordKey::Extract(*probe, customer);
        KsSet found(table.GetNumRecords());
        KsIndex* names = table.GetIndex(customer);  // owned by the table
        names->Search(*wanted, nullptr, found);
        std::printf("%d distinct names; \"%s\":", static_cast<int>(names->GetKeyCount()), argv[2]);
        PrintNames(table, found, customer);

        probe->PutNumber(spend, std::atof(argv[3]));
        const std::unique_ptr<KsRecordKey> low = KsRecordKey::Extract(*probe, spend);
        probe->PutNumber(spend, std::atof(argv[4]));
        const std::unique_ptr<KsRecordKey> high = KsRecordKey::Extract(*probe, spend);
        KsSet range(table.GetNumRecords());
        table.GetIndex(spend)->Search(*low, high.get(), range);
        std::printf("spent %s to %s:", argv[3], argv[4]);
        PrintNames(table, range, customer);
        table.Close();
    } catch (const KsException& error) {
        std::cerr << "survey_index: " << error.GetErrorMessage() << '\n';
        return 1;
    }
    return 0;
}
