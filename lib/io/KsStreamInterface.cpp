#include "io/KsStreamInterface.h"

#include <bit>
#include <climits>
#include <cstring>
#include <memory>
#include <string>

#include "core/KsAlloc.h"
#include "core/KsByteOrder.h"
#include "core/KsCallpath.h"

namespace {

constexpr const char* kInput = "KsInputStreamInterface";
constexpr const char* kOutput = "KsOutputStreamInterface";

// Line pieces of ReadLine(KsString&): a full piece is kPieceSize - 1 bytes.
constexpr std::int32_t kPieceSize = 1024;

// Binary values are little-endian whatever the host's order.
template <class T>
T ReadValue(KsInputStreamInterface& stream, const char* function) {
    return KsCallpath(function, kInput, [&] {
        unsigned char bytes[sizeof(T)];
        stream.Read(bytes, sizeof bytes, true);
        return KsByteOrder::LoadLittle<T>(bytes);
    });
}

template <class T>
void WriteValue(KsOutputStreamInterface& stream, const char* function, T value) {
    KsCallpath(function, kOutput, [&] {
        unsigned char bytes[sizeof(T)];
        KsByteOrder::StoreLittle(bytes, value);
        stream.Write(bytes, sizeof bytes);
    });
}

}  // namespace

// ---- reading ----

bool KsInputStreamInterface::ReadBool() {
    return ReadValue<std::uint8_t>(*this, "ReadBool()") != 0;
}

std::int16_t KsInputStreamInterface::ReadShort() {
    return ReadValue<std::int16_t>(*this, "ReadShort()");
}

std::uint16_t KsInputStreamInterface::ReadUnsignedShort() {
    return ReadValue<std::uint16_t>(*this, "ReadUnsignedShort()");
}

std::int32_t KsInputStreamInterface::ReadInt() {
    return ReadValue<std::int32_t>(*this, "ReadInt()");
}

std::int32_t KsInputStreamInterface::ReadLong() {
    return ReadValue<std::int32_t>(*this, "ReadLong()");
}

std::uint32_t KsInputStreamInterface::ReadUnsignedLong() {
    return ReadValue<std::uint32_t>(*this, "ReadUnsignedLong()");
}

std::uint64_t KsInputStreamInterface::ReadUnsignedNative() {
    return ReadValue<std::uint64_t>(*this, "ReadUnsignedNative()");
}

double KsInputStreamInterface::ReadDouble() {
    return std::bit_cast<double>(ReadValue<std::uint64_t>(*this, "ReadDouble()"));
}

char* KsInputStreamInterface::ReadCString(char*& out) {
    return KsCallpath("ReadCString()", kInput, [&] {
        delete[] out;
        out = nullptr;
        std::int32_t length = ReadLong();
        if (length < 0) {
            // A damaged length must not become a huge or negative allocation.
            KsException::GenerateAs<KsIOStreamingException>("Invalid string length %d", kInput,
                                                            length);
        }
        std::unique_ptr<char[]> text(KsAlloc(std::int64_t{length} + 1));
        if (length > 0) {
            Read(text.get(), length, true);
        }
        // The stored bytes end in their NUL; this one guards against a stream that lost it.
        text[static_cast<std::size_t>(length)] = '\0';
        out = text.release();
        return out;
    });
}

std::int16_t KsInputStreamInterface::ReadKsHeader(char marker) {
    return KsCallpath("ReadKsHeader()", kInput, [&] {
        std::int32_t stored = ReadLong();
        if (static_cast<char>(stored & 0xFF) != marker) {
            KsException::GenerateAs<KsIOStreamingException>("Invalid header found", kInput);
        }
        return ReadShort();
    });
}

void KsInputStreamInterface::ReadString(KsString& out, char terminator) {
    KsCallpath("ReadString()", kInput, [&] {
        out.Clear();
        char c;
        do {
            Read(&c, 1, true);
            out.Append(c);
        } while (c != terminator);
    });
}

std::int32_t KsInputStreamInterface::ReadLineBytes(char* buffer, std::int32_t limit) {
    std::int32_t stored = 0;
    while (stored < limit) {
        if (Read(buffer + stored, 1, false) != 1) {
            break;
        }
        char c = buffer[stored++];
        if (c == '\n' || c == '\r') {
            break;
        }
    }
    return stored;
}

std::int32_t KsInputStreamInterface::ReadLinePiece(char* buffer, std::int32_t size,
                                                   std::int32_t& textLength) {
    return KsCallpath("ReadLine()", kInput, [&] {
        textLength = 0;
        if (size <= 0) {
            return 0;
        }
        if (buffer == nullptr) {
            KsException::Generate("Null pointer passed to ReadLine", kInput);
        }
        std::int32_t stored = ReadLineBytes(buffer, size - 1);
        std::int32_t consumed = stored;
        char last = stored > 0 ? buffer[stored - 1] : '\0';
        if (last == '\r') {
            // The byte after the return goes into the return's own slot.
            char* slot = buffer + stored - 1;
            if (Read(slot, 1, false) != 1 || *slot != '\n') {
                KsException::Generate(
                    "Return character not followed by newline; unknown end of line type", kInput);
            }
            ++consumed;
        }
        textLength = (last == '\r' || last == '\n') ? stored - 1 : stored;
        buffer[textLength] = '\0';
        return consumed;
    });
}

std::int32_t KsInputStreamInterface::ReadLine(char* buffer, std::int32_t size) {
    std::int32_t textLength;
    return ReadLinePiece(buffer, size, textLength);
}

std::uint32_t KsInputStreamInterface::ReadWholeLine(KsString& out, bool* containsNul) {
    return KsCallpath("ReadLine()", "KSInputStreamInterface", [&] {
        out.Clear();
        std::uint32_t total = 0;
        char piece[kPieceSize];
        // A line longer than one piece is gathered here, where it grows geometrically, and
        // handed to `out` once: appending piece by piece would measure and regrow the
        // string for every piece, which takes time quadratic in the line's length.
        std::string longLine;
        bool more;
        do {
            // Still NUL afterwards when the piece ended before its last slot.
            piece[kPieceSize - 2] = '\0';
            std::int32_t textLength;
            std::int32_t consumed = ReadLinePiece(piece, kPieceSize, textLength);
            total += static_cast<std::uint32_t>(consumed);
            std::size_t shown = std::strlen(piece);
            if (containsNul != nullptr && shown < static_cast<std::size_t>(textLength)) {
                *containsNul = true;
            }
            more = consumed == kPieceSize - 1 && piece[kPieceSize - 2] != '\0';
            if (!more && longLine.empty()) {
                out.Append(piece, static_cast<std::uint32_t>(shown));
                return total;
            }
            longLine.append(piece, shown);
            if (longLine.size() >= static_cast<std::size_t>(INT32_MAX)) {
                KsException::Generate("Line of more than %d bytes is too long for a string", kInput,
                                      INT32_MAX - 1);
            }
        } while (more);
        if (!longLine.empty()) {
            out.ResizeStringBuffer(static_cast<std::int32_t>(longLine.size()));
        }
        out.Append(longLine.data(), static_cast<std::uint32_t>(longLine.size()));
        return total;
    });
}

std::uint32_t KsInputStreamInterface::ReadLine(KsString& out) {
    return ReadWholeLine(out, nullptr);
}

std::uint32_t KsInputStreamInterface::ReadLine(KsString& out, bool& containsNul) {
    containsNul = false;
    return ReadWholeLine(out, &containsNul);
}

// ---- writing ----

void KsOutputStreamInterface::WriteBool(bool value) {
    WriteValue<std::uint8_t>(*this, "WriteBool()", value ? 1 : 0);
}

void KsOutputStreamInterface::WriteShort(std::int16_t value) {
    WriteValue(*this, "WriteShort()", value);
}

void KsOutputStreamInterface::WriteUnsignedShort(std::uint16_t value) {
    WriteValue(*this, "WriteUnsignedShort()", value);
}

void KsOutputStreamInterface::WriteInt(std::int32_t value) {
    WriteValue(*this, "WriteInt()", value);
}

void KsOutputStreamInterface::WriteLong(std::int32_t value) {
    WriteValue(*this, "WriteLong()", value);
}

void KsOutputStreamInterface::WriteUnsignedLong(std::uint32_t value) {
    WriteValue(*this, "WriteUnsignedLong()", value);
}

void KsOutputStreamInterface::WriteUnsignedNative(std::uint64_t value) {
    WriteValue(*this, "WriteUnsignedNative()", value);
}

void KsOutputStreamInterface::WriteDouble(double value) {
    WriteValue(*this, "WriteDouble()", std::bit_cast<std::uint64_t>(value));
}

void KsOutputStreamInterface::WriteCString(const char* text) {
    KsCallpath("WriteCString()", kOutput, [&] {
        auto length = text != nullptr ? static_cast<std::int32_t>(std::strlen(text) + 1) : 0;
        WriteLong(length);
        if (length > 0) {
            Write(text, length);
        }
    });
}

void KsOutputStreamInterface::WriteKsHeader(char marker, std::int16_t version) {
    KsCallpath("WriteKsHeader()", kOutput, [&] {
        WriteLong(marker);
        WriteShort(version);
    });
}

void KsOutputStreamInterface::WriteString(const char* text, bool includeNul) {
    KsCallpath("WriteString()", kOutput, [&] {
        if (text == nullptr) {
            KsException::Generate("Null pointer passed to WriteString", kOutput);
        }
        Write(text, static_cast<std::int32_t>(std::strlen(text) + (includeNul ? 1 : 0)));
    });
}

void KsOutputStreamInterface::WriteString(const char* text, std::uint32_t width, char terminator) {
    KsCallpath("WriteString()", kOutput, [&] {
        std::size_t length = text != nullptr ? strnlen(text, width) : 0;
        if (length > 0) {
            Write(text, static_cast<std::int32_t>(length));
        }
        if (length < width) {
            Write(&terminator, 1);
        }
    });
}

void KsOutputStreamInterface::WriteLine(const char* text) {
    KsCallpath("WriteLine()", kOutput, [&] {
        WriteString(text, false);
        Write("\r\n", 2);
    });
}
