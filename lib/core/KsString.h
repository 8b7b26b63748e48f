#pragma once
// The library's owned, growable, NUL-terminated byte string. The content is the bytes
// before the first NUL of the buffer; the length is counted on demand. The capacity
// grows in blocks of 32 bytes and never shrinks.

#include <cstdarg>
#include <cstdint>
#include <memory>

#include "core/KsArrayPointerObject.h"
#include "core/KsCallpath.h"
#include "core/KsException.h"
#include "core/KsResizableChunk.h"

enum KsStringCommand : int { StringReset = 0, StringNewLine = 1 };

class KsString : public KsArrayPointerObject {
public:
    // Returned by Find when nothing matches.
    static constexpr std::uint32_t npos = 0xFFFFFFFFu;

    KsString(const char* s = nullptr);
    KsString(char c);
    KsString(const KsString& other) = default;
    KsString& operator=(const KsString& other);
    KsString& operator=(const char* s) { return Copy(s); }
    ~KsString() override = default;

    KsString* Clone() const override { return new KsString(*this); }

    // Sets the block size, makes room for blockSize characters and empties the string.
    void Init(std::int32_t blockSize);

    std::uint32_t GetLength() const;
    const char* GetCString() const { return buffer_.GetData(); }
    std::uint32_t GetCapacity() const { return buffer_.GetChunkSize(); }
    bool IsEmpty() const { return buffer_.GetData()[0] == '\0'; }

    void Clear() { buffer_.GetData()[0] = '\0'; }
    KsString& Copy(const char* s);

    char GetCharAt(std::uint32_t i) const;
    void SetCharAt(std::uint32_t i, char c);
    KsString GetSubstring(std::uint32_t start, std::int32_t length) const;

    std::uint32_t Find(const char* s, std::uint32_t start = 0, bool last = false) const;
    std::uint32_t Find(char c, std::uint32_t start = 0, bool last = false) const;
    std::uint32_t Find(const KsString& s, std::uint32_t start = 0, bool last = false) const {
        return Find(s.GetCString(), start, last);
    }
    bool BeginsWith(const char* s) const;
    bool EndsWith(const char* s) const;
    bool EndsWith(char c) const;

    bool operator==(const KsString& other) const;
    bool operator==(const char* s) const;
    bool operator<(const KsString& other) const;

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
    KsString& operator<<(KsStringCommand command);

    KsString& Insert(const char* s, std::uint32_t position);
    KsString& Insert(char c, std::uint32_t position, std::uint16_t count = 1);
    KsString& Remove(std::uint32_t start, std::uint32_t count);
    KsString& RemoveChar(char c);
    KsString& Truncate(std::uint32_t length);
    KsString& ToUpper();
    KsString& ToLower();

    // Replace the content by the formatted text; the arguments may point into this string.
    KS_PRINTF(2, 3) KsString& printf(const char* format, ...);
    KS_PRINTF(2, 0) KsString& vprintf(const char* format, va_list args);

    // Makes room for newLength characters; the capacity becomes a multiple of the block size.
    void ResizeStringBuffer(std::int32_t newLength);

    // Stream form: a 32-bit length counting the NUL, then the bytes with their NUL. Any
    // stream with WriteCString and ReadCString serves, so strings need nothing of the I/O
    // layer.
    template <class OutputStream>
    void Write(OutputStream& stream) const {
        KsCallpath("Write()", "KsString", [&] { stream.WriteCString(GetCString()); });
    }
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
