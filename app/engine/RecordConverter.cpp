#include "RecordConverter.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdarg>
#include <cstring>

#include "CommaRemoval.h"
#include "core/KsAlloc.h"

namespace {

// The class name under which the engine's data errors reach the user.
constexpr const char* kDataErrorClass = "Process Cancelled";
// The class of the line reader, whose error an unknown line end has always been.
constexpr const char* kLineReaderClass = "KsInputStreamInterface";

// The width of every comma-separated field of the text.
std::vector<std::uint32_t> WidthsOf(const char* text, std::size_t length) {
    std::vector<std::uint32_t> widths;
    std::uint32_t width = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] == ',') {
            widths.push_back(width);
            width = 0;
        } else {
            ++width;
        }
    }
    widths.push_back(width);
    return widths;
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
      blockCapacity_(options.blockSize),
      checkingWidths_(options.checkFieldWidths && options.removeCommas) {}

RecordConverter::Outcome RecordConverter::ConvertLine(const char* text, std::size_t length,
                                                      std::size_t consumed) {
    ++lineNumber_;
    consumed_ += consumed;
    if (length < consumed && length > 0 && text[length - 1] == '\r') {
        --length;  // "\r\n"
    }
    // A byte order mark that a spreadsheet puts in front of the text is not data.
    if (lineNumber_ == 1 && length >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0) {
        text += 3;
        length -= 3;
    }
    // Any other return is not followed by a line feed (one at the very end included).
    if (std::memchr(text, '\r', length) != nullptr) {
        return Fail(kLineReaderClass,
                    "Return character not followed by newline; unknown end of line type");
    }
    if (headerLinePending_) {
        headerLinePending_ = false;
        if (checkingWidths_) {
            headerLine_.assign(text, length);
        }
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
    bool widthsDiffer = false;
    if (options_.removeCommas) {
        kept = CopyRecord(text, length, record + headerSize_, widthsDiffer);
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
    if (widthsDiffer) {
        NoteMismatch(text, length);
    }
    record[recordLength] = '\n';
    blockSize_ += recordLength + 1;
    ++records_;
    ++recordNumber_;
    return observer_.CheckCancel() ? Outcome::kCancelled : Outcome::kMore;
}

std::size_t RecordConverter::CopyRecord(const char* text, std::size_t length, char* out,
                                        bool& differs) {
    if (!checkingWidths_) {
        return CopyWithoutCommas(text, length, out);
    }
    if (firstRecordNumber_ == 0) {
        firstRecord_.assign(text, length);
        firstRecordNumber_ = static_cast<std::uint64_t>(recordNumber_);
        firstCommas_.assign(length / 8 + 1, 0);
        return CopyKeepingCommas(text, length, out, firstCommas_.data());
    }
    if (length != firstRecord_.size()) {
        differs = true;
        return CopyWithoutCommas(text, length, out);
    }
    return CopyComparingCommas(text, length, out, firstCommas_.data(), differs);
}

void RecordConverter::NoteMismatch(const char* text, std::size_t length) {
    const std::vector<std::uint32_t> first = FieldWidths();
    const std::vector<std::uint32_t> widths = WidthsOf(text, length);
    FieldWidthMismatch& mismatch = mismatch_.emplace();
    std::size_t field = 0;
    while (field < first.size() && field < widths.size() && first[field] == widths[field]) {
        ++field;
    }
    mismatch.field = static_cast<std::uint32_t>(field + 1);
    mismatch.firstRecord = firstRecordNumber_;
    mismatch.firstWidth = field < first.size() ? first[field] : 0;
    mismatch.record = static_cast<std::uint64_t>(recordNumber_);
    mismatch.width = field < widths.size() ? widths[field] : 0;
    mismatch.firstFields = static_cast<std::uint32_t>(first.size());
    mismatch.fields = static_cast<std::uint32_t>(widths.size());
    mismatch.lineNumber = lineNumber_;
    checkingWidths_ = false;
}

std::vector<std::uint32_t> RecordConverter::FieldWidths() const {
    if (firstRecordNumber_ == 0) {
        return {};
    }
    return WidthsOf(firstRecord_.data(), firstRecord_.size());
}

std::vector<std::string> RecordConverter::ColumnNames() const {
    std::vector<std::string> names;
    if (!options_.checkFieldWidths || !options_.removeColumnHeaders || lineNumber_ == 0) {
        return names;
    }
    std::size_t from = 0;
    for (;;) {
        const std::size_t comma = headerLine_.find(',', from);
        names.push_back(headerLine_.substr(from, comma - from));
        if (comma == std::string::npos) {
            return names;
        }
        from = comma + 1;
    }
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
