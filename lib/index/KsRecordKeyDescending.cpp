#include "index/KsRecordKeyDescending.h"

#include <algorithm>

#include "core/KsCallpath.h"
#include "core/KsException.h"
#include "index/KsMultiRecordKey.h"
#include "index/KsRecordKeyPieces.h"

namespace {

constexpr const char* kClass = "KsRecordKeyDescending";

void InvertBytes(unsigned char* bytes, std::uint32_t count) {
    std::transform(bytes, bytes + count, bytes,
                   [](unsigned char byte) { return static_cast<unsigned char>(~byte); });
}

}  // namespace

KsRecordKeyDescending::KsRecordKeyDescending(std::unique_ptr<KsRecordKey> inner)
    : inner_(std::move(inner)) {
    if (inner_ == nullptr) {
        KsException::Generate("A descending key needs a key to wrap", kClass);
    }
}

KsRecordKeyDescending::KsRecordKeyDescending(const KsRecordKeyDescending& other)
    : KsRecordKey(other), inner_(other.inner_->Clone()) {}

bool KsRecordKeyDescending::IsLessThan(const KsRecordKey& other) const {
    return SameClass(*this, other).inner_->IsLessThan(*inner_);
}

bool KsRecordKeyDescending::IsEqual(const KsRecordKey& other) const {
    return inner_->IsEqual(*SameClass(*this, other).inner_);
}

bool KsRecordKeyDescending::IsLessThanAlternate(const KsRecordKey& other) const {
    return SameClass(*this, other).inner_->IsLessThanAlternate(*inner_);
}

bool KsRecordKeyDescending::IsEqualAlternate(const KsRecordKey& other) const {
    return inner_->IsEqualAlternate(*SameClass(*this, other).inner_);
}

void KsRecordKeyDescending::GetComparableKey(void* pDest) const {
    inner_->GetComparableKey(pDest);
    InvertBytes(static_cast<unsigned char*>(pDest), GetComparableKeyLength());
}

std::uint32_t KsRecordKeyDescending::GetComparableKeyLength() const {
    return inner_->GetComparableKeyLength();
}

void KsRecordKeyDescending::SetComparableKey(const void* pSource) {
    KsCallpath("SetComparableKey()", kClass, [&] {
        const auto* source = static_cast<const unsigned char*>(pSource);
        std::vector<unsigned char> bytes(source, source + GetComparableKeyLength());
        InvertBytes(bytes.data(), GetComparableKeyLength());
        inner_->SetComparableKey(bytes.data());
    });
}

void KsRecordKeyDescending::GetValue(void* pDest) const {
    inner_->GetValue(pDest);
}

void KsRecordKeyDescending::GetValue(KsRecord& record, std::int32_t field) const {
    inner_->GetValue(record, field);
}

void KsRecordKeyDescending::GetValue(KsRecord& record, KsKeyFieldNumbers fields) const {
    inner_->GetValue(record, fields);
}

std::uint32_t KsRecordKeyDescending::GetLength() const {
    return inner_->GetLength();
}

void KsRecordKeyDescending::Read(KsInputStreamInterface& stream) {
    inner_->Read(stream);
}

void KsRecordKeyDescending::SetValue(const void* pSource) {
    inner_->SetValue(pSource);
}

void KsRecordKeyDescending::SetValue(const KsRecord& record, std::int32_t field) {
    inner_->SetValue(record, field);
}

void KsRecordKeyDescending::SetValue(const KsRecord& record, KsKeyFieldNumbers fields) {
    inner_->SetValue(record, fields);
}

void KsRecordKeyDescending::Write(KsOutputStreamInterface& stream) const {
    inner_->Write(stream);
}

void KsRecordKeyDescending::Dump(KsOutputStreamInterface& stream) const {
    KsCallpath("Dump()", kClass, [&] {
        KsRecordKeyPieces::WriteText(stream, "~");
        inner_->Dump(stream);
    });
}

std::unique_ptr<KsRecordKey> KsRecordKeyDescending::Extract(const KsRecord& record,
                                                            KsKeyFieldNumbers fields,
                                                            const std::vector<bool>& descending) {
    return KsCallpath("Extract()", kClass, [&]() -> std::unique_ptr<KsRecordKey> {
        if (descending.size() != fields.size()) {
            KsException::Generate("%d fields, but %d sort directions", kClass,
                                  static_cast<int>(fields.size()),
                                  static_cast<int>(descending.size()));
        }
        if (std::find(descending.begin(), descending.end(), true) == descending.end()) {
            return KsRecordKey::Extract(record, fields);
        }
        auto keyOf = [&](std::size_t i) -> std::unique_ptr<KsRecordKey> {
            std::unique_ptr<KsRecordKey> key = KsRecordKey::Extract(record, fields[i]);
            return descending[i] ? std::make_unique<KsRecordKeyDescending>(std::move(key))
                                 : std::move(key);
        };
        if (fields.size() == 1) {
            return keyOf(0);
        }
        auto key = std::make_unique<KsMultiRecordKey>();
        for (std::size_t i = 0; i < fields.size(); ++i) {
            key->AddComponent(keyOf(i));
        }
        return key;
    });
}
