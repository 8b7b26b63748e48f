// Runs the real mtconvert from the shell, in a folder of the test's own, and checks its
// exit status, its two output streams and the file it leaves behind.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>

#include "support/ProgramRun.h"
#include "support/TempDir.h"

namespace {

using kstest::ReadWholeFile;

class MtconvertTest : public ::testing::Test {
protected:
    kstest::TempDir dir;

    // Runs bash `commands` in a new folder holding in.csv, with "mtconvert" first on the
    // path and standard input from /dev/null. Gives "status|standard output|standard
    // error", then "|" and out.txt when the commands left one.
    std::string Run(const std::string& commands) {
        const std::string folder = dir.File(std::to_string(++runs_)) + "/";
        std::filesystem::create_directory(folder);
        kstest::WriteWholeFile(folder + "in.csv", "H,H\n1,2\n3,4\n");
        kstest::WriteWholeFile(folder + ".sh",
                               "set -o pipefail; cd '" + folder + "'; PATH='" +
                                   std::filesystem::path(MTCONVERT).parent_path().string() +
                                   "':$PATH; { " + commands + "\n} < /dev/null > .out 2> .err");
        const int status = std::system(("timeout 30 bash " + folder + ".sh").c_str());
        std::string result = std::to_string(WEXITSTATUS(status)) + "|" +
                             ReadWholeFile(folder + ".out") + "|" + ReadWholeFile(folder + ".err");
        if (std::filesystem::exists(folder + "out.txt")) {
            result += "|" + ReadWholeFile(folder + "out.txt");
        }
        return result;
    }

private:
    int runs_ = 0;
};

TEST_F(MtconvertTest, StatusStreamsAndOutputOfEachRun) {
    const std::string done = "File converted.\nAll records are now length ";
    const std::string help = "\nTry 'mtconvert --help' for more information.\n";
    const std::string same =
        "2||mtconvert: You cannot choose the same file name for the input "
        "and the output.\n";
    const std::string full = "1||mtconvert: write error: No space left on device\n";
    for (auto [commands, result] : std::initializer_list<std::pair<std::string, std::string>>{
             {"mtconvert " EXAMPLES_DIR "/questionnaire.csv out.txt",
              "0|" + done + "91\n||" + ReadWholeFile(EXAMPLES_DIR "/questionnaire.expected.txt")},
             {"mtconvert --keep-header --header-size 3 in.csv out.txt",
              "0|" + done + "5\n||   HH\n   12\n   34\n"},
             {"mtconvert --no-header-field --header-size=07 in.csv out.txt",
              "0|" + done + "2\n||12\n34\n"},
             // Refused arguments and names: status 2, and no file is touched.
             {"mtconvert missing.csv out.txt",
              "2||mtconvert: Please enter a valid input file name.\n"},
             {"echo kept > out.txt; mtconvert --no-header-field --header-size=x in.csv out.txt",
              "2||mtconvert: Please enter a valid scanner header length: a number from 0 to "
              "99.\n|kept\n"},
             {"mtconvert --bogus in.csv out.txt", "2||mtconvert: unknown option '--bogus'" + help},
             {"mtconvert in.csv out.txt --header-size",
              "2||mtconvert: option '--header-size' needs a number" + help},
             {"mtconvert in.csv", "2||mtconvert: expected an input and an output file name" + help},
             {"mtconvert in.csv \"$PWD/in.csv\"", same},
             {"mtconvert - - < in.csv >> in.csv", same},
             {"mtconvert - in.csv < in.csv", same},
             // Failures: status 1, the records before them kept; data errors name the line.
             {"printf 'H\\n1,2\\n3,4\\n567,8\\n' > in.csv; mtconvert --no-header-field in.csv "
              "out.txt",
              "1||mtconvert: in.csv:4: All the other records are length 2, but record 3 is "
              "length 4.\nPlease check your input file.\n|12\n34\n"},
             {"mtconvert --no-header-field in.csv /dev/full",
              "1||mtconvert: Unable to write 6 bytes at offset 0 of file \"/dev/full\" -- No "
              "space left on device\n"},
             // Records on standard output, a pipe or a FIFO: the message goes to standard error.
             {"mtconvert --header-size 1 in.csv /dev/stdout > out.txt",
              "0||" + done + "3\n| 12\n 34\n"},
             {"echo old > out.txt; mtconvert --header-size 1 - - < in.csv >> out.txt",
              "0||" + done + "3\n|old\n 12\n 34\n"},
             {"cat in.csv | mtconvert --header-size 1 - - | cat > out.txt",
              "0||" + done + "3\n| 12\n 34\n"},
             {"mtconvert --header-size 1 - out.txt < in.csv", "0|" + done + "3\n|| 12\n 34\n"},
             {"mkfifo f; cat f > out.txt & mtconvert --header-size 2 in.csv f; wait",
              "0|" + done + "4\n||  12\n  34\n"},
             // A byte order mark in front is not data.
             {"printf '\\xef\\xbb\\xbf1,2\\n3,4\\n' > in.csv; mtconvert --keep-header "
              "--no-header-field in.csv out.txt",
              "0|" + done + "2\n||12\n34\n"},
             // The column layout: names from the dropped line, a repeated one numbered.
             {"mtconvert --layout l.csv in.csv out.txt && cat l.csv",
              "0|" + done +
                  "52\nColumn layout written to l.csv\nfield,name,start,end,width\n"
                  "0,Scanner header,1,50,50\n1,H,51,51,1\n2,Field2,52,52,1\n||" +
                  std::string(50, ' ') + "12\n" + std::string(50, ' ') + "34\n"},
             {"mtconvert --no-header-field --layout=- --layout-format=text in.csv out.txt",
              "0|Field  Name    Start  End  Width\n    1  H           1    1      1\n    2  "
              "Field2      2    2      1\n|" +
                  done +
                  "2\nColumn layout written to standard "
                  "output\n|12\n34\n"},
             {"printf 'a,b\\n1,22\\n33,4\\n' > in.csv; echo old > l.csv; mtconvert "
              "--no-header-field --layout l.csv in.csv out.txt; echo $?; test -e l.csv || echo "
              "gone",
              "0|" + done +
                  "3\n1\ngone\n|mtconvert: in.csv:3: Field 1 (\"a\") is 1 column wide "
                  "in record 1 but 2 in record 2, so the records have no common column layout; "
                  "\"l.csv\" was not written.\n|122\n334\n"},
             {"mtconvert --layout in.csv in.csv out.txt",
              "2||mtconvert: You cannot choose the file name of the input or the output for the "
              "column layout.\n"},
             {"mtconvert --layout - in.csv - > /dev/null",
              "2||mtconvert: You cannot choose the file name of the input or the output for the "
              "column layout.\n"},
             {"mtconvert --layout-format r in.csv out.txt",
              "2||mtconvert: option '--layout-format' needs '--layout FILE'" + help},
             {"mtconvert --layout l.csv --layout-format R in.csv out.txt",
              "2||mtconvert: unknown layout format 'R' (csv, text or r)" + help},
             {"mtconvert in.csv out.txt --layout",
              "2||mtconvert: option '--layout' needs a file name" + help},
             {"mtconvert -h | sed -n 1p", "0|Usage: mtconvert [options] INPUT OUTPUT\n|"},
             {"mtconvert -V",
              "0|mtconvert (Menu*Tally Data File Converter) 1.0\nKestrel 5.41.1.0\n|"},
             {"mtconvert --help > /dev/full", full},
             {"mtconvert --version > /dev/full", full},
         }) {
        EXPECT_EQ(Run(commands), result) << commands;
    }
}

// The layouts of the bundled example, with and without its header line and the scanner
// header, in each format, as checked into the tree.
TEST_F(MtconvertTest, LayoutsOfTheBundledExample) {
    const std::string example = EXAMPLES_DIR "/questionnaire.csv";
    const std::string headerless = "tail -n +2 " + example + " > h.csv; ";
    for (auto [commands, golden] : std::initializer_list<std::pair<std::string, std::string>>{
             {"mtconvert --layout l " + example + " questionnaire.txt",
              EXAMPLES_DIR "/questionnaire.layout.csv"},
             {"mtconvert --no-header-field --layout l " + example + " o.txt",
              GOLDEN_DIR "/questionnaire.no-scanner-header.layout.csv"},
             {headerless + "mtconvert --keep-header --layout l h.csv o.txt",
              GOLDEN_DIR "/headerless.layout.csv"},
             {headerless + "mtconvert --keep-header --no-header-field --layout l h.csv o.txt",
              GOLDEN_DIR "/headerless.no-scanner-header.layout.csv"},
             {"mtconvert --layout l --layout-format text " + example + " questionnaire.txt",
              GOLDEN_DIR "/questionnaire.layout.txt"},
             {"mtconvert --layout l --layout-format r " + example + " questionnaire.txt",
              GOLDEN_DIR "/questionnaire.layout.R"},
         }) {
        EXPECT_EQ(Run(commands + " > /dev/null && cat l"), "0|" + ReadWholeFile(golden) + "|")
            << commands;
    }
}

// The signals that stop mtconvert as Ctrl-C does, and the exit status of each.
struct StopSignal {
    int number;
    int status;
};
constexpr StopSignal kStopSignals[] = {{SIGINT, 130}, {SIGTERM, 143}, {SIGHUP, 129}};

// How mtconvert names the signal that stopped it.
std::string Said(int number) {
    return number == SIGINT ? "Ctrl-C" : std::string("SIG") + sigabbrev_np(number);
}

// A header line and `count` lines of two three-digit values, and what they convert to with
// --no-header-field: records of 6 bytes and a line feed. 7 does not divide the size of the
// output's buffer, so a program killed when a full buffer has reached the file leaves a
// torn record.
struct Lines {
    std::string csv = "H,H\n";
    std::string records;
    explicit Lines(int count) {
        for (int i = 0; i < count; ++i) {
            char line[16];
            std::snprintf(line, sizeof line, "%03d,%03d\n", i / 1000 % 1000, i % 1000);
            csv += line;
            records += std::string(line, 3) + std::string(line + 4, 4);
        }
    }
};

bool WriteAll(int fd, const std::string& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Waits until the reader of a pipe has taken everything written to it, and a little
// longer for it to convert what it took.
void WaitUntilTaken(int writer) {
    for (int unread = 1, i = 0; unread > 0 && i < 500; ++i) {
        ioctl(writer, FIONREAD, &unread);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

// Waits at most five seconds for a program that StartProgram started to end: its status as
// FinishProgram gives it, or -1 while it still runs.
int FinishSoon(pid_t pid) {
    for (int i = 0; i < 500; ++i) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

// What mtconvert converting from a FIFO leaves when a signal comes while it waits for more
// input: no message, the exit status of the signal, and every record of the lines it took.
// They are more than its output buffer holds, so that a kill would leave a torn record.
TEST_F(MtconvertTest, EachStopSignalKeepsTheRecordsWrittenSoFar) {
    const Lines lines(200000);
    for (const auto [number, status] : kStopSignals) {
        const std::string name = std::string("SIG") + sigabbrev_np(number);
        const std::string fifo = dir.File(name + ".fifo");
        const std::string out = dir.File(name + ".txt");
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        const pid_t pid = kstest::StartProgram(MTCONVERT, {"--no-header-field", fifo, out},
                                               dir.File(".err"), dir.File(".err"));
        const int writer = open(fifo.c_str(), O_WRONLY);
        EXPECT_TRUE(WriteAll(writer, lines.csv));
        WaitUntilTaken(writer);
        kill(pid, number);
        const int ended = FinishSoon(pid);  // without waiting for the end of the input
        close(writer);
        EXPECT_EQ(ended, status) << name;
        if (ended == -1) {
            kstest::FinishProgram(pid);
        }
        EXPECT_EQ(ReadWholeFile(dir.File(".err")),
                  "mtconvert: interrupted by " + Said(number) + "; \"" + out +
                      "\" keeps the 200000 records converted before it\n");
        const std::string written = ReadWholeFile(out);
        EXPECT_EQ(written.size() % 7, 0u) << name << ": a torn record";
        EXPECT_TRUE(written == lines.records)
            << name << ": " << written.size() << " bytes of " << lines.records.size();
    }
}

// A signal while mtconvert waits for a FIFO's reader to take its records does not stop the
// write under way, and the same signal again finds it still caught: once the reader takes
// the records, the run stops after whole records.
TEST_F(MtconvertTest, ASecondSignalWhileStoppingIsCaughtToo) {
    const Lines lines(600000);
    kstest::WriteWholeFile(dir.File("in.csv"), lines.csv);
    for (const auto [number, status] : kStopSignals) {
        const std::string name = std::string("SIG") + sigabbrev_np(number);
        const std::string fifo = dir.File(name + ".fifo");
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        const pid_t pid =
            kstest::StartProgram(MTCONVERT, {"--no-header-field", dir.File("in.csv"), fifo},
                                 dir.File(".err"), dir.File(".err"));
        const int reader = open(fifo.c_str(), O_RDONLY);
        const int capacity = fcntl(reader, F_GETPIPE_SZ);
        for (int unread = 0, i = 0; unread < capacity && i < 500; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ioctl(reader, FIONREAD, &unread);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        kill(pid, number);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        kill(pid, number);
        std::string written;
        char buffer[65536];
        for (ssize_t n; (n = read(reader, buffer, sizeof buffer)) > 0;) {
            written.append(buffer, static_cast<std::size_t>(n));
        }
        close(reader);
        EXPECT_EQ(kstest::FinishProgram(pid), status) << name;
        EXPECT_EQ(ReadWholeFile(dir.File(".err")),
                  "mtconvert: interrupted by " + Said(number) + "; \"" + fifo + "\" keeps the " +
                      std::to_string(written.size() / 7) + " records converted before it\n");
        EXPECT_EQ(written.size() % 7, 0u) << name << ": a torn record";
        EXPECT_GE(written.size(), static_cast<std::size_t>(capacity)) << name;
        EXPECT_LT(written.size(), lines.records.size()) << name << ": not stopped";
        EXPECT_TRUE(lines.records.compare(0, written.size(), written) == 0) << name;
    }
}

// A SIGHUP or SIGTERM ignored on start (nohup, a trap) stays ignored, and the conversion goes
// on to its end; Ctrl-C stops it all the same.
TEST_F(MtconvertTest, HangupAndTerminateIgnoredOnStartStayIgnored) {
    const std::string done = "File converted.\nAll records are now length 2\n";
    const std::tuple<const char*, int, std::string> rows[] = {
        {"HUP", SIGHUP, "0|" + done},
        {"TERM", SIGTERM, "0|" + done},
        {"INT", SIGINT,
         "130|mtconvert: interrupted by Ctrl-C; \"" + dir.File("INT.txt") +
             "\" keeps the 2 records converted before it\n"}};
    for (const auto& [ignored, number, result] : rows) {
        const std::string fifo = dir.File(std::string(ignored) + ".fifo");
        const std::string out = dir.File(std::string(ignored) + ".txt");
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        const pid_t pid = kstest::StartProgram(
            "/bin/sh",
            {"-c",
             std::string("trap '' ") + ignored + "; exec \"$0\" --no-header-field \"$1\" \"$2\"",
             MTCONVERT, fifo, out},
            dir.File(".out"), dir.File(".err"));
        const int writer = open(fifo.c_str(), O_WRONLY);
        EXPECT_TRUE(WriteAll(writer, "H,H\n1,2\n3,4\n"));
        WaitUntilTaken(writer);
        kill(pid, number);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        close(writer);
        const int status = kstest::FinishProgram(pid);
        EXPECT_EQ(std::to_string(status) + "|" + ReadWholeFile(dir.File(".out")) +
                      ReadWholeFile(dir.File(".err")),
                  result)
            << ignored;
        EXPECT_EQ(ReadWholeFile(out), "12\n34\n") << ignored;
    }
}

}  // namespace
