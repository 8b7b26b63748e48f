#include "index/KsIndex.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <typeinfo>

#include "core/KsCallpath.h"
#include "core/KsException.h"
#include "files/KsFieldTypeLetters.h"
#include "files/KsFile.h"
#include "index/KsIndexImage.h"
#include "index/KsIndexMap.h"
#include "index/KsIndexRuns.h"
#include "index/KsSet.h"
#include "io/KsIO.h"
#include "io/KsStreamInterface.h"
#include "platform/KsFileMapping.h"
#include "progress/KsNullProgress.h"

namespace {

constexpr const char* kClass = "KsIndex";
// Records between two questions to the progress object: straight and iterative builds.
constexpr std::int32_t kStraightReport = 128;
constexpr std::int32_t kIterativeReport = 2048;
std::atomic<std::int32_t> mergeBytes{16 << 20};
std::atomic<std::int32_t> straightBuildLimit{KsIndex::kBlockRecords};

bool IsAlphaKey(const KsRecordKey& key) {
    return dynamic_cast<const KsRecordKeyAlpha*>(&key);
}

// The prototype of an index's keys: an empty value of the field's kind. A blob index's
// keys are three-character texts.
std::unique_ptr<KsIndexKey> NewPrototype(char type, std::uint16_t keyLength, std::int32_t records) {
    return std::make_unique<KsIndexKey>(
        KsRecordKey::Instantiate(type == KS_BLOB_FLD ? KS_ALPHA_FLD : type, keyLength), records);
}

// Gathers an index file's many small writes into few large ones; Flush writes what is left.
class GatheringOutput final : public KsOutputStreamInterface {
public:
    explicit GatheringOutput(KsOutputStreamInterface& target) : target_(target) {
        buffer_.reserve(kGatherBytes);
    }
    void GetFileName(KsString& out) override { target_.GetFileName(out); }
    void Write(const void* buffer, std::int32_t count) override {
        const auto* bytes = static_cast<const char*>(buffer);
        buffer_.insert(buffer_.end(), bytes, bytes + count);
        if (buffer_.size() >= kGatherBytes) {
            Flush();
        }
    }
    void Flush() {
        if (!buffer_.empty()) {
            target_.Write(buffer_.data(), static_cast<std::int32_t>(buffer_.size()));
            buffer_.clear();
        }
    }

private:
    static constexpr std::size_t kGatherBytes = 1 << 16;
    KsOutputStreamInterface& target_;
    std::vector<char> buffer_;
};

std::uint16_t FieldKeyLength(KsFile& table, std::uint16_t fieldNumber) {
    const KsField& field = table.GetField(fieldNumber);
    return static_cast<std::uint16_t>(field.GetLength());
}

// The descriptor of a file whose bytes a mapping may stand for: a system file of the
// library's own file class, open only for reading; else -1. A class derived from it may
// hook its system calls (as the tests' fault-injecting files do) and a file open for
// writing may hold bytes not yet written, so both are read through their own calls.
int MappableDescriptor(KsIOInterface& file) {
    if (typeid(file) != typeid(KsIO) || (file.GetFlags() & IO_WRITE) != 0) {
        return -1;
    }
    return static_cast<KsIO&>(file).GetDescriptor();
}

// Finds the keys of a read or mapped file by binary search on their values; reads only
// the record lists of the keys found.
template <class FileKeys>
void SearchFileKeys(FileKeys& keys, const KsRecordKey& low, const KsRecordKey* high, KsSet& result,
                    const KsSet* mask) {
    std::int32_t first = keys.LowerBound(low);
    std::int32_t end = first;
    if (high != nullptr) {
        end = keys.UpperBound(*high);
    } else if (first < keys.GetKeyCount() && keys.ValueAt(first).IsEqual(low)) {
        end = first + 1;
    }
    keys.GetSets(first, std::max(first, end), result, mask);
}

}  // namespace

void KsIndex::SetStraightBuildLimit(std::int32_t records) {
    straightBuildLimit = records;
}

std::int32_t KsIndex::GetStraightBuildLimit() {
    return straightBuildLimit;
}

void KsIndex::SetMergeBytes(std::int32_t bytes) {
    mergeBytes = bytes;
}

KsIndex::KsIndex(char type, std::uint16_t keyLength, std::int32_t recordCount)
    : fieldType_(type), recordCount_(recordCount) {
    KsCallpath("Constructor", kClass, [&] {
        if (recordCount < 0) {
            KsException::Generate("An index cannot cover %ld records", kClass,
                                  static_cast<long>(recordCount));
        }
        prototype_ = NewPrototype(type, keyLength, recordCount);
        keyLength_ = static_cast<std::uint16_t>(prototype_->Value().GetComparableKeyLength());
        if (IsAlphaKey(prototype_->Value()) && type != KS_BLOB_FLD) {
            alternateOrder_ = true;
        }
    });
}

KsIndex::KsIndex(KsFile& table, std::uint16_t fieldNumber, KsProgressInterface* progress)
    : KsIndex(table.GetField(fieldNumber).GetType(), FieldKeyLength(table, fieldNumber),
              table.GetNumRecords()) {
    KsCallpath("KsIndex()", kClass, [&] {
        KsProgressInterface& report = progress ? *progress : KsNullProgress::Instance();
        std::int32_t limit = straightBuildLimit;
        if (limit == 0 || recordCount_ <= limit) {
            StraightBuild(table, fieldNumber, report);
        } else {
            IterativeBuild(table, fieldNumber, report);
        }
        modified_ = true;
    });
}

KsIndex::~KsIndex() = default;

bool KsIndex::KeepsInverseIndex() const {
    return fieldType_ != KS_BLOB_FLD;
}

std::int32_t KsIndex::GetKeyCount() const {
    if (map_) {
        return map_->GetKeyCount();
    }
    if (image_) {
        return image_->GetKeyCount();
    }
    return runs_ ? runs_->GetKeyCount() : static_cast<std::int32_t>(keys_.size());
}

const KsIndexKey& KsIndex::GetKey(std::int32_t number) const {
    Materialise();
    return *keys_[number];
}

const KsIndex::Keys& KsIndex::GetKeys() const {
    Materialise();
    return keys_;
}

bool KsIndex::HasInverseIndex() const {
    return inverse_ != nullptr || (image_ && image_->HasInverse()) || (map_ && map_->HasInverse());
}

void KsIndex::UnmapKeys() const {
    if (map_) {
        image_ = map_->LoadWhole();
        map_.reset();
    }
}

void KsIndex::Unmap() {
    KsCallpath("Unmap()", kClass, [&] { UnmapKeys(); });
}

void KsIndex::Materialise() const {
    UnmapKeys();
    if (!image_ && !runs_) {
        return;
    }
    if (image_ && image_->HasInverse()) {
        inverse_ = image_->TakeInverse();
    }
    std::vector<std::unique_ptr<KsIndexKey>> keys =
        image_ ? image_->Materialise() : runs_->Materialise(*prototype_);
    Keys materialised;
    materialised.reserve(keys.size());
    for (std::unique_ptr<KsIndexKey>& key : keys) {
        materialised.Append(std::move(key));
    }
    keys_.swap(materialised);
    image_.reset();
    runs_.reset();
}

void KsIndex::StraightBuild(KsFile& table, std::uint16_t fieldNumber,
                            KsProgressInterface& progress) {
    KsCallpath("StraightBuild()", kClass, [&] {
        BuildInBlocks(table, fieldNumber, progress, std::max(recordCount_, 1), kStraightReport);
    });
}

void KsIndex::IterativeBuild(KsFile& table, std::uint16_t fieldNumber,
                             KsProgressInterface& progress) {
    KsCallpath("IterativeBuild()", kClass, [&] {
        BuildInBlocks(table, fieldNumber, progress, kBlockRecords, kIterativeReport);
    });
}

// Reads the records a block at a time, sorts each block's values and merges them into the
// runs: a key is found or made once per distinct value of a block, not once per record, and
// becomes an object only when the index needs one.
void KsIndex::BuildInBlocks(KsFile& table, std::uint16_t fieldNumber, KsProgressInterface& progress,
                            std::int32_t blockRecords, std::int32_t reportEvery) {
    DestroyKeyArray();
    runs_ = std::make_unique<KsIndexRuns>(keyLength_);
    SetTitlef(progress, 1023, "Indexing %d records...", recordCount_);
    SetDetailf(progress, 1023, "Field \"%s\" of \"%s\"", table.GetField(fieldNumber).GetName(),
               table.GetFileName());
    progress.SetRange(1, recordCount_);
    progress.SetPosition(1);
    std::unique_ptr<KsFileRecord> record = table.GetNewRecord();
    KsRecordKey& value = prototype_->Value();
    // Whole blocks are merged together up to a bound of key bytes: each merge walks every
    // key made so far, so fewer merges make large builds faster.
    const std::int32_t mergeBlocks = std::max<std::int32_t>(
        1, mergeBytes / std::max<std::int32_t>(1, keyLength_) / blockRecords);
    std::vector<unsigned char> bytes;
    std::int32_t first = 1;
    for (std::int32_t r = 1; r <= recordCount_; ++r) {
        bytes.resize(static_cast<std::size_t>(r - first + 1) * keyLength_);
        table.GotoRecord(r, record.get());
        value.SetValue(*record, fieldNumber);
        value.GetComparableKey(bytes.data() + static_cast<std::size_t>(r - first) * keyLength_);
        if (r % reportEvery == 0) {
            progress.SetPosition(r);
            if (!progress.ShouldContinue()) {
                DestroyKeyArray();
                KsException::GenerateAs<KsIndexBuildCanceled>(
                    "Build of index on field \"%s\" of file \"%s\" was halted by user.", kClass,
                    table.GetField(fieldNumber).GetName(), table.GetFileName());
            }
        }
        if (r == recordCount_ ||
            (r - first + 1) >= static_cast<std::int64_t>(blockRecords) * mergeBlocks) {
            runs_->Merge(bytes.data(), r - first + 1, first);
            first = r + 1;
            bytes.clear();
        }
    }
    progress.SetPosition(recordCount_);
    progress.SetDetail("");
    alternate_.reset();  // built when a search first asks for it
}

void KsIndex::BuildAlternateOrderArray() {
    KsCallpath("BuildAlternateOrderArray()", kClass, [&] {
        if (!alternateOrder_) {
            return;
        }
        Materialise();
        std::vector<KsIndexKey*> keys(keys_.begin(), keys_.end());
        std::stable_sort(keys.begin(), keys.end(), [](const KsIndexKey* a, const KsIndexKey* b) {
            return a->Value().IsLessThanAlternate(b->Value());
        });
        alternate_ = std::make_unique<std::vector<KsIndexKey*>>(std::move(keys));
    });
}

void KsIndex::InsertAlternate(KsIndexKey* key) {
    if (alternate_) {
        auto position = std::upper_bound(alternate_->begin(), alternate_->end(), key,
                                         [](const KsIndexKey* a, const KsIndexKey* b) {
                                             return a->Value().IsLessThanAlternate(b->Value());
                                         });
        alternate_->insert(position, key);
    }
}

void KsIndex::RemoveAlternate(const KsIndexKey* key, std::int32_t number) {
    if (alternate_) {
        auto position = std::find(alternate_->begin(), alternate_->end(), key);
        if (position == alternate_->end()) {
            KsException::Generate("Unable to find key %d in alternate index", kClass, number);
        }
        alternate_->erase(position);
    }
}

std::int32_t KsIndex::FindPrototype() const {
    Materialise();
    std::int32_t position = keys_.FindPosition(prototype_.get());
    if (position < GetKeyCount() && keys_[position]->Value().IsEqual(prototype_->Value())) {
        return position;
    }
    return -1;
}

void KsIndex::SearchRange(const void* low, const void* high, bool alternateOrder, KsSet& result,
                          const KsSet* mask) {
    if (alternateOrder && !alternateOrder_) {
        KsException::Generate("Cannot search on the given order; no alternate key array.", kClass);
    }
    if (result.GetSize() != recordCount_) {
        result.Init(recordCount_);
    }
    KsRecordKey& value = prototype_->Value();
    std::unique_ptr<KsRecordKey> upper;
    if (high != nullptr) {
        upper.reset(value.Clone());
        upper->SetComparableKey(high);
    }
    value.SetComparableKey(low);
    if (alternateOrder) {
        SearchAlternate(value, upper.get(), result, mask);
        return;
    }
    if (map_) {
        SearchFileKeys(*map_, value, upper.get(), result, mask);
        return;
    }
    if (image_) {
        SearchFileKeys(*image_, value, upper.get(), result, mask);
        return;
    }
    if (runs_) {
        SearchRuns(low, high, result, mask);
        return;
    }
    for (std::int32_t k = keys_.FindPosition(prototype_.get()); k < GetKeyCount(); ++k) {
        const KsIndexKey& key = *keys_[k];
        if (upper ? upper->IsLessThan(key.Value()) : !key.Value().IsEqual(value)) {
            break;
        }
        mask != nullptr ? key.GetSet(result, *mask) : key.GetSet(result);
    }
}

// Finds the keys of a build by binary search on their bytes.
void KsIndex::SearchRuns(const void* low, const void* high, KsSet& result, const KsSet* mask) {
    std::int32_t first = runs_->LowerBound(low);
    std::int32_t end = runs_->UpperBound(high != nullptr ? high : low);
    for (std::int32_t k = first; k < end; ++k) {
        const std::int32_t* records = runs_->RecordsOf(k);
        for (std::int32_t i = 0; i < runs_->CountOf(k); ++i) {
            if (mask == nullptr || mask->IsSelected(records[i])) {
                result.SelectRecord(records[i], true);
            }
        }
    }
}

void KsIndex::SearchAlternate(const KsRecordKey& low, const KsRecordKey* high, KsSet& result,
                              const KsSet* mask) {
    if (!alternate_) {
        BuildAlternateOrderArray();
    }
    auto position = std::lower_bound(alternate_->begin(), alternate_->end(), &low,
                                     [](const KsIndexKey* a, const KsRecordKey* b) {
                                         return a->Value().IsLessThanAlternate(*b);
                                     });
    for (; position != alternate_->end(); ++position) {
        const KsIndexKey& key = **position;
        if (high != nullptr ? high->IsLessThanAlternate(key.Value())
                            : !key.Value().IsEqualAlternate(low)) {
            break;
        }
        mask != nullptr ? key.GetSet(result, *mask) : key.GetSet(result);
    }
}

void KsIndex::Search(const void* low, const void* high, KsSet& result, bool alternateOrder) {
    KsCallpath(high != nullptr ? "SearchRange()" : "SearchExact()", kClass,
               [&] { SearchRange(low, high, alternateOrder, result, nullptr); });
}

void KsIndex::MaskedSearch(const void* low, const void* high, KsSet& result, const KsSet& mask,
                           bool alternateOrder) {
    KsCallpath(high != nullptr ? "MaskRange()" : "MaskExact()", kClass,
               [&] { SearchRange(low, high, alternateOrder, result, &mask); });
}

std::string KsIndex::ComparableBytesOf(const KsRecordKey& key, const char* which) const {
    const KsRecordKey& own = prototype_->Value();
    const std::uint32_t length = key.GetComparableKeyLength();
    if (typeid(key) != typeid(own) || length != own.GetComparableKeyLength()) {
        KsException::Generate(
            "The search key's %s value (%u bytes) does not fit the index of a field of type "
            "'%c', whose keys have %u bytes.",
            kClass, which, length, fieldType_, own.GetComparableKeyLength());
    }
    std::string bytes(length, '\0');
    key.GetComparableKey(bytes.data());
    return bytes;
}

void KsIndex::Search(const KsRecordKey& low, const KsRecordKey* high, KsSet& result,
                     bool alternateOrder) {
    KsCallpath(high != nullptr ? "SearchRange()" : "SearchExact()", kClass, [&] {
        const std::string from = ComparableBytesOf(low, "low");
        const std::string to = high != nullptr ? ComparableBytesOf(*high, "high") : "";
        SearchRange(from.data(), high != nullptr ? to.data() : nullptr, alternateOrder, result,
                    nullptr);
    });
}

void KsIndex::MaskedSearch(const KsRecordKey& low, const KsRecordKey* high, KsSet& result,
                           const KsSet& mask, bool alternateOrder) {
    KsCallpath(high != nullptr ? "MaskRange()" : "MaskExact()", kClass, [&] {
        const std::string from = ComparableBytesOf(low, "low");
        const std::string to = high != nullptr ? ComparableBytesOf(*high, "high") : "";
        SearchRange(from.data(), high != nullptr ? to.data() : nullptr, alternateOrder, result,
                    &mask);
    });
}

std::int32_t KsIndex::SetRecord(std::int32_t record, const void* keyBytes) {
    return KsCallpath("SetRecord()", kClass, [&] {
        Materialise();
        prototype_->Value().SetComparableKey(keyBytes);
        std::int32_t number = FindPrototype();
        if (number >= 0) {
            keys_[number]->SetRecord(record);
        } else {
            auto key = std::make_unique<KsIndexKey>(*prototype_);
            key->SetRecord(record);
            KsIndexKey* added = key.get();
            number = keys_.InsertElement(std::move(key));
            InsertAlternate(added);
            if (inverse_) {
                inverse_->AddKeyNumber(number);
            }
        }
        if (inverse_) {
            inverse_->SetKey(record, number);
        }
        modified_ = true;
        return number;
    });
}

void KsIndex::InsertRecord(std::int32_t record, const void* keyBytes) {
    KsCallpath("InsertRecord()", kClass, [&] {
        if (record < 1 || record > recordCount_ + 1) {
            KsException::Generate("Index %d out of range; array is from %d to %d", "KsVector",
                                  record, 1, recordCount_ + 1);
        }
        Materialise();
        for (KsIndexKey* key : keys_) {
            key->InsertRecord(record);
        }
        ++recordCount_;
        prototype_->SetUniverse(recordCount_);
        if (inverse_) {
            inverse_->InsertRecord(record, -1);
        }
        SetRecord(record, keyBytes);
        modified_ = true;
    });
}

void KsIndex::DeleteRecord(std::int32_t record) {
    KsCallpath("DeleteRecord()", kClass, [&] {
        if (record < 1 || record > recordCount_) {
            KsException::Generate("Index %d out of range; array is from %d to %d", "KsVector",
                                  record, 1, recordCount_);
        }
        Materialise();
        for (std::int32_t k = GetKeyCount() - 1; k >= 0; --k) {
            KsIndexKey* key = keys_[k];
            if (key->DeleteRecordIsEmpty(record)) {
                RemoveAlternate(key, k);
                if (inverse_) {
                    inverse_->RemoveKeyNumber(k);
                }
                keys_.DeleteAt(k);
            }
        }
        --recordCount_;
        prototype_->SetUniverse(recordCount_);
        if (inverse_) {
            inverse_->RemoveRecord(record);
        }
        modified_ = true;
    });
}

void KsIndex::UpdateRecord(std::int32_t record, const void* keyBytes) {
    KsCallpath("UpdateRecord()", kClass, [&] {
        Materialise();
        EnsureInverseIndex();
        std::int32_t number = inverse_->GetKeyNumber(record);
        prototype_->Value().SetComparableKey(keyBytes);
        if (keys_[number]->Value().IsEqual(prototype_->Value())) {
            return;
        }
        DeleteRecord(record);
        InsertRecord(record, keyBytes);
    });
}

void KsIndex::EnsureInverseIndex() {
    if (!inverse_) {
        BuildInverseIndex(KsNullProgress::Instance());
    }
}

void KsIndex::BuildInverseIndex(KsProgressInterface& progress) {
    KsCallpath("BuildInverseIndex()", kClass, [&] {
        if (!runs_) {
            Materialise();
        }
        if (inverse_) {
            return;
        }
        SetTitlef(progress, 1023, "Building inverse index for %d keys...", GetKeyCount());
        progress.SetRange(0, GetKeyCount());
        auto inverse = std::make_unique<KsInverseIndex>(recordCount_);
        for (std::int32_t k = 0; k < GetKeyCount(); ++k) {
            if (runs_) {
                std::for_each_n(runs_->RecordsOf(k), runs_->CountOf(k),
                                [&](std::int32_t r) { inverse->SetKey(r, k); });
            } else {
                keys_[k]->ForEachRecord([&](std::int32_t r) { inverse->SetKey(r, k); });
            }
            progress.SetPosition(k + 1);
            if (!progress.ShouldContinue()) {
                KsException::GenerateAs<KsIndexBuildCanceled>(
                    "Build of inverse index interrupted by user.", kClass);
            }
        }
        inverse_ = std::move(inverse);
    });
}

void KsIndex::DestroyKeyArray() {
    KsCallpath("DestroyKeyArray()", kClass, [&] {
        alternate_.reset();
        inverse_.reset();
        image_.reset();
        map_.reset();
        runs_.reset();
        keys_.clear();
    });
}

bool KsIndex::IsSameAs(const KsIndex& other) const {
    if (fieldType_ != other.fieldType_ || keyLength_ != other.keyLength_ ||
        recordCount_ != other.recordCount_ || GetKeyCount() != other.GetKeyCount()) {
        return false;
    }
    Materialise();
    other.Materialise();
    for (std::int32_t k = 0; k < GetKeyCount(); ++k) {
        const KsIndexKey& mine = *keys_[k];
        const KsIndexKey& theirs = *other.keys_[k];
        if (!mine.Value().IsEqual(theirs.Value()) || mine.GetRecords() != theirs.GetRecords()) {
            return false;
        }
    }
    return true;
}

void KsIndex::WriteValue(KsOutputStreamInterface& stream, const KsRecordKey& value) const {
    if (!IsAlphaKey(value)) {
        value.Write(stream);
        return;
    }
    const char* text = static_cast<const KsRecordKeyAlpha&>(value).GetText();
    const char zeros[kShortAlphaBytes] = {};
    if (keyLength_ < kShortAlphaBytes) {
        char padded[kShortAlphaBytes] = {};
        std::memcpy(padded, text, keyLength_);
        stream.Write(padded, kShortAlphaBytes);
    } else {
        value.Write(stream);
        stream.Write(zeros, 2);
    }
}

void KsIndex::WriteKeys(KsOutputStreamInterface& stream) {
    if (!runs_) {
        for (const KsIndexKey* key : keys_) {
            WriteValue(stream, key->Value());
            key->Write(stream);
        }
        return;
    }
    KsRecordKey& value = prototype_->Value();
    for (std::int32_t k = 0; k < runs_->GetKeyCount(); ++k) {
        value.SetComparableKey(runs_->ValueAt(k));
        WriteValue(stream, value);
        KsIndexKey::WriteRecords(stream, runs_->RecordsOf(k), runs_->CountOf(k), recordCount_);
    }
}

void KsIndex::Write(KsOutputStreamInterface& target, std::int16_t version) {
    KsCallpath("Write()", kClass, [&] {
        GatheringOutput stream(target);
        if (version != kVersion && version != kVersion420 && version != kVersion400) {
            KsException::Generate("Index version %hd cannot be written", kClass, version);
        }
        if (!runs_) {
            Materialise();
        }
        bool withInverse = version != kVersion400 && KeepsInverseIndex();
        if (withInverse) {
            EnsureInverseIndex();
        }
        stream.WriteKsHeader(kMarker, version);
        stream.Write(&fieldType_, 1);
        stream.WriteShort(static_cast<std::int16_t>(keyLength_));
        stream.WriteLong(recordCount_);
        stream.WriteLong(GetKeyCount());
        WriteKeys(stream);
        if (version != kVersion400) {
            char flag = withInverse ? 1 : 0;
            stream.Write(&flag, 1);
            if (withInverse && version == kVersion) {
                inverse_->Write(stream);
            } else if (withInverse) {
                inverse_->WriteV420(stream);
            }
        }
        stream.Flush();
    });
}

KsIndex::FileHeader KsIndex::ReadHeader(KsInputStreamInterface& stream, const char* file,
                                        bool ignoreRecordCount) const {
    std::int16_t version = stream.ReadKsHeader(kMarker);
    if (version != kVersion && version != kVersion420 && version != kVersion400) {
        KsException::Generate("Index file \"%s\" has unknown version %hd", kClass, file, version);
    }
    char type = 0;
    stream.Read(&type, 1, true);
    if (type != fieldType_) {
        KsException::Generate(
            "Index file \"%s\" is for field of type '%c', but field  is of type '%c'", kClass, file,
            type, fieldType_);
    }
    std::int16_t length = stream.ReadShort();
    if (length != static_cast<std::int16_t>(keyLength_)) {
        KsException::Generate("Index file \"%s\" has field length of %hd, but field length is %hd",
                              kClass, file, length, static_cast<std::int16_t>(keyLength_));
    }
    std::int32_t records = stream.ReadLong();
    if (records < 0 || (!ignoreRecordCount && records != recordCount_)) {
        KsException::Generate("Index file \"%s\" has %ld records, but file has %ld records", kClass,
                              file, static_cast<long>(records), static_cast<long>(recordCount_));
    }
    return {version, records};
}

void KsIndex::TakeOver(std::int32_t records) {
    recordCount_ = records;
    prototype_->SetUniverse(recordCount_);
    keys_.clear();
    runs_.reset();
    image_.reset();
    map_.reset();
    inverse_.reset();
    alternate_.reset();
    modified_ = false;
}

void KsIndex::Read(KsInputStreamInterface& stream, bool ignoreRecordCount) {
    KsString name;
    stream.GetFileName(name);
    const char* file = name.GetCString();
    KsCallpath("Read()", kClass, [&] {
        const FileHeader header = ReadHeader(stream, file, ignoreRecordCount);
        KsIndexKey prototype(*prototype_);
        prototype.SetUniverse(header.records);
        std::unique_ptr<KsIndexImage> image = KsIndexImage::Load(
            stream, {&prototype, keyLength_, KeepsInverseIndex(), header.version != kVersion400,
                     header.version == kVersion, kHeaderBytes, file});
        // Everything is read and checked: the index takes it over.
        TakeOver(header.records);
        image_ = std::move(image);
    });
}

void KsIndex::Open(KsIOInterface& file, bool ignoreRecordCount) {
    KsFileMapping mapping;
    const int descriptor = MappableDescriptor(file);
    const std::int64_t start = file.Tell64();
    if (descriptor < 0 || !mapping.Map(descriptor) ||
        static_cast<std::uint64_t>(start) >= mapping.Size()) {
        Read(file, ignoreRecordCount);
        return;
    }
    const char* name = file.GetFileName();
    KsCallpath("Read()", kClass, [&] {
        const auto at = static_cast<std::size_t>(start);
        KsIndexBytes::BytesStream in(mapping.Data() + at, mapping.Size() - at, name, start);
        const FileHeader header = ReadHeader(in, name, ignoreRecordCount);
        KsIndexKey prototype(*prototype_);
        prototype.SetUniverse(header.records);
        std::unique_ptr<KsIndexMap> map = KsIndexMap::Open(
            std::move(mapping), at + static_cast<std::size_t>(kHeaderBytes),
            {&prototype, keyLength_, KeepsInverseIndex(), header.version != kVersion400,
             header.version == kVersion, kHeaderBytes, name});
        file.Seek64Absolute(static_cast<std::int64_t>(map->End()));
        TakeOver(header.records);
        map_ = std::move(map);
    });
}
