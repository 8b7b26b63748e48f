#pragma once
/// @file
/// A file of fixed-length records that a sort writes runs to and reads them back from. The
/// record count starts at the file's size / record length and grows with every write;
/// Finish makes the file ready to be read from its start.

#include <cstdint>
#include <memory>

#include "index/KsSort.h"
#include "io/KsIOFactory.h"
#include "io/KsIOInterface.h"

/// A temporary file of a sort: records of one length written and read back in turn.
class KsSortIOWrapper : public KsSortInput, public KsSortOutput {
public:
    /// Opens `fileName` for reading and writing (creating and truncating it when asked)
    /// through `factory`, with a buffer of `bufferSize` bytes.
    KsSortIOWrapper(const char* fileName, std::uint32_t recordLength, std::uint32_t bufferSize,
                    bool create, bool truncate, KsIOFactory& factory = KsIOFactory::Default());

    bool IsAtEnd() override { return readPosition_ >= recordCount_; }
    void GetNextRecord(void* buffer) override;
    /// The file's size / record length.
    std::uint32_t GetRecordCount() override;
    std::uint32_t GetRecordLength() override { return recordLength_; }
    void Rewind() override;
    void PutNextRecord(std::uint32_t length, const void* record) override;
    /// Writes what is buffered and rewinds for reading.
    void Finish() override;
    /// Empties the file: no records, read position 0.
    void Clear();
    /// The file's name.
    const char* GetFileName() const { return file_->GetFileName(); }

private:
    std::unique_ptr<KsIOInterface> file_;
    std::uint32_t recordLength_;
    std::uint32_t recordCount_ = 0;
    std::uint32_t readPosition_ = 0;
};
