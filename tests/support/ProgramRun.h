#pragma once
// Runs a built program in a child process and collects what it leaves: its exit status
// and the bytes of its standard output and standard error.

#include <sys/types.h>

#include <string>
#include <vector>

namespace kstest {

struct ProgramOutcome {
    int status = -1;  // the exit status, or 1000 + the signal that ended the program
    std::string out;
    std::string err;
};

// Runs `program` with `arguments`; standard input comes from the file `stdinFile`, the
// two output streams go through the files ".stdout" and ".stderr" of `scratchDirectory`.
ProgramOutcome RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& scratchDirectory,
                          const std::string& stdinFile = "/dev/null");

// Starts `program` in the background with its standard input from `stdinFile` and its two
// output streams into the files named (which may be one file); returns its process id.
pid_t StartProgram(const std::string& program, const std::vector<std::string>& arguments,
                   const std::string& stdoutFile, const std::string& stderrFile,
                   const std::string& stdinFile = "/dev/null");
// Waits for a program that StartProgram started: as ProgramOutcome::status.
int FinishProgram(pid_t pid);

}  // namespace kstest
