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

namespace {

using kstest::CsvOutcome;
using kstest::CsvRecords;
using kstest::ReadCsv;

constexpr std::size_t kBufferSizes[] = {1, 2, 3, 7, 1 << 20};

// The reader with every stop search and buffer size gives `expected` (by default the
// model's reading, which must be `expected` itself where it is given).
void ExpectRead(const std::string& text, const CsvOutcome& expected) {
    ASSERT_EQ(kstest::ModelCsv(text), expected) << text.substr(0, 40);
    for (CsvScan scan : SupportedCsvScans()) {
        for (std::size_t size : kBufferSizes) {
            ASSERT_EQ(ReadCsv(text, size, scan), expected)
                << text.substr(0, 40) << " / " << NameOf(scan) << " / " << size;
        }
    }
}

TEST(CsvReader, ReadsRecordsWhateverTheBufferSize) {
    const struct {
        std::string text;
        CsvRecords records;
        std::vector<std::int64_t> lines;
    } cases[] = {
        {"", {}, {}},
        {"a,b\r\nc,d\n\na,\n,\n",
         {{"a", "b"}, {"c", "d"}, {""}, {"a", ""}, {"", ""}},
         {1, 2, 3, 4, 5}},
        {"\"x,y\",\"say \"\"hi\"\"\"\r\n\"two\r\nlines\",\"a\nb\"\nnext\n x , y \n",
         {{"x,y", "say \"hi\""}, {"two\r\nlines", "a\nb"}, {"next"}, {" x ", " y "}},
         {1, 2, 5, 6}},
        {"caf\xc3\xa9,\x7f\xff\n\xEF\xBB\xBF,\xEF\xBB\xBF\nx\n\ny",
         {{"caf\xc3\xa9", "\x7f\xff"}, {"\xEF\xBB\xBF", "\xEF\xBB\xBF"}, {"x"}, {""}, {"y"}},
         {1, 2, 3, 4, 5}},
        {"\"\",\"\"\"\"", {{"", "\""}}, {1}},
        // A byte order mark is dropped at the very start only; anywhere else it is data.
        {"\xEF\xBB\xBF\"id\",n\r\n", {{"id", "n"}}, {1}},
        {"\xEF\xBB\xBF", {}, {}},
        {"\xEF\xBB\xBF\xEF\xBB\xBFx", {{"\xEF\xBB\xBFx"}}, {1}},
        {"\xEF\xBBx,\xEF\n", {{"\xEF\xBBx", "\xEF"}}, {1}},
    };
    for (const auto& c : cases) {
        ExpectRead(c.text, {c.records, c.lines, "", true});
    }
}

TEST(CsvReader, MalformedRecordsNameTheFaultAndTheirFirstLine) {
    const struct {
        std::string text, message;
        std::vector<std::int64_t> lines;
        CsvRecords before = {};
    } cases[] = {
        {"ok\nab\"c\n", kstest::kCsvQuote, {1, 2}, {{"ok"}}},
        {"\"a\"b\n", kstest::kCsvAfter, {1}},
        {"\"a\" ,b\n", kstest::kCsvAfter, {1}},
        {"1\n2\n\"open,\n\nstill", kstest::kCsvOpen, {1, 2, 3}, {{"1"}, {"2"}}},
        {"a\rb\n", kstest::kCsvCr, {1}},
        {"a,b\r", kstest::kCsvCr, {1}},
        {"\"q\"\rx", kstest::kCsvCr, {1}},
        {std::string("a\0b\n", 4), kstest::kCsvNul, {1}},
        {std::string("\"a\0\"\n", 5), kstest::kCsvNul, {1}},
    };
    for (const auto& c : cases) {
        ExpectRead(c.text, {c.before, c.lines, "CsvReader: " + c.message, true});
    }
    // The longest record is read whole; one byte more is refused.
    const std::string value(CsvReader::kMaxRecordBytes - 2, 'v');  // after "a,"
    EXPECT_EQ(ReadCsv("a," + value + "\r\n", 16, CsvScan::kPortable).records,
              (CsvRecords{{"a", value}}));
    EXPECT_EQ(ReadCsv("x\n" + value + "vvv", 1 << 20, SupportedCsvScans().back()).error,
              "CsvReader: a record longer than 1048576 bytes");
}

// Inputs of the bytes that matter (and plain ones in runs, so that values and records
// cross the 64-byte blocks of the stop search), against the model. Every hundredth input is
// long and of many short values, so that the reader's room for the spans of a record's
// values (64 at first) doubles several times.
TEST(CsvReader, AgreesWithThePlainModelOnRandomInputs) {
    // Every other input has no NUL or byte order mark, so that it gets further; some have
    // bytes of every value among them.
    static constexpr char kBytes[] = {',', '"', '\r', '\n', 'a', ' ', '\0', '\xEF', '\xBB', '\xBF'};
    std::mt19937 random(20240611);
    for (int round = 0; round < 3000; ++round) {
        std::string text = round % 5 == 0 ? "\xEF\xBB\xBF" : "";
        const std::size_t length = round % 100 == 0 ? 20000 : random() % 300;
        while (text.size() < length) {
            const char c = round % 7 == 3 && random() % 4 == 0  // any byte at all
                               ? static_cast<char>(random())
                               : kBytes[random() % (round % 2 == 0 ? 6 : sizeof kBytes)];
            text.append(c == 'a' && round % 100 != 0 ? random() % 90 : 1, c);
        }
        const CsvOutcome expected = kstest::ModelCsv(text);
        for (CsvScan scan : SupportedCsvScans()) {
            const std::size_t size = std::size_t{1} << (random() % 12);
            ASSERT_EQ(ReadCsv(text, size, scan), expected) << NameOf(scan) << " / " << size;
        }
    }
}

// Every implementation is held to the model above (the bytes there include high ones, which
// a signed comparison would take for small); here the names that choose one.
TEST(CsvScan, NamesChooseAnImplementation) {
    EXPECT_EQ(ParseCsvScan("avx2"), CsvScan::kAvx2);
    EXPECT_EQ(ParseCsvScan("avx512"), std::nullopt);
}

// A tiny buffer is flushed after every record, and grows for a value longer than it; a
// first value starting with a byte order mark is quoted so that the mark reads back.
TEST(CsvWriter, QuotesOnlyWhatNeedsItAndReadsBack) {
    const std::string mark = "\xEF\xBB\xBF";
    const struct {
        CsvRecords records;
        std::string text;
    } cases[] = {
        {{{"plain", "a,b", "say \"hi\"", "two\r\nlines", "", " pad "},
          {"lf\nonly", "cr\ronly", "\""},
          {""},
          {std::string(600, ',')}},
         "plain,\"a,b\",\"say \"\"hi\"\"\",\"two\r\nlines\",, pad \r\n"
         "\"lf\nonly\",\"cr\ronly\",\"\"\"\"\r\n\r\n\"" +
             std::string(600, ',') + "\"\r\n"},
        {{{mark + "id", mark}, {mark}}, "\"" + mark + "id\"," + mark + "\r\n" + mark + "\r\n"},
    };
    for (const auto& c : cases) {
        const std::string text = kstest::WriteCsv(c.records, 4);
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(ReadCsv(text, 3, CsvScan::kPortable).records, c.records);
    }
}

}  // namespace
