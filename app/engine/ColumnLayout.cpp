#include "ColumnLayout.h"

#include <algorithm>
#include <cstdarg>
#include <filesystem>
#include <memory>
#include <set>
#include <system_error>

#include "io/KsReplacementFile.h"

namespace {

// The class under which the layout's refusals reach the user.
constexpr const char* kLayoutErrorClass = "Column Layout";
// Tag of the new file that replaces a layout file.
constexpr const char* kNewLayoutTag = "new";
constexpr const char* kScannerHeaderName = "Scanner header";

KS_PRINTF(2, 3) ConversionDataError LayoutError(std::int64_t lineNumber, const char* format, ...) {
    va_list args;
    va_start(args, format);
    ConversionDataError error(lineNumber, kLayoutErrorClass, format, args);
    va_end(args);
    return error;
}

std::string Trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string DefaultName(std::uint32_t field) {
    return "Field" + std::to_string(field);
}

// The names of the fields: those of the header line where they are usable.
std::vector<std::string> FieldNames(const std::vector<std::string>& header, std::size_t fields) {
    std::vector<std::string> names;
    std::set<std::string> taken;
    for (std::size_t i = 0; i < fields; ++i) {
        std::string name = i < header.size() ? Trimmed(header[i]) : std::string();
        if (name.empty() || !taken.insert(name).second) {
            name = DefaultName(static_cast<std::uint32_t>(i + 1));
        }
        names.push_back(std::move(name));
    }
    return names;
}

// The name the user knows a field by, for messages: only one from the header line.
std::string NamedField(const std::vector<std::string>& header, std::uint32_t field) {
    std::string text = "Field " + std::to_string(field);
    const std::vector<std::string> names = FieldNames(header, field);
    if (names.back() != DefaultName(field)) {
        text += " (\"" + names.back() + "\")";
    }
    return text;
}

const char* Columns(std::uint32_t count) {
    return count == 1 ? "column" : "columns";
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

std::string FormatCsv(const std::vector<ColumnLayoutEntry>& entries) {
    std::string text = "field,name,start,end,width\n";
    for (const ColumnLayoutEntry& e : entries) {
        text += std::to_string(e.field) + "," + CsvField(e.name) + "," + std::to_string(e.start) +
                "," + std::to_string(e.end) + "," + std::to_string(e.width) + "\n";
    }
    return text;
}

// Characters of UTF-8 text as a terminal shows them, near enough for names.
std::size_t DisplayWidth(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

std::string FormatText(const std::vector<ColumnLayoutEntry>& entries) {
    const char* const headings[] = {"Field", "Name", "Start", "End", "Width"};
    std::vector<std::vector<std::string>> rows;
    rows.push_back({headings, headings + 5});
    for (const ColumnLayoutEntry& e : entries) {
        rows.push_back({std::to_string(e.field), e.name, std::to_string(e.start),
                        std::to_string(e.end), std::to_string(e.width)});
    }
    std::size_t widths[5] = {};
    for (const auto& row : rows) {
        for (std::size_t c = 0; c < 5; ++c) {
            widths[c] = std::max(widths[c], DisplayWidth(row[c]));
        }
    }
    std::string text;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < 5; ++c) {
            const std::string padding(widths[c] - DisplayWidth(row[c]), ' ');
            // The name is left-aligned, the numbers right-aligned.
            line += (c == 0 ? "" : "  ") + (c == 1 ? row[c] + padding : padding + row[c]);
        }
        text += line.substr(0, line.find_last_not_of(' ') + 1) + "\n";
    }
    return text;
}

std::string RString(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    return quoted + "\"";
}

// "c(a, b, ...)" after `prefix`, wrapped so that no line runs much past 80 characters.
std::string RVector(const std::string& prefix, const std::vector<std::string>& items) {
    constexpr std::size_t kLineLimit = 80;
    const std::string indent(prefix.size() + 2, ' ');
    std::string text = prefix + "c(";
    std::size_t column = text.size();
    for (std::size_t i = 0; i < items.size(); ++i) {
        const std::string item = items[i] + (i + 1 < items.size() ? "," : "");
        if (i > 0 && column + 1 + item.size() > kLineLimit) {
            text += "\n" + indent;
            column = indent.size();
        } else if (i > 0) {
            text += ' ';
            ++column;
        }
        text += item;
        column += item.size();
    }
    return text + ")";
}

std::string FormatR(const std::vector<ColumnLayoutEntry>& entries, const std::string& dataFile) {
    std::vector<std::string> widths;
    std::vector<std::string> names;
    std::string empty;
    for (const ColumnLayoutEntry& e : entries) {
        // read.fwf has no use for a field of no columns.
        if (e.width == 0) {
            empty += (empty.empty() ? "" : ", ") + e.name;
            continue;
        }
        widths.push_back(std::to_string(e.width));
        names.push_back(RString(e.name));
    }
    std::string text = "# The fixed-width file " + RString(dataFile) + " read into a data frame.\n";
    if (!empty.empty()) {
        text += "# Empty in every record, so left out: " + empty + ".\n";
    }
    const std::string indent = "         ";
    text += "read.fwf(" + RString(dataFile) + ",\n" + RVector(indent + "widths = ", widths) +
            ",\n" + RVector(indent + "col.names = ", names) + ",\n" + indent +
            "colClasses = \"character\", check.names = FALSE)\n";
    return text;
}

// Why the records have no common layout.
ConversionDataError NoLayout(const ConversionOptions& options, const ConversionResult& result,
                             const std::string& layoutFile) {
    const char* name = layoutFile.c_str();
    if (!result.widthMismatch) {
        return LayoutError(0,
                           "\"%s\" has no records, so it has no column layout; \"%s\" was not "
                           "written.",
                           options.inputFile.c_str(), name);
    }
    const FieldWidthMismatch& m = *result.widthMismatch;
    if (m.field > std::min(m.fields, m.firstFields)) {
        return LayoutError(m.lineNumber,
                           "Record %llu has %u fields but record %llu has %u, so the records have "
                           "no common column layout; \"%s\" was not written.",
                           static_cast<unsigned long long>(m.record), m.fields,
                           static_cast<unsigned long long>(m.firstRecord), m.firstFields, name);
    }
    const std::string field = NamedField(result.columnNames, m.field);
    return LayoutError(m.lineNumber,
                       "%s is %u %s wide in record %llu but %u in record %llu, so the records "
                       "have no common column layout; \"%s\" was not written.",
                       field.c_str(), m.firstWidth, Columns(m.firstWidth),
                       static_cast<unsigned long long>(m.firstRecord), m.width,
                       static_cast<unsigned long long>(m.record), name);
}

bool IsRegularFile(const std::string& name) {
    std::error_code error;
    return std::filesystem::is_regular_file(name, error);
}

void WriteTo(KsIOFactory& factory, const char* name, const std::string& text) {
    std::unique_ptr<KsIOInterface> out = factory.Open(name, IO_WRITE);
    out->Write(text.data(), static_cast<std::int32_t>(text.size()));
    out->Close();
}

}  // namespace

std::optional<ColumnLayoutFormat> ParseColumnLayoutFormat(const std::string& name) {
    if (name == "csv") {
        return ColumnLayoutFormat::kCsv;
    }
    if (name == "text") {
        return ColumnLayoutFormat::kText;
    }
    if (name == "r") {
        return ColumnLayoutFormat::kR;
    }
    return std::nullopt;
}

std::vector<ColumnLayoutEntry> MakeColumnLayout(const ConversionOptions& options,
                                                const ConversionResult& result) {
    std::vector<ColumnLayoutEntry> entries;
    std::uint32_t column = 1;
    const std::uint32_t header = options.insertHeaderField ? options.headerSize : 0;
    if (header > 0) {
        entries.push_back({0, kScannerHeaderName, column, header, header});
        column += header;
    }
    const std::vector<std::string> names =
        FieldNames(result.columnNames, result.fieldWidths.size());
    for (std::size_t i = 0; i < result.fieldWidths.size(); ++i) {
        const std::uint32_t width = result.fieldWidths[i];
        entries.push_back(
            {static_cast<std::uint32_t>(i + 1), names[i], column, column + width - 1, width});
        column += width;
    }
    return entries;
}

std::string FormatColumnLayout(const std::vector<ColumnLayoutEntry>& entries,
                               ColumnLayoutFormat format, const std::string& dataFile) {
    switch (format) {
        case ColumnLayoutFormat::kText:
            return FormatText(entries);
        case ColumnLayoutFormat::kR:
            return FormatR(entries, dataFile);
        case ColumnLayoutFormat::kCsv:
            break;
    }
    return FormatCsv(entries);
}

std::string DefaultColumnLayoutFile(const std::string& outputFile) {
    const std::size_t slash = outputFile.rfind('/');
    const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = outputFile.rfind('.');
    // A name's leading dot (".answers") starts no extension.
    const bool hasExtension = dot != std::string::npos && dot > base;
    return outputFile.substr(0, hasExtension ? dot : outputFile.size()) + ".layout.csv";
}

std::string ColumnLayoutText(const ConversionOptions& options, const ConversionResult& result,
                             ColumnLayoutFormat format, const std::string& layoutFile) {
    if (result.fieldWidths.empty() || result.widthMismatch) {
        throw NoLayout(options, result, layoutFile);
    }
    return FormatColumnLayout(MakeColumnLayout(options, result), format, options.outputFile);
}

void DiscardColumnLayout(const std::string& layoutFile, KsIOFactory& factory) {
    // Only a file of its own: not a device or a pipe that was named as the layout.
    if (IsRegularFile(layoutFile)) {
        factory.Delete(layoutFile.c_str());
    }
}

void WriteColumnLayout(const ConversionOptions& options, const ConversionResult& result,
                       const std::string& layoutFile, ColumnLayoutFormat format,
                       KsIOFactory& factory) {
    if (result.cancelled) {
        DiscardColumnLayout(layoutFile, factory);
        return;
    }
    std::string text;
    try {
        text = ColumnLayoutText(options, result, format, layoutFile);
    } catch (const ConversionDataError&) {
        DiscardColumnLayout(layoutFile, factory);
        throw;
    }
    std::error_code error;
    const auto status = std::filesystem::status(layoutFile, error);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        // A terminal, a pipe or a device is written as it is.
        WriteTo(factory, layoutFile.c_str(), text);
        return;
    }
    // A link is followed, so that the file it names gets the new layout.
    std::string target = layoutFile;
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(layoutFile, error))) {
        target = std::filesystem::canonical(layoutFile, error).string();
        if (error) {
            target = layoutFile;
        }
    }
    // The layout is written whole under a new name and then given its own, so that a
    // reader never sees part of one. The old layout, which described the output that was
    // just rewritten, goes first: renamed over an existing file, the new one would be
    // flushed at once, and that waits for the whole output on ext4. Nothing is synced, as
    // the converted file is left to the system too.
    KsReplacementFile fresh(factory, target.c_str(), kNewLayoutTag);
    WriteTo(factory, fresh.GetName(), text);
    DiscardColumnLayout(target, factory);
    factory.Replace(target.c_str(), fresh.GetName());
    fresh.Release();
}

std::string ColumnLayoutMessage(const std::string& layoutFile) {
    return "Column layout written to " + layoutFile;
}
