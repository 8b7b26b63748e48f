#pragma once
// Ctrl-C for the command-line tools: the handler only sets a flag that the work loops poll.
// It is installed without SA_RESTART, so a read waiting on a terminal or a pipe returns
// with EINTR and the tool notices the interrupt instead of waiting on.

namespace KsTool {

constexpr int kExitInterrupted = 130;

void InstallInterruptHandler();
bool Interrupted();

}  // namespace KsTool
