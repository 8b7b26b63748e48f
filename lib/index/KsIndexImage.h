#pragma once
/// @file
/// The keys of a saved index kept as the bytes of its file. Loading reads the file in one
/// go and checks every key once (order, record lists, every record in one key); after that
/// searches find keys by binary search on the bytes and read only the record lists they
/// need. Keys become objects only when the index is changed or a caller asks for them.

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "core/KsString.h"
#include "index/KsIndexKey.h"
#include "io/KsStreamInterface.h"

class KsInverseIndex;

/// The bytes of a saved index from its key count on, with the offset of every key (see the
/// file notes). Built only by Load, which trusts nothing it reads.
class KsIndexImage {
public:
    /// What Load needs to know of the index it reads for.
    struct Layout {
        const KsIndexKey* prototype;  ///< value kind; its universe is the file's record count
        std::uint16_t keyLength;      ///< bytes of the field's comparable key
        bool oneKeyPerRecord;         ///< every record in exactly one key (not blob indexes)
        std::int64_t headerBytes;     ///< bytes read before the key count (for errors)
        const char* file;             ///< names the file in errors
    };

    /// Reads the rest of `stream` (the key count onwards) and checks every key. With
    /// oneKeyPerRecord, `inverse` receives each record's key number. A file stream is read
    /// to its end (ReadInverse puts it back after the index); any other stream to its end.
    static std::unique_ptr<KsIndexImage> Load(KsInputStreamInterface& stream, const Layout& layout,
                                              std::unique_ptr<KsInverseIndex>& inverse);
    /// Reads the inverse-index flag (withFlag) and a stored inverse index (a vector with
    /// asVector, else raw entries) after the keys, and leaves a file stream just after them.
    /// Returns whether one was stored; a stored one must equal `expected`.
    bool ReadInverse(KsInputStreamInterface& stream, bool withFlag, bool asVector,
                     const KsInverseIndex* expected);

    KsIndexImage(const KsIndexImage&) = delete;
    KsIndexImage& operator=(const KsIndexImage&) = delete;
    ~KsIndexImage();

    /// The number of keys.
    std::int32_t GetKeyCount() const { return static_cast<std::int32_t>(keys_.size()); }
    /// The value of key k, in a scratch key that the next call overwrites.
    const KsRecordKey& ValueAt(std::int32_t k);
    /// The first key whose value is not less than `value` (the key count when none).
    std::int32_t LowerBound(const KsRecordKey& value);
    /// The first key whose value is greater than `value` (the key count when none).
    std::int32_t UpperBound(const KsRecordKey& value);
    /// Adds the records of key k to `result` (with a mask, only those also in it).
    void GetSet(std::int32_t k, KsSet& result, const KsSet* mask);
    /// Every key as an object, in order; the image is spent afterwards.
    std::vector<std::unique_ptr<KsIndexKey>> Materialise();

private:
    // Reads the image's bytes as a stream; a short read fails as the file would have.
    class Stream final : public KsInputStreamInterface {
    public:
        Stream(const KsIndexImage& image, std::size_t position)
            : image_(image), position_(position) {}
        void GetFileName(KsString& out) override { out = image_.file_; }
        std::int32_t Read(void* buffer, std::int32_t count, bool required) override;
        std::size_t Position() const { return position_; }
        void SetPosition(std::size_t position) { position_ = position; }

    private:
        const KsIndexImage& image_;
        std::size_t position_;
    };

    KsIndexImage(const Layout& layout, std::vector<char> bytes, std::int64_t base);
    struct Listing;
    std::int64_t ScanKeys(Stream& in, std::int32_t keyCount, Listing* listing);
    std::int32_t ScanRecords(Stream& in, const KsRecordKey& value, Listing* listing);
    std::unique_ptr<KsInverseIndex> NoteRecords(const Listing& listing, std::int64_t held) const;
    void ReadValue(Stream& in, KsRecordKey& value);
    KsIndexKey* SetFormKey(std::int32_t k) const;

    std::vector<char> bytes_;     // the stream from the key count on
    std::int64_t base_;           // where bytes_ began in the stream
    std::size_t end_ = 0;         // the bytes the keys use
    std::size_t valueBytes_ = 0;  // every value of the file form has the same size
    KsString file_;
    std::unique_ptr<KsIndexKey> prototype_;
    std::uint16_t keyLength_;
    bool alpha_;
    bool oneKeyPerRecord_;
    std::vector<std::size_t> keys_;  // offset of each key's value
    // Keys of the set form, read whole while loading, by key number.
    std::vector<std::pair<std::int32_t, std::unique_ptr<KsIndexKey>>> sets_;
    std::unique_ptr<KsRecordKey> scratch_;
    std::vector<char> buffer_;
};
