// Power cuts at every sync point of each way a table is written: after each, the table
// reopens (the open for writing repairing what it finds) in its old state or its new one,
// record for record and index for index, and in the new one once the operation returned.

#include <algorithm>
#include <filesystem>
#include <functional>

#include "TxnTestSupport.h"
#include "files/KsFileListener.h"
#include "index/KsIndex.h"
#include "index/KsSortFileWrapper.h"
#include "io/KsIO.h"
#include "progress/KsNullProgress.h"
#include "support/ChildProcess.h"
#include "support/FaultInjectingFile.h"

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
        table.reset();
        std::filesystem::remove_all(dir.Path());
        std::filesystem::create_directory(dir.Path());
        KsFieldList fields = kstest::CBFFields({{"Id", 'I'}, {"Name", 'A', 8}});
        fields[0]->SetIndexCount(1);
        CBFFile::PackFields(nullptr, fields);
        table = kstest::CreateTable(Name(), std::move(fields));
        for (int id : {4, 2, 3, 1}) {
            Append(id, ("n" + std::to_string(id)).c_str());
        }
        table->LoadIndexes();
        table->Close();
    }
    // Opens the table for writing through `factory`, runs `change` and closes it.
    void Change(FaultInjectingFactory& factory, const std::function<void(CBFFile&)>& change) {
        CBFFile t(factory);
        t.Open(Name().c_str(), IO_READ | IO_WRITE);
        change(t);
        t.Close();
    }
    // The table as it reopens for writing, and whether its index files agree with it.
    TableState Reopened(bool& indexesAgree) {
        CBFFile t;
        t.Open(Name().c_str(), IO_READ | IO_WRITE);
        TableState state{kstest::Content(t), t.GetTitle(), ""};
        indexesAgree = true;
        for (std::uint16_t field = 0; field < 2; ++field) {
            if (t.GetField(field).GetIndexCount() <= 0) {
                indexesAgree = indexesAgree && !t.IndexFileExists(field);
                continue;
            }
            state.indexed += static_cast<char>('0' + field);
            KsIndex stored(t.GetField(field).GetType(),
                           static_cast<std::uint16_t>(t.GetField(field).GetLength()),
                           t.GetNumRecords());
            try {
                KsIO file(t.GetIndexFileName(field).GetCString(), IO_READ);
                stored.Read(file);
                indexesAgree = indexesAgree && stored.IsSameAs(KsIndex(t, field, nullptr));
            } catch (const KsException&) {
                indexesAgree = false;
            }
        }
        t.Close();
        return state;
    }
    // Walks `operation`'s power cuts: after each, the table is `before` or `after` (`after`
    // once the operation returned). Returns the cuts walked.
    int Walk(const std::function<void(FaultInjectingFactory&)>& operation, const TableState& before,
             const TableState& after) {
        return kstest::WalkPowerCuts(
            dir.Path().string(), operation, [&](const kstest::PowerCutPoint& cut) {
                SCOPED_TRACE(cut.Describe());
                bool agree = false;
                TableState state = Reopened(agree);
                EXPECT_TRUE(agree);
                EXPECT_TRUE(state == after || (!cut.Finished() && state == before))
                    << state.content << " " << state.title << " " << state.indexed;
            });
    }
};

const std::string kFour = "4|n4;2|n2;3|n3;1|n1";

TEST_F(PowerCutWalk, EveryWriteOfATableLeavesItOldOrNew) {
    const TableState old{kFour, Name(), "0"};
    struct Path {
        const char* what;
        std::function<void(FaultInjectingFactory&)> operation;
        TableState after;
    } paths[] = {
        {"an import",
         [&](FaultInjectingFactory& factory) {
             Change(factory, [&](CBFFile& t) {
                 KsFile::ChangeScope change = t.BeginChange(t.GetNumRecords());
                 for (int id : {5, 6}) {
                     t.DataAppend(*kstest::MakeRecord(t, id, ("n" + std::to_string(id)).c_str()));
                 }
                 t.Sync();
                 t.GetIndex(0, true);
                 t.SaveIndex(0);
             });
         },
         {kFour + ";5|n5;6|n6", Name(), "0"}},
        {"a sort",
         [&](FaultInjectingFactory& factory) {
             Change(factory, [&](CBFFile& t) {
                 KsSortTable(t, {KsSortField{0, false}}, KsNullProgress::Instance());
                 t.GetIndex(0, true);
                 t.SaveIndex(0);
             });
         },
         {"1|n1;2|n2;3|n3;4|n4", Name(), "0"}},
        {"an index built",
         [&](FaultInjectingFactory& factory) {
             Change(factory, [&](CBFFile& t) {
                 KsFile::ChangeScope change = t.BeginChange();
                 t.GetField(1).SetIndexCount(1);
                 t.WriteStructure();
                 t.GetIndex(1, true);
                 t.SaveIndex(1);
             });
         },
         {kFour, Name(), "01"}},
        {"an index removed",
         [&](FaultInjectingFactory& factory) {
             Change(factory, [&](CBFFile& t) {
                 KsFile::ChangeScope change = t.BeginChange();
                 t.GetField(0).SetIndexCount(0);
                 t.WriteStructure();
                 t.RemoveIndex(std::uint16_t{0});
             });
         },
         {kFour, Name(), ""}},
        {"the structure written",
         [&](FaultInjectingFactory& factory) {
             Change(factory, [&](CBFFile& t) {
                 t.SetTitle("Survey");
                 t.WriteStructure();
             });
         },
         {kFour, "Survey", "0"}},
        {"a commit",
         [&](FaultInjectingFactory& factory) {
             Change(factory, [&](CBFFile& t) {
                 KsTransactionNew transaction(t, 1, "walk");
                 KsAppendAction append(*kstest::MakeRecord(t, 7, "n7"));
                 KsModifyAction modify(*kstest::MakeRecord(t, 8, "n8"), 2);
                 KsDeleteAction remove(1);
                 for (KsRecordAction* action :
                      {static_cast<KsRecordAction*>(&append), static_cast<KsRecordAction*>(&modify),
                       static_cast<KsRecordAction*>(&remove)}) {
                     transaction.AddAction(t, *action);
                 }
                 transaction.Commit();
             });
         },
         {"8|n8;3|n3;1|n1;7|n7", Name(), "0"}},
    };
    for (const Path& path : paths) {
        SCOPED_TRACE(path.what);
        const int cuts = Walk(path.operation, old, path.after);
        EXPECT_GT(cuts, 4);
        RecordProperty(path.what, cuts);
        ASSERT_FALSE(HasFailure());
    }
}

// Ends the process at the second record change it hears of.
struct DyingAtSecondChange : KsFileListener {
    int heard = 0;
    void ActionHandler(KsFile&, int action, std::int32_t) override {
        if (action != kKsActionRefresh && action != kKsActionOpened && ++heard == 2) {
            _exit(kstest::kDiedStatus);
        }
    }
};

// The recovery of a commit cut short (an append, then a delete of record 1, the process
// dying while the sets follow the delete) cut by the power at each of its own sync points:
// the next open finishes it, and the table is as before the commit.
TEST_F(PowerCutWalk, TheRecoveryOfACutCommitSurvivesAPowerCut) {
    ASSERT_EQ(kstest::RunInChild([&] {
                  CBFFile t;
                  t.Open(Name().c_str(), IO_READ | IO_WRITE);
                  DyingAtSecondChange dying;
                  t.AddActionListener(dying);
                  KsTransactionNew transaction(t, 1, "cut");
                  KsAppendAction append(*kstest::MakeRecord(t, 7, "n7"));
                  KsDeleteAction remove(1);
                  transaction.AddAction(t, append);
                  transaction.AddAction(t, remove);
                  transaction.Commit();
                  return 0;
              }),
              kstest::kDiedStatus);
    ASSERT_EQ(InverseBytes().size(), 1u);
    const TableState old{kFour, Name(), "0"};
    const int cuts =
        Walk([&](FaultInjectingFactory& factory) { Change(factory, [](CBFFile&) {}); }, old, old);
    EXPECT_GT(cuts, 4);
    RecordProperty("the recovery", cuts);
}

// A table created (Id indexed) and cut by the power at each sync point: there is no table
// (an empty data file at most, which the next create takes over), or the whole new one.
TEST_F(PowerCutWalk, ACreatedTableIsThereWholeOrNotAtAll) {
    const std::string fresh = dir.File("fresh.cbf");
    KsFieldList fields = kstest::CBFFields({{"Id", 'I'}, {"Name", 'A', 8}});
    fields[0]->SetIndexCount(1);
    CBFFile::PackFields(nullptr, fields);
    const int cuts = kstest::WalkPowerCuts(
        dir.Path().string(),
        [&](FaultInjectingFactory& factory) {
            KsFieldList copy;
            for (const KsField* field : fields) {
                copy.Add(std::unique_ptr<KsField>(field->Clone()));
            }
            CBFFile(factory).Create(fresh.c_str(), copy, 0, true);
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
