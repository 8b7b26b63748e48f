#pragma once
// The files of a table named on the command line, and a table opened under a lock of its
// whole data file.

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "files/CBFFile.h"
#include "io/KsIOLockGuard.h"

// The two files of a table given with or without ".cbf" or ".kss".
struct TableFiles {
    std::string data;    // NAME.cbf
    std::string header;  // NAME.kss
};
TableFiles TableFilesOf(const std::string& given);
// Raises MissingFileError for a folder given where a file is wanted (which opening it would
// report as a refused permission).
void RefuseFolder(const std::string& name);
// NAME.klg, the table's transaction log.
std::string LogFileOf(const TableFiles& files);
// What processes that are gone left beside the table and the next open for writing did not
// take up (a repair that failed, say), one line each naming the file.
std::vector<std::string> AbandonedLeftovers(const TableFiles& files);

// Ctrl-C arrived; the command stops where it is.
struct Interrupted {};

// Opens a table under a byte-range lock of its whole data file, shared for reading or
// exclusive for writing, held until the object goes. The lock is taken on a handle of its
// own before the table is opened, so that a failed import can still cut the data file back
// through a handle with nothing unwritten, under the same lock. While another process holds
// a conflicting lock the constructor says so once on standard error and waits; Ctrl-C
// stops the wait (Interrupted). A missing data file is a UsageError.
class LockedTable {
public:
    // The repairs the open for writing made are said on `repairs` (standard error for every
    // command but recover).
    LockedTable(const TableFiles& files, bool forWriting, FILE* repairs = stderr);
    LockedTable(const LockedTable&) = delete;
    LockedTable& operator=(const LockedTable&) = delete;

    CBFFile& Table() { return table_; }
    // Closes the table, raising a failure to write it, and then gives up the lock.
    void Close();
    // Undoes appends: closes the table, ignoring a failure to write what it still holds,
    // and cuts the data file to `size` bytes through the lock's own handle, which has
    // nothing unwritten, so that even a full disk lets the cut happen. The lock stays.
    // Returns the reason when the cut failed, else an empty text.
    std::string CloseAndCutBack(std::int64_t size) noexcept;

private:
    std::unique_ptr<KsIOInterface> lockHandle_;
    std::optional<KsIOLockGuard> lock_;
    CBFFile table_;  // declared last: closed before the lock goes
};
