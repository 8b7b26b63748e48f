#include <cstring>
#include <numeric>
#include <string>

#include "core/KsCallpath.h"
#include "core/KsException.h"
#include "files/KsFileRecord.h"
#include "index/KsRecordKey.h"
#include "index/KsRecordKeyPieces.h"
#include "io/KsStreamInterface.h"

namespace {

constexpr const char* kClass = "KsRecordKeyAlpha";

std::uint16_t CheckedLength(std::uint64_t length) {
    return static_cast<std::uint16_t>(KsRecordKeyPieces::CheckedKeyLength(length, kClass));
}

// memcpy and memset that accept the null blocks a key of length 0 is given: a caller's
// buffer of GetComparableKeyLength() bytes may be empty.
void CopyBytes(void* to, const void* from, std::size_t count) {
    if (count > 0) {
        std::memcpy(to, from, count);
    }
}

void ZeroBytes(void* to, std::size_t count) {
    if (count > 0) {
        std::memset(to, 0, count);
    }
}

unsigned char Folded(char c, bool ignoreCase) {
    auto byte = static_cast<unsigned char>(c);
    return ignoreCase && byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte + 32) : byte;
}

// Orders two texts of at most `limit` bytes as strcmp does, bytes as unsigned values.
int CompareTexts(const char* a, const char* b, std::uint32_t limit, bool ignoreCase) {
    for (std::uint32_t i = 0; i < limit; ++i) {
        unsigned char x = Folded(a[i], ignoreCase);
        unsigned char y = Folded(b[i], ignoreCase);
        if (x != y) {
            return x < y ? -1 : 1;
        }
        if (x == 0) {
            break;
        }
    }
    return 0;
}

}  // namespace

KsRecordKeyAlpha::KsRecordKeyAlpha(std::uint32_t length)
    : length_(CheckedLength(length)), text_(new char[length_ + 1u]()), pieces_{length_} {}

KsRecordKeyAlpha::KsRecordKeyAlpha(std::vector<std::uint16_t> pieces)
    : length_(CheckedLength(std::accumulate(pieces.begin(), pieces.end(), std::uint64_t{0}))),
      text_(new char[length_ + 1u]()),
      pieces_(std::move(pieces)) {}

KsRecordKeyAlpha::KsRecordKeyAlpha(const KsRecordKeyAlpha& other)
    : KsRecordKey(other),
      length_(other.length_),
      text_(new char[length_ + 1u]),
      pieces_(other.pieces_) {
    std::memcpy(text_.get(), other.text_.get(), length_ + 1u);
}

int KsRecordKeyAlpha::Compare(const KsRecordKey& other, bool ignoreCase) const {
    const KsRecordKeyAlpha& that = SameClass(*this, other);
    if (pieces_ != that.pieces_) {
        // Keys of different shapes compare as one text each; both end in a NUL.
        return CompareTexts(text_.get(), that.text_.get(), std::min(length_, that.length_) + 1u,
                            ignoreCase);
    }
    std::uint32_t offset = 0;
    for (std::uint16_t piece : pieces_) {
        int order =
            CompareTexts(text_.get() + offset, that.text_.get() + offset, piece, ignoreCase);
        if (order != 0) {
            return order;
        }
        offset += piece;
    }
    return 0;
}

bool KsRecordKeyAlpha::IsLessThan(const KsRecordKey& other) const {
    return Compare(other, false) < 0;
}

bool KsRecordKeyAlpha::IsEqual(const KsRecordKey& other) const {
    return Compare(other, false) == 0;
}

bool KsRecordKeyAlpha::IsLessThanAlternate(const KsRecordKey& other) const {
    return Compare(other, true) < 0;
}

bool KsRecordKeyAlpha::IsEqualAlternate(const KsRecordKey& other) const {
    return Compare(other, true) == 0;
}

void KsRecordKeyAlpha::GetComparableKey(void* pDest) const {
    auto* out = static_cast<char*>(pDest);
    std::uint32_t offset = 0;
    for (std::uint16_t piece : pieces_) {
        std::size_t used = strnlen(text_.get() + offset, piece);
        CopyBytes(out + offset, text_.get() + offset, used);
        ZeroBytes(out + offset + used, piece - used);
        offset += piece;
    }
}

void KsRecordKeyAlpha::SetComparableKey(const void* pSource) {
    CopyBytes(text_.get(), pSource, length_);
}

void KsRecordKeyAlpha::GetValue(void* pDest) const {
    std::memcpy(pDest, text_.get(), length_ + 1u);
}

void KsRecordKeyAlpha::SetValue(const void* pSource) {
    CopyBytes(text_.get(), pSource, length_);
}

void KsRecordKeyAlpha::SetText(const char* text) {
    std::size_t used = text != nullptr ? strnlen(text, length_) : 0;
    CopyBytes(text_.get(), text, used);
    std::memset(text_.get() + used, 0, length_ - used);
}

void KsRecordKeyAlpha::GetValue(KsRecord& record, std::int32_t field) const {
    KsCallpath("GetValue()", kClass, [&] { record.PutAlpha(field, text_.get()); });
}

void KsRecordKeyAlpha::GetValue(KsRecord& record, KsKeyFieldNumbers fields) const {
    KsCallpath("GetValue()", kClass, [&] {
        std::string piece;
        KsRecordKeyPieces::ForEachPiece(
            record, fields, length_, kClass,
            [&](std::int32_t field, std::uint32_t offset, std::uint32_t length) {
                piece.assign(text_.get() + offset, strnlen(text_.get() + offset, length));
                record.PutAlpha(field, piece.c_str());
            });
    });
}

void KsRecordKeyAlpha::SetValue(const KsRecord& record, std::int32_t field) {
    KsCallpath("SetValue()", kClass, [&] {
        std::uint32_t length = KsRecordKeyPieces::FieldLength(record, field);
        if (length <= length_) {
            record.GetAlpha(field, text_.get(), length_ + 1u, false);
            std::size_t used = strnlen(text_.get(), length);
            std::memset(text_.get() + used, 0, length_ - used);
        } else {
            // A field longer than the key: its text is cut to the key's length.
            std::string text(length + 1u, '\0');
            record.GetAlpha(field, text.data(), length + 1u, false);
            SetText(text.c_str());
        }
        text_[length_] = '\0';
    });
}

void KsRecordKeyAlpha::SetValue(const KsRecord& record, KsKeyFieldNumbers fields) {
    KsCallpath("SetValue()", kClass, [&] {
        std::uint32_t end = 0;
        KsRecordKeyPieces::ForEachPiece(
            record, fields, length_, kClass,
            [&](std::int32_t field, std::uint32_t offset, std::uint32_t length) {
                char* at = text_.get() + offset;
                // The record may end the text with a NUL at the next piece's first byte,
                // which that piece overwrites.
                record.GetAlpha(field, at, length_ + 1u - offset, false);
                std::size_t used = strnlen(at, length);
                std::memset(at + used, 0, length - used);
                end = offset + length;
            });
        std::memset(text_.get() + end, 0, length_ + 1u - end);
    });
}

void KsRecordKeyAlpha::Read(KsInputStreamInterface& stream) {
    KsCallpath("Read()", kClass, [&] {
        std::unique_ptr<char[]> text(new char[length_ + 1u]());
        stream.Read(text.get(), length_, true);
        text_ = std::move(text);
    });
}

void KsRecordKeyAlpha::Write(KsOutputStreamInterface& stream) const {
    KsCallpath("Write()", kClass, [&] { stream.Write(text_.get(), length_); });
}

void KsRecordKeyAlpha::Dump(KsOutputStreamInterface& stream) const {
    KsCallpath("Dump()", kClass, [&] {
        // The pieces of a key over several fields are shown apart, separated by "|".
        std::string text = "A:";
        std::uint32_t offset = 0;
        for (std::uint16_t piece : pieces_) {
            text += offset > 0 ? "|" : "";
            text.append(text_.get() + offset, strnlen(text_.get() + offset, piece));
            offset += piece;
        }
        KsRecordKeyPieces::WriteText(stream, text);
    });
}
