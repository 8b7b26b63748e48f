// Writes the records of a table as fixed-width text lines for GNU sort, the key first: the
// sort benchmark's input for the tools that sort lines.
//
//   sort_lines TABLE KEYFIELD... -- FIELD...
//
// Each line holds the key fields, then the other fields, each as its plain text padded with
// '.' to a fixed width (Alpha fields to their length, Unsigned Short fields to two digits,
// other numbers to twelve characters), with no blank, so that a key of character positions
// on the first field (sort -k1.1,1.N) orders the lines as the key fields order the records.
// Alpha texts must hold no blank for that; ours hold capitals only in key fields, and blanks
// in other fields become '_'.

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/KsException.h"
#include "files/CBFFile.h"

namespace {

std::size_t WidthOf(const KsField& field) {
    switch (field.GetType()) {
        case 'A':
            return static_cast<std::size_t>(field.GetLength());
        case 'U':
            return 2;
        default:
            return 12;
    }
}

void Append(std::string& line, const char* text, std::size_t width, char type) {
    std::string value = text;
    for (char& c : value) {
        c = c == ' ' ? '_' : c;
    }
    if (type == 'U' || type == 'I' || type == 'N' || type == 'W') {
        line.append(width > value.size() ? width - value.size() : 0, '0');
        line += value;
    } else {
        line += value;
        line.append(width > value.size() ? width - value.size() : 0, '.');
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: sort_lines TABLE KEYFIELD... [-- FIELD...]\n");
        return 2;
    }
    try {
        CBFFile table;
        table.Open(argv[1], IO_READ);
        std::vector<std::int32_t> fields;
        std::vector<bool> taken(static_cast<std::size_t>(table.GetFieldCount()));
        for (int i = 2; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
            fields.push_back(table.GetFieldNumber(argv[i]));
            taken[static_cast<std::size_t>(fields.back())] = true;
        }
        for (std::int32_t n = 0; n < table.GetFieldCount(); ++n) {
            if (!taken[static_cast<std::size_t>(n)]) {
                fields.push_back(n);
            }
        }
        std::unique_ptr<KsFileRecord> record = table.GetNewRecord();
        std::string line;
        char text[300];
        for (std::int32_t r = 1; r <= table.GetNumRecords(); ++r) {
            table.GotoRecord(r, record.get());
            line.clear();
            for (std::int32_t n : fields) {
                const KsField& field = table.GetField(n);
                Append(line, record->GetField(n, text, sizeof text, false), WidthOf(field),
                       field.GetType());
            }
            line += '\n';
            std::fwrite(line.data(), 1, line.size(), stdout);
        }
        return 0;
    } catch (const KsException& error) {
        std::fprintf(stderr, "sort_lines: %s\n", error.GetErrorMessage());
        return 1;
    }
}
