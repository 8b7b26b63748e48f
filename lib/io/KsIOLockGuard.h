#pragma once
/// @file

#include <cstdint>

#include "io/KsIOInterface.h"

/// Holds a byte-range lock of a file for a scope: locks in the constructor (waiting, or
/// trying with KsIOLockGuard::kTry), unlocks in the destructor, and may release early.
///
///     KsIOLockGuard guard(file, LOCK_READ, 0, 0);
///     ... read ...
///     guard.Release();   // optional: report an unlock failure instead of swallowing it
///
/// The destructor cannot report a failed unlock (an exception may already be in flight), so
/// a caller that must know calls Release.
class KsIOLockGuard {
public:
    /// Chooses the constructor that tries instead of waiting.
    enum TryTag { kTry };

    /// Waits until the range is locked.
    KsIOLockGuard(KsIOInterface& file, int type, std::uint64_t offset, std::uint64_t length)
        : file_(&file), type_(type), offset_(offset), length_(length) {
        file.Lock(type, offset, length);
        held_ = true;
    }
    /// Takes the range only if it is free; IsHeld tells whether it was.
    KsIOLockGuard(KsIOInterface& file, int type, std::uint64_t offset, std::uint64_t length, TryTag)
        : file_(&file), type_(type), offset_(offset), length_(length) {
        held_ = file.TryLock(type, offset, length);
    }
    KsIOLockGuard(const KsIOLockGuard&) = delete;
    KsIOLockGuard& operator=(const KsIOLockGuard&) = delete;
    ~KsIOLockGuard() {
        if (held_) {
            try {
                file_->UnLock(type_, offset_, length_);
            } catch (const KsException&) {
                // Nowhere to report it; the lock goes with the file's descriptor at the latest.
            }
        }
    }

    /// Whether the guard holds the range.
    bool IsHeld() const { return held_; }
    /// Unlocks now; a failure is raised. Harmless when not held.
    void Release() {
        if (held_) {
            held_ = false;
            file_->UnLock(type_, offset_, length_);
        }
    }

private:
    KsIOInterface* file_;
    int type_;
    std::uint64_t offset_;
    std::uint64_t length_;
    bool held_ = false;
};
