// Power cuts at every sync point of each way a table is written: after each, the table
// reopens (the open for writing repairing what it finds) in its old state or its new one,
// record for record and index for index, and in the new one once the operation returned.

#include <tuple>

#include "TxnTestSupport.h"
#include "index/KsSortFileWrapper.h"

namespace {

using kstest::FaultInjectingFactory;

// The state a check compares: the records, the title and which fields are indexed.
struct TableState {
    std::string content;
    std::string title;
    std::string indexed;  // "01": both fields indexed
    bool operator==(const TableState&) const = default;
};

class PowerCutWalk : public kstest::TxnTableTest {
protected:
    // survey: Id indexed, four records, index files written, closed.
    PowerCutWalk() {
        Recreate(KsIOFactory::Default(), "0");
        for (int id : {4, 2, 3, 1}) {
            Append(id, ("n" + std::to_string(id)).c_str());
        }
        table->LoadIndexes();
        table->Close();
    }
    // The table as it reopens for writing; a "!" after an index's field marks an index file
    // that does not agree with its records, one alone a file of a field without an index.
    TableState Reopened() {
        CBFFile t;
        t.Open(Name().c_str(), IO_READ | IO_WRITE);
        TableState state{kstest::Content(t), t.GetTitle(), ""};
        for (std::uint16_t field = 0; field < 2; ++field) {
            if (t.GetField(field).GetIndexCount() > 0) {
                state.indexed += static_cast<char>('0' + field);
                state.indexed +=
                    kstest::IndexFileAgrees(t, field, KsIndex(t, field, nullptr)) ? "" : "!";
            } else if (t.IndexFileExists(field)) {
                state.indexed += "!";
            }
        }
        t.Close();
        return state;
    }
};

const std::string kFour = "4|n4;2|n2;3|n3;1|n1";

// Each change is made with the table open for writing through the walk's files; after every
// cut the table is as before it, or as `after` (at the latest once the change returned).
TEST_F(PowerCutWalk, EveryWriteOfATableLeavesItOldOrNew) {
    const TableState old{kFour, Name(), "0"};
    const struct {
        const char* what;
        std::function<void(CBFFile&)> change;
        TableState after;
    } paths[] = {
        {"an import",
         [](CBFFile& t) {
             KsFile::ChangeScope change = t.BeginChange(t.GetNumRecords());
             for (int id : {5, 6}) {
                 t.DataAppend(*kstest::MakeRecord(t, id, ("n" + std::to_string(id)).c_str()));
             }
             t.Sync();
             t.GetIndex(0, true);
             t.SaveIndex(0);
         },
         {kFour + ";5|n5;6|n6", Name(), "0"}},
        {"a sort",
         [](CBFFile& t) {
             KsSortTable(t, {KsSortField{0, false}}, KsNullProgress::Instance());
             t.GetIndex(0, true);
             t.SaveIndex(0);
         },
         {"1|n1;2|n2;3|n3;4|n4", Name(), "0"}},
        {"an index built",
         [](CBFFile& t) {
             KsFile::ChangeScope change = t.BeginChange();
             t.GetField(1).SetIndexCount(1);
             t.WriteStructure();
             t.GetIndex(1, true);
             t.SaveIndex(1);
         },
         {kFour, Name(), "01"}},
        {"an index removed",
         [](CBFFile& t) {
             KsFile::ChangeScope change = t.BeginChange();
             t.GetField(0).SetIndexCount(0);
             t.WriteStructure();
             t.RemoveIndex(std::uint16_t{0});
         },
         {kFour, Name(), ""}},
        {"the structure written",
         [](CBFFile& t) {
             t.SetTitle("Survey");
             t.WriteStructure();
         },
         {kFour, "Survey", "0"}},
        {"a commit",
         [](CBFFile& t) {
             KsTransactionNew transaction(t, 1, "walk");
             for (auto [kind, n, id] : {std::tuple{'P', 0, 7}, {'M', 2, 8}, {'D', 1, 0}}) {
                 auto record = kstest::MakeRecord(t, id, ("n" + std::to_string(id)).c_str());
                 transaction.AddAction(t, *kstest::MakeAction(kind, *record, n));
             }
             transaction.Commit();
         },
         {"8|n8;3|n3;1|n1;7|n7", Name(), "0"}},
    };
    for (const auto& path : paths) {
        SCOPED_TRACE(path.what);
        const int cuts = kstest::WalkPowerCuts(
            dir.Path().string(),
            [&](FaultInjectingFactory& factory) {
                CBFFile t(factory);
                t.Open(Name().c_str(), IO_READ | IO_WRITE);
                path.change(t);
                t.Close();
            },
            [&](const kstest::PowerCutPoint& cut) {
                SCOPED_TRACE(cut.Describe());
                TableState state = Reopened();
                EXPECT_TRUE(state == path.after || (!cut.Finished() && state == old))
                    << state.content << " " << state.title << " " << state.indexed;
            });
        EXPECT_GT(cuts, 4);
        RecordProperty(path.what, cuts);
        ASSERT_FALSE(HasFailure());
    }
}

// A table created (Id indexed) and cut by the power at each sync point: there is no table
// (an empty data file at most, which the next create takes over), or the whole new one.
TEST_F(PowerCutWalk, ACreatedTableIsThereWholeOrNotAtAll) {
    const std::string fresh = dir.File("fresh.cbf");
    const int cuts = kstest::WalkPowerCuts(
        dir.Path().string(),
        [&](FaultInjectingFactory& factory) {
            KsFieldList fields = kstest::CBFFields({{"Id", 'I'}, {"Name", 'A', 8}});
            fields[0]->SetIndexCount(1);
            CBFFile::PackFields(nullptr, fields);
            CBFFile(factory).Create(fresh.c_str(), fields, 0, true);
        },
        [&](const kstest::PowerCutPoint& cut) {
            SCOPED_TRACE(cut.Describe());
            if (!std::filesystem::exists(dir.File("fresh.kss"))) {
                EXPECT_FALSE(cut.Finished());
                EXPECT_TRUE(!std::filesystem::exists(fresh) ||
                            std::filesystem::file_size(fresh) == 0);
                return;
            }
            CBFFile t;
            t.Open(fresh.c_str(), IO_READ | IO_WRITE);
            EXPECT_EQ(t.GetNumRecords(), 0);
            EXPECT_TRUE(t.IndexFileExists(0));
            EXPECT_EQ(t.GetIndex(0)->GetRecordCount(), 0);
        });
    EXPECT_GT(cuts, 4);
    RecordProperty("a create", cuts);
}

}  // namespace
