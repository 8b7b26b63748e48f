#pragma once
// Comma-separated text in the common form: values separated by commas, records ended by
// CR LF or LF, a value that holds a comma, a quote or a line break enclosed in double
// quotes, a quote inside such a value doubled. The reader accepts both line ends and a
// last record without one; the writer ends every record with CR LF and quotes only the
// values that need it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "io/KsStreamInterface.h"

// Reads records one at a time. A malformed record (a quote inside an unquoted value, text
// after a closing quote, a quote never closed, a carriage return without a line feed, a
// NUL byte, a record whose values with a NUL after each take more than kMaxRecordBytes)
// raises a KsException of class
// "CsvReader" whose message says what is wrong; Line() tells where the record starts.
class CsvReader {
public:
    static constexpr std::size_t kMaxRecordBytes = 1 << 20;

    explicit CsvReader(KsInputStreamInterface& input, std::size_t bufferSize = 1 << 20);

    // Reads the next record; false at the end of the input. An input that ends with a line
    // break has no empty record after it; an empty line is a record of one empty value.
    bool Next();

    std::size_t Count() const { return starts_.size(); }
    // Value i of the record, NUL-terminated (values never hold a NUL byte).
    const char* Value(std::size_t i) const { return values_.data() + starts_[i]; }
    std::string_view View(std::size_t i) const;
    // Line of the input (from 1) on which the last record read starts.
    std::int64_t Line() const { return recordLine_; }
    // Bytes taken from the input so far.
    std::uint64_t Consumed() const { return consumed_; }

private:
    // The next byte without taking it, or -1 at the end of the input.
    int Peek();
    // Moves past the byte Peek() returned.
    void Skip() { ++position_; }
    // Appends bytes to the current value up to the first one `stop` marks, which stays
    // unread; returns it, or -1 at the end of the input.
    int TakeUntil(const bool (&stop)[256]);
    // Reads one value after its first byte has been peeked; returns the byte that ended
    // it (',' or '\n') or -1 at the end of the input.
    int ReadUnquoted();
    int ReadQuoted();
    // After a carriage return: takes the line feed that must follow.
    void TakeLineFeed();
    void EndValue();
    void CheckRecordSize() const;
    bool Fill();

    KsInputStreamInterface& input_;
    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_;
    std::size_t position_ = 0;
    std::size_t end_ = 0;
    bool atEnd_ = false;
    std::uint64_t consumed_ = 0;
    std::int64_t line_ = 1;
    std::int64_t recordLine_ = 0;
    std::string values_;               // every value of the record, each followed by a NUL
    std::vector<std::size_t> starts_;  // offset of each value in values_
    std::size_t valueStart_ = 0;
};

// Writes records through a buffer of its own that fills up to about bufferSize bytes
// before it goes to the output. Flush() hands over what is pending; the writer's owner
// calls it at the end, since the destructor drops what was not flushed.
class CsvWriter {
public:
    explicit CsvWriter(KsOutputStreamInterface& output, std::size_t bufferSize = 1 << 20);
    CsvWriter(const CsvWriter&) = delete;
    CsvWriter& operator=(const CsvWriter&) = delete;

    // Adds a value to the current record, quoted when it holds a comma, a quote or a line
    // break.
    void Value(std::string_view text);
    // Ends the current record with CR LF.
    void EndRecord();
    void Flush();

private:
    void FlushWhenFull();

    KsOutputStreamInterface& output_;
    std::size_t capacity_;
    std::string pending_;
    bool firstValue_ = true;
};
