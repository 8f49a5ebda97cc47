#pragma once
// Stop requests for the commands that make temporary files or talk to the device: Ctrl-C,
// SIGTERM (timeout, a service stop) and SIGHUP (a closed terminal) all set one flag, the
// job then stops after its current block and cleans up like Esc in the window, and the
// command exits 128 + the signal (130, 143, 129). A second request ends the process at
// once. One file per OS behind this header (InterruptPosix.cpp, InterruptWin32.cpp); the
// flag itself lives in Interrupt.cpp.
#include <atomic>

namespace edog::cli {

void InstallInterruptHandler();
bool Interrupted();
std::atomic<bool>& InterruptFlag();
// The exit status for the request that came (130 when none came: the flag set by hand).
int InterruptExitCode();

namespace interrupt_os {
// Called once by InstallInterruptHandler; the handlers call RequestStop.
void Install();
}  // namespace interrupt_os
// Async-signal-safe: records the signal and sets the flag, or ends the process at the
// second request.
void RequestStop(int signalNumber);

}  // namespace edog::cli
