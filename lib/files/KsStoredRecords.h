#pragma once
/// @file
/// The stored bytes of a table that keeps its records as fixed-length blocks, read and
/// written as they lie in the data file.

#include <cstdint>

/// The records of a table as the bytes its data file holds, GetRecordLength() each, read or
/// written without indexes, sets or listeners taking part: a copy of records that a change
/// is about to move, and putting that copy back. A table offers it through
/// KsFile::GetStoredRecords.
class KsStoredRecords {
public:
    /// The bytes of one stored record.
    virtual std::int16_t GetRecordLength() const = 0;
    /// @{
    /// The bytes of `count` records from record `first`. Writing may go past the last
    /// record; the table then ends with the records written. At most INT32_MAX bytes a call.
    virtual void ReadStoredRecords(std::int32_t first, std::int32_t count, char* to) = 0;
    virtual void WriteStoredRecords(std::int32_t first, std::int32_t count, const char* from) = 0;
    /// @}

protected:
    KsStoredRecords() = default;
    KsStoredRecords(const KsStoredRecords&) = default;
    KsStoredRecords& operator=(const KsStoredRecords&) = default;
    ~KsStoredRecords() = default;
};
