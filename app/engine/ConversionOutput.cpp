#include "ConversionOutput.h"

#include <algorithm>
#include <climits>
#include <new>

#include "core/KsScopeExit.h"
#include "io/KsIO.h"
#include "platform/KsPosixFile.h"

namespace {

// Open flags of the output: read, write, create, truncate.
constexpr int kOutputFlags = IO_READ | IO_WRITE | IO_CREATE | IO_TRUNCATE;

bool IsRegularFile(const KsPosix::FileStatus& status) {
    return status.kind == KsPosix::FileKind::kRegular;
}

}  // namespace

std::uint64_t RecordLayout::WholeRecordBytes(std::uint64_t bytes) const {
    if (bytes <= leadingEmptyRecords || recordLength == 0) {
        return bytes;  // empty records are one line feed each
    }
    const std::uint64_t record = std::uint64_t{recordLength} + 1;
    return leadingEmptyRecords + (bytes - leadingEmptyRecords) / record * record;
}

ConversionOutput::ConversionOutput(const ConversionOptions& options, const RecordLayout& layout,
                                   KsIOFactory& factory)
    : layout_(layout), factory_(factory), name_(options.outputFile) {
    KsPosix::FileStatus status;
    if (options.outputDescriptor >= 0) {
        auto file = std::make_unique<KsIO>();
        file->OpenDescriptor(options.outputDescriptor, name_.c_str(), kOutputFlags);
        file->SetBufferSize(KsIO::kMaximumBufferSize);
        descriptor_ = options.outputDescriptor;
        regularFile_ = KsPosix::GetStatus(descriptor_, status) && IsRegularFile(status);
        // Records appended to what a file already holds ("mtconvert - - >> log") start
        // at its end, wherever the descriptor stands.
        recordsStart_ = std::max(file->Tell64(), status.size);
        file_ = std::move(file);
        return;
    }
    file_ = factory.Open(name_.c_str(), kOutputFlags);
    if (auto* buffered = dynamic_cast<KsIO*>(file_.get())) {
        buffered->SetBufferSize(KsIO::kMaximumBufferSize);
    }
    regularFile_ = KsPosix::GetStatus(name_.c_str(), status) && IsRegularFile(status);
}

ConversionOutput::~ConversionOutput() {
    if (file_ == nullptr) {
        return;
    }
    try {
        file_->Close();
    } catch (const KsException&) {
        // The error that stopped the run is the one reported.
        CutBack();
    }
}

void ConversionOutput::Write(const char* data, std::size_t count) {
    KsScopeExit cutBack([this] { CutBack(); });
    while (count > 0) {
        const auto part = static_cast<std::int32_t>(std::min<std::size_t>(count, INT32_MAX));
        file_->Write(data, part);
        data += part;
        count -= static_cast<std::size_t>(part);
    }
    cutBack.Dismiss();
}

void ConversionOutput::Close() {
    KsScopeExit cutBack([this] { CutBack(); });
    file_->Close();
    cutBack.Dismiss();
    file_.reset();
}

void ConversionOutput::CutBack() noexcept {
    // The file object may try its pending bytes once more as it goes; whatever of them
    // reaches the file is cut back with the rest.
    file_.reset();
    if (!regularFile_) {
        return;
    }
    try {
        if (descriptor_ >= 0) {
            CutBackDescriptor();
        } else {
            CutBackNamedFile();
        }
    } catch (const KsException&) {
        // The file keeps what it has; the write error says why.
    } catch (const std::bad_alloc&) {
        // The same, when not even the file object could be made.
    }
}

void ConversionOutput::CutBackNamedFile() {
    std::unique_ptr<KsIOInterface> file = factory_.Open(name_.c_str(), IO_READ | IO_WRITE);
    const std::int64_t size = file->GetFileSize64();
    const auto whole =
        static_cast<std::int64_t>(layout_.WholeRecordBytes(static_cast<std::uint64_t>(size)));
    if (whole < size) {
        // Truncate takes the bytes to remove from the end; 0 would empty the file.
        file->Truncate64(size - whole);
    }
    file->Close();
}

void ConversionOutput::CutBackDescriptor() {
    std::int64_t size = 0;
    if (!KsPosix::GetSize(descriptor_, size) || size <= recordsStart_) {
        return;
    }
    const auto written = static_cast<std::uint64_t>(size - recordsStart_);
    KsPosix::SetSize(descriptor_,
                     recordsStart_ + static_cast<std::int64_t>(layout_.WholeRecordBytes(written)));
}
