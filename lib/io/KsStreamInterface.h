#pragma once
/// @file
/// Typed binary reads and writes and line-oriented text reads and writes, each built on a
/// single primitive (Read or Write) that a concrete stream provides. Binary values are
/// little-endian without padding: 16-bit shorts, 32-bit ints and longs, 64-bit unsigned
/// values, IEEE doubles; a C string is a 32-bit length that counts its NUL, then its bytes.
/// Text lines end in "\n" or "\r\n"; WriteLine writes "\r\n".

#include <cstdint>

#include "core/KsString.h"

/// The reading half of a stream: typed binary values, strings, object headers and text
/// lines, all read through Read. A short input raises the stream's error naming its file.
class KsInputStreamInterface {
public:
    virtual ~KsInputStreamInterface() = default;
    /// Fills `out` with the name of the underlying file.
    virtual void GetFileName(KsString& out) = 0;
    /// Reads up to `count` bytes; returns how many came. With `required`, fewer than `count`
    /// bytes is an error.
    virtual std::int32_t Read(void* buffer, std::int32_t count, bool required) = 0;

    /// 0 reads as false, anything else as true.
    bool ReadBool();
    /// @{
    /// Reads a little-endian value of the type's width (2, 4 or 8 bytes; a long is 32 bits);
    /// fewer bytes than that raise the stream's error.
    std::int16_t ReadShort();
    std::uint16_t ReadUnsignedShort();
    std::int32_t ReadInt();
    std::int32_t ReadLong();
    std::uint32_t ReadUnsignedLong();
    std::uint64_t ReadUnsignedNative();
    double ReadDouble();
    /// @}
    /// Releases what `out` holds, then reads a length-prefixed string into a new block that
    /// the caller owns (delete[]); a length of 0 gives an empty string.
    char* ReadCString(char*& out);
    /// Checks an object header written by WriteKsHeader and returns its version; a marker
    /// other than `marker` raises KsIOStreamingException "Invalid header found".
    std::int16_t ReadKsHeader(char marker);
    /// Reads bytes up to and including `terminator` into `out` (a NUL adds nothing).
    void ReadString(KsString& out, char terminator);
    /// Reads one line into `buffer` (at most size - 1 bytes), without its line end.
    /// Returns the bytes consumed, line end included; 0 at end of input. A line longer than
    /// the buffer comes in pieces of size - 1 bytes. "\r" not followed by "\n" is an error.
    std::int32_t ReadLine(char* buffer, std::int32_t size);
    /// Reads one whole line of any length into `out`, without its line end. Returns the bytes
    /// consumed: 0 only at end of input; an empty line gives 1 ("\n") or 2 ("\r\n"). A NUL
    /// byte ends the text of the 1023-byte piece it is in.
    std::uint32_t ReadLine(KsString& out);
    /// As above; `containsNul` tells whether any byte of the line before its end was NUL,
    /// that is whether `out` lost bytes.
    std::uint32_t ReadLine(KsString& out, bool& containsNul);

protected:
    KsInputStreamInterface() = default;
    /// @{
    /// Streams copy only in their concrete classes.
    KsInputStreamInterface(const KsInputStreamInterface&) = default;
    KsInputStreamInterface& operator=(const KsInputStreamInterface&) = default;
    /// @}

    /// Reads bytes into `buffer` until a line-end byte ("\n" or "\r") has been stored, `limit`
    /// bytes are stored or the input ends; returns the number stored. This default reads
    /// one byte at a time through Read; a stream that holds its bytes in a buffer scans
    /// them instead, with the same results and the same errors.
    virtual std::int32_t ReadLineBytes(char* buffer, std::int32_t limit);

private:
    /// One piece of a line; `textLength` receives the bytes stored before the line end.
    std::int32_t ReadLinePiece(char* buffer, std::int32_t size, std::int32_t& textLength);
    std::uint32_t ReadWholeLine(KsString& out, bool* containsNul);
};

/// The writing half of a stream: typed binary values, strings, object headers and text
/// lines, all written through Write, whose errors pass through.
class KsOutputStreamInterface {
public:
    virtual ~KsOutputStreamInterface() = default;
    /// Fills `out` with the name of the underlying file.
    virtual void GetFileName(KsString& out) = 0;
    /// Writes `count` bytes.
    virtual void Write(const void* buffer, std::int32_t count) = 0;

    /// @{
    /// Writes the value little-endian in the type's width: a bool as one byte 0 or 1, a
    /// long as 32 bits, a native unsigned as 64 bits, a double as its 8 IEEE bytes.
    void WriteBool(bool value);
    void WriteShort(std::int16_t value);
    void WriteUnsignedShort(std::uint16_t value);
    void WriteInt(std::int32_t value);
    void WriteLong(std::int32_t value);
    void WriteUnsignedLong(std::uint32_t value);
    void WriteUnsignedNative(std::uint64_t value);
    void WriteDouble(double value);
    /// @}
    /// A 32-bit length counting the NUL (0 for a null pointer), then the bytes with the NUL.
    void WriteCString(const char* text);
    /// A 32-bit value holding the marker character, then the 16-bit version.
    void WriteKsHeader(char marker, std::int16_t version);
    /// The text's bytes, and its NUL when `includeNul` is true.
    void WriteString(const char* text, bool includeNul);
    /// At most `width` bytes of the text (null counts as empty); when fewer than `width`
    /// bytes were written, one `terminator` byte follows. Never pads.
    void WriteString(const char* text, std::uint32_t width, char terminator);
    /// The text, then "\r\n".
    void WriteLine(const char* text);

protected:
    KsOutputStreamInterface() = default;
    /// @{
    /// Streams copy only in their concrete classes.
    KsOutputStreamInterface(const KsOutputStreamInterface&) = default;
    KsOutputStreamInterface& operator=(const KsOutputStreamInterface&) = default;
    /// @}
};

/// A stream that can be both read and written.
class KsStreamInterface : public virtual KsInputStreamInterface,
                          public virtual KsOutputStreamInterface {
public:
    /// Both bases declare it; a stream has one name.
    void GetFileName(KsString& out) override = 0;

protected:
    KsStreamInterface() = default;
    /// @{
    /// Streams copy only in their concrete classes.
    KsStreamInterface(const KsStreamInterface&) = default;
    KsStreamInterface& operator=(const KsStreamInterface&) = default;
    /// @}
};
