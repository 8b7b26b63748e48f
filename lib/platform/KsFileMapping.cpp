#include "platform/KsFileMapping.h"

#include <sys/mman.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <limits>
#include <utility>

KsFileMapping::KsFileMapping(KsFileMapping&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

KsFileMapping& KsFileMapping::operator=(KsFileMapping&& other) noexcept {
    if (this != &other) {
        Release();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

KsFileMapping::~KsFileMapping() {
    Release();
}

bool KsFileMapping::Map(int fd) {
    Release();
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        return false;
    }
    if (!S_ISREG(status.st_mode) || status.st_size <= 0 ||
        static_cast<std::uint64_t>(status.st_size) > std::numeric_limits<std::size_t>::max()) {
        errno = EINVAL;
        return false;
    }
    auto size = static_cast<std::size_t>(status.st_size);
    // The pages are mapped at once: the readers here go through the whole file first, and
    // one call costs less than a fault every few pages.
    void* at = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (at == MAP_FAILED) {
        return false;
    }
    data_ = static_cast<const char*>(at);
    size_ = size;
    return true;
}

void KsFileMapping::Release() noexcept {
    if (data_ != nullptr) {
        ::munmap(const_cast<char*>(data_), size_);
        data_ = nullptr;
        size_ = 0;
    }
}
