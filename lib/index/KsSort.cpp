#include "index/KsSort.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "core/KsCallpath.h"
#include "core/KsException.h"
#include "core/KsScopeExit.h"
#include "index/KsSortIOWrapper.h"
#include "index/KsSortRuns.h"
#include "io/KsReplacementFile.h"
#include "platform/KsPosixFile.h"
#include "progress/KsProgressInterface.h"

namespace {
constexpr const char* kClass = "KsSort";
constexpr std::uint32_t kTitleLimit = 64;
}  // namespace

// ---- KsSortCKey

bool KsSortCKey::IsEqual(const void* a, const void* b) const {
    return std::memcmp(a, b, keyLength_) == 0;
}

bool KsSortCKey::IsLess(const void* a, const void* b) const {
    return std::memcmp(a, b, keyLength_) < 0;
}

bool KsSortCKey::IsGreater(const void* a, const void* b) const {
    return std::memcmp(a, b, keyLength_) > 0;
}

std::unique_ptr<KsSortCriterion> KsSortCKey::Clone() const {
    return std::make_unique<KsSortCKey>(keyLength_);
}

// ---- KsSort

KsSort::KsSort(KsSortCriterion& criterion, const char* tempDirectory, unsigned fileCount,
               unsigned nodesInMemory, unsigned cacheSize, KsIOFactory& factory)
    : criterion_(&criterion),
      tempDirectory_(tempDirectory != nullptr ? tempDirectory : ""),
      nodesInMemory_(nodesInMemory),
      cacheSize_(cacheSize),
      fileCount_(fileCount & ~1u),
      factory_(factory) {
    KsCallpath("KsSort()", kClass, [&] {
        if (nodesInMemory < kMinimumNodes) {
            KsException::Generate("KsSort needs to keep more then %u nodes in memory", kClass,
                                  kMinimumNodes - 1);
        }
        // Run distribution divides by half the files and a merge needs two inputs.
        if (fileCount_ < kMinimumFiles) {
            KsException::Generate("KsSort needs at least %u temporary files; %u were asked for",
                                  kClass, kMinimumFiles, fileCount);
        }
        if (cacheSize_ == 0) {
            cacheSize_ = kMinimumCachePerFile * fileCount_;
        } else if (cacheSize_ / fileCount_ < kMinimumCachePerFile) {
            KsException::Generate(
                "Cache must have at least 8KB per file; size of %u for %u files is too small",
                kClass, cacheSize_, fileCount_);
        }
    });
}

KsSort::~KsSort() {
    ReleaseTemporaryFiles(false);
}

KsSort::Limits KsSort::LimitsFor(std::uint64_t memoryBytes, std::uint32_t recordLength,
                                 std::uint32_t fileCount) {
    // A quarter of the budget buffers the files (more buys little), the rest holds the
    // heap's records and their nodes.
    std::uint64_t files = std::max<std::uint32_t>(fileCount & ~1u, kMinimumFiles);
    std::uint64_t cache =
        std::clamp<std::uint64_t>(memoryBytes / 4, files * kMinimumCachePerFile, files * 1024000);
    std::uint64_t perNode = std::uint64_t{recordLength} + sizeof(KsSortNode);
    std::uint64_t rest = memoryBytes > cache ? memoryBytes - cache : 0;
    std::uint64_t nodes =
        std::clamp<std::uint64_t>(rest / perNode, kMinimumNodes + 1, std::uint64_t{INT32_MAX} - 1) -
        1;
    return Limits{static_cast<std::uint32_t>(nodes), static_cast<std::uint32_t>(cache)};
}

void KsSort::Sort(KsSortInput& input, KsSortOutput& output, KsProgressInterface& progress) {
    if (input.IsAtEnd()) {
        return;
    }
    KsCallpath("Sort()", kClass, [&] { CheckRecordLength(input.GetRecordLength()); });
    progress.SetMaximum(static_cast<std::int32_t>(input.GetRecordCount()));
    progress.SetMinimum(0);
    recordLength_ = input.GetRecordLength();
    // Every path out of here closes and deletes the temporary files.
    KsScopeExit release([&] { ReleaseTemporaryFiles(false); });
    CreateTemporaryFiles();
    std::uint32_t runs = CreateInitialRuns(input, progress);
    MergeRuns(output, runs, progress);
    ReleaseTemporaryFiles(true);
    release.Dismiss();
}

void KsSort::CheckRecordLength(std::uint32_t recordLength) const {
    if (recordLength == 0) {
        KsException::Generate("Records need to have a length; length of zero is illegal", kClass);
    }
    const auto* key = dynamic_cast<const KsSortCKey*>(criterion_);
    if (key != nullptr && key->GetKeyLength() > recordLength) {
        KsException::Generate("A key of %u bytes is longer than the records of %u bytes", kClass,
                              key->GetKeyLength(), recordLength);
    }
}

void KsSort::CreateTemporaryFiles() {
    std::uint32_t bufferSize = cacheSize_ / fileCount_;
    const char* directory = tempDirectory_.IsEmpty() ? nullptr : tempDirectory_.GetCString();
    for (std::uint32_t i = 0; i < fileCount_; ++i) {
        if (i == 0) {
            // Run files of a sort that died between making one and taking its name away.
            KsReplacementFile::RemoveAbandonedTemporaries(
                factory_, directory != nullptr ? directory : KsPosix::TemporaryDirectory(),
                kTempPrefix);
        }
        KsString name;
        int claim = KsIOInterface::CreateClaimedTempFile(name, directory, kTempPrefix);
        KsScopeExit endClaim([&] { KsPosix::CloseFile(claim); });
        fileNames_.push_back(name);
        files_.push_back(std::make_unique<KsSortIOWrapper>(name.GetCString(), recordLength_,
                                                           bufferSize, true, true, factory_));
        // Open, the run file needs no name: without one, it goes with the process however
        // the process ends.
        factory_.Delete(name.GetCString());
        fileNames_.pop_back();
    }
}

void KsSort::ReleaseTemporaryFiles(bool report) {
    files_.clear();
    recordLength_ = 0;
    while (!fileNames_.empty()) {
        KsString name = std::move(fileNames_.back());
        fileNames_.pop_back();
        try {
            factory_.Delete(name.GetCString());
        } catch (const KsException&) {
            if (report) {
                throw;
            }
            // Already failing: the first error is the one to report.
        }
    }
}

std::uint32_t KsSort::CreateInitialRuns(KsSortInput& input, KsProgressInterface& progress) {
    return KsCallpath("CreateInitialRuns()", kClass, [&] {
        KsSortRunBuilder builder(static_cast<int>(nodesInMemory_), input.GetRecordLength());
        builder.SetDataSource(input, *criterion_);
        std::uint32_t half = fileCount_ / 2;
        std::uint32_t runs = 0;
        std::uint32_t counter = 0;
        while (builder.HasData()) {
            SetTitlef(progress, kTitleLimit, "Creating run %d...", static_cast<int>(runs + 1));
            builder.OutputSingleRun(*files_[runs % half], &progress, counter);
            ++runs;
        }
        input.Rewind();
        for (std::uint32_t i = 0; i < half; ++i) {
            files_[i]->Finish();
        }
        return runs;
    });
}

void KsSort::MergeRuns(KsSortOutput& output, std::uint32_t runCount,
                       KsProgressInterface& progress) {
    KsCallpath("MergeRuns()", kClass, [&] {
        std::uint32_t half = fileCount_ / 2;
        KsSortRunConsolidator merger(static_cast<int>(half), recordLength_);
        for (std::uint32_t i = 0; i < half; ++i) {
            merger.AddInput(*files_[i]);
        }
        std::uint32_t runs = runCount;
        std::uint32_t counter = 0;
        for (int pass = 1; runs > half; ++pass) {
            SetTitlef(progress, kTitleLimit, "Merging; pass %d...", pass);
            progress.SetPercent(0);
            counter = 0;
            merger.SetCriterion(*criterion_);
            merger.LoadHeap();
            merger.CopyRootToSpare();
            runs = 0;
            while (merger.HasData()) {
                merger.OutputSingleRun(*files_[half + runs % half], &progress, counter);
                ++runs;
            }
            progress.SetPercent(100);
            for (std::uint32_t i = 0; i < half; ++i) {
                files_[i]->Clear();
                std::swap(files_[i], files_[half + i]);
                files_[i]->Finish();
                merger.AddInput(*files_[i]);
            }
        }
        progress.SetTitle("Outputting sorted file...", 0);
        counter = 0;
        merger.SetCriterion(*criterion_);
        merger.LoadHeap();
        merger.CopyRootToSpare();
        merger.OutputSingleRun(output, &progress, counter);
        if (merger.HasData()) {
            KsException::Generate("Failed to end with single run for %u initial runs", kClass,
                                  runCount);
        }
        output.Finish();
    });
}
