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
// `library` is the device library's base name (--device).
UsbSendOutcome SendOverUsb(UsbTransferTurns& turns, const std::string& path,
                           const std::string& label, bool trace, const std::string& library);

// When the device could not be reached, says why on stderr if anyone knows: the library's
// own word (no USB device configured, no permission, ...), or that the stand-in refused its
// socket (another user's, or open to other users' changes), naming the path and the fix.
// True when it said something.
bool ExplainDeviceRefusal(const char* command, const UsbLibrary* library);

// The aborted transfer's line: the device went, or stopped taking data.
std::string AbortedText(const UsbTransferResult& r);

}  // namespace edog::cli
