// Runs the real kstable binary for apply and log: a file of changes committed as one
// transaction, a failing one undone, and a commit cut short rolled back by the next command.

#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include "../../io/ChildProcess.h"
#include "files/CBFFile.h"
#include "progress/KsProgressInterface.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"
#include "txn/KsInstallTransactions.h"
#include "txn/KsTransactionNew.h"

namespace {

class KstableApply : public ::testing::Test {
protected:
    kstest::TempDir dir;
    std::string table = dir.File("t");

    KstableApply() {
        EXPECT_EQ(Run({"create", table, "id:I", "name:A4"}).status, 0);
        EXPECT_EQ(Run({"import", table, "-"}, "1,a\n2,b\n3,c\n").status, 0);
    }
    kstest::ProgramOutcome Run(std::vector<std::string> args, const std::string& input = "") {
        kstest::WriteWholeFile(dir.File("stdin"), input);
        return kstest::RunProgram(KSTABLE, args, dir.Path().string(), dir.File("stdin"));
    }
    // The log's lines without their identities.
    std::string Log() {
        std::string out = Run({"log", table}).out;
        return std::regex_replace(out.substr(out.find('\n') + 1), std::regex("(^|\n)\\d{17}\t"),
                                  "$1");
    }
};

TEST_F(KstableApply, ChangesCommitTogetherOrNotAtAll) {
    auto o = Run({"apply", table, "-"}, "append,4,d\nmodify,1,9,z\ndelete,2\ninsert,1,0,new\n");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "Applied 4 changes to \"" + table + ".cbf\" as one transaction.\n");
    EXPECT_EQ(Run({"export", table}).out, "id,name\r\n0,new\r\n9,z\r\n3,c\r\n4,d\r\n");

    const std::string before = kstest::ReadWholeFile(table + ".cbf");
    struct Row {
        std::string input;
        std::string message;
    };
    const Row rows[] = {
        {"append,5,e\nmodify,9,1,x\n",
         "kstable: The commit failed because \"The modification of a record failed with message "
         "\"Record 9 is not in the range [1, 5] of \"" + table + ".cbf\"\"\"\n"},
        {"append,5,e\nmove,1\n",
         "kstable: line 2: unknown change \"move\" (append, insert, modify or delete)\n"},
        {"delete,x\n", "kstable: line 1: \"x\" is no record number\n"},
        {"append,5,toolong\n",
         "kstable: line 1, field \"name\": \"toolong\" is longer than the field's 4 bytes\n"},
    };
    for (const Row& row : rows) {
        o = Run({"apply", "--no-sync", table, "-"}, row.input);
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.err, row.message + "kstable: every change was rolled back; \"" + table +
                             ".cbf\" is as it was\n");
        EXPECT_EQ(kstest::ReadWholeFile(table + ".cbf"), before);
    }
    // Newest first: the too long value, the bad number, the unknown change, the failed modify.
    EXPECT_EQ(Log(),
              "Rolled Back\t0\tkstable apply -\t0\n"
              "Rolled Back\t0\tkstable apply -\t0\n"
              "Rolled Back\t0\tkstable apply -\t1\n"
              "Rolled Back\t0\tkstable apply -\t2\n"
              "Committed\t0\tkstable apply -\t4\n");
}

TEST_F(KstableApply, ACommitCutShortIsRolledBackByTheNextCommand) {
    int status = kstest::RunInChild([&] {
        KsInstallTransactions();
        CBFFile open;
        open.Open((table + ".cbf").c_str(), IO_READ | IO_WRITE);
        KsTransactionNew transaction(open, 7, "cut short");
        KsDeleteAction first(1);
        KsDeleteAction second(1);
        transaction.AddAction(open, first);
        transaction.AddAction(open, second);
        struct Dying : KsProgressInterface {
            void StepBy(std::int32_t) override { _exit(42); }
        } dying;
        transaction.Commit(dying);
        return 0;
    });
    ASSERT_EQ(status, 42);
    auto o = Run({"export", table});
    EXPECT_EQ(o.out, "id,name\r\n1,a\r\n2,b\r\n3,c\r\n");
    EXPECT_NE(o.err.find("kstable: rolled back transaction "), std::string::npos) << o.err;
    EXPECT_NE(o.err.find(" of \"" + table + ".cbf\", whose commit was cut short\n"),
              std::string::npos);
    EXPECT_EQ(Log(), "Rolled Back\t7\tcut short\t2\n");
}

}  // namespace
