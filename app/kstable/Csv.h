#pragma once
// Comma-separated text in the common form: values separated by commas, records ended by
// CR LF or LF, a value that holds a comma, a quote or a line break enclosed in double
// quotes, a quote inside such a value doubled. The reader accepts both line ends and a
// last record without one, and drops a UTF-8 byte order mark (EF BB BF) at the very start
// of the input, which editors put there and which is no data; the writer ends every record
// with CR LF and quotes only the values that need it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "CsvScan.h"
#include "io/KsStreamInterface.h"

class KsIO;

// Reads records one at a time, in place: the values of a record stay in the reader's
// buffer, each ended by a NUL where its separator was, until the next record is read. A
// malformed record (a quote inside an unquoted value, text after a closing quote, a quote
// never closed, a carriage return without a line feed, a NUL byte, more than
// kMaxRecordBytes bytes before the line end) raises a KsException of class "CsvReader"
// whose message says what is wrong; Line() tells where the record starts. The bytes that
// end values are found 64 at a time (CsvScan.h).
class CsvReader {
public:
    static constexpr std::size_t kMaxRecordBytes = 1 << 20;

    // The buffer starts at `bufferSize` bytes and grows to hold the longest record.
    explicit CsvReader(KsInputStreamInterface& input, std::size_t bufferSize = 1 << 20,
                       CsvScan scan = ChosenCsvScan());

    // Reads the next record; false at the end of the input. An input that ends with a line
    // break has no empty record after it; an empty line is a record of one empty value.
    bool Next();

    // Where value i lies: Length bytes from Start, counted from RecordText().
    struct Span {
        std::uint32_t start;
        std::uint32_t length;
    };

    std::size_t Count() const { return count_; }
    // The spans of the values and the text they point into, for loops that keep both at
    // hand (valid until the next record is read).
    const Span* Spans() const { return values_.get(); }
    const char* RecordText() const { return Record(); }
    // Value i of the record, NUL-terminated (values never hold a NUL byte).
    const char* Value(std::size_t i) const { return Record() + values_[i].start; }
    std::string_view View(std::size_t i) const { return {Value(i), values_[i].length}; }
    // Line of the input (from 1) on which the last record read starts.
    std::int64_t Line() const { return recordLine_; }
    // Bytes taken from the input so far.
    std::uint64_t Consumed() const { return consumed_; }

private:
    const char* Record() const { return buffer_.get() + record_; }
    char* Record() { return buffer_.get() + record_; }
    std::size_t Available() const { return end_ - record_; }
    // Brings more input behind the bytes of the current record, which move to the front of
    // the buffer (or into a larger one); false at the end of the input.
    bool More();
    // The first of , \n \r " NUL at or after `at` (both from the record's start); the NUL
    // after the bytes read, at Available(), stops the search at the latest.
    std::size_t FindStop(std::size_t at);
    // Takes the values from `at` on that end in a comma, up to the first stop of another
    // kind, where the value it returns starts. The reader's inner loop: it steps from stop
    // to stop by the bits of the blocks alone, without waiting for the bytes.
    std::size_t TakeCommaEnded(std::size_t at);
    // Moves `at` to the first of those bytes, reading more input as needed; returns that
    // byte, or -1 at the end of the input.
    int Scan(std::size_t& at);
    // A quoted value from `at` (its opening quote); its text is written over itself from
    // `at`, its length returned in `length`. `at` ends on the byte after the closing quote.
    void ReadQuoted(std::size_t& at, std::size_t& length);
    // Takes the separator at `at` ('\0' when the input ended there); returns ',' or '\n'
    // (the record ended).
    int TakeSeparator(std::size_t& at, int separator);
    [[noreturn]] void Fail(const char* problem) const;
    // Steps over a byte order mark at the start of the input.
    void SkipByteOrderMark();
    // Adds the span of the record's next value.
    void AddValue(std::size_t start, std::size_t length);
    // Doubles the room for spans, keeping those taken.
    void GrowValues();

    // Bytes asked for at a time.
    static constexpr std::size_t kReadBytes = 128 << 10;

    KsInputStreamInterface& input_;
    KsIO* file_;  // the input when it is a file of the I/O layer, else null
    std::size_t capacity_;
    // capacity_ bytes and a block's worth more, so that a block starting before the end of
    // the bytes read can always be looked at whole.
    std::unique_ptr<char[]> buffer_;
    CsvStopMask stopMask_;
    // The stops of the block of the buffer at stopsBase_ (a multiple of the block size),
    // kNoBlock when the buffer changed since.
    static constexpr std::size_t kNoBlock = ~std::size_t{0};
    std::size_t stopsBase_ = kNoBlock;
    CsvStops stops_;
    std::size_t record_ = 0;  // start of the current record
    std::size_t next_ = 0;    // start of the record after it
    std::size_t end_ = 0;     // end of the bytes read, where a NUL always follows
    bool atEnd_ = false;
    bool started_ = false;  // the start of the input was looked at for a byte order mark
    std::uint64_t consumed_ = 0;
    std::int64_t line_ = 1;
    std::int64_t recordLine_ = 0;
    // The spans of the record's values: count_ of them, in room for valueRoom_. A plain
    // array rather than a vector, so that the inner loop keeps its end in a register.
    std::unique_ptr<Span[]> values_;
    std::size_t count_ = 0;
    std::size_t valueRoom_ = 0;
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
    // break, and as the output's first value also when it starts with a byte order mark,
    // which a reader would otherwise drop.
    void Value(std::string_view text);
    // Ends the current record with CR LF.
    void EndRecord();
    void Flush();

    // A whole record written in place: RecordRoom gives room for `bytes` bytes after what is
    // pending, where the caller writes its values (PutValue), the commas between them and
    // the CR LF; EndRecordAt takes them up to `end`. No other call may come in between. Such a
    // record does not start the output (a header line written through Value comes first).
    char* RecordRoom(std::size_t bytes);
    void EndRecordAt(const char* end);
    // Writes `text` at `out`, quoted when it holds a comma, a quote or a line break (or
    // always), and returns the end; `out` needs room for MaxValueBytes(text.size()).
    static char* PutValue(char* out, std::string_view text, bool quoted = false);
    // At most: the quotes and every byte doubled.
    static constexpr std::size_t MaxValueBytes(std::size_t length) { return 2 * length + 2; }

private:
    // Room for `bytes` more bytes, flushing or growing the buffer first when needed.
    char* Reserve(std::size_t bytes);

    KsOutputStreamInterface& output_;
    std::size_t capacity_;  // flushed at the end of a record once this full
    std::size_t room_;      // bytes allocated
    std::unique_ptr<char[]> buffer_;
    std::size_t size_ = 0;  // bytes pending
    bool firstValue_ = true;
    bool atStart_ = true;  // nothing written yet
};
