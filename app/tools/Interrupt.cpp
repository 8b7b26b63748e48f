#include "Interrupt.h"

#include <csignal>

namespace {

// Ctrl-C; kill's default and a service manager's stop; a closed terminal or ssh session.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile std::sig_atomic_t firstSignal = 0;

extern "C" void OnStopSignal(int number) {
    // The stop signals are blocked while this runs, so no other handler runs in between.
    if (firstSignal == 0) {
        firstSignal = number;
    }
}

bool IgnoredOnStart(int number) {
    struct sigaction current {};
    return sigaction(number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

}  // namespace

namespace KsTool {

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    // Unblocked, signals that come together would nest, and the handler of the last one
    // delivered would run first.
    sigemptyset(&action.sa_mask);
    for (int number : kStopSignals) {
        sigaddset(&action.sa_mask, number);
    }
    // Neither SA_RESTART (see the header) nor SA_RESETHAND.
    action.sa_flags = 0;
    for (int number : kStopSignals) {
        // A SIGTERM or SIGHUP that the parent ignored stays ignored: nohup relies on it.
        // Ctrl-C is caught in any case.
        if (number != SIGINT && IgnoredOnStart(number)) {
            continue;
        }
        sigaction(number, &action, nullptr);
    }
}

bool Interrupted() {
    return firstSignal != 0;
}

int InterruptingSignal() {
    return firstSignal;
}

int ExitStatus(int status) {
    return status == kExitInterrupted && Interrupted() ? 128 + InterruptingSignal() : status;
}

}  // namespace KsTool
