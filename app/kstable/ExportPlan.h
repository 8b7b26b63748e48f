#pragma once
// The export's conversion of a table's stored records into comma-separated text, planned
// once from the fields exported: for each its place in the record and its converter from
// the stored bits to the text the field shows (numbers with the field's decimals, texts
// without leading or trailing blanks, bytes in hexadecimal), quoted where the text needs
// it. A field it has no converter for (one shown through a format or a filter, a Number
// without a divisor) is shown through the record's own GetField, so every text is exactly
// the generic path's.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "files/CBFFile.h"

class ExportPlan {
public:
    // A plan for `fields` (field numbers, in the order they are written) of the table as it
    // is now; the table must outlive it.
    ExportPlan(CBFFile& table, std::vector<std::int32_t> fields);
    ExportPlan(const ExportPlan&) = delete;
    ExportPlan& operator=(const ExportPlan&) = delete;

    // Writes the record whose stored bytes (RecordLength() of them) are `bytes` at `out` as
    // one comma-separated record ended by CR LF; returns the end. `out` needs room for
    // MaxRecordBytes().
    char* Put(const unsigned char* bytes, char* out);
    std::size_t MaxRecordBytes() const { return maxRecordBytes_; }
    std::size_t RecordLength() const { return recordLength_; }
    // How many of the fields have a converter of their own.
    std::size_t PlannedFields() const;

private:
    struct Step {
        enum Kind : std::uint8_t {
            kGeneric,       // through GetField
            kText,          // Alpha: the bytes up to a NUL, trimmed
            kHex,           // Binary: two upper-case hexadecimal digits a byte
            kLong,          // I
            kUnsignedLong,  // W
            kShortBits,     // S: the bits read as a signed 16-bit number
            kBits,          // U
            kSmallBits,     // U of a field whose values have 1 or 2 digits
            kFixed,         // N: sign and magnitude over the divisor, with the decimals
        } kind = kGeneric;
        std::int32_t field = 0;
        std::uint16_t offset = 0;
        std::uint16_t length = 0;
        std::uint8_t shift = 0;
        std::uint16_t mask = 0;
        std::uint8_t decimals = 0;
        std::uint32_t scale = 0;  // magnitude * scale = value * 10^decimals
    };
    // Consecutive fields of one kind, written by one loop of their own, so that the kind is
    // decided once a run rather than once a field. `loaded` tells whether the record is in
    // record_ already.
    struct Run;
    using RunWriter = char* (ExportPlan::*)(const Run& run, const unsigned char* bytes,
                                            bool& loaded, char* out);
    struct Run {
        RunWriter write;
        std::size_t first, end;  // steps
    };
    static Step StepOf(const CBFField& field, std::int32_t n, std::int32_t recordLength);
    static RunWriter WriterOf(Step::Kind kind);
    static std::size_t MaxTextBytes(const Step& step);
    // The text of a step of kind K (not kGeneric) for the field's bytes at `at`.
    template <Step::Kind K>
    static char* PutText(const Step& step, const unsigned char* at, char* out);
    template <Step::Kind K>
    char* PutRun(const Run& run, const unsigned char* bytes, bool& loaded, char* out);

    std::unique_ptr<KsFileRecord> record_;  // for the fields without a converter
    std::vector<char> text_;
    std::size_t recordLength_;
    std::vector<Step> steps_;
    std::vector<Run> runs_;
    std::size_t maxRecordBytes_ = 0;
};
