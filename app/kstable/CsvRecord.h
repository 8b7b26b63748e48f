#pragma once
// Fills a table's record from the values of a comma-separated record, one value a field in
// field order, refusing any value the field would not hold exactly: a text longer than an
// Alpha field, more bytes than a Binary field holds, a number with more decimals than a
// Number field keeps. Fields read through a format or a filter are left to them.

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

private:
    struct FieldLimit {
        enum Kind { kNone, kText, kBytes, kDecimals, kSteps } kind = kNone;
        std::size_t size = 0;  // bytes of a text, of a Binary field, or decimals kept
        std::int32_t divisor = 0;
        int mode = KsFileRecord::kPlain;  // the field's text mode
    };
    static FieldLimit LimitOf(const CBFField& field);
    void CheckFits(const KsFileRecord& record, std::int32_t n, const FieldLimit& limit,
                   std::string_view text) const;
    void CheckNumberFits(const KsFileRecord& record, std::int32_t n, const FieldLimit& limit,
                         std::string_view text) const;

    std::vector<FieldLimit> limits_;
};

// The comma-separated input: the file `name`, or standard input for "-". A file that cannot
// be read is a MissingFileError.
std::unique_ptr<KsIOInterface> OpenCsvInput(const std::string& name);
