#include "index/KsIndexImage.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>
#include <limits>

#include "core/KsByteOrder.h"
#include "core/KsCallpath.h"
#include "core/KsException.h"
#include "index/KsIndex.h"
#include "index/KsInverseIndex.h"
#include "index/KsRecordKey.h"
#include "io/KsIOInterface.h"

namespace {

constexpr const char* kClass = "KsIndex";
// The file is read in pieces of this many bytes, a size that stays in the processor's cache.
constexpr std::size_t kPieceBytes = 256 * 1024;
// Without a known size, room is made for this many keys at first.
constexpr std::size_t kFirstKeys = 4096;
// Every key takes at least this many bytes: a value of one byte or more, the form byte and
// the shortest vector (header, count and growth value).
constexpr std::size_t kLeastKeyBytes = 1 + 1 + 6 + 8;
using KsIndexBytes::IsPlainVectorStart;
using KsIndexBytes::kPlainVectorHeader;
using KsIndexBytes::TextBefore;

// Copies a text of `length` bytes; one of 8 to 16 bytes as two words, which may overlap.
[[gnu::always_inline]] inline void CopyText(char* to, const char* from, std::size_t length) {
    if (length >= 8 && length <= 16) {
        std::memcpy(to, from, 8);
        std::memcpy(to + length - 8, from + length - 8, 8);
    } else {
        std::memcpy(to, from, length);
    }
}

[[noreturn]] void KeyOutOfOrder(const char* file, std::int32_t k) {
    KsException::Generate("Index file \"%s\" has key %ld out of order", kClass, file,
                          static_cast<long>(k));
}

}  // namespace

// Reads the index through one buffer of a few pieces, so that a large file is checked
// without being held whole, or straight from bytes in memory. Need gives the bytes of one
// item in one piece; while pinned, the bytes from the pin on stay in the buffer, which grows
// as they come.
class KsIndexImage::Reader final : public KsInputStreamInterface {
public:
    Reader(KsInputStreamInterface& source, std::int64_t headerBytes, const char* name)
        : source_(&source), file_(dynamic_cast<KsIOInterface*>(&source)), name_(name) {
        std::int64_t start = file_ != nullptr ? file_->Tell64() : headerBytes;
        next_ = start;
        bufferStart_ = start;
        fileEnd_ = file_ != nullptr ? std::max(start, file_->GetFileSize64()) : 0;
        buffer_.resize(kPieceBytes);
        data_ = buffer_.data();
    }
    // Bytes in memory, the first at offset `start` of the file.
    Reader(const char* bytes, std::size_t size, std::int64_t start, const char* name)
        : name_(name), ended_(true), bufferStart_(start), data_(bytes), end_(size) {}

    void GetFileName(KsString& out) override { out = name_; }

    std::int32_t Read(void* buffer, std::int32_t count, bool required) override {
        std::size_t wanted = count > 0 ? static_cast<std::size_t>(count) : 0;
        std::size_t done = 0;
        while (done < wanted && (at_ < end_ || Fill(1))) {
            std::size_t n = std::min(wanted - done, end_ - at_);
            std::memcpy(static_cast<char*>(buffer) + done, data_ + at_, n);
            at_ += n;
            done += n;
        }
        if (required && done < wanted) {
            KsIndexBytes::EndsTooSoon(Offset(), name_.GetCString());
        }
        return static_cast<std::int32_t>(done);
    }

    // `n` bytes from the cursor in one piece, or null when the input ends before them.
    const char* Need(std::size_t n) { return end_ - at_ >= n || Fill(n) ? data_ + at_ : nullptr; }
    // The bytes in the buffer after the cursor.
    std::size_t Available() const { return end_ - at_; }
    void Skip(std::size_t n) {
        assert(n <= end_ - at_);
        at_ += n;
    }
    // Where the cursor is in the stream.
    std::int64_t Offset() const { return bufferStart_ + static_cast<std::int64_t>(at_); }
    // The bytes after the cursor when the input is a file of known size or bytes in memory,
    // else the largest size_t.
    std::size_t Left() const {
        if (source_ == nullptr) {
            return end_ - at_;
        }
        return file_ != nullptr ? static_cast<std::size_t>(fileEnd_ - Offset())
                                : std::numeric_limits<std::size_t>::max();
    }
    void Pin() { pin_ = at_; }
    // The bytes read since Pin, which ends the pin.
    std::pair<const char*, std::size_t> Unpin() {
        std::pair<const char*, std::size_t> pinned(data_ + pin_, at_ - pin_);
        pin_ = kNoPin;
        return pinned;
    }
    KsIOInterface* File() const { return file_; }

private:
    static constexpr std::size_t kNoPin = std::numeric_limits<std::size_t>::max();

    // Reads on until `wanted` bytes follow the cursor; false when the input ends first.
    bool Fill(std::size_t wanted) {
        if (source_ == nullptr) {  // bytes in memory: all of them are there
            return end_ - at_ >= wanted;
        }
        std::size_t keep = std::min(pin_, at_);
        std::memmove(buffer_.data(), buffer_.data() + keep, end_ - keep);
        bufferStart_ += static_cast<std::int64_t>(keep);
        at_ -= keep;
        end_ -= keep;
        pin_ = pin_ == kNoPin ? kNoPin : pin_ - keep;
        if (at_ + wanted > buffer_.size()) {
            buffer_.resize(std::max(at_ + wanted, 2 * buffer_.size()));
        }
        data_ = buffer_.data();
        while (end_ - at_ < wanted && !ended_) {
            end_ += ReadSource(buffer_.data() + end_, buffer_.size() - end_);
        }
        return end_ - at_ >= wanted;
    }

    // A file is read at positions up to the size it had, straight; any other stream as it
    // comes, until it gives less than asked.
    std::size_t ReadSource(char* into, std::size_t room) {
        auto ask = static_cast<std::int32_t>(std::min<std::size_t>(room, 1 << 30));
        if (file_ != nullptr) {
            ask = static_cast<std::int32_t>(std::min<std::int64_t>(ask, fileEnd_ - next_));
            if (ask > 0) {
                file_->ReadFrom(static_cast<std::uint64_t>(next_), into, ask, true);
            }
            next_ += ask;
            ended_ = next_ == fileEnd_;
            return static_cast<std::size_t>(ask);
        }
        std::int32_t got = std::max(source_->Read(into, ask, false), 0);
        ended_ = got < ask;
        return static_cast<std::size_t>(got);
    }

    KsInputStreamInterface* source_ = nullptr;  // null for bytes in memory
    KsIOInterface* file_ = nullptr;
    KsString name_;
    std::int64_t next_ = 0;     // the file's next byte to read
    std::int64_t fileEnd_ = 0;  // the file's size when reading began
    bool ended_ = false;
    std::vector<char> buffer_;
    std::int64_t bufferStart_ = 0;  // where data_[0] is in the stream
    const char* data_ = nullptr;    // the buffer, or the bytes in memory
    std::size_t at_ = 0;
    std::size_t end_ = 0;
    std::size_t pin_ = kNoPin;
};

KsIndexImage::KsIndexImage(const Layout& layout)
    : file_(layout.file),
      prototype_(std::make_unique<KsIndexKey>(*layout.prototype)),
      keyLength_(layout.keyLength),
      valueForm_(layout.prototype->Value(), layout.keyLength),
      oneKeyPerRecord_(layout.oneKeyPerRecord),
      text_(std::max<std::size_t>(layout.keyLength, KsIndex::kShortAlphaBytes) + 1) {}

KsIndexImage::~KsIndexImage() = default;

std::unique_ptr<KsIndexImage> KsIndexImage::Load(KsInputStreamInterface& stream,
                                                 const Layout& layout) {
    Reader in(stream, layout.headerBytes, layout.file);
    std::unique_ptr<KsIndexImage> image = LoadFrom(in, layout);
    if (KsIOInterface* file = in.File()) {
        file->Seek64Absolute(in.Offset());
    }
    return image;
}

std::unique_ptr<KsIndexImage> KsIndexImage::Load(const char* bytes, std::size_t size,
                                                 const Layout& layout) {
    Reader in(bytes, size, layout.headerBytes, layout.file);
    return LoadFrom(in, layout);
}

std::unique_ptr<KsIndexImage> KsIndexImage::LoadFrom(Reader& in, const Layout& layout) {
    std::unique_ptr<KsIndexImage> image(new KsIndexImage(layout));
    std::int32_t keyCount = in.ReadLong();
    if (keyCount < 0) {
        KsException::Generate("Index file \"%s\" has %ld keys", kClass, layout.file,
                              static_cast<long>(keyCount));
    }
    image->ScanKeys(in, keyCount);
    image->ReadInverse(in, layout);
    return image;
}

void KsIndexImage::ScanKeys(Reader& in, std::int32_t keyCount) {
    KsCallpath("ReadIndexSet()", kClass, [&] {
        // Room for every key the file can hold, so that a false count costs nothing.
        std::size_t left = in.Left();
        auto keys = std::min<std::size_t>(
            static_cast<std::size_t>(keyCount),
            left == std::numeric_limits<std::size_t>::max() ? kFirstKeys : left / kLeastKeyBytes);
        roomKeys_ = keys;
        if (valueForm_.IsAlpha()) {
            values_.reserve(keys * keyLength_);
        }
        if (oneKeyPerRecord_) {
            records_.reserve(std::min<std::size_t>(
                static_cast<std::size_t>(prototype_->GetUniverse()),
                left == std::numeric_limits<std::size_t>::max() ? kFirstKeys : left / 4));
        }
        std::unique_ptr<KsRecordKey> previous(prototype_->Value().Clone());
        std::unique_ptr<KsRecordKey> current(prototype_->Value().Clone());
        for (std::int32_t k = 0; k < keyCount; ++k) {
            const bool plainAlpha = valueForm_.IsPlainAlpha();
            if (k > 0 && plainAlpha && (k = ScanAlphaSingles(in, k, keyCount)) == keyCount) {
                break;
            }
            if (!plainAlpha || !ScanAlphaValue(in, k)) {
                ScanValue(in, k, *previous, *current);
                std::swap(previous, current);
            }
            std::int32_t count = ScanRecords(in, k);
            if (count == 0) {
                KsException::Generate("Index file \"%s\" has key %ld without records", kClass,
                                      file_.GetCString(), static_cast<long>(k));
            }
            if (oneEach_ && (count != 1 || records_.size() != static_cast<std::size_t>(k) + 1)) {
                // Keys so far held one record each, the k-th of the records.
                oneEach_ = false;
                starts_.reserve(roomKeys_ + 1);
                for (std::int32_t before = 0; before <= k; ++before) {
                    starts_.push_back(static_cast<std::size_t>(before));
                }
            }
            if (!oneEach_) {
                starts_.push_back(records_.size());
            }
            keyCount_ = k + 1;
        }
    });
}

// An Alpha value of one piece orders as a C string of its bytes up to the key's length,
// which is checked here against the previous value's bytes. False when the input ends
// inside the value, for ScanValue to report.
bool KsIndexImage::ScanAlphaValue(Reader& in, std::int32_t k) {
    std::size_t stored = text_.size() - 1;
    std::size_t bytes = stored + (keyLength_ >= KsIndex::kShortAlphaBytes ? 2 : 0);
    const char* value = in.Need(bytes);
    if (value == nullptr) {
        return false;
    }
    if (k > 0 && !TextBefore(values_.data() + values_.size() - keyLength_, value, keyLength_)) {
        KeyOutOfOrder(file_.GetCString(), k);
    }
    values_.insert(values_.end(), value, value + keyLength_);
    valueBytes_ = keyLength_;
    in.Skip(bytes);
    return true;
}

// The keys from k on while each is an Alpha value of one piece with one record in the
// vector form this library writes, as most keys of a field of distinct values are: a batch
// of them at a time straight from the input. Stops before the first key in another form
// or with a fault other than its order, for the general reader; returns that key.
std::int32_t KsIndexImage::ScanAlphaSingles(Reader& in, std::int32_t k, std::int32_t keyCount) {
    using KsByteOrder::LoadLittle;
    const std::size_t length = keyLength_;
    const std::size_t valueBytes =
        text_.size() - 1 + (keyLength_ >= KsIndex::kShortAlphaBytes ? 2 : 0);
    const std::size_t keyBytes = valueBytes + kPlainVectorHeader + 4;
    // Byte size 4 and count 1.
    const std::uint64_t bytesAndCount = 4 | std::uint64_t{1} << 32;
    const std::int32_t universe = prototype_->GetUniverse();
    while (k < keyCount) {
        const char* key = in.Need(keyBytes);
        if (key == nullptr) {
            break;
        }
        std::size_t batch = std::min<std::size_t>(in.Available() / keyBytes,
                                                  static_cast<std::size_t>(keyCount - k));
        auto done = static_cast<std::size_t>(k);
        std::size_t held = records_.size();
        SizeArrays(done + batch, held + batch);
        char* value = values_.data() + done * length;
        std::int32_t* record = records_.data() + held;
        std::size_t* start = oneEach_ ? nullptr : starts_.data() + done + 1;
        // Each key is ordered against the one before it where it was read, not where it was
        // just copied to, which the processor would have to wait for.
        const char* previous = value - length;
        std::size_t i = 0;
        for (; i < batch; ++i, previous = key, key += keyBytes, value += length) {
            const char* list = key + valueBytes;
            auto r = LoadLittle<std::int32_t>(list + kPlainVectorHeader);
            if (!IsPlainVectorStart(list) ||
                LoadLittle<std::uint64_t>(list + 13) != bytesAndCount || r <= 0 || r > universe) {
                break;
            }
            auto number = static_cast<std::int32_t>(done + i);
            if (!TextBefore(previous, key, length)) {
                KeyOutOfOrder(file_.GetCString(), number);
            }
            CopyText(value, key, length);
            record[i] = r;
            if (start != nullptr) {
                start[i] = held + i + 1;
            }
        }
        in.Skip(i * keyBytes);
        k = static_cast<std::int32_t>(done + i);
        SizeArrays(done + i, held + i);
        keyCount_ = k;
        if (i < batch) {
            break;
        }
    }
    valueBytes_ = length;
    return k;
}

void KsIndexImage::SizeArrays(std::size_t keys, std::size_t records) {
    values_.resize(keys * keyLength_);
    records_.resize(records);
    if (!oneEach_) {
        starts_.resize(keys + 1);
    }
}

// Reads a value into `current`, keeps its bytes and checks that it follows `previous`.
void KsIndexImage::ScanValue(Reader& in, std::int32_t k, KsRecordKey& previous,
                             KsRecordKey& current) {
    const bool alpha = valueForm_.IsAlpha();
    in.Pin();
    if (alpha) {
        std::size_t stored = text_.size() - 1;
        in.Read(text_.data(), static_cast<std::int32_t>(stored), true);
        text_[keyLength_] = '\0';
        if (keyLength_ >= KsIndex::kShortAlphaBytes) {
            char padding[2];
            in.Read(padding, 2, true);
        }
        static_cast<KsRecordKeyAlpha&>(current).SetText(text_.data());
    } else {
        current.Read(in);
    }
    auto [bytes, size] = in.Unpin();
    if (alpha) {  // the text is kept, not its padding
        bytes = text_.data();
        size = keyLength_;
    }
    assert(k == 0 || size == valueBytes_);
    values_.insert(values_.end(), bytes, bytes + size);
    valueBytes_ = size;
    if (k > 0 && !previous.IsLessThan(current)) {
        KeyOutOfOrder(file_.GetCString(), k);
    }
}

// Checks a key's record list and keeps its records; returns how many it holds.
std::int32_t KsIndexImage::ScanRecords(Reader& in, std::int32_t k) {
    std::int32_t count = 0;
    if (ScanPlainVector(in, count)) {
        return count;
    }
    const char* file = file_.GetCString();
    const char* form = in.Need(1);
    if (form != nullptr && *form == 0) {
        in.Skip(1);
        return KsIndexKey::ScanVector(in, prototype_->GetUniverse(), file,
                                      [&](std::int32_t r) { records_.push_back(r); });
    }
    // A set, or a form byte or an end of input that the key's reader reports.
    auto key = std::make_unique<KsIndexKey>(*prototype_);
    key->Read(in, file);
    count = key->GetRecordCount();
    sets_.emplace_back(k, std::move(key));
    return count;
}

// The vector form this library writes, with every record in order and in range, is taken
// here in one piece; any other form or any fault is left to the general reader, which
// gives the error.
bool KsIndexImage::ScanPlainVector(Reader& in, std::int32_t& count) {
    using KsByteOrder::LoadLittle;
    const char* list = in.Need(kPlainVectorHeader);
    if (list == nullptr || !IsPlainVectorStart(list)) {
        return false;
    }
    std::int32_t universe = prototype_->GetUniverse();
    std::int32_t bytes = LoadLittle<std::int32_t>(list + 13);
    std::int32_t n = LoadLittle<std::int32_t>(list + 17);
    if (n < 0 || n > universe || bytes != 4 * std::int64_t{n}) {
        return false;
    }
    std::size_t size = kPlainVectorHeader + 4 * static_cast<std::size_t>(n);
    if (size > kPieceBytes || (list = in.Need(size)) == nullptr) {
        return false;
    }
    const char* first = list + kPlainVectorHeader;
    std::int32_t last = 0;
    for (std::int32_t i = 0; i < n; ++i) {
        std::int32_t r = LoadLittle<std::int32_t>(first + 4 * i);
        if (r <= last || r > universe) {
            return false;
        }
        last = r;
    }
    for (std::int32_t i = 0; i < n; ++i) {
        records_.push_back(LoadLittle<std::int32_t>(first + 4 * i));
    }
    in.Skip(size);
    count = n;
    return true;
}

// Every record must be in exactly one key, or searches would answer wrongly; a stored
// inverse index must agree with the keys. An inverse that agrees with keys of one record
// each proves that no record is in two of them, so that check waits for its failure.
void KsIndexImage::ReadInverse(Reader& in, const Layout& layout) {
    const char* file = file_.GetCString();
    if (oneKeyPerRecord_) {
        CheckRecordCount();
    }
    char flag = 0;
    bool agrees = true;
    try {
        if (layout.inverseFlag) {
            in.Read(&flag, 1, true);
        }
        if (flag != 0) {
            if (!oneKeyPerRecord_) {
                KsException::Generate("Index file \"%s\" has an inverse index", kClass, file);
            }
            agrees = ReadAgreeingInverse(in, layout.inverseAsVector);
        }
    } catch (const KsException&) {
        if (oneKeyPerRecord_) {
            CheckNoRecordTwice();
        }
        throw;
    }
    if (oneKeyPerRecord_ && (flag == 0 || !agrees)) {
        CheckNoRecordTwice();
    }
    if (!agrees) {
        KsException::Generate("Index file \"%s\" has an inverse index that disagrees with its keys",
                              kClass, file);
    }
    hasInverse_ = flag != 0;
}

// As many records listed as the index covers.
void KsIndexImage::CheckRecordCount() const {
    auto held = static_cast<std::int64_t>(records_.size());
    for (const auto& set : sets_) {
        held += set.second->GetRecordCount();
    }
    KsIndexBytes::CheckListedCount(held, prototype_->GetUniverse(), file_.GetCString());
}

[[noreturn]] void KsIndexImage::ListedTwice(std::int32_t r) const {
    KsException::Generate("Index file \"%s\" lists record %ld under two keys", kClass,
                          file_.GetCString(), static_cast<long>(r));
}

// Calls visit(r, k) for every record r listed, in the order of the file, with its key k.
template <class Visit>
void KsIndexImage::ForEachListed(Visit visit) const {
    auto set = sets_.begin();
    for (std::int32_t k = 0; k < keyCount_; ++k) {
        if (set != sets_.end() && set->first == k) {
            (set++)->second->ForEachRecord([&](std::int32_t r) { visit(r, k); });
            continue;
        }
        auto [first, end] = RecordsOf(k);
        for (std::size_t i = first; i < end; ++i) {
            visit(records_[i], k);
        }
    }
}

// No record listed twice, checked once the count is right (so that the bits of the record
// count a file claims take no more room than its records did); the first listed again is
// named.
void KsIndexImage::CheckNoRecordTwice() const {
    std::vector<std::uint64_t> seen(static_cast<std::size_t>(prototype_->GetUniverse()) / 64 + 1);
    std::int32_t twice = 0;
    ForEachListed([&](std::int32_t r, std::int32_t) {
        std::uint64_t& word = seen[static_cast<std::uint32_t>(r) / 64];
        std::uint64_t bit = std::uint64_t{1} << (r % 64);
        twice = twice == 0 && (word & bit) != 0 ? r : twice;
        word |= bit;
    });
    if (twice != 0) {
        ListedTwice(twice);
    }
}

// Reads the stored inverse and tells whether it agrees with the keys. While every key holds
// one record, every record is once in the records, so an entry agrees exactly when it names
// the key that holds its record, and no table needs making.
bool KsIndexImage::ReadAgreeingInverse(Reader& in, bool asVector) {
    const char* file = file_.GetCString();
    const auto entries = static_cast<std::int32_t>(prototype_->GetUniverse()) + 1;
    if (!oneEach_) {
        inverse_ = BuildInverse(true);
        return inverse_->ReadEqual(in, asVector, keyCount_, file);
    }
    const std::int32_t* records = records_.data();
    return KsInverseIndex::ReadAgreeing(
        in, asVector, entries, keyCount_, file,
        [records](std::int32_t first, const std::int32_t* keys, std::int32_t count) {
            std::int32_t wrong = 0;
            std::int32_t i = 0;
            if (first == 0) {  // entry 0 belongs to no record
                wrong |= keys[0] + 1;
                i = 1;
            }
            // The records of consecutive entries lie all over the array: each is fetched a
            // few entries ahead of its turn.
            constexpr std::int32_t kAhead = 48;
            for (; i < count; ++i) {
                if (i + kAhead < count) {
                    __builtin_prefetch(records + std::max(keys[i + kAhead], 0));
                }
                std::int32_t key = keys[i];
                wrong |= key < 0 ? 1 : records[key] ^ (first + i);
            }
            return wrong == 0;
        });
}

// The inverse index of the keys: each record's key number. With `findTwice`, a record
// listed twice is named, as CheckNoRecordTwice does.
std::unique_ptr<KsInverseIndex> KsIndexImage::BuildInverse(bool findTwice) const {
    KsInverseIndex::Keys keys(static_cast<std::size_t>(prototype_->GetUniverse()) + 1, -1);
    std::int32_t twice = 0;
    ForEachListed([&, table = keys.data()](std::int32_t r, std::int32_t k) {
        twice = findTwice && twice == 0 && table[r] >= 0 ? r : twice;
        table[r] = k;
    });
    if (twice != 0) {
        ListedTwice(twice);
    }
    return std::make_unique<KsInverseIndex>(keys);
}

std::unique_ptr<KsInverseIndex> KsIndexImage::TakeInverse() {
    if (!hasInverse_) {
        return nullptr;
    }
    hasInverse_ = false;
    return inverse_ ? std::move(inverse_) : BuildInverse(false);
}

const KsRecordKey& KsIndexImage::ValueAt(std::int32_t k) {
    return valueForm_.At(ValueBytes(k), valueBytes_);
}

std::int32_t KsIndexImage::LowerBound(const KsRecordKey& value) {
    return valueForm_.LowerBound(value, keyCount_, valueBytes_,
                                 [this](std::int32_t k) { return ValueBytes(k); });
}

std::int32_t KsIndexImage::UpperBound(const KsRecordKey& value) {
    return valueForm_.UpperBound(value, keyCount_, valueBytes_,
                                 [this](std::int32_t k) { return ValueBytes(k); });
}

std::pair<std::size_t, std::size_t> KsIndexImage::RecordsOf(std::int32_t k) const {
    auto key = static_cast<std::size_t>(k);
    return oneEach_ ? std::make_pair(key, key + 1) : std::make_pair(starts_[key], starts_[key + 1]);
}

KsIndexKey* KsIndexImage::SetFormKey(std::int32_t k) const {
    auto found = std::lower_bound(
        sets_.begin(), sets_.end(), k,
        [](const auto& entry, std::int32_t number) { return entry.first < number; });
    return found != sets_.end() && found->first == k ? found->second.get() : nullptr;
}

void KsIndexImage::GetSet(std::int32_t k, KsSet& result, const KsSet* mask) {
    auto [first, end] = RecordsOf(k);
    if (first == end) {  // every key has records: this one as a set
        const KsIndexKey* set = SetFormKey(k);
        assert(set != nullptr);
        mask != nullptr ? set->GetSet(result, *mask) : set->GetSet(result);
        return;
    }
    for (std::size_t i = first; i < end; ++i) {
        std::int32_t r = records_[i];
        if (mask == nullptr || mask->IsSelected(r)) {
            result.SelectRecord(r, true);
        }
    }
}

std::vector<std::unique_ptr<KsIndexKey>> KsIndexImage::Materialise() {
    std::vector<std::unique_ptr<KsIndexKey>> keys;
    keys.reserve(static_cast<std::size_t>(keyCount_));
    auto set = sets_.begin();
    for (std::int32_t k = 0; k < keyCount_; ++k) {
        std::unique_ptr<KsIndexKey> key;
        if (set != sets_.end() && set->first == k) {
            key = std::move(set->second);
            ++set;
        } else {
            auto [first, end] = RecordsOf(k);
            key = std::make_unique<KsIndexKey>(*prototype_);
            key->AssignVector(records_.data() + first, static_cast<std::int32_t>(end - first));
        }
        valueForm_.Decode(ValueBytes(k), valueBytes_, key->Value());
        keys.push_back(std::move(key));
    }
    keyCount_ = 0;
    sets_.clear();
    Array<char>().swap(values_);
    Array<std::size_t>().swap(starts_);
    Array<std::int32_t>().swap(records_);
    return keys;
}
