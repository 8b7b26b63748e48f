#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "files/KsFileListener.h"
#include "support/KsErrorCapture.h"
#include "support/TempDir.h"
#include "TableTestSupport.h"

namespace {

using kstest::MessageOf;

// A table keyed by its first field: records "i|r<i>" for i = 1 ... count.
std::unique_ptr<CBFFile> KeyedTable(const kstest::TempDir& dir, int count) {
    KsFieldList fields = kstest::CBFFields({{"Id", 'N'}, {"Name", 'A', 6}});
    CBFFile::PackFields(nullptr, fields);
    auto table = std::make_unique<CBFFile>();
    std::string name = dir.File("keyed");
    table->Create(name.c_str(), fields, 1, false);
    table->Open(name.c_str(), IO_READ | IO_WRITE);
    for (int i = 1; i <= count; ++i) {
        kstest::AppendTexts(*table, {std::to_string(i).c_str(), ("r" + std::to_string(i)).c_str()});
    }
    table->Refresh();
    return table;
}

std::unique_ptr<KsFileRecord> Record(KsFile& table, int id, const char* name = "x") {
    auto record = table.GetNewRecord();
    record->PutField(0, std::to_string(id).c_str(), KsFileRecord::kPlain);
    record->PutField(1, name, KsFileRecord::kPlain);
    return record;
}

std::string Dump(const KsFileRecord& record) {
    KsString out;
    record.AppendTextDump(out);
    return out.GetCString();
}

// Notes the arguments of replacements and counts every other event.
struct Watcher : KsFileListener {
    void ActionHandler(KsFile&, int, std::int32_t) override { ++events; }
    void FLRecordReplaced(KsFile&, std::int32_t oldNumber, const KsFileRecord&,
                          std::int32_t newNumber, const KsFileRecord&, bool selected,
                          bool second) override {
        replaced = std::to_string(oldNumber) + ">" + std::to_string(newNumber) +
                   (selected ? " sel" : " -") + (second ? " second" : " -");
    }
    int events = 0;
    std::string replaced;
};

TEST(KsFileMaintenance, ChangesByPrimaryKey) {
    kstest::TempDir dir;
    auto table = KeyedTable(dir, 9);
    table->GotoRecord(4);
    EXPECT_EQ("Attempting to add new record, but the primary keys match those of record 7",
              MessageOf([&] { table->DataAdd(*Record(*table, 7)); }));
    EXPECT_EQ(9, table->GetNumRecords());
    EXPECT_EQ("9|r9", kstest::TextsOf(*table, 9));
    table->GotoRecord(4);
    EXPECT_EQ(0, table->GetRecordNumberByKey(*Record(*table, 99)));
    EXPECT_EQ(4, table->GetCurrentRecordNumber());  // a look-up does not move it
    auto old = table->GetNewRecord();
    EXPECT_EQ(3, table->DataUpdate(*Record(*table, 3, "upd"), old.get()));
    EXPECT_EQ("3|upd", kstest::TextsOf(*table, 3));
    EXPECT_EQ("3,r3,", Dump(*old));
    for (auto change : {&KsFile::DataUpdate, &KsFile::DataRemove}) {
        EXPECT_EQ("Keys not found in file",
                  MessageOf([&] { ((*table).*change)(*Record(*table, 99), nullptr); }));
    }
    auto target = Record(*table, 0, "none");
    EXPECT_EQ(0, table->GotoRecordByPrimaryKeys(*Record(*table, 99), *target));
    EXPECT_EQ("0,none,", Dump(*target));
    EXPECT_EQ(5, table->GotoRecordByPrimaryKeys(*Record(*table, 5), *target));
    EXPECT_EQ("5,r5,", Dump(*target));
    std::int32_t removed = 0, added = 0;
    table->DataReplace(*Record(*table, 2), *Record(*table, 20, "new"), nullptr, removed, added);
    EXPECT_EQ(2, removed);
    EXPECT_EQ(9, added);
    EXPECT_EQ("20|new", kstest::TextsOf(*table, 9));
    EXPECT_EQ("3|upd", kstest::TextsOf(*table, 2));
}

TEST(KsFileMaintenance, CurrentRecordFollowsADeletion) {
    struct Case {
        int records, current, deleted, expected;
        const char* text;
    };
    for (const Case& c : {Case{9, 5, 5, 4, "4,r4,"}, Case{9, 1, 1, 1, "2,r2,"},
                          Case{1, 1, 1, 0, ""}, Case{9, 9, 9, 8, "8,r8,"},
                          Case{9, 7, 3, 6, "7,r7,"}, Case{9, 3, 7, 3, "3,r3,"}}) {
        SCOPED_TRACE(c.current);
        kstest::TempDir dir;
        auto table = KeyedTable(dir, c.records);
        table->GotoRecord(c.current);
        table->DataDelete(c.deleted);
        table->FileMaintenanceDelete(c.deleted);
        EXPECT_EQ(c.expected, table->GetCurrentRecordNumber());
        if (c.expected != 0) {
            EXPECT_EQ(c.text, Dump(*table->GetCurrentRecord()));
        }
        EXPECT_EQ(c.records - 1, table->GetSelection().GetSize());
    }
}

TEST(KsFileMaintenance, SetsFollowInsertsAndReplacementsOnlyWithSetMaintenance) {
    kstest::TempDir dir;
    auto table = KeyedTable(dir, 3);
    Watcher watcher;
    table->AddActionListener(watcher);
    table->SetSetMaintenance(false);
    table->FileMaintenanceAdd(table->DataInsert(2, *Record(*table, 10)), *Record(*table, 10));
    EXPECT_EQ(3, table->GetSelection().GetSize());
    EXPECT_EQ(3, table->GetSecondSet().GetSize());
    EXPECT_EQ(0, watcher.events);
    table->DataDelete(2);
    table->SetSetMaintenance(true);
    table->SetNewRecordsSelected(false);
    table->GetSelection().SelectRecord(2, false);
    table->FileMaintenanceAdd(table->DataInsert(2, *Record(*table, 10)), *Record(*table, 10));
    EXPECT_EQ(1, watcher.events);
    EXPECT_EQ(2, table->GetSelection().GetSelectedCount());  // records 1 and 4 of 4
    EXPECT_FALSE(table->GetSelection().IsSelected(3));
    EXPECT_TRUE(table->GetSecondSet().IsSelected(2));
    std::int32_t removed = 0, added = 0;
    auto old = table->GetNewRecord();
    table->DataReplace(*Record(*table, 2), *Record(*table, 30), old.get(), removed, added);
    table->FileMaintenanceReplace(removed, added, *old, *Record(*table, 30));
    EXPECT_EQ("3>4 - second", watcher.replaced);
    EXPECT_EQ(4, table->GetCurrentRecordNumber());
    EXPECT_EQ("30,x,", Dump(*table->GetCurrentRecord()));
    EXPECT_EQ("Set record value of 9 not valid for set with 4 records.",
              MessageOf([&] { table->FileMaintenanceReplace(9, 4, *old, *old); }));
    table->RemoveActionListener(watcher);
}

// Random appends by key, inserts, deletes, replacements and updates against a model of the
// keys, both sets and the current record.
TEST(KsFileMaintenance, RandomChangesKeepSetsAndCurrentRecordInStep) {
    struct Row {
        int id;
        bool selected, second;
    };
    kstest::TempDir dir;
    auto table = KeyedTable(dir, 0);
    std::vector<Row> model;
    std::int32_t current = 0;
    int nextId = 1;
    std::mt19937 random(15);
    auto pick = [&](int count) { return static_cast<int>(random() % static_cast<unsigned>(count)) + 1; };
    for (int step = 0; step < 600; ++step) {
        int count = static_cast<int>(model.size());
        int op = count == 0 ? 0 : static_cast<int>(random() % 6);
        bool newSelected = random() % 2 == 0;
        table->SetNewRecordsSelected(newSelected);
        auto fresh = Record(*table, nextId);
        if (op == 0 || op == 1) {
            int at = op == 0 ? count + 1 : pick(count + 1);
            std::int32_t n = op == 0 ? table->DataAdd(*fresh) : table->DataInsert(at, *fresh);
            table->FileMaintenanceAdd(n, *fresh);
            model.insert(model.begin() + (n - 1), Row{nextId++, newSelected, true});
            current = n;
        } else if (op == 2) {
            int n = pick(count);
            table->DataRemove(*Record(*table, model[n - 1].id));
            table->FileMaintenanceDelete(n);
            model.erase(model.begin() + (n - 1));
            current = current == n ? (count > 1 ? std::max(1, n - 1) : 0)
                                   : (current > n ? current - 1 : current);
        } else if (op == 3) {
            int n = pick(count);
            std::int32_t removed = 0, added = 0;
            auto old = table->GetNewRecord();
            table->DataReplace(*Record(*table, model[n - 1].id), *fresh, old.get(), removed, added);
            table->FileMaintenanceReplace(removed, added, *old, *fresh);
            ASSERT_EQ(n, removed);
            model.erase(model.begin() + (n - 1));
            model.push_back(Row{nextId++, newSelected, true});
            current = added;
        } else if (op == 4) {
            int n = pick(count);
            table->GetSelection().SelectRecord(n, !model[n - 1].selected);
            model[n - 1].selected = !model[n - 1].selected;
        } else {
            current = pick(count);
            table->GotoRecord(current);
        }
        ASSERT_EQ(static_cast<int>(model.size()), table->GetNumRecords());
        ASSERT_EQ(current, table->GetCurrentRecordNumber()) << "step " << step;
        for (std::size_t i = 0; i < model.size(); ++i) {
            auto n = static_cast<std::int32_t>(i + 1);
            ASSERT_EQ(model[i].selected, table->GetSelection().IsSelected(n)) << "step " << step;
            ASSERT_EQ(model[i].second, table->GetSecondSet().IsSelected(n));
            if (step % 50 == 0) {
                EXPECT_EQ(std::to_string(model[i].id) + "|x", kstest::TextsOf(*table, n));
            }
        }
        ASSERT_EQ(static_cast<int>(model.size()), table->GetSelection().GetSize());
        if (current != 0) {
            table->GotoRecord(current);
        }
    }
}

}  // namespace
