#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "TableTestSupport.h"
#include "files/KsFileCheckPoint.h"
#include "files/KsFileListener.h"
#include "support/KsErrorCapture.h"
#include "support/TempDir.h"

namespace {

using kstest::MessageOf;
using Log = std::vector<std::string>;

// Logs "name:action:record" from ActionHandler, the events without a default action by
// name, and a replacement's numbers and old bits; refuses every event when told to.
class Recorder : public KsFileListener {
public:
    Recorder(Log& log, std::string name) : log_(log), name_(std::move(name)) {}
    bool refuse = false;
    void ActionHandler(KsFile&, int action, std::int32_t n) override {
        Note(std::to_string(action) + ":" + std::to_string(n));
    }
    void FLLock(KsFile&, int flags) override { Note("lock" + std::to_string(flags)); }
    void FLUnlock(KsFile&, int flags) override { Note("unlock" + std::to_string(flags)); }
    void FLClose(KsFile&) override { Note("close"); }
    void FLActivate(KsFile&) override { Note("activate"); }
    void FLDeactivate(KsFile&) override { Note("deactivate"); }
    void FLRecordReplaced(KsFile&, std::int32_t from, const KsFileRecord&, std::int32_t to,
                          const KsFileRecord&, bool selected, bool second) override {
        Note(std::to_string(from) + ">" + std::to_string(to) + (selected ? "+" : "-") +
             (second ? "+" : "-"));
    }

private:
    void Note(const std::string& what) {
        if (refuse) {
            KsException::Generate("refused", "Recorder");
        }
        log_.push_back(name_ + ":" + what);
    }
    Log& log_;
    std::string name_;
};

// A table keyed by its first field, records "i|r<i>" for i = 1 ... count.
std::unique_ptr<CBFFile> KeyedTable(const kstest::TempDir& dir, int count) {
    KsFieldList fields = kstest::CBFFields({{"Id", 'N'}, {"Name", 'A', 6}});
    CBFFile::PackFields(nullptr, fields);
    std::unique_ptr<CBFFile> table = kstest::CreateTable(dir.File("k"), fields);
    table->SetPrimaryKeyFieldCount(1);
    for (int i = 1; i <= count; ++i) {
        kstest::AppendTexts(*table, {std::to_string(i).c_str(), ("r" + std::to_string(i)).c_str()});
    }
    table->Refresh();
    return table;
}

// The bits of the selection, then of the second set, each followed by "|".
std::string Bits(const KsFile& table) {
    std::string text;
    for (const KsSet* set : {&table.GetSelection(), &table.GetSecondSet()}) {
        for (std::int32_t i = 1; i <= set->GetSize(); ++i) {
            text += set->IsSelected(i) ? '1' : '0';
        }
        text += '|';
    }
    return text;
}

std::unique_ptr<KsFileRecord> Keyed(KsFile& table, int id, const char* name = "x") {
    auto record = table.GetNewRecord();
    record->PutField(0, std::to_string(id).c_str(), KsFileRecord::kPlain);
    record->PutField(1, name, KsFileRecord::kPlain);
    return record;
}

TEST(KsMultiFileListener, FansOutLastFirstCountsEveryAddAndLetsNoListenerDangle) {
    kstest::TempDir dir;
    auto table = KeyedTable(dir, 1);
    const KsFileRecord& record = *table->GetScratchRecord();
    Log log;
    Recorder first(log, "1"), second(log, "2"), third(log, "3");
    KsMultiFileListener multi;
    for (Recorder* r : {&first, &second, &third, &first}) {
        multi.Add(*r);
    }
    multi.FLRecordAdded(*table, 4, record);
    multi.Remove(first);  // one of its two registrations
    EXPECT_EQ(1, first.GetReferenceCount());
    multi.FLRecordRemoved(*table, 3, record);
    multi.Remove(first);
    multi.Remove(first);  // not registered any more: ignored
    multi.SetInactive(true);
    multi.FLDestroy(*table);
    EXPECT_EQ((Log{"3:0:4", "2:0:4", "1:0:4", "3:1:3", "2:1:3", "1:1:3"}), log);
    EXPECT_EQ(0, first.GetReferenceCount());
    EXPECT_EQ("Cannot add KsMultiFileListener to itself", MessageOf([&] { multi.Add(multi); }));
    auto* doomed = new Recorder(log, "x");
    KsMultiFileListener other;
    for (KsMultiFileListener* m : {&multi, &other, &other}) {
        m->Add(*doomed);
    }
    EXPECT_EQ("Reference count of KsFileListener is 3 at destruction",
              MessageOf([&] { delete doomed; }));
    EXPECT_EQ(2, multi.GetListenerCount() + other.GetListenerCount());
}

TEST(KsFile, TellsItsListenersOfOpenLocksActivationCloseAndDestruction) {
    kstest::TempDir dir;
    Log log;
    Recorder listener(log, "t");
    {
        auto table = KeyedTable(dir, 2);
        table->AddActionListener(listener);
        table->Open(dir.File("k").c_str(), IO_READ | IO_WRITE);
        table->Lock(LOCK_WRITE);
        table->DeactivateListeners(true);
        table->DeactivateListeners(true);  // already inactive: no second event
        table->Refresh();
        table->ActivateListeners(true);
        table->DeactivateListeners(false);
        table->Unlock(LOCK_WRITE);  // the last write lock switches them on again
        table->Lock(LOCK_READ);
        table->Unlock(LOCK_READ);
    }
    EXPECT_EQ((Log{"t:close", "t:5:-1", "t:lock512", "t:deactivate", "t:activate", "t:4:-1",
                   "t:unlock512", "t:lock256", "t:unlock256", "t:2:-1"}),
              log);
    EXPECT_EQ(0, listener.GetReferenceCount());
}

TEST(KsFileCheckPoint, SurvivesModifyAndLockExpiresAtChangesAndRestoresOnlyWhenValid) {
    kstest::TempDir dir;
    auto table = KeyedTable(dir, 3);
    const KsFileRecord& record = *table->GetScratchRecord();
    table->GetSelection().SelectRecord(2, false);
    auto point = table->GetCheckPoint();
    table->GetSelection().SelectRecord(1, false);
    table->GetListeners().FLRecordModified(*table, 1);
    table->Lock(LOCK_READ);
    table->Unlock(LOCK_READ);
    auto copy = point->Clone();
    point->Restore();
    EXPECT_EQ(3, table->GetSelection().GetNextInSet(table->GetSelection().GetNextInSet(0)));
    kstest::AppendTexts(*table, {"4", "new"});  // grown without telling anyone
    EXPECT_EQ("Checkpoint had 3 records in set, but file contains 4 records",
              MessageOf([&] { table->RestoreCheckPoint(*point); }));
    EXPECT_EQ(4, table->GetSelection().GetSize());
    table->GetListeners().FLRecordAdded(*table, 4, record);
    EXPECT_TRUE(point->IsExpired() && copy->IsExpired() && point->Clone()->IsExpired());
    EXPECT_EQ(0, table->GetListeners().GetListenerCount());
    auto changed = table->GetCheckPoint();
    table->FileMaintenanceModify(1, record, record);
    EXPECT_TRUE(changed->IsExpired());
    auto outliving = table->GetCheckPoint();
    table.reset();  // expires it: it never looks at the table again
    EXPECT_EQ("Cannot restore file state from an expired checkpoint.",
              MessageOf([&] { outliving->Restore(); }));
}

TEST(KsFileMaintenance, FindsAndChangesRecordsByPrimaryKey) {
    kstest::TempDir dir;
    auto table = KeyedTable(dir, 9);
    for (auto change : {&KsFile::DataUpdate, &KsFile::DataRemove}) {
        EXPECT_EQ("Keys not found in file",
                  MessageOf([&] { ((*table).*change)(*Keyed(*table, 99), nullptr); }));
    }
    auto target = Keyed(*table, 0);
    EXPECT_EQ(5, table->GotoRecordByPrimaryKeys(*Keyed(*table, 5), *target));
    EXPECT_EQ(5, target->GetNumber(0));
    table->GotoRecord(3);
    EXPECT_EQ(0, table->GetRecordNumberByKey(*Keyed(*table, 99)));
    EXPECT_EQ(3, table->GetCurrentRecord()->GetNumber(0));  // a search moves nothing
}

TEST(KsFileMaintenance, SetsFollowChangesOnlyWithSetMaintenanceAndARefusedChangeKeepsThem) {
    kstest::TempDir dir;
    auto table = KeyedTable(dir, 3);
    Log log;
    Recorder listener(log, "t");
    table->AddActionListener(listener);
    table->SetSetMaintenance(false);
    table->FileMaintenanceAdd(table->DataInsert(2, *Keyed(*table, 10)), *Keyed(*table, 10));
    EXPECT_EQ(6, table->GetSelection().GetSize() + table->GetSecondSet().GetSize());
    table->DataDelete(2);
    table->SetSetMaintenance(true);
    table->GetSelection().SelectRecord(2, false);
    auto old = table->GetNewRecord();
    std::int32_t removed = 0, added = 0;
    table->DataReplace(*Keyed(*table, 2), *Keyed(*table, 30), old.get(), removed, added);
    table->FileMaintenanceReplace(removed, added, *old, *Keyed(*table, 30));
    EXPECT_EQ((Log{"t:2>3-+"}), log);
    EXPECT_EQ(30, table->GetCurrentRecord()->GetNumber(0));
    EXPECT_EQ("Set record value of 9 not valid for set with 3 records.",
              MessageOf([&] { table->FileMaintenanceReplace(9, 3, *old, *old); }));
    // A change that a listener refuses leaves both sets as they were, so that the caller's
    // undo of its data change restores the whole table.
    table->GetSelection().SelectRecord(2, false);
    const std::string before = Bits(*table);
    listener.refuse = true;
    auto record = Keyed(*table, 9);
    for (auto change : std::vector<std::function<void()>>{
             [&] { table->FileMaintenanceAdd(2, *record); },
             [&] { table->FileMaintenanceDelete(2); },
             [&] { table->FileMaintenanceModify(2, *record, *record); },
             [&] { table->FileMaintenanceReplace(1, 3, *record, *record); }}) {
        EXPECT_EQ("refused", MessageOf(change));
        EXPECT_EQ(before, Bits(*table));
    }
    table->RemoveActionListener(listener);
}

// Random adds by key, inserts, removals by key, replacements, selection changes and moves
// against a model of the keys, both sets and the current record.
TEST(KsFileMaintenance, RandomChangesKeepSetsAndCurrentRecordInStep) {
    struct Row {
        int id;
        bool selected;
    };
    kstest::TempDir dir;
    auto table = KeyedTable(dir, 0);
    std::vector<Row> model;
    std::int32_t current = 0;
    std::mt19937 random(15);
    auto pick = [&](std::size_t count) { return static_cast<int>(random() % count) + 1; };
    for (int step = 0, nextId = 1; step < 600; ++step) {
        int count = static_cast<int>(model.size());
        auto op = count == 0 ? 0ul : random() % 6;
        bool newSelected = random() % 2 == 0;
        table->SetNewRecordsSelected(newSelected);
        auto fresh = Keyed(*table, nextId);
        int n = count == 0 ? 0 : pick(model.size());
        if (op <= 1) {
            n = op == 0 ? table->DataAdd(*fresh) : table->DataInsert(pick(count + 1), *fresh);
            table->FileMaintenanceAdd(n, *fresh);
            model.insert(model.begin() + (n - 1), Row{nextId++, newSelected});
            current = n;
        } else if (op == 2) {
            ASSERT_EQ(n, table->DataRemove(*Keyed(*table, model[n - 1].id)));
            table->FileMaintenanceDelete(n);
            model.erase(model.begin() + (n - 1));
            current =
                current == n ? std::min(count - 1, std::max(1, n - 1)) : current - (current > n);
        } else if (op == 3) {
            std::int32_t removed = 0;
            auto old = table->GetNewRecord();
            table->DataReplace(*Keyed(*table, model[n - 1].id), *fresh, old.get(), removed,
                               current);
            table->FileMaintenanceReplace(removed, current, *old, *fresh);
            model.erase(model.begin() + (n - 1));
            model.push_back(Row{nextId++, newSelected});
        } else if (op == 4) {
            model[n - 1].selected = !model[n - 1].selected;
            table->GetSelection().SelectRecord(n, model[n - 1].selected);
        } else {
            table->GotoRecord(current = n);
        }
        ASSERT_EQ(current, table->GetCurrentRecordNumber()) << "step " << step;
        std::string bits;
        for (const Row& row : model) {
            bits += row.selected ? '1' : '0';
        }
        ASSERT_EQ(bits + "|" + std::string(model.size(), '1') + "|", Bits(*table)) << step;
    }
}

}  // namespace
