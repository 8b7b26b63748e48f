#pragma once
// The output of a conversion: a named file opened through the file factory (created or
// emptied; a FIFO, terminal or device is written as a stream), or an open descriptor.
// Records reach it in blocks. When a write fails, an output that is a regular file is cut
// back to the end of its last whole record before the error leaves, so that every record
// in it is whole.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "ConversionEngine.h"
#include "io/KsIOInterface.h"

// Where the records of an output end: some empty records may come first (lines of
// nothing but commas before any record fixed the length), then records of one length,
// each followed by its line feed.
struct RecordLayout {
    std::uint64_t leadingEmptyRecords = 0;
    std::uint32_t recordLength = 0;  // 0 while no record fixed it

    // How many of the first `bytes` bytes written form whole records.
    std::uint64_t WholeRecordBytes(std::uint64_t bytes) const;
};

class ConversionOutput {
public:
    // Opens the output; from here on a named output exists and is empty.
    ConversionOutput(const ConversionOptions& options, const RecordLayout& layout,
                     KsIOFactory& factory);
    // Closes an output that was not closed because an error stopped the run; a failure
    // to write its last records is cut back as in Write.
    ~ConversionOutput();
    ConversionOutput(const ConversionOutput&) = delete;
    ConversionOutput& operator=(const ConversionOutput&) = delete;

    void Write(const char* data, std::size_t count);
    // Writes what is pending and closes the file.
    void Close();

private:
    // Cuts a regular file back to its whole records after a failed write. Its own failure
    // is not reported: the write error is the one the user must see.
    void CutBack() noexcept;
    void CutBackNamedFile();
    void CutBackDescriptor();

    const RecordLayout& layout_;
    KsIOFactory& factory_;
    std::string name_;
    int descriptor_ = -1;            // an adopted descriptor, or -1 for a named file
    bool regularFile_ = false;       // only a regular file can be cut back
    std::int64_t recordsStart_ = 0;  // offset of the first record in the file
    std::unique_ptr<KsIOInterface> file_;
};
