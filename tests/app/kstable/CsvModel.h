#pragma once
// Comma-separated text read the plain way, a byte at a time over the whole input: the model
// that CsvReader, with every stop search and buffer size, must agree with. Records longer
// than CsvReader::kMaxRecordBytes are not modelled. Beside it, what the reader makes of a
// text and what the writer makes of records, as the tests and the fuzzer compare them.

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "Csv.h"
#include "core/KsException.h"
#include "support/MemoryStream.h"

namespace kstest {

using CsvRecords = std::vector<std::vector<std::string>>;

// The reader's messages, without its class name.
inline const std::string kCsvQuote = "a quote inside a value that does not start with a quote";
inline const std::string kCsvOpen = "a quoted value is not closed before the end of the input";
inline const std::string kCsvAfter = "text after the closing quote of a value";
inline const std::string kCsvCr = "a carriage return not followed by a line feed";
inline const std::string kCsvNul = "a NUL byte in a value";

struct CsvOutcome {
    CsvRecords records;
    std::vector<std::int64_t> lines;  // of each record, then of the one that failed
    std::string error;
    bool cStrings = true;  // every value's C string is its view
    bool operator==(const CsvOutcome&) const = default;
};

inline CsvOutcome ReadCsv(const std::string& text, std::size_t bufferSize, CsvScan scan) {
    MemoryStream input(text);
    CsvReader reader(input, bufferSize, scan);
    CsvOutcome outcome;
    try {
        while (reader.Next()) {
            outcome.records.emplace_back();
            outcome.lines.push_back(reader.Line());
            for (std::size_t i = 0; i < reader.Count(); ++i) {
                outcome.cStrings = outcome.cStrings && reader.View(i) == reader.Value(i) &&
                                   std::strlen(reader.Value(i)) == reader.View(i).size();
                outcome.records.back().emplace_back(reader.View(i));
            }
        }
        outcome.error = reader.Consumed() == text.size() ? "" : "input left unread";
    } catch (const KsException& error) {
        outcome.error = std::string(error.GetClassName()) + ": " + error.GetErrorMessage();
        outcome.lines.push_back(reader.Line());
    }
    return outcome;
}

inline std::string WriteCsv(const CsvRecords& records, std::size_t bufferSize) {
    MemoryStream output;
    CsvWriter writer(output, bufferSize);
    for (const auto& record : records) {
        for (const std::string& value : record) {
            writer.Value(value);
        }
        writer.EndRecord();
    }
    writer.Flush();
    return output.Bytes();
}

inline CsvOutcome ModelCsv(const std::string& text) {
    CsvOutcome outcome;
    std::size_t at = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    std::int64_t line = 1;
    auto fail = [&](const std::string& error, std::int64_t recordLine) {
        outcome.error = "CsvReader: " + error;
        outcome.lines.push_back(recordLine);
        return outcome;
    };
    const auto peek = [&](std::size_t i) { return i < text.size() ? text[i] : '\x01'; };
    const std::string_view stops(",\n\r\"\0", 5);  // each ends a value that is not quoted
    const auto ends = [&](std::size_t i) { return i == text.size() || stops.find(text[i]) < 5; };
    while (at < text.size()) {
        const std::int64_t recordLine = line;
        std::vector<std::string> record;
        for (bool more = true; more;) {
            std::string value;
            if (peek(at) == '"') {
                for (++at; peek(at) != '"' || peek(at + 1) == '"'; ++at) {
                    if (at == text.size()) {
                        return fail(kCsvOpen, recordLine);
                    }
                    if (text[at] == '\0') {
                        return fail(kCsvNul, recordLine);
                    }
                    at += text[at] == '"';  // the first of two quotes that stand for one
                    line += text[at] == '\n';
                    value += text[at];
                }
                ++at;  // past the closing quote
                if (!ends(at)) {
                    return fail(kCsvAfter, recordLine);
                }
            } else {
                while (!ends(at)) {
                    value += text[at++];
                }
            }
            record.push_back(value);
            const char stop = peek(at);
            if (stop == '"') {
                return fail(kCsvQuote, recordLine);
            }
            if (stop == '\0' || (stop == '\r' && peek(at + 1) != '\n')) {
                return fail(stop == '\0' ? kCsvNul : kCsvCr, recordLine);
            }
            more = stop == ',';  // a line's end or the input's ends the record
            line += stop == '\r' || stop == '\n';
            at += stop == '\r' ? 2 : 1;
        }
        outcome.records.push_back(record);
        outcome.lines.push_back(recordLine);
    }
    return outcome;
}

}  // namespace kstest
