#include "InputChecks.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "TempDir.h"

namespace {

const char* const kInput = "Please enter a valid input file name.";
const char* const kOutput = "Please enter a valid output file name.";
const char* const kHeader = "Please enter a valid scanner header length.";
const char* const kSame = "You cannot choose the same file name for the input and the output.";

class InputChecksTest : public ::testing::Test {
protected:
    kstest::TempDir dir;
    std::string in = dir.File("data.csv");

    void SetUp() override { kstest::WriteWholeFile(in, "a,b\n"); }

    std::string Check(const std::string& input, const std::string& output, bool insert = true,
                      const std::string& size = "50") {
        auto warning = CheckConversionInputs({input, output, insert, size});
        return warning ? *warning : "";
    }
};

TEST_F(InputChecksTest, ChecksRunInOrderAndOnlyTheFirstFailureShows) {
    EXPECT_EQ(Check("", "", true, ""), kInput);
    EXPECT_EQ(Check(dir.File("missing.csv"), ""), kInput);
    EXPECT_EQ(Check(dir.Path().string(), dir.File("o")), kInput);  // a folder is no input file
    EXPECT_EQ(Check(in, "", true, ""), kOutput);
    EXPECT_EQ(Check(in, dir.File("out.txt"), true, ""), kHeader);
    EXPECT_EQ(Check(in, in, true, ""), kHeader);
    EXPECT_EQ(Check(in, in), kSame);
    EXPECT_EQ(Check(in, dir.File("out.txt")), "");
}

TEST_F(InputChecksTest, HeaderSizeIsOneOrTwoDigitsWhenInserting) {
    std::string out = dir.File("out.txt");
    EXPECT_EQ(Check(in, out, true, "0"), "");
    EXPECT_EQ(Check(in, out, true, "99"), "");
    EXPECT_EQ(Check(in, out, true, "100"), kHeader);
    EXPECT_EQ(Check(in, out, true, "5x"), kHeader);
    EXPECT_EQ(Check(in, out, true, "-1"), kHeader);
    EXPECT_EQ(Check(in, out, false, ""), "");
    EXPECT_EQ(Check(in, out, false, "abc"), "");
    EXPECT_EQ(ParseHeaderSize({in, out, true, "07"}), 7u);
    EXPECT_EQ(ParseHeaderSize({in, out, false, "50"}), 0u);
}

TEST_F(InputChecksTest, InputExistsOnlyUnderItsOwnLetterCase) {
    EXPECT_EQ(Check(dir.File("DATA.CSV"), dir.File("out.txt")), kInput);
}

TEST_F(InputChecksTest, EverySpellingOfTheInputIsRefusedAsOutput) {
    EXPECT_EQ(Check(in, dir.File("DATA.csv")), kSame);  // differs only in case
    EXPECT_EQ(Check(in, dir.File("sub/../data.csv")), kSame);
    std::filesystem::create_hard_link(in, dir.File("hard.csv"));
    EXPECT_EQ(Check(in, dir.File("hard.csv")), kSame);
    std::filesystem::create_symlink(in, dir.File("soft.csv"));
    EXPECT_EQ(Check(in, dir.File("soft.csv")), kSame);
    EXPECT_EQ(Check(dir.File("soft.csv"), in), kSame);

    // A relative name is resolved against the current directory.
    std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    EXPECT_EQ(Check("data.csv", in), kSame);
    EXPECT_EQ(Check("./data.csv", "out.txt"), "");
    std::filesystem::current_path(previous);
}

}  // namespace
