#pragma once
// The rules that turn the lines of a comma-separated export into fixed-width records:
// the first line dropped as column headers, every comma removed, a line without one
// refused, the scanner header of spaces put in front, a record of another length than
// the first refused, a NUL byte refused, "\r\n" and "\n" as line ends and a return
// followed by anything else refused. Records are gathered in a block that goes to the
// output when it is full and whenever the caller flushes it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ConversionEngine.h"
#include "ConversionOutput.h"

class RecordConverter {
public:
    enum class Outcome { kMore, kCancelled, kFailed };

    RecordConverter(const ConversionOptions& options, ConversionObserver& observer,
                    ConversionOutput& output, RecordLayout& layout);

    // Converts the next line of the input: `length` bytes of text, without "\n" (a "\r"
    // before it is still there), and `consumed`, the bytes the line took in the input.
    // After kFailed, Error() tells why; after kCancelled the run stops.
    Outcome ConvertLine(const char* text, std::size_t length, std::size_t consumed);
    // Refuses the line being read because it is longer than a record may be.
    Outcome RefuseLongLine(std::size_t longest);
    // Writes the records gathered so far.
    void Flush();

    const ConversionDataError& Error() const { return *error_; }
    std::uint64_t Records() const { return records_; }
    std::uint64_t Consumed() const { return consumed_; }
    // With the field widths checked: those of the first record, and the first record
    // that differed from it.
    std::vector<std::uint32_t> FieldWidths() const;
    const std::optional<FieldWidthMismatch>& WidthMismatch() const { return mismatch_; }
    // The dropped column-header line, split at its commas.
    std::vector<std::string> ColumnNames() const;

private:
    // Appends the record of one data line to the block.
    Outcome ConvertRecord(const char* text, std::size_t length);
    // Copies the line without its commas, checking its commas against the first record's
    // when asked to; sets `differs` when they stand elsewhere.
    std::size_t CopyRecord(const char* text, std::size_t length, char* out, bool& differs);
    // Notes the first record whose fields differ from the first record's.
    void NoteMismatch(const char* text, std::size_t length);
    // Room for `count` more bytes in the block, writing it out or growing it first.
    char* Reserve(std::size_t count);
    KS_PRINTF(3, 4) Outcome Fail(const char* className, const char* format, ...);

    const ConversionOptions& options_;
    ConversionObserver& observer_;
    ConversionOutput& output_;
    RecordLayout& layout_;
    const std::size_t headerSize_;  // spaces in front of every record
    bool headerLinePending_;        // the column headers are still to be dropped

    std::unique_ptr<char[]> block_;
    std::size_t blockCapacity_;
    std::size_t blockSize_ = 0;

    std::int64_t lineNumber_ = 0;    // lines of the input so far, the header included
    std::int64_t recordNumber_ = 1;  // of the next data line
    std::uint64_t records_ = 0;
    std::uint64_t consumed_ = 0;
    std::optional<ConversionDataError> error_;

    bool checkingWidths_;      // until the first record that differs
    std::string firstRecord_;  // the first data line, as read
    std::uint64_t firstRecordNumber_ = 0;
    std::vector<std::uint8_t> firstCommas_;  // its comma masks, a byte per 8 bytes of text
    std::optional<FieldWidthMismatch> mismatch_;
    std::string headerLine_;
};
