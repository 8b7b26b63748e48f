// kstable: creates compressed binary tables, shows their layout, imports comma-separated
// text into them, exports them as such, sorts them, applies changes to them as transactions
// and lists their transaction logs.

#include <cstdio>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Commands.h"
#include "Interrupt.h"
#include "Table.h"
#include "core/KsException.h"
#include "txn/KsInstallTransactions.h"

namespace {

int Run(const CommandLine& line) {
    switch (line.command) {
        case CommandLine::Command::kHelp:
            std::fputs(kUsageText, stdout);
            return 0;
        case CommandLine::Command::kVersion:
            std::fputs(kVersionText, stdout);
            return 0;
        case CommandLine::Command::kCreate:
            return CreateTable(line);
        case CommandLine::Command::kInfo:
            return ShowTableInfo(line);
        case CommandLine::Command::kImport:
            return ImportRecords(line);
        case CommandLine::Command::kExport:
            return ExportRecords(line);
        case CommandLine::Command::kSort:
            return SortTable(line);
        case CommandLine::Command::kIndex:
            return IndexField(line);
        case CommandLine::Command::kUnindex:
            return UnindexField(line);
        case CommandLine::Command::kSearch:
            return SearchTable(line);
        case CommandLine::Command::kCheck:
            return CheckTable(line);
        case CommandLine::Command::kRecover:
            return RecoverTable(line);
        case CommandLine::Command::kApply:
            return ApplyChanges(line);
        case CommandLine::Command::kLog:
            return ShowLog(line);
    }
    return 2;
}

// Runs the command line; a command stopped by a signal gives kExitInterrupted (130),
// made 128 + the signal by main.
int RunCommandLine(int argc, char** argv) {
    try {
        return Run(ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc)));
    } catch (const MissingFileError& error) {
        std::fprintf(stderr, "kstable: %s\n", error.what());
        return 2;
    } catch (const UsageError& error) {
        std::fprintf(stderr, "kstable: %s\nTry 'kstable --help' for more information.\n",
                     error.what());
        return 2;
    } catch (const Interrupted&) {
        return KsTool::kExitInterrupted;
    } catch (const KsException& error) {
        if (KsTool::Interrupted()) {
            return KsTool::kExitInterrupted;  // a read or write cut short by the signal
        }
        std::fprintf(stderr, "kstable: %s\n", error.GetErrorMessage());
        return 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    KsTool::InstallInterruptHandler();
    KsInstallTransactions();
    return KsTool::ExitStatus(RunCommandLine(argc, argv));
}
