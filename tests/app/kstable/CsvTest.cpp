// The comma-separated reader against tables of inputs and against the plain model of
// CsvModel.h, with every stop search the processor supports and through buffers of several
// sizes, so that every byte (of a byte order mark too) can fall on a buffer's edge; the
// writer's quoting.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "Csv.h"
#include "CsvModel.h"
#include "support/KsErrorCapture.h"
#include "support/MemoryStream.h"

namespace {

using Records = std::vector<std::vector<std::string>>;

struct Read {
    Records records;
    std::vector<std::int64_t> lines;
};

Read ReadAll(const std::string& text, std::size_t bufferSize, CsvScan scan = CsvScan::kPortable) {
    kstest::MemoryStream input(text);
    CsvReader reader(input, bufferSize, scan);
    Read result;
    while (reader.Next()) {
        result.records.emplace_back();
        for (std::size_t i = 0; i < reader.Count(); ++i) {
            EXPECT_EQ(reader.View(i), std::string(reader.Value(i)));
            result.records.back().emplace_back(reader.View(i));
        }
        result.lines.push_back(reader.Line());
    }
    EXPECT_EQ(reader.Consumed(), text.size());
    return result;
}

constexpr std::size_t kBufferSizes[] = {1, 2, 3, 7, 1 << 20};

TEST(CsvReader, ReadsRecordsWhateverTheBufferSize) {
    const struct {
        std::string text;
        Records records;
        std::vector<std::int64_t> lines;
    } cases[] = {
        {"", {}, {}},
        {"a,b\r\nc,d\n", {{"a", "b"}, {"c", "d"}}, {1, 2}},
        {"a,b", {{"a", "b"}}, {1}},
        {"\n", {{""}}, {1}},
        {"a,\n,\n", {{"a", ""}, {"", ""}}, {1, 2}},
        {"x\n\ny", {{"x"}, {""}, {"y"}}, {1, 2, 3}},
        {"\"x,y\",\"say \"\"hi\"\"\"\r\n", {{"x,y", "say \"hi\""}}, {1}},
        {"\"two\r\nlines\",\"a\nb\"\nnext\n", {{"two\r\nlines", "a\nb"}, {"next"}}, {1, 4}},
        {"\"\",\"\"\"\"", {{"", "\""}}, {1}},
        {"\"end\"", {{"end"}}, {1}},
        {" spaced , kept \n", {{" spaced ", " kept "}}, {1}},
        {"caf\xc3\xa9,\x7f\xff\n", {{"caf\xc3\xa9", "\x7f\xff"}}, {1}},
        // A byte order mark is dropped at the very start only; anywhere else it is data.
        {"\xEF\xBB\xBF"
         "id,n\r\n1,2\n",
         {{"id", "n"}, {"1", "2"}},
         {1, 2}},
        {"\xEF\xBB\xBF", {}, {}},
        {"\xEF\xBB\xBF\"a,b\"\n", {{"a,b"}}, {1}},
        {"\xEF\xBB\xBF\xEF\xBB\xBFx", {{"\xEF\xBB\xBFx"}}, {1}},
        {"\xEF\xBBx,\xEF\n", {{"\xEF\xBBx", "\xEF"}}, {1}},
        {"a\n\xEF\xBB\xBF"
         "b,\xEF\xBB\xBF\n",
         {{"a"},
          {"\xEF\xBB\xBF"
           "b",
           "\xEF\xBB\xBF"}},
         {1, 2}},
    };
    for (const auto& c : cases) {
        for (CsvScan scan : SupportedCsvScans()) {
            for (std::size_t size : kBufferSizes) {
                Read got = ReadAll(c.text, size, scan);
                EXPECT_EQ(got.records, c.records) << c.text << " / " << NameOf(scan) << size;
                EXPECT_EQ(got.lines, c.lines) << c.text << " / " << NameOf(scan) << size;
            }
        }
    }
}

TEST(CsvReader, MalformedRecordsNameTheFaultAndTheirFirstLine) {
    const struct {
        std::string text;
        std::string message;
        std::int64_t line;
    } cases[] = {
        {"ok\nab\"c\n", "a quote inside a value that does not start with a quote", 2},
        {"\"a\"b\n", "text after the closing quote of a value", 1},
        {"\"a\" ,b\n", "text after the closing quote of a value", 1},
        {"1\n2\n\"open,\n\nstill", "a quoted value is not closed before the end of the input", 3},
        {"a\rb\n", "a carriage return not followed by a line feed", 1},
        {"a,b\r", "a carriage return not followed by a line feed", 1},
        {"\"q\"\rx", "a carriage return not followed by a line feed", 1},
        {std::string("a\0b\n", 4), "a NUL byte in a value", 1},
        {std::string("\"a\0\"\n", 5), "a NUL byte in a value", 1},
        {"x\n" + std::string(CsvReader::kMaxRecordBytes + 1, 'v'),
         "a record longer than 1048576 bytes", 2},
    };
    for (const auto& c : cases) {
        for (std::size_t size : kBufferSizes) {
            kstest::MemoryStream input(c.text);
            CsvReader reader(input, size, SupportedCsvScans().back());
            KsException error = kstest::CaughtError([&] {
                while (reader.Next()) {
                }
            });
            EXPECT_EQ(error.GetErrorMessage(), c.message) << c.text.substr(0, 20) << " / " << size;
            EXPECT_STREQ(error.GetClassName(), "CsvReader");
            EXPECT_EQ(reader.Line(), c.line) << c.text.substr(0, 20);
        }
    }
}

// Inputs of the bytes that matter (and plain ones in runs, so that values and records
// cross the 64-byte blocks of the stop search), against the model.
TEST(CsvReader, AgreesWithThePlainModelOnRandomInputs) {
    // Every other input has no NUL or byte order mark, so that it gets further.
    static constexpr char kBytes[] = {',', '"', '\r', '\n', 'a', ' ', '\0', '\xEF', '\xBB', '\xBF'};
    std::mt19937 random(20240611);
    for (int round = 0; round < 3000; ++round) {
        std::string text = round % 5 == 0 ? "\xEF\xBB\xBF" : "";
        const std::size_t length = random() % 300;
        while (text.size() < length) {
            const char c = kBytes[random() % (round % 2 == 0 ? 6 : sizeof kBytes)];
            text.append(c == 'a' ? random() % 90 : 1, c);
        }
        kstest::CsvOutcome expected = kstest::ModelCsv(text);
        for (CsvScan scan : SupportedCsvScans()) {
            const std::size_t size = std::size_t{1} << (random() % 12);
            kstest::MemoryStream input(text);
            CsvReader reader(input, size, scan);
            kstest::CsvOutcome got;
            try {
                while (reader.Next()) {
                    got.records.emplace_back();
                    for (std::size_t i = 0; i < reader.Count(); ++i) {
                        got.records.back().emplace_back(reader.View(i));
                    }
                    got.lines.push_back(reader.Line());
                }
            } catch (const KsException& error) {
                got.error = error.GetErrorMessage();
                got.lines.push_back(reader.Line());
            }
            ASSERT_EQ(got, expected) << NameOf(scan) << " / " << size << " / round " << round;
        }
    }
}

TEST(CsvScan, EveryImplementationFindsTheSameStops) {
    std::mt19937 random(7);
    const std::string bytes = std::string(",\"\r\n\0a\x80\xFF\x2C\x0D", 10);
    char block[kCsvScanBlock];
    for (int round = 0; round < 20000; ++round) {
        for (char& c : block) {
            c = static_cast<char>(round % 3 == 0 ? random() : bytes[random() % bytes.size()]);
        }
        const CsvStops expected = StopMaskOf(CsvScan::kPortable)(block);
        for (CsvScan scan : SupportedCsvScans()) {
            ASSERT_TRUE(StopMaskOf(scan)(block) == expected) << NameOf(scan);
        }
    }
    std::string exact(kCsvScanBlock, 'x');
    exact.replace(0, 5, std::string(",\n\r\"\0", 5));
    exact.back() = ',';
    const CsvStops stops = StopMaskOf(CsvScan::kPortable)(exact.data());
    EXPECT_EQ(stops.commas, 1u | (std::uint64_t{1} << 63));
    EXPECT_EQ(stops.others, 0x1Eu);
    EXPECT_EQ(ParseCsvScan("avx2"), CsvScan::kAvx2);
    EXPECT_EQ(ParseCsvScan("avx512"), std::nullopt);
}

// The reader's room for the spans of a record's values grows from 64: records on both
// sides of each doubling, with unquoted, quoted and empty values, and a short record after
// each so that a long one leaves nothing behind.
TEST(CsvReader, RecordsOfManyValuesAreReadWhole) {
    std::mt19937 random(64);
    for (const std::size_t count : {63u, 64u, 65u, 128u, 129u, 1000u, 4097u}) {
        std::string text;
        for (std::size_t i = 0; i < count; ++i) {
            static const char* const kValues[] = {"", "7", "\"a,b\"", "text", "\"\""};
            if (i > 0) {
                text += ',';
            }
            text += kValues[random() % 5];
        }
        text += "\r\nlast,one\n";
        const kstest::CsvOutcome expected = kstest::ModelCsv(text);
        ASSERT_EQ(expected.records.at(0).size(), count);
        for (CsvScan scan : SupportedCsvScans()) {
            for (const std::size_t size : kBufferSizes) {
                const Read got = ReadAll(text, size, scan);
                EXPECT_EQ(got.records, expected.records) << NameOf(scan) << " / " << size;
                EXPECT_EQ(got.lines, (std::vector<std::int64_t>{1, 2}));
            }
        }
    }
}

TEST(CsvReader, ARecordOfTheLargestSizeIsRead) {
    const std::string value(CsvReader::kMaxRecordBytes - 2, 'v');  // after "a,"
    Read got = ReadAll("a," + value + "\r\n", 16);
    ASSERT_EQ(got.records.size(), 1u);
    EXPECT_EQ(got.records[0][1], value);
}

TEST(CsvWriter, QuotesOnlyWhatNeedsItAndReadsBack) {
    kstest::MemoryStream output;
    const Records records{{"plain", "a,b", "say \"hi\"", "two\r\nlines", "", " pad "},
                          {"lf\nonly", "cr\ronly", "\""},
                          {""},
                          {std::string(600, ',')}};  // more than the buffer holds: it grows
    {
        CsvWriter writer(output, 4);  // a tiny buffer: flushed after every record
        for (const auto& record : records) {
            for (const auto& value : record) {
                writer.Value(value);
            }
            writer.EndRecord();
        }
        writer.Flush();
    }
    EXPECT_EQ(output.Bytes(),
              "plain,\"a,b\",\"say \"\"hi\"\"\",\"two\r\nlines\",, pad \r\n"
              "\"lf\nonly\",\"cr\ronly\",\"\"\"\"\r\n"
              "\r\n\"" +
                  std::string(600, ',') + "\"\r\n");
    EXPECT_EQ(ReadAll(output.Bytes(), 3).records, records);
}

TEST(CsvWriter, AFirstValueStartingWithAByteOrderMarkIsQuotedSoThatTheMarkReadsBack) {
    const std::string mark = "\xEF\xBB\xBF";
    const Records records{{mark + "id", mark}, {mark}};
    kstest::MemoryStream output;
    CsvWriter writer(output);
    for (const auto& record : records) {
        for (const auto& value : record) {
            writer.Value(value);
        }
        writer.EndRecord();
    }
    writer.Flush();
    EXPECT_EQ(output.Bytes(), "\"" + mark + "id\"," + mark + "\r\n" + mark + "\r\n");
    EXPECT_EQ(ReadAll(output.Bytes(), 2).records, records);
}

}  // namespace
