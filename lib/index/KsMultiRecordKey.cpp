#include "index/KsMultiRecordKey.h"

#include "core/KsCallpath.h"
#include "core/KsException.h"
#include "index/KsRecordKeyPieces.h"
#include "io/KsStreamInterface.h"

namespace {

constexpr const char* kClass = "KsMultiRecordKey";

}  // namespace

void KsMultiRecordKey::AddComponent(std::unique_ptr<KsRecordKey> component) {
    KsCallpath("AddComponent()", kClass, [&] {
        if (component == nullptr) {
            KsException::Generate("A key component cannot be null", kClass);
        }
        components_.Add(std::move(component));
    });
}

std::int32_t KsMultiRecordKey::FindFirstNotEqual(const KsRecordKey& other) const {
    return KsCallpath("FindFirstNotEqual()", kClass, [&] {
        const KsMultiRecordKey& that = SameClass(*this, other);
        std::int32_t count = GetComponentCount();
        if (count != that.GetComponentCount()) {
            KsException::Generate(
                "This KsMultiRecordKey has %d components, but the other one has %d", kClass, count,
                that.GetComponentCount());
        }
        for (std::int32_t i = 0; i < count; ++i) {
            if (!components_[i]->IsEqual(*that.components_[i])) {
                return i;
            }
        }
        return count;
    });
}

bool KsMultiRecordKey::IsLessThan(const KsRecordKey& other) const {
    std::int32_t first = FindFirstNotEqual(other);
    return first < GetComponentCount() &&
           components_[first]->IsLessThan(
               *static_cast<const KsMultiRecordKey&>(other).components_[first]);
}

bool KsMultiRecordKey::IsEqual(const KsRecordKey& other) const {
    return FindFirstNotEqual(other) == GetComponentCount();
}

void KsMultiRecordKey::GetComparableKey(void* pDest) const {
    KsCallpath("GetComparableKey()", kClass, [&] {
        auto* out = static_cast<unsigned char*>(pDest);
        for (const KsRecordKey* component : components_) {
            component->GetComparableKey(out);
            out += component->GetComparableKeyLength();
        }
    });
}

std::uint32_t KsMultiRecordKey::GetComparableKeyLength() const {
    std::uint32_t length = 0;
    for (const KsRecordKey* component : components_) {
        length += component->GetComparableKeyLength();
    }
    return length;
}

void KsMultiRecordKey::SetComparableKey(const void* pSource) {
    KsCallpath("SetComparableKey()", kClass, [&] {
        const auto* in = static_cast<const unsigned char*>(pSource);
        for (KsRecordKey* component : components_) {
            component->SetComparableKey(in);
            in += component->GetComparableKeyLength();
        }
    });
}

void KsMultiRecordKey::GetValue(void* pDest) const {
    KsCallpath("GetValue()", kClass, [&] {
        auto* out = static_cast<unsigned char*>(pDest);
        for (const KsRecordKey* component : components_) {
            component->GetValue(out);
            out += component->GetLength();
        }
    });
}

std::uint32_t KsMultiRecordKey::GetLength() const {
    std::uint32_t length = 0;
    for (const KsRecordKey* component : components_) {
        length += component->GetLength();
    }
    return length;
}

void KsMultiRecordKey::SetValue(const void* pSource) {
    KsCallpath("SetValue()", kClass, [&] {
        const auto* in = static_cast<const unsigned char*>(pSource);
        for (KsRecordKey* component : components_) {
            component->SetValue(in);
            in += component->GetLength();
        }
    });
}

void KsMultiRecordKey::GetValue(KsRecord&, std::int32_t) const {
    KsCallpath("GetValue()", kClass, [&] {
        KsException::Generate("Tried to retrieve a single field, but there are %d components",
                              kClass, GetComponentCount());
    });
}

void KsMultiRecordKey::SetValue(const KsRecord&, std::int32_t) {
    KsCallpath("SetValue()", kClass, [&] {
        KsException::Generate("Tried to retrieve a single field, but there are %d components",
                              kClass, GetComponentCount());
    });
}

void KsMultiRecordKey::GetValue(KsRecord& record, KsKeyFieldNumbers fields) const {
    KsCallpath("GetValue()", kClass, [&] {
        if (fields.size() != components_.size()) {
            KsException::Generate("%d components in key, but passed in vector has %d components",
                                  kClass, GetComponentCount(), static_cast<int>(fields.size()));
        }
        for (std::int32_t i = 0; i < GetComponentCount(); ++i) {
            components_[i]->GetValue(record, fields[static_cast<std::size_t>(i)]);
        }
    });
}

void KsMultiRecordKey::SetValue(const KsRecord& record, KsKeyFieldNumbers fields) {
    KsCallpath("SetValue()", kClass, [&] {
        if (fields.size() != components_.size()) {
            KsException::Generate("KsMultiRecordKey has %d components, but passed in vector has %d",
                                  kClass, GetComponentCount(), static_cast<int>(fields.size()));
        }
        for (std::int32_t i = 0; i < GetComponentCount(); ++i) {
            components_[i]->SetValue(record, fields[static_cast<std::size_t>(i)]);
        }
    });
}

void KsMultiRecordKey::Read(KsInputStreamInterface& stream) {
    KsCallpath("Read()", kClass, [&] {
        // Read into copies, so that a failed read leaves the key as it was.
        KsPointerVector<KsRecordKey> components(components_);
        for (KsRecordKey* component : components) {
            component->Read(stream);
        }
        components_.swap(components);
    });
}

void KsMultiRecordKey::Write(KsOutputStreamInterface& stream) const {
    KsCallpath("Write()", kClass, [&] {
        for (const KsRecordKey* component : components_) {
            component->Write(stream);
        }
    });
}

void KsMultiRecordKey::Dump(KsOutputStreamInterface& stream) const {
    KsCallpath("Dump()", kClass, [&] {
        KsRecordKeyPieces::WriteText(stream, "( ");
        for (std::int32_t i = 0; i < GetComponentCount(); ++i) {
            if (i > 0) {
                KsRecordKeyPieces::WriteText(stream, ", ");
            }
            components_[i]->Dump(stream);
        }
    });
}
