#include <signal.h>

#include <initializer_list>

#include "cli/Interrupt.h"

namespace edog::cli::interrupt_os {
namespace {
extern "C" void OnStopSignal(int signalNumber) { RequestStop(signalNumber); }
}  // namespace

void Install() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // Restarted calls: a wait in progress ends at its own time-out and then sees the flag.
  action.sa_flags = SA_RESTART;
  for (const int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
}

}  // namespace edog::cli::interrupt_os
