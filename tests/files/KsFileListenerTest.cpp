#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "files/KsFileCheckPoint.h"
#include "files/KsFileListener.h"
#include "io/KsIOInterface.h"
#include "support/KsErrorCapture.h"
#include "support/TempDir.h"
#include "TableTestSupport.h"

namespace {

using kstest::MessageOf;
using Log = std::vector<std::string>;

// Writes "name:action:record" for everything that reaches ActionHandler, and the events
// without a default action by name.
class Recorder : public KsFileListener {
public:
    Recorder(Log& log, std::string name) : log_(log), name_(std::move(name)) {}
    void ActionHandler(KsFile&, int action, std::int32_t record) override {
        Note(std::to_string(action) + ":" + std::to_string(record));
    }
    void FLLock(KsFile&, int flags) override { Note("lock" + std::to_string(flags)); }
    void FLUnlock(KsFile&, int flags) override { Note("unlock" + std::to_string(flags)); }
    void FLClose(KsFile&) override { Note("close"); }
    void FLActivate(KsFile&) override { Note("activate"); }
    void FLDeactivate(KsFile&) override { Note("deactivate"); }

private:
    void Note(const std::string& what) { log_.push_back(name_ + ":" + what); }
    Log& log_;
    std::string name_;
};

std::unique_ptr<CBFFile> Table(const kstest::TempDir& dir, int records) {
    KsFieldList fields = kstest::CBFFields({{"Id", 'N'}, {"Name", 'A', 6}});
    CBFFile::PackFields(nullptr, fields);
    auto table = kstest::CreateTable(dir.File("t"), std::move(fields));
    for (int i = 1; i <= records; ++i) {
        kstest::AppendTexts(*table, {std::to_string(i).c_str(), "row"});
    }
    table->Refresh();
    return table;
}

TEST(KsMultiFileListener, FansOutLastFirstCountsEveryAddAndSkipsWhileInactive) {
    kstest::TempDir dir;
    auto table = Table(dir, 1);
    Log log;
    Recorder first(log, "1"), second(log, "2"), third(log, "3");
    KsMultiFileListener multi;
    for (Recorder* r : {&first, &second, &third, &first}) {
        multi.Add(*r);
    }
    multi.FLRecordAdded(*table, 4, *table->GetScratchRecord());
    multi.FLRecordReplaced(*table, 1, *table->GetScratchRecord(), 2, *table->GetScratchRecord(),
                           true, false);
    EXPECT_EQ((Log{"3:0:4", "2:0:4", "1:0:4", "3:8:2", "2:8:2", "1:8:2"}), log);
    EXPECT_EQ(2, first.GetReferenceCount());
    multi.Remove(first);  // one of two registrations: still told
    EXPECT_EQ(1, first.GetReferenceCount());
    EXPECT_TRUE(multi.IsRegistered(first));
    multi.Remove(first);
    multi.Remove(first);  // no longer registered: nothing happens
    EXPECT_EQ(0, first.GetReferenceCount());
    EXPECT_EQ(2, multi.GetListenerCount());
    log.clear();
    multi.SetInactive(true);
    multi.FLDestroy(*table);
    EXPECT_TRUE(log.empty());
    multi.SetInactive(false);
    multi.FLDestroy(*table);
    EXPECT_EQ((Log{"3:2:-1", "2:2:-1"}), log);
    EXPECT_EQ("Cannot add KsMultiFileListener to itself", MessageOf([&] { multi.Add(multi); }));
}

TEST(KsFileListener, DestroyedWhileRegisteredLeavesEveryListAndSaysSo) {
    Log log;
    KsMultiFileListener a, b;
    auto* listener = new Recorder(log, "x");
    a.Add(*listener);
    b.Add(*listener);
    b.Add(*listener);
    auto error = kstest::CaughtError([&] { delete listener; });
    EXPECT_STREQ("Reference count of KsFileListener is 3 at destruction",
                 error.GetErrorMessage());
    EXPECT_EQ(0, a.GetListenerCount());
    EXPECT_EQ(0, b.GetListenerCount());
    Recorder outliving(log, "y");
    {
        KsMultiFileListener gone;
        gone.Add(outliving);
    }
    EXPECT_EQ(0, outliving.GetReferenceCount());
}

TEST(KsFile, TellsItsListenersOfOpenLocksActivationCloseAndDestruction) {
    kstest::TempDir dir;
    Log log;
    Recorder listener(log, "t");
    {
        auto table = Table(dir, 2);
        table->AddActionListener(listener);
        table->Open(dir.File("t").c_str(), IO_READ | IO_WRITE);
        table->Lock(LOCK_WRITE);
        table->DeactivateListeners(true);
        table->DeactivateListeners(true);  // already inactive: no second event
        table->Refresh();
        table->ActivateListeners(true);
        table->DeactivateListeners(false);
        table->Unlock(LOCK_WRITE);  // the last write lock switches them on again
        EXPECT_TRUE(table->AreListenersActive());
        table->Lock(LOCK_READ);
        table->Unlock(LOCK_READ);
        EXPECT_EQ(1, listener.GetReferenceCount());
    }
    EXPECT_EQ((Log{"t:close", "t:5:-1", "t:lock512", "t:deactivate", "t:activate", "t:4:-1",
                   "t:unlock512", "t:lock256", "t:unlock256", "t:2:-1"}),
              log);
    EXPECT_EQ(0, listener.GetReferenceCount());
}

TEST(KsFileCheckPoint, SurvivesModifyAndLockExpiresAtAddAndRestoresOnlyWhenValid) {
    kstest::TempDir dir;
    auto table = Table(dir, 3);
    table->GetSelection().SelectRecord(2, false);
    auto point = table->GetCheckPoint();
    table->GetSelection().SelectRecord(1, false);
    table->GetListeners().FLRecordModified(*table, 1);
    table->Lock(LOCK_READ);
    table->Unlock(LOCK_READ);
    ASSERT_FALSE(point->IsExpired());
    auto copy = point->Clone();
    point->Restore();
    EXPECT_TRUE(table->GetSelection().IsSelected(1));
    EXPECT_FALSE(table->GetSelection().IsSelected(2));
    kstest::AppendTexts(*table, {"4", "new"});  // grown without telling anyone
    EXPECT_EQ("Checkpoint had 3 records in set, but file contains 4 records",
              MessageOf([&] { table->RestoreCheckPoint(*point); }));
    EXPECT_EQ(4, table->GetSelection().GetSize());
    table->GetListeners().FLRecordAdded(*table, 4, *table->GetScratchRecord());
    EXPECT_TRUE(point->IsExpired());
    EXPECT_TRUE(copy->IsExpired());
    EXPECT_EQ("Cannot restore file state from an expired checkpoint.",
              MessageOf([&] { table->RestoreCheckPoint(*point); }));
    auto expiredCopy = point->Clone();
    EXPECT_TRUE(expiredCopy->IsExpired());
    EXPECT_EQ(0, table->GetListeners().GetListenerCount());
}

TEST(KsFileCheckPoint, OutlivesItsTableWithoutTouchingIt) {
    kstest::TempDir dir;
    auto table = Table(dir, 2);
    auto point = table->GetCheckPoint();
    auto other = table->GetCheckPoint();
    EXPECT_EQ(2, table->GetListeners().GetListenerCount());
    table.reset();
    EXPECT_TRUE(point->IsExpired());
    EXPECT_EQ("Cannot restore file state from an expired checkpoint.",
              MessageOf([&] { point->Restore(); }));
    KsSet remembered;
    other->GetSet(remembered);
    EXPECT_EQ(2, remembered.GetSelectedCount());
}

}  // namespace
