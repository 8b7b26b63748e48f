#include "ConversionEngine.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "RecordConverter.h"
#include "core/KsException.h"
#include "support/FaultInjectingFile.h"
#include "support/TempDir.h"

namespace {

using namespace std::string_literals;

using kstest::ReadWholeFile;
using kstest::WriteWholeFile;

// Records what the engine reports and cancels at a given record.
struct RecordingObserver : ConversionObserver {
    std::vector<std::string> calls;
    int cancelAt = -1;
    int checks = 0;
    std::uint64_t lastConsumed = 0;
    std::uint64_t lastTotal = 0;

    void Started() override { calls.push_back("Started"); }
    bool CheckCancel() override { return ++checks == cancelAt; }
    void Progress(std::uint64_t consumed, std::uint64_t total) override {
        lastConsumed = consumed;
        lastTotal = total;
    }
    void Finished() override { calls.push_back("Finished"); }
};

class ConversionEngineTest : public ::testing::Test {
protected:
    kstest::TempDir dir;
    std::string in = dir.File("in.csv");
    std::string out = dir.File("out.txt");
    RecordingObserver observer;

    ConversionOptions Options(bool dropHeader, bool insert, std::uint16_t size) {
        ConversionOptions options;
        options.inputFile = in;
        options.outputFile = out;
        options.removeColumnHeaders = dropHeader;
        options.insertHeaderField = insert;
        options.headerSize = size;
        return options;
    }

    // "N records of length L", or the error as "message (class) [call path]", with the
    // line of a data error.
    std::string Run(const ConversionOptions& options) {
        try {
            ConversionResult result = ConvertFile(options, observer);
            return std::to_string(result.records) + " records of length " +
                   std::to_string(result.recordLength) + (result.cancelled ? ", cancelled" : "");
        } catch (const ConversionDataError& e) {
            return std::string(e.GetErrorMessage()) + " (" + e.GetClassName() + ") line " +
                   std::to_string(e.GetLineNumber());
        } catch (const KsException& e) {
            return std::string(e.GetErrorMessage()) + " (" + e.GetClassName() + ") [" +
                   e.GetCallpath() + "]";
        }
    }
};

TEST_F(ConversionEngineTest, ConvertsOrRefusesKeepingTheRecordsBeforeAnError) {
    const std::string notCsv = "\"" + in +
                               "\" is not a valid comma separated file.\nPlease choose a new "
                               "input file. (Process Cancelled) line ";
    const std::string loneReturn =
        "Return character not followed by newline; unknown end of line type "
        "(KsInputStreamInterface) line ";
    struct Case {
        std::string input;
        bool dropHeader, insert;
        std::uint16_t size;
        std::string output, result;
    };
    for (const Case& c : {
             Case{"A,B,C\r\n", true, true, 50, "", "0 records of length 0"},
             Case{"A,B,C", true, true, 50, "", "0 records of length 0"},
             Case{"", true, true, 50, "", "0 records of length 0"},
             Case{"a,b,c\nd,e,f\n", false, true, 2, "  abc\n  def\n", "2 records of length 5"},
             Case{"H1,H2\r\n\"x\", 1\r\n\"y\", 2\r\n", true, false, 9, "\"x\" 1\n\"y\" 2\n",
                  "2 records of length 5"},
             Case{"1,2\n3,4", false, true, 0, "12\n34\n", "2 records of length 2"},
             // Empty records before the first do not fix the length.
             Case{",,\nab,c\n", false, false, 0, "\nabc\n", "2 records of length 3"},
             Case{"a,b\nab\nc,d\n", false, true, 1, " ab\n", notCsv + "2"},
             Case{"H\na,b\n\nc,d\n", true, true, 1, " ab\n", notCsv + "3"},
             Case{"a,b\r\n\r\n", false, true, 1, " ab\n", notCsv + "2"},
             // Record numbers count the records after a dropped header; lines count all.
             Case{"HEADER,LINE\n12345,67890\nabcde,fghij\nabcd,efghi\nzzzzz,zzzzz\n", true, false,
                  0, "1234567890\nabcdefghij\n",
                  "All the other records are length 10, but record 3 is length 9.\nPlease check "
                  "your input file. (Process Cancelled) line 4"},
             Case{"H,H\na,b\nc,\0d\n"s, true, false, 0, "ab\n",
                  "Record 2 of \"" + in +
                      "\" contains a NUL character.\nPlease check your input file. (Process "
                      "Cancelled) line 3"},
             Case{"a,b\nc,d\re,f\n", false, false, 0, "ab\n", loneReturn + "2"},
             Case{"a,b\nc,d\r", false, false, 0, "ab\n", loneReturn + "2"},
             Case{"H\r\r\na,b\n", true, false, 0, "", loneReturn + "1"},
         }) {
        SCOPED_TRACE(c.input);
        WriteWholeFile(in, c.input);
        WriteWholeFile(out, "old content");
        observer.calls.clear();
        EXPECT_EQ(Run(Options(c.dropHeader, c.insert, c.size)), c.result);
        EXPECT_EQ(ReadWholeFile(out), c.output);
        EXPECT_EQ(observer.calls, (std::vector<std::string>{"Started", "Finished"}));
        if (c.result.find(" records of length ") != std::string::npos) {
            EXPECT_EQ(observer.lastConsumed, c.input.size());
            EXPECT_EQ(observer.lastTotal, c.input.size());
        }
    }
    EXPECT_EQ(CompletionMessage(91), "File converted.\nAll records are now length 91");
}

TEST_F(ConversionEngineTest, CancelKeepsWrittenRecords) {
    WriteWholeFile(in, "a,b\nc,d\ne,f\n");
    observer.cancelAt = 1;
    EXPECT_EQ(Run(Options(false, false, 0)), "1 records of length 2, cancelled");
    EXPECT_EQ(ReadWholeFile(out), "ab\n");
    // Cancel during the last record: every record is written, the run still counts as cancelled.
    observer.cancelAt = observer.checks + 3;
    EXPECT_EQ(Run(Options(false, false, 0)), "3 records of length 2, cancelled");
    EXPECT_EQ(ReadWholeFile(out), "ab\ncd\nef\n");
}

TEST_F(ConversionEngineTest, MissingInputLeavesOutputUntouched) {
    WriteWholeFile(out, "precious");
    EXPECT_EQ(
        Run(Options(true, true, 50)),
        "Error in opening file '" + in + "'.  No such file or directory. (KsIO) [Open of KsIO]");
    EXPECT_THROW(ConvertFile(Options(true, true, 50), observer), KsFileOpenFailedException);
    EXPECT_EQ(ReadWholeFile(out), "precious");
    EXPECT_TRUE(observer.calls.empty());
}

TEST_F(ConversionEngineTest, ReadsAndWritesOpenDescriptors) {
    int toEngine[2];
    int fromEngine[2];
    ASSERT_EQ(pipe(toEngine), 0);
    ASSERT_EQ(pipe(fromEngine), 0);
    const std::string data = "H,H\r\n1,2\r\n3,4\r\n";
    ASSERT_EQ(write(toEngine[1], data.data(), data.size()), static_cast<ssize_t>(data.size()));
    close(toEngine[1]);
    ConversionOptions options = Options(true, true, 3);
    options.inputFile = "-";
    options.outputFile = "-";
    options.inputDescriptor = toEngine[0];
    options.outputDescriptor = fromEngine[1];
    EXPECT_EQ(Run(options), "2 records of length 5");
    close(fromEngine[1]);
    char buffer[64];
    ssize_t n = read(fromEngine[0], buffer, sizeof buffer);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(n)), "   12\n   34\n");
    EXPECT_EQ(observer.lastTotal, 0u);  // a pipe has no size
    close(toEngine[0]);
    close(fromEngine[0]);
}

// ---- the buffer loop against a plain line-by-line reading of the same rules ----

TEST(CopyWithoutCommasTest, CommasAtEveryPlaceOfTwoGroupsAndARest) {
    std::string text = "ABCDEFGHIJKLMNOPQ";
    for (unsigned commas = 0; commas < (1u << text.size()); ++commas) {
        for (std::size_t i = 0; i < text.size(); ++i) {
            text[i] = commas >> i & 1 ? ',' : static_cast<char>('A' + i);
        }
        std::string expected;
        std::copy_if(text.begin(), text.end(), std::back_inserter(expected),
                     [](char c) { return c != ','; });
        char out[32];
        const std::size_t kept = CopyWithoutCommas(text.data(), text.size(), out);
        ASSERT_EQ(std::string(out, kept), expected) << text;
    }
}

std::string ReferenceError(std::int64_t line, const std::string& className,
                           const std::string& message) {
    return message + " (" + className + ") line " + std::to_string(line);
}

// What the engine must make of `input`: the output, and the result as Run() shows it.
std::pair<std::string, std::string> Reference(const std::string& input,
                                              const ConversionOptions& options) {
    std::string output;
    std::size_t position = 0;
    std::int64_t line = 0;
    std::size_t length = 0;
    std::uint64_t records = 0;
    bool header = options.removeColumnHeaders;
    const std::string name = "\"" + options.inputFile + "\"";
    while (position < input.size()) {
        const std::size_t lineFeed = input.find('\n', position);
        std::string text = input.substr(position, lineFeed - position);
        position = lineFeed == std::string::npos ? input.size() : lineFeed + 1;
        ++line;
        if (lineFeed != std::string::npos && !text.empty() && text.back() == '\r') {
            text.pop_back();
        }
        if (text.find('\r') != std::string::npos) {
            return {output, ReferenceError(line, "KsInputStreamInterface",
                                           "Return character not followed by newline; unknown "
                                           "end of line type")};
        }
        if (header) {
            header = false;
            continue;
        }
        const std::string number = std::to_string(records + 1);
        if (text.find('\0') != std::string::npos) {
            return {output, ReferenceError(line, "Process Cancelled",
                                           "Record " + number + " of " + name +
                                               " contains a NUL character.\nPlease check your "
                                               "input file.")};
        }
        std::string record(options.insertHeaderField ? options.headerSize : 0, ' ');
        std::copy_if(text.begin(), text.end(), std::back_inserter(record),
                     [](char c) { return c != ','; });
        if (std::count(text.begin(), text.end(), ',') == 0) {
            return {output, ReferenceError(line, "Process Cancelled",
                                           name + " is not a valid comma separated file.\nPlease "
                                                  "choose a new input file.")};
        }
        length = length == 0 ? record.size() : length;
        if (record.size() != length) {
            return {output, ReferenceError(line, "Process Cancelled",
                                           "All the other records are length " +
                                               std::to_string(length) + ", but record " + number +
                                               " is length " + std::to_string(record.size()) +
                                               ".\nPlease check your input file.")};
        }
        output += record + "\n";
        ++records;
    }
    return {output, std::to_string(records) + " records of length " + std::to_string(length)};
}

// A random export: lines of one count of kept characters with commas anywhere (at the
// edges too), now and then a line of another length, without a comma, with a NUL or a
// stray return; "\n" and "\r\n" mixed; the last line with or without its line end.
std::string RandomExport(std::mt19937& random) {
    auto chance = [&random](int percent) {
        return std::uniform_int_distribution<int>(0, 99)(random) < percent;
    };
    auto upTo = [&random](int most) { return std::uniform_int_distribution<int>(0, most)(random); };
    const int kept = upTo(chance(20) ? 40 : 12);
    const int lines = upTo(7);
    std::string input;
    for (int i = 0; i < lines; ++i) {
        std::string line;
        const int count = chance(5) ? upTo(14) : kept;
        for (int k = 0; k < count; ++k) {
            line += "ab1 \""[upTo(4)];
        }
        for (int commas = chance(4) ? 0 : 1 + upTo(3); commas > 0; --commas) {
            line.insert(static_cast<std::size_t>(upTo(static_cast<int>(line.size()))), 1, ',');
        }
        for (char odd : {'\0', '\r'}) {
            if (chance(3)) {
                line.insert(static_cast<std::size_t>(upTo(static_cast<int>(line.size()))), 1, odd);
            }
        }
        input += line;
        if (i + 1 < lines || chance(70)) {
            input += chance(50) ? "\r\n" : "\n";
        }
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
        // New files each round: rewriting one in place makes the file system write it
        // through to the disk when it is closed.
        std::filesystem::remove(in);
        std::filesystem::remove(out);
        WriteWholeFile(in, input);
        const auto [output, result] = Reference(input, options);
        ASSERT_EQ(Run(options), result) << ::testing::PrintToString(input) << " block "
                                        << options.blockSize << " round " << round;
        ASSERT_EQ(ReadWholeFile(out), output) << ::testing::PrintToString(input);
    }
}

// ---- long lines, limits and failing writes ----

double SecondsToConvert(const ConversionOptions& options) {
    RecordingObserver observer;
    double best = 1e9;
    for (int i = 0; i < 2; ++i) {
        const auto start = std::chrono::steady_clock::now();
        ConvertFile(options, observer);
        best = std::min(
            best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

TEST_F(ConversionEngineTest, OneLongLineTakesAboutAsLongAsManyShortOnes) {
    const std::size_t size = 50'000'000;
    std::string shortLines;
    while (shortLines.size() < size) {
        shortLines += "12345,6789\n";
    }
    WriteWholeFile(in, shortLines);
    const double manyShort = SecondsToConvert(Options(false, false, 0));

    std::string longLine(size, 'x');
    for (std::size_t i = 5; i < size; i += 11) {
        longLine[i] = ',';
    }
    WriteWholeFile(in, longLine + "\n");
    const double oneLong = SecondsToConvert(Options(false, false, 0));
    EXPECT_EQ(ReadWholeFile(out).size(), size - (size - 5 + 10) / 11 + 1);
    // Time quadratic in the length would make this hundreds of times slower.
    EXPECT_LT(oneLong, 4 * manyShort) << oneLong << " s against " << manyShort << " s";
}

TEST_F(ConversionEngineTest, LineLongerThanTheLimitIsRefusedWithoutBeingHeld) {
    ConversionOptions options = Options(true, false, 0);
    options.longestLine = 10;
    options.blockSize = 4;
    for (const std::string& input : {"H\na,b\n0123456789a,\nc,d\n"s, "H\na,b\n0123456789,a"s}) {
        WriteWholeFile(in, input);
        EXPECT_EQ(Run(options), "\"" + in +
                                    "\" has a line of more than 10 bytes.\nPlease check your "
                                    "input file. (Process Cancelled) line 3");
        EXPECT_EQ(ReadWholeFile(out), "ab\n");
    }
    WriteWholeFile(in, "H\n012,456789\n");  // ten bytes: the longest line
    EXPECT_EQ(Run(options), "1 records of length 9");
}

TEST_F(ConversionEngineTest, FullDiskLeavesWholeRecordsAndTheReason) {
    std::string input = "H,H\n";
    std::string records;
    for (int i = 0; i < 30000; ++i) {
        input += "a,b\n";
        records += std::string(50, ' ') + "ab\n";
    }
    WriteWholeFile(in, input);
    const std::string name = "\"" + out + "\" -- No space left on device (KsIO) [";
    struct Case {
        kstest::FaultOp op;   // the first write of this kind stops short; all later fail
        std::size_t written;  // bytes it writes first
        std::size_t kept;     // whole records left: 53 bytes each
        std::string result;
    };
    for (const Case& c : {
             // A window of the buffer full, while records are still written.
             Case{kstest::FaultOp::kWrite, 24576, 463,
                  "Only able to write 24576 bytes of 1024000 bytes at offset 0 of file " + name +
                      "Write() of KsIO]"},
             // The last part, as the file is closed; the first window went through.
             Case{kstest::FaultOp::kFlush, 100, 19322,
                  "Only able to write 100 bytes of 566000 bytes at offset 1024000 of file " + name +
                      "Close() of KsIO]"},
             Case{kstest::FaultOp::kFlush, 0, 19320,
                  "Unable to write 566000 bytes at offset 1024000 of file " + name +
                      "Close() of KsIO]"},
         }) {
        kstest::FaultInjectingFactory full;
        full.Plan().FailShort(c.op, 1, c.written, ENOSPC, true);
        if (c.op == kstest::FaultOp::kWrite) {
            full.Plan().Fail(kstest::FaultOp::kFlush, 1, ENOSPC, true);  // the disk stays full
        }
        try {
            ConvertFile(Options(true, true, 50), observer, full);
            ADD_FAILURE() << "no error";
        } catch (const KsException& e) {
            EXPECT_EQ(std::string(e.GetErrorMessage()) + " (" + e.GetClassName() + ") [" +
                          e.GetCallpath() + "]",
                      c.result);
        }
        EXPECT_EQ(ReadWholeFile(out), records.substr(0, c.kept * 53)) << c.written;
    }
}

}  // namespace
