#pragma once
// A stream over bytes in memory for tests. It keeps the byte-at-a-time line reading of the
// stream interfaces, so it is the reference against which buffered files are checked.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "io/KsStreamInterface.h"

namespace kstest {

class MemoryStream : public KsStreamInterface {
public:
    explicit MemoryStream(std::string bytes = {}) : bytes_(std::move(bytes)) {}

    void GetFileName(KsString& out) override { out = "memory"; }
    std::int32_t Read(void* buffer, std::int32_t count, bool required) override {
        auto n = std::min<std::size_t>(static_cast<std::size_t>(count), bytes_.size() - position_);
        std::memcpy(buffer, bytes_.data() + position_, n);
        position_ += n;
        if (required && n < static_cast<std::size_t>(count)) {
            KsException::Generate("Unable to perform a required read at offset %ld of \"%s\"",
                                  "MemoryStream", static_cast<long>(position_), "memory");
        }
        return static_cast<std::int32_t>(n);
    }
    void Write(const void* buffer, std::int32_t count) override {
        bytes_.append(static_cast<const char*>(buffer), static_cast<std::size_t>(count));
    }

    const std::string& Bytes() const { return bytes_; }
    std::size_t Position() const { return position_; }

private:
    std::string bytes_;
    std::size_t position_ = 0;
};

}  // namespace kstest
