#include "ConversionEngine.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

#include "ConversionOutput.h"
#include "RecordConverter.h"
#include "core/KsAlloc.h"
#include "core/KsScopeExit.h"
#include "core/KsString.h"
#include "io/KsIO.h"

namespace {

using Outcome = RecordConverter::Outcome;

// Progress is reported at most once per this many bytes of input.
constexpr std::uint64_t kProgressStep = 256 * 1024;

// The bytes read and not converted yet: whole lines, then the start of a line whose end
// has not been read. A line longer than the block makes the block grow.
class InputBlock {
public:
    InputBlock(std::size_t capacity, std::size_t longestLine)
        : data_(KsAlloc(static_cast<std::int64_t>(capacity))),
          capacity_(capacity),
          largest_(std::max(capacity, longestLine + KsIO::kMaximumBufferSize)) {}

    // Reads what the input has at hand after the bytes kept; 0 at the end of the input.
    std::size_t Fill(KsIO& input) {
        if (begin_ > 0) {
            std::memmove(data_.get(), data_.get() + begin_, end_ - begin_);
            end_ -= begin_;
            begin_ = 0;
        }
        if (end_ == capacity_) {
            Grow();
        }
        const auto room =
            static_cast<std::int32_t>(std::min<std::size_t>(capacity_ - end_, INT32_MAX));
        const auto count = static_cast<std::size_t>(input.ReadAvailable(data_.get() + end_, room));
        end_ += count;
        return count;
    }

    // The line feed that ends the next line, or null when it has not been read yet. The
    // bytes searched are not searched again once more come.
    const char* FindLineEnd() {
        const char* from = data_.get() + begin_ + searched_;
        const void* found = std::memchr(from, '\n', end_ - begin_ - searched_);
        searched_ = found != nullptr ? 0 : end_ - begin_;
        return static_cast<const char*>(found);
    }

    const char* Begin() const { return data_.get() + begin_; }
    const char* End() const { return data_.get() + end_; }
    std::size_t Pending() const { return end_ - begin_; }
    void Consume(const char* to) {
        begin_ = static_cast<std::size_t>(to - data_.get());
        searched_ = 0;
    }

private:
    void Grow() {
        const std::size_t capacity = std::min(2 * capacity_, largest_);
        std::unique_ptr<char[]> data(KsAlloc(static_cast<std::int64_t>(capacity)));
        std::memcpy(data.get(), data_.get(), end_);
        data_ = std::move(data);
        capacity_ = capacity;
    }

    std::unique_ptr<char[]> data_;
    std::size_t capacity_;
    const std::size_t largest_;  // enough to see that a line is too long
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    std::size_t searched_ = 0;  // bytes from begin_ that hold no line feed
};

// Converts the whole lines in the block, and at the end of the input the last line.
Outcome ConvertLines(InputBlock& block, RecordConverter& converter, bool atEnd,
                     std::size_t longestLine) {
    for (;;) {
        const char* text = block.Begin();
        const char* lineFeed = block.FindLineEnd();
        const std::size_t length =
            lineFeed != nullptr ? static_cast<std::size_t>(lineFeed - text) : block.Pending();
        if (length > longestLine) {
            return converter.RefuseLongLine(longestLine);
        }
        if (lineFeed == nullptr && (!atEnd || length == 0)) {
            return Outcome::kMore;
        }
        const std::size_t consumed = lineFeed != nullptr ? length + 1 : length;
        const Outcome outcome = converter.ConvertLine(text, length, consumed);
        block.Consume(text + consumed);
        if (outcome != Outcome::kMore) {
            return outcome;
        }
    }
}

// Reads and converts the whole input; true when the observer cancelled the run.
bool ConvertInput(const ConversionOptions& options, KsIO& input, RecordConverter& converter,
                  ConversionObserver& observer) {
    const std::uint64_t total = options.inputDescriptor >= 0 ? 0 : input.GetFileSize64();
    InputBlock block(options.blockSize, options.longestLine);
    std::uint64_t nextReport = kProgressStep;
    for (;;) {
        const bool atEnd = block.Fill(input) == 0;
        const Outcome outcome = ConvertLines(block, converter, atEnd, options.longestLine);
        // The records before an error or a cancel are written too.
        converter.Flush();
        if (outcome == Outcome::kFailed) {
            throw converter.Error();
        }
        if (converter.Consumed() >= nextReport || atEnd) {
            observer.Progress(converter.Consumed(), total);
            nextReport = converter.Consumed() + kProgressStep;
        }
        if (atEnd || outcome == Outcome::kCancelled) {
            return outcome == Outcome::kCancelled;
        }
    }
}

void OpenInput(KsIO& input, const ConversionOptions& options) {
    if (options.inputDescriptor >= 0) {
        input.OpenDescriptor(options.inputDescriptor, options.inputFile.c_str(), IO_READ);
    } else {
        input.Open(options.inputFile.c_str(), IO_READ);
    }
    input.SetBufferSize(KsIO::kMaximumBufferSize);
}

}  // namespace

ConversionDataError::ConversionDataError(std::int64_t lineNumber, const char* className,
                                         const char* format, va_list args)
    : lineNumber_(lineNumber) {
    SetMessageV(format, args);
    SetClassName(className);
}

std::string CompletionMessage(std::uint32_t recordLength) {
    KsString message("File converted.\nAll records are now length ");
    message.Append(static_cast<long>(recordLength));
    return message.GetCString();
}

ConversionResult ConvertFile(const ConversionOptions& options, ConversionObserver& observer,
                             KsIOFactory& factory) {
    // Declared in this order so that the output is closed before the input.
    KsIO input;
    OpenInput(input, options);
    RecordLayout layout;
    // From here on a named output exists and is empty.
    ConversionOutput output(options, layout, factory);

    observer.Started();
    KsScopeExit finished([&observer] { observer.Finished(); });
    RecordConverter converter(options, observer, output, layout);
    ConversionResult result;
    result.cancelled = ConvertInput(options, input, converter, observer);
    output.Close();
    result.recordLength = layout.recordLength;
    result.records = converter.Records();
    if (options.checkFieldWidths) {
        result.fieldWidths = converter.FieldWidths();
        result.widthMismatch = converter.WidthMismatch();
        result.columnNames = converter.ColumnNames();
    }
    return result;
}
