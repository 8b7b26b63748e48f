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
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

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
             {"mtconvert -h | sed -n 1p", "0|Usage: mtconvert [options] INPUT OUTPUT\n|"},
             {"mtconvert -V",
              "0|mtconvert (Menu*Tally Data File Converter) 1.0\nKestrel 5.41.1.0\n|"},
             {"mtconvert --help > /dev/full", full},
             {"mtconvert --version > /dev/full", full},
         }) {
        EXPECT_EQ(Run(commands), result) << commands;
    }
}

// Ctrl-C while mtconvert waits for more input: status 130, no message, and the records
// written so far are kept.
TEST_F(MtconvertTest, InterruptKeepsTheRecordsWrittenSoFar) {
    const std::string fifo = dir.File("fifo");
    const std::string out = dir.File("out.txt");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const pid_t pid = kstest::StartProgram(MTCONVERT, {"--no-header-field", fifo, out},
                                           dir.File(".err"), dir.File(".err"));
    const int writer = open(fifo.c_str(), O_WRONLY);
    const std::string lines = "H,H\n1,2\n3,4\n";
    EXPECT_EQ(write(writer, lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
    // Once it has taken the lines it converts them and waits for more.
    for (int unread = 1, i = 0; unread > 0 && i < 500; ++i) {
        ioctl(writer, FIONREAD, &unread);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    kill(pid, SIGINT);
    close(writer);  // a run that missed the interrupt ends too
    EXPECT_EQ(kstest::FinishProgram(pid), 130);
    EXPECT_EQ(ReadWholeFile(dir.File(".err")), "");
    EXPECT_EQ(ReadWholeFile(out), "12\n34\n");
}

}  // namespace
