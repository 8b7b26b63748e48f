// kstable check and recover on damaged tables, through the real binary.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <regex>
#include <string>

#include "KstableRun.h"

namespace {

using kstest::ReadWholeFile;
using kstest::WriteWholeFile;

class KstableRecoverTest : public kstest::KstableRunTest {
protected:
    void SetUp() override {
        ASSERT_EQ(Run({"create", table, "id:I", "name:A4"}).status, 0);
        ASSERT_EQ(Run({"import", table, "-"}, "1,a\n2,b\n3,c\n").status, 0);
        ASSERT_EQ(Run({"index", table, "name"}).status, 0);
        ASSERT_EQ(Run({"apply", table, "-"}, "append,4,d\n").status, 0);
        records = Run({"export", table}).out;
    }
    // The log damaged: its list's head made to point between blocks.
    void DamageLog() {
        std::string log = ReadWholeFile(table + ".klg");
        log[24] = 0x21;
        for (int i = 25; i < 32; ++i) {
            log[static_cast<std::size_t>(i)] = 0;
        }
        WriteWholeFile(table + ".klg", log);
    }
    std::string records;
};

// Each kind of damage: what check prints (exit status 1), what recover says it did (exit 0),
// and then a table that check passes with every record as it was.
TEST_F(KstableRecoverTest, CheckReportsEachDamageAndRecoverMendsIt) {
    const std::string data = table + ".cbf", index = table + ".001", log = table + ".klg";
    const std::string sound = "\"" + data + "\": 4 records, header and 1 index file agree.\n";
    const std::string damagedLog = "List file \"" + log +
                                   "\" is damaged at offset 24: the link points to 33, which is "
                                   "not on a block boundary";
    struct Case {
        const char* what;
        std::function<void()> damage;
        std::string check;    // its problem lines
        std::string recover;  // its steps, before the check it ends with; "@" stands for the
                              // time that names the log set aside
    } cases[] = {
        {"a torn last record", [&] { WriteWholeFile(data, ReadWholeFile(data) + "xy"); },
         "\"" + data + "\": 2 bytes after the last whole record of 8 bytes\n",
         "Cut the 2 bytes of a torn last record from \"" + data + "\".\n"},
        {"a missing index file", [&] { std::filesystem::remove(index); },
         "\"" + index + "\": missing; the header marks field \"name\" indexed\n",
         "Rebuilt the index file \"" + index + "\" of field \"name\".\n"},
        {"a stale index file", [&] { WriteWholeFile(index, ReadWholeFile(index).substr(0, 20)); },
         "\"" + index + "\": Unable to perform a required read.*\n",
         "Rebuilt the index file \"" + index + "\" of field \"name\".\n"},
        {"an index file of a field not indexed",
         [&] { std::filesystem::copy_file(index, table + ".000"); },
         "\"" + table + ".000\": the header does not mark field \"id\" indexed\n",
         "Removed \"" + table +
             ".000\", the index file of field \"id\", which is not "
             "indexed.\n"},
        {"a damaged transaction log", [&] { DamageLog(); },
         "\"" + log + "\" cannot be used: " + damagedLog + "\n",
         "Set the damaged transaction log aside as \"" + log + ".damaged-@\" \\(" + damagedLog +
             "\\); a new one is started.\n"},
    };
    const std::string pristine = ReadWholeFile(data) + ReadWholeFile(index) + ReadWholeFile(log);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.damage();
        auto o = Run({"check", table});
        EXPECT_EQ(o.status, 1);
        EXPECT_TRUE(std::regex_match(o.out, std::regex(c.check))) << o.out;
        o = Run({"recover", table});
        EXPECT_EQ(o.status, 0) << o.err;
        auto literal = [](const std::string& text) {
            return std::regex_replace(text, std::regex("[.]"), "\\.");
        };
        const std::string steps =
            std::regex_replace(literal(c.recover), std::regex("@"), "[0-9]{17}");
        EXPECT_TRUE(std::regex_match(o.out, std::regex(steps + literal(sound)))) << o.out;
        EXPECT_EQ(Run({"check", table}).out, sound);
        EXPECT_EQ(Run({"export", table}).out, records);
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
            if (entry.path().string().find(".damaged-") != std::string::npos) {
                std::filesystem::remove(entry.path());
            }
        }
    }
}

// A command that cannot use the log names recover; recover leaves a damaged log alone while
// a commit cut short needs it, and says so.
TEST_F(KstableRecoverTest, ADamagedLogIsSetAsideOnlyWhenNoCommitNeedsIt) {
    DamageLog();
    auto o = Run({"apply", table, "-"}, "append,5,e\n");
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(o.err.ends_with("\n'kstable recover " + table + "' sets the damaged log aside.\n"))
        << o.err;
    const std::string inverse = dir.File("BC_t_20261208101010123.kbc");
    WriteWholeFile(inverse, "Inverses");
    const std::string damaged = ReadWholeFile(table + ".klg");
    o = Run({"recover", table});
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(o.err.find("and \"" + inverse +
                           "\" needs it to roll back a commit cut short: "
                           "the log is left as it is") != std::string::npos)
        << o.err;
    EXPECT_EQ(ReadWholeFile(table + ".klg"), damaged);
}

}  // namespace
