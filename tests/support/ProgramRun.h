#pragma once
// Runs a built program in a child process and collects what it leaves: its exit status
// and the bytes of its standard output and standard error.

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

}  // namespace kstest
