#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "Commands.h"
#include "Csv.h"
#include "Interrupt.h"
#include "ProgressBar.h"
#include "Table.h"
#include "core/KsConvertValue.h"
#include "core/KsScopeExit.h"
#include "core/KsText.h"
#include "io/KsIO.h"

namespace {

constexpr const char* kClass = "kstable import";

// The comma-separated input: a file, or standard input for "-".
std::unique_ptr<KsIOInterface> OpenInput(const std::string& name) {
    if (name == "-") {
        auto input = std::make_unique<KsIO>();
        input->OpenDescriptor(STDIN_FILENO, "standard input", IO_READ);
        return input;
    }
    if (access(name.c_str(), R_OK) != 0) {
        throw MissingFileError("cannot read \"" + name + "\": " + std::strerror(errno));
    }
    return KsIOFactory::Default().Open(name.c_str(), IO_READ);
}

// The bytes the progress bar counts up to: the size of a regular input file while standard
// error is a terminal, else 0 (no bar).
std::uint64_t ProgressTotal(const std::string& name) {
    struct stat status {};
    if (name == "-" || !isatty(STDERR_FILENO) || stat(name.c_str(), &status) != 0 ||
        !S_ISREG(status.st_mode)) {
        return 0;
    }
    return static_cast<std::uint64_t>(status.st_size);
}

// For a plain decimal text ([+-]digits[.digits]): whether it has at most `decimals` digits
// after the point, trailing zeros not counted. Nothing for any other text.
std::optional<bool> HasAtMostDecimals(std::string_view text, std::size_t decimals) {
    std::size_t i = text.empty() || (text[0] != '+' && text[0] != '-') ? 0 : 1;
    const std::size_t firstDigit = i;
    while (i < text.size() && KsText::IsDigit(text[i])) {
        ++i;
    }
    const bool wholeDigits = i > firstDigit;
    if (i == text.size()) {
        return wholeDigits ? std::optional<bool>(true) : std::nullopt;
    }
    if (text[i] != '.') {
        return std::nullopt;
    }
    const std::size_t firstDecimal = ++i;
    while (i < text.size() && KsText::IsDigit(text[i])) {
        ++i;
    }
    if (i != text.size() || (!wholeDigits && i == firstDecimal)) {
        return std::nullopt;
    }
    std::size_t last = text.size();
    while (last > firstDecimal && text[last - 1] == '0') {
        --last;
    }
    return last - firstDecimal <= decimals;
}

// Whether the divisor is 10 to the power of the field's precision, so that a decimal text
// fits exactly when it has no more decimals than that.
bool IsDecimalDivisor(const CBFField& field) {
    std::int64_t power = 1;
    for (int i = 0; i < field.GetPrecision() && power <= INT32_MAX; ++i) {
        power *= 10;
    }
    return field.GetDivisor() == power;
}

// What a field's conversion would cut short, worked out once per field: a text longer than
// an Alpha field, more bytes than a Binary field holds, a number with more decimals than a
// Number field keeps. Fields read through a format or a filter are left to them.
struct FieldLimit {
    enum Kind { kNone, kText, kBytes, kDecimals, kSteps } kind = kNone;
    std::size_t size = 0;  // bytes of a text, of a Binary field, or decimals kept
    std::int32_t divisor = 0;
    int mode = KsFileRecord::kPlain;  // the field's text mode
};

FieldLimit LimitOf(const CBFField& field) {
    FieldLimit limit;
    if (field.GetFormatOption() != KsField::kNoFormat) {
        limit.mode = KsFileRecord::kFieldOption;
        return limit;
    }
    const auto length = static_cast<std::size_t>(field.GetLength());
    switch (field.GetType()) {
        case 'A':
            return {FieldLimit::kText, length, 0};
        case 'Y':
            return {FieldLimit::kBytes, length, 0};
        case 'N':
            return {IsDecimalDivisor(field) ? FieldLimit::kDecimals : FieldLimit::kSteps,
                    static_cast<std::size_t>(field.GetPrecision()), field.GetDivisor()};
        default:
            return limit;
    }
}

// Converts the records of the input into the table's records and appends them.
class Importer {
public:
    Importer(CBFFile& table, CsvReader& reader, std::uint64_t progressTotal)
        : table_(table), reader_(reader), record_(table.GetNewRecord()), total_(progressTotal) {
        for (const KsField* field : table.GetFields()) {
            limits_.push_back(LimitOf(static_cast<const CBFField&>(*field)));
        }
        if (total_ > 0) {
            bar_ = std::make_unique<ProgressBar>(stderr);
        }
    }

    // Appends every record of the input; returns how many.
    std::int32_t AppendAll(bool skipHeader) {
        if (skipHeader) {
            NextRecord();
        }
        std::int32_t added = 0;
        while (NextRecord()) {
            if (KsTool::Interrupted()) {
                throw Interrupted();
            }
            Convert();
            table_.DataAppend(*record_);
            if (++added % 1024 == 0 && bar_) {
                bar_->Update(reader_.Consumed(), total_);
            }
        }
        return added;
    }

private:
    bool NextRecord() {
        try {
            return reader_.Next();
        } catch (KsException& error) {
            KsException::Generate("line %lld: %s", kClass, static_cast<long long>(reader_.Line()),
                                  error.GetErrorMessage());
        }
    }

    void Convert() {
        if (reader_.Count() != limits_.size()) {
            KsException::Generate("line %lld: %zu values, but the table has %zu fields", kClass,
                                  static_cast<long long>(reader_.Line()), reader_.Count(),
                                  limits_.size());
        }
        for (std::size_t i = 0; i < limits_.size(); ++i) {
            const auto n = static_cast<std::int32_t>(i);
            try {
                record_->PutField(n, reader_.Value(i), limits_[i].mode);
                CheckFits(n, limits_[i], reader_.View(i));
            } catch (const KsException& error) {
                KsException::Generate("line %lld, field \"%s\": %s", kClass,
                                      static_cast<long long>(reader_.Line()),
                                      record_->GetFieldName(n), error.GetErrorMessage());
            }
        }
    }

    void CheckFits(std::int32_t n, const FieldLimit& limit, std::string_view text) const {
        switch (limit.kind) {
            case FieldLimit::kText:
                if (text.size() > limit.size) {
                    KsException::Generate("\"%s\" is longer than the field's %zu bytes", kClass,
                                          text.data(), limit.size);
                }
                break;
            case FieldLimit::kBytes:
                if (text.size() > 2 * limit.size) {
                    KsException::Generate("\"%s\" holds more than the field's %zu bytes", kClass,
                                          text.data(), limit.size);
                }
                break;
            case FieldLimit::kDecimals:
            case FieldLimit::kSteps:
                CheckNumberFits(n, limit, text);
                break;
            default:
                break;
        }
    }

    // The Number field n must hold the value of `text` exactly: decided from the text alone
    // for decimal divisors, else from the value stored.
    void CheckNumberFits(std::int32_t n, const FieldLimit& limit, std::string_view text) const {
        const bool decimal = limit.kind == FieldLimit::kDecimals;
        std::optional<bool> fits;
        if (decimal) {
            fits = HasAtMostDecimals(text, limit.size);
        }
        if (!fits && !text.empty()) {
            double wanted = 0;
            KsConvertValue(wanted, text.data(), true);
            fits = record_->GetNumber(n) == wanted;
        }
        if (fits == false && decimal) {
            KsException::Generate("\"%s\" has more decimals than the field's %zu", kClass,
                                  text.data(), limit.size);
        }
        if (fits == false) {
            KsException::Generate("\"%s\" is not a whole number of 1/%ld", kClass, text.data(),
                                  static_cast<long>(limit.divisor));
        }
    }

    CBFFile& table_;
    CsvReader& reader_;
    std::unique_ptr<KsFileRecord> record_;
    std::vector<FieldLimit> limits_;
    std::uint64_t total_;
    std::unique_ptr<ProgressBar> bar_;
};

// Bytes after the last whole record are what a killed import leaves; they are no record
// and go before new records are appended.
void DropExtraBytes(CBFFile& table) {
    if (const std::int64_t extra = table.GetExtraBytes(); extra > 0) {
        table.KeepRecords(table.GetNumRecords());
        std::fprintf(stderr, "kstable: removed %lld bytes after the last whole record of \"%s\"\n",
                     static_cast<long long>(extra), table.GetFileName());
    }
}

void ReportNothingImported(const char* reason, const std::string& table,
                           const std::string& cutBackFailure) {
    std::fprintf(stderr, "kstable: %s\n", reason);
    if (cutBackFailure.empty()) {
        std::fprintf(stderr, "kstable: nothing was imported; \"%s\" is as it was\n", table.c_str());
    } else {
        std::fprintf(stderr, "kstable: \"%s\" could not be cut back to its old records: %s\n",
                     table.c_str(), cutBackFailure.c_str());
    }
}

}  // namespace

int ImportRecords(const CommandLine& line) {
    const TableFiles files = TableFilesOf(line.table);
    std::unique_ptr<KsIOInterface> input = OpenInput(line.input);
    LockedTable locked(files, true);
    CBFFile& table = locked.Table();
    DropExtraBytes(table);
    const std::int32_t before = table.GetNumRecords();
    const std::int64_t size = std::int64_t{before} * table.GetRecordLength();
    CsvReader reader(*input);
    std::string cutBackFailure;
    try {
        KsScopeExit cutBack([&] { cutBackFailure = locked.CloseAndCutBack(size); });
        Importer(table, reader, ProgressTotal(line.input)).AppendAll(line.skipHeader);
        table.Flush();
        cutBack.Dismiss();
    } catch (const KsException& error) {
        // A read of a terminal or a pipe cut short by Ctrl-C is the interrupt, not a fault.
        ReportNothingImported(KsTool::Interrupted() ? "interrupted" : error.GetErrorMessage(),
                              files.data, cutBackFailure);
        return KsTool::Interrupted() ? KsTool::kExitInterrupted : 1;
    } catch (const Interrupted&) {
        ReportNothingImported("interrupted", files.data, cutBackFailure);
        return KsTool::kExitInterrupted;
    }
    const std::int32_t after = table.GetNumRecords();
    // An index file written before the import no longer fits the record count, so it
    // would not be trusted anyway; it is built afresh now.
    if (after != before) {
        RebuildIndexFiles(table);
    }
    locked.Close();
    std::printf("Imported %ld record%s into \"%s\", which now holds %ld.\n",
                static_cast<long>(after - before), after - before == 1 ? "" : "s",
                files.data.c_str(), static_cast<long>(after));
    return 0;
}
