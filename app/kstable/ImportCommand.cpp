#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

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

// The size of a regular file on a terminal's behalf, for the progress bar; 0 otherwise.
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
std::optional<bool> HasAtMostDecimals(std::string_view text, int decimals) {
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
    return last - firstDecimal <= static_cast<std::size_t>(decimals);
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

// Converts the records of the input into the table's records and appends them.
class Importer {
public:
    Importer(CBFFile& table, CsvReader& reader, std::uint64_t progressTotal)
        : table_(table), reader_(reader), record_(table.GetNewRecord()), total_(progressTotal) {
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
        const auto fieldCount = static_cast<std::size_t>(table_.GetFieldCount());
        if (reader_.Count() != fieldCount) {
            KsException::Generate("line %lld: %zu values, but the table has %zu fields", kClass,
                                  static_cast<long long>(reader_.Line()), reader_.Count(),
                                  fieldCount);
        }
        for (std::size_t i = 0; i < fieldCount; ++i) {
            const auto n = static_cast<std::int32_t>(i);
            try {
                record_->PutField(n, reader_.Value(i));
                CheckFits(n, reader_.View(i));
            } catch (const KsException& error) {
                KsException::Generate("line %lld, field \"%s\": %s", kClass,
                                      static_cast<long long>(reader_.Line()),
                                      record_->GetFieldName(n), error.GetErrorMessage());
            }
        }
    }

    // What the conversion would cut short: a text longer than its field, more bytes than a
    // Binary field holds, a number with more decimals than its field keeps. Fields read
    // through a format or a filter are left to them.
    void CheckFits(std::int32_t n, std::string_view text) const {
        const KsField& field = record_->GetFieldInfo(n);
        if (text.empty() || field.GetFormatOption() != KsField::kNoFormat) {
            return;
        }
        const auto length = static_cast<std::size_t>(field.GetLength());
        if (field.GetType() == 'A' && text.size() > length) {
            KsException::Generate("\"%s\" is longer than the field's %zu bytes", kClass,
                                  text.data(), length);
        }
        if (field.GetType() == 'Y' && text.size() > 2 * length) {
            KsException::Generate("\"%s\" holds more than the field's %zu bytes", kClass,
                                  text.data(), length);
        }
        if (field.GetType() == 'N') {
            CheckNumberFits(static_cast<const CBFField&>(field), n, text);
        }
    }

    // The Number field n must hold the value of `text` exactly: decided from the text alone
    // for decimal divisors, else from the value stored.
    void CheckNumberFits(const CBFField& field, std::int32_t n, std::string_view text) const {
        const bool decimal = IsDecimalDivisor(field);
        std::optional<bool> fits;
        if (decimal) {
            fits = HasAtMostDecimals(text, field.GetPrecision());
        }
        if (!fits) {
            double wanted = 0;
            KsConvertValue(wanted, text.data(), true);
            fits = record_->GetNumber(n) == wanted;
        }
        if (!*fits && decimal) {
            KsException::Generate("\"%s\" has more decimals than the field's %d", kClass,
                                  text.data(), static_cast<int>(field.GetPrecision()));
        }
        if (!*fits) {
            KsException::Generate("\"%s\" is not a whole number of 1/%ld", kClass, text.data(),
                                  static_cast<long>(field.GetDivisor()));
        }
    }

    CBFFile& table_;
    CsvReader& reader_;
    std::unique_ptr<KsFileRecord> record_;
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
    locked.Close();
    std::printf("Imported %ld record%s into \"%s\", which now holds %ld.\n",
                static_cast<long>(after - before), after - before == 1 ? "" : "s",
                files.data.c_str(), static_cast<long>(after));
    return 0;
}
