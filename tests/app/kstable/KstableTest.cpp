// Runs the real kstable binary: create, import, info and export in turn, the exit statuses
// and messages of its failures (numbers out of range, counts, folders), and what an import
// that fails leaves behind: nothing.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "KstableRun.h"

namespace {

using kstest::ReadWholeFile;
using kstest::WriteWholeFile;

const std::vector<std::string> kEveryType = {"name:A8",     "raw:Y2",   "whole:N", "cents:N/100",
                                             "quarter:N/4", "long:I",   "ulong:W", "short:S",
                                             "tiny:S3",     "ushort:U", "small:U5"};

// Both files of the table "t", to compare before and after.
struct TableBytes {
    std::string header, data;
    bool operator==(const TableBytes&) const = default;
};

class KstableTest : public kstest::KstableRunTest {
protected:
    void Create(const std::vector<std::string>& fields) {
        std::vector<std::string> args{"create", table};
        args.insert(args.end(), fields.begin(), fields.end());
        ASSERT_EQ(Run(args).status, 0);
    }
    TableBytes Bytes() { return {ReadWholeFile(table + ".kss"), ReadWholeFile(table + ".cbf")}; }
};

TEST_F(KstableTest, CreateImportInfoExportRoundTripEveryType) {
    std::vector<std::string> args{"create", "--title", "Every type", table + ".kss"};
    args.insert(args.end(), kEveryType.begin(), kEveryType.end());
    auto o = Run(args);
    EXPECT_EQ(o.out, "Created \"" + table + ".kss\" and \"" + table +
                         ".cbf\": 11 fields, 36 bytes a record.\n");
    const std::string csv =
        "name,raw,whole,cents,quarter,long,ulong,short,tiny,ushort,small\r\n"
        "\"a,\"\"b\"\"\",00FF,-2147483647,-21474836.47,0.25,-2147483648,4294967295,32767,7,"
        "65535,31\r\n"
        "\"two\nline\",,0,0.29,-0.75,2147483647,0,0,0,0,0\r\n"
        "12345678,abcd,2147483647,21474836.47,536870911.75,0,1,1,1,1,1\r\n";
    o = Run({"import", "--header", table + ".cbf", "-"}, csv);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "Imported 3 records into \"" + table + ".cbf\", which now holds 3.\n");
    o = Run({"info", table});
    EXPECT_EQ(o.out,
              "File type:      TARN Compressed Binary File\n"
              "Title:          Every type\n"
              "Records:        3\n"
              "Record length:  36 bytes\n"
              "Fields:         11\n\n"
              "    #  Name     Type  Length  Offset  Bit  Bits  Divisor\n"
              "    0  name     A          8      26    0    64        1\n"
              "    1  raw      Y          2      34    0    16        0\n"
              "    2  whole    N          4       0    0    32        1\n"
              "    3  cents    N          4       4    0    32      100\n"
              "    4  quarter  N          4       8    0    32        4\n"
              "    5  long     I          4      18    0    32        0\n"
              "    6  ulong    W          4      22    0    32        0\n"
              "    7  short    S          2      12    1    16        0\n"
              "    8  tiny     S          2      16    6     3        0\n"
              "    9  ushort   U          2      14    1    16        0\n"
              "   10  small    U          2      16    1     5        0\n");
    // An empty value stores the field's zero; the rest comes back as it went in.
    std::string expected = csv;
    expected.replace(expected.find(",,0,"), 4, ",0000,0,");
    expected.replace(expected.find("abcd"), 4, "ABCD");
    EXPECT_EQ(Run({"export", table}).out, expected);
    o = Run({"export", "--fields", "SMALL,name", "--records", "2-3", table});
    EXPECT_EQ(o.out, "small,name\r\n0,\"two\nline\"\r\n1,12345678\r\n");
    EXPECT_EQ(o.status, 0);
}

TEST_F(KstableTest, AFailedImportLeavesBothFilesAsTheyWere) {
    Create({"a:A3", "n:N/10", "u:U3", "y:Y1"});
    ASSERT_EQ(Run({"import", table, "-"}, "old,1.5,7,FF\n").status, 0);
    const TableBytes before = Bytes();
    const std::string good = "abc,0.10,1,00\n";
    const std::pair<std::string, std::string> cases[] = {
        {"abcd,1,1,00", "line 3, field \"a\": \"abcd\" is longer than the field's 3 bytes"},
        {"a,1.25,1,00", "line 3, field \"n\": \"1.25\" has more decimals than the field's 1"},
        {"a,x,1,00",
         "line 3, field \"n\": \"x\" is not a number with 1 decimal from -214748364.7 to "
         "214748364.7"},
        {"a,1,1,0102", "line 3, field \"y\": \"0102\" holds more than the field's 1 byte"},
        {"a,1,1", "line 3: 3 values, but the table has 4 fields"},
        {"a", "line 3: 1 value, but the table has 4 fields"},
        {"a,\"1,1,00", "line 3: a quoted value is not closed before the end of the input"},
    };
    for (const auto& [bad, message] : cases) {
        auto o = Run({"import", table, "-"}, good + good + bad + "\n" + good);
        EXPECT_EQ(o.status, 1) << bad;
        EXPECT_EQ(o.err, "kstable: " + message + "\nkstable: nothing was imported; \"" + table +
                             ".cbf\" is as it was\n");
        EXPECT_TRUE(Bytes() == before) << bad;
    }
}

TEST_F(KstableTest, ANumberOutsideItsFieldIsRefusedWithTheRangeInWords) {
    const std::vector<std::string> fields = {"long:I",      "ulong:W",    "short:S", "tiny:S3",
                                             "ushort:U",    "small:U5",   "whole:N", "tenth:N/10",
                                             "cents:N/100", "quarter:N/4"};
    Create(fields);
    const std::string whole = "a whole number from ";
    const std::string longs = whole + "-2147483648 to 2147483647";
    const std::string cents = "a number with 2 decimals from -21474836.47 to 21474836.47";
    const struct {
        std::size_t field;
        std::string text, range;
    } rows[] = {
        {0, "2147483648", longs},
        {0, "-2147483649", longs},
        {0, "1.5", longs},
        {1, "-1", whole + "0 to 4294967295"},
        {1, "4294967296", whole + "0 to 4294967295"},
        {2, "32768", whole + "0 to 32767"},
        {2, "-1", whole + "0 to 32767"},
        {3, "8", whole + "0 to 7"},
        {4, "65536", whole + "0 to 65535"},
        {4, "x", whole + "0 to 65535"},
        {5, "32", whole + "0 to 31"},
        {6, "-2147483648", whole + "-2147483647 to 2147483647"},
        {7, "214748364.8", "a number with 1 decimal from -214748364.7 to 214748364.7"},
        {8, "-21474836.48", cents},
        {8, "ten", cents},
        {9, "536870912", "a number in steps of 1/4 from -536870911.75 to 536870911.75"},
    };
    for (const auto& row : rows) {
        std::vector<std::string> values(fields.size(), "0");
        values[row.field] = row.text;
        std::string line;
        for (const std::string& value : values) {
            line += (line.empty() ? "" : ",") + value;
        }
        const std::string name = fields[row.field].substr(0, fields[row.field].find(':'));
        auto o = Run({"import", table, "-"}, line + "\n");
        EXPECT_EQ(o.status, 1) << line;
        EXPECT_EQ(o.err, "kstable: line 1, field \"" + name + "\": \"" + row.text + "\" is not " +
                             row.range + "\nkstable: nothing was imported; \"" + table +
                             ".cbf\" is as it was\n");
    }
    // The ends of the ranges fit.
    auto o = Run({"import", table, "-"},
                 "-2147483648,4294967295,32767,7,65535,31,-2147483647,214748364.7,-21474836.47,"
                 "536870911.75\n");
    EXPECT_EQ(o.status, 0) << o.err;
}

TEST_F(KstableTest, CountsOfOneAreSingular) {
    std::vector<std::string> outs;
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"create", table, "a:A1"},
                                               {"import", table, "-"},
                                               {"index", table, "a"},
                                               {"check", table}}) {
        outs.push_back(Run(args, "x\n").out);
    }
    EXPECT_EQ(
        outs,
        (std::vector<std::string>{
            "Created \"" + table + ".kss\" and \"" + table + ".cbf\": 1 field, 1 byte a record.\n",
            "Imported 1 record into \"" + table + ".cbf\", which now holds 1.\n",
            "Indexed field \"a\" of \"" + table + ".cbf\": 1 key in \"" + table + ".000\".\n",
            "\"" + table + ".cbf\": 1 record, header and 1 index file agree.\n"}));
    EXPECT_NE(Run({"info", table}).out.find("\nRecord length:  1 byte\n"), std::string::npos);
    const std::pair<std::string, std::string> refusals[] = {
        {"ab\n", "line 1, field \"a\": \"ab\" is longer than the field's 1 byte"},
        {"x,y\n", "line 1: 2 values, but the table has 1 field"}};
    for (const auto& [input, message] : refusals) {
        EXPECT_EQ(Run({"import", table, "-"}, input).err,
                  "kstable: " + message + "\nkstable: nothing was imported; \"" + table +
                      ".cbf\" is as it was\n");
    }
}

TEST_F(KstableTest, AByteOrderMarkBeforeTheFirstLineIsNoData) {
    Create({"id:I", "name:A4"});
    const std::string mark = "\xEF\xBB\xBF";
    EXPECT_EQ(Run({"import", table, "-"}, mark + "9,a\n").status, 0);
    EXPECT_EQ(Run({"import", "--header", table, "-"}, mark + "id,name\r\n8,b\r\n").status, 0);
    EXPECT_EQ(Run({"import", table, "-"}, "7," + mark + "c\n").status, 0);  // data elsewhere
    EXPECT_EQ(Run({"export", table}).out, "id,name\r\n9,a\r\n8,b\r\n7," + mark + "c\r\n");
}

TEST_F(KstableTest, AFullDiskDuringAnImportLeavesTheTableAsItWas) {
    Create({"a:A100"});
    ASSERT_EQ(Run({"import", table, "-"}, "kept\n").status, 0);
    const TableBytes before = Bytes();
    std::string csv;
    for (int i = 0; i < 5000; ++i) {
        csv += "record " + std::to_string(i) + "\n";
    }
    WriteWholeFile(dir.File("big.csv"), csv);
    // Files may grow to 100 kB (200 blocks): the data file fills up after 1000 records.
    auto o = kstest::RunProgram("/bin/sh",
                                {"-c", "trap '' XFSZ; ulimit -f 200; exec " KSTABLE " import " +
                                           table + " " + dir.File("big.csv")},
                                dir.Path().string());
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("kstable: nothing was imported"), std::string::npos) << o.err;
    EXPECT_TRUE(Bytes() == before);
}

TEST_F(KstableTest, ImportAndExportGoABatchOfRecordsAtATimeAndStayAllOrNothing) {
    Create({"n:I"});  // records of 4 bytes: 262144 to a batch of a megabyte
    std::string csv = "n\n";
    std::string exported = "n\r\n";
    for (int i = 1; i <= 300000; ++i) {
        csv += std::to_string(i) + "\n";
        exported += std::to_string(i) + "\r\n";
    }
    WriteWholeFile(dir.File("in.csv"), csv);
    auto o = Run({"import", "--header", table, dir.File("in.csv")});
    EXPECT_EQ(o.out,
              "Imported 300000 records into \"" + table + ".cbf\", which now holds 300000.\n");
    EXPECT_EQ(Run({"export", table}).out, exported);
    EXPECT_EQ(Run({"export", "--records", "262143-262146", table}).out,
              "n\r\n262143\r\n262144\r\n262145\r\n262146\r\n");
    // The first batch is in the data file when the bad value comes.
    const TableBytes before = Bytes();
    WriteWholeFile(dir.File("bad.csv"), csv + "x\n");
    o = Run({"import", "--header", table, dir.File("bad.csv")});
    EXPECT_EQ(o.err,
              "kstable: line 300002, field \"n\": \"x\" is not a whole number from -2147483648 to "
              "2147483647\nkstable: nothing was imported; \"" +
                  table + ".cbf\" is as it was\n");
    EXPECT_TRUE(Bytes() == before);
}

TEST_F(KstableTest, ExtraBytesAreReportedAndDroppedByTheNextImport) {
    Create({"n:U16"});
    ASSERT_EQ(Run({"import", table, "-"}, "1\n2\n").status, 0);
    WriteWholeFile(table + ".cbf", ReadWholeFile(table + ".cbf") + "x");
    EXPECT_NE(
        Run({"info", table})
            .out.find("Records:        2\nRecord length:  2 bytes\n"
                      "Extra bytes:    1 after the last whole record (not part of the table)\n"),
        std::string::npos);
    EXPECT_EQ(Run({"export", table}).out, "n\r\n1\r\n2\r\n");
    auto o = Run({"import", table, "-"}, "");  // nothing to append: only the cut
    EXPECT_EQ(o.err,
              "kstable: removed 1 byte after the last whole record of \"" + table + ".cbf\"\n");
    EXPECT_EQ(ReadWholeFile(table + ".cbf"), std::string("\0\1\0\2", 4));
}

TEST_F(KstableTest, UsageErrorsAndMissingFilesExitWithTwo) {
    Create({"n:N"});
    ASSERT_EQ(Run({"import", table, "-"}, "1\n").status, 0);
    std::filesystem::create_directory(dir.File("folder.cbf"));
    const std::string hint = "\nTry 'kstable --help' for more information.\n";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"import", table, dir.File("folder.cbf")},
         "\"" + dir.File("folder.cbf") + "\" is a folder, not a file\n"},
        {{"apply", table, "."}, "\".\" is a folder, not a file\n"},
        {{"info", dir.File("folder")},
         "\"" + dir.File("folder.cbf") + "\" is a folder, not a file\n"},
        {{"info", dir.File("none")},
         "no table \"" + dir.File("none") + ".cbf\": No such file or directory\n"},
        {{"import", table, dir.File("none.csv")},
         "cannot read \"" + dir.File("none.csv") + "\": No such file or directory\n"},
        {{"export", "--fields", "n,m", table}, "no field \"m\" in \"" + table + ".cbf\"" + hint},
        {{"export", "--records", "1-2", table},
         "records 1-2: \"" + table + ".cbf\" holds 1 record" + hint},
    };
    for (const auto& [args, message] : cases) {
        auto o = Run(args);
        EXPECT_EQ(o.status, 2);
        EXPECT_EQ(o.err, "kstable: " + message);
    }
    const TableBytes before = Bytes();
    auto o = Run({"create", table, "other:A1"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "kstable: Header file \"" + table + ".kss\" already exists\n");
    EXPECT_TRUE(Bytes() == before);
    EXPECT_EQ(Run({"--help"}).out.rfind("Usage: kstable COMMAND", 0), 0u);
    EXPECT_EQ(Run({"--version"}).out, "kstable (Kestrel table tool) 1.0\nKestrel 5.41.1.0\n");
}

}  // namespace
