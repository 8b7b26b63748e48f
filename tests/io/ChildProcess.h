#pragma once
// Runs test code in a forked child process, for checks that only another process can
// make (byte-range locks). The child must not touch GoogleTest; it reports through its
// exit status.

#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace kstest {

// Runs `body` in a child and returns what it returned (its exit status), or -1 when the
// child died otherwise.
inline int RunInChild(const std::function<int()>& body) {
    pid_t pid = fork();
    if (pid == 0) {
        int result = 99;
        try {
            result = body();
        } catch (...) {
        }
        _exit(result);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

// A child that runs `setUp` (for example takes a lock), then waits until Finish() or
// destruction lets it end. The parent meanwhile sees what the child holds.
class HoldingChild {
public:
    explicit HoldingChild(const std::function<void()>& setUp) {
        int ready[2];
        if (pipe(ready) != 0 || pipe(release_) != 0) {
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            char c = 1;
            try {
                setUp();
            } catch (...) {
                c = 0;
            }
            (void)!write(ready[1], &c, 1);
            close(release_[1]);
            (void)!read(release_[0], &c, 1);
            _exit(0);
        }
        close(ready[1]);
        close(release_[0]);
        char c = 0;
        ready_ = read(ready[0], &c, 1) == 1 && c == 1;
        close(ready[0]);
    }
    ~HoldingChild() { Finish(); }
    HoldingChild(const HoldingChild&) = delete;
    HoldingChild& operator=(const HoldingChild&) = delete;

    // True when the child's set-up ran without an error.
    bool Ready() const { return ready_; }
    void Finish() {
        if (pid_ > 0) {
            close(release_[1]);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

private:
    pid_t pid_ = -1;
    int release_[2] = {-1, -1};
    bool ready_ = false;
};

}  // namespace kstest
