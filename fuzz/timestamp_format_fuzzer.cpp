// Timestamp filter formats from untrusted bytes: a format accepted by SetFormat must show
// any timestamp within its display length and read any text without crashing, leaking or
// hanging. The input is the format, a newline, then a text to read; the same bytes are
// also read as a stream form of the filter.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "io/KsStreamInterface.h"
#include "progress/KsNullProgress.h"
#include "values/KsTimestampFilter.h"

namespace {

class ByteStream : public KsInputStreamInterface {
public:
    ByteStream(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    void GetFileName(KsString& out) override { out = "bytes"; }
    std::int32_t Read(void* buffer, std::int32_t count, bool required) override {
        std::size_t n = std::min(static_cast<std::size_t>(count), size_ - position_);
        std::memcpy(buffer, data_ + position_, n);
        position_ += n;
        if (required && n < static_cast<std::size_t>(count)) {
            KsException::Generate("Unable to perform a required read", "ByteStream");
        }
        return static_cast<std::int32_t>(n);
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

KsTimestamp Sample(int which) {
    KsTimestamp t;
    if (which == 1) {
        t.SetJulianDayFromCalendarStart(KsTimestamp::kLastDayNumber);
        t.SetTimeInMilliseconds(86399999);
    } else if (which == 2) {
        t.SetJulianDayFromCalendarStart(730179);  // 1 March 2000
        t.SetTimeInMilliseconds(12 * 3600000 + 34567);
    }
    return t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    std::size_t split = input.find('\n');
    std::string format = input.substr(0, split);
    std::string text = split == std::string::npos ? "" : input.substr(split + 1);

    KsTimestampFilter filter;
    try {
        filter.SetFormat(format.c_str());
    } catch (const KsException&) {
        return 0;
    }
    // Exactly the room the filter asks for, so that any overrun is caught.
    std::vector<char> buffer(std::size_t{filter.GetDisplayLength()} + 1);
    for (int which = 0; which < 3; ++which) {
        KsTimestamp shown = Sample(which);
        filter.FilterTimestamp(buffer.data(), static_cast<std::uint16_t>(buffer.size()), shown);
        if (std::strlen(buffer.data()) > filter.GetDisplayLength()) {
            __builtin_trap();
        }
        KsTimestamp read;
        try {
            filter.UnfilterTimestamp(read, buffer.data());
        } catch (const KsException&) {
        }
    }
    KsTimestamp read;
    try {
        filter.UnfilterTimestamp(read, text.c_str());
    } catch (const KsException&) {
    }
    ByteStream stream(data, size);
    KsTimestampFilter streamed;
    try {
        streamed.Read(stream, KsNullProgress::Instance());
    } catch (const KsException&) {
    }
    return 0;
}
