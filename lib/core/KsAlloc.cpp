#include "core/KsAlloc.h"

#include <atomic>
#include <cstdio>
#include <limits>
#include <new>

#include <sys/mman.h>

#include "core/KsException.h"

namespace {

std::atomic<char*> reserveBlock{nullptr};

// Gives the reserve back first, so that the error and its handlers have room to work.
[[noreturn]] void ThrowMemory(bool badRequest, std::int64_t size) {
    KsAllocReleaseReserve();
    char message[128];
    if (badRequest) {
        std::snprintf(message, sizeof message,
                      "Bad memory allocation request - tried to allocate %lld bytes.",
                      static_cast<long long>(size));
    } else {
        std::snprintf(message, sizeof message, "Out of memory - tried to allocate %lld bytes.",
                      static_cast<long long>(size));
    }
    throw KsMemoryException(message);
}

// A large block's mapping: its size rounded up to whole huge pages.
std::size_t LargeMapping(std::int64_t size) {
    auto huge = static_cast<std::size_t>(kKsLargeBlockSize);
    return (static_cast<std::size_t>(size) + huge - 1) / huge * huge;
}

}  // namespace

bool KsAllocReserveHeld() {
    return reserveBlock.load() != nullptr;
}

void KsAllocReleaseReserve() {
    delete[] reserveBlock.exchange(nullptr);
}

char* KsAlloc(std::int64_t size) {
    if (size < 0) {
        ThrowMemory(true, size);
    }
    char* block = new (std::nothrow) char[static_cast<std::size_t>(size)];
    if (block != nullptr) {
        if (size != 0) {
            block[0] = '\0';
        }
        if (!KsAllocReserveHeld()) {
            char* reserve = new (std::nothrow) char[kKsAllocReserveSize];
            if (reserve == nullptr) {
                delete[] block;
                block = nullptr;
            } else {
                char* expected = nullptr;
                if (!reserveBlock.compare_exchange_strong(expected, reserve)) {
                    delete[] reserve;
                }
            }
        }
    }
    if (block == nullptr) {
        ThrowMemory(false, size);
    }
    return block;
}

char* KsAllocLarge(std::int64_t size) {
    auto huge = static_cast<std::size_t>(kKsLargeBlockSize);
    if (size < 0 ||
        static_cast<std::uint64_t>(size) > std::numeric_limits<std::size_t>::max() / 2 - 2 * huge) {
        ThrowMemory(true, size);
    }
    // Mapped with a huge page to spare, then trimmed to the aligned part.
    std::size_t length = LargeMapping(size);
    void* mapped =
        mmap(nullptr, length + huge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) {
        ThrowMemory(false, size);
    }
    auto* start = static_cast<char*>(mapped);
    std::size_t head = (huge - reinterpret_cast<std::uintptr_t>(start) % huge) % huge;
    if (head != 0) {
        munmap(start, head);
    }
    munmap(start + head + length, huge - head);
    char* block = start + head;
#ifdef MADV_HUGEPAGE
    madvise(block, length, MADV_HUGEPAGE);  // only advice: small pages still work
#endif
    return block;
}

void KsFreeLarge(char* block, std::int64_t size) noexcept {
    if (block != nullptr) {
        munmap(block, LargeMapping(size));
    }
}
