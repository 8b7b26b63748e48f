#pragma once
// The command line of kstable: one command, its table, its options and operands.
//
//   kstable create [--title TEXT] TABLE NAME:TYPE...
//   kstable info TABLE
//   kstable import [--header] TABLE FILE
//   kstable export [--fields NAME,...] [--records FIRST-LAST] TABLE
//   kstable sort [--memory SIZE] [--temp DIR] TABLE FIELD[:desc]...
//   kstable index TABLE FIELD | unindex TABLE FIELD | check TABLE | recover TABLE
//   kstable search [--to VALUE] [--count] TABLE FIELD VALUE
//   kstable apply [--no-sync] TABLE FILE
//   kstable log TABLE
//   kstable --help | --version

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// A command line that cannot be carried out as given; the message says why.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A table or input file that is not there or cannot be read; a usage error whose message
// needs no pointer to the help.
class MissingFileError : public UsageError {
public:
    using UsageError::UsageError;
};

// One field of a new table as NAME:TYPE gives it.
struct FieldSpec {
    std::string name;
    char type = '\0';            // 'A', 'Y', 'N', 'I', 'W', 'S' or 'U'
    std::int16_t length = 0;     // bytes of an Alpha or Binary field
    std::uint16_t bits = 0;      // bits of a Short or Unsigned Short field
    std::int32_t divisor = 0;    // Number: the value times the divisor is stored
    std::int16_t precision = 0;  // Number: decimals that show every stored value exactly
};

// Reads "NAME:TYPE" with TYPE one of A<length>, Y<length> (1 to 255 bytes), N, N/<divisor>
// (a divisor that divides a power of ten, so that every stored value has an exact
// decimal text), I, W, S, U, S<bits>, U<bits> (1 to 16 bits, 16 when not given).
FieldSpec ParseFieldSpec(std::string_view text);

// Records FIRST to LAST, numbered from 1; `last` 0 means up to the last record.
struct RecordRange {
    std::int32_t first = 1;
    std::int32_t last = 0;
};

// Reads "N", "FIRST-LAST" or "FIRST-".
RecordRange ParseRecordRange(std::string_view text);

// One field of a sort order as FIELD or FIELD:desc gives it.
struct SortFieldOrder {
    std::string name;
    bool descending = false;
};
SortFieldOrder ParseSortField(std::string_view text);

// Reads a byte count: digits with an optional K, M or G (binary multiples), from 512K to
// 1024G.
std::uint64_t ParseMemorySize(std::string_view text);

struct CommandLine {
    enum class Command {
        kHelp,
        kVersion,
        kCreate,
        kInfo,
        kImport,
        kExport,
        kSort,
        kIndex,
        kUnindex,
        kSearch,
        kCheck,
        kRecover,
        kApply,
        kLog
    };
    Command command = Command::kHelp;
    std::string table;  // as given, with or without its extension
    // create
    std::vector<FieldSpec> fields;
    std::string title;
    bool hasTitle = false;
    // import
    std::string input;  // "-" for standard input (import and apply)
    bool skipHeader = false;
    // export
    std::vector<std::string> exportFields;  // empty: every field
    RecordRange records;
    // sort
    std::vector<SortFieldOrder> sortFields;
    std::uint64_t memory = 64ull << 20;
    std::string tempDirectory;  // empty: the system's temporary directory
    // index, unindex, search
    std::string field;
    // search: VALUE, or VALUE to --to VALUE; --count prints only how many
    std::string value;
    std::string toValue;
    bool hasTo = false;
    bool countOnly = false;
    // apply
    bool sync = true;
};

// Raises UsageError for an unknown command or option, a missing or extra operand, or a
// malformed field or record range.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

extern const char* const kUsageText;
extern const char* const kVersionText;
