// Index files from untrusted bytes: the first byte chooses the field the index is read
// for, the rest is the file. A read either fails with a library error or gives an index
// that writes back to bytes reading as the same index, answers searches and follows a
// record insert and delete. The same bytes opened as a mapped file are refused only when
// the read refuses them; where the read accepts them, the mapped index answers every search
// as the read one and reads whole into the same index; where only the mapped open accepts
// them, its searches may fail with a library error and its read whole must, but nothing is
// read outside the mapping (AddressSanitizer watches the reads).

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/KsException.h"
#include "index/KsIndex.h"
#include "index/KsSet.h"
#include "io/KsIO.h"
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
// Searches make a set of the index's records: an index of more is not searched.
constexpr std::int32_t kMostSearchedRecords = 1 << 24;

// The records a search finds.
std::int32_t Found(KsIndex& index, const std::string& low, const std::string* high) {
    KsSet found;
    index.Search(low.data(), high != nullptr ? high->data() : nullptr, found);
    return found.GetSelectedCount();
}

// The records a search finds, or -1 when it fails.
std::int32_t FoundOrFailed(KsIndex& index, const std::string& low, const std::string* high) {
    try {
        return Found(index, low, high);
    } catch (const KsException&) {
        return -1;
    }
}

// Bytes in an unnamed file of the system's, opened for reading as a table opens its index
// files, so that an index opened from it is mapped.
class SystemFile {
public:
    explicit SystemFile(const std::string& bytes) : fd_(memfd_create("index", 0)) {
        Check(fd_ >= 0 &&
              pwrite(fd_, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()));
        file_.OpenDescriptor(fd_, "index", IO_READ);
    }
    SystemFile(const SystemFile&) = delete;
    SystemFile& operator=(const SystemFile&) = delete;
    ~SystemFile() {
        file_.Close();
        close(fd_);
    }
    KsIO& File() { return file_; }

private:
    int fd_;
    KsIO file_;
};

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

// The mapped index of the same bytes against the read one (null when the read refused).
void CheckMappedAgainstRead(const std::string& bytes, FieldKind kind, KsIndex* read) {
    SystemFile file(bytes);
    KsIndex mapped(kind.type, kind.length, 0);
    try {
        mapped.Open(file.File(), true);
    } catch (const KsException&) {
        Check(read == nullptr);
        return;
    }
    Check(mapped.IsMapped());
    const std::string none(mapped.GetKeyLength(), '\0'), all(mapped.GetKeyLength(), '\xFF');
    if (read == nullptr) {
        if (mapped.GetRecordCount() <= kMostSearchedRecords) {
            FoundOrFailed(mapped, none, &all);
            FoundOrFailed(mapped, all, nullptr);
        }
        try {
            mapped.Unmap();
        } catch (const KsException&) {
            return;
        }
        std::abort();  // read whole, the file must fail as its read did
    }
    Check(mapped.GetKeyCount() == read->GetKeyCount());
    Check(mapped.GetRecordCount() == read->GetRecordCount());
    if (read->GetKeyCount() > 0 && read->GetRecordCount() <= kMostSearchedRecords) {
        Check(FoundOrFailed(mapped, none, &all) == FoundOrFailed(*read, none, &all));
        const std::int32_t step = read->GetKeyCount() / 16 + 1;
        for (std::int32_t k = 0; k < read->GetKeyCount(); k += step) {
            std::string low(read->GetKeyLength(), '\0');
            read->GetKey(k).Value().GetComparableKey(low.data());
            Check(FoundOrFailed(mapped, low, nullptr) == FoundOrFailed(*read, low, nullptr));
            Check(FoundOrFailed(mapped, low, &all) == FoundOrFailed(*read, low, &all));
        }
    }
    Check(mapped.IsMapped());
    mapped.Unmap();
    Check(!mapped.IsMapped() && mapped.IsSameAs(*read));
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
        CheckMappedAgainstRead(bytes, kind, nullptr);
        return 0;
    }
    CheckSearchesBeforeKeysAreMade(index, bytes, kind);
    CheckMappedAgainstRead(bytes, kind, &index);
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
