#include "cli/Interrupt.h"

#include <cstdlib>

#include "cli/Command.h"

namespace edog::cli {
namespace {
std::atomic<int>& StopSignal() {
  static std::atomic<int> signalNumber{0};
  return signalNumber;
}
}  // namespace

std::atomic<bool>& InterruptFlag() {
  static std::atomic<bool> flag{false};
  return flag;
}

void RequestStop(int signalNumber) {
  int none = 0;
  StopSignal().compare_exchange_strong(none, signalNumber);
  if (InterruptFlag().exchange(true)) std::_Exit(128 + signalNumber);
}

void InstallInterruptHandler() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  interrupt_os::Install();
}

bool Interrupted() { return InterruptFlag().load(); }

int InterruptExitCode() {
  const int s = StopSignal().load();
  return s > 0 ? 128 + s : kExitInterrupted;
}

}  // namespace edog::cli
