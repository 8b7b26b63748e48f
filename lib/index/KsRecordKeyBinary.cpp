#include <algorithm>
#include <cstring>
#include <string>

#include "core/KsCallpath.h"
#include "core/KsException.h"
#include "files/KsFileRecord.h"
#include "index/KsRecordKey.h"
#include "index/KsRecordKeyPieces.h"
#include "io/KsStreamInterface.h"

namespace {

constexpr const char* kClass = "KsRecordKeyBinary";

// memcpy that accepts the null block of an empty chunk.
void CopyBytes(void* to, const void* from, std::size_t count) {
    if (count > 0) {
        std::memcpy(to, from, count);
    }
}

}  // namespace

KsRecordKeyBinary::KsRecordKeyBinary(std::uint32_t length)
    : bytes_(KsRecordKeyPieces::CheckedKeyLength(length, kClass)) {}

int KsRecordKeyBinary::Compare(const KsRecordKey& other) const {
    const KsRecordKeyBinary& that = SameClass(*this, other);
    std::uint32_t mine = GetLength();
    std::uint32_t theirs = that.GetLength();
    std::uint32_t common = std::min(mine, theirs);
    int order = common > 0 ? std::memcmp(bytes_.GetData(), that.bytes_.GetData(), common) : 0;
    if (order != 0) {
        return order;
    }
    return mine == theirs ? 0 : (mine < theirs ? -1 : 1);
}

bool KsRecordKeyBinary::IsLessThan(const KsRecordKey& other) const {
    return Compare(other) < 0;
}

bool KsRecordKeyBinary::IsEqual(const KsRecordKey& other) const {
    return Compare(other) == 0;
}

void KsRecordKeyBinary::GetComparableKey(void* pDest) const {
    CopyBytes(pDest, bytes_.GetData(), GetLength());
}

void KsRecordKeyBinary::GetValue(void* pDest) const {
    CopyBytes(pDest, bytes_.GetData(), GetLength());
}

void KsRecordKeyBinary::SetComparableKey(const void* pSource) {
    CopyBytes(bytes_.GetData(), pSource, GetLength());
}

void KsRecordKeyBinary::SetValue(const void* pSource) {
    CopyBytes(bytes_.GetData(), pSource, GetLength());
}

void KsRecordKeyBinary::GetValue(KsRecord& record, std::int32_t field) const {
    KsCallpath("GetValue()", kClass,
               [&] { record.PutBinary(field, bytes_.GetData(), GetLength()); });
}

void KsRecordKeyBinary::GetValue(KsRecord& record, KsKeyFieldNumbers fields) const {
    KsCallpath("GetValue()", kClass, [&] {
        KsRecordKeyPieces::ForEachPiece(
            record, fields, GetLength(), kClass,
            [&](std::int32_t field, std::uint32_t offset, std::uint32_t length) {
                record.PutBinary(field, bytes_.GetData() + offset, length);
            });
    });
}

void KsRecordKeyBinary::SetValue(const KsRecord& record, std::int32_t field) {
    KsCallpath("SetValue()", kClass, [&] {
        std::uint32_t length = KsRecordKeyPieces::FieldLength(record, field);
        if (length <= GetLength()) {
            if (length > 0) {
                record.GetBinary(field, bytes_.GetData(), length);
            }
            if (length < GetLength()) {
                std::memset(bytes_.GetData() + length, 0, GetLength() - length);
            }
        } else {
            // A field longer than the key: its bytes are cut to the key's length.
            std::string bytes(length, '\0');
            record.GetBinary(field, bytes.data(), length);
            CopyBytes(bytes_.GetData(), bytes.data(), GetLength());
        }
    });
}

void KsRecordKeyBinary::SetValue(const KsRecord& record, KsKeyFieldNumbers fields) {
    KsCallpath("SetValue()", kClass, [&] {
        std::uint32_t end = 0;
        KsRecordKeyPieces::ForEachPiece(
            record, fields, GetLength(), kClass,
            [&](std::int32_t field, std::uint32_t offset, std::uint32_t length) {
                if (length > 0) {
                    record.GetBinary(field, bytes_.GetData() + offset, length);
                }
                end = offset + length;
            });
        if (end < GetLength()) {
            std::memset(bytes_.GetData() + end, 0, GetLength() - end);
        }
    });
}

void KsRecordKeyBinary::Read(KsInputStreamInterface& stream) {
    KsCallpath("Read()", kClass, [&] {
        KsResizableChunk bytes(GetLength());
        if (GetLength() > 0) {
            stream.Read(bytes.GetData(), static_cast<std::int32_t>(GetLength()), true);
        }
        bytes_.Swap(bytes);
    });
}

void KsRecordKeyBinary::Write(KsOutputStreamInterface& stream) const {
    KsCallpath("Write()", kClass, [&] {
        if (GetLength() > 0) {
            stream.Write(bytes_.GetData(), static_cast<std::int32_t>(GetLength()));
        }
    });
}

void KsRecordKeyBinary::Dump(KsOutputStreamInterface& stream) const {
    KsCallpath("Dump()", kClass, [&] {
        static constexpr char kDigits[] = "0123456789ABCDEF";
        std::string text = "B:0x";
        for (std::uint32_t i = 0; i < GetLength(); ++i) {
            auto byte = static_cast<unsigned char>(bytes_.GetData()[i]);
            text += kDigits[byte >> 4];
            text += kDigits[byte & 0x0F];
        }
        KsRecordKeyPieces::WriteText(stream, text);
    });
}
