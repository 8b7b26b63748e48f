// Runs the real kstable binary for apply and log: a file of changes committed as one
// transaction, faulty ones refused whole, and a commit cut short rolled back by the next
// command.

#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include "KstableRun.h"
#include "files/CBFFile.h"
#include "progress/KsProgressInterface.h"
#include "support/ChildProcess.h"
#include "txn/KsInstallTransactions.h"
#include "txn/KsTransactionNew.h"

namespace {

using KstableApply = kstest::KstableRunTest;

TEST_F(KstableApply, ChangesCommitTogetherOrNotAtAll) {
    const std::string file = table + ".cbf";
    ASSERT_EQ(Run({"create", table, "id:I", "name:A4"}).status, 0);
    ASSERT_EQ(Run({"import", table, "-"}, "1,a\n2,b\n3,c\n").status, 0);
    auto o = Run({"apply", table, "-"}, "append,4,d\nmodify,1,9,z\ndelete,2\ninsert,1,0,new\n");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "Applied 4 changes to \"" + file + "\" as one transaction.\n");
    EXPECT_EQ(Run({"export", table}).out, "id,name\r\n0,new\r\n9,z\r\n3,c\r\n4,d\r\n");
    const std::pair<std::string, std::string> rows[] = {
        {"append,5,e\nmove,1\n",
         "line 2: unknown change \"move\" (append, insert, modify or delete)"},
        {"delete,x\n", "line 1: \"x\" is no record number"},
        {"append,5,toolong\n",
         "line 1, field \"name\": \"toolong\" is longer than the field's 4 bytes"},
        // A change that fails in the commit is named by the line it starts on.
        {"append,5,e\ndelete,9\n",
         "line 2: the deletion of a record failed: Record 9 is not in the range [1, 5] of \"" +
             file + "\""},
        {"append,5,\"e\nf\"\nmodify,7,1,x\n",
         "line 3: the modification of a record failed: Record 7 is not in the range [1, 5] of \"" +
             file + "\""},
    };
    for (const auto& [input, message] : rows) {
        o = Run({"apply", "--no-sync", table, "-"}, input);
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.err, "kstable: " + message + "\nkstable: every change was rolled back; \"" +
                             file + "\" is as it was\n");
    }
    // A commit cut short is rolled back by the next command, which says so.
    ASSERT_EQ(kstest::RunInChild([&] {
                  KsInstallTransactions();
                  CBFFile open;
                  open.Open(file.c_str(), IO_READ | IO_WRITE);
                  KsTransactionNew transaction(open, 7, "cut short");
                  KsDeleteAction first(1);
                  transaction.AddAction(open, first);
                  struct Dying : KsProgressInterface {
                      void StepBy(std::int32_t) override { _exit(42); }
                  } dying;
                  transaction.Commit(dying);
                  return 0;
              }),
              42);
    o = Run({"log", table});
    EXPECT_EQ(
        std::regex_replace(o.err, std::regex("\\d{17}"), "ID"),
        "kstable: rolled back transaction ID of \"" + file + "\", whose commit was cut short\n");
    // Newest first, without identities: the cut commit, the two failed commits, the too long
    // value, the bad number, the unknown change, the changes committed.
    EXPECT_EQ(std::regex_replace(o.out, std::regex("\\d{17}\t"), ""),
              "IDENTITY\tSTATUS\tNUMBER\tDESCRIPTION\tACTIONS\n"
              "Rolled Back\t7\tcut short\t1\n"
              "Rolled Back\t0\tkstable apply -\t2\n"
              "Rolled Back\t0\tkstable apply -\t2\n"
              "Rolled Back\t0\tkstable apply -\t0\n"
              "Rolled Back\t0\tkstable apply -\t0\n"
              "Rolled Back\t0\tkstable apply -\t1\n"
              "Committed\t0\tkstable apply -\t4\n");
}

}  // namespace
