#include "index/KsIndexKey.h"

#include <algorithm>
#include <atomic>

#include "core/KsCallpath.h"
#include "core/KsException.h"
#include "io/KsStreamInterface.h"

namespace {

constexpr const char* kClass = "KsIndexKey";
std::atomic<std::int32_t> switchCount{0};

}  // namespace

KsIndexKey::KsIndexKey(std::unique_ptr<KsRecordKey> value, std::int32_t universe)
    : value_(std::move(value)), universe_(universe) {}

KsIndexKey::KsIndexKey(const KsIndexKey& prototype)
    : value_(prototype.value_->Clone()), universe_(prototype.universe_) {}

void KsIndexKey::SetSwitchCount(std::int32_t count) {
    switchCount = count;
}

std::int32_t KsIndexKey::GetSwitchCount() {
    return switchCount;
}

std::int32_t KsIndexKey::GetRecordCount() const {
    return set_ ? set_->GetSelectedCount() : static_cast<std::int32_t>(records_.size());
}

KsVector<std::int32_t> KsIndexKey::GetRecords() const {
    if (!set_) {
        return records_;
    }
    KsVector<std::int32_t> records;
    ForEachRecord([&](std::int32_t r) { records.push_back(r); });
    return records;
}

bool KsIndexKey::HoldsAsSet(std::int64_t records, std::int32_t universe) {
    std::int32_t fixed = switchCount;
    if (fixed > 0) {
        return records > fixed;
    }
    return records > universe / 32 + 1;
}

void KsIndexKey::SetRecord(std::int32_t r) {
    KsCallpath("SetRecord", kClass, [&] {
        if (r < 1 || r > universe_) {
            KsException::Generate("Set record value of %ld not valid for set with %ld records.",
                                  "KsSet", static_cast<long>(r), static_cast<long>(universe_));
        }
        if (!set_ && HoldsAsSet(static_cast<std::int64_t>(records_.size()) + 1, universe_)) {
            ConvertArrayToSet();
        }
        if (set_) {
            set_->SelectRecord(r, true);
            return;
        }
        auto position = std::lower_bound(records_.begin(), records_.end(), r);
        if (position == records_.end() || *position != r) {
            records_.insert(position, r);
        }
    });
}

void KsIndexKey::InsertRecord(std::int32_t r) {
    KsCallpath("InsertRecord()", kClass, [&] {
        if (set_) {
            set_->AddToSet(r, false);
        } else {
            for (std::int32_t& record : records_) {
                record += record >= r ? 1 : 0;
            }
        }
        ++universe_;
    });
}

bool KsIndexKey::DeleteRecordIsEmpty(std::int32_t r) {
    return KsCallpath("DeleteRecordIsEmpty", kClass, [&] {
        if (set_) {
            set_->DeleteFromSet(r);
        } else {
            auto position = std::lower_bound(records_.begin(), records_.end(), r);
            if (position != records_.end() && *position == r) {
                position = records_.erase(position);
            }
            for (; position != records_.end(); ++position) {
                --*position;
            }
        }
        --universe_;
        return GetRecordCount() == 0;
    });
}

void KsIndexKey::AssignRecords(const std::int32_t* records, std::int32_t count) {
    set_.reset();
    records_.assign(records, records + count);
    if (HoldsAsSet(count, universe_)) {
        ConvertArrayToSet();
    }
}

void KsIndexKey::AssignVector(const std::int32_t* records, std::int32_t count) {
    set_.reset();
    records_.assign(records, records + count);
}

void KsIndexKey::ConvertArrayToSet() {
    KsCallpath("ConvertArrayToSet", kClass, [&] {
        if (set_) {
            return;
        }
        auto set = std::make_unique<KsSet>(universe_);
        for (std::int32_t r : records_) {
            set->SelectRecord(r, true);
        }
        set_ = std::move(set);
        KsVector<std::int32_t>().swap(records_);
    });
}

void KsIndexKey::GetSet(KsSet& result) const {
    KsCallpath("GetSet()", kClass, [&] {
        if (set_) {
            result.OrSet(*set_);
            return;
        }
        for (std::int32_t r : records_) {
            result.SelectRecord(r, true);
        }
    });
}

void KsIndexKey::GetSet(KsSet& result, const KsSet& mask) const {
    KsCallpath("GetSet()", kClass, [&] {
        if (set_) {
            result.MaskedOrSet(*set_, mask);
            return;
        }
        for (std::int32_t r : records_) {
            if (mask.IsSelected(r)) {
                result.SelectRecord(r, true);
            }
        }
    });
}

void KsIndexKey::Compress() const {
    if (set_) {
        set_->Compress();
    }
}

void KsIndexKey::Write(KsOutputStreamInterface& stream) const {
    KsCallpath("Write()", kClass, [&] {
        char form = set_ ? 1 : 0;
        stream.Write(&form, 1);
        if (set_) {
            set_->Write(stream);
            return;
        }
        WriteVector(stream, records_.data(), static_cast<std::int32_t>(records_.size()));
    });
}

void KsIndexKey::WriteVector(KsOutputStreamInterface& stream, const std::int32_t* records,
                             std::int32_t count) {
    stream.WriteKsHeader(kVectorMarker, kVectorVersion);
    stream.WriteShort(4);
    stream.WriteLong(kVectorValue);
    stream.WriteLong(4 * count);
    stream.WriteLong(count);
    stream.WriteLong(0);
    for (std::int32_t i = 0; i < count; ++i) {
        stream.WriteLong(records[i]);
    }
}

void KsIndexKey::WriteRecords(KsOutputStreamInterface& stream, const std::int32_t* records,
                              std::int32_t count, std::int32_t universe) {
    KsCallpath("Write()", kClass, [&] {
        char form = HoldsAsSet(count, universe) ? 1 : 0;
        stream.Write(&form, 1);
        if (form == 0) {
            WriteVector(stream, records, count);
            return;
        }
        KsSet set(universe);
        for (std::int32_t i = 0; i < count; ++i) {
            set.SelectRecord(records[i], true);
        }
        set.Write(stream);
    });
}

void KsIndexKey::Read(KsInputStreamInterface& stream, const char* file) {
    KsCallpath("Read()", kClass, [&] {
        char form = 0;
        stream.Read(&form, 1, true);
        CheckForm(form, file);
        if (form == 0) {
            KsVector<std::int32_t> records;
            ScanVector(stream, universe_, file, [&](std::int32_t r) { records.push_back(r); });
            records_.swap(records);
            set_.reset();
            return;
        }
        auto set = std::make_unique<KsSet>();
        set->Read(stream);
        CheckSetSize(set->GetSize(), universe_, file);
        set_ = std::move(set);
        records_.clear();
    });
}

void KsIndexKey::CheckForm(char form, const char* file) {
    if (form != 0 && form != 1) {
        KsException::Generate("Index file \"%s\" holds a key of unknown form %d", kClass, file,
                              form);
    }
}

void KsIndexKey::CheckSetSize(std::int32_t records, std::int32_t universe, const char* file) {
    if (records != universe) {
        KsException::Generate("Index file \"%s\" holds a set of %ld records for %ld records",
                              kClass, file, static_cast<long>(records),
                              static_cast<long>(universe));
    }
}

std::int32_t KsIndexKey::SkipSet(KsInputStreamInterface& stream, std::int32_t universe,
                                 const char* file) {
    return KsCallpath("SkipSet()", kClass, [&] {
        const KsSet::Stored stored = KsSet::Skip(stream);
        CheckSetSize(stored.records, universe, file);
        return stored.selected;
    });
}

KsIndexKey::VectorExtent KsIndexKey::ReadVectorHeader(KsInputStreamInterface& stream,
                                                      std::int32_t universe, const char* file) {
    std::int16_t version = stream.ReadKsHeader(kVectorMarker);
    std::int32_t extra = 0;
    if (version == kVectorVersion) {
        std::int16_t elementSize = stream.ReadShort();
        stream.ReadLong();  // the value 128
        std::int32_t bytes = stream.ReadLong();
        if (elementSize != 4 || bytes < 0) {
            KsException::Generate("Index file \"%s\" holds a vector of %hd-byte elements", kClass,
                                  file, elementSize);
        }
        extra = bytes;
    } else if (version != kVectorVersionCompact) {
        KsException::Generate("Unknown vector type \"%hd\"", "KsVector", version);
    }
    std::int32_t count = stream.ReadLong();
    stream.ReadLong();  // growth
    // Records are distinct and ascending within the universe, so a larger count is corrupt.
    if (count < 0 || count > universe ||
        (version == kVectorVersion && extra < 4 * std::int64_t{count})) {
        KsException::Generate("Index file \"%s\" holds a vector of %ld records for %ld records",
                              kClass, file, static_cast<long>(count), static_cast<long>(universe));
    }
    return {count, std::max<std::int64_t>(extra, 4 * std::int64_t{count})};
}

void KsIndexKey::ListedOutOfOrder(std::int32_t r, const char* file) {
    KsException::Generate("Index file \"%s\" holds record %ld out of order or range", kClass, file,
                          static_cast<long>(r));
}

std::int32_t KsIndexKey::ScanVector(KsInputStreamInterface& stream, std::int32_t universe,
                                    const char* file,
                                    const std::function<void(std::int32_t)>& visit) {
    const VectorExtent extent = ReadVectorHeader(stream, universe, file);
    std::int32_t last = 0;
    for (std::int32_t i = 0; i < extent.count; ++i) {
        std::int32_t r = stream.ReadLong();
        CheckListed(r, last, universe, file);
        visit(r);
        last = r;
    }
    for (std::int64_t skipped = 4 * std::int64_t{extent.count}; skipped < extent.bytes; ++skipped) {
        char byte = 0;
        stream.Read(&byte, 1, true);
    }
    return extent.count;
}
