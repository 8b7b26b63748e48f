// survey_sort TABLE MINIMUM: sorts the table made by survey_import by spend, highest first,
// prints it, then finds the records whose spend is at least MINIMUM and prints their names.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "core/KsException.h"
#include "files/CBFFile.h"
#include "index/KsSet.h"
#include "index/KsSortFileWrapper.h"
#include "progress/KsNullProgress.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: survey_sort TABLE MINIMUM\n";
        return 2;
    }
    try {
        const std::string name = std::string(argv[1]) + ".cbf";
        CBFFile table;
        table.Open(name.c_str(), IO_READ | IO_WRITE);
        const std::int32_t spend = table.GetFieldNumber("spend");
        const std::int32_t customer = table.GetFieldNumber("name");
        KsSortTable(table, {KsSortField{static_cast<std::uint16_t>(spend), true}},
                    KsNullProgress::Instance());

        std::unique_ptr<KsFileRecord> record = table.GetNewRecord();
        KsSet matches(table.GetNumRecords());
        const double minimum = std::atof(argv[2]);
        char text[64];
        for (std::int32_t n = 1; n <= table.GetNumRecords(); ++n) {
            table.GotoRecord(n, record.get());
            std::printf("%d %s %s\n", static_cast<int>(n),
                        record->GetAlpha(customer, text, sizeof text, true),
                        record->GetField(spend, text + 32, 32, false));
            matches.SelectRecord(n, record->GetNumber(spend) >= minimum);
        }
        std::printf("%d spent at least %s:", static_cast<int>(matches.GetSelectedCount()), argv[2]);
        for (std::int32_t n = matches.GetNextInSet(0); n > 0; n = matches.GetNextInSet(n)) {
            table.GotoRecord(n, record.get());
            std::printf(" %s", record->GetAlpha(customer, text, sizeof text, true));
        }
        std::printf("\n");
        table.Close();
    } catch (const KsException& error) {
        std::cerr << "survey_sort: " << error.GetErrorMessage() << '\n';
        return 1;
    }
    return 0;
}
