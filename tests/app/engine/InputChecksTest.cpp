#include "InputChecks.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/TempDir.h"

namespace {

const char* const kInput = "Please enter a valid input file name.";
const char* const kOutput = "Please enter a valid output file name.";
const char* const kHeader = "Please enter a valid scanner header length.";
const char* const kSame = "You cannot choose the same file name for the input and the output.";

TEST(InputChecksTest, ChecksRunInOrderAndOnlyTheFirstFailureShows) {
    kstest::TempDir dir;
    const std::string in = dir.File("data.csv");
    const std::string out = dir.File("out.txt");
    kstest::WriteWholeFile(in, "a,b\n");
    std::filesystem::create_hard_link(in, dir.File("hard.csv"));
    std::filesystem::create_symlink(in, dir.File("soft.csv"));
    struct Case {
        std::string input, output;
        bool insert;
        std::string size;
        std::string warning;
    };
    for (const Case& c : {
             Case{"", "", true, "", kInput},
             Case{dir.File("missing.csv"), "", true, "50", kInput},
             Case{dir.File("DATA.CSV"), out, true, "50", kInput},  // only under its own case
             Case{dir.Path().string(), out, true, "50", kInput},   // a folder is no input file
             Case{in, "", true, "", kOutput},
             Case{in, out, true, "", kHeader},
             Case{in, in, true, "", kHeader},
             Case{in, in, true, "50", kSame},
             Case{in, dir.File("sub/../DATA.csv"), true, "50", kSame},
             Case{in, dir.File("hard.csv"), true, "50", kSame},
             Case{dir.File("soft.csv"), in, true, "50", kSame},
             Case{in, out, true, "50", ""},
             Case{in, out, true, "0", ""},
             Case{in, out, true, "99", ""},
             Case{in, out, true, "100", kHeader},
             Case{in, out, true, "5x", kHeader},
             Case{in, out, true, "-1", kHeader},
             Case{in, out, false, "", ""},
             Case{in, out, false, "abc", ""},
         }) {
        auto warning = CheckConversionInputs({c.input, c.output, c.insert, c.size});
        EXPECT_EQ(warning.value_or(""), c.warning) << c.input << " " << c.output << " " << c.size;
    }
    EXPECT_EQ(ParseHeaderSize({in, out, true, "07"}), 7u);
    EXPECT_EQ(ParseHeaderSize({in, out, false, "50"}), 0u);
}

}  // namespace
