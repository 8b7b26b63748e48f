#pragma once
/// @file
/// The keys of a saved index as compact arrays made while the file is read: every value's
/// bytes side by side, the records of every vector-form key in one array, and the few
/// set-form keys as objects. Loading reads the file in pieces (or a mapping of it, straight)
/// and checks every key once (order, record lists, every record in one key, a stored inverse
/// index agreeing); after that searches find keys by binary search on the values. Keys
/// become objects only when the index is changed or a caller asks for them.

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "core/KsString.h"
#include "index/KsIndexBytes.h"
#include "index/KsIndexKey.h"
#include "io/KsStreamInterface.h"

class KsInverseIndex;

/// The keys of a saved index (see the file notes). Built only by Load, which trusts nothing
/// it reads.
class KsIndexImage {
public:
    /// What Load needs to know of the index it reads for.
    struct Layout {
        const KsIndexKey* prototype;  ///< value kind; its universe is the file's record count
        std::uint16_t keyLength;      ///< bytes of the field's comparable key
        bool oneKeyPerRecord;         ///< every record in exactly one key (not blob indexes)
        bool inverseFlag;             ///< a byte after the keys tells whether an inverse follows
        bool inverseAsVector;         ///< a stored inverse is a vector, else raw entries
        std::int64_t headerBytes;     ///< bytes read before the key count (for errors)
        const char* file;             ///< names the file in errors
    };

    /// Reads the rest of the index from `stream` (the key count onwards, with the inverse
    /// index after the keys) and checks all of it. A file stream is left just after the
    /// index; any other stream may have been read further.
    static std::unique_ptr<KsIndexImage> Load(KsInputStreamInterface& stream, const Layout& layout);
    /// The same from the `size` bytes at `bytes` (a mapped file from its key count on, which
    /// the layout's headerBytes gives the offset of), checked the same way.
    static std::unique_ptr<KsIndexImage> Load(const char* bytes, std::size_t size,
                                              const Layout& layout);

    KsIndexImage(const KsIndexImage&) = delete;
    KsIndexImage& operator=(const KsIndexImage&) = delete;
    ~KsIndexImage();

    /// Whether the file held an inverse index (checked against the keys) not yet taken.
    bool HasInverse() const { return hasInverse_; }
    /// The inverse index the file held, made from the keys when it was checked without
    /// being kept (while every key holds one record); null when the file held none or it
    /// was taken already. Call it before Materialise.
    std::unique_ptr<KsInverseIndex> TakeInverse();
    /// The number of keys.
    std::int32_t GetKeyCount() const { return keyCount_; }
    /// The value of key k, in a scratch key that the next call overwrites.
    const KsRecordKey& ValueAt(std::int32_t k);
    /// The first key whose value is not less than `value` (the key count when none).
    std::int32_t LowerBound(const KsRecordKey& value);
    /// The first key whose value is greater than `value` (the key count when none).
    std::int32_t UpperBound(const KsRecordKey& value);
    /// Adds the records of key k to `result` (with a mask, only those also in it).
    void GetSet(std::int32_t k, KsSet& result, const KsSet* mask);
    /// The same for keys first up to end.
    void GetSets(std::int32_t first, std::int32_t end, KsSet& result, const KsSet* mask) {
        for (std::int32_t k = first; k < end; ++k) {
            GetSet(k, result, mask);
        }
    }
    /// Every key as an object, in order and in the form the file gave it; the image is spent
    /// afterwards.
    std::vector<std::unique_ptr<KsIndexKey>> Materialise();

private:
    class Reader;
    template <class T>
    using Array = KsIndexBytes::Array<T>;

    explicit KsIndexImage(const Layout& layout);
    static std::unique_ptr<KsIndexImage> LoadFrom(Reader& in, const Layout& layout);
    void ScanKeys(Reader& in, std::int32_t keyCount);
    void ScanValue(Reader& in, std::int32_t k, KsRecordKey& previous, KsRecordKey& current);
    bool ScanAlphaValue(Reader& in, std::int32_t k);
    std::int32_t ScanAlphaSingles(Reader& in, std::int32_t k, std::int32_t keyCount);
    // Sizes the values and the starts for `keys` Alpha keys and the records for `records`.
    void SizeArrays(std::size_t keys, std::size_t records);
    std::int32_t ScanRecords(Reader& in, std::int32_t k);
    bool ScanPlainVector(Reader& in, std::int32_t& count);
    void ReadInverse(Reader& in, const Layout& layout);
    void CheckRecordCount() const;
    void CheckNoRecordTwice() const;
    bool ReadAgreeingInverse(Reader& in, bool asVector);
    std::unique_ptr<KsInverseIndex> BuildInverse(bool findTwice) const;
    template <class Visit>
    void ForEachListed(Visit visit) const;
    [[noreturn]] void ListedTwice(std::int32_t r) const;
    const char* ValueBytes(std::int32_t k) const {
        return values_.data() + static_cast<std::size_t>(k) * valueBytes_;
    }
    std::pair<std::size_t, std::size_t> RecordsOf(std::int32_t k) const;
    KsIndexKey* SetFormKey(std::int32_t k) const;

    KsString file_;
    std::unique_ptr<KsIndexKey> prototype_;
    std::uint16_t keyLength_;
    KsIndexBytes::Values valueForm_;
    bool oneKeyPerRecord_;
    std::int32_t keyCount_ = 0;
    std::size_t valueBytes_ = 0;  // every value of the file form has the same size
    Array<char> values_;          // each value, key after key: an Alpha text, else its file form
    // The records of key k are records_[starts_[k]] up to records_[starts_[k + 1]]; a key
    // of the set form has none there and is kept in sets_ instead, by key number. While
    // every key holds one record in the vector form, as the keys of a field of distinct
    // values do, key k's record is records_[k] and starts_ is not kept.
    bool oneEach_ = true;
    std::size_t roomKeys_ = 0;  // the keys the file can hold
    Array<std::size_t> starts_;
    Array<std::int32_t> records_;
    std::vector<std::pair<std::int32_t, std::unique_ptr<KsIndexKey>>> sets_;
    // The file's inverse index agreed with the keys; it is kept in inverse_ when it had to
    // be made for that check, else made from the keys when taken.
    bool hasInverse_ = false;
    std::unique_ptr<KsInverseIndex> inverse_;
    std::vector<char> text_;  // an Alpha value as stored, and a terminating NUL
};
