// Runs a command and reports what it cost: wall seconds, peak resident memory, the bytes it
// wrote (the kernel's count of bytes passed to write calls, temporary files included) and
// its processor seconds (user and system).
//
//   run_measured REPORT COMMAND ARG...
//
// Appends "WALL_SECONDS MAX_RSS_KIB WRITTEN_BYTES CPU_SECONDS" to the file REPORT; the
// command's own
// output goes where ours goes. Exits with the command's status.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

// The "wchar" line of /proc/PID/io, read while the process is a zombie.
long long WrittenBytes(pid_t pid) {
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    std::string key;
    long long value = -1;
    while (io >> key >> value) {
        if (key == "wchar:") {
            return value;
        }
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: run_measured REPORT COMMAND ARG...\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[2], argv + 2);
        std::perror("run_measured: exec");
        _exit(127);
    }
    siginfo_t info{};
    waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
    const long long written = WrittenBytes(pid);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (FILE* report = std::fopen(argv[1], "a")) {
        const double cpu =
            static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        std::fprintf(report, "%.3f %ld %lld %.3f\n", wall, usage.ru_maxrss, written, cpu);
        std::fclose(report);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
