#include "io/KsIOLock.h"

#include <cerrno>

#include "platform/KsPosixFile.h"
#include "platform/KsSystemError.h"

void KsIOLock::Lock() {
    if (count_ == 0) {
        DoLock();
    }
    ++count_;
}

bool KsIOLock::TryLock() {
    if (count_ > 0) {
        ++count_;
        return true;
    }
    bool granted = DoTryLock();
    if (granted) {
        ++count_;
    }
    return granted;
}

bool KsIOLock::Unlock() {
    if (count_ > 1) {
        --count_;
    } else if (count_ == 1) {
        DoUnlock();
        count_ = 0;
    }
    return count_ == 0;
}

void KsIOLock::Reset(int type, std::uint64_t offset, std::uint64_t length) {
    if (count_ > 0) {
        DoUnlock();
    }
    type_ = type;
    offset_ = offset;
    length_ = length;
    count_ = 0;
}

KsOSLock::~KsOSLock() {
    if (GetCount() > 0) {
        try {
            DoUnlock();
        } catch (const KsException&) {
            // A destructor cannot report it; closing the descriptor gives the lock back.
        }
    }
}

KsOSLock* KsOSLock::Clone() const {
    return new KsOSLock(fd_, GetType(), GetOffset(), GetLength());
}

void KsOSLock::TrueLock() {
    if (KsPosix::LockRange(fd_, IsExclusive(), GetOffset(), GetLength(), true) !=
        KsPosix::LockResult::kGranted) {
        KsThrowSystemError(errno, "KsIO", "Could not lock file -- ");
    }
}

bool KsOSLock::TrueTryLock() {
    switch (KsPosix::LockRange(fd_, IsExclusive(), GetOffset(), GetLength(), false)) {
        case KsPosix::LockResult::kGranted:
            return true;
        case KsPosix::LockResult::kBusy:
            return false;
        case KsPosix::LockResult::kFailed:
            break;
    }
    KsThrowSystemError(errno, "KsIO", "Could not lock file -- ");
}

void KsOSLock::TrueUnlock() {
    if (KsPosix::UnlockRange(fd_, GetOffset(), GetLength()) != 0) {
        KsThrowSystemError(errno, "KsIO", "Could not unlock file -- ");
    }
}
