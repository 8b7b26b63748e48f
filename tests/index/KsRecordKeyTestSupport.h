#pragma once
// Helpers of the record key tests: a record that keeps one typed value per field (so that
// every field type can be keyed), field lists from type letters, and hexadecimal views of
// a key's forms.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/KsException.h"
#include "files/KsField.h"
#include "files/KsFileRecord.h"
#include "index/KsRecordKey.h"
#include "io/KsBlob.h"
#include "support/MemoryStream.h"

namespace kstest {

// Fields "F0", "F1", ... of the given type letters and lengths.
inline KsFieldList KeyFields(const std::vector<std::pair<char, std::int16_t>>& specs) {
    KsFieldList fields;
    for (const auto& [type, length] : specs) {
        auto field = std::make_unique<KsField>();
        field->SetName(("F" + std::to_string(fields.size())).c_str());
        field->SetAttributes(static_cast<std::uint16_t>(fields.size()), type, length, 0, -1);
        fields.Add(std::move(field));
    }
    return fields;
}

// A record holding one KsFieldValue per field. Alpha texts are cut to the field's length
// and Binary bytes padded to it, as stored records do.
class ValueRecord : public KsFileRecord {
public:
    explicit ValueRecord(const KsFieldList& fields)
        : KsFileRecord(fields), values_(fields.size()) {}
    ValueRecord* Clone() const override { return new ValueRecord(*this); }
    void Clear() override { values_.assign(values_.size(), KsFieldValue()); }
    bool IsBlank(std::int32_t) const override { return false; }
    const char* GetAlpha(std::int32_t n, char* buffer, std::uint32_t size, bool) const override {
        if (size < Length(n) + 1) {
            KsException::Generate("Buffer too small", "ValueRecord");
        }
        std::snprintf(buffer, size, "%s", At(n).GetAlpha());
        return buffer;
    }
    void GetBinary(std::int32_t n, void* buffer, std::uint32_t size) const override {
        if (size < Length(n)) {
            KsException::Generate("Buffer too small", "ValueRecord");
        }
        std::string bytes = At(n).GetBinary();
        bytes.resize(Length(n));
        std::memcpy(buffer, bytes.data(), bytes.size());
    }
    bool GetBoolean(std::int32_t n) const override { return At(n).GetBoolean(); }
    void GetDate(std::int32_t n, KsDate& d) const override { d = KsDate(At(n).GetTimestamp()); }
    void GetTime(std::int32_t n, KsTime& t) const override { t = KsTime(At(n).GetTimestamp()); }
    void GetTimestamp(std::int32_t n, KsTimestamp& t) const override { t = At(n).GetTimestamp(); }
    std::int32_t GetLong(std::int32_t n) const override { return At(n).GetLong(); }
    double GetNumber(std::int32_t n) const override { return At(n).GetNumber(); }
    std::int16_t GetShort(std::int32_t n) const override { return At(n).GetShort(); }
    std::uint32_t GetUnsignedLong(std::int32_t n) const override { return At(n).GetUnsignedLong(); }
    std::uint16_t GetUnsignedShort(std::int32_t n) const override {
        return At(n).GetUnsignedShort();
    }
    void PutAlpha(std::int32_t n, const char* t) override {
        Set(n).SetAlpha(std::string(t, strnlen(t, Length(n))).c_str());
    }
    void PutBinary(std::int32_t n, const void* b, std::uint32_t c) override {
        std::string bytes(static_cast<const char*>(b), c);
        bytes.resize(Length(n));
        Set(n).SetBinary(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    }
    void PutBlank(std::int32_t n) override { Set(n) = KsFieldValue(); }
    void PutBoolean(std::int32_t n, bool v) override { Set(n).SetBoolean(v); }
    void PutDate(std::int32_t n, const KsDate& d) override {
        Set(n).SetTimestamp(d.GetTimestamp());
    }
    void PutTime(std::int32_t n, const KsTime& t) override {
        Set(n).SetTimestamp(t.GetTimestamp());
    }
    void PutTimestamp(std::int32_t n, const KsTimestamp& t) override { Set(n).SetTimestamp(t); }
    void PutLong(std::int32_t n, std::int32_t v) override { Set(n).SetLong(v); }
    void PutNumber(std::int32_t n, double v) override { Set(n).SetNumber(v); }
    void PutShort(std::int32_t n, std::int16_t v) override { Set(n).SetShort(v); }
    void PutUnsignedLong(std::int32_t n, std::uint32_t v) override { Set(n).SetUnsignedLong(v); }
    void PutUnsignedShort(std::int32_t n, std::uint16_t v) override { Set(n).SetUnsignedShort(v); }
    void GetBLOB(std::int32_t, KsBlob&) const override {}
    void PutBLOB(std::int32_t, const KsBlob&) override {}
    std::int32_t GetBLOBIndex(std::int32_t) const override { return 0; }
    std::int32_t GetRecordLength() const override { return 0; }
    void Load(const void*) override {}
    void Store(void*) const override {}
    void ReadRecord(KsInputStreamInterface&) override {}
    void WriteRecord(KsOutputStreamInterface&) const override {}

private:
    std::uint32_t Length(std::int32_t n) const {
        return static_cast<std::uint32_t>(GetFieldLength(n));
    }
    const KsFieldValue& At(std::int32_t n) const {
        CheckFieldIndexRange(n);
        return values_[static_cast<std::size_t>(n)];
    }
    KsFieldValue& Set(std::int32_t n) {
        CheckFieldIndexRange(n);
        return values_[static_cast<std::size_t>(n)];
    }
    std::vector<KsFieldValue> values_;
};

inline std::string HexBytes(const std::string& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char byte : bytes) {
        out += out.empty() ? "" : " ";
        out += kDigits[byte >> 4];
        out += kDigits[byte & 0x0F];
    }
    return out;
}

inline std::string ComparableOf(const KsRecordKey& key) {
    std::string bytes(key.GetComparableKeyLength(), '\0');
    key.GetComparableKey(bytes.data());
    return bytes;
}

inline std::string NativeOf(const KsRecordKey& key) {
    std::string bytes(key.GetLength(), '\0');
    key.GetValue(bytes.data());
    return bytes;
}

inline std::string StreamOf(const KsRecordKey& key) {
    MemoryStream out;
    key.Write(out);
    return out.Bytes();
}

inline std::string DumpOf(const KsRecordKey& key) {
    MemoryStream out;
    key.Dump(out);
    return out.Bytes();
}

}  // namespace kstest
