#include "progress/KsSubProgress.h"

#include "core/KsException.h"
#include "progress/KsNullProgress.h"

KsSubProgress::KsSubProgress(KsProgressInterface& parent, std::int32_t start, std::int32_t end)
    : child_(nullptr), parent_(&parent), target_(nullptr) {
    parent.SetSubRange(start, end);
    child_ = parent.GetSubProgress();
    target_ = child_ != nullptr ? child_ : &KsNullProgress::Instance();
}

KsSubProgress::~KsSubProgress() {
    try {
        parent_->ReleaseSubProgress(child_);
    } catch (const KsException&) {
        // A destructor cannot report; the nested operation is over either way.
    }
    child_ = nullptr;
    target_ = nullptr;
}
