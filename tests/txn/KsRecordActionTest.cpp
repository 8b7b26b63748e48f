#include "txn/KsRecordAction.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/KsErrorCapture.h"
#include "support/MemoryStream.h"
#include "support/TempDir.h"
#include "txn/ActionTable.h"

namespace {

using kstest::ActionTable;
using kstest::RecordOf;
using kstest::Snapshot;
using ActionPtr = std::unique_ptr<KsRecordAction>;

std::string Describe(const KsRecordAction& action) {
    KsString text;
    action.AppendDescription(text);
    return text.GetCString();
}

std::string Written(const KsRecordAction& action) {
    kstest::MemoryStream stream;
    KsRecordAction::Write(action, stream);
    return stream.Bytes();
}

class RecordActionTest : public ::testing::Test {
protected:
    kstest::TempDir dir;
    std::unique_ptr<ActionTable> table = kstest::MakeActionTable(dir.File("t.cbf"), 5);
};

// A new action: its type, the record's texts (for the kinds with a record) and the number.
ActionPtr Act(KsFile& t, char type, const char* id = "9", const char* name = "new",
              std::int32_t number = 2) {
    std::unique_ptr<KsFileRecord> record = RecordOf(t, id, name);
    switch (type) {
        case 'A':
            return std::make_unique<KsAddAction>(*record);
        case 'P':
            return std::make_unique<KsAppendAction>(*record);
        case 'I':
            return std::make_unique<KsInsertAction>(*record, number);
        case 'M':
            return std::make_unique<KsModifyAction>(*record, number);
        case 'D':
            return std::make_unique<KsDeleteAction>(number);
        case 'R':
            return std::make_unique<KsRemoveAction>(*record);
        default:
            return std::make_unique<KsNullAction>();
    }
}

// Every kind, committed and then undone by its inverse: the table is back as it was, with
// every record at its old number and the same records selected (record 2 is not).
TEST_F(RecordActionTest, EachKindIsUndoneExactlyByItsInverse) {
    struct {
        ActionPtr action;
        const char* description;
        const char* changed;      // the table after the action
        const char* maintenance;  // the maintenance calls of the action, then of its inverse
        const char* inverse;
    } cases[] = {
        {Act(*table, 'A'), "add the record 9,new,",
         "1|r1;2|r2;3|r3;4|r4;5|r5;9|new; selected: 1 3 4 5 6", "add 6;delete 6;",
         "remove the record 9,new,"},
        {Act(*table, 'P'), "append the record 9,new,",
         "1|r1;2|r2;3|r3;4|r4;5|r5;9|new; selected: 1 3 4 5 6", "add 6;delete 6;",
         "delete the record at 6"},
        {Act(*table, 'I'), "insert the record 9,new, at 2",
         "1|r1;9|new;2|r2;3|r3;4|r4;5|r5; selected: 1 2 4 5 6", "add 2;delete 2;",
         "delete the record at 2"},
        {Act(*table, 'M', "3", "changed", 3), "modify the record at 3 to be 3,changed,",
         "1|r1;2|r2;3|changed;4|r4;5|r5; selected: 1 3 4 5", "modify 3;modify 3;",
         "modify the record at 3 to be 3,r3,"},
        {Act(*table, 'D'), "delete the record at 2", "1|r1;3|r3;4|r4;5|r5; selected: 1 2 3 4",
         "delete 2;add 2;", "insert the record 2,r2, at 2"},
        {Act(*table, 'R', "2", ""), "remove the record 2,,",
         "1|r1;3|r3;4|r4;5|r5; selected: 1 2 3 4", "delete 2;add 2;",
         "insert the record 2,r2, at 2"},
        {Act(*table, 0), "do nothing", "1|r1;2|r2;3|r3;4|r4;5|r5; selected: 1 3 4 5", "",
         "do nothing"},
    };
    table->GetSelection().SelectRecord(2, false);
    const std::string start = Snapshot(*table);
    for (auto& c : cases) {
        SCOPED_TRACE(c.description);
        table->maintenanceLog.clear();
        EXPECT_EQ(Describe(*c.action), c.description);
        ActionPtr inverse = c.action->Commit(*table);
        EXPECT_EQ(Snapshot(*table), c.changed);
        EXPECT_EQ(Describe(*inverse), c.inverse);
        inverse->Commit(*table);
        EXPECT_EQ(Snapshot(*table), start);
        EXPECT_EQ(table->maintenanceLog, c.maintenance);
    }
}

// Each kind's stream form, the type byte then the record (blank vector, Id as 32 bits, Name up
// to its NUL, none at full width) then the number, reads back to the same action.
TEST_F(RecordActionTest, StreamFormIsTheTypeByteThenTheRecordThenTheNumber) {
    // clang-format off
    const std::pair<ActionPtr, const char*> cases[] = {
        {Act(*table, 'I', "3", "ab", 0x01020304), "49" "00" "03000000" "616200" "04030201"},
        {Act(*table, 'A', "1", ""), "41" "00" "01000000" "00"},
        {Act(*table, 'R', "1", "abcdefgh"), "52" "00" "01000000" "6162636465666768"},
        {Act(*table, 'P', "-7", "x"), "50" "00" "F9FFFFFF" "7800"},
        {Act(*table, 'M', "-7", "abcdefgh", -2), "4D" "00" "F9FFFFFF" "6162636465666768" "FEFFFFFF"},
        {Act(*table, 'D', "1", "", 17), "44" "11000000"},
        {Act(*table, 0), "00"}};
    // clang-format on
    for (const auto& [action, hex] : cases) {
        SCOPED_TRACE(hex);
        const std::string bytes = Written(*action);
        EXPECT_EQ(kstest::Hex(bytes), hex);
        kstest::MemoryStream stream(bytes);
        ActionPtr read = KsRecordAction::Read(*table, stream);
        EXPECT_EQ(read->GetType(), action->GetType());
        EXPECT_EQ(Describe(*read), Describe(*action));
        EXPECT_EQ(stream.Position(), bytes.size());
        EXPECT_EQ(Written(*action->Copy()), bytes);
    }
}

TEST_F(RecordActionTest, DamagedStreamsFailWithAClearError) {
    kstest::MemoryStream unknown("X");
    EXPECT_EQ(
        kstest::ErrorOf<KsRecordActionUnknown>([&] { KsRecordAction::Read(*table, unknown); }),
        "Cannot use file action of type 'X' (88) / KsRecordAction / Read() of KsRecordAction");
    // Every cut of a well-formed action fails, and no record is left half-read.
    const std::string whole = Written(*Act(*table, 'M', "3", "abc", 2));
    for (std::size_t size = 0; size < whole.size(); ++size) {
        kstest::MemoryStream cut(whole.substr(0, size));
        EXPECT_THROW(KsRecordAction::Read(*table, cut), KsException) << size;
    }
}

TEST_F(RecordActionTest, ModifyDescriptionAndDelayedInverses) {
    EXPECT_EQ(
        kstest::ErrorOf<KsRollbackFailure>([&] { Act(*table, 'M')->GenerateInverse(*table); }),
        "Cannot perform delayed rollbacks on modifications; do not know the original value"
        " / KsModifyAction / GenerateInverse ( KsFile &theTable ) of KsModifyAction");
    EXPECT_EQ(Describe(*KsDeleteAction(4).GenerateInverse(*table)), "insert the record 4,r4, at 4");
    EXPECT_EQ(Describe(*Act(*table, 'R', "3", "")->GenerateInverse(*table)),
              "insert the record 3,r3, at 3");
    EXPECT_EQ(Describe(*Act(*table, 'R', "8", "")->GenerateInverse(*table)), "add the record 8,,");
}

// A failing maintenance step leaves the table as it was and reports the maintenance
// failure; when the undo of the data step fails too, both messages are reported.
TEST_F(RecordActionTest, DataStepIsUndoneWhenMaintenanceFails) {
    struct {
        char type;
        const char* noun;
        const char* atomic;
        const char* undoFailure;  // null: the undo of this kind cannot be made to fail here
    } cases[] = {{'A', "addition", "AtomicAdd()", "delete failed"},
                 {'P', "appending", "AtomicAppend()", "delete failed"},
                 {'I', "insertion", "AtomicInsert()", "delete failed"},
                 {'M', "modification", "AtomicModify()", nullptr},
                 {'D', "deletion", "AtomicDelete()", "unknown error"},
                 {'R', "removal", "AtomicRemove()", "unknown error"}};
    const std::string start = Snapshot(*table);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.noun);
        ActionPtr action = Act(*table, c.type, c.type == 'A' ? "9" : "1", "n", 1);
        table->failMaintenance = true;
        EXPECT_EQ(kstest::ClassAndMessageOf([&] { action->Commit(*table); }),
                  std::string("KsRecordAction: The ") + c.noun +
                      " of a record failed with message \"maintenance failed\"");
        EXPECT_EQ(Snapshot(*table), start);
        if (c.undoFailure != nullptr) {
            (std::string(c.undoFailure) == "delete failed" ? table->failDelete
                                                           : table->failInsert) = true;
            EXPECT_EQ(kstest::MessageOf([&] { action->PermanentCommit(*table); }),
                      std::string(c.atomic) + " rollback failed with message \"" + c.undoFailure +
                          "\" for an original exception of \"maintenance failed\"");
        }
        table = kstest::MakeActionTable(dir.File(std::string(c.noun) + ".cbf"), 5);
    }
}

TEST_F(RecordActionTest, DataAndUndoStepFailuresAreReportedWithTheirMessages) {
    const std::string start = Snapshot(*table);
    EXPECT_EQ(kstest::ErrorOf<KsCommitFailure>(
                  [&] { Act(*table, 'R', "99", "")->PermanentCommit(*table); }),
              "The removal of a record failed with message \"Keys not found in file\" / "
              "KsRecordAction / PermanentCommit() of KsRemoveAction");
    table->failInsert = true;
    EXPECT_EQ(kstest::MessageOf([&] { Act(*table, 'I', "3", "x", 1)->Commit(*table); }),
              "The insertion of a record failed for an unknown reason");
    table->failInsert = false;
    EXPECT_EQ(Snapshot(*table), start);
    // An undo step reports the failures of both its parts.
    std::unique_ptr<KsFileRecord> old = table->GetNewRecord();
    std::int32_t n = KsRecordAction::AtomicAppend(*table, *RecordOf(*table, "7", "x"));
    table->failMaintenance = table->failDelete = true;
    EXPECT_EQ(kstest::MessageOf([&] { KsRecordAction::UndoAppend(*table, n); }),
              "(Could not UndoAppend() of indexes : \"maintenance failed\")"
              "(Could not UndoAppend() of record : \"delete failed\")");
    table->failDelete = false;
    table->failInsert = true;
    EXPECT_EQ(kstest::MessageOf([&] { KsRecordAction::UndoRemove(*table, 2, *old); }),
              "(Could not UndoModify() of indexes : \"maintenance failed\")"
              "(Could not UndoRemove() of record : \"unknown error\")");
}

}  // namespace
