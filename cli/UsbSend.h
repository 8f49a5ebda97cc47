#pragma once
// One USB transfer with the terminal's progress display, shared by the commands that send
// files to the device. Ctrl-C (InstallInterruptHandler) cancels it like Esc in the window.
#include <memory>
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
// The same for a file already open (update's extracted files), read through its handle.
UsbSendOutcome SendOverUsb(UsbTransferTurns& turns, const KeptFile& file,
                           const std::string& label, bool trace, const std::string& library);

// When the device could not be reached, says why on stderr if anyone knows: the library's
// own word (no USB device configured, no permission, ...), or that the stand-in refused its
// socket (another user's, or open to other users' changes), naming the path and the fix.
// True when it said something.
bool ExplainDeviceRefusal(const char* command, const UsbLibrary* library);

// The aborted transfer's line: the device went, or stopped taking data.
std::string AbortedText(const UsbTransferResult& r);

// After "Can't open USB device.": the device's refusal (ExplainDeviceRefusal), else why
// a library that is there could not be loaded or lacks an export (`why` from
// UsbLibrary::Load), on stderr.
void ExplainCantOpen(const char* command, const UsbLibrary* library, const std::string& why);

// The help texts' words for how the device is reached, with this platform's file name
// ("HaldenUSB.dll" on Windows) and where its simulator is.
std::string UsbLibraryHelpText();

}  // namespace edog::cli
