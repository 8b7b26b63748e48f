// kstable index, unindex, search and check through the real binary, and import and sort
// keeping index files in step.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "KstableRun.h"

namespace {

TEST(KstableIndexCommandLine, ReadsFieldsValuesAndSearchOptions) {
    CommandLine line = ParseCommandLine({"search", "--count", "t", "score", "2", "--to=5"});
    EXPECT_EQ(line.table + line.field + line.value + line.toValue, "tscore25");
    EXPECT_TRUE(line.hasTo && line.countOnly);
    EXPECT_EQ(ParseCommandLine({"index", "t", "f"}).field, "f");
    for (const std::vector<std::string>& bad : {std::vector<std::string>{"index", "t"},
                                                {"search", "t", "f"},
                                                {"check", "t", "x"},
                                                {"unindex", "--count", "t", "f"}}) {
        EXPECT_THROW(ParseCommandLine(bad), UsageError) << bad[0];
    }
}

class KstableIndexTest : public kstest::KstableRunTest {
protected:
    void SetUp() override {
        ASSERT_EQ(Run({"create", table, "name:A4", "score:N", "level:U"}).status, 0);
        ASSERT_EQ(Run({"import", table, "-"}, "ab,1,2\ncd,3,4\nab,5,6\nb,2,2\n").status, 0);
        ASSERT_EQ(
            Run({"index", table, "name"}).out,
            "Indexed field \"name\" of \"" + table + ".cbf\": 3 keys in \"" + table + ".000\".\n");
    }
};

TEST_F(KstableIndexTest, SearchesFindRecordsAndRangesIncludeBothEnds) {
    EXPECT_EQ(Run({"search", table, "name", "ab"}).out, "name,score,level\r\nab,1,2\r\nab,5,6\r\n");
    ASSERT_EQ(Run({"index", table, "score"}).status, 0);
    EXPECT_EQ(Run({"search", table, "score", "2", "--to", "5", "--count"}).out, "3\n");
    EXPECT_EQ(Run({"search", table, "name", "zz", "--count"}).out, "0\n");
    auto o = Run({"search", table, "level", "2"});
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find("field \"level\" is not indexed"), std::string::npos);
    o = Run({"search", table, "score", "1", "--to", "2x"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err,
              "kstable: field \"score\": \"2x\" is not a whole number from -2147483647 "
              "to 2147483647\n");
    EXPECT_EQ(Run({"check", table}).out,
              "\"" + table + ".cbf\": 4 records, header and 2 index files agree.\n");
    // Unindexing a field that is not indexed is a note, not an error.
    const std::string field = "Field \"score\" of \"" + table + ".cbf\"";
    for (const char* said : {" is no longer indexed.\n", " was not indexed; nothing changed.\n"}) {
        o = Run({"unindex", table, "score"});
        EXPECT_EQ(o.out + o.err, field + said);
        EXPECT_EQ(o.status, 0);
    }
    EXPECT_FALSE(std::filesystem::exists(table + ".001"));
    EXPECT_EQ(Run({"search", table, "score", "1"}).status, 2);
}

TEST_F(KstableIndexTest, ImportAndSortKeepIndexesInStepAndCheckReportsStaleFiles) {
    ASSERT_EQ(Run({"import", table, "-"}, "ab,9,9\n").status, 0);
    EXPECT_EQ(Run({"search", table, "name", "ab", "--count"}).out, "3\n");
    ASSERT_EQ(Run({"sort", table, "score:desc"}).status, 0);
    EXPECT_EQ(Run({"search", table, "name", "ab"}).out,
              "name,score,level\r\nab,9,9\r\nab,5,6\r\nab,1,2\r\n");
    EXPECT_EQ(Run({"check", table}).status, 0);
    // An index file of the same record count that no longer fits the records.
    std::string good = kstest::ReadWholeFile(table + ".000");
    ASSERT_EQ(Run({"sort", table, "score"}).status, 0);
    kstest::WriteWholeFile(table + ".000", good);
    auto o = Run({"check", table});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out,
              "\"" + table + ".000\": its keys or records differ from those of the records\n");
    kstest::WriteWholeFile(table + ".000", good.substr(0, 20));
    EXPECT_NE(Run({"check", table}).out.find("Unable to perform a required read"),
              std::string::npos);
    // A search never answers from a file it cannot trust: it builds the index instead.
    EXPECT_EQ(Run({"search", table, "name", "ab", "--count"}).out, "3\n");
    // A field marked indexed without its file, and a file of a field not marked indexed.
    std::filesystem::remove(table + ".000");
    kstest::WriteWholeFile(table + ".002", good);
    o = Run({"check", table});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "\"" + table + ".000\": missing; the header marks field \"name\" indexed\n\"" +
                         table + ".002\": the header does not mark field \"level\" indexed\n");
    EXPECT_EQ(Run({"unindex", table, "level"}).out,
              "Field \"level\" of \"" + table +
                  ".cbf\" was not indexed; deleted the stray index file \"" + table + ".002\".\n");
    EXPECT_FALSE(std::filesystem::exists(table + ".002"));
}

}  // namespace
