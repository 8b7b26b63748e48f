#include "index/KsInverseIndex.h"

#include "core/KsCallpath.h"
#include "core/KsException.h"
#include "index/KsIndexKey.h"
#include "io/KsStreamInterface.h"

namespace {

constexpr const char* kClass = "KsInverseIndex";

}  // namespace

KsInverseIndex::KsInverseIndex(std::int32_t recordCount)
    : keys_(static_cast<std::size_t>(recordCount) + 1, -1) {}

std::int32_t KsInverseIndex::GetKeyNumber(std::int32_t r) const {
    return KsCallpath("GetKeyNumber", kClass, [&] {
        std::int32_t key = keys_[r];
        if (key < 0 || r == 0) {
            KsException::Generate("No key set for record %d", kClass, r);
        }
        return key;
    });
}

void KsInverseIndex::SetKey(std::int32_t r, std::int32_t keyNumber) {
    KsCallpath("SetKey", kClass, [&] { keys_[r] = keyNumber; });
}

void KsInverseIndex::AddKeyNumber(std::int32_t keyNumber) {
    for (std::int32_t& key : keys_) {
        key += key >= keyNumber ? 1 : 0;
    }
}

void KsInverseIndex::RemoveKeyNumber(std::int32_t keyNumber) {
    for (std::int32_t& key : keys_) {
        key -= key > keyNumber ? 1 : 0;
    }
}

void KsInverseIndex::InsertRecord(std::int32_t r, std::int32_t keyNumber) {
    KsCallpath("InsertRecord", kClass, [&] {
        (void)keys_[r - 1];  // the range check: r may be one past the last record
        keys_.insert(keys_.begin() + r, keyNumber);
    });
}

void KsInverseIndex::RemoveRecord(std::int32_t r) {
    KsCallpath("RemoveRecord", kClass, [&] {
        (void)keys_[r];
        keys_.erase(keys_.begin() + r);
    });
}

void KsInverseIndex::Write(KsOutputStreamInterface& stream) const {
    KsCallpath("Write", kClass, [&] {
        auto count = static_cast<std::int32_t>(keys_.size());
        stream.WriteKsHeader(KsIndexKey::kVectorMarker, KsIndexKey::kVectorVersion);
        stream.WriteShort(4);
        stream.WriteLong(KsIndexKey::kVectorValue);
        stream.WriteLong(4 * count);
        stream.WriteLong(count);
        stream.WriteLong(0);
        WriteV420(stream);
    });
}

void KsInverseIndex::WriteV420(KsOutputStreamInterface& stream) const {
    KsCallpath("WriteV420", kClass, [&] {
        for (std::int32_t key : keys_) {
            stream.WriteLong(key);
        }
    });
}

void KsInverseIndex::Read(KsInputStreamInterface& stream, bool asVector, std::int32_t keyCount,
                          const char* file) {
    KsCallpath("Read", kClass, [&] {
        auto expected = static_cast<std::int32_t>(keys_.size());
        if (asVector) {
            bool compact =
                stream.ReadKsHeader(KsIndexKey::kVectorMarker) == KsIndexKey::kVectorVersionCompact;
            if (!compact) {
                stream.ReadShort();
                stream.ReadLong();
                stream.ReadLong();
            }
            std::int32_t count = stream.ReadLong();
            stream.ReadLong();
            if (count != expected) {
                KsException::Generate("Index file \"%s\" has an inverse index of %ld entries",
                                      kClass, file, static_cast<long>(count));
            }
        }
        for (std::int32_t& key : keys_) {
            key = stream.ReadLong();
            if (key < -1 || key >= keyCount) {
                KsException::Generate("Index file \"%s\" has an inverse entry of key %ld", kClass,
                                      file, static_cast<long>(key));
            }
        }
    });
}
