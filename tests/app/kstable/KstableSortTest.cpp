// kstable sort: its command line (its refusals are among the usage errors), and the real
// binary sorting, refusing and being interrupted.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "CommandLine.h"
#include "KstableRun.h"
#include "files/TableTestSupport.h"

namespace {

using kstest::ReadWholeFile;

TEST(KstableSortCommandLine, ReadsFieldsOrdersAndMemorySizes) {
    CommandLine line =
        ParseCommandLine({"sort", "--temp=/var/tmp", "t", "name", "n:desc", "m:asc"});
    std::string fields;
    for (const auto& field : line.sortFields) {
        fields += field.name + (field.descending ? "- " : "+ ");
    }
    EXPECT_EQ(line.table + ":" + fields + line.tempDirectory, "t:name+ n- m+ /var/tmp");
    EXPECT_EQ(line.memory, 64u << 20);  // the default
    EXPECT_EQ(ParseCommandLine({"sort", "--memory", "2M", "t", "a"}).memory, 2u << 20);
    EXPECT_EQ(ParseMemorySize("1048576") + ParseMemorySize("1024K"), 2u << 20);
    EXPECT_EQ(ParseMemorySize("1024G"), 1ull << 40);
    for (const char* bad : {"1048575", "1023K", "1025G", "", "M", "-1M", "1.5M", "12Q"}) {
        EXPECT_THROW(ParseMemorySize(bad), UsageError) << bad;
    }
}

class KstableSortTest : public kstest::KstableRunTest {
protected:
    std::string temp = dir.File("tmp");

    KstableSortTest() { std::filesystem::create_directory(temp); }
    // No file of the sort's is left in the table's folder or the temporary one.
    bool NoLeftovers() const {
        return kstest::SortLeftovers(dir.Path()) + kstest::SortLeftovers(temp) == 0;
    }
};

TEST_F(KstableSortTest, SortsByFieldsInTurnAndRefusesWhatItCannotDo) {
    ASSERT_EQ(Run({"create", table, "name:A3", "n:I", "cents:N/100"}).status, 0);
    const std::string csv = "bob,1,0.5\nann,-3,1\nbob,7,2\nann,20,3\nzed,-1,4\nbob,-2,5\n";
    ASSERT_EQ(Run({"import", table, "-"}, csv).status, 0);
    const std::string before = ReadWholeFile(table + ".cbf");
    auto o = Run({"sort", table, "name", "age"});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err, "kstable: no field \"age\" in \"" + table +
                         ".cbf\"\nTry 'kstable --help' for more information.\n");
    o = Run({"sort", "--temp", dir.File("missing"), table, "name"});
    EXPECT_EQ(o.err, "kstable: no folder \"" + dir.File("missing") + "\" for temporary files\n");
    EXPECT_EQ(ReadWholeFile(table + ".cbf"), before);

    o = Run({"sort", "--temp", temp, "--memory=1M", table + ".kss", "NAME", "n:desc"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out + "|" + o.err, "Sorted 6 records of \"" + table + ".cbf\".\n|");
    EXPECT_EQ(Run({"export", table}).out,
              "name,n,cents\r\nann,20,3.00\r\nann,-3,1.00\r\nbob,7,2.00\r\nbob,1,0.50\r\n"
              "bob,-2,5.00\r\nzed,-1,4.00\r\n");
    EXPECT_TRUE(NoLeftovers());
}

TEST_F(KstableSortTest, CtrlCDuringASortLeavesTheOldOrderAndNoTemporaryFile) {
    ASSERT_EQ(Run({"create", table, "n:U16", "m:W"}).status, 0);
    std::string csv;
    for (int i = 0; i < 400000; ++i) {
        csv += std::to_string((i * 7919LL) % 65536) + "," + std::to_string(i) + "\n";
    }
    ASSERT_EQ(Run({"import", table, "-"}, csv).status, 0);
    const std::string before = ReadWholeFile(table + ".cbf");
    const pid_t pid = kstest::StartProgram(
        KSTABLE, {"sort", "--memory", "1M", "--temp", temp, table, "n", "m:desc"}, dir.File("out"),
        dir.File("err"));
    // Interrupted as soon as its first run file appears.
    for (int i = 0; i < 5000 && NoLeftovers(); ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    kill(pid, SIGINT);
    EXPECT_EQ(kstest::FinishProgram(pid), 130);
    EXPECT_EQ(ReadWholeFile(dir.File("out")), "");
    EXPECT_EQ(ReadWholeFile(table + ".cbf"), before);
    EXPECT_TRUE(NoLeftovers());
}

}  // namespace
