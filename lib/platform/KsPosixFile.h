#pragma once
/// @file
/// The operating-system file services the I/O classes use, as one small set of calls over
/// POSIX. Every call retries when a signal interrupts it; a failure is reported as -1 (or
/// false) with the reason left in errno, and the caller turns it into a library error.

#include <cstddef>
#include <cstdint>
#include <string>

namespace KsPosix {

/// @{
/// Flag bits understood by OpenFile; the values are those of the library's open flags.
inline constexpr int kRead = 0x01;
inline constexpr int kWrite = 0x02;
inline constexpr int kCreate = 0x08;
inline constexpr int kTruncate = 0x10;
/// @}

/// Opens `name`: read-only without kWrite, read-write with it; kCreate and kTruncate count
/// only with kWrite. New files get mode 0666 less the umask. Returns the descriptor or -1.
/// A directory is refused with EACCES, as the other platforms do. An existing name that is
/// no regular file (a FIFO, a terminal, a device) is opened write-only when kWrite is given
/// and never truncated: it is a stream to write to, and reading it back would wait for
/// input that never comes (or, for a FIFO, make this process a reader of its own output).
int OpenFile(const char* name, int flags);
/// Closes the descriptor; 0, or -1 with the reason in errno (the descriptor is gone
/// either way).
int CloseFile(int fd);

/// One read of at most `count` bytes (a pipe may give fewer); 0 at end of input.
std::int64_t ReadSome(int fd, void* buffer, std::size_t count);
/// Reads until `count` bytes came or the input ended; -1 only when nothing could be read.
/// `errorNumber` is set to the error that stopped a partial read (0 when none).
std::int64_t ReadFully(int fd, void* buffer, std::size_t count, int& errorNumber);
/// Writes all `count` bytes unless an error stops it; returns the bytes written, and sets
/// `errorNumber` to the error that stopped it (0 when all were written).
std::int64_t WriteFully(int fd, const void* buffer, std::size_t count, int& errorNumber);
/// @{
/// The same at a file offset, leaving the descriptor's position alone.
std::int64_t ReadFullyAt(int fd, void* buffer, std::size_t count, std::int64_t offset,
                         int& errorNumber);
std::int64_t WriteFullyAt(int fd, const void* buffer, std::size_t count, std::int64_t offset,
                          int& errorNumber);
/// @}

/// Moves the position (whence 0 start, 1 current, 2 end); the new position or -1.
std::int64_t Seek(int fd, std::int64_t offset, int whence);
/// Size from the file status; false on failure.
bool GetSize(int fd, std::int64_t& size);
/// Cuts or extends the file to `size` bytes (new bytes read as 0); 0 or -1.
int SetSize(int fd, std::int64_t size);
/// Waits until the file's data (and the size needed to read it) is on the storage device;
/// 0, or -1 with errno.
int SyncData(int fd);
/// The same for a directory's entries, so that a file created or removed in it stays so.
int SyncDirectory(const char* directory);
/// True when the descriptor can be positioned (false for pipes, sockets and terminals).
bool IsSeekable(int fd);
/// Whether the descriptor is open, and then whether it was opened for reading.
bool GetAccess(int fd, bool& readable);
/// True when both descriptors refer to the same file.
bool IsSameFile(int fd1, int fd2);

/// What a name or a descriptor refers to, from its file status.
enum class FileKind { kRegular, kDirectory, kFifo, kCharacterDevice, kSocket, kOther };
/// The parts of a file's status the library uses.
struct FileStatus {
    FileKind kind = FileKind::kOther;  ///< what the name or descriptor refers to
    std::uint64_t device = 0;          ///< the device holding the file
    std::uint64_t inode = 0;           ///< the file's number on its device
    std::int64_t size = 0;             ///< the size in bytes (regular files)

    /// The same file: the same device and inode.
    bool IsSameFileAs(const FileStatus& other) const {
        return device == other.device && inode == other.inode;
    }
};
/// @{
/// The status of the file `name` (symbolic links followed) or `fd` refers to; false, with
/// the reason in errno, when there is none.
bool GetStatus(const char* name, FileStatus& status);
bool GetStatus(int fd, FileStatus& status);
/// @}
/// True when both names exist and refer to the same file, whatever their spelling (links,
/// "..", a second path).
bool IsSameFile(const char* name1, const char* name2);

/// Whether `name` exists (whatever it refers to).
bool Exists(const char* name);
/// Removes the name `name`; 0, or -1 with the reason in errno.
int Remove(const char* name);
/// Renames `oldName` to `newName`, replacing a file of that name in one step; 0, or -1 with
/// the reason in errno.
int Rename(const char* oldName, const char* newName);
/// Gives `to` the permission bits of `from`; -1 when `from` does not exist or on failure.
int CopyPermissions(const char* from, const char* to);
/// Gives `to` the permission bits a file newly created with mode 0666 would get under the
/// process's file mode creation mask (0644 under the usual 022); 0, or -1 on failure.
int GiveNewFilePermissions(const char* to);

/// $TMPDIR when set and not empty, else /tmp.
std::string TemporaryDirectory();
/// Creates a new empty file named `directory`/`prefix` plus six random characters and
/// stores its name in `path`. Returns 0 or -1.
int CreateTemporaryFile(const std::string& directory, const char* prefix, std::string& path);

/// @{
/// Claims of ownership, apart from the byte-range locks below: an exclusive whole-file
/// flock held by one open descriptor, which the system drops when the process ends and
/// which no byte-range lock of the file conflicts with. CreateClaimedTemporaryFile makes a
/// file as CreateTemporaryFile does and claims it before anyone can see it unclaimed;
/// ClaimFile opens an existing file and claims it without waiting. Both return the
/// descriptor (closing it gives the claim up), or -1 with errno (EWOULDBLOCK: another
/// descriptor holds the claim).
int CreateClaimedTemporaryFile(const std::string& directory, const char* prefix, std::string& path);
int ClaimFile(const char* name);
/// @}

/// Byte-range locks of the open file description: they belong to this descriptor, not to
/// the process, so closing another descriptor of the same file keeps them. A length of 0
/// means from `offset` to the end of any possible file.
enum class LockResult { kGranted, kBusy, kFailed };
/// Locks `length` bytes from `offset`, shared or `exclusive`; with `wait` until no other
/// lock is in the way, else kBusy at once when one is. kFailed leaves the reason in errno.
LockResult LockRange(int fd, bool exclusive, std::uint64_t offset, std::uint64_t length, bool wait);
/// Releases the locks of this descriptor on the range; 0, or -1 with the reason in errno.
int UnlockRange(int fd, std::uint64_t offset, std::uint64_t length);
/// Whether another open file description holds a lock that conflicts with the given one.
/// Used by tests and diagnostics.
bool IsRangeLockedByOthers(int fd, bool exclusive, std::uint64_t offset, std::uint64_t length);

}  // namespace KsPosix
