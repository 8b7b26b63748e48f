#include "core/KsString.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "core/KsScopeExit.h"

namespace {

constexpr std::uint32_t kDefaultBlockSize = 32;

std::uint32_t TextLength(const char* s) {
    return static_cast<std::uint32_t>(std::strlen(s));
}

}  // namespace

KsString::KsString(const char* s) {
    Init(kDefaultBlockSize);
    if (s) {
        Copy(s);
    }
}

KsString::KsString(char c) {
    Init(kDefaultBlockSize);
    Append(c);
}

KsString& KsString::operator=(const KsString& other) {
    return Copy(other.GetCString());
}

void KsString::Init(std::int32_t blockSize) {
    // A zero or negative block size would make the capacity arithmetic meaningless.
    blockSize_ = blockSize > 0 ? static_cast<std::uint32_t>(blockSize) : kDefaultBlockSize;
    ResizeStringBuffer(static_cast<std::int32_t>(blockSize_));
    Clear();
}

void KsString::ResizeStringBuffer(std::int32_t newLength) {
    if (newLength < 1) {
        KsException::Generate("lNewLength, value=%d, must be greater than 0.", "KsString",
                              newLength);
    }
    std::int64_t target = (static_cast<std::int64_t>(newLength) + 1) / blockSize_ + 1;
    target *= blockSize_;
    if (target > INT32_MAX) {
        target = INT32_MAX;
    }
    if (GetCapacity() < target) {
        buffer_.ResizeChunk(static_cast<std::uint32_t>(target), false, 0);
    }
}

std::uint32_t KsString::GetLength() const {
    return TextLength(buffer_.GetData());
}

KsString& KsString::Copy(const char* s) {
    if (!s) {
        Clear();
        return *this;
    }
    std::uint32_t n = TextLength(s);
    if (n >= GetCapacity()) {
        ResizeStringBuffer(static_cast<std::int32_t>(n));
    }
    std::memmove(buffer_.GetData(), s, n + 1);
    return *this;
}

char KsString::GetCharAt(std::uint32_t i) const {
    std::uint32_t length = GetLength();
    if (i >= length) {
        KsException::Generate("index (value=%d) is out of range, [%d, %d]", "KsString",
                              static_cast<int>(i), 0, static_cast<int>(length) - 1);
    }
    return buffer_.GetData()[i];
}

void KsString::SetCharAt(std::uint32_t i, char c) {
    std::uint32_t length = GetLength();
    if (i >= length) {
        KsException::Generate("index (value=%d) is out of range, [%d, %d]", "KsString",
                              static_cast<int>(i), 0, static_cast<int>(length) - 1);
    }
    buffer_.GetData()[i] = c;
}

KsString KsString::GetSubstring(std::uint32_t start, std::int32_t length) const {
    std::uint32_t total = GetLength();
    if (start > total) {
        KsException::Generate("lStart (value=%d) must not be greater than GetLength (value=%d)",
                              "KsString", static_cast<int>(start), static_cast<int>(total));
    }
    std::uint32_t count = total - start;
    if (length >= 0) {
        if (count < static_cast<std::uint32_t>(length)) {
            KsException::Generate(
                "Substring length (value=%d) must be less than or equal to GetLength (value=%d) "
                "minus lStart (value=%d).",
                "KsString", length, static_cast<int>(total), static_cast<int>(start));
        }
        count = static_cast<std::uint32_t>(length);
    }
    KsString result;
    result.AppendBytes(buffer_.GetData() + start, count);
    return result;
}

std::uint32_t KsString::Find(const char* s, std::uint32_t start, bool last) const {
    if (!s) {
        KsException::Generate("null pointer: sString", "KsString");
    }
    std::uint32_t length = GetLength();
    if (start > length) {
        KsException::Generate("lStart (value=%d) is past end of string (length=%d)", "KsString",
                              static_cast<int>(start), static_cast<int>(length));
    }
    if (*s == '\0') {
        // An empty text matches at every position.
        return last ? length : start;
    }
    const char* text = buffer_.GetData();
    const char* match = std::strstr(text + start, s);
    if (match == nullptr) {
        return npos;
    }
    if (last) {
        // Matches may overlap, so each new search starts one byte behind the previous match.
        while (const char* next = std::strstr(match + 1, s)) {
            match = next;
        }
    }
    return static_cast<std::uint32_t>(match - text);
}

std::uint32_t KsString::Find(char c, std::uint32_t start, bool last) const {
    const char text[2] = {c, '\0'};
    return Find(text, start, last);
}

bool KsString::BeginsWith(const char* s) const {
    if (!s) {
        KsException::Generate("null pointer: sString", "KsString");
    }
    std::uint32_t n = TextLength(s);
    return n <= GetLength() && std::memcmp(buffer_.GetData(), s, n) == 0;
}

bool KsString::EndsWith(const char* s) const {
    if (!s) {
        KsException::Generate("null pointer: sString", "KsString");
    }
    std::uint32_t n = TextLength(s);
    std::uint32_t length = GetLength();
    return n <= length && std::memcmp(buffer_.GetData() + length - n, s, n) == 0;
}

bool KsString::EndsWith(char c) const {
    std::uint32_t length = GetLength();
    return length > 0 && buffer_.GetData()[length - 1] == c;
}

bool KsString::operator==(const KsString& other) const {
    return std::strcmp(GetCString(), other.GetCString()) == 0;
}

bool KsString::operator==(const char* s) const {
    return std::strcmp(GetCString(), s ? s : "") == 0;
}

bool KsString::operator<(const KsString& other) const {
    return std::strcmp(GetCString(), other.GetCString()) < 0;
}

KsString& KsString::Append(const char* s) {
    if (!s) {
        KsException::Generate("null pointer: pString", "KsString");
    }
    return AppendBytes(s, TextLength(s));
}

KsString& KsString::Append(const char* s, std::uint32_t count) {
    if (!s) {
        KsException::Generate("null pointer: pString", "KsString");
    }
    return AppendBytes(s, static_cast<std::uint32_t>(strnlen(s, count)));
}

KsString& KsString::Append(char c) {
    const char text[2] = {c, '\0'};
    return Append(text);
}

KsString& KsString::Append(const KsString& s) {
    if (&s == this) {
        return *this;
    }
    return Append(s.GetCString());
}

KsString& KsString::AppendBytes(const char* s, std::uint32_t n) {
    std::uint32_t length = GetLength();
    std::uint32_t capacity = GetCapacity();
    if (capacity - 1 - length < n) {
        // Text inside our own buffer would move with it; keep a copy while growing.
        const char* buffer = buffer_.GetData();
        if (s >= buffer && s < buffer + capacity) {
            KsString copy;
            copy.AppendBytes(s, n);
            return AppendBytes(copy.GetCString(), n);
        }
        std::uint32_t grow = std::max(std::min(capacity, 1024u), n + std::min(n / 2, 1024u));
        ResizeStringBuffer(static_cast<std::int32_t>(capacity + grow));
    }
    char* end = buffer_.GetData() + length;
    std::memmove(end, s, n);
    end[n] = '\0';
    return *this;
}

KsString& KsString::AppendNumber(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n < 0) {
        KsException::Generate(
            "error encountered in call to 'vsnprintf' with format string, \"%s\".", "KsString",
            format);
    }
    // Drop blanks and control bytes at both ends of the formatted number.
    const char* begin = text;
    const char* end = text + std::min<std::size_t>(static_cast<std::size_t>(n), sizeof text - 1);
    while (begin < end && static_cast<unsigned char>(*begin) <= 32) {
        ++begin;
    }
    while (end > begin && static_cast<unsigned char>(end[-1]) <= 32) {
        --end;
    }
    return AppendBytes(begin, static_cast<std::uint32_t>(end - begin));
}

KsString& KsString::Append(short value) {
    return AppendNumber("%-d", value);
}
KsString& KsString::Append(int value) {
    return AppendNumber("%-d", value);
}
KsString& KsString::Append(long value) {
    return AppendNumber("%-ld", value);
}
KsString& KsString::Append(unsigned short value) {
    return AppendNumber("%-hu", value);
}
KsString& KsString::Append(unsigned int value) {
    return AppendNumber("%-u", value);
}
KsString& KsString::Append(unsigned long value) {
    return AppendNumber("%-lu", value);
}
KsString& KsString::Append(double value) {
    return AppendNumber("%-lf", value);
}

KsString& KsString::operator<<(KsStringCommand command) {
    switch (command) {
        case StringReset:
            Clear();
            break;
        case StringNewLine:
            Append("\r\n");
            break;
    }
    return *this;
}

KsString& KsString::Insert(const char* s, std::uint32_t position) {
    if (!s) {
        KsException::Generate("null pointer: pString", "KsString");
    }
    return InsertBytes(s, TextLength(s), position);
}

KsString& KsString::Insert(char c, std::uint32_t position, std::uint16_t count) {
    KsString text;
    text.ResizeStringBuffer(count > 0 ? count : 1);
    std::memset(text.buffer_.GetData(), c, count);
    text.buffer_.GetData()[count] = '\0';
    return InsertBytes(text.GetCString(), c == '\0' ? 0 : count, position);
}

KsString& KsString::InsertBytes(const char* s, std::uint32_t n, std::uint32_t position) {
    std::uint32_t length = GetLength();
    if (position > length) {
        KsException::Generate("lPosition (value=%d) is invalid for string of length=%d.",
                              "KsString", static_cast<int>(position), static_cast<int>(length));
    }
    std::uint32_t capacity = GetCapacity();
    if (n > capacity - 1 - length) {
        const char* buffer = buffer_.GetData();
        if (s >= buffer && s < buffer + capacity) {
            KsString copy;
            copy.AppendBytes(s, n);
            return InsertBytes(copy.GetCString(), n, position);
        }
        ResizeStringBuffer(static_cast<std::int32_t>(capacity + n));
    }
    char* data = buffer_.GetData();
    std::memmove(data + position + n, data + position, length - position + 1);
    std::memmove(data + position, s, n);
    return *this;
}

KsString& KsString::Remove(std::uint32_t start, std::uint32_t count) {
    std::uint32_t length = GetLength();
    if (static_cast<std::uint64_t>(length) < static_cast<std::uint64_t>(start) + count) {
        KsException::Generate(
            "Cannot remove %d characters starting at position %d from string of length %d.",
            "KsString", static_cast<int>(count), static_cast<int>(start), static_cast<int>(length));
    }
    if (count != 0) {
        char* data = buffer_.GetData();
        std::memmove(data + start, data + start + count, length - start - count + 1);
    }
    return *this;
}

KsString& KsString::RemoveChar(char c) {
    char* data = buffer_.GetData();
    if (c == '\0') {
        return *this;
    }
    char* write = data;
    for (const char* read = data; *read != '\0'; ++read) {
        if (*read != c) {
            *write++ = *read;
        }
    }
    *write = '\0';
    return *this;
}

KsString& KsString::Truncate(std::uint32_t length) {
    std::uint32_t current = GetLength();
    if (length > current) {
        KsException::Generate(
            "ulLength (value=%d) must not be greater than string length (value=%d).", "KsString",
            static_cast<int>(length), static_cast<int>(current));
    }
    buffer_.GetData()[length] = '\0';
    return *this;
}

KsString& KsString::ToUpper() {
    for (char* p = buffer_.GetData(); *p != '\0'; ++p) {
        *p = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    }
    return *this;
}

KsString& KsString::ToLower() {
    for (char* p = buffer_.GetData(); *p != '\0'; ++p) {
        *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
    }
    return *this;
}

KsString& KsString::printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    KsScopeExit endArguments([&] { va_end(args); });
    return vprintf(format, args);
}

KsString& KsString::vprintf(const char* format, va_list args) {
    // Formats into a working copy, so that arguments may point into this string.
    KsString work(*this);
    va_list first;
    va_copy(first, args);
    int n = std::vsnprintf(work.buffer_.GetData(), work.GetCapacity(), format, first);
    va_end(first);
    if (n < 0) {
        KsException::Generate(
            "error encountered in call to 'vsnprintf' with format string, \"%s\".", "KsString",
            format);
    }
    if (work.GetCapacity() <= static_cast<std::uint32_t>(n)) {
        work.ResizeStringBuffer(n + 1);
        va_list second;
        va_copy(second, args);
        std::vsnprintf(work.buffer_.GetData(), work.GetCapacity(), format, second);
        va_end(second);
    }
    buffer_.Swap(work.buffer_);
    return *this;
}
