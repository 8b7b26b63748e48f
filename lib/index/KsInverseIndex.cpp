#include "index/KsInverseIndex.h"

#include <algorithm>

#include "core/KsByteOrder.h"
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

bool KsInverseIndex::ReadEqual(KsInputStreamInterface& stream, bool asVector, std::int32_t keyCount,
                               const char* file) const {
    return ReadAgreeing(stream, asVector, static_cast<std::int32_t>(keys_.size()), keyCount, file,
                        [&](std::int32_t first, const std::int32_t* entries, std::int32_t count) {
                            return std::equal(entries, entries + count, keys_.data() + first);
                        });
}

void KsInverseIndex::ReadVectorHeader(KsInputStreamInterface& stream, std::int64_t entries,
                                      const char* file) {
    bool compact =
        stream.ReadKsHeader(KsIndexKey::kVectorMarker) == KsIndexKey::kVectorVersionCompact;
    if (!compact) {
        stream.ReadShort();
        stream.ReadLong();
        stream.ReadLong();
    }
    std::int32_t count = stream.ReadLong();
    stream.ReadLong();
    if (count != entries) {
        KsException::Generate("Index file \"%s\" has an inverse index of %ld entries", kClass, file,
                              static_cast<long>(count));
    }
}

// The entries come in blocks, not one call each; a block cut short still has its whole
// entries checked first, so that the first bad entry is reported before the input's end.
bool KsInverseIndex::ReadAgreeing(KsInputStreamInterface& stream, bool asVector,
                                  std::int32_t entries, std::int32_t keyCount, const char* file,
                                  const BlockCheck& agrees) {
    return KsCallpath("Read", kClass, [&] {
        if (asVector) {
            ReadVectorHeader(stream, entries, file);
        }
        constexpr std::int32_t kBlock = 4096;
        unsigned char block[4 * kBlock];
        std::int32_t keys[kBlock];
        auto check = [&](std::int32_t from, std::int32_t to) {
            for (std::int32_t i = from; i < to; ++i) {
                std::int32_t key = KsByteOrder::LoadLittle<std::int32_t>(block + 4 * i);
                if (key < -1 || key >= keyCount) {
                    KsException::Generate("Index file \"%s\" has an inverse entry of key %ld",
                                          kClass, file, static_cast<long>(key));
                }
                keys[i] = key;
            }
        };
        bool equal = true;
        for (std::int32_t done = 0; done < entries;) {
            std::int32_t wanted = std::min(kBlock, entries - done);
            std::int32_t got = stream.Read(block, 4 * wanted, false);
            check(0, got / 4);
            if (got < 4 * wanted) {  // the rest of the block, or the input's end reported
                stream.Read(block + got, 4 * wanted - got, true);
                check(got / 4, wanted);
            }
            equal = agrees(done, keys, wanted) && equal;
            done += wanted;
        }
        return equal;
    });
}
