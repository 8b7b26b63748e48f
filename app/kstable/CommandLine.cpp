#include "CommandLine.h"

#include <algorithm>
#include <charconv>
#include <map>

#include "core/KsText.h"
#include "files/KsFieldTypeLetters.h"

const char* const kUsageText =
    "Usage: kstable COMMAND [options] TABLE ...\n"
    "Work with compressed binary tables: a data file TABLE.cbf of fixed-length records and\n"
    "its header TABLE.kss. TABLE may be given with or without either extension.\n"
    "\n"
    "Commands:\n"
    "  create [--title TEXT] TABLE NAME:TYPE...\n"
    "      make a new, empty table with these fields; TYPE is one of\n"
    "        A<length>  text of 1 to 255 bytes      Y<length>  raw bytes, 1 to 255\n"
    "        N          number (32-bit whole)       N/<divisor>  number with decimals,\n"
    "                                               stored times the divisor (N/100)\n"
    "        I          long (32-bit)               W          unsigned long (32-bit)\n"
    "        S<bits>    short of 1 to 16 bits       U<bits>    unsigned short, 1 to 16\n"
    "                   (S and U alone: 16 bits)\n"
    "  info TABLE\n"
    "      show the file type, title, record count, record length and the field layout\n"
    "  import [--header] TABLE FILE\n"
    "      append the records of a comma-separated FILE (\"-\": standard input), one value\n"
    "      a field in field order; --header skips a first line of names. All or nothing:\n"
    "      a value that does not fit stops the import and leaves the table as it was.\n"
    "  export [--fields NAME,...] [--records FIRST-LAST] TABLE\n"
    "      write the records as comma-separated text with a header line to standard\n"
    "      output; FIRST-LAST, FIRST- or N choose records, numbered from 1\n"
    "  sort [--memory SIZE] [--temp DIR] TABLE FIELD[:desc]...\n"
    "      order the records in place by the fields in turn, each ascending or, with\n"
    "      :desc, descending; equal records keep no particular order. SIZE bounds the\n"
    "      memory of the sort and its file buffers: bytes or a number with K, M or G,\n"
    "      from 512K to 1024G (default 64M); DIR holds the temporary files. An\n"
    "      interrupted or failed sort leaves the records as they were.\n"
    "  index TABLE FIELD\n"
    "      mark the field indexed and build its index file (TABLE.<field number>)\n"
    "  unindex TABLE FIELD\n"
    "      mark the field not indexed and delete its index file\n"
    "  search [--to VALUE] [--count] TABLE FIELD VALUE\n"
    "      write the records whose indexed FIELD equals VALUE (or lies from VALUE to the\n"
    "      --to VALUE, both included) as export does, or with --count only how many\n"
    "  check TABLE\n"
    "      check that the header fits the data file, that every index file agrees with\n"
    "      the records and that the transaction log reads back, and report what a process\n"
    "      that died left; print each problem (exit status 1 when there is one)\n"
    "  recover TABLE\n"
    "      make a damaged table whole where it can, saying each step: roll back a commit\n"
    "      cut short, cut a torn last record, rebuild missing or stale index files, set a\n"
    "      damaged transaction log aside and start a new one, remove what a dead process\n"
    "      left; then check it (exit status 1 when the check still fails)\n"
    "  apply [--no-sync] TABLE FILE\n"
    "      carry out the changes of FILE (\"-\": standard input), one a line:\n"
    "        append,VALUE...   insert,N,VALUE...   modify,N,VALUE...   delete,N\n"
    "      with values as for import, as one transaction: when one fails, all are undone.\n"
    "      Each change reaches the disk before the next; --no-sync leaves that to the\n"
    "      system (faster, but a power failure may lose the table)\n"
    "  log TABLE\n"
    "      list the transactions of the table's log, newest first: identity, status,\n"
    "      number, description and number of changes\n"
    "\n"
    "A commit cut short by a crash is rolled back when a command next opens the table.\n"
    "\n"
    "Options:\n"
    "  --help              show this help and exit\n"
    "  --version           show the version and exit\n"
    "\n"
    "Exit status: 0 done, 1 bad data or a failed operation, 2 invalid arguments or a\n"
    "missing file, 128 + the signal when stopped by Ctrl-C (130), SIGTERM (143) or SIGHUP\n"
    "(129); an interrupted import, sort or apply leaves the table as it was.\n";

const char* const kVersionText = "kstable (Kestrel table tool) 1.0\nKestrel 5.41.1.0\n";

namespace {

// Digits only, no sign, within [minimum, maximum]; anything else gives nothing.
bool ReadNumber(std::string_view text, long long minimum, long long maximum, long long& value) {
    if (text.empty() || !std::all_of(text.begin(), text.end(), KsText::IsDigit)) {
        return false;
    }
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && value >= minimum && value <= maximum;
}

[[noreturn]] void FieldError(std::string_view spec, const std::string& reason) {
    throw UsageError("field \"" + std::string(spec) + "\": " + reason);
}

// The decimals that show every multiple of 1 / divisor exactly, or -1 when some have
// no finite decimal text (the divisor has a prime factor other than 2 and 5).
int DecimalsFor(long long divisor) {
    int twos = 0;
    int fives = 0;
    for (; divisor % 2 == 0; divisor /= 2) {
        ++twos;
    }
    for (; divisor % 5 == 0; divisor /= 5) {
        ++fives;
    }
    return divisor == 1 ? std::max(twos, fives) : -1;
}

void ParseNumberType(std::string_view spec, std::string_view suffix, FieldSpec& field) {
    field.divisor = 1;
    if (suffix.empty()) {
        return;
    }
    long long divisor = 0;
    if (suffix[0] != '/' || !ReadNumber(suffix.substr(1), 1, 2147483647, divisor)) {
        FieldError(spec, "N takes a divisor from 1 to 2147483647 as N/<divisor>");
    }
    const int decimals = DecimalsFor(divisor);
    if (decimals < 0) {
        FieldError(spec,
                   "a divisor must divide a power of ten (such as 10, 100 or 4), so that every "
                   "value has an exact decimal text");
    }
    field.divisor = static_cast<std::int32_t>(divisor);
    field.precision = static_cast<std::int16_t>(decimals);
}

void ParseType(std::string_view spec, std::string_view type, FieldSpec& field) {
    if (type.empty()) {
        FieldError(spec, "a field needs a type");
    }
    field.type = type[0];
    const std::string_view suffix = type.substr(1);
    long long number = 0;
    switch (field.type) {
        case KS_ALPHA_FLD:
        case KS_BINARY_FLD:
            if (!ReadNumber(suffix, 1, 255, number)) {
                FieldError(spec, std::string(1, field.type) + " takes a length from 1 to 255");
            }
            field.length = static_cast<std::int16_t>(number);
            return;
        case KS_SHORT_FLD:
        case KS_USHORT_FLD:
            if (suffix.empty()) {
                number = 16;
            } else if (!ReadNumber(suffix, 1, 16, number)) {
                FieldError(spec, std::string(1, field.type) + " takes 1 to 16 bits");
            }
            field.bits = static_cast<std::uint16_t>(number);
            return;
        case KS_NUMBER_FLD:
            ParseNumberType(spec, suffix, field);
            return;
        case KS_LONG_FLD:
        case KS_ULONG_FLD:
            if (suffix.empty()) {
                return;
            }
            break;
        default:
            break;
    }
    FieldError(spec, "unknown type \"" + std::string(type) +
                         "\"; use A<length>, Y<length>, N, N/<divisor>, I, W, S<bits> or U<bits>");
}

void CheckName(std::string_view spec, std::string_view name) {
    if (name.empty()) {
        FieldError(spec, "a field needs a name");
    }
    if (name.find(',') != std::string_view::npos ||
        std::any_of(name.begin(), name.end(), [](char c) { return c >= 0 && c < ' '; })) {
        FieldError(spec, "a name holds no commas and no control characters");
    }
    if (name.front() == ' ' || name.back() == ' ') {
        FieldError(spec, "a name neither starts nor ends with a space");
    }
}

}  // namespace

FieldSpec ParseFieldSpec(std::string_view text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        FieldError(text, "expected NAME:TYPE");
    }
    FieldSpec field;
    CheckName(text, text.substr(0, colon));
    field.name = std::string(text.substr(0, colon));
    ParseType(text, text.substr(colon + 1), field);
    return field;
}

RecordRange ParseRecordRange(std::string_view text) {
    RecordRange range;
    const std::size_t dash = text.find('-');
    long long first = 0;
    long long last = 0;
    const std::string_view firstText = text.substr(0, dash);
    const std::string_view lastText =
        dash == std::string_view::npos ? firstText : text.substr(dash + 1);
    if (!ReadNumber(firstText, 1, 2147483647, first) ||
        (!lastText.empty() && (!ReadNumber(lastText, 1, 2147483647, last) || last < first))) {
        throw UsageError("invalid record range '" + std::string(text) +
                         "'; use FIRST-LAST, FIRST- or N, numbered from 1");
    }
    range.first = static_cast<std::int32_t>(first);
    range.last = static_cast<std::int32_t>(last);
    return range;
}

SortFieldOrder ParseSortField(std::string_view text) {
    SortFieldOrder field;
    const std::size_t colon = text.rfind(':');
    field.name = std::string(text.substr(0, colon));
    if (colon != std::string_view::npos) {
        const std::string_view order = text.substr(colon + 1);
        if (order != "desc" && order != "asc") {
            throw UsageError("sort field \"" + std::string(text) +
                             "\": the order after ':' is 'asc' or 'desc'");
        }
        field.descending = order == "desc";
    }
    if (field.name.empty()) {
        throw UsageError("sort field \"" + std::string(text) + "\" has no name");
    }
    return field;
}

std::uint64_t ParseMemorySize(std::string_view text) {
    static constexpr std::string_view kUnits = "KMG";
    long long value = 0;
    int shift = 0;
    std::string_view digits = text;
    if (!text.empty() && kUnits.find(text.back()) != std::string_view::npos) {
        shift = 10 * (static_cast<int>(kUnits.find(text.back())) + 1);
        digits.remove_suffix(1);
    }
    // The sort's fixed buffers (the new data file's and the run files') take about 380K,
    // so a smaller bound could not be kept.
    constexpr long long kMinimum = 512ll << 10;
    constexpr long long kMaximum = 1ll << 40;
    if (!ReadNumber(digits, 1, kMaximum >> shift, value) || (value << shift) < kMinimum) {
        throw UsageError("invalid memory size '" + std::string(text) +
                         "'; use bytes or a number with K, M or G, from 512K to 1024G");
    }
    return static_cast<std::uint64_t>(value) << shift;
}

namespace {

using Command = CommandLine::Command;

const std::map<std::string, Command, std::less<>> kCommands{
    {"create", Command::kCreate},   {"info", Command::kInfo},     {"import", Command::kImport},
    {"export", Command::kExport},   {"sort", Command::kSort},     {"index", Command::kIndex},
    {"unindex", Command::kUnindex}, {"search", Command::kSearch}, {"check", Command::kCheck},
    {"recover", Command::kRecover}, {"apply", Command::kApply},   {"log", Command::kLog}};

// The options each command takes; those in `withValue` take the next argument or "=VALUE".
struct OptionRule {
    const char* name;
    Command command;
    bool withValue;
};
const OptionRule kOptions[] = {
    {"--title", Command::kCreate, true},  {"--header", Command::kImport, false},
    {"--fields", Command::kExport, true}, {"--records", Command::kExport, true},
    {"--memory", Command::kSort, true},   {"--temp", Command::kSort, true},
    {"--to", Command::kSearch, true},     {"--count", Command::kSearch, false},
    {"--no-sync", Command::kApply, false}};

std::vector<std::string> SplitNames(const std::string& list) {
    std::vector<std::string> names;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = list.find(',', start);
        names.push_back(list.substr(start, comma - start));
        if (names.back().empty()) {
            throw UsageError("option '--fields' needs names separated by single commas");
        }
        if (comma == std::string::npos) {
            return names;
        }
        start = comma + 1;
    }
}

void ApplyOption(const std::string& name, const std::string& value, CommandLine& line) {
    if (name == "--title") {
        line.title = value;
        line.hasTitle = true;
    } else if (name == "--header") {
        line.skipHeader = true;
    } else if (name == "--fields") {
        line.exportFields = SplitNames(value);
    } else if (name == "--memory") {
        line.memory = ParseMemorySize(value);
    } else if (name == "--temp") {
        line.tempDirectory = value;
    } else if (name == "--to") {
        line.toValue = value;
        line.hasTo = true;
    } else if (name == "--count") {
        line.countOnly = true;
    } else if (name == "--no-sync") {
        line.sync = false;
    } else {
        line.records = ParseRecordRange(value);
    }
}

// Handles the option at arguments[i]; moves i past its value when it takes one.
void ParseOption(const std::vector<std::string>& arguments, std::size_t& i, CommandLine& line,
                 const std::string& commandName) {
    const std::string& argument = arguments[i];
    const std::size_t equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    const auto rule = std::find_if(std::begin(kOptions), std::end(kOptions),
                                   [&](const OptionRule& r) { return name == r.name; });
    if (rule == std::end(kOptions)) {
        throw UsageError("unknown option '" + argument + "'");
    }
    if (rule->command != line.command) {
        throw UsageError("option '" + name + "' does not apply to '" + commandName + "'");
    }
    if (!rule->withValue) {
        if (equals != std::string::npos) {
            throw UsageError("option '" + name + "' takes no value");
        }
        ApplyOption(name, "", line);
    } else if (equals != std::string::npos) {
        ApplyOption(name, argument.substr(equals + 1), line);
    } else if (++i == arguments.size()) {
        throw UsageError("option '" + name + "' needs a value");
    } else {
        ApplyOption(name, arguments[i], line);
    }
}

void TakeOperands(std::vector<std::string>& operands, CommandLine& line,
                  const std::string& commandName) {
    static const std::map<Command, std::size_t> operandCounts{{Command::kImport, 2},
                                                              {Command::kApply, 2},
                                                              {Command::kIndex, 2},
                                                              {Command::kUnindex, 2},
                                                              {Command::kSearch, 3}};
    const auto counted = operandCounts.find(line.command);
    const std::size_t wanted = counted != operandCounts.end() ? counted->second : 1;
    const bool moreAllowed = line.command == Command::kCreate || line.command == Command::kSort;
    if (operands.size() < wanted + (moreAllowed ? 1 : 0) ||
        (!moreAllowed && operands.size() > wanted)) {
        static const std::map<Command, const char*> forms{
            {Command::kCreate, "a table and at least one field NAME:TYPE"},
            {Command::kInfo, "one table"},
            {Command::kImport, "a table and a file"},
            {Command::kExport, "one table"},
            {Command::kSort, "a table and at least one field"},
            {Command::kIndex, "a table and a field"},
            {Command::kUnindex, "a table and a field"},
            {Command::kSearch, "a table, a field and a value"},
            {Command::kCheck, "one table"},
            {Command::kRecover, "one table"},
            {Command::kApply, "a table and a file"},
            {Command::kLog, "one table"}};
        throw UsageError("'" + commandName + "' expects " + forms.at(line.command));
    }
    line.table = operands[0];
    const bool withFile = line.command == Command::kImport || line.command == Command::kApply;
    if (withFile) {
        line.input = operands[1];
    }
    if (wanted >= 2 && !withFile) {
        line.field = operands[1];
    }
    if (line.command == Command::kSearch) {
        line.value = operands[2];
    }
    if (line.command == Command::kSort) {
        for (std::size_t i = 1; i < operands.size(); ++i) {
            line.sortFields.push_back(ParseSortField(operands[i]));
        }
    }
    if (line.command == Command::kCreate) {
        std::map<std::string, bool> seen;
        for (std::size_t i = 1; i < operands.size(); ++i) {
            line.fields.push_back(ParseFieldSpec(operands[i]));
            std::string key = line.fields.back().name;
            std::transform(key.begin(), key.end(), key.begin(), KsText::ToUpper);
            if (seen[key]) {
                throw UsageError("two fields are named \"" + line.fields.back().name + "\"");
            }
            seen[key] = true;
        }
    }
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine line;
    for (const std::string& argument : arguments) {
        if (argument == "--") {
            break;
        }
        if (argument == "--help" || argument == "--version") {
            line.command = argument == "--help" ? Command::kHelp : Command::kVersion;
            return line;
        }
    }
    if (arguments.empty()) {
        throw UsageError("no command given");
    }
    const auto command = kCommands.find(arguments[0]);
    if (command == kCommands.end()) {
        throw UsageError("unknown command '" + arguments[0] + "'");
    }
    line.command = command->second;
    std::vector<std::string> operands;
    bool optionsEnded = false;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument == "-" || argument[0] != '-') {
            operands.push_back(argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else {
            ParseOption(arguments, i, line, command->first);
        }
    }
    TakeOperands(operands, line, command->first);
    return line;
}
