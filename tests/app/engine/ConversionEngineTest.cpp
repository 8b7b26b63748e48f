#include "ConversionEngine.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "KsException.h"
#include "TempDir.h"

namespace {

using kstest::ReadWholeFile;
using kstest::WriteWholeFile;

// Records what the engine reports and cancels after a given number of records.
struct RecordingObserver : ConversionObserver {
    std::vector<std::string> calls;
    int cancelAfter = -1;
    int checks = 0;
    std::uint64_t lastConsumed = 0;
    std::uint64_t lastTotal = 0;

    void Started() override { calls.push_back("Started"); }
    bool CheckCancel() override { return ++checks == cancelAfter; }
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

    // Runs a conversion expected to fail; returns the error.
    KsException Fail(const ConversionOptions& options) {
        try {
            ConvertFile(options, observer);
        } catch (const KsException& e) {
            return e;
        }
        ADD_FAILURE() << "conversion did not fail";
        return KsException();
    }
};

TEST_F(ConversionEngineTest, HeaderOnlyAndEmptyInputsGiveEmptyOutput) {
    for (const char* content : {"A,B,C\r\n", "A,B,C", ""}) {
        WriteWholeFile(in, content);
        WriteWholeFile(out, "old content");
        ConversionResult result = ConvertFile(Options(true, true, 50), observer);
        EXPECT_FALSE(result.cancelled);
        EXPECT_EQ(result.recordLength, 0u);
        EXPECT_EQ(result.records, 0u);
        EXPECT_EQ(ReadWholeFile(out), "");
    }
    EXPECT_EQ(CompletionMessage(0), "File converted.\nAll records are now length 0");
}

TEST_F(ConversionEngineTest, RemovesCommasAndInsertsHeaderSpaces) {
    WriteWholeFile(in, "a,b,c\nd,e,f\n");
    ConversionResult result = ConvertFile(Options(false, true, 2), observer);
    EXPECT_EQ(ReadWholeFile(out), "  abc\n  def\n");
    EXPECT_EQ(result.recordLength, 5u);
    EXPECT_EQ(result.records, 2u);
    EXPECT_EQ(CompletionMessage(result.recordLength),
              "File converted.\nAll records are now length 5");
    EXPECT_EQ(observer.calls, (std::vector<std::string>{"Started", "Finished"}));
    EXPECT_EQ(observer.lastConsumed, 12u);
    EXPECT_EQ(observer.lastTotal, 12u);
}

TEST_F(ConversionEngineTest, CrLfBecomesLfAndQuotesAndSpacesStay) {
    WriteWholeFile(in, "H1,H2\r\n\"x\", 1\r\n\"y\", 2\r\n");
    ConversionResult result = ConvertFile(Options(true, false, 50), observer);
    EXPECT_EQ(ReadWholeFile(out), "\"x\" 1\n\"y\" 2\n");
    EXPECT_EQ(result.recordLength, 5u);
}

TEST_F(ConversionEngineTest, HeaderSizeZeroLeavesRecordsAsConverted) {
    WriteWholeFile(in, "1,2\n3,4\n");
    ConvertFile(Options(false, true, 0), observer);
    EXPECT_EQ(ReadWholeFile(out), "12\n34\n");
}

TEST_F(ConversionEngineTest, LineWithoutCommaOrBlankLineIsRefused) {
    for (const char* content : {"a,b\nab\nc,d\n", "a,b\n\nc,d\n", "a,b\r\n\r\n"}) {
        WriteWholeFile(in, content);
        KsException e = Fail(Options(false, true, 1));
        EXPECT_EQ(std::string(e.GetErrorMessage()),
                  "\"" + in + "\" is not a valid comma separated file.\nPlease choose a new input file.");
        EXPECT_STREQ(e.GetClassName(), "Process Cancelled");
        EXPECT_STREQ(e.GetCallpath(), "");  // the engine adds no line; its caller does
        EXPECT_EQ(ReadWholeFile(out), " ab\n");  // the record before the bad line is kept
        EXPECT_EQ(observer.calls.back(), "Finished");
    }
}

TEST_F(ConversionEngineTest, LengthErrorNamesLengthsAndRecordNumber) {
    WriteWholeFile(in, "HEADER,LINE\n12345,67890\nabcde,fghij\nabcd,efghi\nzzzzz,zzzzz\n");
    KsException e = Fail(Options(true, false, 0));
    EXPECT_STREQ(e.GetErrorMessage(),
                 "All the other records are length 10, but record 3 is length 9.\n"
                 "Please check your input file.");
    EXPECT_STREQ(e.GetClassName(), "Process Cancelled");
    EXPECT_STREQ(e.GetCallpath(), "");
    EXPECT_EQ(ReadWholeFile(out), "1234567890\nabcdefghij\n");
}

TEST_F(ConversionEngineTest, EmptyRecordsBeforeTheFirstDoNotFixTheLength) {
    WriteWholeFile(in, ",,\nab,c\n");
    ConversionResult result = ConvertFile(Options(false, false, 0), observer);
    EXPECT_EQ(ReadWholeFile(out), "\nabc\n");
    EXPECT_EQ(result.recordLength, 3u);
}

TEST_F(ConversionEngineTest, CancelKeepsWrittenRecordsAndReadsOneMoreLine) {
    WriteWholeFile(in, "a,b\nc,d\ne,f\n");
    observer.cancelAfter = 1;
    ConversionResult result = ConvertFile(Options(false, false, 0), observer);
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(result.records, 1u);
    EXPECT_EQ(ReadWholeFile(out), "ab\n");

    // Cancel during the last record: every record is written, the run still counts as cancelled.
    observer.cancelAfter = observer.checks + 3;
    result = ConvertFile(Options(false, false, 0), observer);
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(ReadWholeFile(out), "ab\ncd\nef\n");
}

TEST_F(ConversionEngineTest, LoneCarriageReturnFailsAndKeepsEarlierRecords) {
    for (const char* content : {"a,b\nc,d\re,f\n", "a,b\nc,d\r"}) {
        WriteWholeFile(in, content);
        KsException e = Fail(Options(false, false, 0));
        EXPECT_STREQ(e.GetErrorMessage(),
                     "Return character not followed by newline; unknown end of line type");
        EXPECT_EQ(ReadWholeFile(out), "ab\n");
    }
}

TEST_F(ConversionEngineTest, NulInsideALineIsRefusedWithItsRecordNumber) {
    WriteWholeFile(in, std::string("H,H\na,b\nc,\0d\n", 14));
    KsException e = Fail(Options(true, false, 0));
    EXPECT_EQ(std::string(e.GetErrorMessage()),
              "Record 2 of \"" + in + "\" contains a NUL character.\nPlease check your input file.");
    EXPECT_STREQ(e.GetClassName(), "Process Cancelled");
    EXPECT_EQ(ReadWholeFile(out), "ab\n");
}

TEST_F(ConversionEngineTest, MissingInputLeavesOutputUntouched) {
    WriteWholeFile(out, "precious");
    try {
        ConvertFile(Options(true, true, 50), observer);
        FAIL();
    } catch (const KsFileOpenFailedException& e) {
        EXPECT_EQ(std::string(e.GetErrorMessage()),
                  "Error in opening file '" + in + "'.  No such file or directory.");
    }
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
    ConversionResult result = ConvertFile(options, observer);
    close(fromEngine[1]);
    char buffer[64];
    ssize_t n = read(fromEngine[0], buffer, sizeof buffer);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(n)), "   12\n   34\n");
    EXPECT_EQ(result.recordLength, 5u);
    EXPECT_EQ(observer.lastTotal, 0u);  // a pipe has no size
    close(toEngine[0]);
    close(fromEngine[0]);
}

TEST_F(ConversionEngineTest, BundledExampleConvertsToItsExpectedOutput) {
    ConversionOptions options = Options(true, true, 50);
    options.inputFile = EXAMPLES_DIR "/questionnaire.csv";
    ConversionResult result = ConvertFile(options, observer);
    EXPECT_EQ(ReadWholeFile(out), ReadWholeFile(EXAMPLES_DIR "/questionnaire.expected.txt"));
    EXPECT_EQ(result.recordLength, 91u);
    EXPECT_EQ(result.records, 36u);
}

}  // namespace
