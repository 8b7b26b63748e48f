#include "Csv.h"

#include <algorithm>
#include <cstring>

#include "core/KsException.h"

namespace {

constexpr const char* kReaderClass = "CsvReader";

struct StopBytes {
    bool table[256] = {};
    constexpr StopBytes(std::string_view bytes) {
        for (char c : bytes) {
            table[static_cast<unsigned char>(c)] = true;
        }
    }
};

constexpr StopBytes kUnquotedStops(std::string_view(",\n\r\"\0", 5));
// Bytes that make the writer quote a value.
constexpr StopBytes kQuotedBytes(std::string_view(",\"\r\n", 4));

}  // namespace

CsvReader::CsvReader(KsInputStreamInterface& input, std::size_t bufferSize)
    : input_(input),
      capacity_(std::clamp<std::size_t>(bufferSize, 2, kMaxRecordBytes + 3)),
      buffer_(new char[capacity_]) {
    buffer_[0] = '\0';
}

void CsvReader::Fail(const char* problem) const {
    KsException::Generate("%s", kReaderClass, problem);
}

bool CsvReader::More() {
    if (atEnd_) {
        return false;
    }
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
        std::unique_ptr<char[]> grown(new char[larger]);
        std::memcpy(grown.get(), buffer_.get(), end_);
        buffer_ = std::move(grown);
        capacity_ = larger;
    }
    buffer_[end_] = '\0';
    const auto room = static_cast<std::int32_t>(capacity_ - end_ - 1);
    const std::int32_t got = input_.Read(buffer_.get() + end_, room, false);
    if (got <= 0) {
        atEnd_ = true;
        return false;
    }
    end_ += static_cast<std::size_t>(got);
    buffer_[end_] = '\0';
    consumed_ += static_cast<std::uint64_t>(got);
    return true;
}

int CsvReader::Scan(std::size_t& at, const bool (&stop)[256]) {
    for (;;) {
        const char* bytes = Record();
        const std::size_t available = Available();
        while (!stop[static_cast<unsigned char>(bytes[at])]) {
            ++at;  // the NUL after the bytes read stops the scan at the latest
        }
        if (at < available) {
            return static_cast<unsigned char>(bytes[at]);
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
        if (at == Available() && !More()) {
            Fail("a quoted value is not closed before the end of the input");
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
    values_.clear();
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
        const std::size_t start = at;
        // The common case first: an unquoted value and its comma inside the buffer.
        char* bytes = Record();
        while (!kUnquotedStops.table[static_cast<unsigned char>(bytes[at])]) {
            ++at;  // the NUL after the bytes read stops the scan at the latest
        }
        if (bytes[at] == ',') {
            bytes[at] = '\0';
            values_.push_back(
                {static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(at - start)});
            ++at;
            continue;
        }
        std::size_t length = 0;
        int separator = 0;
        if (at == start && (at < Available() || More()) && Record()[at] == '"') {
            ReadQuoted(at, length);
            const std::size_t afterQuote = at;
            separator = Scan(at, kUnquotedStops.table);
            if (at != afterQuote) {
                Fail("text after the closing quote of a value");
            }
        } else {
            separator = Scan(at, kUnquotedStops.table);
            length = at - start;
        }
        const int taken = TakeSeparator(at, separator);
        Record()[start + length] = '\0';  // over the separator or the closing quote
        values_.push_back({static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(length)});
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

void CsvWriter::Value(std::string_view text) {
    // At most: a comma, the quotes and every byte doubled.
    char* out = Reserve(2 * text.size() + 3);
    char* const first = out;
    if (!firstValue_) {
        *out++ = ',';
    }
    firstValue_ = false;
    std::size_t i = 0;
    while (i < text.size() && !kQuotedBytes.table[static_cast<unsigned char>(text[i])]) {
        out[i] = text[i];
        ++i;
    }
    if (i == text.size()) {
        size_ += static_cast<std::size_t>(out - first) + i;
        return;
    }
    *out++ = '"';
    for (char c : text) {
        if (c == '"') {
            *out++ = '"';
        }
        *out++ = c;
    }
    *out++ = '"';
    size_ += static_cast<std::size_t>(out - first);
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
