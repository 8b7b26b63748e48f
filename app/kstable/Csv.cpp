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
constexpr StopBytes kQuotedStops(std::string_view("\"\n\0", 3));

}  // namespace

CsvReader::CsvReader(KsInputStreamInterface& input, std::size_t bufferSize)
    : input_(input), buffer_(new char[bufferSize]), capacity_(bufferSize) {}

std::string_view CsvReader::View(std::size_t i) const {
    const std::size_t end = i + 1 < starts_.size() ? starts_[i + 1] : values_.size();
    return {values_.data() + starts_[i], end - starts_[i] - 1};
}

bool CsvReader::Fill() {
    if (atEnd_) {
        return false;
    }
    const auto wanted = static_cast<std::int32_t>(std::min<std::size_t>(capacity_, 1 << 30));
    const std::int32_t got = input_.Read(buffer_.get(), wanted, false);
    position_ = 0;
    end_ = got > 0 ? static_cast<std::size_t>(got) : 0;
    consumed_ += end_;
    atEnd_ = end_ == 0;
    return !atEnd_;
}

int CsvReader::Peek() {
    if (position_ == end_ && !Fill()) {
        return -1;
    }
    return static_cast<unsigned char>(buffer_[position_]);
}

int CsvReader::TakeUntil(const bool (&stop)[256]) {
    for (;;) {
        const std::size_t start = position_;
        while (position_ < end_ && !stop[static_cast<unsigned char>(buffer_[position_])]) {
            ++position_;
        }
        values_.append(buffer_.get() + start, position_ - start);
        CheckRecordSize();
        if (position_ < end_) {
            return static_cast<unsigned char>(buffer_[position_]);
        }
        if (!Fill()) {
            return -1;
        }
    }
}

void CsvReader::CheckRecordSize() const {
    if (values_.size() > kMaxRecordBytes) {
        KsException::Generate("a record longer than %lu bytes", kReaderClass,
                              static_cast<unsigned long>(kMaxRecordBytes));
    }
}

void CsvReader::TakeLineFeed() {
    if (Peek() != '\n') {
        KsException::Generate("a carriage return not followed by a line feed", kReaderClass);
    }
    Skip();
    ++line_;
}

int CsvReader::ReadUnquoted() {
    const int stop = TakeUntil(kUnquotedStops.table);
    switch (stop) {
        case ',':
            Skip();
            return ',';
        case '\n':
            Skip();
            ++line_;
            return '\n';
        case '\r':
            Skip();
            TakeLineFeed();
            return '\n';
        case '"':
            KsException::Generate("a quote inside a value that does not start with a quote",
                                  kReaderClass);
        case '\0':
            KsException::Generate("a NUL byte in a value", kReaderClass);
        default:
            return -1;
    }
}

int CsvReader::ReadQuoted() {
    Skip();  // the opening quote
    for (;;) {
        const int stop = TakeUntil(kQuotedStops.table);
        if (stop == -1) {
            KsException::Generate("a quoted value is not closed before the end of the input",
                                  kReaderClass);
        }
        if (stop == '\0') {
            KsException::Generate("a NUL byte in a value", kReaderClass);
        }
        Skip();
        if (stop == '\n') {
            values_ += '\n';
            ++line_;
            continue;
        }
        switch (Peek()) {  // after a quote: a doubled quote, or the value's end
            case '"':
                values_ += '"';
                Skip();
                continue;
            case -1:
                return -1;
            case '\r':
            case '\n':
            case ',':
                return ReadUnquoted();  // takes the separator and nothing else
            default:
                KsException::Generate("text after the closing quote of a value", kReaderClass);
        }
    }
}

void CsvReader::EndValue() {
    starts_.push_back(valueStart_);
    values_ += '\0';
    CheckRecordSize();
}

bool CsvReader::Next() {
    values_.clear();
    starts_.clear();
    if (Peek() == -1) {
        return false;
    }
    recordLine_ = line_;
    for (;;) {
        valueStart_ = values_.size();
        const int end = Peek() == '"' ? ReadQuoted() : ReadUnquoted();
        EndValue();
        if (end != ',') {
            return true;
        }
    }
}

CsvWriter::CsvWriter(KsOutputStreamInterface& output, std::size_t bufferSize)
    : output_(output), capacity_(bufferSize) {
    pending_.reserve(bufferSize + 1024);
}

void CsvWriter::Value(std::string_view text) {
    if (!firstValue_) {
        pending_ += ',';
    }
    firstValue_ = false;
    if (text.find_first_of(std::string_view(",\"\r\n", 4)) == std::string_view::npos) {
        pending_ += text;
    } else {
        pending_ += '"';
        for (char c : text) {
            if (c == '"') {
                pending_ += '"';
            }
            pending_ += c;
        }
        pending_ += '"';
    }
}

void CsvWriter::EndRecord() {
    pending_ += "\r\n";
    firstValue_ = true;
    FlushWhenFull();
}

void CsvWriter::FlushWhenFull() {
    if (pending_.size() >= capacity_) {
        Flush();
    }
}

void CsvWriter::Flush() {
    std::size_t done = 0;
    while (done < pending_.size()) {
        const auto count =
            static_cast<std::int32_t>(std::min<std::size_t>(pending_.size() - done, 1 << 30));
        output_.Write(pending_.data() + done, count);
        done += static_cast<std::size_t>(count);
    }
    pending_.clear();
}
