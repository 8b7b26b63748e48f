#pragma once
/// @file

#include <fcntl.h>

#include <cstdint>
#include <memory>

#include "core/KsString.h"
#include "io/KsStreamInterface.h"

class KsIOFactory;
class KsProgressInterface;

/// Open flags; callers pass literal numbers, so the values are fixed.
inline constexpr int IO_READ = 0x01;      ///< open for reading
inline constexpr int IO_WRITE = 0x02;     ///< the file is then opened for reading and writing
inline constexpr int IO_TEXT = 0x04;      ///< no effect here: text and binary files are the same
inline constexpr int IO_CREATE = 0x08;    ///< with IO_WRITE only: make a missing file
inline constexpr int IO_TRUNCATE = 0x10;  ///< with IO_WRITE only: empty the file
inline constexpr int IO_APPEND = 0x20;    ///< with IO_WRITE only: start at the end of the file

// glibc's <fcntl.h> defines LOCK_READ and LOCK_WRITE as macros of an obsolete flock mode
// (64 and 128). It is included above, so that its guard keeps the macros from coming back
// in files that include it later, and the library's names replace them.
#undef LOCK_READ
#undef LOCK_WRITE
/// Lock types; they may also be given to Open as hints, which it keeps but ignores.
inline constexpr int LOCK_READ = 0x100;   ///< shared
inline constexpr int LOCK_WRITE = 0x200;  ///< exclusive

/// The abstract random-access file: the typed stream operations plus positioning, sizes,
/// positioned reads and writes, truncation and byte-range locks. Operating-system files,
/// memory blobs and second positions on open files all implement it. The statics create,
/// delete, rename and copy files by name.
class KsIOInterface : public KsStreamInterface {
public:
    /// Closes the file.
    ~KsIOInterface() override = default;

    void GetFileName(KsString& out) override;
    /// A new object of the same class on the same file: a second handle with the same flags
    /// and the same position.
    virtual std::unique_ptr<KsIOInterface> Clone() const = 0;
    /// A new object of the same class opened on `name` with `flags`.
    virtual std::unique_ptr<KsIOInterface> CreateNew(const char* name, int flags) const = 0;
    /// Flushes and closes; harmless when closed.
    virtual void Close() = 0;
    /// Writes pending buffered bytes to the file.
    virtual void Flush() = 0;
    /// Flushes and waits until the file's bytes are on the storage device; a file class
    /// that cannot tell only flushes.
    virtual void Sync() { Flush(); }
    /// Writes pending bytes and forgets the bytes read ahead, so that the next read sees what
    /// other processes wrote since (called after taking a lock). The position is kept.
    virtual void DiscardReadAhead() { Flush(); }
    /// The name the file was opened with; empty when closed.
    virtual const char* GetFileName() const = 0;
    /// @{
    /// The size of the file in bytes, pending writes included.
    virtual std::int32_t GetFileSize() const = 0;
    virtual std::int64_t GetFileSize64() const = 0;
    /// @}
    /// True when the position is at or past the end of the file.
    virtual bool IsEOF() const = 0;
    /// Whether a file is open.
    virtual bool IsOpen() const = 0;
    /// The flags given to Open.
    virtual int GetFlags() const = 0;
    /// Waits until the range is locked; a length of 0 means to the end of any file.
    virtual void Lock(int type, std::uint64_t offset, std::uint64_t length) = 0;
    /// Opens a file, closing any open one first.
    virtual void Open(const char* name, int flags) = 0;
    /// Reads at `offset` without moving the position.
    virtual std::int32_t ReadFrom(std::uint64_t offset, void* buffer, std::int32_t count,
                                  bool required) = 0;
    /// Origin 0 counts from the start, 1 from the position, 2 from the end. Returns the new
    /// position (its low 32 bits).
    virtual std::int32_t Seek(std::int32_t offset, int origin) = 0;
    /// @{
    /// 64-bit forms of Seek; here they accept only offsets that fit in 32 bits.
    virtual std::int64_t Seek64Absolute(std::int64_t offset);
    virtual std::int64_t Seek64FromCurrent(std::int64_t offset);
    virtual std::int64_t Seek64FromEnd(std::int64_t offset);
    /// @}
    /// @{
    /// The position, counted from the start of the file.
    virtual std::int32_t Tell() const = 0;
    virtual std::int64_t Tell64() const;
    /// @}
    /// Removes `count` bytes from the end of the file; 0 empties it.
    virtual void Truncate(std::int32_t count) = 0;
    /// Empties the file.
    virtual void Truncate64();
    /// Removes `count` bytes from the end of the file, as Truncate.
    virtual void Truncate64(std::int64_t count);
    /// True when the range is now held, false when another holder has it.
    virtual bool TryLock(int type, std::uint64_t offset, std::uint64_t length) = 0;
    /// Releases one hold on the range; true when this object no longer holds it.
    virtual bool UnLock(int type, std::uint64_t offset, std::uint64_t length) = 0;
    /// Writes at `offset` without moving the position.
    virtual void WriteTo(std::uint64_t offset, const void* buffer, std::int32_t count) = 0;

    /// Leaves an empty file named `name`.
    static void Create(const char* name);
    /// Whether a file of that name exists.
    static bool Exists(const char* name);
    /// Removes the file; raises only when it still exists afterwards.
    static void Delete(const char* name);
    /// Renames, or copies and deletes when the file cannot simply be renamed. These
    /// statics work on real files through KsIOFactory::Default().
    static void Rename(const char* newName, const char* oldName);
    /// Copies a whole file under a read lock on the source and a write lock on the
    /// destination; `progress` may be null.
    static void Copy(const char* destination, const char* source,
                     KsProgressInterface* progress = nullptr);
    /// The same with files made by `factory`. When it raises, the destination may hold
    /// part of the source.
    static void Copy(const char* destination, const char* source, KsProgressInterface* progress,
                     KsIOFactory& factory);
    /// Copies `count` bytes from `sourceOffset` of `source` to `destinationOffset` of
    /// `destination` in blocks of 8192 bytes, reporting each block to `progress` (may be
    /// null); raises KsIOCanceledException when the progress says stop.
    static void CopyBlock(KsIOInterface& source, KsIOInterface& destination,
                          std::int64_t destinationOffset, std::int64_t sourceOffset,
                          std::int64_t count, KsProgressInterface* progress = nullptr);
    /// Creates a new empty file with a unique name in `directory` (the temporary directory
    /// when null) whose name starts with `prefix`; stores the name in `out` and returns it.
    static const char* GetTempFileName(KsString& out, const char* directory, const char* prefix);
    /// The same, the new file claimed by this process (see KsReplacementFile) before anyone
    /// can see it: returns the descriptor that holds the claim, which the caller closes.
    static int CreateClaimedTempFile(KsString& out, const char* directory, const char* prefix);

protected:
    friend class KsIOFactory;  // raises the open-failure error of a failed delete

    KsIOInterface() = default;
    /// @{
    /// Files copy only in their concrete classes (see Clone).
    KsIOInterface(const KsIOInterface&) = default;
    KsIOInterface& operator=(const KsIOInterface&) = default;
    /// @}

    /// The checks every Open makes first: a name, and IO_READ or IO_WRITE.
    static void CheckOpenArguments(const char* name, int flags, const char* className);
    /// The start of every Open: checks the arguments, keeps the name (which may be this
    /// object's own) in `opened`, closes the open file and opens the operating-system file
    /// with `systemFlags`. Returns the descriptor; `position` receives where it stands.
    int ReopenSystemFile(const char* name, int systemFlags, int flags, const char* className,
                         KsString& opened, std::int64_t& position);
    /// Opens the operating-system file for `flags` and returns its descriptor, placed at
    /// the end with IO_APPEND (`position` receives where it is). Raises the open failure.
    static int OpenSystemFile(const char* name, int flags, const char* className,
                              std::int64_t& position);
    /// Raises KsFileOpenFailedException "Error in <verb> file '<name>'.  <reason>".
    [[noreturn]] static void ThrowOpenFailed(const char* verb, const char* name, int errorNumber,
                                             const char* className);
    /// A size or position as 32 bits, or "This IO object does not support 64-bit files".
    static std::int32_t As32Bits(std::int64_t value, const char* className);
    /// The flags with which a copy reopens a file: never truncating or creating it.
    static int FlagsForCopy(int flags) { return flags & ~(IO_TRUNCATE | IO_CREATE); }
};
