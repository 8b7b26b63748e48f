#pragma once
// The column layout of a converted file: where each field of the comma-separated input
// lies in the fixed-width records, so that the analysis package can be told field by field.
// The commas the converter removes are the field boundaries; a layout exists only when
// every record had its commas in the same places (ConversionOptions::checkFieldWidths
// makes the engine check that as it converts).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ConversionEngine.h"
#include "io/KsIOFactory.h"

// One entry of the layout. Columns count from 1, as analysis packages count them; a field
// that is empty in every record has width 0 and ends one column before it starts.
struct ColumnLayoutEntry {
    std::uint32_t field = 0;  // the input's column, from 1; 0 for the scanner header
    std::string name;
    std::uint32_t start = 0;
    std::uint32_t end = 0;
    std::uint32_t width = 0;
};

enum class ColumnLayoutFormat {
    kCsv,   // field,name,start,end,width with a header line, quoted where a name needs it
    kText,  // an aligned table for people to read
    kR,     // a read.fwf call of the R language with widths and col.names
};

// "csv", "text" or "r"; nothing for another name.
std::optional<ColumnLayoutFormat> ParseColumnLayoutFormat(const std::string& name);

// The entries of a finished conversion that checked its field widths: the scanner header
// first when one was inserted, then one entry per field of the first record. Names come
// from the dropped column-header line, each trimmed; an empty or repeated one, or one the
// line does not have, is "Field" and the field's number.
std::vector<ColumnLayoutEntry> MakeColumnLayout(const ConversionOptions& options,
                                                const ConversionResult& result);

// The layout as the file of the given format holds it; `dataFile` is the converted file
// it describes (named in the R call).
std::string FormatColumnLayout(const std::vector<ColumnLayoutEntry>& entries,
                               ColumnLayoutFormat format, const std::string& dataFile);

// The layout file a front end offers for an output: its name with the extension replaced
// by ".layout.csv" ("answers.txt" gives "answers.layout.csv").
std::string DefaultColumnLayoutFile(const std::string& outputFile);

// The text of the layout file of a finished, not cancelled conversion. When the records
// have no common layout (a field's width differs between two records, or the input held
// no record) a ConversionDataError says why, naming the line of the record that differed
// and `layoutFile` as the file that was not written.
std::string ColumnLayoutText(const ConversionOptions& options, const ConversionResult& result,
                             ColumnLayoutFormat format, const std::string& layoutFile);

// Writes the layout of a finished conversion to `layoutFile`, all or nothing (a new file
// synced and renamed over the old one; a terminal, pipe or device is written as it is, and
// a link is followed). A cancelled conversion has none: a file of that name is removed.
// When the records have no
// common layout (a field's width differs between two records, or the input held no
// record), a file of that name is removed, since the output it described was rewritten,
// and a ConversionDataError says why, naming the line of the record that differed.
void WriteColumnLayout(const ConversionOptions& options, const ConversionResult& result,
                       const std::string& layoutFile, ColumnLayoutFormat format,
                       KsIOFactory& factory = KsIOFactory::Default());

// Removes the layout file of an output that was rewritten without a layout (a conversion
// that failed); only a regular file is removed.
void DiscardColumnLayout(const std::string& layoutFile,
                         KsIOFactory& factory = KsIOFactory::Default());

// "Column layout written to NAME".
std::string ColumnLayoutMessage(const std::string& layoutFile);
