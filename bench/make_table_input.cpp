// Writes the comma-separated input of the table benchmark: a header line, then RECORDS
// lines of 46 values: id (1, 2, ...), three amounts with two decimals (0.00 to 99999.99),
// forty answers from 0 to 15, a code of ten capital letters and a text of up to twenty
// characters (words of small letters; one text in fifty holds a comma and is quoted).
// The content depends only on the argument, so every run measures the same bytes.
//
//   make_table_input RECORDS > file.csv

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

unsigned long state = 12345;  // Park-Miller generator: the same bytes on every machine

unsigned long Next() {
    return state = state * 16807UL % 2147483647UL;
}

void AppendText(std::string& line) {
    static const char* const words[] = {"red",   "green", "blue", "yes",  "no",    "maybe", "often",
                                        "never", "good",  "fair", "poor", "staff", "price"};
    const std::size_t limit = Next() % 21;
    std::string text;
    while (true) {
        const std::string word = words[Next() % 13];
        const std::size_t extra = text.empty() ? word.size() : word.size() + 1;
        if (text.size() + extra > limit) {
            break;
        }
        text += text.empty() ? word : " " + word;
    }
    if (text.size() > 2 && Next() % 50 == 0) {
        text[text.find(' ') == std::string::npos ? 1 : text.find(' ')] = ',';
        line += '"' + text + '"';
    } else {
        line += text;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_table_input RECORDS\n");
        return 2;
    }
    const long records = std::strtol(argv[1], nullptr, 10);
    std::string line = "id,amount1,amount2,amount3";
    for (int q = 1; q <= 40; ++q) {
        line += ",q" + std::to_string(q);
    }
    line += ",code,text\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    char number[32];
    for (long r = 1; r <= records; ++r) {
        line = std::to_string(r);
        for (int a = 0; a < 3; ++a) {
            const unsigned long cents = Next() % 10000000UL;
            std::snprintf(number, sizeof number, ",%lu.%02lu", cents / 100, cents % 100);
            line += number;
        }
        for (int q = 0; q < 40; ++q) {
            line += ',';
            line += std::to_string(Next() % 16);
        }
        line += ',';
        for (int c = 0; c < 10; ++c) {
            line += static_cast<char>('A' + Next() % 26);
        }
        line += ',';
        AppendText(line);
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    return 0;
}
