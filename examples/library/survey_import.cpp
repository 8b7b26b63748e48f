// survey_import TABLE CSV: creates the table TABLE (TABLE.cbf and TABLE.kss) with three
// fields and appends one record for each line "id,name,spend" of CSV.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "core/KsException.h"
#include "files/CBFFile.h"

namespace {

std::unique_ptr<CBFField> NewField(const char* name, char type) {
    auto field = std::make_unique<CBFField>();
    field->SetName(name);
    field->SetType(type);
    return field;
}

void CreateTable(const std::string& name) {
    KsFieldList fields;
    auto id = NewField("id", 'I');
    id->SetNumberOfBits(32);
    fields.Add(std::move(id));
    auto customer = NewField("name", 'A');
    customer->SetLength(20);
    fields.Add(std::move(customer));
    auto spend = NewField("spend", 'N');
    spend->SetDivisor(100);  // two decimals
    spend->SetAttributes(0, 'N', 0, 2, KsField::kNoCategory);
    fields.Add(std::move(spend));

    CBFFile table;
    table.PackFields(fields);
    table.SetTitle("Customer survey");
    table.Create(name.c_str(), fields, 0, false);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: survey_import TABLE CSV\n";
        return 2;
    }
    try {
        const std::string name = std::string(argv[1]) + ".cbf";
        CreateTable(name);
        CBFFile table;
        table.Open(name.c_str(), IO_READ | IO_WRITE);
        std::unique_ptr<KsFileRecord> record = table.GetNewRecord();
        std::ifstream csv(argv[2]);
        if (!csv) {
            std::cerr << "survey_import: cannot read \"" << argv[2] << "\"\n";
            return 1;
        }
        std::string line;
        while (std::getline(csv, line)) {
            std::istringstream values(line);
            std::string value;
            for (std::int32_t field = 0; std::getline(values, value, ','); ++field) {
                record->PutField(field, value.c_str(), KsFileRecord::kPlain);
            }
            table.DataAppend(*record);
        }
        std::printf("%d records in \"%s\"\n", static_cast<int>(table.GetNumRecords()),
                    table.GetTitle());
        table.Close();
    } catch (const KsException& error) {
        std::cerr << "survey_import: " << error.GetErrorMessage() << '\n';
        return 1;
    }
    return 0;
}
