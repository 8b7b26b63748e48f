#pragma once
// Runs test code in a forked child process, for checks that only another process can
// make (byte-range locks). The child must not touch GoogleTest; it reports through its
// exit status.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace kstest {

// Forks a child that runs `body` and exits with its result (99 when it threw).
inline pid_t Spawn(const std::function<int()>& body) {
    pid_t pid = fork();
    if (pid == 0) {
        int result = 99;
        try {
            result = body();
        } catch (...) {
        }
        _exit(result);
    }
    return pid;
}

// Runs `body` in a child and returns its exit status, or -1 when the child died otherwise.
inline int RunInChild(const std::function<int()>& body) {
    pid_t pid = Spawn(body);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

// A child that runs `setUp` (for example takes a lock) and then waits until Finish() or
// destruction ends it. The parent meanwhile sees what the child holds.
class HoldingChild {
public:
    explicit HoldingChild(const std::function<void()>& setUp) {
        int ready[2];
        if (pipe(ready) != 0) {
            return;
        }
        pid_ = Spawn([&] {
            setUp();
            (void)!write(ready[1], "!", 1);
            pause();
            return 0;
        });
        close(ready[1]);
        char c = 0;
        ready_ = read(ready[0], &c, 1) == 1;  // end of file when the set-up failed
        close(ready[0]);
    }
    ~HoldingChild() { Finish(); }
    HoldingChild(const HoldingChild&) = delete;
    HoldingChild& operator=(const HoldingChild&) = delete;

    // True when the child's set-up ran without an error.
    bool Ready() const { return ready_; }
    void Finish() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

private:
    pid_t pid_ = -1;
    bool ready_ = false;
};

}  // namespace kstest
