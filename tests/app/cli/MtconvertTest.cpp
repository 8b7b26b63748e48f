// Runs the real mtconvert binary and checks its exit status, its two output streams and
// the files it leaves behind.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
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

using namespace std::string_literals;
using kstest::ReadWholeFile;
using kstest::WriteWholeFile;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Where the child's standard streams come from and go to.
struct Streams {
    std::string input = "/dev/null";
    std::string output;  // empty: a file of the test's own
    bool append = false;
};

// Waits at most `seconds` for the child; a child still running then is killed.
int WaitFor(pid_t pid, int seconds) {
    int status = 0;
    for (int i = 0; i < seconds * 100; ++i) {
        if (waitpid(pid, &status, WNOHANG) == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;  // hung
}

// Replaces this (child) process with mtconvert run on `args`.
[[noreturn]] void ExecMtconvert(const std::vector<std::string>& args) {
    std::vector<char*> argv{const_cast<char*>(MTCONVERT)};
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    execv(MTCONVERT, argv.data());
    _exit(127);
}

class MtconvertTest : public ::testing::Test {
protected:
    kstest::TempDir dir;
    std::string in = dir.File("in.csv");
    std::string out = dir.File("out.txt");

    // Runs mtconvert with `args` and the given standard streams.
    Outcome Run(const std::vector<std::string>& args, const Streams& streams = {}) {
        const std::string outFile = streams.output.empty() ? dir.File(".stdout") : streams.output;
        const std::string errFile = dir.File(".stderr");
        pid_t pid = fork();
        if (pid == 0) {
            int input = open(streams.input.c_str(), O_RDONLY);
            int output = open(outFile.c_str(),
                              O_WRONLY | O_CREAT | (streams.append ? O_APPEND : O_TRUNC), 0600);
            int error = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(input, 0);
            dup2(output, 1);
            dup2(error, 2);
            ExecMtconvert(args);
        }
        Outcome outcome;
        outcome.status = WaitFor(pid, 20);
        outcome.out = streams.output.empty() ? ReadWholeFile(outFile) : "";
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
    o = Run({"--no-header-field", "--header-size=07", in, out});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(ReadWholeFile(out), "cd\n");
    EXPECT_EQ(o.out, "File converted.\nAll records are now length 2\n");
}

TEST_F(MtconvertTest, RefusedArgumentsExitWithTwoAndTouchNothing) {
    WriteWholeFile(in, "a,b\n");
    WriteWholeFile(out, "keep me");
    const std::string range =
        "mtconvert: Please enter a valid scanner header length: a number from 0 to 99.\n";
    for (auto [args, message] : {
             std::pair{std::vector<std::string>{dir.File("missing.csv"), out},
                       "mtconvert: Please enter a valid input file name.\n"s},
             {{in, ""}, "mtconvert: Please enter a valid output file name.\n"},
             {{"--header-size", "100", in, out}, range},
             // A size given is checked even when no spaces are inserted.
             {{"--no-header-field", "--header-size=x", in, out}, range},
             {{"--bogus", in, out},
              "mtconvert: unknown option '--bogus'\nTry 'mtconvert --help' for more "
              "information.\n"},
             {{in},
              "mtconvert: expected an input and an output file name\nTry 'mtconvert "
              "--help' for more information.\n"},
         }) {
        Outcome o = Run(args);
        EXPECT_EQ(o.status, 2) << message;
        EXPECT_EQ(o.err, message);
        EXPECT_EQ(o.out, "");
    }
    EXPECT_EQ(ReadWholeFile(out), "keep me");
}

TEST_F(MtconvertTest, SameFileUnderAnotherNameIsRefused) {
    WriteWholeFile(in, "a,b\n");
    std::filesystem::create_hard_link(in, dir.File("hard.csv"));
    std::filesystem::create_symlink(in, dir.File("soft.csv"));
    kstest::ScopedCurrentDirectory cwd(dir.Path());  // for the relative name
    const std::string same =
        "mtconvert: You cannot choose the same file name for the input and the output.\n";
    for (auto [input, output] : {std::pair{in, dir.File("IN.CSV")},
                                 {in, dir.File("hard.csv")},
                                 {in, dir.File("soft.csv")},
                                 {dir.File("soft.csv"), in},
                                 {in, dir.File("x/../in.csv")},
                                 {std::string("in.csv"), in}}) {
        Outcome o = Run({input, output});
        EXPECT_EQ(o.status, 2) << output;
        EXPECT_EQ(o.err, same);
    }
    // Standard input and output on one file: "mtconvert - - < in.csv >> in.csv".
    Outcome o = Run({"-", "-"}, {in, in, true});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err, same);
    o = Run({"-", in}, {in, "", false});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err, same);
    EXPECT_EQ(ReadWholeFile(in), "a,b\n");
}

TEST_F(MtconvertTest, ErrorsNameTheInputLineAndKeepEarlierRecords) {
    struct Case {
        std::string input, output, message;
    };
    for (const Case& c : {
             Case{"H\n1,2\n3\n", "12\n",
                  ":3: \"" + in +
                      "\" is not a valid comma separated file.\nPlease choose a new input file."},
             Case{"H\n1,2\n3,4,\r5\n", "12\n",
                  ":3: Return character not followed by newline; unknown end of line type"},
             Case{"H\n1,2\n3,4\n567,8\n", "12\n34\n",
                  ":4: All the other records are length 2, but record 3 is length 4.\nPlease "
                  "check your input file."},
         }) {
        WriteWholeFile(in, c.input);
        Outcome o = Run({"--no-header-field", in, out});
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.err, "mtconvert: " + in + c.message + "\n");
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(ReadWholeFile(out), c.output);
    }
    WriteWholeFile(in, "H\n1,2\n");
    std::filesystem::create_directory(dir.File("folder"));
    for (auto [output, message] :
         {std::pair{dir.File("folder"),
                    "Error in opening file '" + dir.File("folder") + "'.  Is a directory."},
          {std::string("/dev/full"),
           "Unable to write 3 bytes at offset 0 of file \"/dev/full\" -- No space left on "
           "device"}}) {
        Outcome o = Run({"--no-header-field", in, output});
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.err, "mtconvert: " + message + "\n");
    }
}

TEST_F(MtconvertTest, CompletionMessageNeverMixesWithTheRecords) {
    WriteWholeFile(in, "H,H\n1,2\n");
    const std::string done = "File converted.\nAll records are now length 3\n";
    // Standard output as "-", as "/dev/stdout" redirected to a file, and appended to.
    for (auto [output, append] : {std::pair{"-", false}, {"/dev/stdout", false}, {"-", true}}) {
        WriteWholeFile(dir.File("log"), "before\n");
        Outcome o = Run({"--header-size", "1", "-", output}, {in, dir.File("log"), append});
        EXPECT_EQ(o.status, 0) << output;
        EXPECT_EQ(ReadWholeFile(dir.File("log")), append ? "before\n 12\n" : " 12\n") << output;
        EXPECT_EQ(o.err, done);
    }
    Outcome o = Run({"--header-size", "1", "-", out}, {in, "", false});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(ReadWholeFile(out), " 12\n");
    EXPECT_EQ(o.out, done);
    EXPECT_EQ(o.err, "");
}

TEST_F(MtconvertTest, OutputToAFifoIsWrittenAsAStream) {
    WriteWholeFile(in, "H,H\n1,2\n3,4\n");
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // The FIFO by name, and standard output that is the FIFO named "/dev/stdout".
    for (auto [output, streamOutput] : {std::pair{fifo, std::string()}, {"/dev/stdout", fifo}}) {
        pid_t reader = fork();
        if (reader == 0) {
            int from = open(fifo.c_str(), O_RDONLY);
            int to = open(dir.File("received").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            char buffer[256];
            for (ssize_t n; (n = read(from, buffer, sizeof buffer)) > 0;) {
                (void)!write(to, buffer, static_cast<std::size_t>(n));
            }
            _exit(0);
        }
        Outcome o = Run({"--header-size", "2", in, output}, {"/dev/null", streamOutput});
        EXPECT_EQ(o.status, 0) << output;
        EXPECT_EQ(WaitFor(reader, 20), 0);
        EXPECT_EQ(ReadWholeFile(dir.File("received")), "  12\n  34\n") << output;
        EXPECT_EQ(o.err,
                  streamOutput.empty() ? "" : "File converted.\nAll records are now length 4\n");
    }
}

// Runs mtconvert with `args` on a file system of 64 KiB mounted on `mountPoint` in a mount
// namespace of its own, and copies what it wrote to `mountPoint`/out.txt to `copy` before
// the file system goes. The exit status, or 77 when no such file system can be made.
int RunOnTinyFileSystem(const std::string& mountPoint, const std::vector<std::string>& args,
                        const std::string& errFile, const std::string& copy) {
    pid_t pid = fork();
    if (pid == 0) {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0) {
            _exit(77);
        }
        pid_t converter = fork();
        if (converter == 0) {
            dup2(open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
            ExecMtconvert(args);
        }
        int status = WaitFor(converter, 20);
        WriteWholeFile(copy, ReadWholeFile(mountPoint + "/out.txt"));
        _exit(status);
    }
    return WaitFor(pid, 30);
}

TEST_F(MtconvertTest, TinyFileSystemKeepsWholeRecordsAndSaysWhy) {
    std::string input = "H,H\n";
    for (int i = 0; i < 3000; ++i) {
        input += "a,b\n";
    }
    WriteWholeFile(in, input);
    const std::string small = dir.File("small");
    std::filesystem::create_directory(small);
    const int status =
        RunOnTinyFileSystem(small, {in, small + "/out.txt"}, dir.File(".stderr"), dir.File("kept"));
    if (status == 77) {
        GTEST_SKIP() << "no mount namespace for a small file system here";
    }
    EXPECT_EQ(status, 1);
    const std::string error = ReadWholeFile(dir.File(".stderr"));
    EXPECT_EQ(error.rfind("mtconvert: Only able to write ", 0), 0u) << error;
    const std::string reason = " bytes of 159000 bytes at offset 0 of file \"" + small +
                               "/out.txt\" -- No space left on device\n";
    EXPECT_EQ(error.substr(error.size() - std::min(error.size(), reason.size())), reason);
    // As many whole records of 53 bytes as fit in 64 KiB, and nothing else.
    const std::string kept = ReadWholeFile(dir.File("kept"));
    std::string records;
    for (std::size_t i = 0; i < 65536 / 53; ++i) {
        records += std::string(50, ' ') + "ab\n";
    }
    EXPECT_EQ(kept, records.substr(0, kept.size()));
    EXPECT_EQ(kept.size() % 53, 0u);
    EXPECT_GT(kept.size(), 60000u);
}

TEST_F(MtconvertTest, HelpAndVersionAndTheirWriteErrors) {
    for (const char* option : {"--help", "-h"}) {
        Outcome o = Run({option});
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(o.out.rfind("Usage: mtconvert [options] INPUT OUTPUT\n", 0), 0u) << option;
    }
    for (const char* option : {"--version", "-V"}) {
        Outcome o = Run({option});
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(o.out, "mtconvert (Menu*Tally Data File Converter) 1.0\nKestrel 5.41.1.0\n");
    }
    for (const char* option : {"--help", "--version"}) {
        Outcome o = Run({option}, {"/dev/null", "/dev/full"});
        EXPECT_EQ(o.status, 1) << option;
        EXPECT_EQ(o.err, "mtconvert: write error: No space left on device\n");
    }
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
        ExecMtconvert({"--no-header-field", fifo, out});
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
