#include "files/KsFileCheckPoint.h"

#include "core/KsCallpath.h"
#include "core/KsException.h"
#include "files/KsFile.h"

namespace {

constexpr const char* kClass = "KsFileCheckPoint";

}  // namespace

KsFileCheckPoint::KsFileCheckPoint(KsFile* file, bool expired) : file_(file), expired_(expired) {
    if (!expired_) {
        file_->AddActionListener(*this);
    }
}

KsFileCheckPoint::~KsFileCheckPoint() {
    if (!expired_) {
        file_->RemoveActionListener(*this);
    }
}

void KsFileCheckPoint::SetModified() {
    if (!expired_) {
        expired_ = true;
        file_->RemoveActionListener(*this);
    }
}

void KsFileCheckPoint::CheckNotExpired() const {
    if (IsExpired()) {
        KsException::Generate("Cannot restore file state from an expired checkpoint.", "KsFile");
    }
}

void KsFileCheckPoint::Restore() {
    KsCallpath("Restore()", kClass, [&] {
        // The table of an expired check point may be gone: it is not asked.
        CheckNotExpired();
        file_->RestoreCheckPoint(*this);
    });
}

void KsFileCheckPoint::FLClose(KsFile&) {
    SetModified();
}

void KsFileCheckPoint::FLDestroy(KsFile&) {
    SetModified();
}

void KsFileCheckPoint::FLOpen(KsFile&) {
    SetModified();
}

void KsFileCheckPoint::FLRefresh(KsFile&) {
    SetModified();
}

void KsFileCheckPoint::FLRecordRemoved(KsFile&, std::int32_t, const KsFileRecord&) {
    SetModified();
}

void KsFileCheckPoint::FLRecordAdded(KsFile&, std::int32_t, const KsFileRecord&) {
    SetModified();
}

void KsFileCheckPoint::FLRecordChanged(KsFile&, std::int32_t, const KsFileRecord&, std::int32_t,
                                       const KsFileRecord&) {
    SetModified();
}

// ---- KsPlainFCheckPoint

KsPlainFCheckPoint::KsPlainFCheckPoint(KsFile& file) : KsFileCheckPoint(&file, false) {
    file.ResetSelectionPosition();
    selection_ = file.GetSelection();
}

KsPlainFCheckPoint::KsPlainFCheckPoint(KsFile* file, bool expired, const KsSet& selection)
    : KsFileCheckPoint(file, expired), selection_(selection) {}

std::unique_ptr<KsFileCheckPoint> KsPlainFCheckPoint::Clone() const {
    return std::unique_ptr<KsFileCheckPoint>(
        new KsPlainFCheckPoint(GetFileAddress(), IsExpired(), selection_));
}

void KsPlainFCheckPoint::GetSet(KsSet& target) const {
    target = selection_;
}
