#include "RecordConverter.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>

#include "core/KsAlloc.h"

namespace {

// The class name under which the engine's data errors reach the user.
constexpr const char* kDataErrorClass = "Process Cancelled";
// The class of the line reader, whose error an unknown line end has always been.
constexpr const char* kLineReaderClass = "KsInputStreamInterface";

// Copies the text without its commas to `out` and returns the bytes copied. Every byte
// is stored and the position moves on only past bytes that are kept, so the loop has no
// branch that depends on the data; `out` needs room for `length` bytes.
std::size_t CopyWithoutCommas(const char* text, std::size_t length, char* out) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const char c = text[i];
        out[kept] = c;
        kept += c != ',';
    }
    return kept;
}

}  // namespace

RecordConverter::RecordConverter(const ConversionOptions& options, ConversionObserver& observer,
                                 ConversionOutput& output, RecordLayout& layout)
    : options_(options),
      observer_(observer),
      output_(output),
      layout_(layout),
      headerSize_(options.insertHeaderField ? options.headerSize : 0),
      headerLinePending_(options.removeColumnHeaders),
      block_(KsAlloc(static_cast<std::int64_t>(options.blockSize))),
      blockCapacity_(options.blockSize) {}

RecordConverter::Outcome RecordConverter::ConvertLine(const char* text, std::size_t length,
                                                      std::size_t consumed) {
    ++lineNumber_;
    consumed_ += consumed;
    if (length < consumed && length > 0 && text[length - 1] == '\r') {
        --length;  // "\r\n"
    }
    // Any other return is not followed by a line feed (one at the very end included).
    if (std::memchr(text, '\r', length) != nullptr) {
        return Fail(kLineReaderClass,
                    "Return character not followed by newline; unknown end of line type");
    }
    if (headerLinePending_) {
        headerLinePending_ = false;
        return Outcome::kMore;
    }
    return ConvertRecord(text, length);
}

RecordConverter::Outcome RecordConverter::ConvertRecord(const char* text, std::size_t length) {
    const char* name = options_.inputFile.c_str();
    if (std::memchr(text, '\0', length) != nullptr) {
        return Fail(kDataErrorClass,
                    "Record %lld of \"%s\" contains a NUL character.\nPlease check your input "
                    "file.",
                    static_cast<long long>(recordNumber_), name);
    }
    char* record = Reserve(headerSize_ + length + 1);
    std::memset(record, ' ', headerSize_);
    std::size_t kept = length;
    if (options_.removeCommas) {
        kept = CopyWithoutCommas(text, length, record + headerSize_);
    }
    if (kept == length) {
        return Fail(kDataErrorClass,
                    "\"%s\" is not a valid comma separated file.\nPlease choose a new input file.",
                    name);
    }
    const auto recordLength = static_cast<std::uint32_t>(headerSize_ + kept);
    if (layout_.recordLength == 0) {
        // Empty records do not fix the length; they stay in front of those that do.
        layout_.recordLength = recordLength;
        layout_.leadingEmptyRecords += recordLength == 0;
    }
    if (recordLength != layout_.recordLength) {
        return Fail(kDataErrorClass,
                    "All the other records are length %d, but record %lld is length %d.\n"
                    "Please check your input file.",
                    static_cast<int>(layout_.recordLength), static_cast<long long>(recordNumber_),
                    static_cast<int>(recordLength));
    }
    record[recordLength] = '\n';
    blockSize_ += recordLength + 1;
    ++records_;
    ++recordNumber_;
    return observer_.CheckCancel() ? Outcome::kCancelled : Outcome::kMore;
}

RecordConverter::Outcome RecordConverter::RefuseLongLine(std::size_t longest) {
    ++lineNumber_;
    return Fail(kDataErrorClass,
                "\"%s\" has a line of more than %zu bytes.\nPlease check your input file.",
                options_.inputFile.c_str(), longest);
}

char* RecordConverter::Reserve(std::size_t count) {
    if (blockCapacity_ - blockSize_ < count) {
        Flush();
    }
    if (blockCapacity_ < count) {
        // One record larger than the block: the block grows to hold it.
        blockCapacity_ = std::max(count, 2 * blockCapacity_);
        block_.reset(KsAlloc(static_cast<std::int64_t>(blockCapacity_)));
    }
    return block_.get() + blockSize_;
}

void RecordConverter::Flush() {
    if (blockSize_ > 0) {
        output_.Write(block_.get(), blockSize_);
        blockSize_ = 0;
    }
}

RecordConverter::Outcome RecordConverter::Fail(const char* className, const char* format, ...) {
    va_list args;
    va_start(args, format);
    error_.emplace(lineNumber_, className, format, args);
    va_end(args);
    return Outcome::kFailed;
}
