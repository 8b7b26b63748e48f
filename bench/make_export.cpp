// Writes a synthetic questionnaire export for the converter benchmarks: a header line,
// then RECORDS lines of FIELDS fixed-width fields joined by commas, CR LF line ends.
// The content depends only on the arguments, so every run measures the same bytes.
//
//   make_export RECORDS [FIELDS] > file.csv

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_export RECORDS [FIELDS]\n");
        return 2;
    }
    const long records = std::strtol(argv[1], nullptr, 10);
    const int fields = argc > 2 ? std::atoi(argv[2]) : 150;
    // Field widths repeat 1, 2, 3, 4, 5, 4, 3, 2: about 2.75 characters a field.
    static const int widths[] = {1, 2, 3, 4, 5, 4, 3, 2};
    std::string line;
    for (int f = 0; f < fields; ++f) {
        line += (f ? ",Q" : "Q") + std::to_string(f + 1);
    }
    line += "\r\n";
    std::fwrite(line.data(), 1, line.size(), stdout);

    unsigned long state = 12345;  // Park-Miller generator: the same bytes on every machine
    auto next = [&state] { return state = state * 16807UL % 2147483647UL; };
    for (long r = 0; r < records; ++r) {
        line.clear();
        for (int f = 0; f < fields; ++f) {
            if (f) {
                line += ',';
            }
            const int width = widths[f % 8];
            const unsigned long value = next();
            if (value % 13 == 0) {
                line.append(static_cast<std::size_t>(width), ' ');  // unanswered
                continue;
            }
            std::string digits = std::to_string(value % 100000);
            if (static_cast<int>(digits.size()) > width) {
                digits.erase(0, digits.size() - static_cast<std::size_t>(width));
            }
            line.append(static_cast<std::size_t>(width) - digits.size(), ' ');
            line += digits;
        }
        line += "\r\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    return 0;
}
