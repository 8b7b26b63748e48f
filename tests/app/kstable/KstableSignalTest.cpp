// The real kstable binary stopped by SIGINT, SIGTERM or SIGHUP (or killed) while it waits for a
// lock, imports, sorts or commits: the table is left as it was, and the exit status names the
// signal.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "KstableRun.h"
#include "files/TableTestSupport.h"
#include "io/KsIOFactory.h"
#include "io/KsIOLockGuard.h"

namespace {

using kstest::ReadWholeFile;
using kstest::WriteWholeFile;

// The signals sent, and the exit status they give. A burst is reported by its first signal,
// and the later ones, arriving while the command stops, do not kill it.
struct StopSignals {
    std::vector<int> numbers;
    int status;
};
const StopSignals kStopSignals[] = {
    {{SIGINT}, 130}, {{SIGTERM}, 143}, {{SIGHUP}, 129}, {{SIGHUP, SIGINT, SIGTERM}, 129}};

std::string NameOf(const std::vector<int>& numbers) {
    std::string name;
    for (int number : numbers) {
        name += std::string(name.empty() ? "SIG" : " SIG") + sigabbrev_np(number);
    }
    return name;
}

void Send(pid_t pid, const std::vector<int>& numbers) {
    for (int number : numbers) {
        kill(pid, number);
    }
}

// Waits (at most five seconds) until `found` holds, then sends the signals.
template <class Found>
void SendWhen(pid_t pid, const std::vector<int>& numbers, Found found) {
    for (int i = 0; i < 25000 && !found(); ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    Send(pid, numbers);
}

// Files of the folder whose names start with `prefix`.
long FilesStartingWith(const std::filesystem::path& folder, const std::string& prefix) {
    return std::ranges::count_if(
        std::filesystem::directory_iterator(folder),
        [&](const auto& entry) { return entry.path().filename().string().rfind(prefix, 0) == 0; });
}

class KstableSignalTest : public kstest::KstableRunTest {
protected:
    std::string Bytes() {
        return ReadWholeFile(table + ".kss") + "|" + ReadWholeFile(table + ".cbf");
    }
    // Starts kstable in the background, its output streams into the files "out" and "err",
    // emptied first so that nothing of an earlier run is read as this one's.
    pid_t Start(const std::vector<std::string>& args) {
        WriteWholeFile(dir.File("out"), "");
        WriteWholeFile(dir.File("err"), "");
        return kstest::StartProgram(KSTABLE, args, dir.File("out"), dir.File("err"));
    }
};

TEST_F(KstableSignalTest, AnImportWaitsForAWriteLockAndASignalStopsTheWait) {
    ASSERT_EQ(Run({"create", table, "n:U4"}).status, 0);
    auto file = KsIOFactory::Default().Open((table + ".cbf").c_str(), IO_READ | IO_WRITE);
    KsIOLockGuard lock(*file, LOCK_WRITE, 0, 0);
    WriteWholeFile(dir.File("in.csv"), "5\n");
    std::vector<StopSignals> rows(std::begin(kStopSignals), std::end(kStopSignals));
    rows.push_back({{}, 0});  // no signal: the lock is released
    for (const auto& [numbers, status] : rows) {
        const pid_t pid = Start({"import", table, dir.File("in.csv")});
        SendWhen(pid, numbers, [&] {
            return ReadWholeFile(dir.File("err")).find("kstable: waiting for another process") !=
                   std::string::npos;
        });
        if (numbers.empty()) {
            lock.Release();
        }
        EXPECT_EQ(kstest::FinishProgram(pid), status) << NameOf(numbers);
        EXPECT_EQ(ReadWholeFile(table + ".cbf"), status != 0 ? "" : std::string("\x50\0", 2))
            << NameOf(numbers);
    }
}

TEST_F(KstableSignalTest, ASignalDuringAnImportTakesBackWhatWasAppended) {
    ASSERT_EQ(Run({"create", table, "n:U4"}).status, 0);
    ASSERT_EQ(Run({"import", table, "-"}, "1\n").status, 0);
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const auto& [numbers, status] : kStopSignals) {
        const pid_t pid = Start({"import", table, fifo});
        FILE* writer = std::fopen(fifo.c_str(), "w");
        ASSERT_NE(writer, nullptr);
        std::fputs("2\n3\n", writer);
        std::fflush(writer);
        // The import takes the records (they wait in the table's buffer), then the signal.
        int unread = 1;
        for (int i = 0; i < 500 && unread > 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ioctl(fileno(writer), FIONREAD, &unread);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        Send(pid, numbers);
        EXPECT_EQ(kstest::FinishProgram(pid), status) << NameOf(numbers);
        std::fclose(writer);
        EXPECT_EQ(ReadWholeFile(dir.File("err")),
                  "kstable: interrupted\nkstable: nothing was imported; \"" + table +
                      ".cbf\" is as it was\n")
            << NameOf(numbers);
        EXPECT_EQ(ReadWholeFile(table + ".cbf"), std::string("\x10\0", 2)) << NameOf(numbers);
    }
}

// An import killed once part of its records reached the table leaves a change marker, and
// the next command (a reader) cuts the table back to its old records and says so.
TEST_F(KstableSignalTest, AKilledImportIsTakenBackByTheNextCommand) {
    ASSERT_EQ(Run({"create", table, "n:U4", "pad:A100"}).status, 0);
    ASSERT_EQ(Run({"import", table, "-"}, "1,a\n").status, 0);
    ASSERT_EQ(Run({"index", table, "n"}).status, 0);
    const auto length = std::filesystem::file_size(table + ".cbf");
    const std::string before = Bytes() + ReadWholeFile(table + ".000");
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const pid_t pid = Start({"import", table, fifo});
    FILE* writer = std::fopen(fifo.c_str(), "w");
    ASSERT_NE(writer, nullptr);
    // More than the table's buffer holds: some records reach the file before the kill.
    const std::string line = "2," + std::string(100, 'x') + "\n";
    for (int i = 0; i < 40000; ++i) {
        std::fputs(line.c_str(), writer);
    }
    std::fflush(writer);
    for (int i = 0; i < 5000 && std::filesystem::file_size(table + ".cbf") <= length; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    kill(pid, SIGKILL);
    kstest::FinishProgram(pid);
    std::fclose(writer);
    ASSERT_GT(std::filesystem::file_size(table + ".cbf"), length);
    auto o = Run({"info", table});
    EXPECT_EQ(o.status, 0);
    EXPECT_TRUE(std::regex_match(o.err, std::regex("kstable: \"" + table +
                                                   "\\.cbf\" was cut back to its 1 record: a "
                                                   "change that was adding [0-9]+ records to it "
                                                   "was cut short\n")))
        << o.err;
    EXPECT_EQ(Bytes() + ReadWholeFile(table + ".000"), before);
    EXPECT_EQ(Run({"check", table}).status, 0);
    EXPECT_EQ(Run({"import", table, "-"}, "3,b\n").out,
              "Imported 1 record into \"" + table + ".cbf\", which now holds 2.\n");
}

TEST_F(KstableSignalTest, ASignalDuringASortLeavesTheOldOrderAndNoTemporaryFile) {
    const std::string temp = dir.File("tmp");
    std::filesystem::create_directory(temp);
    ASSERT_EQ(Run({"create", table, "n:U16", "m:W"}).status, 0);
    std::string csv;
    for (int i = 0; i < 400000; ++i) {
        csv += std::to_string((i * 7919LL) % 65536) + "," + std::to_string(i) + "\n";
    }
    ASSERT_EQ(Run({"import", table, "-"}, csv).status, 0);
    const std::string before = Bytes();
    const auto leftovers = [&] {
        return kstest::SortLeftovers(dir.Path()) + kstest::SortLeftovers(temp);
    };
    for (const auto& [numbers, status] : kStopSignals) {
        const pid_t pid = Start({"sort", "--memory", "1M", "--temp", temp, table, "n", "m:desc"});
        // Stopped as soon as its first run file appears.
        SendWhen(pid, numbers, [&] { return leftovers() > 0; });
        EXPECT_EQ(kstest::FinishProgram(pid), status) << NameOf(numbers);
        EXPECT_EQ(ReadWholeFile(dir.File("out")) + "|" + ReadWholeFile(dir.File("err")),
                  "|kstable: interrupted\nkstable: nothing was sorted; \"" + table +
                      ".cbf\" is as it was\n")
            << NameOf(numbers);
        EXPECT_TRUE(Bytes() == before) << NameOf(numbers);
        EXPECT_EQ(leftovers(), 0) << NameOf(numbers);
    }
}

TEST_F(KstableSignalTest, ASignalDuringACommitRollsEveryChangeBack) {
    ASSERT_EQ(Run({"create", table, "id:I", "name:A4"}).status, 0);
    ASSERT_EQ(Run({"import", table, "-"}, "1,a\n2,b\n").status, 0);
    std::string changes;
    for (int i = 0; i < 20000; ++i) {
        changes += "append," + std::to_string(i) + ",new\n";
    }
    WriteWholeFile(dir.File("changes.csv"), changes);
    const std::string before = Bytes();
    const std::string data = table + ".cbf";
    for (const auto& [numbers, status] : kStopSignals) {
        const pid_t pid = Start({"apply", table, dir.File("changes.csv")});
        // Stopped once the commit has appended ten records (8 bytes each) to the two.
        SendWhen(pid, numbers, [&] { return std::filesystem::file_size(data) >= 12 * 8; });
        EXPECT_EQ(kstest::FinishProgram(pid), status) << NameOf(numbers);
        EXPECT_EQ(ReadWholeFile(dir.File("out")) + "|" + ReadWholeFile(dir.File("err")),
                  "|kstable: interrupted; every change was rolled back\n")
            << NameOf(numbers);
        EXPECT_TRUE(Bytes() == before) << NameOf(numbers);
    }
    // Each stopped commit was rolled back whole: none is left for the next command to undo.
    const auto o = Run({"log", table});
    EXPECT_EQ(o.err, "");
    std::string rolledBack;
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
        rolledBack += "Rolled Back\t0\tkstable apply " + dir.File("changes.csv") + "\t20000\n";
    }
    EXPECT_EQ(std::regex_replace(o.out, std::regex("\\d{17}\t"), ""),
              "IDENTITY\tSTATUS\tNUMBER\tDESCRIPTION\tACTIONS\n" + rolledBack);
    EXPECT_EQ(FilesStartingWith(dir.Path(), "BC_t_"), 0);
}

}  // namespace
