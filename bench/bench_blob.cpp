// Blob file throughput: 100,000 blobs of 0 to 4 KiB (about 200 MB) added to a new file and
// closed, then the file reopened and every blob read back. Items are blobs.
//
//     build/bench/bench_blob
//
// The file lives in $TMPDIR (or /tmp) as ks-bench-blobs.ksb.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "files/KsBlobFile.h"

namespace {

constexpr std::size_t kBlobCount = 100000;
constexpr std::uint32_t kLargestBlob = 4096;

std::string TemporaryPath(const char* name) {
    const char* directory = std::getenv("TMPDIR");
    return std::string(directory && *directory ? directory : "/tmp") + "/" + name;
}

const std::string& BlobPath() {
    static const std::string path = TemporaryPath("ks-bench-blobs.ksb");
    return path;
}

// One buffer of random bytes; blob i is `sizes[i]` bytes of it from offset `starts[i]`.
struct Blobs {
    std::string bytes;
    std::vector<std::int32_t> sizes, starts;
    std::int64_t total = 0;
};

const Blobs& TheBlobs() {
    static const Blobs blobs = [] {
        Blobs b;
        std::mt19937 random(7);
        b.bytes.resize(1 << 20);
        for (char& c : b.bytes) {
            c = static_cast<char>(random());
        }
        for (std::size_t i = 0; i < kBlobCount; ++i) {
            b.sizes.push_back(static_cast<std::int32_t>(random() % (kLargestBlob + 1)));
            b.starts.push_back(
                static_cast<std::int32_t>(random() % (b.bytes.size() - kLargestBlob)));
            b.total += b.sizes.back();
        }
        return b;
    }();
    return blobs;
}

// Writes a new file of all the blobs; returns their numbers.
std::vector<std::int32_t> WriteAll() {
    const Blobs& blobs = TheBlobs();
    std::remove(BlobPath().c_str());
    std::vector<std::int32_t> numbers;
    KsBlobFile file(BlobPath().c_str(), IO_READ | IO_WRITE);
    for (std::size_t i = 0; i < kBlobCount; ++i) {
        numbers.push_back(file.AddBlob(blobs.bytes.data() + blobs.starts[i], blobs.sizes[i]));
    }
    file.Close();
    return numbers;
}

void AddAndClose(benchmark::State& state) {
    for (auto _ : state) {
        WriteAll();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kBlobCount));
    state.SetBytesProcessed(state.iterations() * TheBlobs().total);
}

void ReopenAndReadAll(benchmark::State& state) {
    std::vector<std::int32_t> numbers = WriteAll();
    const Blobs& blobs = TheBlobs();
    for (auto _ : state) {
        KsBlobFile file(BlobPath().c_str(), IO_READ);
        KsBlob out;
        for (std::size_t i = 0; i < kBlobCount; ++i) {
            file.GetBlob(numbers[i], out);
            if (std::memcmp(out.GetData(), blobs.bytes.data() + blobs.starts[i], out.GetSize()) !=
                    0 ||
                out.GetSize() != static_cast<std::uint32_t>(blobs.sizes[i])) {
                state.SkipWithError("a blob did not read back");
                return;
            }
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kBlobCount));
    state.SetBytesProcessed(state.iterations() * blobs.total);
}

}  // namespace

BENCHMARK(AddAndClose)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();
BENCHMARK(ReopenAndReadAll)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();
BENCHMARK_MAIN();
