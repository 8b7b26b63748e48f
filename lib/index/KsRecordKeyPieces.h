#pragma once
/// @file
/// Steps shared by the key classes: field lengths checked before they size a buffer, the
/// running offsets of a key over several fields, and debugging texts.

#include <cstdint>
#include <string_view>

#include "core/KsException.h"
#include "index/KsRecordKey.h"
#include "io/KsStreamInterface.h"

namespace KsRecordKeyPieces {

/// The length of field `field`; a negative length raises "Field %d has a length of %d".
std::uint32_t FieldLength(const KsRecord& record, std::int32_t field);

/// `length` when a key of that many bytes can be made, else "A key of %llu bytes is longer
/// than the longest of %u bytes".
inline std::uint32_t CheckedKeyLength(std::uint64_t length, const char* className) {
    if (length > KsRecordKeyAlpha::kMaxLength) {
        KsException::Generate("A key of %llu bytes is longer than the longest of %u bytes",
                              className, static_cast<unsigned long long>(length),
                              KsRecordKeyAlpha::kMaxLength);
    }
    return static_cast<std::uint32_t>(length);
}

/// Calls visit(field, offset, length) for each listed field, the offset running on by each
/// field's length. A field that ends past `keyLength` raises an error before it is visited.
template <class Visit>
void ForEachPiece(const KsRecord& record, KsKeyFieldNumbers fields, std::uint32_t keyLength,
                  const char* className, Visit visit) {
    std::uint32_t offset = 0;
    for (std::uint16_t field : fields) {
        std::uint32_t length = FieldLength(record, field);
        if (length > keyLength - offset) {
            KsException::Generate(
                "Field %d of %u bytes at offset %u does not fit a key of %u bytes", className,
                static_cast<int>(field), length, offset, keyLength);
        }
        visit(static_cast<std::int32_t>(field), offset, length);
        offset += length;
    }
}

/// Writes the bytes of `text` to `stream` (no NUL).
inline void WriteText(KsOutputStreamInterface& stream, std::string_view text) {
    stream.Write(text.data(), static_cast<std::int32_t>(text.size()));
}

}  // namespace KsRecordKeyPieces
