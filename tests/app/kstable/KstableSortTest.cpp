// kstable sort: its command line (its refusals are among the usage errors), and the real
// binary sorting, refusing and failing.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

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
    // Sizes from 512K to 1024G; 0 marks a refusal.
    const std::pair<const char*, std::uint64_t> sizes[] = {{"524288", 512u << 10},
                                                           {"512K", 512u << 10},
                                                           {"1023K", 1023u << 10},
                                                           {"3M", 3u << 20},
                                                           {"1G", 1u << 30},
                                                           {"1024G", 1ull << 40},
                                                           {"1099511627776", 1ull << 40},
                                                           {"524287", 0},
                                                           {"511K", 0},
                                                           {"64K", 0},
                                                           {"1025G", 0},
                                                           {"1099511627777", 0},
                                                           {"", 0},
                                                           {"K", 0},
                                                           {"-1M", 0},
                                                           {"1.5M", 0},
                                                           {"12Q", 0},
                                                           {"64k", 0}};
    for (const auto& [text, bytes] : sizes) {
        try {
            EXPECT_EQ(ParseMemorySize(text), bytes) << text;
        } catch (const UsageError& error) {
            EXPECT_EQ(bytes, 0u) << text;
            EXPECT_EQ(error.what(), "invalid memory size '" + std::string(text) +
                                        "'; use bytes or a number with K, M or G, from 512K to "
                                        "1024G");
        }
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

    o = Run({"sort", "--temp", temp, "--memory=512K", table + ".kss", "NAME", "n:desc"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out + "|" + o.err, "Sorted 6 records of \"" + table + ".cbf\".\n|");
    EXPECT_EQ(Run({"export", table}).out,
              "name,n,cents\r\nann,20,3.00\r\nann,-3,1.00\r\nbob,7,2.00\r\nbob,1,0.50\r\n"
              "bob,-2,5.00\r\nzed,-1,4.00\r\n");
    EXPECT_TRUE(NoLeftovers());
}

// Ctrl-C and the other signals are in KstableSignalTest.
TEST_F(KstableSortTest, AFailedSortSaysSoAndLeavesTheOldOrderAndNoTemporaryFile) {
    ASSERT_EQ(Run({"create", table, "n:U16", "m:W"}).status, 0);
    std::string csv;
    for (int i = 0; i < 100000; ++i) {
        csv += std::to_string((i * 7919LL) % 65536) + "," + std::to_string(i) + "\n";
    }
    ASSERT_EQ(Run({"import", table, "-"}, csv).status, 0);
    const std::string before = ReadWholeFile(table + ".cbf");
    // Files may grow to 200 kB (400 blocks): the sorted copy of 600 kB cannot be written.
    auto o = kstest::RunProgram(
        "/bin/sh",
        {"-c", "trap '' XFSZ; ulimit -f 400; exec " KSTABLE " sort --memory 512K --temp " + temp +
                   " " + table + " n m:desc"},
        dir.Path().string());
    EXPECT_EQ(o.status, 1);
    const std::string said = "\nkstable: nothing was sorted; \"" + table + ".cbf\" is as it was\n";
    EXPECT_TRUE(o.err.starts_with("kstable: ") && o.err.ends_with(said)) << o.err;
    EXPECT_EQ(ReadWholeFile(table + ".cbf"), before);
    EXPECT_TRUE(NoLeftovers());
}

}  // namespace
