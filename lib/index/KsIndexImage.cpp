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
// The vector form as this library writes it: form byte, header (marker word, version),
// element size, the value 128, byte size, count and growth value, then the records.
constexpr std::size_t kPlainVectorHeader = 1 + 4 + 2 + 2 + 4 + 4 + 4 + 4;

// Compares eight bytes of texts a and b: 1 when a orders first there, 0 when b does or both
// end equal, -1 when they go on the same.
[[gnu::always_inline]] inline int CompareEight(const char* a, const char* b) {
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
    auto x = KsByteOrder::LoadLittle<std::uint64_t>(a);  // first byte lowest
    auto y = KsByteOrder::LoadLittle<std::uint64_t>(b);
    std::uint64_t nuls = ~(((x & kLow7) + kLow7) | x | kLow7);  // top bit of each NUL
    std::uint64_t differ = x ^ y;
    if (differ == 0) {
        return nuls != 0 ? 0 : -1;
    }
    int at = std::countr_zero(differ) / 8;
    if ((nuls & ((std::uint64_t{1} << (8 * at)) - 1)) != 0) {
        return 0;  // both end before they differ
    }
    return static_cast<unsigned char>(a[at]) < static_cast<unsigned char>(b[at]) ? 1 : 0;
}

// Whether text a orders before text b, both of at most `length` bytes and ending at their
// first NUL, bytes compared as unsigned values. Eight bytes are compared at a time; the last
// few of a text of eight bytes or more as the eight that end it, whose first bytes are
// already known equal and without a NUL.
[[gnu::always_inline]] inline bool TextBefore(const char* a, const char* b, std::size_t length) {
    std::size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        int order = CompareEight(a + i, b + i);
        if (order >= 0) {
            return order == 1;
        }
    }
    if (i == length) {
        return false;
    }
    if (length >= 8) {
        return CompareEight(a + length - 8, b + length - 8) == 1;
    }
    for (; i < length; ++i) {
        auto x = static_cast<unsigned char>(a[i]);
        auto y = static_cast<unsigned char>(b[i]);
        if (x != y) {
            return x < y;
        }
        if (x == 0) {
            return false;
        }
    }
    return false;
}

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

// Whether `list` starts a record list in the vector form this library writes: form byte 0,
// the marker, the version and elements of 4 bytes.
bool IsPlainVectorStart(const char* list) {
    using KsByteOrder::LoadLittle;
    const auto formAndMarker = static_cast<std::uint16_t>(KsIndexKey::kVectorMarker << 8);
    const std::uint32_t versionAndSize =
        static_cast<std::uint16_t>(KsIndexKey::kVectorVersion) | std::uint32_t{4} << 16;
    return LoadLittle<std::uint16_t>(list) == formAndMarker &&
           LoadLittle<std::uint32_t>(list + 5) == versionAndSize;
}

// Bytes already checked, read back as a stream (the values of non-Alpha keys).
class BytesStream final : public KsInputStreamInterface {
public:
    BytesStream(const char* bytes, std::size_t size) : bytes_(bytes), size_(size) {}
    void GetFileName(KsString& out) override { out = "memory"; }
    std::int32_t Read(void* buffer, std::int32_t count, bool required) override {
        std::size_t n = std::min(static_cast<std::size_t>(std::max(count, 0)), size_ - at_);
        std::memcpy(buffer, bytes_ + at_, n);
        at_ += n;
        if (required && n < static_cast<std::size_t>(std::max(count, 0))) {
            KsException::Generate("Unable to perform a required read at offset %ld of \"%s\"",
                                  "KsIO", static_cast<long>(at_), "memory");
        }
        return static_cast<std::int32_t>(n);
    }

private:
    const char* bytes_;
    std::size_t size_;
    std::size_t at_ = 0;
};

}  // namespace

// Reads the index through one buffer of a few pieces, so that a large file is checked
// without being held whole. Need gives the bytes of one item in one piece; while pinned,
// the bytes from the pin on stay in the buffer, which grows as they come.
class KsIndexImage::Reader final : public KsInputStreamInterface {
public:
    Reader(KsInputStreamInterface& source, std::int64_t headerBytes, const char* name)
        : source_(source), file_(dynamic_cast<KsIOInterface*>(&source)), name_(name) {
        std::int64_t start = file_ != nullptr ? file_->Tell64() : headerBytes;
        next_ = start;
        bufferStart_ = start;
        fileEnd_ = file_ != nullptr ? std::max(start, file_->GetFileSize64()) : 0;
        buffer_.resize(kPieceBytes);
    }

    void GetFileName(KsString& out) override { out = name_; }

    std::int32_t Read(void* buffer, std::int32_t count, bool required) override {
        std::size_t wanted = count > 0 ? static_cast<std::size_t>(count) : 0;
        std::size_t done = 0;
        while (done < wanted && (at_ < end_ || Fill(1))) {
            std::size_t n = std::min(wanted - done, end_ - at_);
            std::memcpy(static_cast<char*>(buffer) + done, buffer_.data() + at_, n);
            at_ += n;
            done += n;
        }
        if (required && done < wanted) {
            KsException::Generate("Unable to perform a required read at offset %ld of \"%s\"",
                                  "KsIO", static_cast<long>(Offset()), name_.GetCString());
        }
        return static_cast<std::int32_t>(done);
    }

    // `n` bytes from the cursor in one piece, or null when the input ends before them.
    const char* Need(std::size_t n) {
        return end_ - at_ >= n || Fill(n) ? buffer_.data() + at_ : nullptr;
    }
    // The bytes in the buffer after the cursor.
    std::size_t Available() const { return end_ - at_; }
    void Skip(std::size_t n) {
        assert(n <= end_ - at_);
        at_ += n;
    }
    // Where the cursor is in the stream.
    std::int64_t Offset() const { return bufferStart_ + static_cast<std::int64_t>(at_); }
    // The bytes after the cursor when the stream is a file of known size, else the largest
    // size_t.
    std::size_t Left() const {
        return file_ != nullptr ? static_cast<std::size_t>(fileEnd_ - Offset())
                                : std::numeric_limits<std::size_t>::max();
    }
    void Pin() { pin_ = at_; }
    // The bytes read since Pin, which ends the pin.
    std::pair<const char*, std::size_t> Unpin() {
        std::pair<const char*, std::size_t> pinned(buffer_.data() + pin_, at_ - pin_);
        pin_ = kNoPin;
        return pinned;
    }
    KsIOInterface* File() const { return file_; }

private:
    static constexpr std::size_t kNoPin = std::numeric_limits<std::size_t>::max();

    // Reads on until `wanted` bytes follow the cursor; false when the input ends first.
    bool Fill(std::size_t wanted) {
        std::size_t keep = std::min(pin_, at_);
        std::memmove(buffer_.data(), buffer_.data() + keep, end_ - keep);
        bufferStart_ += static_cast<std::int64_t>(keep);
        at_ -= keep;
        end_ -= keep;
        pin_ = pin_ == kNoPin ? kNoPin : pin_ - keep;
        if (at_ + wanted > buffer_.size()) {
            buffer_.resize(std::max(at_ + wanted, 2 * buffer_.size()));
        }
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
        std::int32_t got = std::max(source_.Read(into, ask, false), 0);
        ended_ = got < ask;
        return static_cast<std::size_t>(got);
    }

    KsInputStreamInterface& source_;
    KsIOInterface* file_;
    KsString name_;
    std::int64_t next_ = 0;     // the file's next byte to read
    std::int64_t fileEnd_ = 0;  // the file's size when reading began
    bool ended_ = false;
    std::vector<char> buffer_;
    std::int64_t bufferStart_ = 0;  // where buffer_[0] is in the stream
    std::size_t at_ = 0;
    std::size_t end_ = 0;
    std::size_t pin_ = kNoPin;
};

KsIndexImage::KsIndexImage(const Layout& layout)
    : file_(layout.file),
      prototype_(std::make_unique<KsIndexKey>(*layout.prototype)),
      keyLength_(layout.keyLength),
      alpha_(dynamic_cast<const KsRecordKeyAlpha*>(&layout.prototype->Value()) != nullptr),
      plainAlpha_(alpha_ &&
                  static_cast<const KsRecordKeyAlpha&>(layout.prototype->Value()).GetPieces() ==
                      std::vector<std::uint16_t>{layout.keyLength}),
      oneKeyPerRecord_(layout.oneKeyPerRecord),
      scratch_(layout.prototype->Value().Clone()),
      text_(std::max<std::size_t>(layout.keyLength, KsIndex::kShortAlphaBytes) + 1) {}

KsIndexImage::~KsIndexImage() = default;

std::unique_ptr<KsIndexImage> KsIndexImage::Load(KsInputStreamInterface& stream,
                                                 const Layout& layout) {
    std::unique_ptr<KsIndexImage> image(new KsIndexImage(layout));
    Reader in(stream, layout.headerBytes, layout.file);
    std::int32_t keyCount = in.ReadLong();
    if (keyCount < 0) {
        KsException::Generate("Index file \"%s\" has %ld keys", kClass, layout.file,
                              static_cast<long>(keyCount));
    }
    image->ScanKeys(in, keyCount);
    image->ReadInverse(in, layout);
    if (KsIOInterface* file = in.File()) {
        file->Seek64Absolute(in.Offset());
    }
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
        if (alpha_) {
            values_.reserve(keys * keyLength_);
        }
        if (oneKeyPerRecord_) {
            records_.reserve(std::min<std::size_t>(
                static_cast<std::size_t>(prototype_->GetUniverse()),
                left == std::numeric_limits<std::size_t>::max() ? kFirstKeys : left / 4));
        }
        std::unique_ptr<KsRecordKey> previous(scratch_->Clone());
        std::unique_ptr<KsRecordKey> current(scratch_->Clone());
        for (std::int32_t k = 0; k < keyCount; ++k) {
            if (k > 0 && plainAlpha_ && (k = ScanAlphaSingles(in, k, keyCount)) == keyCount) {
                break;
            }
            if (!plainAlpha_ || !ScanAlphaValue(in, k)) {
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
        values_.resize((done + batch) * length);
        records_.resize(held + batch);
        if (!oneEach_) {
            starts_.resize(done + 1 + batch);
        }
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
        values_.resize(done * length + i * length);
        records_.resize(held + i);
        if (!oneEach_) {
            starts_.resize(done + 1 + i);
        }
        keyCount_ = k;
        if (i < batch) {
            break;
        }
    }
    valueBytes_ = length;
    return k;
}

// Reads a value into `current`, keeps its bytes and checks that it follows `previous`.
void KsIndexImage::ScanValue(Reader& in, std::int32_t k, KsRecordKey& previous,
                             KsRecordKey& current) {
    in.Pin();
    if (alpha_) {
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
    if (alpha_) {  // the text is kept, not its padding
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
    if (held != prototype_->GetUniverse()) {
        KsException::Generate("Index file \"%s\" lists %lld records for %ld records", kClass,
                              file_.GetCString(), static_cast<long long>(held),
                              static_cast<long>(prototype_->GetUniverse()));
    }
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

// The value of key k from its file form.
void KsIndexImage::SetValue(std::int32_t k, KsRecordKey& value) {
    const char* bytes = values_.data() + static_cast<std::size_t>(k) * valueBytes_;
    if (alpha_) {
        std::copy_n(bytes, keyLength_, text_.data());
        text_[keyLength_] = '\0';
        static_cast<KsRecordKeyAlpha&>(value).SetText(text_.data());
        return;
    }
    BytesStream in(bytes, valueBytes_);
    value.Read(in);
}

const KsRecordKey& KsIndexImage::ValueAt(std::int32_t k) {
    SetValue(k, *scratch_);
    return *scratch_;
}

// The text of an Alpha value of one piece, whose bytes the keys' bytes are ordered against.
const char* KsIndexImage::PlainText(const KsRecordKey& value) const {
    if (!plainAlpha_) {
        return nullptr;
    }
    const auto& alpha = dynamic_cast<const KsRecordKeyAlpha&>(value);
    return alpha.GetLength() > keyLength_ ? alpha.GetText() : nullptr;
}

std::int32_t KsIndexImage::LowerBound(const KsRecordKey& value) {
    std::int32_t low = 0, high = GetKeyCount();
    if (const char* text = PlainText(value)) {
        while (low < high) {
            std::int32_t middle = low + (high - low) / 2;
            const char* key = values_.data() + static_cast<std::size_t>(middle) * keyLength_;
            TextBefore(key, text, keyLength_) ? low = middle + 1 : high = middle;
        }
        return low;
    }
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
    if (const char* text = PlainText(value)) {
        while (low < high) {
            std::int32_t middle = low + (high - low) / 2;
            const char* key = values_.data() + static_cast<std::size_t>(middle) * keyLength_;
            TextBefore(text, key, keyLength_) ? high = middle : low = middle + 1;
        }
        return low;
    }
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
        SetValue(k, key->Value());
        keys.push_back(std::move(key));
    }
    keyCount_ = 0;
    sets_.clear();
    Array<char>().swap(values_);
    Array<std::size_t>().swap(starts_);
    Array<std::int32_t>().swap(records_);
    return keys;
}
