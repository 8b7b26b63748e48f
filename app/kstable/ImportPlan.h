#pragma once
// The import's conversion of comma-separated records into a table's records, planned once
// from the table's fields: for each field a converter from text to its stored bits and its
// place in the record (byte offset, bit position and width), written straight into the
// record's bytes. A converter takes only values it can see are plainly valid (digits for a
// number, a text that fits, ...); any other value, and every field it has no converter for
// (one read through a format or a filter, a Currency field, a Number without a divisor),
// goes through CsvRecordFiller for that field alone, which stores it or refuses it with
// its message. So the records and the refusals are exactly those of the generic path.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "Csv.h"
#include "CsvRecord.h"
#include "files/CBFFile.h"

class ImportPlan {
public:
    // A plan for the table's fields as they are now; the table must outlive it.
    explicit ImportPlan(CBFFile& table);
    ImportPlan(const ImportPlan&) = delete;
    ImportPlan& operator=(const ImportPlan&) = delete;

    // Fills a record of the table from the reader's values, one a field in field order,
    // refusing what CsvRecordFiller refuses with its message; returns the record's bytes,
    // RecordLength() of them, valid until the next Fill.
    const unsigned char* Fill(const CsvReader& reader);
    std::size_t RecordLength() const { return recordLength_; }
    // How many fields have a converter of their own (the others go through the filler).
    std::size_t PlannedFields() const;

private:
    struct Step {
        enum Kind : std::uint8_t {
            kGeneric,       // through the filler
            kText,          // Alpha: the bytes, NUL-padded
            kHex,           // Binary: two hexadecimal digits a byte
            kLong,          // I: a signed 32-bit word
            kUnsignedLong,  // W: an unsigned 32-bit word
            kBits,          // S, U: a bit string in a 16-bit word
            kSmallBits,     // the same of a field whose values have 1 or 2 digits
            kScaled,        // N: value * divisor as sign and magnitude
        } kind = kGeneric;
        std::uint16_t offset = 0;
        std::uint16_t length = 0;   // bytes of a text or a Binary field
        std::uint8_t shift = 0;     // of a bit string, from the word's least significant bit
        std::uint32_t largest = 0;  // the largest value of a bit string
        std::uint32_t divisor = 0;  // of a Number field
        std::int8_t exponent = -1;  // of a divisor that is a power of ten
    };
    // Consecutive fields of one kind, filled by one loop of their own, so that the kind is
    // decided once a run rather than once a field.
    struct Run;
    using RunFiller = void (ImportPlan::*)(const Run& run, const CsvReader& reader);
    struct Run {
        RunFiller fill;
        std::size_t first, end;  // field numbers
    };
    static Step StepOf(const CBFField& field, std::int32_t recordLength);
    static RunFiller FillerOf(Step::Kind kind);
    // Whether the step of kind K stored `text`; false leaves the value to the filler.
    template <Step::Kind K>
    static bool Put(const Step& step, std::string_view text, unsigned char* record);
    template <Step::Kind K>
    void FillRun(const Run& run, const CsvReader& reader);
    // The value of a bit string of kind K (kBits or kSmallBits); false as Put.
    template <Step::Kind K>
    static bool BitsOf(const Step& step, std::string_view text, unsigned& bits);
    template <Step::Kind K>
    void FillBitsRun(const Run& run, const CsvReader& reader);

    std::unique_ptr<KsFileRecord> record_;
    unsigned char* bytes_;  // the record's own
    std::size_t recordLength_;
    CsvRecordFiller filler_;
    std::vector<Step> steps_;
    std::vector<Run> runs_;
};
