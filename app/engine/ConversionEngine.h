#pragma once
// The conversion engine: reads a comma-separated questionnaire export and writes the
// fixed-width file, one record per line ending in "\n". Shared by the desktop window and
// the command-line converter; it knows nothing of either.
//
// Every failure leaves as a KsException with the message and class name the user sees;
// the engine adds no call-path line of its own (its caller does). The output keeps every
// record written before an error or a cancel, and nothing but whole records: when a write
// fails (a full disk), an output that is a regular file is cut back to the end of its last
// whole record.

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/KsException.h"
#include "io/KsIOFactory.h"

struct ConversionOptions {
    std::string inputFile;   // used exactly as given; also the name in messages
    std::string outputFile;  // used exactly as given; "-" is not special here
    // When not -1, an already open descriptor (standard input or output) is read or
    // written instead of opening the named file; it is neither truncated nor closed.
    int inputDescriptor = -1;
    int outputDescriptor = -1;
    bool removeCommas = true;
    bool removeColumnHeaders = true;  // drop the first line
    bool insertHeaderField = true;    // put headerSize spaces in front of every record
    std::uint16_t headerSize = 50;
    // Check that every record has its commas where the first one has them, so that the
    // output has a column layout (see ColumnLayout.h); the conversion goes on either way.
    bool checkFieldWidths = false;
    // Bytes read, and records gathered, at a time: at least the input file's buffer, so
    // that it is read without a copy. Tests make it small so that lines cross every kind
    // of boundary.
    std::size_t blockSize = 1024 * 1024;
    // The longest line converted, in bytes before its line feed; a longer one is refused
    // rather than held in memory.
    std::size_t longestLine = std::size_t{1} << 30;
};

// What the engine tells its front end while it runs. Every member has a default that
// does nothing, so a front end overrides only what it shows.
class ConversionObserver {
public:
    virtual ~ConversionObserver() = default;
    // Both files are open and the output is empty; the loop is about to start.
    virtual void Started() {}
    // Called once per record, after the record was converted; true stops the run, and
    // the records converted so far, this one included, are written.
    virtual bool CheckCancel() { return false; }
    // Bytes of input consumed so far and the input's size (0 when unknown, as for a
    // pipe). Called every few hundred kilobytes and once at the end of the input.
    virtual void Progress(std::uint64_t consumed, std::uint64_t total) {
        (void)consumed;
        (void)total;
    }
    // The run is over (finished, cancelled or failed) and Started() was called; the
    // front end removes whatever Started() showed. Called before the error leaves.
    virtual void Finished() {}
};

// The first record whose commas stood elsewhere than in the first record.
struct FieldWidthMismatch {
    std::uint32_t field = 0;  // from 1: the first field whose width differs
    std::uint64_t firstRecord = 0;
    std::uint32_t firstWidth = 0;
    std::uint64_t record = 0;
    std::uint32_t width = 0;
    // Fields of each record; they differ when the widths of the fields both have agree.
    std::uint32_t firstFields = 0;
    std::uint32_t fields = 0;
    std::int64_t lineNumber = 0;  // the input's line of `record`, from 1
};

struct ConversionResult {
    bool cancelled = false;
    std::uint32_t recordLength = 0;  // 0 when no record fixed it
    std::uint64_t records = 0;       // records written
    // With checkFieldWidths: the widths of the first record's fields, empty when no record
    // was converted; the first record that differed from it, if one did.
    std::vector<std::uint32_t> fieldWidths;
    std::optional<FieldWidthMismatch> widthMismatch;
    // The names of the dropped column-header line, split at its commas, as they stand.
    std::vector<std::string> columnNames;
};

// An error in the input's data (a line without a comma, a record of another length, a
// NUL byte, an unknown line end, a line too long to convert). Besides the message the
// window shows, it names the line of the input (from 1) where it was found.
class ConversionDataError : public KsException {
public:
    ConversionDataError() = default;
    KS_PRINTF(4, 0)
    ConversionDataError(std::int64_t lineNumber, const char* className, const char* format,
                        va_list args);

    std::int64_t GetLineNumber() const { return lineNumber_; }

private:
    std::int64_t lineNumber_ = 0;
};

// Runs one conversion. The output is opened through `factory` (a named output only).
// Throws KsException on any error; data errors are ConversionDataError.
ConversionResult ConvertFile(const ConversionOptions& options, ConversionObserver& observer,
                             KsIOFactory& factory = KsIOFactory::Default());

// "File converted.\nAll records are now length N".
std::string CompletionMessage(std::uint32_t recordLength);

// Caption of the completion message box.
inline constexpr const char* kCompletionCaption = "Conversion Completed.";
