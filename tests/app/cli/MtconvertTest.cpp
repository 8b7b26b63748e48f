// Runs the real mtconvert binary and checks its exit status, its two output streams and
// the files it leaves behind.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/ScopedCurrentDirectory.h"
#include "support/TempDir.h"

namespace {

using kstest::ReadWholeFile;
using kstest::WriteWholeFile;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

class MtconvertTest : public ::testing::Test {
protected:
    kstest::TempDir dir;
    std::string in = dir.File("in.csv");
    std::string out = dir.File("out.txt");

    // Runs mtconvert with `args`; standard input comes from the file `stdinFile` (or /dev/null).
    Outcome Run(const std::vector<std::string>& args, const std::string& stdinFile = "/dev/null") {
        std::string outFile = dir.File(".stdout");
        std::string errFile = dir.File(".stderr");
        pid_t pid = fork();
        if (pid == 0) {
            int input = open(stdinFile.c_str(), O_RDONLY);
            int output = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            int error = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(input, 0);
            dup2(output, 1);
            dup2(error, 2);
            std::vector<char*> argv{const_cast<char*>(MTCONVERT)};
            for (const std::string& arg : args) {
                argv.push_back(const_cast<char*>(arg.c_str()));
            }
            argv.push_back(nullptr);
            execv(MTCONVERT, argv.data());
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        Outcome outcome;
        outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
        outcome.out = ReadWholeFile(outFile);
        outcome.err = ReadWholeFile(errFile);
        return outcome;
    }
};

TEST_F(MtconvertTest, ConvertsTheBundledExampleWithTheWindowsDefaults) {
    Outcome o = Run({EXAMPLES_DIR "/questionnaire.csv", out});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, "File converted.\nAll records are now length 91\n");
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(ReadWholeFile(out), ReadWholeFile(EXAMPLES_DIR "/questionnaire.expected.txt"));
}

TEST_F(MtconvertTest, OptionsChangeHeaderLineAndHeaderField) {
    WriteWholeFile(in, "a,b\r\nc,d\r\n");
    Outcome o = Run({"--keep-header", "--header-size", "3", in, out});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(ReadWholeFile(out), "   ab\n   cd\n");
    o = Run({"--no-header-field", "--header-size=", in, out});  // the size is then not used
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(ReadWholeFile(out), "cd\n");
    EXPECT_EQ(o.out, "File converted.\nAll records are now length 2\n");
}

TEST_F(MtconvertTest, InputCheckFailuresExitWithTwoAndTouchNothing) {
    WriteWholeFile(in, "a,b\n");
    WriteWholeFile(out, "keep me");
    Outcome o = Run({dir.File("missing.csv"), out});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err, "Please enter a valid input file name.\n");
    EXPECT_EQ(o.out, "");
    o = Run({"--header-size", "100", in, out});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err, "Please enter a valid scanner header length.\n");
    EXPECT_EQ(ReadWholeFile(out), "keep me");
}

TEST_F(MtconvertTest, SameFileUnderAnotherNameIsRefused) {
    WriteWholeFile(in, "a,b\n");
    std::filesystem::create_hard_link(in, dir.File("hard.csv"));
    std::filesystem::create_symlink(in, dir.File("soft.csv"));
    kstest::ScopedCurrentDirectory cwd(dir.Path());  // for the relative name
    for (auto [input, output] : {std::pair{in, dir.File("IN.CSV")},
                                 {in, dir.File("hard.csv")},
                                 {in, dir.File("soft.csv")},
                                 {dir.File("soft.csv"), in},
                                 {in, dir.File("x/../in.csv")},
                                 {std::string("in.csv"), in}}) {
        Outcome o = Run({input, output});
        EXPECT_EQ(o.status, 2) << output;
        EXPECT_EQ(o.err, "You cannot choose the same file name for the input and the output.\n");
    }
    EXPECT_EQ(ReadWholeFile(in), "a,b\n");
}

TEST_F(MtconvertTest, ConversionErrorExitsWithOneAndKeepsEarlierRecords) {
    WriteWholeFile(in, "H\n1,2\n3\n");
    Outcome o = Run({"--no-header-field", in, out});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(
        o.err,
        "\"" + in + "\" is not a valid comma separated file.\nPlease choose a new input file.\n");
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(ReadWholeFile(out), "12\n");
}

TEST_F(MtconvertTest, DashReadsStandardInputAndWritesStandardOutput) {
    WriteWholeFile(in, "H,H\n1,2\n");
    Outcome o = Run({"--header-size", "1", "-", "-"}, in);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, " 12\n");
    // The completion message must not mix with the records.
    EXPECT_EQ(o.err, "File converted.\nAll records are now length 3\n");

    o = Run({"--header-size", "1", "-", out}, in);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(ReadWholeFile(out), " 12\n");
    EXPECT_EQ(o.out, "File converted.\nAll records are now length 3\n");
}

TEST_F(MtconvertTest, UsageHelpAndVersion) {
    Outcome o = Run({"--help"});
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(o.out.find("Usage: mtconvert [options] INPUT OUTPUT"), std::string::npos);
    o = Run({"--version"});
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(o.out.find("Kestrel 5.41.1.0"), std::string::npos);
    o = Run({"--bogus", in, out});
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find("unknown option '--bogus'"), std::string::npos);
    o = Run({in});
    EXPECT_EQ(o.status, 2);
}

// Bytes written to a pipe that its reader has not taken yet.
int Unread(int fd) {
    int n = 0;
    ioctl(fd, FIONREAD, &n);
    return n;
}

TEST_F(MtconvertTest, InterruptKeepsTheRecordsWrittenSoFar) {
    std::string fifo = dir.File("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string errFile = dir.File(".stderr");
    pid_t pid = fork();
    if (pid == 0) {
        int error = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(error, 1);
        dup2(error, 2);
        execl(MTCONVERT, MTCONVERT, "--no-header-field", fifo.c_str(), out.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int writer = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(writer, 0);
    const std::string lines = "H,H\n1,2\n3,4\n";
    ASSERT_EQ(write(writer, lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
    // Wait until mtconvert has taken the lines and waits for more.
    for (int i = 0; i < 500 && Unread(writer) > 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    close(writer);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_EQ(ReadWholeFile(errFile), "");  // no completion message, no error
    EXPECT_EQ(ReadWholeFile(out), "12\n34\n");
}

}  // namespace
