// mtconvert: the command-line converter. Converts a comma-separated questionnaire export
// into the fixed-width file the analysis package reads, with the desktop window's checks,
// defaults and messages.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ConversionEngine.h"
#include "InputChecks.h"
#include "Interrupt.h"
#include "ProgressBar.h"
#include "core/KsException.h"

namespace {

constexpr int kExitConverted = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCancelled = KsTool::kExitInterrupted;

const char* const kUsage =
    "Usage: mtconvert [options] INPUT OUTPUT\n"
    "Convert a comma-separated questionnaire data file to fixed width: every comma is\n"
    "removed, the first line (column headers) is dropped, and a scanner header of\n"
    "spaces is put in front of every record. Every record must contain a comma and all\n"
    "records must have the same length. INPUT or OUTPUT \"-\" means standard input or\n"
    "standard output.\n"
    "\n"
    "Options:\n"
    "  --keep-header       do not drop the first line\n"
    "  --header-size N     number of spaces in front of every record, 0 to 99 (default 50)\n"
    "  --no-header-field   insert no spaces\n"
    "  --help              show this help and exit\n"
    "  --version           show the version and exit\n"
    "\n"
    "Exit status: 0 converted, 1 conversion failed, 2 invalid arguments or file names,\n"
    "130 interrupted (the records written so far are kept).\n";

struct CommandLine {
    ConversionInputs inputs;
    bool keepHeader = false;
};

// Reports on standard error while the engine runs: a progress bar on a terminal, nothing
// otherwise. Ctrl-C stops the run like the window's Cancel button.
class TerminalObserver : public ConversionObserver {
public:
    explicit TerminalObserver(bool showProgress) {
        if (showProgress) {
            bar_ = std::make_unique<ProgressBar>(stderr);
        }
    }
    bool CheckCancel() override { return KsTool::Interrupted(); }
    void Progress(std::uint64_t consumed, std::uint64_t total) override {
        if (bar_) {
            bar_->Update(consumed, total);
        }
    }
    void Finished() override { bar_.reset(); }

private:
    std::unique_ptr<ProgressBar> bar_;
};

int UsageError(const std::string& message) {
    std::fprintf(stderr, "mtconvert: %s\nTry 'mtconvert --help' for more information.\n",
                 message.c_str());
    return kExitUsage;
}

// Parses the arguments; returns an exit status when the program should stop.
std::optional<int> Parse(int argc, char** argv, CommandLine& line) {
    std::vector<std::string> names;
    line.inputs.headerSizeText = "50";
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (optionsEnded || arg == "-" || arg.size() < 2 || arg[0] != '-') {
            names.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help") {
            std::fputs(kUsage, stdout);
            return kExitConverted;
        } else if (arg == "--version") {
            std::puts("mtconvert (Menu*Tally Data File Converter) 1.0\nKestrel 5.41.1.0");
            return kExitConverted;
        } else if (arg == "--keep-header") {
            line.keepHeader = true;
        } else if (arg == "--no-header-field") {
            line.inputs.insertHeaderField = false;
        } else if (arg == "--header-size" || arg.rfind("--header-size=", 0) == 0) {
            if (arg == "--header-size") {
                if (++i == argc) {
                    return UsageError("option '--header-size' needs a number");
                }
                line.inputs.headerSizeText = argv[i];
            } else {
                line.inputs.headerSizeText = arg.substr(std::strlen("--header-size="));
            }
        } else {
            return UsageError("unknown option '" + arg + "'");
        }
    }
    if (names.size() != 2) {
        return UsageError("expected an input and an output file name");
    }
    line.inputs.inputFile = names[0];
    line.inputs.outputFile = names[1];
    return std::nullopt;
}

// The window's checks; standard input and output stand in for file names as "-".
std::optional<std::string> CheckInputs(const ConversionInputs& inputs) {
    const bool fromStdin = inputs.inputFile == "-";
    const bool toStdout = inputs.outputFile == "-";
    if (fromStdin && toStdout) {
        if (inputs.insertHeaderField && !IsValidHeaderSizeText(inputs.headerSizeText)) {
            return std::string("Please enter a valid scanner header length.");
        }
        return std::nullopt;
    }
    ConversionInputs checked = inputs;
    if (fromStdin) {
        checked.inputFile = "/dev/stdin";
    }
    if (toStdout) {
        // Catches "mtconvert data.csv - >> data.csv", which would read its own output.
        checked.outputFile = "/dev/stdout";
    }
    return CheckConversionInputs(checked);
}

bool IsRegularFile(const std::string& name) {
    struct stat status {};
    return stat(name.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

}  // namespace

int main(int argc, char** argv) {
    CommandLine line;
    if (auto status = Parse(argc, argv, line)) {
        return *status;
    }
    if (auto warning = CheckInputs(line.inputs)) {
        std::fprintf(stderr, "%s\n", warning->c_str());
        return kExitUsage;
    }

    ConversionOptions options;
    options.inputFile = line.inputs.inputFile;
    options.outputFile = line.inputs.outputFile;
    if (options.inputFile == "-") {
        options.inputDescriptor = STDIN_FILENO;
    }
    if (options.outputFile == "-") {
        options.outputDescriptor = STDOUT_FILENO;
    }
    options.removeColumnHeaders = !line.keepHeader;
    options.insertHeaderField = line.inputs.insertHeaderField;
    options.headerSize = static_cast<std::uint16_t>(ParseHeaderSize(line.inputs));

    KsTool::InstallInterruptHandler();

    const bool showProgress =
        isatty(STDERR_FILENO) && options.inputDescriptor < 0 && IsRegularFile(options.inputFile);
    TerminalObserver observer(showProgress);
    try {
        ConversionResult result = ConvertFile(options, observer);
        // Ctrl-C that arrived after the last record was checked still means the run was
        // stopped: a producer piping into us was most likely killed by the same keypress.
        if (result.cancelled || KsTool::Interrupted()) {
            return kExitCancelled;
        }
        // The records go to standard output when it is the output; the message then
        // goes to standard error so that it does not end up among them.
        std::FILE* report = options.outputDescriptor == STDOUT_FILENO ? stderr : stdout;
        std::fprintf(report, "%s\n", CompletionMessage(result.recordLength).c_str());
        return kExitConverted;
    } catch (const KsException& error) {
        if (KsTool::Interrupted()) {
            // A read or write cut short by Ctrl-C: a cancel, not a failure.
            return kExitCancelled;
        }
        std::fprintf(stderr, "%s\n", error.GetErrorMessage());
        return kExitFailed;
    }
}
