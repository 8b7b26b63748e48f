#include "index/KsSortIOWrapper.h"

#include <cstdio>

#include "core/KsCallpath.h"
#include "core/KsException.h"
#include "io/KsIO.h"

namespace {
constexpr const char* kClass = "KsSortIOWrapper";
}

KsSortIOWrapper::KsSortIOWrapper(const char* fileName, std::uint32_t recordLength,
                                 std::uint32_t bufferSize, bool create, bool truncate,
                                 KsIOFactory& factory)
    : recordLength_(recordLength) {
    KsCallpath("KsSortIOWrapper()", kClass, [&] {
        if (recordLength == 0) {
            KsException::Generate("Records need to have a length; length of zero is illegal",
                                  kClass);
        }
        int flags = IO_READ | IO_WRITE | (create ? IO_CREATE : 0) | (truncate ? IO_TRUNCATE : 0);
        file_ = factory.Open(fileName, flags);
        if (auto* buffered = dynamic_cast<KsIO*>(file_.get())) {
            buffered->SetBufferSize(static_cast<std::int32_t>(
                bufferSize < static_cast<std::uint32_t>(KsIO::kMaximumBufferSize)
                    ? bufferSize
                    : static_cast<std::uint32_t>(KsIO::kMaximumBufferSize)));
        }
        recordCount_ = GetRecordCount();
    });
}

void KsSortIOWrapper::GetNextRecord(void* buffer) {
    file_->Read(buffer, static_cast<std::int32_t>(recordLength_), true);
    ++readPosition_;
}

std::uint32_t KsSortIOWrapper::GetRecordCount() {
    return static_cast<std::uint32_t>(file_->GetFileSize64() / recordLength_);
}

void KsSortIOWrapper::Rewind() {
    readPosition_ = 0;
    file_->Seek64Absolute(0);
}

void KsSortIOWrapper::PutNextRecord(std::uint32_t length, const void* record) {
    file_->Write(record, static_cast<std::int32_t>(length));
    ++recordCount_;
}

void KsSortIOWrapper::Finish() {
    readPosition_ = 0;
    file_->Flush();
    file_->Seek64Absolute(0);
}

void KsSortIOWrapper::Clear() {
    file_->Seek64Absolute(0);
    file_->Truncate64(0);
    recordCount_ = 0;
    readPosition_ = 0;
}
