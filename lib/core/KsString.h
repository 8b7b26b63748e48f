#pragma once
/// @file
/// The library's string, KsString.

#include <cstdarg>
#include <cstdint>
#include <memory>

#include "core/KsArrayPointerObject.h"
#include "core/KsCallpath.h"
#include "core/KsException.h"
#include "core/KsResizableChunk.h"

/// Commands written to a KsString with operator<<.
enum KsStringCommand : int {
    StringReset = 0,   ///< empties the string
    StringNewLine = 1  ///< appends "\r\n"
};

/// The library's owned, growable, NUL-terminated byte string.
///
/// The content is the bytes before the first NUL of the buffer; the length is counted on
/// demand. The capacity grows in blocks (32 bytes unless Init says otherwise) and never
/// shrinks. Errors are KsException objects of class "KsString" with the parameter's name
/// in the message ("null pointer: pString", "index (value=%d) is out of range, [%d, %d]");
/// growing raises KsMemoryException when memory runs out. Positions count from 0.
class KsString : public KsArrayPointerObject {
public:
    /// Returned by Find when nothing matches.
    static constexpr std::uint32_t npos = 0xFFFFFFFFu;

    /// A copy of the text `s`; null gives an empty string.
    KsString(const char* s = nullptr);
    /// The one character `c` (an empty string for NUL).
    KsString(char c);
    /// A copy of the content of `other` with its own buffer.
    KsString(const KsString& other) = default;
    /// Replaces the content by that of `other`, growing the buffer when needed.
    KsString& operator=(const KsString& other);
    /// Replaces the content by the text `s` (see Copy).
    KsString& operator=(const char* s) { return Copy(s); }
    ~KsString() override = default;

    /// A new copy owned by the caller.
    KsString* Clone() const override { return new KsString(*this); }

    /// Sets the block size, makes room for blockSize characters and empties the string.
    void Init(std::int32_t blockSize);

    /// The number of bytes before the first NUL, counted on each call.
    std::uint32_t GetLength() const;
    /// The content, NUL-terminated; valid until the string next changes.
    const char* GetCString() const { return buffer_.GetData(); }
    /// The buffer's size in bytes, its terminating NUL included.
    std::uint32_t GetCapacity() const { return buffer_.GetChunkSize(); }
    /// Whether the content is empty.
    bool IsEmpty() const { return buffer_.GetData()[0] == '\0'; }

    /// Empties the string and keeps its capacity.
    void Clear() { buffer_.GetData()[0] = '\0'; }
    /// Replaces the content by the text `s` (which may point into this string); null
    /// empties it.
    KsString& Copy(const char* s);

    /// The byte at `i`; raises when `i` is not below the length.
    char GetCharAt(std::uint32_t i) const;
    /// Replaces the byte at `i`; raises when `i` is not below the length. A NUL cuts the
    /// string there.
    void SetCharAt(std::uint32_t i, char c);
    /// The `length` bytes from `start`, or all from `start` when `length` is negative;
    /// raises when `start` is past the end or fewer than `length` bytes follow it.
    KsString GetSubstring(std::uint32_t start, std::int32_t length) const;

    /// @{
    /// The position of the first match at or after `start`, or with `last` of the last
    /// match at or after it; npos when there is none. An empty text matches at `start`.
    /// Raises for a null text ("null pointer: sString") or a `start` past the end.
    std::uint32_t Find(const char* s, std::uint32_t start = 0, bool last = false) const;
    std::uint32_t Find(char c, std::uint32_t start = 0, bool last = false) const;
    std::uint32_t Find(const KsString& s, std::uint32_t start = 0, bool last = false) const {
        return Find(s.GetCString(), start, last);
    }
    /// @}
    /// Whether the content starts with `s`; raises for null.
    bool BeginsWith(const char* s) const;
    /// @{
    /// Whether the content ends with `s` (raises for null) or with the byte `c`.
    bool EndsWith(const char* s) const;
    bool EndsWith(char c) const;
    /// @}

    /// @{
    /// Byte-wise comparison of the contents, as strcmp orders them.
    bool operator==(const KsString& other) const;
    bool operator==(const char* s) const;
    bool operator<(const KsString& other) const;
    /// @}

    /// @{
    /// Appends a text (all of it, or its first `count` bytes), a byte, another string
    /// (which may be this one) or a number in decimal (doubles with six decimals, "%lf")
    /// and returns this string. A null text raises "null pointer: pString".
    KsString& Append(const char* s);
    KsString& Append(const char* s, std::uint32_t count);
    KsString& Append(char c);
    KsString& Append(const KsString& s);
    KsString& Append(short value);
    KsString& Append(int value);
    KsString& Append(long value);
    KsString& Append(unsigned short value);
    KsString& Append(unsigned int value);
    KsString& Append(unsigned long value);
    KsString& Append(double value);
    /// @}

    /// @{
    /// Appends like Append; a bool as "true" or "false".
    KsString& operator<<(const char* s) { return Append(s); }
    KsString& operator<<(char c) { return Append(c); }
    KsString& operator<<(const KsString& s) { return Append(s); }
    KsString& operator<<(short value) { return Append(value); }
    KsString& operator<<(int value) { return Append(value); }
    KsString& operator<<(long value) { return Append(value); }
    KsString& operator<<(unsigned short value) { return Append(value); }
    KsString& operator<<(unsigned int value) { return Append(value); }
    KsString& operator<<(unsigned long value) { return Append(value); }
    KsString& operator<<(double value) { return Append(value); }
    KsString& operator<<(bool value) { return Append(value ? "true" : "false"); }
    /// @}
    /// Carries out a KsStringCommand.
    KsString& operator<<(KsStringCommand command);

    /// Inserts the text `s` before `position` (the length appends); raises for null or a
    /// position past the end.
    KsString& Insert(const char* s, std::uint32_t position);
    /// Inserts `count` copies of `c` before `position`; raises for a position past the end.
    KsString& Insert(char c, std::uint32_t position, std::uint16_t count = 1);
    /// Removes `count` bytes from `start`; raises when they run past the end.
    KsString& Remove(std::uint32_t start, std::uint32_t count);
    /// Removes every occurrence of the byte `c`.
    KsString& RemoveChar(char c);
    /// Cuts the string to `length` bytes; raises when it is shorter than that.
    KsString& Truncate(std::uint32_t length);
    /// Maps ASCII letters to upper case; other bytes stay.
    KsString& ToUpper();
    /// Maps ASCII letters to lower case; other bytes stay.
    KsString& ToLower();

    /// @{
    /// Replaces the content by the formatted text; the arguments may point into this
    /// string. A format the C library rejects raises and leaves the string as it was.
    KS_PRINTF(2, 3) KsString& printf(const char* format, ...);
    KS_PRINTF(2, 0) KsString& vprintf(const char* format, va_list args);
    /// @}

    /// Makes room for newLength characters; the capacity becomes a multiple of the block
    /// size. Raises when newLength is below 1.
    void ResizeStringBuffer(std::int32_t newLength);

    /// Writes the stream form: a 32-bit length counting the NUL, then the bytes with their
    /// NUL. Any stream with WriteCString serves, so strings need nothing of the I/O layer.
    template <class OutputStream>
    void Write(OutputStream& stream) const {
        KsCallpath("Write()", "KsString", [&] { stream.WriteCString(GetCString()); });
    }
    /// Replaces the content by a string read in the form Write gives; the stream's errors
    /// pass through with this function's call-path line.
    template <class InputStream>
    void Read(InputStream& stream) {
        KsCallpath("Read()", "KsString", [&] {
            char* text = nullptr;
            stream.ReadCString(text);
            std::unique_ptr<char[]> owner(text);
            Copy(text);
        });
    }

private:
    KsString& AppendBytes(const char* s, std::uint32_t n);
    KsString& InsertBytes(const char* s, std::uint32_t n, std::uint32_t position);
    KS_PRINTF(2, 3) KsString& AppendNumber(const char* format, ...);

    KsResizableChunk buffer_;
    std::uint32_t blockSize_ = 32;
};
