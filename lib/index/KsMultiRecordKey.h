#pragma once
/// @file
/// A key over several fields: one component key per field, in field order. It compares
/// component by component (the first component that differs decides), and its comparable
/// key, native value and stream form are the components' forms one after the other.
/// Record access takes one field number per component.

#include <cstdint>
#include <memory>

#include "core/KsVector.h"
#include "index/KsRecordKey.h"

/// A key over several fields (see the file notes).
class KsMultiRecordKey : public KsRecordKey {
public:
    /// Without components.
    KsMultiRecordKey() = default;
    /// A deep copy of the components.
    KsMultiRecordKey(const KsMultiRecordKey& other) = default;
    KsMultiRecordKey* Clone() const override { return new KsMultiRecordKey(*this); }

    /// Appends a component (not null).
    void AddComponent(std::unique_ptr<KsRecordKey> component);
    /// The number of components.
    std::int32_t GetComponentCount() const { return static_cast<std::int32_t>(components_.size()); }
    /// @{
    /// Component `index` from 0, owned by the key; an index outside raises the vector's
    /// range error.
    const KsRecordKey& GetComponent(std::int32_t index) const { return *components_[index]; }
    KsRecordKey& GetComponent(std::int32_t index) { return *components_[index]; }
    /// @}

    /// Index of the first component whose value differs from the other key's, or the
    /// component count when all are equal. Both keys must have as many components: "This
    /// KsMultiRecordKey has %d components, but the other one has %d".
    std::int32_t FindFirstNotEqual(const KsRecordKey& other) const;

    bool IsLessThan(const KsRecordKey& other) const override;
    bool IsEqual(const KsRecordKey& other) const override;
    void GetComparableKey(void* pDest) const override;
    std::uint32_t GetComparableKeyLength() const override;
    void GetValue(void* pDest) const override;
    /// Single fields are refused: "Tried to retrieve a single field, but there are %d
    /// components".
    void GetValue(KsRecord& record, std::int32_t field) const override;
    /// One field per component: "%d components in key, but passed in vector has %d
    /// components".
    void GetValue(KsRecord& record, KsKeyFieldNumbers fields) const override;
    std::uint32_t GetLength() const override;
    void Read(KsInputStreamInterface& stream) override;
    void SetComparableKey(const void* pSource) override;
    void SetValue(const void* pSource) override;
    void SetValue(const KsRecord& record, std::int32_t field) override;
    /// One field per component: "KsMultiRecordKey has %d components, but passed in vector
    /// has %d".
    void SetValue(const KsRecord& record, KsKeyFieldNumbers fields) override;
    void Write(KsOutputStreamInterface& stream) const override;
    /// "( " and the components' texts separated by ", ".
    void Dump(KsOutputStreamInterface& stream) const override;

protected:
    const char* KeyClassName() const override { return "KsMultiRecordKey"; }
    const char* KeyTypeName() const override { return "Multi"; }

private:
    KsPointerVector<KsRecordKey> components_;
};
