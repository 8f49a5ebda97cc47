#pragma once
// One USB transfer with the terminal's progress display, shared by the commands that send
// files to the device. Ctrl-C (InstallInterruptHandler) cancels it like Esc in the window.
#include <string>

#include "device/UsbTransfer.h"

namespace edog::cli {

struct UsbSendOutcome {
  UsbSetupStatus setup = UsbSetupStatus::kReady;  // anything else: nothing was sent
  std::string setupMessage;
  UsbTransferResult result;
  bool started = true;  // false: no thread for the transfer (the reason went to stderr)
};

// Prints the info line, a bar (or plain 10 % lines) and the summary to stdout; with
// `trace`, every pipe write to stderr. The transfer takes its turn in the command's `turns`.
UsbSendOutcome SendOverUsb(UsbTransferTurns& turns, const std::string& path,
                           const std::string& label, bool trace);

// When the device could not be reached because the library refused its socket (another
// user's, or open to other users' changes), says why on stderr, naming the path and the
// fix. True when it said something.
bool ExplainDeviceRefusal(const char* command);

}  // namespace edog::cli
