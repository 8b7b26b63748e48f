#include "CsvScan.h"

#include <cstdlib>
#include <string_view>

#if defined(__x86_64__)
#include <immintrin.h>
#define KS_X86_VECTORS 1
#endif

namespace {

CsvStops PortableMask(const char* bytes) {
    CsvStops stops;
    for (std::size_t i = 0; i < kCsvScanBlock; ++i) {
        const char c = bytes[i];
        stops.commas |= std::uint64_t{c == ','} << i;
        stops.others |= std::uint64_t{c == '\n' || c == '\r' || c == '"' || c == '\0'} << i;
    }
    return stops;
}

#if KS_X86_VECTORS

CsvStops Sse2Mask(const char* bytes) {
    const __m128i comma = _mm_set1_epi8(',');
    const __m128i lineFeed = _mm_set1_epi8('\n');
    const __m128i carriageReturn = _mm_set1_epi8('\r');
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i zero = _mm_setzero_si128();
    CsvStops stops;
    for (std::size_t i = 0; i < kCsvScanBlock; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        const __m128i others =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, lineFeed), _mm_cmpeq_epi8(v, zero)),
                         _mm_or_si128(_mm_cmpeq_epi8(v, carriageReturn), _mm_cmpeq_epi8(v, quote)));
        stops.commas |=
            std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, comma)))}
            << i;
        stops.others |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(others))} << i;
    }
    return stops;
}

__attribute__((target("avx2"))) CsvStops Avx2Mask(const char* bytes) {
    const __m256i comma = _mm256_set1_epi8(',');
    const __m256i lineFeed = _mm256_set1_epi8('\n');
    const __m256i carriageReturn = _mm256_set1_epi8('\r');
    const __m256i quote = _mm256_set1_epi8('"');
    const __m256i zero = _mm256_setzero_si256();
    CsvStops stops;
    for (std::size_t i = 0; i < kCsvScanBlock; i += 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i));
        const __m256i others = _mm256_or_si256(
            _mm256_or_si256(_mm256_cmpeq_epi8(v, lineFeed), _mm256_cmpeq_epi8(v, zero)),
            _mm256_or_si256(_mm256_cmpeq_epi8(v, carriageReturn), _mm256_cmpeq_epi8(v, quote)));
        stops.commas |= std::uint64_t{static_cast<std::uint32_t>(
                            _mm256_movemask_epi8(_mm256_cmpeq_epi8(v, comma)))}
                        << i;
        stops.others |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(others))}
                        << i;
    }
    return stops;
}

#endif

constexpr CsvScan kAll[] = {CsvScan::kPortable, CsvScan::kSse2, CsvScan::kAvx2};

CsvScan Choose() {
    if (const char* forced = std::getenv("KSTABLE_CSV_SCAN")) {
        if (auto how = ParseCsvScan(forced); how && IsSupported(*how)) {
            return *how;
        }
    }
    return SupportedCsvScans().back();
}

}  // namespace

const char* NameOf(CsvScan how) {
    switch (how) {
        case CsvScan::kSse2:
            return "sse2";
        case CsvScan::kAvx2:
            return "avx2";
        case CsvScan::kPortable:
            break;
    }
    return "portable";
}

std::optional<CsvScan> ParseCsvScan(const char* name) {
    for (CsvScan how : kAll) {
        if (std::string_view(name) == NameOf(how)) {
            return how;
        }
    }
    return std::nullopt;
}

bool IsSupported(CsvScan how) {
#if KS_X86_VECTORS
    __builtin_cpu_init();
    switch (how) {
        case CsvScan::kSse2:
            return true;  // every x86-64 has it
        case CsvScan::kAvx2:
            return __builtin_cpu_supports("avx2");
        case CsvScan::kPortable:
            break;
    }
#endif
    return how == CsvScan::kPortable;
}

std::vector<CsvScan> SupportedCsvScans() {
    std::vector<CsvScan> supported;
    for (CsvScan how : kAll) {
        if (IsSupported(how)) {
            supported.push_back(how);
        }
    }
    return supported;
}

CsvScan ChosenCsvScan() {
    static const CsvScan chosen = Choose();
    return chosen;
}

CsvStopMask StopMaskOf(CsvScan how) {
#if KS_X86_VECTORS
    if (how == CsvScan::kSse2) {
        return Sse2Mask;
    }
    if (how == CsvScan::kAvx2 && IsSupported(how)) {
        return Avx2Mask;
    }
#endif
    return PortableMask;
}
