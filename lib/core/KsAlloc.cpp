#include "core/KsAlloc.h"

#include <atomic>
#include <cstdio>
#include <new>

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
