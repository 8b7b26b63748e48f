#pragma once
/// @file
/// A key in descending order: it wraps another key and reverses its order. Its comparable
/// key is the inner key's with every bit inverted, so that byte order runs the other way
/// as well (the comparable keys of one kind of key all have one length, and inverting
/// every bit reverses the byte order of strings of one length). The native value, the
/// stream form and record access are the inner key's.

#include <memory>
#include <vector>

#include "index/KsRecordKey.h"

/// A key in descending order (see the file notes).
class KsRecordKeyDescending : public KsRecordKey {
public:
    /// Wraps `inner` (not null).
    explicit KsRecordKeyDescending(std::unique_ptr<KsRecordKey> inner);
    /// A copy of the inner key.
    KsRecordKeyDescending(const KsRecordKeyDescending& other);
    /// Not assignable.
    KsRecordKeyDescending& operator=(const KsRecordKeyDescending&) = delete;
    KsRecordKeyDescending* Clone() const override { return new KsRecordKeyDescending(*this); }

    /// The wrapped key, owned by this one.
    const KsRecordKey& GetInner() const { return *inner_; }

    bool IsLessThan(const KsRecordKey& other) const override;
    bool IsEqual(const KsRecordKey& other) const override;
    bool IsLessThanAlternate(const KsRecordKey& other) const override;
    bool IsEqualAlternate(const KsRecordKey& other) const override;
    void GetComparableKey(void* pDest) const override;
    std::uint32_t GetComparableKeyLength() const override;
    void GetValue(void* pDest) const override;
    void GetValue(KsRecord& record, std::int32_t field) const override;
    void GetValue(KsRecord& record, KsKeyFieldNumbers fields) const override;
    std::uint32_t GetLength() const override;
    void Read(KsInputStreamInterface& stream) override;
    void SetComparableKey(const void* pSource) override;
    void SetValue(const void* pSource) override;
    void SetValue(const KsRecord& record, std::int32_t field) override;
    void SetValue(const KsRecord& record, KsKeyFieldNumbers fields) override;
    void Write(KsOutputStreamInterface& stream) const override;
    /// "~" and the inner key's text.
    void Dump(KsOutputStreamInterface& stream) const override;

    /// The key over the listed fields in which each field whose flag in `descending` is set
    /// orders downwards: KsRecordKey::Extract when no flag is set, else one (wrapped) key
    /// per field, in a KsMultiRecordKey when there are several. One flag per field: "%d
    /// fields, but %d sort directions".
    static std::unique_ptr<KsRecordKey> Extract(const KsRecord& record, KsKeyFieldNumbers fields,
                                                const std::vector<bool>& descending);

protected:
    const char* KeyClassName() const override { return "KsRecordKeyDescending"; }
    const char* KeyTypeName() const override { return "Descending"; }

private:
    std::unique_ptr<KsRecordKey> inner_;
};
