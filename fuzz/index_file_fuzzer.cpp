// Index files from untrusted bytes: the first byte chooses the field the index is read
// for, the rest is the file. A read either fails with a library error or gives an index
// that writes back to bytes reading as the same index, answers searches and follows a
// record insert and delete.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/KsException.h"
#include "index/KsIndex.h"
#include "index/KsSet.h"
#include "support/MemoryStream.h"

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

struct FieldKind {
    char type;
    std::uint16_t length;
};
constexpr FieldKind kKinds[] = {{'A', 3}, {'A', 10}, {'N', 0}, {'U', 0}, {'B', 3}};

// The records a search finds.
std::int32_t Found(KsIndex& index, const std::string& low, const std::string* high) {
    KsSet found;
    index.Search(low.data(), high != nullptr ? high->data() : nullptr, found);
    return found.GetSelectedCount();
}

// A read index answers from the file's bytes until its keys are needed as objects: it must
// answer as the same index with its keys made.
void CheckSearchesBeforeKeysAreMade(KsIndex& lazy, const std::string& bytes, FieldKind kind) {
    KsIndex made(kind.type, kind.length, lazy.GetRecordCount());
    kstest::MemoryStream stream(bytes);
    made.Read(stream);
    Check(made.GetKeyCount() == lazy.GetKeyCount());
    if (made.GetKeyCount() == 0) {
        return;
    }
    std::string first(made.GetKeyLength(), '\0'), other(made.GetKeyLength(), '\0');
    made.GetKey(0).Value().GetComparableKey(first.data());
    made.GetKey(made.GetKeyCount() / 2).Value().GetComparableKey(other.data());
    Check(Found(lazy, other, nullptr) == Found(made, other, nullptr));
    Check(Found(lazy, first, &other) == Found(made, first, &other));
    Check(Found(lazy, other, &first) == Found(made, other, &first));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const FieldKind kind = kKinds[data[0] % (sizeof kKinds / sizeof kKinds[0])];
    KsIndex index(kind.type, kind.length, 0);
    std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    try {
        kstest::MemoryStream stream(bytes);
        index.Read(stream, true);
    } catch (const KsException&) {
        return 0;
    }
    CheckSearchesBeforeKeysAreMade(index, bytes, kind);
    kstest::MemoryStream written;
    index.Write(written);
    KsIndex again(kind.type, kind.length, index.GetRecordCount());
    kstest::MemoryStream reread(written.Bytes());
    again.Read(reread);
    Check(again.IsSameAs(index));
    if (index.GetKeyCount() > 0) {
        std::string low(index.GetKeyLength(), '\0');
        index.GetKey(0).Value().GetComparableKey(low.data());
        KsSet found;
        index.Search(low.data(), nullptr, found);
        Check(found.GetSelectedCount() == index.GetKey(0).GetRecordCount());
        if (kind.type != 'B') {
            index.InsertRecord(1, low.data());
            index.DeleteRecord(index.GetRecordCount());
        }
    }
    return 0;
}
