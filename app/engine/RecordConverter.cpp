#include "RecordConverter.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdarg>
#include <cstring>

#include "core/KsAlloc.h"

namespace {

// The class name under which the engine's data errors reach the user.
constexpr const char* kDataErrorClass = "Process Cancelled";
// The class of the line reader, whose error an unknown line end has always been.
constexpr const char* kLineReaderClass = "KsInputStreamInterface";

// How one group of 8 bytes loses its commas, by which of its bytes are commas (bit k for
// byte k): the masks of the bytes that move 0, 1, 2 or 3 places towards the start, and
// how many are kept. A group where a kept byte follows more than 3 commas does not fit.
struct GroupPlan {
    std::uint64_t moves[4] = {};
    std::uint8_t kept = 0;
    bool fits = true;
};

constexpr std::array<GroupPlan, 256> MakeGroupPlans() {
    std::array<GroupPlan, 256> plans{};
    for (unsigned commas = 0; commas < 256; ++commas) {
        GroupPlan& plan = plans[commas];
        unsigned removed = 0;
        for (unsigned byte = 0; byte < 8; ++byte) {
            if (commas >> byte & 1) {
                ++removed;
            } else if (removed > 3) {
                plan.fits = false;
            } else {
                plan.moves[removed] |= std::uint64_t{0xFF} << (8 * (byte - removed));
            }
        }
        plan.kept = static_cast<std::uint8_t>(8 - removed);
    }
    return plans;
}

constexpr std::array<GroupPlan, 256> kGroupPlans = MakeGroupPlans();

// Bit k set when byte k of the little-endian group is a comma.
unsigned CommasOf(std::uint64_t group) {
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
    const std::uint64_t differs = group ^ 0x2C2C2C2C2C2C2C2CULL;
    const std::uint64_t zero = ~(((differs & kLow7) + kLow7) | differs | kLow7);  // 0x80 per comma
    return static_cast<unsigned>(((zero >> 7) * 0x0102040810204080ULL) >> 56);
}

// The plain way, one byte at a time: every byte is stored, and the position moves on only
// past the bytes kept, so no branch depends on the data.
std::size_t CopyBytesWithoutCommas(const char* text, std::size_t length, char* out) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const char c = text[i];
        out[kept] = c;
        kept += c != ',';
    }
    return kept;
}

}  // namespace

namespace {

// Copies the text without its commas, handing `visit` the comma mask of each group of 8
// bytes (bit k for byte k) and, for the last bytes that make no whole group, their mask.
template <class Visit>
std::size_t CopyVisitingCommas(const char* text, std::size_t length, char* out, Visit&& visit) {
    static_assert(std::endian::native == std::endian::little);
    std::size_t kept = 0;
    std::size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        std::uint64_t group;
        std::memcpy(&group, text + i, 8);
        const unsigned commas = CommasOf(group);
        visit(i / 8, commas);
        const GroupPlan& plan = kGroupPlans[commas];
        if (!plan.fits) {
            kept += CopyBytesWithoutCommas(text + i, 8, out + kept);
            continue;
        }
        group = (group & plan.moves[0]) | (group >> 8 & plan.moves[1]) |
                (group >> 16 & plan.moves[2]) | (group >> 24 & plan.moves[3]);
        // All 8 bytes are stored: those past the kept ones are overwritten next, and the
        // group ends within the room the text needs.
        std::memcpy(out + kept, &group, 8);
        kept += plan.kept;
    }
    visit.Tail(i / 8, text + i, length - i);
    return kept + CopyBytesWithoutCommas(text + i, length - i, out + kept);
}

unsigned TailCommasOf(const char* text, std::size_t length) {
    unsigned commas = 0;
    for (std::size_t k = 0; k < length; ++k) {
        commas |= static_cast<unsigned>(text[k] == ',') << k;
    }
    return commas;
}

struct IgnoreCommas {
    void operator()(std::size_t, unsigned) const {}
    void Tail(std::size_t, const char*, std::size_t) const {}
};

// Keeps the masks of a record.
struct RecordCommas {
    std::uint8_t* masks;
    void operator()(std::size_t group, unsigned commas) const {
        masks[group] = static_cast<std::uint8_t>(commas);
    }
    void Tail(std::size_t group, const char* text, std::size_t length) const {
        if (length > 0) {
            masks[group] = static_cast<std::uint8_t>(TailCommasOf(text, length));
        }
    }
};

// Compares the masks of a record of the same length with those kept; no branch on the data.
struct CompareCommas {
    const std::uint8_t* masks;
    unsigned differs = 0;
    void operator()(std::size_t group, unsigned commas) { differs |= commas ^ masks[group]; }
    void Tail(std::size_t group, const char* text, std::size_t length) {
        if (length > 0) {
            differs |= TailCommasOf(text, length) ^ masks[group];
        }
    }
};

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

std::size_t CopyWithoutCommas(const char* text, std::size_t length, char* out) {
    return CopyVisitingCommas(text, length, out, IgnoreCommas{});
}

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
        return CopyVisitingCommas(text, length, out, RecordCommas{firstCommas_.data()});
    }
    if (length != firstRecord_.size()) {
        differs = true;
        return CopyWithoutCommas(text, length, out);
    }
    CompareCommas compare{firstCommas_.data()};
    const std::size_t kept = CopyVisitingCommas(text, length, out, compare);
    differs = compare.differs != 0;
    return kept;
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
