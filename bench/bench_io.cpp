// Throughput of the buffered file on the converter's paths: reading lines, writing short
// records, copying a file. The input is about 50 MB of 550-byte comma-separated lines
// ending in "\r\n", like a questionnaire export.
//
//     build/bench/bench_io [--benchmark_filter=ReadLine]
//
// The input stays in $TMPDIR (or /tmp) as ks-bench-input.csv, so that a shell tool can
// run over the same bytes: tr -d , < /tmp/ks-bench-input.csv > /dev/null

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "io/KsIO.h"

namespace {

constexpr std::size_t kLineLength = 550;
constexpr std::size_t kInputSize = 50u * 1024 * 1024;

std::string TemporaryPath(const char* name) {
    const char* directory = std::getenv("TMPDIR");
    return std::string(directory && *directory ? directory : "/tmp") + "/" + name;
}

// One record: answers of one or two digits separated by commas, 548 bytes.
std::string Record(std::size_t number) {
    std::string record;
    for (std::size_t field = 0; record.size() < kLineLength - 2; ++field) {
        record += std::to_string((number * 31 + field * 7) % 100);
        record += ',';
    }
    record.resize(kLineLength - 2);
    return record;
}

const std::string& InputFile() {
    static const std::string path = [] {
        std::string name = TemporaryPath("ks-bench-input.csv");
        KsIO out(name.c_str(), 27);
        out.SetBufferSize(KsIO::kMaximumBufferSize);
        for (std::size_t i = 0; i * kLineLength < kInputSize; ++i) {
            out.WriteLine(Record(i).c_str());
        }
        out.Close();
        return name;
    }();
    return path;
}

void ReadLines(benchmark::State& state) {
    const std::string& input = InputFile();
    std::int64_t bytes = 0;
    for (auto _ : state) {
        KsIO in(input.c_str(), IO_READ);
        in.SetBufferSize(static_cast<std::int32_t>(state.range(0)));
        KsString line;
        while (std::uint32_t consumed = in.ReadLine(line)) {
            bytes += consumed;
        }
        benchmark::DoNotOptimize(line.GetCString());
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(ReadLines)
    ->Arg(KsIO::kDefaultBufferSize)
    ->Arg(256 * 1024)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void WriteRecords(benchmark::State& state) {
    std::string output = TemporaryPath("ks-bench-output.txt");
    KsString record(Record(7).c_str());
    std::int64_t bytes = 0;
    for (auto _ : state) {
        KsIO out(output.c_str(), 27);
        out.SetBufferSize(static_cast<std::int32_t>(state.range(0)));
        for (std::size_t written = 0; written < kInputSize; written += kLineLength - 1) {
            out.WriteString(record.GetCString(), false);
            out.WriteString("\n", false);
        }
        out.Close();
        bytes += static_cast<std::int64_t>(kInputSize);
    }
    state.SetBytesProcessed(bytes);
    std::remove(output.c_str());
}
BENCHMARK(WriteRecords)
    ->Arg(KsIO::kDefaultBufferSize)
    ->Arg(256 * 1024)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void CopyFile(benchmark::State& state) {
    const std::string& input = InputFile();
    std::string output = TemporaryPath("ks-bench-copy.csv");
    std::int64_t bytes = 0;
    for (auto _ : state) {
        KsIOInterface::Copy(output.c_str(), input.c_str());
        bytes += static_cast<std::int64_t>(kInputSize);
    }
    state.SetBytesProcessed(bytes);
    std::remove(output.c_str());
}
BENCHMARK(CopyFile)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
