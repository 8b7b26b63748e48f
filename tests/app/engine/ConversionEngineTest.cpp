#include "ConversionEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <utility>

#include "InputChecks.h"
#include "support/FaultInjectingFile.h"
#include "support/TempDir.h"

namespace {

using namespace std::string_literals;
using kstest::ReadWholeFile;
using kstest::WriteWholeFile;

// Logs what the engine reports and cancels at the chosen record.
struct RecordingObserver : ConversionObserver {
    std::string calls;
    int cancelAt = 0;
    int checks = 0;
    std::uint64_t consumed = 0;
    std::uint64_t total = 0;

    void Started() override { calls += "Started "; }
    bool CheckCancel() override { return ++checks == cancelAt; }
    void Progress(std::uint64_t done, std::uint64_t size) override {
        consumed = done;
        total = size;
    }
    void Finished() override { calls += "Finished"; }
};

class ConversionEngineTest : public ::testing::Test {
protected:
    kstest::TempDir dir;
    std::string in = dir.File("in.csv");
    std::string out = dir.File("out.txt");
    RecordingObserver observer;

    ConversionOptions Options(bool dropHeader, bool insert, std::uint16_t size) {
        return {.inputFile = in,
                .outputFile = out,
                .removeColumnHeaders = dropHeader,
                .insertHeaderField = insert,
                .headerSize = size};
    }

    // "N records of length L", or the error as "message (class) line N" when it is one of
    // the input's data and "message (class) [call path]" otherwise.
    std::string Run(const ConversionOptions& options,
                    KsIOFactory& factory = KsIOFactory::Default()) {
        try {
            const ConversionResult result = ConvertFile(options, observer, factory);
            return std::to_string(result.records) + " records of length " +
                   std::to_string(result.recordLength) + (result.cancelled ? ", cancelled" : "");
        } catch (const KsException& e) {
            const auto* data = dynamic_cast<const ConversionDataError*>(&e);
            return e.GetErrorMessage() + " ("s + e.GetClassName() +
                   (data ? ") line " + std::to_string(data->GetLineNumber())
                         : ") ["s + e.GetCallpath() + "]");
        }
    }
};

TEST_F(ConversionEngineTest, OutputIsEmptiedOnlyOnceTheInputIsOpen) {
    WriteWholeFile(out, "precious");
    EXPECT_EQ(
        Run(Options(true, true, 50)),
        "Error in opening file '" + in + "'.  No such file or directory. (KsIO) [Open of KsIO]");
    EXPECT_EQ(ReadWholeFile(out), "precious");
    EXPECT_EQ(observer.calls, "");
    WriteWholeFile(in, "");
    EXPECT_EQ(Run(Options(true, true, 50)), "0 records of length 0");
    EXPECT_EQ(ReadWholeFile(out), "");
    EXPECT_EQ(observer.calls, "Started Finished");
    EXPECT_EQ(CompletionMessage(91), "File converted.\nAll records are now length 91");
}

// What the engine must make of `input` when it reads it one line at a time and the
// observer cancels at record `cancelAt`: the output, and the result as Run() gives it.
std::pair<std::string, std::string> Reference(const std::string& input,
                                              const ConversionOptions& options, int cancelAt) {
    std::string output;
    std::size_t length = 0;
    int records = 0;
    std::int64_t line = 0;
    bool header = options.removeColumnHeaders;
    const std::string name = "\"" + options.inputFile + "\"";
    const std::string check = ".\nPlease check your input file.";
    auto error = [&](const char* className, const std::string& message) {
        return std::pair{output, message + " (" + className + ") line " + std::to_string(line)};
    };
    auto dataError = [&](const std::string& message) {
        return error("Process Cancelled", message);
    };
    for (std::size_t position = 0; position < input.size();) {
        const std::size_t lineFeed = input.find('\n', position);
        std::string text = input.substr(position, lineFeed - position);
        position = lineFeed == std::string::npos ? input.size() : lineFeed + 1;
        ++line;
        if (text.size() > options.longestLine) {
            return dataError(name + " has a line of more than " +
                             std::to_string(options.longestLine) + " bytes" + check);
        }
        if (lineFeed != std::string::npos && !text.empty() && text.back() == '\r') {
            text.pop_back();
        }
        if (line == 1 && text.rfind("\xEF\xBB\xBF", 0) == 0) {
            text.erase(0, 3);  // a byte order mark
        }
        if (text.find('\r') != std::string::npos) {
            return error("KsInputStreamInterface",
                         "Return character not followed by newline; unknown end of line type");
        }
        if (std::exchange(header, false)) {
            continue;
        }
        const std::string number = std::to_string(records + 1);
        if (text.find('\0') != std::string::npos) {
            return dataError("Record " + number + " of " + name + " contains a NUL character" +
                             check);
        }
        std::string record(options.insertHeaderField ? options.headerSize : 0, ' ');
        std::copy_if(text.begin(), text.end(), std::back_inserter(record),
                     [](char c) { return c != ','; });
        if (text.find(',') == std::string::npos) {
            return dataError(name +
                             " is not a valid comma separated file.\nPlease choose a new "
                             "input file.");
        }
        length = length == 0 ? record.size() : length;
        if (record.size() != length) {
            return dataError("All the other records are length " + std::to_string(length) +
                             ", but record " + number + " is length " +
                             std::to_string(record.size()) + check);
        }
        output += record + "\n";
        if (++records == cancelAt) {
            return {output,
                    number + " records of length " + std::to_string(length) + ", cancelled"};
        }
    }
    return {output, std::to_string(records) + " records of length " + std::to_string(length)};
}

// A random export: lines of one count of kept characters with commas anywhere (at the
// edges too), now and then a line of another length, without a comma, with a NUL or a
// stray return; "\n" and "\r\n" mixed; the last line with or without its line end; now
// and then a byte order mark.
std::string RandomExport(std::mt19937& random) {
    auto upTo = [&random](int most) { return std::uniform_int_distribution<int>(0, most)(random); };
    auto chance = [&upTo](int percent) { return upTo(99) < percent; };
    auto insertAnywhere = [&upTo](std::string& line, char c) {
        line.insert(static_cast<std::size_t>(upTo(static_cast<int>(line.size()))), 1, c);
    };
    const int kept = upTo(chance(20) ? 40 : 12);
    const int lines = upTo(7);
    std::string input;
    for (int i = 0; i < lines; ++i) {
        std::string line;
        for (int k = chance(5) ? upTo(14) : kept; k > 0; --k) {
            line += "ab1 \""[upTo(4)];
        }
        for (int commas = chance(4) ? 0 : 1 + upTo(3); commas > 0; --commas) {
            insertAnywhere(line, ',');
        }
        for (char odd : {'\0', '\r'}) {
            if (chance(3)) {
                insertAnywhere(line, odd);
            }
        }
        input += line + (i + 1 < lines || chance(70) ? (chance(50) ? "\r\n" : "\n") : "");
    }
    // A byte order mark in front, or one that is data on a later line.
    const std::string mark = "\xEF\xBB\xBF";
    if (chance(10)) {
        input.insert(chance(50) ? 0 : input.find('\n') + 1, mark);
    }
    return input;
}

TEST_F(ConversionEngineTest, RandomInputsMatchALineByLineReference) {
    std::mt19937 random(20261207);
    for (int round = 0; round < 3000; ++round) {
        const std::string input = RandomExport(random);
        ConversionOptions options =
            Options(random() % 2 == 0, random() % 2 == 0, static_cast<std::uint16_t>(random() % 4));
        // Blocks as small as a byte: lines cross the block's end at every place.
        options.blockSize = std::vector<std::size_t>{1, 2, 3, 7, 16, 64, 4096}[random() % 7];
        options.longestLine = random() % 5 == 0 ? 4 + random() % 40 : options.longestLine;
        observer = {};
        observer.cancelAt = random() % 4 == 0 ? 1 + static_cast<int>(random() % 4) : 0;
        // New files each round: rewriting one in place makes the file system write it
        // through to the disk when it is closed.
        std::filesystem::remove(in);
        std::filesystem::remove(out);
        WriteWholeFile(in, input);
        const auto [output, result] = Reference(input, options, observer.cancelAt);
        ASSERT_EQ(Run(options), result) << ::testing::PrintToString(input) << " block "
                                        << options.blockSize << " round " << round;
        ASSERT_EQ(ReadWholeFile(out), output) << ::testing::PrintToString(input);
        if (result.back() != 'd' && result.find(" records of length ") != std::string::npos) {
            ASSERT_EQ(observer.consumed, input.size());
            ASSERT_EQ(observer.total, input.size());
        }
    }
}

// One line of 50 MB converts about as fast as as many bytes in short lines: no work grows
// with the square of a line's length. Times of the same run are compared.
TEST_F(ConversionEngineTest, OneLongLineTakesAboutAsLongAsManyShortOnes) {
    std::string lines;
    while (lines.size() < 50'000'000) {
        lines += "12345,6789\n";
    }
    const auto kept =
        std::to_string(lines.size() - 1 - std::count(lines.begin(), lines.end(), ','));
    double best[2] = {1e9, 1e9};
    for (int round = 0; round < 4; ++round) {
        if (round == 2) {  // one line: the short ones joined by an "x"
            std::replace(lines.begin(), lines.end() - 1, '\n', 'x');
        }
        if (round % 2 == 0) {
            WriteWholeFile(in, lines);
        }
        const auto start = std::chrono::steady_clock::now();
        const std::string result = Run(Options(false, false, 0));
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best[round / 2] = std::min(best[round / 2], took.count());
        EXPECT_EQ(result,
                  round < 2 ? "4545455 records of length 9" : "1 records of length " + kept);
    }
    EXPECT_LT(best[1], 20 * best[0]) << best[1] << " s against " << best[0] << " s";
}

// A full disk stops the run with the system's reason, and the output keeps its whole
// records: a write that stops short is cut back to the last of them.
TEST_F(ConversionEngineTest, FullDiskLeavesWholeRecordsAndTheReason) {
    std::string input = "H,H\n";
    std::string records;
    for (int i = 0; i < 30000; ++i) {
        input += "a,b\n";
        records += std::string(50, ' ') + "ab\n";  // 53 bytes
    }
    WriteWholeFile(in, input);
    const std::string file = " of file \"" + out + "\" -- No space left on device (KsIO) [";
    struct Case {
        kstest::FaultOp op;  // its first call stops short after `written` bytes
        std::size_t written, kept;
        std::string result;
    };
    for (const Case& c : {
             // While records are still written, after exactly 463 of them.
             Case{kstest::FaultOp::kWrite, 463 * 53, 463,
                  "Only able to write 24539 bytes of 1024000 bytes at offset 0" + file +
                      "Write() of KsIO]"},
             // The last part, as the file is closed, after 19322 records and a part.
             Case{kstest::FaultOp::kFlush, 100, 19322,
                  "Only able to write 100 bytes of 566000 bytes at offset 1024000" + file +
                      "Close() of KsIO]"},
         }) {
        kstest::FaultInjectingFactory full;
        full.Plan().Fail(kstest::FaultOp::kFlush, 1, ENOSPC, true);  // the disk stays full
        full.Plan().FailShort(c.op, 1, c.written, ENOSPC, true);
        EXPECT_EQ(Run(Options(true, true, 50), full), c.result);
        EXPECT_EQ(ReadWholeFile(out), records.substr(0, c.kept * 53)) << c.written;
    }
}

const char* const kInput = "Please enter a valid input file name.";
const char* const kOutput = "Please enter a valid output file name.";
const char* const kHeader = "Please enter a valid scanner header length.";
const char* const kSame = "You cannot choose the same file name for the input and the output.";

TEST_F(ConversionEngineTest, InputChecksRunInOrderAndOnlyTheFirstFailureShows) {
    WriteWholeFile(in, "a,b\n");
    std::filesystem::create_hard_link(in, dir.File("hard.csv"));
    std::filesystem::create_symlink(in, dir.File("soft.csv"));
    struct Case {
        std::string input, output;
        bool insert;
        std::string size;
        std::string warning;
        std::string layout = "";
    };
    for (const Case& c : {
             Case{"", "", true, "", kInput}, Case{dir.File("missing.csv"), "", true, "50", kInput},
             Case{dir.File("IN.CSV"), out, true, "50", kInput},   // only under its own case
             Case{dir.Path().string(), out, true, "50", kInput},  // a folder is no input file
             Case{in, "", true, "", kOutput}, Case{in, out, true, "", kHeader},
             Case{in, in, true, "", kHeader}, Case{in, in, true, "50", kSame},
             Case{in, dir.File("sub/../IN.csv"), true, "50", kSame},
             Case{in, dir.File("hard.csv"), true, "50", kSame},
             Case{dir.File("soft.csv"), in, true, "50", kSame}, Case{in, out, true, "50", ""},
             Case{in, out, true, "0", ""}, Case{in, out, true, "99", ""},
             Case{in, out, true, "100", kHeader}, Case{in, out, true, "5x", kHeader},
             Case{in, out, true, "-1", kHeader}, Case{in, out, false, "", ""},
             Case{in, out, false, "abc", ""},
             // The layout goes to a file of its own.
             Case{in, out, true, "50", "", dir.File("out.layout.csv")},
             Case{in, out, true, "50", kLayoutSameFileWarning, dir.File("IN.csv")},
             Case{in, out, true, "50", kLayoutSameFileWarning, out},
             Case{in, out, true, "50", kLayoutSameFileWarning, dir.File("hard.csv")},
             Case{in, out, true, "", kHeader, in},  // after the checks of the conversion
         }) {
        auto warning = CheckConversionInputs({c.input, c.output, c.insert, c.size, c.layout});
        EXPECT_EQ(warning.value_or(""), c.warning) << c.input << " " << c.output << " " << c.size;
    }
    EXPECT_EQ(ParseHeaderSize({in, out, true, "07", ""}), 7u);
    EXPECT_EQ(ParseHeaderSize({in, out, false, "50", ""}), 0u);
}

}  // namespace
