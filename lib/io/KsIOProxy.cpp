#include "io/KsIOProxy.h"

#include <utility>

#include "core/KsCallpath.h"

namespace {

constexpr const char* kClass = "KsIOProxy";

}  // namespace

std::int32_t KsIOProxy::Read(void* buffer, std::int32_t count, bool required) {
    return KsCallpath("Read()", kClass, [&] {
        std::int32_t got = target_->ReadFrom(position_, buffer, count, required);
        position_ += static_cast<std::uint64_t>(got);
        return got;
    });
}

void KsIOProxy::Write(const void* buffer, std::int32_t count) {
    KsCallpath("Write()", kClass, [&] {
        target_->WriteTo(position_, buffer, count);
        position_ += static_cast<std::uint64_t>(count);
    });
}

std::unique_ptr<KsIOInterface> KsIOProxy::Clone() const {
    return std::make_unique<KsIOProxy>(*this);
}

std::unique_ptr<KsIOInterface> KsIOProxy::CreateNew(const char* name, int flags) const {
    return target_->CreateNew(name, flags);
}

bool KsIOProxy::IsEOF() const {
    return static_cast<std::uint64_t>(target_->GetFileSize64()) <= position_;
}

void KsIOProxy::Lock(int type, std::uint64_t offset, std::uint64_t length) {
    KsCallpath("Lock()", kClass, [&] { target_->Lock(type, offset, length); });
}

bool KsIOProxy::TryLock(int type, std::uint64_t offset, std::uint64_t length) {
    return KsCallpath("TryLock()", kClass, [&] { return target_->TryLock(type, offset, length); });
}

bool KsIOProxy::UnLock(int type, std::uint64_t offset, std::uint64_t length) {
    return KsCallpath("Unlock()", kClass, [&] { return target_->UnLock(type, offset, length); });
}

void KsIOProxy::Open(const char* name, int flags) {
    target_->Open(name, flags);
    position_ = 0;
}

std::int32_t KsIOProxy::ReadFrom(std::uint64_t offset, void* buffer, std::int32_t count,
                                 bool required) {
    return target_->ReadFrom(offset, buffer, count, required);
}

void KsIOProxy::WriteTo(std::uint64_t offset, const void* buffer, std::int32_t count) {
    target_->WriteTo(offset, buffer, count);
}

std::int64_t KsIOProxy::MoveTo(std::int64_t base, std::int64_t offset) {
    std::int64_t target = 0;
    if (__builtin_add_overflow(base, offset, &target)) {
        KsException::Generate("Cannot seek beyond the largest file position", kClass);
    }
    if (target < 0) {
        KsException::Generate("Cannot seek prior to beginning of file", kClass);
    }
    position_ = static_cast<std::uint64_t>(target);
    return target;
}

std::int32_t KsIOProxy::Seek(std::int32_t offset, int origin) {
    return KsCallpath("Seek()", kClass, [&] {
        switch (origin) {
            case 0:
                MoveTo(0, offset);
                break;
            case 1:
                MoveTo(Tell64(), offset);
                break;
            case 2:
                MoveTo(target_->GetFileSize64(), offset);
                break;
            default:
                KsException::Generate("Unknown type of seek", kClass);
        }
        return Tell();
    });
}

std::int64_t KsIOProxy::Seek64Absolute(std::int64_t offset) {
    return KsCallpath("Seek64Absolute()", kClass, [&] { return MoveTo(0, offset); });
}

std::int64_t KsIOProxy::Seek64FromCurrent(std::int64_t offset) {
    return KsCallpath("Seek64FromCurrent()", kClass, [&] { return MoveTo(Tell64(), offset); });
}

std::int64_t KsIOProxy::Seek64FromEnd(std::int64_t offset) {
    return KsCallpath("Seek64FromEnd()", kClass,
                      [&] { return MoveTo(target_->GetFileSize64(), offset); });
}

void KsIOProxy::Swap(KsIOProxy& other) noexcept {
    std::swap(target_, other.target_);
    std::swap(position_, other.position_);
}
