// kstable: creates compressed binary tables, shows their layout, imports comma-separated
// text into them and exports them as such.

#include <cstdio>
#include <string>
#include <vector>

#include "CommandLine.h"

int main(int argc, char** argv) {
    try {
        const CommandLine line = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
        if (line.command == CommandLine::Command::kHelp) {
            std::fputs(kUsageText, stdout);
        } else if (line.command == CommandLine::Command::kVersion) {
            std::fputs(kVersionText, stdout);
        }
        return 0;
    } catch (const UsageError& error) {
        std::fprintf(stderr, "kstable: %s\nTry 'kstable --help' for more information.\n",
                     error.what());
        return 2;
    }
}
