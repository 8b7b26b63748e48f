#pragma once
// Fills a table's record from the values of a comma-separated record, one value a field in
// field order, refusing any value the field would not hold exactly: a text longer than an
// Alpha field, more bytes than a Binary field holds, a number with more decimals than a
// Number field keeps, a number outside the field's range (the message gives the range in
// words). Fields read through a format or a filter are left to them.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Csv.h"
#include "files/CBFFile.h"

class CsvRecordFiller {
public:
    explicit CsvRecordFiller(CBFFile& table);

    // Fills `record` from the reader's values `first`, `first` + 1, ... (one a field);
    // raises "line L: ..." naming the field for a value that does not fit.
    void Fill(KsFileRecord& record, const CsvReader& reader, std::size_t first);
    // The steps of Fill: the refusal of a record with another number of values than the
    // table has fields, and the filling of field n from the reader's value `value`.
    void CheckCount(const CsvReader& reader, std::size_t first) const;
    void FillField(KsFileRecord& record, std::int32_t n, const CsvReader& reader,
                   std::size_t value) const;

private:
    struct FieldLimit {
        enum Kind { kNone, kText, kBytes, kDecimals, kSteps } kind = kNone;
        std::size_t size = 0;  // bytes of a text, of a Binary field, or decimals kept
        std::int32_t divisor = 0;
        int mode = KsFileRecord::kPlain;  // the field's text mode
        std::string range;                // FieldRangeText of a numeric field
    };
    static FieldLimit LimitOf(const CBFField& field);
    void CheckFits(const KsFileRecord& record, std::int32_t n, const FieldLimit& limit,
                   std::string_view text) const;
    void CheckNumberFits(const KsFileRecord& record, std::int32_t n, const FieldLimit& limit,
                         std::string_view text) const;

    std::vector<FieldLimit> limits_;
};

// The values a numeric field holds, in words: "a whole number from 0 to 65535", "a number
// with 2 decimals from -21474836.47 to 21474836.47", "a number in steps of 1/4 from ...";
// empty for a field of another type.
std::string FieldRangeText(const CBFField& field);

// PutField of `text` in `mode`; a numeric field (`range` its FieldRangeText) that refuses
// the text raises "\"TEXT\" is not RANGE" instead of the conversion's own words.
void PutFieldText(KsFileRecord& record, std::int32_t n, const char* text, int mode,
                  const std::string& range);

// The comma-separated input: the file `name`, or standard input for "-". A file that cannot
// be read is a MissingFileError.
std::unique_ptr<KsIOInterface> OpenCsvInput(const std::string& name);
