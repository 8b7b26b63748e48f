#pragma once
/// @file

#include <cstdint>
#include <memory>

#include "core/KsString.h"
#include "io/KsIOInterfaceWithLocking.h"

/// The buffered operating-system file. Sequential reads and writes go through one buffer
/// (8000 bytes unless set, between 8000 and 1,024,000), a window on the file that moves
/// forward as it is used up, so the operating system is called once per buffer. The window
/// mirrors the file as it will be after the next flush; pending bytes reach the file when
/// the window moves, on Flush, Truncate, SetBufferSize, Close and destruction, and only the
/// range of the window that was written goes back. Positioned reads and writes use the
/// buffer only where they overlap it. A seek far from the window loads one small aligned
/// block around its target, so random access does not read whole buffers; each load that
/// follows on from the window doubles, up to the capacity, so sequential reading soon
/// reads whole buffers again.
///
/// Sizes, IsEOF and positioned reads count the bytes still pending in the buffer. Close
/// reports a failed flush or close; the destructor cannot, so a writer that must know calls
/// Close. A failed flush (from Flush, Close, or a Write that fills the buffer) leaves the
/// file open and the bytes pending, so that a later Flush or Close writes them; after a
/// failed Write, Tell() shows how many of its bytes the buffer took.
/// KsIO also works on pipes and terminals for purely sequential use: adopted descriptors
/// (OpenDescriptor), and FIFOs, terminals and devices opened by name for writing, which
/// are written as streams, never read back.
class KsIO : public KsIOInterfaceWithLocking {
public:
    /// The buffer's capacity unless SetBufferSize changes it.
    static constexpr std::int32_t kDefaultBufferSize = 8000;
    /// @{
    /// The bounds SetBufferSize clamps to.
    static constexpr std::int32_t kMinimumBufferSize = 8000;
    static constexpr std::int32_t kMaximumBufferSize = 1024000;
    /// @}
    /// What a seek far from the window loads first: one aligned block around its target.
    static constexpr std::int32_t kRandomReadBlock = 4096;

    KsIO() = default;
    /// Opens `name` with the open flags (see Open); raises when it cannot.
    KsIO(const char* name, int flags);
    /// A second handle on the other object's file, at its position. The file is reopened
    /// without IO_TRUNCATE and IO_CREATE, so a copy never empties or recreates it.
    KsIO(const KsIO& other);
    /// Closes this file, then becomes a second handle as the copy constructor does.
    KsIO& operator=(const KsIO& other);
    ~KsIO() override;

    using KsIOInterface::GetFileName;
    std::int32_t Read(void* buffer, std::int32_t count, bool required) override;
    void Write(const void* buffer, std::int32_t count) override;
    std::unique_ptr<KsIOInterface> Clone() const override;
    std::unique_ptr<KsIOInterface> CreateNew(const char* name, int flags) const override;
    void Close() override;
    void Flush() override;
    void Sync() override;
    void DiscardReadAhead() override;
    const char* GetFileName() const override { return name_.GetCString(); }
    std::int32_t GetFileSize() const override;
    std::int64_t GetFileSize64() const override;
    bool IsEOF() const override;
    bool IsOpen() const override { return fd_ >= 0; }
    int GetFlags() const override { return flags_; }
    void Open(const char* name, int flags) override;
    std::int32_t ReadFrom(std::uint64_t offset, void* buffer, std::int32_t count,
                          bool required) override;
    std::int32_t Seek(std::int32_t offset, int origin) override;
    /// The position; raises when it does not fit in 32 bits (Tell64 gives it whole).
    std::int32_t Tell() const override;
    std::int64_t Tell64() const override { return start_ + position_; }
    void Truncate(std::int32_t count) override;
    void WriteTo(std::uint64_t offset, const void* buffer, std::int32_t count) override;
    std::unique_ptr<KsIOLock> CreateLock(int type, std::uint64_t offset,
                                         std::uint64_t length) override;

    /// Reads what the file holds at hand, for readers that scan the bytes themselves: at
    /// least one byte unless the input has ended (waiting for it if need be), at most
    /// `count`, and no more once some came, so that a pipe or terminal gives its lines as
    /// they arrive. Returns the bytes read; 0 at the end of the input.
    std::int32_t ReadAvailable(void* buffer, std::int32_t count);

    /// Changes the buffer's capacity, clamped to [8000, 1,024,000].
    void SetBufferSize(std::int32_t size);
    /// The buffer's capacity in bytes.
    std::int32_t GetBufferSize() const { return capacity_; }

    /// Adopts an open descriptor (for example 0 or 1) under a display name. The descriptor
    /// is never truncated or reopened, and Close leaves it open. Pipes and terminals work
    /// for sequential reading or writing; seeking them fails.
    void OpenDescriptor(int fd, const char* name, int flags);
    /// The descriptor, -1 while closed.
    int GetDescriptor() const { return fd_; }

protected:
    std::int32_t ReadLineBytes(char* buffer, std::int32_t limit) override;
    /// What the destructor does: writes what is pending, ignoring a failure, and closes.
    /// A derived class whose system-call hooks must see these last calls runs it from its
    /// own destructor.
    void CloseForDestruction() noexcept;

private:
    struct Descriptor {
        bool owned = true;
        bool seekable = true;
        bool readable = true;
    };
    /// Takes over an open descriptor: buffer, base lock, first window at `position`.
    void Attach(int fd, const KsString& name, int flags, Descriptor kind, std::int64_t position);
    /// Moves the position to `target`; `offset` is what the caller asked for, for the message.
    std::int64_t MoveTo(std::int64_t target, std::int64_t offset);
    [[noreturn]] void ThrowSeekFailed(int errorNumber, std::int64_t offset) const;
    /// Closes without flushing; used when an error leaves no other way. Returns the
    /// error of the operating system's close, 0 when none.
    int Abandon() noexcept;
    void CopyFrom(const KsIO& other);
    /// Opens the file with `systemFlags` and keeps `flags` as the object's flags.
    void OpenAs(const char* name, int systemFlags, int flags);
    void CheckReadable() const;
    void CheckCount(std::int32_t count) const;

    /// Writes the pending bytes of the window, if any; the window stays. Raises on failure.
    void WritePending();
    /// The same without raising: the error number (0 when none) and the bytes written.
    int TryWritePending(std::int64_t& written) noexcept;
    /// Moves the window to `start` and fills it from the file, with at most the next load's
    /// size.
    void LoadWindow(std::int64_t start);
    /// Loads the small aligned block around `target` and stands at `target` in it.
    void LoadBlockAround(std::int64_t target);
    /// The window's bytes [from, to) wait to be written.
    void MarkPending(std::int32_t from, std::int32_t to);
    /// One read of at most `count` bytes at `offset` into `into`; the bytes read.
    std::int32_t ReadSomeAt(char* into, std::int32_t count, std::int64_t offset);
    // Whether reads name their offset (pread) instead of moving the descriptor first.
    bool Positioned() const;
    /// The window is used up: flush it and load the next one at the position. False at the
    /// end of the file.
    bool Refill();
    /// Moves the descriptor to `offset` unless it is there already; -1 on failure.
    std::int64_t MoveDescriptor(std::int64_t offset);
    /// An empty window starting at file offset `start`.
    void EmptyWindowAt(std::int64_t start);
    /// Whether `target` can be reached by moving inside the window.
    bool IsInWindow(std::int64_t target) const;
    /// Zero bytes, or the file's, between the window's end and a position beyond it.
    void FillGap();
    /// The file's size after the next flush.
    std::int64_t LogicalSize() const;
    /// Direct positioned transfers that bypass the window.
    std::int64_t DirectRead(char* buffer, std::int64_t count, std::int64_t offset);
    std::int64_t DirectWrite(const char* buffer, std::int64_t count, std::int64_t offset,
                             int& errorNumber);

    int fd_ = -1;
    int flags_ = 0;
    KsString name_;
    std::unique_ptr<char[]> buffer_;  // allocated on first use, kept across Close and Open
    std::int32_t position_ = 0;       // next byte of the window to read or write
    std::int32_t valid_ = 0;          // meaningful bytes in the window
    std::int32_t capacity_ = kDefaultBufferSize;
    std::int64_t start_ = 0;         // file offset of the window's first byte
    bool clean_ = true;              // no bytes wait to be written
    std::int32_t pendingBegin_ = 0;  // the written range of the window, while not clean
    std::int32_t pendingEnd_ = 0;
    std::int32_t nextLoad_ = kMaximumBufferSize;  // bytes the next load reads, within capacity
    std::int64_t descriptorPosition_ = 0;  // where the descriptor stands, so no seek is wasted
    bool owned_ = true;                    // false for an adopted descriptor
    bool seekable_ = true;
    bool readable_ = true;  // false for a write-only descriptor: windows start empty
};
