// List files: inserts, walks and allocations per second on a list of 1,000,000 elements,
// alone and with 4 processes contending for the same file.
//
//     build/bench/bench_list [--benchmark_filter=Walk]
//
// The list is built once in $TMPDIR (or /tmp) as ks-bench-list.klg and reused; each
// benchmark works on a copy, so runs do not change one another's input.

#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "io/KsIOList.h"
#include "io/KsIOUnbuffered.h"

namespace {

constexpr int kElements = 1000000;
constexpr int kProcesses = 4;
const std::string kElement = "an element of 24 bytes..";  // a block of 32 bytes

std::string TemporaryPath(const char* name) {
    const char* directory = std::getenv("TMPDIR");
    return std::string(directory && *directory ? directory : "/tmp") + "/" + name;
}

KsIOUnbuffered Open(const std::string& path) {
    return KsIOUnbuffered(path.c_str(), IO_READ | IO_WRITE);
}

std::uint32_t ElementSize() {
    return static_cast<std::uint32_t>(kElement.size());
}

// A list file whose list 0 has a million elements, inserted at the front one by one.
const std::string& BigList() {
    static const std::string path = [] {
        std::string name = TemporaryPath("ks-bench-list.klg");
        if (std::filesystem::exists(name)) {
            KsIOUnbuffered file(name.c_str(), IO_READ);
            KsIOList<void> list(file, KsIOListFormat::ListPosition(0));
            std::int64_t expected = 32 + std::int64_t{kElements} * (16 + 32);
            if (file.GetFileSize64() == expected) {
                return name;
            }
        }
        KsIOUnbuffered file(name.c_str(), IO_READ | IO_WRITE | IO_CREATE | IO_TRUNCATE);
        KsIOSimpleList<void>(file, 8).PrepareFile(1);
        KsIOList<void> list(file, KsIOListFormat::ListPosition(0));
        KsIOListBase::void_iterator front = list.begin(LOCK_WRITE);
        for (int i = 0; i < kElements; ++i) {
            list.InsertElement(front, kElement.data(), ElementSize());
        }
        return name;
    }();
    return path;
}

// A fresh copy of the big list for one benchmark.
std::string CopyOfBigList() {
    std::string copy = TemporaryPath("ks-bench-list-copy.klg");
    std::filesystem::copy_file(BigList(), copy, std::filesystem::copy_options::overwrite_existing);
    return copy;
}

void InsertAtTheFront(benchmark::State& state) {
    std::string path = CopyOfBigList();
    KsIOUnbuffered file = Open(path);
    KsIOList<void> list(file, KsIOListFormat::ListPosition(0));
    KsIOListBase::void_iterator front = list.begin(LOCK_WRITE);
    for (auto _ : state) {
        list.InsertElement(front, kElement.data(), ElementSize());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(InsertAtTheFront)->Unit(benchmark::kMicrosecond)->UseRealTime();

void WalkTheWholeList(benchmark::State& state) {
    KsIOUnbuffered file(BigList().c_str(), IO_READ);
    KsIOList<void> list(file, KsIOListFormat::ListPosition(0));
    std::int64_t nodes = 0;
    for (auto _ : state) {
        for (KsIOListBase::void_iterator it = list.begin(); !it.AtEnd(); ++it) {
            ++nodes;
        }
    }
    state.SetItemsProcessed(nodes);
}
BENCHMARK(WalkTheWholeList)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

void ReadEveryElement(benchmark::State& state) {
    KsIOUnbuffered file(BigList().c_str(), IO_READ);
    KsIOList<void> list(file, KsIOListFormat::ListPosition(0));
    std::int64_t elements = 0;
    KsIOListObject object;
    for (auto _ : state) {
        for (KsIOListBase::void_iterator it = list.begin(); !it.AtEnd(); ++it) {
            list.ReadElement(it, object);
            ++elements;
        }
    }
    state.SetItemsProcessed(elements);
}
BENCHMARK(ReadEveryElement)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// Allocations of 16 bytes, each given back at once: the free list holds one block.
void AllocateAndFree(benchmark::State& state) {
    std::string path = CopyOfBigList();
    KsIOUnbuffered file = Open(path);
    KsIOSimpleList<void> raw(file, KsIOListFormat::ListPosition(0));
    for (auto _ : state) {
        raw.Free(raw.Allocate(16), 16);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(AllocateAndFree)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Allocations from a free list of `range(0)` scattered 16-byte blocks, each freed again.
void AllocateFirstFit(benchmark::State& state) {
    std::string path = CopyOfBigList();
    KsIOUnbuffered file = Open(path);
    KsIOSimpleList<void> raw(file, KsIOListFormat::ListPosition(0));
    std::vector<std::uint64_t> blocks;
    for (std::int64_t i = 0; i < 2 * state.range(0); ++i) {
        blocks.push_back(raw.Allocate(16));
    }
    for (std::size_t i = 0; i < blocks.size(); i += 2) {
        raw.Free(blocks[i], 16);  // every other one: nothing merges
    }
    for (auto _ : state) {
        std::uint64_t block = raw.Allocate(32);  // fits none: walks them all, then the end
        raw.Free(block, 32);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(AllocateFirstFit)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

// `processes` processes, each inserting near the front, erasing near the front and
// allocating and freeing, `operations` times; returns when all are done.
void Contend(const std::string& path, int processes, int operations) {
    std::vector<pid_t> children;
    for (int process = 0; process < processes; ++process) {
        pid_t pid = fork();
        if (pid == 0) {
            int status = 0;
            try {
                KsIOUnbuffered file = Open(path);
                KsIOList<void> list(file, KsIOListFormat::ListPosition(0));
                for (int i = 0; i < operations; ++i) {
                    KsIOListBase::void_iterator it = list.begin(LOCK_WRITE);
                    for (int step = (i + process) % 4; step > 0; --step) {
                        ++it;
                    }
                    if (i % 3 == 2) {
                        list.EraseElement(it);
                    } else {
                        list.InsertElement(it, kElement.data(), ElementSize());
                    }
                }
            } catch (const KsException& error) {
                std::fprintf(stderr, "%s\n", error.GetErrorMessage());
                status = 1;
            }
            _exit(status);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        waitpid(pid, nullptr, 0);
    }
}

void ContendingProcesses(benchmark::State& state) {
    std::string path = CopyOfBigList();
    int processes = static_cast<int>(state.range(0));
    constexpr int kOperations = 2000;
    for (auto _ : state) {
        Contend(path, processes, kOperations);
    }
    state.SetItemsProcessed(state.iterations() * processes * kOperations);
}
BENCHMARK(ContendingProcesses)
    ->Arg(1)
    ->Arg(kProcesses)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
