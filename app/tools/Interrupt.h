#pragma once
// Ctrl-C, SIGTERM and SIGHUP for the command-line tools: the handler only records which
// signal came, and the work loops poll it, so that each of them stops a tool the way its
// Cancel button or an error does (whole records kept, a change rolled back) rather than
// killing it halfway. The handler is installed without SA_RESTART, so a read waiting on a
// terminal or a pipe returns with EINTR and the tool notices the signal instead of waiting
// on; it stays installed, so a second signal while the tool stops does not kill it.

namespace KsTool {

// What a command returns when a signal stopped it; ExitStatus makes it 128 + the signal.
constexpr int kExitInterrupted = 130;

void InstallInterruptHandler();
// Whether one of the signals came.
bool Interrupted();
// The first signal that came, or 0.
int InterruptingSignal();
// The exit status to report for `status`: kExitInterrupted becomes 128 + the signal that
// came, as a shell reports a program that the signal killed; any other status stays.
int ExitStatus(int status);

}  // namespace KsTool
