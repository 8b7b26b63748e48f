// Record sets of 10,000,000 records at 1%, 50% and 99% density: whole-set operations,
// counting and a full walk of the selected records, each beside the same work on a plain
// array of 64-bit words (std::popcount, std::countr_zero) in the same run; compressing
// and expanding, with the compressed size as a share of the bitmap.
//
//     build/bench/bench_set [--benchmark_filter=Walk]
//
// The argument of each benchmark is the density in percent.

#include <benchmark/benchmark.h>

#include <bit>
#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "index/KsSet.h"

namespace {

constexpr std::int32_t kRecords = 10'000'000;

// The same random selection as a set and as plain words (record r is bit (r - 1) % 64 of
// word (r - 1) / 64). `seed` tells apart the two operands of a whole-set operation.
struct Selection {
    KsSet set;
    std::vector<std::uint64_t> words;
};

const Selection& SelectionOf(int percent, unsigned seed) {
    static std::map<std::pair<int, unsigned>, Selection> cache;
    auto [it, added] = cache.try_emplace({percent, seed});
    if (added) {
        std::mt19937 random(seed * 100 + static_cast<unsigned>(percent));
        std::bernoulli_distribution selected(percent / 100.0);
        it->second.set.Reset(kRecords, false);
        it->second.words.assign((kRecords + 63) / 64, 0);
        for (std::int32_t r = 1; r <= kRecords; ++r) {
            if (selected(random)) {
                it->second.set.SelectRecord(r, true);
                it->second.words[static_cast<std::size_t>(r - 1) / 64] |= std::uint64_t{1}
                                                                          << ((r - 1) % 64);
            }
        }
    }
    return it->second;
}

void SetBytes(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * (kRecords / 8));
}

void SetAnd(benchmark::State& state) {
    KsSet target = SelectionOf(static_cast<int>(state.range(0)), 1).set;
    const KsSet& other = SelectionOf(static_cast<int>(state.range(0)), 2).set;
    for (auto _ : state) {
        target.AndSet(other);
        benchmark::ClobberMemory();
    }
    SetBytes(state);
}

void PlainAnd(benchmark::State& state) {
    std::vector<std::uint64_t> target = SelectionOf(static_cast<int>(state.range(0)), 1).words;
    const auto& other = SelectionOf(static_cast<int>(state.range(0)), 2).words;
    for (auto _ : state) {
        for (std::size_t i = 0; i < target.size(); ++i) {
            target[i] &= other[i];
        }
        benchmark::ClobberMemory();
    }
    SetBytes(state);
}

void SetOr(benchmark::State& state) {
    KsSet target = SelectionOf(static_cast<int>(state.range(0)), 1).set;
    const KsSet& other = SelectionOf(static_cast<int>(state.range(0)), 2).set;
    for (auto _ : state) {
        target.OrSet(other);
        benchmark::ClobberMemory();
    }
    SetBytes(state);
}

void PlainOr(benchmark::State& state) {
    std::vector<std::uint64_t> target = SelectionOf(static_cast<int>(state.range(0)), 1).words;
    const auto& other = SelectionOf(static_cast<int>(state.range(0)), 2).words;
    for (auto _ : state) {
        for (std::size_t i = 0; i < target.size(); ++i) {
            target[i] |= other[i];
        }
        benchmark::ClobberMemory();
    }
    SetBytes(state);
}

// The count is cached, so each round first makes the set forget it (untimed).
void SetCount(benchmark::State& state) {
    KsSet set = SelectionOf(static_cast<int>(state.range(0)), 1).set;
    for (auto _ : state) {
        state.PauseTiming();
        set.AndSet(set);
        state.ResumeTiming();
        benchmark::DoNotOptimize(set.GetSelectedCount());
    }
    SetBytes(state);
}

void PlainCount(benchmark::State& state) {
    const auto& words = SelectionOf(static_cast<int>(state.range(0)), 1).words;
    for (auto _ : state) {
        state.PauseTiming();
        benchmark::ClobberMemory();
        state.ResumeTiming();
        std::int64_t count = 0;
        for (std::uint64_t word : words) {
            count += std::popcount(word);
        }
        benchmark::DoNotOptimize(count);
    }
    SetBytes(state);
}

void SetWalk(benchmark::State& state) {
    const KsSet& set = SelectionOf(static_cast<int>(state.range(0)), 1).set;
    for (auto _ : state) {
        std::int64_t visited = 0;
        for (std::int32_t r = set.GetNextInSet(0); r != 0; r = set.GetNextInSet(r)) {
            ++visited;
        }
        benchmark::DoNotOptimize(visited);
    }
    SetBytes(state);
}

// The plain counterpart of GetNextInSet: the next set bit after `after` (1-based), or 0.
std::int64_t PlainNext(const std::vector<std::uint64_t>& words, std::int64_t after) {
    if (after >= kRecords) {
        return 0;
    }
    std::size_t i = static_cast<std::size_t>(after / 64);
    std::uint64_t word = words[i] & (~std::uint64_t{0} << (after % 64));
    while (word == 0) {
        if (++i == words.size()) {
            return 0;
        }
        word = words[i];
    }
    return static_cast<std::int64_t>(i * 64) + std::countr_zero(word) + 1;
}

void PlainWalk(benchmark::State& state) {
    const auto& words = SelectionOf(static_cast<int>(state.range(0)), 1).words;
    for (auto _ : state) {
        std::int64_t visited = 0;
        for (std::int64_t r = PlainNext(words, 0); r != 0; r = PlainNext(words, r)) {
            ++visited;
        }
        benchmark::DoNotOptimize(visited);
    }
    SetBytes(state);
}

// Bytes per second of bitmap; "share" is the compressed size over the bitmap's.
void Compress(benchmark::State& state) {
    KsSet set = SelectionOf(static_cast<int>(state.range(0)), 1).set;
    for (auto _ : state) {
        state.PauseTiming();
        set.Expand();
        state.ResumeTiming();
        set.Compress();
    }
    SetBytes(state);
    state.counters["share"] =
        static_cast<double>(set.GetChunk().GetChunkSize()) / static_cast<double>(kRecords / 8);
}

void Expand(benchmark::State& state) {
    KsSet set = SelectionOf(static_cast<int>(state.range(0)), 1).set;
    for (auto _ : state) {
        state.PauseTiming();
        set.Compress();
        state.ResumeTiming();
        set.Expand();
    }
    SetBytes(state);
}

#define DENSITIES ->Arg(1)->Arg(50)->Arg(99)->Unit(benchmark::kMicrosecond)
BENCHMARK(SetAnd) DENSITIES;
BENCHMARK(PlainAnd) DENSITIES;
BENCHMARK(SetOr) DENSITIES;
BENCHMARK(PlainOr) DENSITIES;
BENCHMARK(SetCount) DENSITIES;
BENCHMARK(PlainCount) DENSITIES;
BENCHMARK(SetWalk) DENSITIES;
BENCHMARK(PlainWalk) DENSITIES;
BENCHMARK(Compress) DENSITIES;
BENCHMARK(Expand) DENSITIES;

}  // namespace

BENCHMARK_MAIN();
