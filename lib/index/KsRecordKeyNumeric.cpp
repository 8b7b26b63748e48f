#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <type_traits>

#include "core/KsByteOrder.h"
#include "core/KsCallpath.h"
#include "files/KsFileRecord.h"
#include "index/KsRecordKey.h"
#include "index/KsRecordKeyPieces.h"
#include "io/KsStreamInterface.h"

namespace {

constexpr const char* kClass = "KsRecordKey";

// The ordering of each value type. Every NaN equals every other and orders after all
// other numbers, so that keys have one consistent order; -0.0 equals 0.0.
template <class T>
bool Less(T a, T b) {
    if constexpr (std::is_floating_point_v<T>) {
        return !std::isnan(a) && (std::isnan(b) || a < b);
    } else {
        return a < b;
    }
}

template <class T>
bool Equal(T a, T b) {
    if constexpr (std::is_floating_point_v<T>) {
        return a == b || (std::isnan(a) && std::isnan(b));
    } else {
        return a == b;
    }
}

constexpr std::uint64_t kSignBit = std::uint64_t{1} << 63;
constexpr std::uint64_t kQuietNaN = 0x7FF8000000000000u;

// Bits of a double whose unsigned order is the order of Less; -0.0 is stored as 0.0 and
// every NaN as one quiet NaN above +infinity.
std::uint64_t OrderedBits(double value) {
    std::uint64_t bits = std::isnan(value) ? kQuietNaN
                         : value == 0      ? 0
                                           : std::bit_cast<std::uint64_t>(value);
    return (bits & kSignBit) != 0 ? ~bits : bits ^ kSignBit;
}

double ValueOfOrderedBits(std::uint64_t bits) {
    return std::bit_cast<double>((bits & kSignBit) != 0 ? bits ^ kSignBit : ~bits);
}

template <class T>
void StoreComparable(void* to, T value) {
    if constexpr (std::is_same_v<T, bool>) {
        *static_cast<unsigned char*>(to) = value ? 1 : 0;
    } else if constexpr (std::is_floating_point_v<T>) {
        KsByteOrder::StoreBig(to, OrderedBits(value));
    } else {
        using U = std::make_unsigned_t<T>;
        constexpr U kFlip = std::is_signed_v<T> ? U(U(1) << (sizeof(T) * 8 - 1)) : U(0);
        KsByteOrder::StoreBig(to, static_cast<U>(static_cast<U>(value) ^ kFlip));
    }
}

template <class T>
T LoadComparable(const void* from) {
    if constexpr (std::is_same_v<T, bool>) {
        return *static_cast<const unsigned char*>(from) != 0;
    } else if constexpr (std::is_floating_point_v<T>) {
        return ValueOfOrderedBits(KsByteOrder::LoadBig<std::uint64_t>(from));
    } else {
        using U = std::make_unsigned_t<T>;
        constexpr U kFlip = std::is_signed_v<T> ? U(U(1) << (sizeof(T) * 8 - 1)) : U(0);
        return static_cast<T>(static_cast<U>(KsByteOrder::LoadBig<U>(from) ^ kFlip));
    }
}

// The record and stream operations of each value type.
template <class T>
struct Access;

template <>
struct Access<std::int32_t> {
    static constexpr const char* kName = "Long";
    static std::int32_t Get(const KsRecord& r, std::int32_t n) { return r.GetLong(n); }
    static void Put(KsRecord& r, std::int32_t n, std::int32_t v) { r.PutLong(n, v); }
    static std::int32_t Read(KsInputStreamInterface& s) { return s.ReadLong(); }
    static void Write(KsOutputStreamInterface& s, std::int32_t v) { s.WriteLong(v); }
};

template <>
struct Access<std::int16_t> {
    static constexpr const char* kName = "Short";
    static std::int16_t Get(const KsRecord& r, std::int32_t n) { return r.GetShort(n); }
    static void Put(KsRecord& r, std::int32_t n, std::int16_t v) { r.PutShort(n, v); }
    static std::int16_t Read(KsInputStreamInterface& s) { return s.ReadShort(); }
    static void Write(KsOutputStreamInterface& s, std::int16_t v) { s.WriteShort(v); }
};

template <>
struct Access<std::uint32_t> {
    static constexpr const char* kName = "Unsigned Long";
    static std::uint32_t Get(const KsRecord& r, std::int32_t n) { return r.GetUnsignedLong(n); }
    static void Put(KsRecord& r, std::int32_t n, std::uint32_t v) { r.PutUnsignedLong(n, v); }
    static std::uint32_t Read(KsInputStreamInterface& s) { return s.ReadUnsignedLong(); }
    static void Write(KsOutputStreamInterface& s, std::uint32_t v) { s.WriteUnsignedLong(v); }
};

template <>
struct Access<std::uint16_t> {
    static constexpr const char* kName = "Unsigned Short";
    static std::uint16_t Get(const KsRecord& r, std::int32_t n) { return r.GetUnsignedShort(n); }
    static void Put(KsRecord& r, std::int32_t n, std::uint16_t v) { r.PutUnsignedShort(n, v); }
    static std::uint16_t Read(KsInputStreamInterface& s) { return s.ReadUnsignedShort(); }
    static void Write(KsOutputStreamInterface& s, std::uint16_t v) { s.WriteUnsignedShort(v); }
};

template <>
struct Access<double> {
    static constexpr const char* kName = "Number";
    static double Get(const KsRecord& r, std::int32_t n) { return r.GetNumber(n); }
    static void Put(KsRecord& r, std::int32_t n, double v) { r.PutNumber(n, v); }
    static double Read(KsInputStreamInterface& s) { return s.ReadDouble(); }
    static void Write(KsOutputStreamInterface& s, double v) { s.WriteDouble(v); }
};

template <>
struct Access<bool> {
    static constexpr const char* kName = "Boolean";
    static bool Get(const KsRecord& r, std::int32_t n) { return r.GetBoolean(n); }
    static void Put(KsRecord& r, std::int32_t n, bool v) { r.PutBoolean(n, v); }
    static bool Read(KsInputStreamInterface& s) { return s.ReadBool(); }
    static void Write(KsOutputStreamInterface& s, bool v) { s.WriteBool(v); }
};

}  // namespace

template <class T>
const char* KsRecordKeyNumeric<T>::KeyTypeName() const {
    return Access<T>::kName;
}

template <class T>
bool KsRecordKeyNumeric<T>::IsLessThan(const KsRecordKey& other) const {
    return Less(value_, SameClass(*this, other).value_);
}

template <class T>
bool KsRecordKeyNumeric<T>::IsEqual(const KsRecordKey& other) const {
    return Equal(value_, SameClass(*this, other).value_);
}

template <class T>
void KsRecordKeyNumeric<T>::GetComparableKey(void* pDest) const {
    StoreComparable(pDest, value_);
}

template <class T>
void KsRecordKeyNumeric<T>::SetComparableKey(const void* pSource) {
    value_ = LoadComparable<T>(pSource);
}

template <class T>
void KsRecordKeyNumeric<T>::GetValue(void* pDest) const {
    std::memcpy(pDest, &value_, sizeof value_);
}

template <class T>
void KsRecordKeyNumeric<T>::SetValue(const void* pSource) {
    if constexpr (std::is_same_v<T, bool>) {
        // Any byte other than 0 is true; a bool must never hold another bit pattern.
        value_ = *static_cast<const unsigned char*>(pSource) != 0;
    } else {
        std::memcpy(&value_, pSource, sizeof value_);
    }
}

template <class T>
void KsRecordKeyNumeric<T>::GetValue(KsRecord& record, std::int32_t field) const {
    KsCallpath("GetValue()", kClass, [&] { Access<T>::Put(record, field, value_); });
}

template <class T>
void KsRecordKeyNumeric<T>::SetValue(const KsRecord& record, std::int32_t field) {
    KsCallpath("SetValue()", kClass, [&] { value_ = Access<T>::Get(record, field); });
}

template <class T>
void KsRecordKeyNumeric<T>::Read(KsInputStreamInterface& stream) {
    KsCallpath("Read()", kClass, [&] { value_ = Access<T>::Read(stream); });
}

template <class T>
void KsRecordKeyNumeric<T>::Write(KsOutputStreamInterface& stream) const {
    KsCallpath("Write()", kClass, [&] { Access<T>::Write(stream, value_); });
}

template <class T>
void KsRecordKeyNumeric<T>::Dump(KsOutputStreamInterface& stream) const {
    KsCallpath("Dump()", kClass, [&] {
        char text[40] = "N:";
        auto shown = std::conditional_t<std::is_same_v<T, bool>, int, T>(value_);
        std::to_chars_result end = std::to_chars(text + 2, text + sizeof text, shown);
        KsRecordKeyPieces::WriteText(stream, {text, static_cast<std::size_t>(end.ptr - text)});
    });
}

template class KsRecordKeyNumeric<std::int32_t>;
template class KsRecordKeyNumeric<std::int16_t>;
template class KsRecordKeyNumeric<std::uint32_t>;
template class KsRecordKeyNumeric<std::uint16_t>;
template class KsRecordKeyNumeric<double>;
template class KsRecordKeyNumeric<bool>;
