#pragma once
/// @file
/// KsTableSelection is a table's selection side: the selection and the second set over its
/// record numbers, where a walk through the selection stands, the record count the selection
/// is kept at, and whether added and deleted records are taken into the sets. A KsFile owns
/// one; reading records stays with the table.

#include <cstdint>
#include <utility>

#include "index/KsSet.h"

class KsFileCheckPoint;

/// The selection of one table and the second set kept in step with it (see the file notes).
class KsTableSelection {
public:
    /// @{
    /// The selection: a set over the record numbers.
    const KsSet& GetSelection() const { return selection_; }
    KsSet& GetSelection() { return selection_; }
    /// @}
    /// The second set, kept in step with the selection.
    const KsSet& GetSecondSet() const { return secondSet_; }
    /// @{
    /// Where the walk through the selection stands; 0 before it starts.
    std::int32_t GetPosition() const { return position_; }
    void ResetPosition() { position_ = 0; }
    /// @}
    /// The record count the selection is kept at.
    void SetSize(std::int32_t size) { size_ = size; }
    /// @{
    /// Whether added and deleted records enter and leave the sets.
    bool GetSetMaintenance() const { return setMaintenance_; }
    void SetSetMaintenance(bool on) { setMaintenance_ = on; }
    /// @}
    /// @{
    /// Whether a record added under set maintenance enters the selection selected.
    bool GetNewRecordsSelected() const { return newRecordsSelected_; }
    void SetNewRecordsSelected(bool on) { newRecordsSelected_ = on; }
    /// @}

    /// Both sets over `count` records, all selected; the walk starts afresh.
    void SelectAll(std::int32_t count);
    /// Both sets empty over no records; the walk starts afresh.
    void Clear();
    /// After the record count may have changed: a selection of another size is reset to
    /// `count` records, all selected; one whose selected count changed restarts the walk.
    void FollowRecordCount(std::int32_t count);
    /// The walk starts afresh; returns the first selected record, 0 when none.
    std::int32_t StartWalk();
    /// The walk stands at the first selected record.
    void WalkStarted();
    /// Record n enters both sets with those bits.
    void AddToSets(std::int32_t n, bool selected, bool secondSelected);
    /// Takes record n out of both sets (refusing a number outside them); returns its bits.
    std::pair<bool, bool> RemoveFromSets(std::int32_t n);
    /// Puts the check point's selection back over `count` records: cut to them, or extended
    /// with new records selected as new records are; returns the size of the check point's
    /// selection.
    std::int32_t Restore(const KsFileCheckPoint& checkPoint, std::int32_t count);

private:
    std::int32_t position_ = 0;
    std::int32_t size_ = 0;
    bool setMaintenance_ = true;
    bool newRecordsSelected_ = true;
    KsSet selection_;
    KsSet secondSet_;
};
