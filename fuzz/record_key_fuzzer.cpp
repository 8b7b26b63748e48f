// Record keys from untrusted stream bytes. The first bytes describe a key's shape (one to
// three components, each a type letter with a length); two keys of that shape are read
// from the rest. A read either fails with a library error or gives keys whose comparable
// keys order as the keys do, and whose comparable, stream and native forms each restore
// an equal key.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "index/KsMultiRecordKey.h"
#include "index/KsRecordKey.h"
#include "index/KsRecordKeyDescending.h"
#include "io/KsStreamInterface.h"
#include "support/MemoryStream.h"

namespace {

using ByteStream = kstest::MemoryStream;

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// One component per pair of shape bytes: a type (an Alpha key of two pieces for 'a', a
// descending Number or Alpha key for 'd') and a length.
std::unique_ptr<KsRecordKey> Component(std::uint8_t type, std::uint8_t length) {
    static constexpr char kTypes[] = "AYDISWUNLad";
    char letter = kTypes[type % 11];
    if (letter == 'd') {
        return std::make_unique<KsRecordKeyDescending>(
            KsRecordKey::Instantiate(length % 2 == 0 ? 'N' : 'A', length % 40));
    }
    if (letter == 'a') {
        return std::make_unique<KsRecordKeyAlpha>(std::vector<std::uint16_t>{
            static_cast<std::uint16_t>(length % 8), static_cast<std::uint16_t>(length / 8 % 8)});
    }
    return KsRecordKey::Instantiate(letter, length % 40);
}

std::unique_ptr<KsRecordKey> Shape(const std::uint8_t* data, std::size_t& used) {
    std::size_t count = data[0] % 3 + 1;
    used = 1 + 2 * count;
    if (count == 1) {
        return Component(data[1], data[2]);
    }
    auto key = std::make_unique<KsMultiRecordKey>();
    for (std::size_t i = 0; i < count; ++i) {
        key->AddComponent(Component(data[1 + 2 * i], data[2 + 2 * i]));
    }
    return key;
}

std::string Comparable(const KsRecordKey& key) {
    std::string bytes(key.GetComparableKeyLength(), '\0');
    key.GetComparableKey(bytes.data());
    return bytes;
}

bool HasDate(const KsRecordKey& key) {
    if (const auto* multi = dynamic_cast<const KsMultiRecordKey*>(&key)) {
        for (std::int32_t i = 0; i < multi->GetComponentCount(); ++i) {
            if (HasDate(multi->GetComponent(i))) {
                return true;
            }
        }
        return false;
    }
    return dynamic_cast<const KsRecordKeyDate*>(&key) != nullptr;
}

void CheckForms(const KsRecordKey& a, const KsRecordKey& b) {
    std::string bytesA = Comparable(a), bytesB = Comparable(b);
    int byteOrder = bytesA.compare(bytesB);
    int keyOrder = a.IsLessThan(b) ? -1 : (a.IsEqual(b) ? 0 : 1);
    Check((byteOrder < 0 ? -1 : (byteOrder > 0 ? 1 : 0)) == keyOrder);
    Check(a.IsLessThanAlternate(b) ? !b.IsLessThanAlternate(a) : true);

    std::unique_ptr<KsRecordKey> copy(b.Clone());
    copy->SetComparableKey(bytesA.data());
    Check(copy->IsEqual(a) && Comparable(*copy) == bytesA);
    ByteStream out("");
    a.Write(out);
    ByteStream in(out.Bytes());
    copy.reset(b.Clone());
    copy->Read(in);
    Check(copy->IsEqual(a) && in.Position() == out.Bytes().size());
    if (!HasDate(a)) {  // dates outside the calendar have no text
        std::string native(a.GetLength(), '\0');
        a.GetValue(native.data());
        copy.reset(b.Clone());
        copy->SetValue(native.data());
        Check(copy->IsEqual(a));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 7) {
        return 0;
    }
    std::size_t used = 0;
    std::unique_ptr<KsRecordKey> a = Shape(data, used);
    std::unique_ptr<KsRecordKey> b(a->Clone());
    ByteStream stream(std::string(reinterpret_cast<const char*>(data) + used, size - used));
    try {
        a->Read(stream);
        b->Read(stream);
    } catch (const KsException&) {
        return 0;  // input too short for the shape
    }
    CheckForms(*a, *b);
    CheckForms(*b, *a);
    ByteStream dump("");
    try {
        a->Dump(dump);
    } catch (const KsException&) {
        Check(HasDate(*a));  // only a day outside the calendar has no text
    }
    return 0;
}
