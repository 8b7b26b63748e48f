#include "index/KsRecordKey.h"

#include <numeric>

#include "core/KsCallpath.h"
#include "core/KsException.h"
#include "files/KsFieldTypeLetters.h"
#include "files/KsFileRecord.h"
#include "index/KsMultiRecordKey.h"
#include "index/KsRecordKeyPieces.h"

namespace {

constexpr const char* kClass = "KsRecordKey";

// An empty key of the class for a type letter; null for a letter that forms no key.
std::unique_ptr<KsRecordKey> NewKey(char type, std::uint32_t length) {
    switch (type) {
        case KS_ALPHA_FLD:
            return std::make_unique<KsRecordKeyAlpha>(length);
        case KS_BINARY_FLD:
            return std::make_unique<KsRecordKeyBinary>(length);
        case KS_DATE_FLD:
            return std::make_unique<KsRecordKeyDate>();
        case KS_LONG_FLD:
            return std::make_unique<KsRecordKeyLong>();
        case KS_SHORT_FLD:
            return std::make_unique<KsRecordKeyShort>();
        case KS_ULONG_FLD:
            return std::make_unique<KsRecordKeyUnsignedLong>();
        case KS_USHORT_FLD:
            return std::make_unique<KsRecordKeyUnsignedShort>();
        case KS_NUMBER_FLD:
            return std::make_unique<KsRecordKeyNumber>();
        case KS_BOOLEAN_FLD:
            return std::make_unique<KsRecordKeyBoolean>();
        default:
            return nullptr;
    }
}

}  // namespace

std::uint32_t KsRecordKeyPieces::FieldLength(const KsRecord& record, std::int32_t field) {
    std::int16_t length = record.GetFieldLength(field);
    if (length < 0) {
        KsException::Generate("Field %d has a length of %d", "KsRecordKey", field, length);
    }
    return static_cast<std::uint32_t>(length);
}

void KsRecordKey::ThrowOtherClass(const KsRecordKey& self, const KsRecordKey& other) {
    KsException::Generate("Cannot compare a key of type %s with a key of type %s",
                          self.KeyClassName(), self.KeyTypeName(), other.KeyTypeName());
}

void KsRecordKey::GetValue(KsRecord& record, KsKeyFieldNumbers fields) const {
    KsCallpath("GetValue()", KeyClassName(), [&] {
        if (fields.empty()) {
            KsException::Generate("A key needs at least one field", kClass);
        }
        GetValue(record, fields[0]);
    });
}

void KsRecordKey::SetValue(const KsRecord& record, KsKeyFieldNumbers fields) {
    KsCallpath("SetValue()", KeyClassName(), [&] {
        if (fields.empty()) {
            KsException::Generate("A key needs at least one field", kClass);
        }
        SetValue(record, fields[0]);
    });
}

std::unique_ptr<KsRecordKey> KsRecordKey::Extract(const KsRecord& record, std::int32_t field) {
    return KsCallpath("Extract()", kClass, [&] {
        char type = record.GetFieldType(field);
        std::uint32_t length = type == KS_ALPHA_FLD || type == KS_BINARY_FLD
                                   ? KsRecordKeyPieces::FieldLength(record, field)
                                   : 0;
        std::unique_ptr<KsRecordKey> key = NewKey(type, length);
        if (key == nullptr) {
            KsException::Generate("Field type of field %d is '%c', an unknown type.", kClass, field,
                                  type);
        }
        key->SetValue(record, field);
        return key;
    });
}

std::unique_ptr<KsRecordKey> KsRecordKey::Extract(const KsRecord& record,
                                                  KsKeyFieldNumbers fields) {
    return KsCallpath("Extract()", kClass, [&]() -> std::unique_ptr<KsRecordKey> {
        if (fields.empty()) {
            KsException::Generate("A key needs at least one field", kClass);
        }
        if (fields.size() == 1) {
            return Extract(record, fields[0]);
        }
        if (std::unique_ptr<KsRecordKey> key = GetConsolidatedKey(record, fields)) {
            key->SetValue(record, fields);
            return key;
        }
        auto key = std::make_unique<KsMultiRecordKey>();
        for (std::uint16_t field : fields) {
            key->AddComponent(Extract(record, field));
        }
        return key;
    });
}

std::unique_ptr<KsRecordKey> KsRecordKey::GetConsolidatedKey(const KsRecord& record,
                                                             KsKeyFieldNumbers fields) {
    return KsCallpath("GetConsolidatedKey()", kClass, [&]() -> std::unique_ptr<KsRecordKey> {
        if (fields.empty()) {
            return nullptr;
        }
        char type = record.GetFieldType(fields[0]);
        if (type != KS_ALPHA_FLD && type != KS_BINARY_FLD) {
            return nullptr;
        }
        std::vector<std::uint16_t> pieces;
        std::uint64_t total = 0;
        for (std::uint16_t field : fields) {
            if (record.GetFieldType(field) != type) {
                return nullptr;
            }
            std::uint32_t length = KsRecordKeyPieces::FieldLength(record, field);
            pieces.push_back(static_cast<std::uint16_t>(length));
            total += length;
        }
        KsRecordKeyPieces::CheckedKeyLength(total, kClass);
        if (type == KS_BINARY_FLD) {
            return std::make_unique<KsRecordKeyBinary>(static_cast<std::uint32_t>(total));
        }
        return std::make_unique<KsRecordKeyAlpha>(std::move(pieces));
    });
}

std::unique_ptr<KsRecordKey> KsRecordKey::Instantiate(char type, std::uint32_t length) {
    return KsCallpath("Instantiate()", kClass, [&] {
        std::unique_ptr<KsRecordKey> key = NewKey(type, length);
        if (key == nullptr) {
            KsException::Generate("Field type is '%c', an unknown type.", kClass, type);
        }
        return key;
    });
}

std::string KsRecordKey::ComparableKeyOf(const KsRecord& record, std::int32_t field) {
    return KsCallpath("ComparableKeyOf()", kClass, [&] {
        std::unique_ptr<KsRecordKey> key = Extract(record, field);
        std::string bytes(key->GetComparableKeyLength(), '\0');
        key->GetComparableKey(bytes.data());
        return bytes;
    });
}
