// Blob files from untrusted bytes: opening, reading every blob, freeing, adding and closing
// must never crash, leak or hang; and a file that the blob file wrote must open again and
// give back the blobs it held.

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "files/KsBlobFile.h"

namespace {

const std::string& WorkFile() {
    static const std::string name = [] {
        char folder[] = "/tmp/blob_file_fuzzer_XXXXXX";
        if (mkdtemp(folder) == nullptr) {
            std::abort();
        }
        return std::string(folder) + "/fuzz.ksb";
    }();
    return name;
}

std::string Bytes(const KsBlob& blob) {
    return std::string(blob.GetData() ? blob.GetData() : "", blob.GetSize());
}

// Reads every blob, frees the unreferenced ones, adds one and closes; returns the blobs
// that the file holds now.
std::map<std::int32_t, std::string> Change(const std::string& name, const std::uint8_t* data,
                                           std::size_t size) {
    std::map<std::int32_t, std::string> blobs;
    KsBlobFile file(name.c_str(), IO_READ | IO_WRITE);
    KsBlob out;
    for (std::int32_t n = 1; n <= file.GetDescriptorCount(); ++n) {
        if (file.GetDescriptor(n).HoldsBlob()) {
            file.GetBlob(n, out);
            if (file.GetDescriptor(n).link >= 1) {
                blobs[n] = Bytes(out);
            }
        }
    }
    file.FreeAbandonedBlobs();
    auto added = static_cast<std::int32_t>(std::min<std::size_t>(size, 300));
    blobs[file.AddBlob(data, added)] =
        std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(added));
    if (!blobs.empty() && size % 2 == 1) {
        file.FreeDescriptor(blobs.begin()->first);
        blobs.erase(blobs.begin());
    }
    file.Close();
    return blobs;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& name = WorkFile();
    if (FILE* f = std::fopen(name.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    std::map<std::int32_t, std::string> blobs;
    try {
        blobs = Change(name, data, size);
    } catch (const KsException&) {
        return 0;  // bad input is reported as an error, which is all that is asked
    }
    try {
        KsBlobFile again(name.c_str(), IO_READ);
        KsBlob out;
        for (const auto& [number, bytes] : blobs) {
            again.GetBlob(number, out);
            if (Bytes(out) != bytes) {
                std::fprintf(stderr, "blob %d did not read back\n", static_cast<int>(number));
                std::abort();
            }
        }
    } catch (const KsException& error) {
        std::fprintf(stderr, "a written file did not open: %s\n", error.GetErrorMessage());
        std::abort();
    }
    return 0;
}
