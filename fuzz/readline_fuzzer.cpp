// Line reading of untrusted text: the buffered file, which scans its buffer, must give
// exactly what reading one byte at a time gives (results, text, NUL reports, errors and
// positions), for any bytes and any mix of the two ReadLine forms.

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "io/KsIO.h"

namespace {

// Byte-at-a-time reference: a stream that keeps the interface's own line reading.
class ByteStream : public KsStreamInterface {
public:
    ByteStream(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    void GetFileName(KsString& out) override { out = "bytes"; }
    std::int32_t Read(void* buffer, std::int32_t count, bool) override {
        std::size_t n = std::min(static_cast<std::size_t>(count), size_ - position_);
        std::memcpy(buffer, data_ + position_, n);
        position_ += n;
        return static_cast<std::int32_t>(n);
    }
    void Write(const void*, std::int32_t) override {}
    std::size_t Position() const { return position_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

struct Step {
    std::int64_t result = 0;
    std::string text;
    bool nul = false;
    std::string error;
};

Step ReadOne(KsInputStreamInterface& stream, int size) {
    Step step;
    try {
        if (size > 0) {
            std::string buffer(static_cast<std::size_t>(size) + 1, '#');
            step.result = stream.ReadLine(buffer.data(), size);
            step.text = buffer.c_str();
        } else {
            KsString line;
            step.result = stream.ReadLine(line, step.nul);
            step.text = line.GetCString();
        }
    } catch (const KsException& error) {
        step.error = error.GetErrorMessage();
    }
    return step;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    // The first two bytes choose the buffer sizes of the char* form (0 = whole lines).
    const int sizes[2] = {data[0] % 4 == 0 ? 0 : data[0] % 40 + 1, data[1] % 3 == 0 ? 0 : 1024};
    data += 2;
    size -= 2;
    int fd = memfd_create("readline", 0);
    if (fd < 0 || write(fd, data, size) != static_cast<ssize_t>(size) ||
        lseek(fd, 0, SEEK_SET) != 0) {
        abort();
    }
    ByteStream reference(data, size);
    KsIO file;
    file.OpenDescriptor(fd, "fuzz", IO_READ);
    for (int i = 0;; ++i) {
        int form = sizes[i % 2];
        Step expected = ReadOne(reference, form);
        Step actual = ReadOne(file, form);
        if (expected.result != actual.result || expected.text != actual.text ||
            expected.nul != actual.nul || expected.error != actual.error ||
            static_cast<std::int64_t>(reference.Position()) != file.Tell64()) {
            abort();
        }
        if (expected.result == 0 || !expected.error.empty()) {
            break;
        }
    }
    file.Close();
    close(fd);
    return 0;
}
