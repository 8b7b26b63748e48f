#include "index/KsIndexImage.h"

#include <algorithm>
#include <cstring>

#include <cassert>

#include "core/KsByteOrder.h"
#include "core/KsCallpath.h"
#include "core/KsException.h"
#include "index/KsIndex.h"
#include "index/KsInverseIndex.h"
#include "index/KsRecordKey.h"
#include "io/KsIOInterface.h"

namespace {

constexpr const char* kClass = "KsIndex";
// A stream of unknown length is read in pieces of this many bytes.
constexpr std::int32_t kPieceBytes = 1 << 20;
// A file is read in reads of at most this many bytes.
constexpr std::int64_t kLargestRead = 1 << 30;

// The rest of a file in as few reads as its size allows, straight into the image rather than
// through the file's buffer; `base` is where it began.
std::vector<char> ReadRestOfFile(KsIOInterface& file, std::int64_t& base) {
    base = file.Tell64();
    std::vector<char> bytes(
        static_cast<std::size_t>(std::max<std::int64_t>(0, file.GetFileSize64() - base)));
    for (std::size_t done = 0; done < bytes.size();) {
        auto count = static_cast<std::int32_t>(
            std::min<std::int64_t>(kLargestRead, static_cast<std::int64_t>(bytes.size() - done)));
        file.ReadFrom(static_cast<std::uint64_t>(base) + done, bytes.data() + done, count, true);
        done += static_cast<std::size_t>(count);
    }
    return bytes;
}

std::vector<char> ReadRest(KsInputStreamInterface& stream, std::int64_t& base) {
    if (auto* file = dynamic_cast<KsIOInterface*>(&stream)) {
        return ReadRestOfFile(*file, base);
    }
    std::vector<char> bytes;
    for (std::int32_t got = kPieceBytes; got == kPieceBytes;) {
        std::size_t had = bytes.size();
        bytes.resize(had + kPieceBytes);
        got = stream.Read(bytes.data() + had, kPieceBytes, false);
        bytes.resize(had + static_cast<std::size_t>(std::max(got, 0)));
    }
    return bytes;
}

}  // namespace

std::int32_t KsIndexImage::Stream::Read(void* buffer, std::int32_t count, bool required) {
    std::size_t wanted = count > 0 ? static_cast<std::size_t>(count) : 0;
    std::size_t n = std::min(wanted, image_.bytes_.size() - position_);
    std::memcpy(buffer, image_.bytes_.data() + position_, n);
    position_ += n;
    if (required && n < wanted) {
        KsException::Generate(
            "Unable to perform a required read at offset %ld of \"%s\"", "KsIO",
            static_cast<long>(image_.base_ + static_cast<std::int64_t>(position_)),
            image_.file_.GetCString());
    }
    return static_cast<std::int32_t>(n);
}

KsIndexImage::KsIndexImage(const Layout& layout, std::vector<char> bytes, std::int64_t base)
    : bytes_(std::move(bytes)),
      base_(base),
      file_(layout.file),
      prototype_(std::make_unique<KsIndexKey>(*layout.prototype)),
      keyLength_(layout.keyLength),
      alpha_(dynamic_cast<const KsRecordKeyAlpha*>(&layout.prototype->Value()) != nullptr),
      oneKeyPerRecord_(layout.oneKeyPerRecord),
      scratch_(layout.prototype->Value().Clone()) {}

KsIndexImage::~KsIndexImage() = default;

// The records of every key in key order, while loading.
struct KsIndexImage::Listing {
    std::vector<std::int32_t> records;
    std::vector<std::size_t> ends;  // where each key's records end
};

namespace {

// Entries of the inverse index fetched ahead of their turn while records are noted.
constexpr std::size_t kNoteAhead = 16;

}  // namespace

std::unique_ptr<KsIndexImage> KsIndexImage::Load(KsInputStreamInterface& stream,
                                                 const Layout& layout,
                                                 std::unique_ptr<KsInverseIndex>& inverse) {
    std::int64_t base = layout.headerBytes;
    std::vector<char> bytes = ReadRest(stream, base);
    std::unique_ptr<KsIndexImage> image(new KsIndexImage(layout, std::move(bytes), base));
    Stream in(*image, 0);
    std::int32_t keyCount = in.ReadLong();
    if (keyCount < 0) {
        KsException::Generate("Index file \"%s\" has %ld keys", kClass, layout.file,
                              static_cast<long>(keyCount));
    }
    Listing listing;
    std::int64_t held = image->ScanKeys(in, keyCount, layout.oneKeyPerRecord ? &listing : nullptr);
    image->end_ = in.Position();
    inverse.reset();
    if (layout.oneKeyPerRecord) {
        inverse = image->NoteRecords(listing, held);
    }
    return image;
}

// Every record must be in exactly one key, or searches would answer wrongly. The records
// lie all over the inverse index, so its entries are fetched ahead of their turn.
std::unique_ptr<KsInverseIndex> KsIndexImage::NoteRecords(const Listing& listing,
                                                          std::int64_t held) const {
    const char* file = file_.GetCString();
    std::int32_t count = prototype_->GetUniverse();
    if (held != count) {
        KsException::Generate("Index file \"%s\" lists %lld records for %ld records", kClass, file,
                              static_cast<long long>(held), static_cast<long>(count));
    }
    auto inverse = std::make_unique<KsInverseIndex>(count);
    const std::vector<std::int32_t>& records = listing.records;
    std::size_t i = 0;
    for (std::size_t k = 0; k < listing.ends.size(); ++k) {
        for (; i < listing.ends[k]; ++i) {
            if (i + kNoteAhead < records.size()) {
                inverse->Prefetch(records[i + kNoteAhead]);
            }
            std::int32_t r = records[i];
            if (inverse->Peek(r) >= 0) {
                KsException::Generate("Index file \"%s\" lists record %ld under two keys", kClass,
                                      file, static_cast<long>(r));
            }
            inverse->SetKey(r, static_cast<std::int32_t>(k));
        }
    }
    return inverse;
}

std::int64_t KsIndexImage::ScanKeys(Stream& in, std::int32_t keyCount, Listing* listing) {
    return KsCallpath("ReadIndexSet()", kClass, [&] {
        // Each key takes more than 2 bytes, so a larger count than that cannot be true.
        std::size_t possible =
            std::min<std::size_t>(static_cast<std::size_t>(keyCount), bytes_.size() / 2);
        keys_.reserve(possible);
        if (listing != nullptr) {
            listing->ends.reserve(possible);
        }
        std::unique_ptr<KsRecordKey> previous(scratch_->Clone());
        std::unique_ptr<KsRecordKey> current(scratch_->Clone());
        std::int64_t held = 0;
        for (std::int32_t k = 0; k < keyCount; ++k) {
            std::size_t offset = in.Position();
            keys_.push_back(offset);
            ReadValue(in, *current);
            std::size_t valueBytes = in.Position() - offset;
            assert(k == 0 || valueBytes == valueBytes_);
            valueBytes_ = valueBytes;
            if (k > 0 && !previous->IsLessThan(*current)) {
                KsException::Generate("Index file \"%s\" has key %ld out of order", kClass,
                                      file_.GetCString(), static_cast<long>(k));
            }
            std::int32_t count = ScanRecords(in, *current, listing);
            if (count == 0) {
                KsException::Generate("Index file \"%s\" has key %ld without records", kClass,
                                      file_.GetCString(), static_cast<long>(k));
            }
            held += count;
            if (listing != nullptr) {
                listing->ends.push_back(listing->records.size());
            }
            std::swap(previous, current);
        }
        return held;
    });
}

// Checks a key's record list and lists its records; a set is kept.
std::int32_t KsIndexImage::ScanRecords(Stream& in, const KsRecordKey& value, Listing* listing) {
    const char* file = file_.GetCString();
    auto list = [listing](std::int32_t r) {
        if (listing != nullptr) {
            listing->records.push_back(r);
        }
    };
    std::size_t at = in.Position();
    char form = 0;
    in.Read(&form, 1, true);
    if (form == 0) {
        return KsIndexKey::ScanVector(in, prototype_->GetUniverse(), file, list);
    }
    in.SetPosition(at);
    auto key = std::make_unique<KsIndexKey>(std::unique_ptr<KsRecordKey>(value.Clone()),
                                            prototype_->GetUniverse());
    key->Read(in, file);  // checks the form and the set
    key->ForEachRecord(list);
    std::int32_t count = key->GetRecordCount();
    sets_.emplace_back(GetKeyCount() - 1, std::move(key));
    return count;
}

// The file form of a value; Alpha values are set as texts, without a buffer of their own.
void KsIndexImage::ReadValue(Stream& in, KsRecordKey& value) {
    if (!alpha_) {
        value.Read(in);
        return;
    }
    std::size_t stored = std::max<std::size_t>(keyLength_, KsIndex::kShortAlphaBytes);
    buffer_.assign(stored + 1, '\0');
    in.Read(buffer_.data(), static_cast<std::int32_t>(stored), true);
    buffer_[keyLength_] = '\0';
    if (keyLength_ >= KsIndex::kShortAlphaBytes) {
        char padding[2];
        in.Read(padding, 2, true);
    }
    static_cast<KsRecordKeyAlpha&>(value).SetText(buffer_.data());
}

bool KsIndexImage::ReadInverse(KsInputStreamInterface& stream, bool withFlag, bool asVector,
                               const KsInverseIndex* expected) {
    Stream in(*this, end_);
    char flag = 0;
    if (withFlag) {
        in.Read(&flag, 1, true);
    }
    if (flag != 0) {
        if (!oneKeyPerRecord_ || expected == nullptr) {
            KsException::Generate("Index file \"%s\" has an inverse index", kClass,
                                  file_.GetCString());
        }
        KsInverseIndex read(expected->GetRecordCount());
        read.Read(in, asVector, GetKeyCount(), file_.GetCString());
        if (!(read == *expected)) {
            KsException::Generate(
                "Index file \"%s\" has an inverse index that disagrees with its keys", kClass,
                file_.GetCString());
        }
    }
    if (auto* file = dynamic_cast<KsIOInterface*>(&stream)) {
        file->Seek64Absolute(base_ + static_cast<std::int64_t>(in.Position()));
    }
    return flag != 0;
}

const KsRecordKey& KsIndexImage::ValueAt(std::int32_t k) {
    Stream in(*this, keys_[static_cast<std::size_t>(k)]);
    ReadValue(in, *scratch_);
    return *scratch_;
}

std::int32_t KsIndexImage::LowerBound(const KsRecordKey& value) {
    std::int32_t low = 0, high = GetKeyCount();
    while (low < high) {
        std::int32_t middle = low + (high - low) / 2;
        if (ValueAt(middle).IsLessThan(value)) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low;
}

std::int32_t KsIndexImage::UpperBound(const KsRecordKey& value) {
    std::int32_t low = 0, high = GetKeyCount();
    while (low < high) {
        std::int32_t middle = low + (high - low) / 2;
        if (value.IsLessThan(ValueAt(middle))) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    return low;
}

KsIndexKey* KsIndexImage::SetFormKey(std::int32_t k) const {
    auto found = std::lower_bound(
        sets_.begin(), sets_.end(), k,
        [](const auto& entry, std::int32_t number) { return entry.first < number; });
    return found != sets_.end() && found->first == k ? found->second.get() : nullptr;
}

void KsIndexImage::GetSet(std::int32_t k, KsSet& result, const KsSet* mask) {
    const char* list = bytes_.data() + keys_[static_cast<std::size_t>(k)] + valueBytes_;
    if (*list != 0) {
        const KsIndexKey* key = SetFormKey(k);
        assert(key != nullptr);
        mask != nullptr ? key->GetSet(result, *mask) : key->GetSet(result);
        return;
    }
    // Load checked this vector (records ascending, within the universe), so it is walked
    // without the checks: the form byte, the header (marker, version), the longer header
    // of version 400, then the count, the growth value and the records.
    using KsByteOrder::LoadLittle;
    const char* at = list + 1 + 4;
    if (LoadLittle<std::int16_t>(at) == KsIndexKey::kVectorVersion) {
        at += 2 + 4 + 4;
    }
    at += 2;
    std::int32_t count = LoadLittle<std::int32_t>(at);
    at += 4 + 4;
    for (std::int32_t i = 0; i < count; ++i, at += 4) {
        std::int32_t r = LoadLittle<std::int32_t>(at);
        if (mask == nullptr || mask->IsSelected(r)) {
            result.SelectRecord(r, true);
        }
    }
}

std::vector<std::unique_ptr<KsIndexKey>> KsIndexImage::Materialise() {
    std::vector<std::unique_ptr<KsIndexKey>> keys;
    keys.reserve(keys_.size());
    auto set = sets_.begin();
    for (std::int32_t k = 0; k < GetKeyCount(); ++k) {
        if (set != sets_.end() && set->first == k) {
            keys.push_back(std::move(set->second));
            ++set;
            continue;
        }
        Stream in(*this, keys_[static_cast<std::size_t>(k)]);
        auto key = std::make_unique<KsIndexKey>(*prototype_);
        ReadValue(in, key->Value());
        key->Read(in, file_.GetCString());
        keys.push_back(std::move(key));
    }
    sets_.clear();
    keys_.clear();
    std::vector<char>().swap(bytes_);
    return keys;
}
