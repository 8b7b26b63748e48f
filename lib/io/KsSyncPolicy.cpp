#include "io/KsSyncPolicy.h"

#include <atomic>

namespace {

std::atomic<bool> syncing{true};

}  // namespace

void KsSyncPolicy::Set(bool on) {
    syncing = on;
}

bool KsSyncPolicy::IsOn() {
    return syncing;
}
