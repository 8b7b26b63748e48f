#pragma once
/// @file
/// Check points remember a table's record selection so that it can be put back later. A
/// check point listens to its table and expires for good at the first event that would make
/// the remembered selection wrong: close, destruction, open, refresh, and every record that
/// is added, removed or changed. Locks, unlocks without a refresh, activation and
/// transactions leave it valid. An expired check point never touches its table again, so
/// it may outlive the table (whose destruction expires it).

#include <memory>

#include "files/KsFileListener.h"
#include "index/KsSet.h"

class KsFile;

/// A remembered record selection of a table (see the file notes).
class KsFileCheckPoint : public KsFileListener {
public:
    /// @{
    /// Not copyable; Clone makes a second check point.
    KsFileCheckPoint(const KsFileCheckPoint&) = delete;
    KsFileCheckPoint& operator=(const KsFileCheckPoint&) = delete;
    /// @}
    /// An unexpired check point leaves its table's listeners first.
    ~KsFileCheckPoint() override;

    /// A new check point on the same table with the same state.
    virtual std::unique_ptr<KsFileCheckPoint> Clone() const = 0;
    /// Whether an event has made the remembered selection wrong.
    virtual bool IsExpired() const { return expired_; }
    /// Copies the remembered selection into `target`.
    virtual void GetSet(KsSet& target) const = 0;
    /// Asks the table to put the remembered selection back (KsFile::RestoreCheckPoint).
    virtual void Restore();

    /// Expires the check point and takes it out of its table's listeners.
    void SetModified();
    /// Fails with "Cannot restore file state from an expired checkpoint." when expired.
    void CheckNotExpired() const;
    /// The table; only for an unexpired check point (an expired one may outlive it).
    KsFile& GetFile() const { return *file_; }

    /// @{
    /// Expires the check point.
    void FLClose(KsFile& file) override;
    void FLDestroy(KsFile& file) override;
    void FLOpen(KsFile& file) override;
    void FLRefresh(KsFile& file) override;
    void FLRecordRemoved(KsFile& file, std::int32_t number, const KsFileRecord& record) override;
    void FLRecordAdded(KsFile& file, std::int32_t number, const KsFileRecord& record) override;
    void FLRecordChanged(KsFile& file, std::int32_t number, const KsFileRecord& oldRecord,
                         std::int32_t newNumber, const KsFileRecord& newRecord) override;
    /// @}

protected:
    /// Registers with the table's listeners unless `expired`.
    KsFileCheckPoint(KsFile* file, bool expired);
    /// The table's address, which an expired check point keeps without using it.
    KsFile* GetFileAddress() const { return file_; }

private:
    KsFile* file_;
    bool expired_;
};

/// A check point holding a copy of the table's selection. Making one resets the table's
/// selection position to 0.
class KsPlainFCheckPoint : public KsFileCheckPoint {
public:
    /// Remembers `file`'s selection now; `file` must be alive while the check point is
    /// unexpired.
    explicit KsPlainFCheckPoint(KsFile& file);

    std::unique_ptr<KsFileCheckPoint> Clone() const override;
    void GetSet(KsSet& target) const override;

private:
    KsPlainFCheckPoint(KsFile* file, bool expired, const KsSet& selection);

    KsSet selection_;
};
