#include "CommaRemoval.h"

#include <array>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <string_view>

#if defined(__x86_64__)
#include <immintrin.h>
#define KS_X86_VECTORS 1
#endif

namespace {

// How one group of 8 bytes loses its commas, by which of its bytes are commas (bit k for
// byte k): the masks of the bytes that move 0, 1, 2 or 3 places towards the start, and
// how many are kept. A group where a kept byte follows more than 3 commas does not fit.
struct GroupPlan {
    std::uint64_t moves[4] = {};
    std::uint8_t kept = 0;
    bool fits = true;
};

constexpr std::array<GroupPlan, 256> MakeGroupPlans() {
    std::array<GroupPlan, 256> plans{};
    for (unsigned commas = 0; commas < 256; ++commas) {
        GroupPlan& plan = plans[commas];
        unsigned removed = 0;
        for (unsigned byte = 0; byte < 8; ++byte) {
            if (commas >> byte & 1) {
                ++removed;
            } else if (removed > 3) {
                plan.fits = false;
            } else {
                plan.moves[removed] |= std::uint64_t{0xFF} << (8 * (byte - removed));
            }
        }
        plan.kept = static_cast<std::uint8_t>(8 - removed);
    }
    return plans;
}

constexpr std::array<GroupPlan, 256> kGroupPlans = MakeGroupPlans();

// Bit k set when byte k of the little-endian group is a comma.
unsigned CommasOf(std::uint64_t group) {
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
    const std::uint64_t differs = group ^ 0x2C2C2C2C2C2C2C2CULL;
    const std::uint64_t zero = ~(((differs & kLow7) + kLow7) | differs | kLow7);  // 0x80 per comma
    return static_cast<unsigned>(((zero >> 7) * 0x0102040810204080ULL) >> 56);
}

// The plain way, one byte at a time: every byte is stored, and the position moves on only
// past the bytes kept, so no branch depends on the data.
std::size_t CopyBytesWithoutCommas(const char* text, std::size_t length, char* out) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const char c = text[i];
        out[kept] = c;
        kept += c != ',';
    }
    return kept;
}

unsigned TailCommasOf(const char* text, std::size_t length) {
    unsigned commas = 0;
    for (std::size_t k = 0; k < length; ++k) {
        commas |= static_cast<unsigned>(text[k] == ',') << k;
    }
    return commas;
}

// What a copy hands on of the commas it finds: the mask of each group of 8 bytes, then
// the last bytes that make no whole group.
// A vector's masks come as one word of 2, 4 or 8 of them, the first group's lowest.
struct IgnoreCommas {
    void operator()(std::size_t, unsigned) const {}
    template <class Word>
    void Groups(std::size_t, Word) const {}
    void Tail(std::size_t, const char*, std::size_t) const {}
};

struct KeepCommas {
    std::uint8_t* masks;
    void operator()(std::size_t group, unsigned commas) const {
        masks[group] = static_cast<std::uint8_t>(commas);
    }
    template <class Word>
    void Groups(std::size_t first, Word commas) const {
        std::memcpy(masks + first, &commas, sizeof commas);
    }
    void Tail(std::size_t group, const char* text, std::size_t length) const {
        if (length > 0) {
            masks[group] = static_cast<std::uint8_t>(TailCommasOf(text, length));
        }
    }
};

// No branch on the data: the differences are gathered and looked at once.
struct CompareCommas {
    const std::uint8_t* masks;
    unsigned differs = 0;
    void operator()(std::size_t group, unsigned commas) { differs |= commas ^ masks[group]; }
    template <class Word>
    void Groups(std::size_t first, Word commas) {
        Word kept;
        std::memcpy(&kept, masks + first, sizeof kept);
        differs |= (commas ^ kept) != 0;
    }
    void Tail(std::size_t group, const char* text, std::size_t length) {
        if (length > 0) {
            differs |= TailCommasOf(text, length) ^ masks[group];
        }
    }
};

// The portable copy from byte `from` on (a multiple of 8), with the groups numbered from
// the start of the text.
template <class Visit>
std::size_t CopyPortable(const char* text, std::size_t length, std::size_t from, char* out,
                         Visit& visit) {
    static_assert(std::endian::native == std::endian::little);
    std::size_t kept = 0;
    std::size_t i = from;
    for (; i + 8 <= length; i += 8) {
        std::uint64_t group;
        std::memcpy(&group, text + i, 8);
        const unsigned commas = CommasOf(group);
        visit(i / 8, commas);
        const GroupPlan& plan = kGroupPlans[commas];
        if (!plan.fits) {
            kept += CopyBytesWithoutCommas(text + i, 8, out + kept);
            continue;
        }
        group = (group & plan.moves[0]) | (group >> 8 & plan.moves[1]) |
                (group >> 16 & plan.moves[2]) | (group >> 24 & plan.moves[3]);
        // All 8 bytes are stored: those past the kept ones are overwritten next, and the
        // group ends within the room the text needs.
        std::memcpy(out + kept, &group, 8);
        kept += plan.kept;
    }
    visit.Tail(i / 8, text + i, length - i);
    return kept + CopyBytesWithoutCommas(text + i, length - i, out + kept);
}

#if KS_X86_VECTORS

// For each mask of commas in a group of 8: the bytes kept, to gather with a shuffle (the
// kept bytes' places, then 0x80 for a zero) or to extract with BMI2 (0xFF per kept byte).
struct KeptBytes {
    std::array<std::uint64_t, 256> shuffle{};
    std::array<std::uint64_t, 256> select{};
};

constexpr KeptBytes MakeKeptBytes() {
    KeptBytes kept;
    for (unsigned commas = 0; commas < 256; ++commas) {
        std::uint64_t shuffle = ~std::uint64_t{0} & 0x8080808080808080ULL;
        unsigned next = 0;
        for (unsigned byte = 0; byte < 8; ++byte) {
            if ((commas >> byte & 1) == 0) {
                shuffle &= ~(std::uint64_t{0xFF} << (8 * next));
                shuffle |= std::uint64_t{byte} << (8 * next);
                kept.select[commas] |= std::uint64_t{0xFF} << (8 * byte);
                ++next;
            }
        }
        kept.shuffle[commas] = shuffle;
    }
    return kept;
}

constexpr KeptBytes kKeptBytes = MakeKeptBytes();

// Every store of the vector copies writes a whole group or vector at `out + kept`; as
// `kept` never passes the bytes read, it stays within the room the text needs.

template <class Visit>
__attribute__((target("ssse3,popcnt"))) std::size_t CopySsse3(const char* text, std::size_t length,
                                                              char* out, Visit& visit) {
    const __m128i comma = _mm_set1_epi8(',');
    std::size_t kept = 0;
    std::size_t i = 0;
    for (; i + 16 <= length; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
        const auto commas =
            static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, comma)));
        visit.Groups(i / 8, commas);
        for (unsigned half = 0; half < 2; ++half) {
            const unsigned mask = commas >> (8 * half) & 0xFF;
            const __m128i group =
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(text + i + 8 * half));
            const __m128i order =
                _mm_cvtsi64_si128(static_cast<long long>(kKeptBytes.shuffle[mask]));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + kept),
                             _mm_shuffle_epi8(group, order));
            kept += 8 - static_cast<unsigned>(__builtin_popcount(mask));
        }
    }
    return kept + CopyPortable(text, length, i, out + kept, visit);
}

template <class Visit>
__attribute__((target("avx2,bmi2,popcnt"))) std::size_t CopyAvx2(const char* text,
                                                                 std::size_t length, char* out,
                                                                 Visit& visit) {
    const __m256i comma = _mm256_set1_epi8(',');
    std::size_t kept = 0;
    std::size_t i = 0;
    for (; i + 32 <= length; i += 32) {
        const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + i));
        const auto commas =
            static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(bytes, comma)));
        visit.Groups(i / 8, commas);
        for (unsigned quarter = 0; quarter < 4; ++quarter) {
            const unsigned mask = commas >> (8 * quarter) & 0xFF;
            std::uint64_t group;
            std::memcpy(&group, text + i + 8 * quarter, 8);
            const std::uint64_t packed = _pext_u64(group, kKeptBytes.select[mask]);
            std::memcpy(out + kept, &packed, 8);
            kept += 8 - static_cast<unsigned>(__builtin_popcount(mask));
        }
    }
    return kept + CopyPortable(text, length, i, out + kept, visit);
}

template <class Visit>
__attribute__((target("avx512f,avx512bw,avx512vbmi2,bmi2,popcnt"))) std::size_t CopyAvx512(
    const char* text, std::size_t length, char* out, Visit& visit) {
    const __m512i comma = _mm512_set1_epi8(',');
    std::size_t kept = 0;
    std::size_t i = 0;
    for (; i + 64 <= length; i += 64) {
        const __m512i bytes = _mm512_loadu_si512(text + i);
        const __mmask64 commas = _mm512_cmpeq_epi8_mask(bytes, comma);
        visit.Groups(i / 8, static_cast<std::uint64_t>(commas));
        _mm512_storeu_si512(out + kept, _mm512_maskz_compress_epi8(~commas, bytes));
        kept += 64 - static_cast<unsigned>(__builtin_popcountll(commas));
    }
    // The last bytes in one masked step: only they are read, only the kept ones written.
    const std::size_t rest = length - i;
    if (rest > 0) {
        const __mmask64 present = _bzhi_u64(~std::uint64_t{0}, static_cast<unsigned>(rest));
        const __m512i bytes = _mm512_maskz_loadu_epi8(present, text + i);
        const __mmask64 commas = _mm512_mask_cmpeq_epi8_mask(present, bytes, comma);
        for (unsigned group = 0; group < rest / 8; ++group) {
            visit(i / 8 + group, static_cast<unsigned>(commas >> (8 * group) & 0xFF));
        }
        visit.Tail(i / 8 + rest / 8, text + i + rest / 8 * 8, rest % 8);
        const auto count =
            static_cast<unsigned>(rest) - static_cast<unsigned>(__builtin_popcountll(commas));
        _mm512_mask_storeu_epi8(out + kept, _bzhi_u64(~std::uint64_t{0}, count),
                                _mm512_maskz_compress_epi8(present & ~commas, bytes));
        kept += count;
    } else {
        visit.Tail(i / 8, text + i, 0);
    }
    return kept;
}

#endif

template <class Visit>
std::size_t Copy(CommaRemoval how, const char* text, std::size_t length, char* out, Visit& visit) {
    switch (how) {
#if KS_X86_VECTORS
        case CommaRemoval::kSsse3:
            return CopySsse3(text, length, out, visit);
        case CommaRemoval::kAvx2:
            return CopyAvx2(text, length, out, visit);
        case CommaRemoval::kAvx512:
            return CopyAvx512(text, length, out, visit);
#endif
        default:
            return CopyPortable(text, length, 0, out, visit);
    }
}

constexpr CommaRemoval kAll[] = {CommaRemoval::kPortable, CommaRemoval::kSsse3, CommaRemoval::kAvx2,
                                 CommaRemoval::kAvx512};

CommaRemoval Choose() {
    if (const char* forced = std::getenv("MTCONVERT_COMMA_REMOVAL")) {
        if (auto how = ParseCommaRemoval(forced); how && IsSupported(*how)) {
            return *how;
        }
    }
    return SupportedCommaRemovals().back();
}

}  // namespace

const char* NameOf(CommaRemoval how) {
    switch (how) {
        case CommaRemoval::kSsse3:
            return "ssse3";
        case CommaRemoval::kAvx2:
            return "avx2";
        case CommaRemoval::kAvx512:
            return "avx512";
        case CommaRemoval::kPortable:
            break;
    }
    return "portable";
}

std::optional<CommaRemoval> ParseCommaRemoval(const char* name) {
    for (CommaRemoval how : kAll) {
        if (std::string_view(name) == NameOf(how)) {
            return how;
        }
    }
    return std::nullopt;
}

bool IsSupported(CommaRemoval how) {
#if KS_X86_VECTORS
    __builtin_cpu_init();
    switch (how) {
        case CommaRemoval::kSsse3:
            return __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("popcnt");
        case CommaRemoval::kAvx2:
            return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2") &&
                   __builtin_cpu_supports("popcnt");
        case CommaRemoval::kAvx512:
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                   __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("bmi2") &&
                   __builtin_cpu_supports("popcnt");
        case CommaRemoval::kPortable:
            break;
    }
#endif
    return how == CommaRemoval::kPortable;
}

std::vector<CommaRemoval> SupportedCommaRemovals() {
    std::vector<CommaRemoval> supported;
    for (CommaRemoval how : kAll) {
        if (IsSupported(how)) {
            supported.push_back(how);
        }
    }
    return supported;
}

CommaRemoval ChosenCommaRemoval() {
    static const CommaRemoval chosen = Choose();
    return chosen;
}

std::size_t CopyWithoutCommas(const char* text, std::size_t length, char* out, CommaRemoval how) {
    IgnoreCommas ignore;
    return Copy(how, text, length, out, ignore);
}

std::size_t CopyKeepingCommas(const char* text, std::size_t length, char* out, std::uint8_t* masks,
                              CommaRemoval how) {
    KeepCommas keep{masks};
    return Copy(how, text, length, out, keep);
}

std::size_t CopyComparingCommas(const char* text, std::size_t length, char* out,
                                const std::uint8_t* masks, bool& differs, CommaRemoval how) {
    CompareCommas compare{masks};
    const std::size_t kept = Copy(how, text, length, out, compare);
    differs = compare.differs != 0;
    return kept;
}
