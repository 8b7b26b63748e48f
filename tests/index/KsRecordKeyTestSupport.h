#pragma once
// Helpers of the record key tests: hexadecimal views of a key's forms.

#include <cstdint>
#include <string>

#include "files/TableTestSupport.h"
#include "index/KsRecordKey.h"
#include "support/MemoryStream.h"

namespace kstest {

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

// The stream form of `key`, or its debugging text when `dump`.
inline std::string StreamOf(const KsRecordKey& key, bool dump = false) {
    MemoryStream out;
    dump ? key.Dump(out) : key.Write(out);
    return out.Bytes();
}

inline std::string DumpOf(const KsRecordKey& key) {
    return StreamOf(key, true);
}

inline std::string HexOfKey(const KsRecordKey& key) {
    return Hex(ComparableOf(key), 1);
}

}  // namespace kstest
