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

#include "ConversionEngine.h"
#include "ConversionOutput.h"

// Copies the text without its commas to `out`, which has room for `length` bytes, and
// returns the bytes copied. Works on groups of 8 bytes at a time.
std::size_t CopyWithoutCommas(const char* text, std::size_t length, char* out);

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

private:
    // Appends the record of one data line to the block.
    Outcome ConvertRecord(const char* text, std::size_t length);
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
};
