#include "ConversionEngine.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "core/KsException.h"
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

    // "N records of length L", or the error as "message (class) [call path]".
    std::string Run(const ConversionOptions& options) {
        try {
            ConversionResult result = ConvertFile(options, observer);
            return std::to_string(result.records) + " records of length " +
                   std::to_string(result.recordLength) + (result.cancelled ? ", cancelled" : "");
        } catch (const KsException& e) {
            return std::string(e.GetErrorMessage()) + " (" + e.GetClassName() + ") [" +
                   e.GetCallpath() + "]";
        }
    }
};

TEST_F(ConversionEngineTest, ConvertsOrRefusesKeepingTheRecordsBeforeAnError) {
    const std::string notCsv = "\"" + in +
                               "\" is not a valid comma separated file.\nPlease choose a new "
                               "input file. (Process Cancelled) []";
    const std::string loneReturn =
        "Return character not followed by newline; unknown end of line type "
        "(KsInputStreamInterface) [ReadLine() of KsInputStreamInterface\r\nReadLine() of "
        "KSInputStreamInterface]";
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
             Case{"1,2\n3,4\n", false, true, 0, "12\n34\n", "2 records of length 2"},
             // Empty records before the first do not fix the length.
             Case{",,\nab,c\n", false, false, 0, "\nabc\n", "2 records of length 3"},
             Case{"a,b\nab\nc,d\n", false, true, 1, " ab\n", notCsv},
             Case{"a,b\n\nc,d\n", false, true, 1, " ab\n", notCsv},
             Case{"a,b\r\n\r\n", false, true, 1, " ab\n", notCsv},
             // Record numbers count the records after a dropped header.
             Case{"HEADER,LINE\n12345,67890\nabcde,fghij\nabcd,efghi\nzzzzz,zzzzz\n", true, false,
                  0, "1234567890\nabcdefghij\n",
                  "All the other records are length 10, but record 3 is length 9.\nPlease check "
                  "your input file. (Process Cancelled) []"},
             Case{"H,H\na,b\nc,\0d\n"s, true, false, 0, "ab\n",
                  "Record 2 of \"" + in +
                      "\" contains a NUL character.\nPlease check your input file. (Process "
                      "Cancelled) []"},
             Case{"a,b\nc,d\re,f\n", false, false, 0, "ab\n", loneReturn},
             Case{"a,b\nc,d\r", false, false, 0, "ab\n", loneReturn},
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

}  // namespace
