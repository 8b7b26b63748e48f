#include "support/ProgramRun.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/TempDir.h"

namespace kstest {

pid_t StartProgram(const std::string& program, const std::vector<std::string>& arguments,
                   const std::string& stdoutFile, const std::string& stderrFile,
                   const std::string& stdinFile) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int input = open(stdinFile.c_str(), O_RDONLY);
        const int output = open(stdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int error = stderrFile == stdoutFile
                              ? output
                              : open(stderrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(input, 0);
        dup2(output, 1);
        dup2(error, 2);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

int FinishProgram(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

ProgramOutcome RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& scratchDirectory, const std::string& stdinFile) {
    const std::string outFile = scratchDirectory + "/.stdout";
    const std::string errFile = scratchDirectory + "/.stderr";
    ProgramOutcome outcome;
    outcome.status = FinishProgram(StartProgram(program, arguments, outFile, errFile, stdinFile));
    outcome.out = ReadWholeFile(outFile);
    outcome.err = ReadWholeFile(errFile);
    return outcome;
}

}  // namespace kstest
