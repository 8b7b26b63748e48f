// Field types, record ranges and whole command lines as kstable reads them.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CommandLine.h"

namespace {

std::string UsageMessage(const std::vector<std::string>& arguments) {
    try {
        ParseCommandLine(arguments);
    } catch (const UsageError& error) {
        return error.what();
    }
    return "(accepted)";
}

// "name type length bits divisor precision"
std::string Describe(const FieldSpec& f) {
    return f.name + " " + f.type + " " + std::to_string(f.length) + " " + std::to_string(f.bits) +
           " " + std::to_string(f.divisor) + " " + std::to_string(f.precision);
}

TEST(FieldSpec, EveryTypeWithItsLengthBitsAndDivisor) {
    const std::pair<const char*, const char*> cases[] = {
        {"name:A1", "name A 1 0 0 0"}, {"a:b:A255", "a:b A 255 0 0 0"},
        {"raw:Y16", "raw Y 16 0 0 0"}, {"n:N", "n N 0 0 1 0"},
        {"n:N/100", "n N 0 0 100 2"},  {"n:N/25", "n N 0 0 25 2"},
        {"n:N/8", "n N 0 0 8 3"},      {"n:N/1073741824", "n N 0 0 1073741824 30"},
        {"id:I", "id I 0 0 0 0"},      {"w:W", "w W 0 0 0 0"},
        {"s:S", "s S 0 16 0 0"},       {"s:S1", "s S 0 1 0 0"},
        {"u:U16", "u U 0 16 0 0"},     {"Two words:U4", "Two words U 0 4 0 0"},
    };
    for (const auto& [text, description] : cases) {
        EXPECT_EQ(Describe(ParseFieldSpec(text)), description) << text;
    }
}

TEST(FieldSpec, RefusalsSayWhatIsWrong) {
    const std::string kTypes =
        "; use A<length>, Y<length>, N, N/<divisor>, I, W, S<bits> or U<bits>";
    const std::string kDivisor = "N takes a divisor from 1 to 2147483647 as N/<divisor>";
    const std::string kName = "a name holds no commas and no control characters";
    const std::string kSpace = "a name neither starts nor ends with a space";
    const std::pair<const char*, std::string> cases[] = {
        {"plain", "expected NAME:TYPE"},
        {":I", "a field needs a name"},
        {"x:", "a field needs a type"},
        {"a,b:I", kName},
        {" x:I", kSpace},
        {"x :I", kSpace},
        {"x:A0", "A takes a length from 1 to 255"},
        {"x:A256", "A takes a length from 1 to 255"},
        {"x:A+5", "A takes a length from 1 to 255"},
        {"x:Y99999999999999999999", "Y takes a length from 1 to 255"},
        {"x:S0", "S takes 1 to 16 bits"},
        {"x:U17", "U takes 1 to 16 bits"},
        {"x:N/0", kDivisor},
        {"x:N100", kDivisor},
        {"x:N/2147483648", kDivisor},
        {"x:N/3",
         "a divisor must divide a power of ten (such as 10, 100 or 4), so that every "
         "value has an exact decimal text"},
        {"x:I4", "unknown type \"I4\"" + kTypes},
        {"x:a10", "unknown type \"a10\"" + kTypes},
    };
    for (const auto& [text, reason] : cases) {
        EXPECT_EQ(UsageMessage({"create", "t", text}),
                  std::string("field \"") + text + "\": " + reason);
    }
}

TEST(RecordRange, FormsAndRefusals) {
    const std::pair<const char*, std::pair<int, int>> cases[] = {
        {"5", {5, 5}}, {"2-9", {2, 9}}, {"3-", {3, 0}}, {"1-2147483647", {1, 2147483647}}};
    for (const auto& [text, range] : cases) {
        EXPECT_EQ(ParseRecordRange(text).first, range.first) << text;
        EXPECT_EQ(ParseRecordRange(text).last, range.second) << text;
    }
    for (const char* text : {"", "0", "0-3", "-3", "5-4", "a-b", "1-2-3", "2147483648", "+1"}) {
        EXPECT_EQ(UsageMessage({"export", "--records", text, "t"}),
                  std::string("invalid record range '") + text +
                      "'; use FIRST-LAST, FIRST- or N, numbered from 1");
    }
}

TEST(CommandLine, OptionsAnywhereWithTheirValues) {
    CommandLine line = ParseCommandLine({"create", "t.cbf", "--title", "My T", "a:A3", "b:N/10"});
    EXPECT_EQ(line.command, CommandLine::Command::kCreate);
    EXPECT_EQ(line.table + "|" + line.title + "|" + Describe(line.fields[1]),
              "t.cbf|My T|b N 0 0 10 1");
    line = ParseCommandLine({"export", "--fields=b,a", "--records", "2-", "--", "--odd"});
    EXPECT_EQ(line.table, "--odd");
    EXPECT_EQ(line.exportFields, (std::vector<std::string>{"b", "a"}));
    EXPECT_EQ(ParseCommandLine({"info", "t", "--help"}).command, CommandLine::Command::kHelp);
}

TEST(CommandLine, UsageErrors) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "no command given"},
        {{"drop", "t"}, "unknown command 'drop'"},
        {{"info"}, "'info' expects one table"},
        {{"info", "a", "b"}, "'info' expects one table"},
        {{"create", "t"}, "'create' expects a table and at least one field NAME:TYPE"},
        {{"import", "t"}, "'import' expects a table and a file"},
        {{"export", "a", "b"}, "'export' expects one table"},
        {{"info", "-x", "t"}, "unknown option '-x'"},
        {{"export", "--header", "t"}, "option '--header' does not apply to 'export'"},
        {{"import", "--header=1", "t", "f"}, "option '--header' takes no value"},
        {{"create", "t", "a:I", "--title"}, "option '--title' needs a value"},
        {{"export", "--fields", "a,,b", "t"},
         "option '--fields' needs names separated by single commas"},
        {{"create", "t", "Age:I", "age:S"}, "two fields are named \"age\""},
        {{"sort", "t"}, "'sort' expects a table and at least one field"},
        {{"sort", "t", "n:up"}, "sort field \"n:up\": the order after ':' is 'asc' or 'desc'"},
        {{"sort", "t", ":desc"}, "sort field \":desc\" has no name"},
        {{"sort", "--memory", "7", "t", "n"},
         "invalid memory size '7'; use bytes or a number with K, M or G, from 512K to 1024G"},
    };
    for (const auto& [arguments, message] : cases) {
        EXPECT_EQ(UsageMessage(arguments), message);
    }
}

}  // namespace
