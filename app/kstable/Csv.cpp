#include "Csv.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "core/KsException.h"
#include "io/KsIO.h"

namespace {

constexpr const char* kReaderClass = "CsvReader";

// Bytes that make the writer quote a value.
struct QuotedBytes {
    bool table[256] = {};
    constexpr QuotedBytes() {
        for (unsigned char c : {',', '"', '\r', '\n'}) {
            table[c] = true;
        }
    }
};
constexpr QuotedBytes kQuotedBytes;

// A buffer of `size` bytes and the block after them, zeroed once so that no byte the stop
// search looks at is unset.
std::unique_ptr<char[]> NewBuffer(std::size_t size) {
    return std::unique_ptr<char[]>(new char[size + kCsvScanBlock]());
}

}  // namespace

CsvReader::CsvReader(KsInputStreamInterface& input, std::size_t bufferSize, CsvScan scan)
    : input_(input),
      file_(dynamic_cast<KsIO*>(&input)),
      capacity_(std::clamp<std::size_t>(bufferSize, 2, kMaxRecordBytes + 3)),
      buffer_(NewBuffer(capacity_)),
      stopMask_(StopMaskOf(scan)) {
    GrowValues();
}

void CsvReader::GrowValues() {
    const std::size_t room = std::max<std::size_t>(64, 2 * valueRoom_);
    std::unique_ptr<Span[]> grown(new Span[room]);
    std::copy(values_.get(), values_.get() + count_, grown.get());
    values_ = std::move(grown);
    valueRoom_ = room;
}

void CsvReader::AddValue(std::size_t start, std::size_t length) {
    if (count_ == valueRoom_) {
        GrowValues();
    }
    values_[count_++] = {static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(length)};
}

void CsvReader::Fail(const char* problem) const {
    KsException::Generate("%s", kReaderClass, problem);
}

bool CsvReader::More() {
    if (atEnd_) {
        return false;
    }
    stopsBase_ = kNoBlock;
    if (record_ > 0) {
        std::memmove(buffer_.get(), Record(), Available());
        end_ -= record_;
        next_ -= std::min(next_, record_);
        record_ = 0;
    }
    if (end_ + 1 >= capacity_) {
        // A record up to the longest, its line end and the room for a last NUL.
        constexpr std::size_t kLargest = kMaxRecordBytes + 3;
        if (capacity_ >= kLargest) {
            KsException::Generate("a record longer than %lu bytes", kReaderClass,
                                  static_cast<unsigned long>(kMaxRecordBytes));
        }
        const std::size_t larger = std::min(2 * capacity_, kLargest);
        std::unique_ptr<char[]> grown = NewBuffer(larger);
        std::memcpy(grown.get(), buffer_.get(), end_);
        buffer_ = std::move(grown);
        capacity_ = larger;
    }
    buffer_[end_] = '\0';
    // Pieces small enough to be still in the cache when they are scanned; a file hands
    // them over without a copy through its own buffer (and a pipe as they come).
    const auto room = static_cast<std::int32_t>(std::min(capacity_ - end_ - 1, kReadBytes));
    const std::int32_t got = file_ != nullptr ? file_->ReadAvailable(buffer_.get() + end_, room)
                                              : input_.Read(buffer_.get() + end_, room, false);
    if (got <= 0) {
        atEnd_ = true;
        return false;
    }
    end_ += static_cast<std::size_t>(got);
    buffer_[end_] = '\0';
    consumed_ += static_cast<std::uint64_t>(got);
    return true;
}

std::size_t CsvReader::FindStop(std::size_t at) {
    // Blocks are aligned to the buffer, not to the record, so that the stops of a block
    // serve every value in it.
    const std::size_t from = record_ + at;
    const std::size_t base = from & ~(kCsvScanBlock - 1);
    if (base != stopsBase_) {
        stopsBase_ = base;
        stops_ = stopMask_(buffer_.get() + base);
    }
    std::uint64_t later = (stops_.commas | stops_.others) & (~std::uint64_t{0} << (from - base));
    while (later == 0) {
        // The block holding end_ has its NUL, so this never passes end_.
        stopsBase_ += kCsvScanBlock;
        stops_ = stopMask_(buffer_.get() + stopsBase_);
        later = stops_.commas | stops_.others;
    }
    return stopsBase_ + static_cast<std::size_t>(std::countr_zero(later)) - record_;
}

std::size_t CsvReader::TakeCommaEnded(std::size_t at) {
    // Locals throughout: the NULs written over the commas could change any member for all
    // the compiler knows.
    char* const bytes = buffer_.get();
    const std::size_t record = record_;
    Span* spans = values_.get();
    std::size_t count = count_;
    std::size_t room = valueRoom_;
    std::size_t from = record + at;
    std::size_t base = from & ~(kCsvScanBlock - 1);
    CsvStops stops = base == stopsBase_ ? stops_ : stopMask_(bytes + base);
    std::uint64_t pending = (stops.commas | stops.others) & (~std::uint64_t{0} << (from - base));
    for (;;) {
        if (pending == 0) {
            // The NUL at end_ is a stop of the other kind, so this never passes end_.
            base += kCsvScanBlock;
            stops = stopMask_(bytes + base);
            pending = stops.commas | stops.others;
            continue;
        }
        const std::uint64_t lowest = pending & (0 - pending);
        if ((lowest & stops.others) != 0) {
            break;
        }
        const std::size_t stop = base + static_cast<std::size_t>(std::countr_zero(pending));
        bytes[stop] = '\0';
        if (count == room) {
            count_ = count;
            GrowValues();
            spans = values_.get();
            room = valueRoom_;
        }
        spans[count++] = {static_cast<std::uint32_t>(from - record),
                          static_cast<std::uint32_t>(stop - from)};
        from = stop + 1;
        pending ^= lowest;
    }
    count_ = count;
    stopsBase_ = base;
    stops_ = stops;
    return from - record;
}

int CsvReader::Scan(std::size_t& at) {
    for (;;) {
        at = FindStop(at);
        if (at < Available()) {
            return static_cast<unsigned char>(Record()[at]);
        }
        if (!More()) {
            return -1;
        }
    }
}

void CsvReader::ReadQuoted(std::size_t& at, std::size_t& length) {
    const std::size_t start = at;
    std::size_t out = start;
    ++at;  // the opening quote
    for (;;) {
        // Bytes up to the next stop are the value's as they are; they move down over the
        // quotes taken out so far (only bytes before `at` change, so the stops found stay).
        const std::size_t stop = FindStop(at);
        if (stop > at) {
            std::memmove(Record() + out, Record() + at, stop - at);
            out += stop - at;
            at = stop;
        }
        if (at == Available()) {
            if (!More()) {
                Fail("a quoted value is not closed before the end of the input");
            }
            continue;
        }
        const char c = Record()[at];
        if (c == '"') {
            if ((at + 1 == Available() && !More()) || Record()[at + 1] != '"') {
                ++at;  // the closing quote
                break;
            }
            ++at;  // the first of a doubled quote; the second is the value's
        } else if (c == '\0') {
            Fail("a NUL byte in a value");
        } else if (c == '\n') {
            ++line_;
        }
        Record()[out++] = Record()[at++];
    }
    length = out - start;
}

int CsvReader::TakeSeparator(std::size_t& at, int separator) {
    switch (separator) {
        case -1:
            return '\n';
        case ',':
            ++at;
            return ',';
        case '\n':
            ++at;
            ++line_;
            return '\n';
        case '\r':
            if ((at + 1 < Available() || More()) && Record()[at + 1] == '\n') {
                at += 2;
                ++line_;
                return '\n';
            }
            Fail("a carriage return not followed by a line feed");
        case '"':
            Fail("a quote inside a value that does not start with a quote");
        default:
            Fail("a NUL byte in a value");
    }
}

void CsvReader::SkipByteOrderMark() {
    static constexpr char kMark[] = "\xEF\xBB\xBF";
    for (std::size_t i = 0; i < 3; ++i) {
        if ((i == Available() && !More()) || Record()[i] != kMark[i]) {
            return;  // no mark: a first value that starts like one stays whole
        }
    }
    record_ += 3;
    next_ = record_;
}

bool CsvReader::Next() {
    count_ = 0;
    record_ = next_;
    if (!started_) {
        started_ = true;
        SkipByteOrderMark();
    }
    if (record_ == end_ && !More()) {
        return false;
    }
    recordLine_ = line_;
    std::size_t at = 0;
    for (;;) {
        at = TakeCommaEnded(at);
        const std::size_t start = at;
        int separator = Scan(at);
        if (separator == ',') {  // more input came after an unquoted value
            Record()[at] = '\0';
            AddValue(start, at - start);
            ++at;
            continue;
        }
        std::size_t length = at - start;
        if (separator == '"' && at == start) {
            ReadQuoted(at, length);
            const std::size_t afterQuote = at;
            separator = Scan(at);
            if (at != afterQuote) {
                Fail("text after the closing quote of a value");
            }
        }
        const int taken = TakeSeparator(at, separator);
        Record()[start + length] = '\0';  // over the separator or the closing quote
        AddValue(start, length);
        if (taken != ',') {
            if (start + length > kMaxRecordBytes) {
                KsException::Generate("a record longer than %lu bytes", kReaderClass,
                                      static_cast<unsigned long>(kMaxRecordBytes));
            }
            next_ = record_ + at;
            return true;
        }
    }
}

CsvWriter::CsvWriter(KsOutputStreamInterface& output, std::size_t bufferSize)
    : output_(output), capacity_(bufferSize), room_(bufferSize + 1024), buffer_(new char[room_]) {}

char* CsvWriter::Reserve(std::size_t bytes) {
    if (size_ + bytes > room_) {
        Flush();
        if (bytes > room_) {
            room_ = bytes;
            buffer_.reset(new char[room_]);
        }
    }
    return buffer_.get() + size_;
}

char* CsvWriter::PutValue(char* out, std::string_view text, bool quoted) {
    std::size_t i = quoted ? text.size() + 1 : 0;
    while (i < text.size() && !kQuotedBytes.table[static_cast<unsigned char>(text[i])]) {
        ++i;
    }
    if (i == text.size()) {
        if (!text.empty()) {  // an empty view may have no bytes at all
            std::memcpy(out, text.data(), text.size());
        }
        return out + text.size();
    }
    *out++ = '"';
    for (char c : text) {
        if (c == '"') {
            *out++ = '"';
        }
        *out++ = c;
    }
    *out++ = '"';
    return out;
}

void CsvWriter::Value(std::string_view text) {
    char* out = Reserve(MaxValueBytes(text.size()) + 1);
    char* const first = out;
    if (!firstValue_) {
        *out++ = ',';
    }
    firstValue_ = false;
    const bool mark = atStart_ && text.starts_with("\xEF\xBB\xBF");
    atStart_ = false;
    size_ += static_cast<std::size_t>(PutValue(out, text, mark) - first);
}

char* CsvWriter::RecordRoom(std::size_t bytes) {
    return Reserve(bytes);
}

void CsvWriter::EndRecordAt(const char* end) {
    size_ = static_cast<std::size_t>(end - buffer_.get());
    firstValue_ = true;
    atStart_ = false;
    if (size_ >= capacity_) {
        Flush();
    }
}

void CsvWriter::EndRecord() {
    char* out = Reserve(2);
    out[0] = '\r';
    out[1] = '\n';
    size_ += 2;
    firstValue_ = true;
    if (size_ >= capacity_) {
        Flush();
    }
}

void CsvWriter::Flush() {
    std::size_t done = 0;
    while (done < size_) {
        const auto count = static_cast<std::int32_t>(std::min<std::size_t>(size_ - done, 1 << 30));
        output_.Write(buffer_.get() + done, count);
        done += static_cast<std::size_t>(count);
    }
    size_ = 0;
}
