#pragma once
// Helpers of the record key tests: compressed binary records that also keep Date,
// Boolean and negative Short values (so that every keyed field type lives on one record), and
// hexadecimal views of a key's forms.

#include <cstdint>
#include <map>
#include <string>

#include "files/CBFFile.h"
#include "files/CBFRec.h"
#include "files/TableTestSupport.h"
#include "index/KsRecordKey.h"
#include "support/MemoryStream.h"

namespace kstest {

class KeyRecord : public CBFRec {
public:
    using CBFRec::CBFRec;
    KeyRecord* Clone() const override { return new KeyRecord(*this); }
    bool GetBoolean(std::int32_t n) const override { return truths_.at(n); }
    void PutBoolean(std::int32_t n, bool value) override { truths_[n] = value; }
    void GetDate(std::int32_t n, KsDate& date) const override { date = dates_.at(n); }
    void PutDate(std::int32_t n, const KsDate& date) override { dates_[n] = date; }
    // Bit fields hold no negative numbers; these records keep Short values of their own.
    std::int16_t GetShort(std::int32_t n) const override { return shorts_.at(n); }
    void PutShort(std::int32_t n, std::int16_t value) override { shorts_[n] = value; }

private:
    std::map<std::int32_t, bool> truths_;
    std::map<std::int32_t, KsDate> dates_;
    std::map<std::int32_t, std::int16_t> shorts_;
};

// Fields laid out as a compressed binary table lays them out, then fields of the types it
// does not store (Date, Boolean, Time, Timestamp, Blob), placed at byte 48; records of
// 64 bytes over them.
struct KeyTable {
    KeyTable(std::initializer_list<FieldSpec> stored, std::initializer_list<FieldSpec> others)
        : fields(CBFFields(stored)) {
        CBFFile::PackFields(nullptr, fields);
        KsFieldList more = CBFFields(others);
        while (!more.empty()) {
            std::unique_ptr<KsField> field = more.Detach(0);
            field->SetByteOffset(48);
            field->SetFieldNumber(static_cast<std::uint16_t>(fields.size()));
            fields.Add(std::move(field));
        }
    }
    KeyRecord NewRecord() const { return KeyRecord(fields, 64, noBits); }

    KsFieldList fields;
    KsVector<CBFBits> noBits;
};

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

inline std::string HexOfKey(const KsRecordKey& key) {
    return Hex(ComparableOf(key), 1);
}

}  // namespace kstest
