#pragma once
// Copies a line without its commas: the converter's inner loop. Several implementations do
// the same work, each with the vector instructions of one kind of processor; the program
// picks the fastest the processor offers once, at the first use. The build stays for any
// x86-64 (and any other processor, which gets the portable loop).
//
// The environment variable MTCONVERT_COMMA_REMOVAL ("portable", "ssse3", "avx2" or
// "avx512") forces one, for measurements; one the processor lacks is not taken.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

enum class CommaRemoval {
    kPortable,  // 8 bytes at a time in general-purpose registers
    kSsse3,     // 16 bytes at a time, byte shuffles from a table
    kAvx2,      // 32 bytes at a time, with BMI2's bit extraction
    kAvx512,    // 64 bytes at a time with AVX-512 VBMI2's byte compression, the last ones
                // masked
};

// "portable", "ssse3", "avx2", "avx512".
const char* NameOf(CommaRemoval how);
std::optional<CommaRemoval> ParseCommaRemoval(const char* name);
// Whether this processor can run it.
bool IsSupported(CommaRemoval how);
// Every implementation this processor can run, the portable one first.
std::vector<CommaRemoval> SupportedCommaRemovals();
// The one in use: the environment's choice when the processor supports it, else the fastest
// supported. Chosen once.
CommaRemoval ChosenCommaRemoval();

// Copies the text without its commas to `out`, which has room for `length` bytes, and
// returns the bytes copied.
std::size_t CopyWithoutCommas(const char* text, std::size_t length, char* out,
                              CommaRemoval how = ChosenCommaRemoval());

// The same, keeping in `masks` (room for length / 8 + 1 bytes) which bytes of each group of
// 8 are commas: bit k of masks[g] for byte 8g + k.
std::size_t CopyKeepingCommas(const char* text, std::size_t length, char* out, std::uint8_t* masks,
                              CommaRemoval how = ChosenCommaRemoval());

// The same, comparing the commas with `masks` (as CopyKeepingCommas left them for a text of
// the same length); `differs` is set when a comma stands elsewhere.
std::size_t CopyComparingCommas(const char* text, std::size_t length, char* out,
                                const std::uint8_t* masks, bool& differs,
                                CommaRemoval how = ChosenCommaRemoval());
