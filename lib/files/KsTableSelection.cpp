#include "files/KsTableSelection.h"

#include "files/KsFileCheckPoint.h"

void KsTableSelection::SelectAll(std::int32_t count) {
    selection_.Reset(count, true);
    secondSet_.Reset(count, true);
    position_ = 0;
    size_ = count;
}

void KsTableSelection::Clear() {
    position_ = 0;
    size_ = 0;
    selection_.Init(0);
    secondSet_.Init(0);
}

void KsTableSelection::FollowRecordCount(std::int32_t count) {
    if (count != selection_.GetSize()) {
        selection_.Reset(count, true);
        secondSet_.Reset(count, true);
        position_ = 0;
        size_ = selection_.GetSelectedCount();
    } else if (selection_.GetSelectedCount() != size_) {
        size_ = selection_.GetSelectedCount();
        position_ = 0;
    }
}

std::int32_t KsTableSelection::StartWalk() {
    position_ = 0;
    return selection_.GetNextInSet(0);
}

void KsTableSelection::WalkStarted() {
    position_ = 1;
    size_ = selection_.GetSelectedCount();
}

void KsTableSelection::AddToSets(std::int32_t n, bool selected, bool secondSelected) {
    position_ = 0;
    selection_.AddToSet(n, selected);
    secondSet_.AddToSet(n, secondSelected);
    size_ = selection_.GetSelectedCount();
}

std::pair<bool, bool> KsTableSelection::RemoveFromSets(std::int32_t n) {
    position_ = 0;
    std::pair<bool, bool> bits(selection_.IsSelected(n), secondSet_.IsSelected(n));
    selection_.DeleteFromSet(n);
    secondSet_.DeleteFromSet(n);
    size_ = selection_.GetSelectedCount();
    return bits;
}

std::int32_t KsTableSelection::Restore(const KsFileCheckPoint& checkPoint, std::int32_t count) {
    checkPoint.GetSet(selection_);
    position_ = 0;
    std::int32_t had = selection_.GetSize();
    if (had > count) {
        selection_.Truncate(count);
    }
    for (std::int32_t n = had + 1; n <= count; ++n) {
        selection_.AddToSet(n, newRecordsSelected_);
    }
    size_ = selection_.GetSelectedCount();
    return had;
}
