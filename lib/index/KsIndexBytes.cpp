#include "index/KsIndexBytes.h"

#include "core/KsException.h"
#include "index/KsIndex.h"

namespace KsIndexBytes {

namespace {

// Counts the bytes written, to measure a stream form.
class CountingOutput final : public KsOutputStreamInterface {
public:
    void GetFileName(KsString& out) override { out = "memory"; }
    void Write(const void*, std::int32_t count) override {
        bytes_ += static_cast<std::size_t>(count);
    }
    std::size_t Bytes() const { return bytes_; }

private:
    std::size_t bytes_ = 0;
};

}  // namespace

std::int32_t BytesStream::Read(void* buffer, std::int32_t count, bool required) {
    auto wanted = static_cast<std::size_t>(std::max(count, 0));
    std::size_t n = std::min(wanted, size_ - at_);
    std::memcpy(buffer, bytes_ + at_, n);
    at_ += n;
    if (required && n < wanted) {
        EndsTooSoon(start_ + static_cast<std::int64_t>(at_), name_);
    }
    return static_cast<std::int32_t>(n);
}

void EndsTooSoon(std::int64_t offset, const char* name) {
    // A file's own words for a read that found too few bytes.
    KsException::Generate("Unable to perform a required read at offset %ld of \"%s\"", "KsIO",
                          static_cast<long>(offset), name);
}

void CheckListedCount(std::int64_t listed, std::int32_t universe, const char* file) {
    if (listed != universe) {
        KsException::Generate("Index file \"%s\" lists %lld records for %ld records", "KsIndex",
                              file, static_cast<long long>(listed), static_cast<long>(universe));
    }
}

Values::Values(const KsRecordKey& prototype, std::uint16_t keyLength)
    : keyLength_(keyLength),
      alpha_(dynamic_cast<const KsRecordKeyAlpha*>(&prototype) != nullptr),
      plainAlpha_(alpha_ && static_cast<const KsRecordKeyAlpha&>(prototype).GetPieces() ==
                                std::vector<std::uint16_t>{keyLength}),
      scratch_(prototype.Clone()),
      text_(static_cast<std::size_t>(keyLength) + 1) {}

std::size_t Values::AlphaFileBytes() const {
    return keyLength_ < KsIndex::kShortAlphaBytes ? KsIndex::kShortAlphaBytes
                                                  : std::size_t{keyLength_} + 2;
}

std::size_t Values::StreamBytes() const {
    CountingOutput counted;
    scratch_->Write(counted);
    return counted.Bytes();
}

void Values::Decode(const char* bytes, std::size_t size, KsRecordKey& value) {
    if (alpha_) {
        std::copy_n(bytes, keyLength_, text_.data());
        text_[keyLength_] = '\0';
        static_cast<KsRecordKeyAlpha&>(value).SetText(text_.data());
        return;
    }
    BytesStream in(bytes, size, "memory");
    value.Read(in);
}

const char* Values::PlainText(const KsRecordKey& value) const {
    if (!plainAlpha_) {
        return nullptr;
    }
    const auto& alpha = dynamic_cast<const KsRecordKeyAlpha&>(value);
    return alpha.GetLength() > keyLength_ ? alpha.GetText() : nullptr;
}

}  // namespace KsIndexBytes
