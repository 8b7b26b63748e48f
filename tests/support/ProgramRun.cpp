#include "support/ProgramRun.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/TempDir.h"

namespace kstest {

ProgramOutcome RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& scratchDirectory, const std::string& stdinFile) {
    const std::string outFile = scratchDirectory + "/.stdout";
    const std::string errFile = scratchDirectory + "/.stderr";
    const pid_t pid = fork();
    if (pid == 0) {
        const int input = open(stdinFile.c_str(), O_RDONLY);
        const int output = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int error = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
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
    int status = 0;
    waitpid(pid, &status, 0);
    ProgramOutcome outcome;
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    outcome.out = ReadWholeFile(outFile);
    outcome.err = ReadWholeFile(errFile);
    return outcome;
}

}  // namespace kstest
