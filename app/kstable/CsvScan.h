#pragma once
// Where the bytes that end or quote a comma-separated value (comma, line feed, carriage
// return, quote, NUL) lie in 64 bytes of text: the reader's inner loop, which then hops from
// one such byte to the next instead of looking at every byte. Several implementations do the
// same work, each with the vector instructions of one kind of processor; the reader takes
// the fastest the processor offers, chosen once at the first use. The build stays for any
// x86-64 (and any other processor, which gets the portable loop).
//
// The environment variable KSTABLE_CSV_SCAN ("portable", "sse2" or "avx2") forces one, for
// measurements; one the processor lacks is not taken.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

enum class CsvScan {
    kPortable,  // a byte at a time through a table
    kSse2,      // 16 bytes at a time
    kAvx2,      // 32 bytes at a time
};

// The bytes one mask covers.
constexpr std::size_t kCsvScanBlock = 64;

// The bytes of a block that stop the reader, bit i for bytes[i]: the commas, and the
// others (\n \r " NUL), which end a record or need a closer look.
struct CsvStops {
    std::uint64_t commas = 0;
    std::uint64_t others = 0;
    bool operator==(const CsvStops&) const = default;
};
// Reads exactly kCsvScanBlock bytes.
using CsvStopMask = CsvStops (*)(const char* bytes);

// "portable", "sse2", "avx2".
const char* NameOf(CsvScan how);
std::optional<CsvScan> ParseCsvScan(const char* name);
// Whether this processor can run it.
bool IsSupported(CsvScan how);
// Every implementation this processor can run, the portable one first.
std::vector<CsvScan> SupportedCsvScans();
// The one in use: the environment's choice when the processor supports it, else the fastest
// supported. Chosen once.
CsvScan ChosenCsvScan();
// The mask function of an implementation this processor supports.
CsvStopMask StopMaskOf(CsvScan how);
