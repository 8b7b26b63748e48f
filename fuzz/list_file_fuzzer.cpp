// List files from untrusted bytes: binding, walking every list (as a list and as a list of
// lists, with the sub-lists), reading every element, walking the free list, allocating,
// freeing and erasing must end normally or in a KsException: never a crash, an endless
// walk or a huge allocation.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "io/KsIOList.h"
#include "io/KsIOUnbuffered.h"

namespace {

const std::string& WorkFile() {
    static const std::string name = [] {
        char folder[] = "/tmp/list_file_fuzzer_XXXXXX";
        if (mkdtemp(folder) == nullptr) {
            std::abort();
        }
        return std::string(folder) + "/fuzz.klg";
    }();
    return name;
}

// Runs one step; a damaged file may stop it with a library error.
template <class Step>
void Try(Step step) {
    try {
        step();
    } catch (const KsException&) {
    }
}

void ReadElements(KsIOList<void>& list) {
    for (KsIOListBase::void_iterator it = list.begin(); !it.AtEnd(); ++it) {
        KsIOListObject object;
        list.ReadElement(it, object);
        char first[8];
        object.Read(first, sizeof first, false);
    }
}

void WalkListOfLists(KsIOInterface& file, std::uint64_t position) {
    KsIOListOfLists<void, void> list(file, position);
    for (KsIOListBase::void_iterator it = list.begin(); !it.AtEnd(); ++it) {
        KsIOListObject object;
        list.ReadElement(it, object);
        KsIOList<void> subList(file, list.SubListPosition(it), KsIOList<void>::kSubList);
        ReadElements(subList);
    }
}

void Exercise(KsIOInterface& file, std::uint8_t choice) {
    std::uint64_t lists = 0;
    while (lists < 4 && static_cast<std::int64_t>(KsIOListFormat::ListPosition(lists) + 16) <=
                            file.GetFileSize64()) {
        ++lists;
    }
    for (std::uint64_t k = 0; k < lists; ++k) {
        std::uint64_t position = KsIOListFormat::ListPosition(k);
        Try([&] {
            KsIOList<void> list(file, position);
            ReadElements(list);
        });
        Try([&] { WalkListOfLists(file, position); });
    }
    KsIOSimpleList<void> raw(file, KsIOListFormat::ListPosition(0));
    Try([&] {
        for (KsIOListBase::void_iterator it = KsIOSimpleList<void>(file, 8).begin(); !it.AtEnd();
             ++it) {
        }
    });
    Try([&] {
        std::uint64_t size = 16 * (1 + choice % 4);
        raw.Free(raw.Allocate(size), size);
    });
    Try([&] {
        KsIOList<void> list(file, KsIOListFormat::ListPosition(0));
        KsIOListBase::void_iterator it = list.begin(LOCK_WRITE);
        if (choice & 0x10) {
            list.InsertElement(it, "fuzz", 4);
        } else if (!it.AtEnd()) {
            list.EraseElement(it);
        }
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& name = WorkFile();
    FILE* out = std::fopen(name.c_str(), "wb");
    if (out == nullptr) {
        std::abort();
    }
    std::fwrite(data, 1, size, out);
    std::fclose(out);
    try {
        KsIOUnbuffered file(name.c_str(), IO_READ | IO_WRITE);
        KsIOList<void> bound(file, KsIOListFormat::ListPosition(0));
        Exercise(file, size > 10 ? data[10] : 0);
    } catch (const KsException&) {
    }
    return 0;
}
