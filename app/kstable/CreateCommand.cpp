#include <cstdio>
#include <memory>

#include "Commands.h"
#include "Counted.h"
#include "Table.h"
#include "files/CBFFile.h"
#include "files/KsFieldTypeLetters.h"

namespace {

// A field as the layout wants it. Binary, Long and Unsigned Long fields get their bits
// preset, so that the layout keeps their types: without them it refuses Binary fields and
// makes the other two Numbers, whose signed, scaled word cannot hold every Unsigned Long.
std::unique_ptr<CBFField> NewField(const FieldSpec& spec) {
    auto field = std::make_unique<CBFField>();
    field->SetName(spec.name.c_str());
    field->SetType(spec.type);
    switch (spec.type) {
        case KS_ALPHA_FLD:
            field->SetLength(spec.length);
            break;
        case KS_BINARY_FLD:
            field->SetLength(spec.length);
            field->SetNumberOfBits(static_cast<std::uint16_t>(8 * spec.length));
            break;
        case KS_LONG_FLD:
        case KS_ULONG_FLD:
            field->SetNumberOfBits(32);
            break;
        case KS_SHORT_FLD:
        case KS_USHORT_FLD:
            field->SetNumberOfBits(spec.bits);
            break;
        default:  // KS_NUMBER_FLD
            field->SetDivisor(spec.divisor);
            field->SetAttributes(0, KS_NUMBER_FLD, 0, spec.precision, KsField::kNoCategory);
            break;
    }
    return field;
}

}  // namespace

int CreateTable(const CommandLine& line) {
    const TableFiles files = TableFilesOf(line.table);
    KsFieldList fields;
    for (const FieldSpec& spec : line.fields) {
        fields.Add(NewField(spec));
    }
    CBFFile table;
    table.PackFields(fields);
    if (line.hasTitle) {
        table.SetTitle(line.title.c_str());
    }
    table.Create(files.data.c_str(), fields, 0, false);
    // What the header says, read back.
    table.Open(files.data.c_str(), IO_READ);
    std::printf("Created \"%s\" and \"%s\": %s, %s a record.\n", files.header.c_str(),
                files.data.c_str(), Counted(table.GetFieldCount(), "field").c_str(),
                Counted(table.GetRecordLength(), "byte").c_str());
    return 0;
}
