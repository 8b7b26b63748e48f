#include <tuple>

#include "TxnTestSupport.h"
#include "txn/ActionTable.h"

namespace {

using kstest::MessageOf;
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
    std::unique_ptr<kstest::ActionTable> table = kstest::MakeActionTable(dir.File("t.cbf"), 3);

    // A new action of `type` (see MakeAction) of the record (id, name).
    ActionPtr Act(char type, int id = 9, const char* name = "new", std::int32_t n = 2) {
        return kstest::MakeAction(type, *kstest::MakeRecord(*table, id, name), n);
    }
};

// Every kind, committed and then undone by its inverse: the table is back as it was, with
// every record at its old number and the same records selected (record 2 is not). A failing
// maintenance step undoes the data step and names the kind.
TEST_F(RecordActionTest, EachKindIsUndoneExactlyByItsInverse) {
    // The noun names the kind in the message of a failing maintenance step; then come the
    // description, the table after the action, the maintenance calls of the action and then
    // of its inverse, and the inverse's description.
    struct {
        ActionPtr action;
        const char *noun, *description, *changed, *maintenance, *inverse;
    } cases[] = {
        {Act('A'), "addition", "add the record 9,new,", "1|r1;2|r2;3|r3;9|new; selected: 1 3 4",
         "add 4;delete 4;", "remove the record 9,new,"},
        {Act('P'), "appending", "append the record 9,new,", "1|r1;2|r2;3|r3;9|new; selected: 1 3 4",
         "add 4;delete 4;", "delete the record at 4"},
        {Act('I'), "insertion", "insert the record 9,new, at 2",
         "1|r1;9|new;2|r2;3|r3; selected: 1 2 4", "add 2;delete 2;", "delete the record at 2"},
        {Act('M', 3, "changed", 3), "modification", "modify the record at 3 to be 3,changed,",
         "1|r1;2|r2;3|changed; selected: 1 3", "modify 3;modify 3;",
         "modify the record at 3 to be 3,r3,"},
        {Act('D'), "deletion", "delete the record at 2", "1|r1;3|r3; selected: 1 2",
         "delete 2;add 2;", "insert the record 2,r2, at 2"},
        {Act('R', 2, ""), "removal", "remove the record 2,,", "1|r1;3|r3; selected: 1 2",
         "delete 2;add 2;", "insert the record 2,r2, at 2"},
        {Act(0), nullptr, "do nothing", "1|r1;2|r2;3|r3; selected: 1 3", "", "do nothing"},
    };
    table->GetSelection().SelectRecord(2, false);
    const std::string start = Snapshot(*table);
    for (auto& c : cases) {
        SCOPED_TRACE(c.description);
        table->failMaintenance = c.noun != nullptr;
        if (c.noun != nullptr) {
            EXPECT_EQ(kstest::ClassAndMessageOf([&] { c.action->Copy()->Commit(*table); }),
                      "KsRecordAction: The " + std::string(c.noun) +
                          " of a record failed with message \"maintenance failed\"");
        }
        EXPECT_EQ(Snapshot(*table), start);
        table->failMaintenance = false;
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
// to its NUL, none at full width) then the number, reads back to the same action; every cut
// of it fails with a library error, and an unknown type byte is named.
TEST_F(RecordActionTest, StreamFormIsTheTypeByteThenTheRecordThenTheNumber) {
    // clang-format off
    const std::pair<ActionPtr, const char*> cases[] = {
        {Act('I', 3, "ab", 0x01020304), "49" "00" "03000000" "616200" "04030201"},
        {Act('A', 1, ""), "41" "00" "01000000" "00"},
        {Act('R', 1, "abcdefgh"), "52" "00" "01000000" "6162636465666768"},
        {Act('P', -7, "x"), "50" "00" "F9FFFFFF" "7800"},
        {Act('M', -7, "abcdefgh", -2), "4D" "00" "F9FFFFFF" "6162636465666768" "FEFFFFFF"},
        {Act('D', 1, "", 17), "44" "11000000"},
        {Act(0), "00"}};
    // clang-format on
    for (const auto& [action, hex] : cases) {
        SCOPED_TRACE(hex);
        const std::string bytes = Written(*action);
        EXPECT_EQ(kstest::Hex(bytes), hex);
        kstest::MemoryStream stream(bytes);
        ActionPtr read = KsRecordAction::Read(*table, stream);
        EXPECT_EQ(Describe(*read), Describe(*action));
        EXPECT_EQ(stream.Position(), bytes.size());
        EXPECT_EQ(Written(*action->Copy()), bytes);
        for (std::size_t size = 0; size < bytes.size(); ++size) {
            kstest::MemoryStream cut(bytes.substr(0, size));
            EXPECT_THROW(KsRecordAction::Read(*table, cut), KsException) << size;
        }
    }
    // A record whose table closed has no fields left to write or read: refused, not taken
    // as a record of no fields.
    ActionPtr orphan = Act('M');
    std::unique_ptr<KsFileRecord> record = table->GetNewRecord();
    table->Close();
    kstest::MemoryStream serial(std::string(9, '\0'));
    for (const auto& refused : {std::function<void()>([&] { Written(*orphan); }),
                                std::function<void()>([&] { record->RawSerialRead(serial); })}) {
        EXPECT_EQ(MessageOf(refused),
                  "The record's table has been closed or its fields have changed");
    }
    table = kstest::MakeActionTable(dir.File("t2.cbf"), 3);
    kstest::MemoryStream unknown("X");
    EXPECT_EQ(
        kstest::ErrorOf<KsRecordActionUnknown>([&] { KsRecordAction::Read(*table, unknown); }),
        "Cannot use file action of type 'X' (88) / KsRecordAction / Read() of KsRecordAction");
}

// Failures of a data step, of both parts of an undo step, and of the undo of a data step
// after a failing maintenance step; the inverses made without committing.
TEST_F(RecordActionTest, FailuresAndDelayedInverses) {
    for (auto [type, atomic, failure] : {std::tuple{'A', "Add", "delete failed"},
                                         {'P', "Append", "delete failed"},
                                         {'I', "Insert", "delete failed"},
                                         {'D', "Delete", "unknown error"},
                                         {'R', "Remove", "unknown error"}}) {
        table = kstest::MakeActionTable(dir.File(std::string(atomic) + ".cbf"), 3);
        table->failMaintenance = true;
        (failure[0] == 'd' ? table->failDelete : table->failInsert) = true;
        ActionPtr action = Act(type, type == 'A' ? 9 : 1, "n", 1);
        EXPECT_EQ(MessageOf([&] { action->PermanentCommit(*table); }),
                  "Atomic" + std::string(atomic) + "() rollback failed with message \"" + failure +
                      "\" for an original exception of \"maintenance failed\"");
    }
    table = kstest::MakeActionTable(dir.File("t2.cbf"), 3);
    EXPECT_EQ(kstest::ErrorOf<KsCommitFailure>([&] { Act('R', 99)->PermanentCommit(*table); }),
              "The removal of a record failed with message \"Keys not found in file\" / "
              "KsRecordAction / PermanentCommit() of KsRemoveAction");
    EXPECT_EQ(kstest::ErrorOf<KsRollbackFailure>([&] { Act('M')->GenerateInverse(*table); }),
              "Cannot perform delayed rollbacks on modifications; do not know the original value"
              " / KsModifyAction / GenerateInverse ( KsFile &theTable ) of KsModifyAction");
    EXPECT_EQ(Describe(*KsDeleteAction(3).GenerateInverse(*table)), "insert the record 3,r3, at 3");
    EXPECT_EQ(Describe(*Act('R', 2)->GenerateInverse(*table)), "insert the record 2,r2, at 2");
    EXPECT_EQ(Describe(*Act('R', 8, "")->GenerateInverse(*table)), "add the record 8,,");
    table->failInsert = true;
    EXPECT_EQ(MessageOf([&] { Act('I', 3, "x", 1)->Commit(*table); }),
              "The insertion of a record failed for an unknown reason");
    table->failInsert = false;
    EXPECT_EQ(Snapshot(*table), "1|r1;2|r2;3|r3; selected: 1 2 3");
    std::int32_t n = KsRecordAction::AtomicAppend(*table, *kstest::MakeRecord(*table, 7, "x"));
    table->failMaintenance = table->failDelete = true;
    EXPECT_EQ(MessageOf([&] { KsRecordAction::UndoAppend(*table, n); }),
              "(Could not UndoAppend() of indexes : \"maintenance failed\")"
              "(Could not UndoAppend() of record : \"delete failed\")");
    table->failDelete = false;
    table->failInsert = true;
    EXPECT_EQ(MessageOf([&] { KsRecordAction::UndoRemove(*table, 2, *table->GetNewRecord()); }),
              "(Could not UndoModify() of indexes : \"maintenance failed\")"
              "(Could not UndoRemove() of record : \"unknown error\")");
}

}  // namespace
