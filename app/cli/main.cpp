// mtconvert: the command-line converter. Converts a comma-separated questionnaire export
// into the fixed-width file the analysis package reads, with the desktop window's checks,
// defaults and messages. Diagnostics go to standard error, each starting with
// "mtconvert: "; those about the input's data name the line.

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ColumnLayout.h"
#include "ConversionEngine.h"
#include "InputChecks.h"
#include "Interrupt.h"
#include "ProgressBar.h"
#include "core/KsException.h"
#include "platform/KsPosixFile.h"
#include "platform/KsSystemError.h"

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
    "  --layout FILE       also write the column layout of the output to FILE: each\n"
    "                      field's number, name (from the dropped first line), first\n"
    "                      and last column, and width (\"-\" is standard output)\n"
    "  --layout-format FORMAT\n"
    "                      csv (default), text (an aligned table) or r (a read.fwf\n"
    "                      call for R)\n"
    "  -h, --help          show this help and exit\n"
    "  -V, --version       show the version and exit\n"
    "\n"
    "A layout exists only when every record has its commas in the same places; when a\n"
    "field's width differs, the conversion goes on, no layout is written, and the exit\n"
    "status is 1.\n"
    "\n"
    "Exit status: 0 converted, 1 conversion failed, 2 invalid arguments or file names,\n"
    "130 interrupted by Ctrl-C, 143 by SIGTERM, 129 by SIGHUP (the records written so far\n"
    "are kept).\n";

const char* const kVersion = "mtconvert (Menu*Tally Data File Converter) 1.0\nKestrel 5.41.1.0\n";

// The window's warning about the header size, with the range an option value must be in.
const char* const kHeaderSizeRange =
    "Please enter a valid scanner header length: a number from 0 to 99.";

struct CommandLine {
    ConversionInputs inputs;
    bool keepHeader = false;
    bool headerSizeGiven = false;  // then it must be valid even when not used
    std::optional<ColumnLayoutFormat> layoutFormat;
};

// The name of standard output as an option's value.
constexpr const char* kStandardStream = "-";

// Reports on standard error while the engine runs: a progress bar on a terminal, nothing
// otherwise. Ctrl-C, SIGTERM and SIGHUP stop the run like the window's Cancel button.
class TerminalObserver : public ConversionObserver {
public:
    explicit TerminalObserver(bool showProgress) {
        if (showProgress) {
            bar_ = std::make_unique<ProgressBar>(stderr);
        }
    }
    bool CheckCancel() override {
        ++records_;
        return KsTool::Interrupted();
    }
    // Records converted so far; every one of them is written before a read waits for more.
    std::uint64_t Records() const { return records_; }
    void Progress(std::uint64_t consumed, std::uint64_t total) override {
        if (bar_) {
            bar_->Update(consumed, total);
        }
    }
    void Finished() override { bar_.reset(); }

private:
    std::unique_ptr<ProgressBar> bar_;
    std::uint64_t records_ = 0;
};

void Report(const std::string& text) {
    std::fprintf(stderr, "mtconvert: %s\n", text.c_str());
}

int UsageError(const std::string& message) {
    Report(message);
    std::fputs("Try 'mtconvert --help' for more information.\n", stderr);
    return kExitUsage;
}

// Makes sure that what was printed on standard output arrived: "mtconvert --help >
// /dev/full" must not report success.
bool FinishStandardOutput() {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        Report("write error: " + KsSystemErrorText(errno));
        return false;
    }
    return true;
}

int PrintAndExit(const char* text) {
    std::fputs(text, stdout);
    return FinishStandardOutput() ? kExitConverted : kExitFailed;
}

// The value of the option `name` at argv[i], given as "NAME VALUE" or "NAME=VALUE": nothing
// when argv[i] is another option; an empty optional inside when the value is missing
// (reported).
std::optional<std::optional<std::string>> OptionValue(int argc, char** argv, int& i,
                                                      const std::string& name, const char* what) {
    const std::string arg = argv[i];
    if (arg == name) {
        if (++i == argc) {
            UsageError("option '" + name + "' needs " + what);
            return std::optional<std::string>();
        }
        return std::optional<std::string>(argv[i]);
    }
    if (arg.rfind(name + "=", 0) == 0) {
        return std::optional<std::string>(arg.substr(name.size() + 1));
    }
    return std::nullopt;
}

// Takes the option at argv[i] (and its value); returns an exit status when the program
// should stop.
std::optional<int> ParseOption(int argc, char** argv, int& i, CommandLine& line) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
        return PrintAndExit(kUsage);
    }
    if (arg == "--version" || arg == "-V") {
        return PrintAndExit(kVersion);
    }
    if (arg == "--keep-header") {
        line.keepHeader = true;
    } else if (arg == "--no-header-field") {
        line.inputs.insertHeaderField = false;
    } else if (auto value = OptionValue(argc, argv, i, "--header-size", "a number")) {
        if (!*value) {
            return kExitUsage;
        }
        line.inputs.headerSizeText = **value;
        line.headerSizeGiven = true;
    } else if (auto file = OptionValue(argc, argv, i, "--layout", "a file name")) {
        if (!*file || (*file)->empty()) {
            return *file ? UsageError("option '--layout' needs a file name") : kExitUsage;
        }
        line.inputs.layoutFile = **file;
    } else if (auto format = OptionValue(argc, argv, i, "--layout-format", "csv, text or r")) {
        if (!*format) {
            return kExitUsage;
        }
        line.layoutFormat = ParseColumnLayoutFormat(**format);
        if (!line.layoutFormat) {
            return UsageError("unknown layout format '" + **format + "' (csv, text or r)");
        }
    } else {
        return UsageError("unknown option '" + arg + "'");
    }
    return std::nullopt;
}

// Parses the arguments; returns an exit status when the program should stop.
std::optional<int> Parse(int argc, char** argv, CommandLine& line) {
    std::vector<std::string> names;
    line.inputs.headerSizeText = "50";
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnded || arg == "-" || arg.size() < 2 || arg[0] != '-') {
            names.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (auto status = ParseOption(argc, argv, i, line)) {
            return status;
        }
    }
    if (names.size() != 2) {
        return UsageError("expected an input and an output file name");
    }
    if (line.layoutFormat && line.inputs.layoutFile.empty()) {
        return UsageError("option '--layout-format' needs '--layout FILE'");
    }
    line.inputs.inputFile = names[0];
    line.inputs.outputFile = names[1];
    return std::nullopt;
}

// The window's checks; standard input and output stand in for file names as "-".
std::optional<std::string> CheckNames(const CommandLine& line) {
    ConversionInputs checked = line.inputs;
    // A header size given is checked even when no spaces are inserted.
    checked.insertHeaderField = line.inputs.insertHeaderField || line.headerSizeGiven;
    const bool fromStdin = checked.inputFile == "-";
    const bool toStdout = checked.outputFile == "-";
    if (checked.layoutFile == kStandardStream) {
        if (toStdout) {
            return std::string(kLayoutSameFileWarning);
        }
        checked.layoutFile = "/dev/stdout";
    }
    if (fromStdin && toStdout) {
        // "mtconvert - - < data.csv >> data.csv" would read its own output.
        if (checked.insertHeaderField && !IsValidHeaderSizeText(checked.headerSizeText)) {
            return std::string(kHeaderSizeWarning);
        }
        if (IsSameFile(STDIN_FILENO, STDOUT_FILENO)) {
            return std::string(kSameFileWarning);
        }
        return std::nullopt;
    }
    if (fromStdin) {
        checked.inputFile = "/dev/stdin";
    }
    if (toStdout) {
        // Catches "mtconvert data.csv - >> data.csv" as well.
        checked.outputFile = "/dev/stdout";
    }
    return CheckConversionInputs(checked);
}

std::optional<std::string> CheckInputs(const CommandLine& line) {
    std::optional<std::string> warning = CheckNames(line);
    if (warning && *warning == kHeaderSizeWarning) {
        return std::string(kHeaderSizeRange);
    }
    return warning;
}

ConversionOptions OptionsOf(const CommandLine& line) {
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
    options.checkFieldWidths = !line.inputs.layoutFile.empty();
    return options;
}

bool IsRegularFile(const std::string& name) {
    KsPosix::FileStatus status;
    return KsPosix::GetStatus(name.c_str(), status) && status.kind == KsPosix::FileKind::kRegular;
}

// True when the records went to the file that standard output is, under whatever name
// ("-", "/dev/stdout", the name of the file it was redirected to).
bool WritesToStandardOutput(const ConversionOptions& options) {
    KsPosix::FileStatus output;
    KsPosix::FileStatus standardOutput;
    return options.outputDescriptor == STDOUT_FILENO ||
           (KsPosix::GetStatus(options.outputFile.c_str(), output) &&
            KsPosix::GetStatus(STDOUT_FILENO, standardOutput) &&
            output.IsSameFileAs(standardOutput));
}

// The completion message: on standard error when the records or the layout went to
// standard output, so that it does not end up among them.
int ReportCompletion(const ConversionOptions& options, const ConversionResult& result,
                     const std::string& layoutMessage, bool layoutToStdout) {
    const bool toStderr = WritesToStandardOutput(options) || layoutToStdout;
    std::string text = CompletionMessage(result.recordLength);
    if (!layoutMessage.empty()) {
        text += "\n" + layoutMessage;
    }
    std::fprintf(toStderr ? stderr : stdout, "%s\n", text.c_str());
    return toStderr || FinishStandardOutput() ? kExitConverted : kExitFailed;
}

// Writes the layout of a finished conversion as asked; the message that says where it
// went, or nothing when none was asked for. Throws KsException.
std::string WriteLayout(const CommandLine& line, const ConversionOptions& options,
                        const ConversionResult& result) {
    const std::string& file = line.inputs.layoutFile;
    if (file.empty()) {
        return {};
    }
    const ColumnLayoutFormat format = line.layoutFormat.value_or(ColumnLayoutFormat::kCsv);
    if (file != kStandardStream) {
        WriteColumnLayout(options, result, file, format);
        return ColumnLayoutMessage(file);
    }
    const std::string text = ColumnLayoutText(options, result, format, "standard output");
    std::fputs(text.c_str(), stdout);
    if (!FinishStandardOutput()) {
        throw KsException("The column layout could not be written to standard output.", "mtconvert",
                          0);
    }
    return ColumnLayoutMessage("standard output");
}

std::string WhereOf(const ConversionOptions& options, const KsException& error) {
    if (const auto* dataError = dynamic_cast<const ConversionDataError*>(&error)) {
        if (dataError->GetLineNumber() > 0) {
            return options.inputFile + ":" + std::to_string(dataError->GetLineNumber()) + ": ";
        }
    }
    return {};
}

// What Ctrl-C or a signal leaves: the records converted before it, whole.
void ReportInterrupted(const ConversionOptions& options, std::uint64_t records) {
    const std::string output =
        options.outputDescriptor >= 0 ? "standard output" : "\"" + options.outputFile + "\"";
    const int signal = KsTool::InterruptingSignal();
    const char* abbreviation = signal > 0 ? sigabbrev_np(signal) : nullptr;
    const std::string by = signal == SIGINT          ? "Ctrl-C"
                           : abbreviation != nullptr ? std::string("SIG") + abbreviation
                                                     : "a signal";
    Report("interrupted by " + by + "; " + output + " keeps the " + std::to_string(records) +
           (records == 1 ? " record" : " records") + " converted before it");
}

int Convert(const CommandLine& line, const ConversionOptions& options) {
    const bool showProgress =
        isatty(STDERR_FILENO) && options.inputDescriptor < 0 && IsRegularFile(options.inputFile);
    TerminalObserver observer(showProgress);
    try {
        ConversionResult result = ConvertFile(options, observer);
        // A signal that arrived after the last record was checked still means the run was
        // stopped: a producer piping into us was most likely stopped by the same signal.
        if (result.cancelled || KsTool::Interrupted()) {
            result.cancelled = true;
            WriteLayout(line, options, result);
            ReportInterrupted(options, result.records);
            return kExitCancelled;
        }
        std::string layoutMessage;
        try {
            layoutMessage = WriteLayout(line, options, result);
        } catch (const KsException& error) {
            // The records are converted: that is said first, then why the layout is not.
            ReportCompletion(options, result, {}, line.inputs.layoutFile == kStandardStream);
            Report(WhereOf(options, error) + error.GetErrorMessage());
            return kExitFailed;
        }
        return ReportCompletion(options, result, layoutMessage,
                                line.inputs.layoutFile == kStandardStream);
    } catch (const KsException& error) {
        if (!line.inputs.layoutFile.empty() && line.inputs.layoutFile != kStandardStream) {
            DiscardColumnLayout(line.inputs.layoutFile);
        }
        if (KsTool::Interrupted()) {
            // A read or write cut short by the signal: a cancel, not a failure.
            ReportInterrupted(options, observer.Records());
            return kExitCancelled;
        }
        Report(WhereOf(options, error) + error.GetErrorMessage());
        return kExitFailed;
    }
}

}  // namespace

int main(int argc, char** argv) {
    CommandLine line;
    if (auto status = Parse(argc, argv, line)) {
        return *status;
    }
    if (auto warning = CheckInputs(line)) {
        Report(*warning);
        return kExitUsage;
    }
    KsTool::InstallInterruptHandler();
    // A cancelled run exits with 128 + the signal that stopped it, 130 after Ctrl-C.
    return KsTool::ExitStatus(Convert(line, OptionsOf(line)));
}
