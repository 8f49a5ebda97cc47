#pragma once
// Which USB device the libusb device library talks to. The ids of the device are not
// fixed in the program: they come from $EDOG_USB_ID and from the file
// $XDG_CONFIG_HOME/edog/usb.conf (default ~/.config/edog/usb.conf), one device a line:
//
//   vid:pid[:interface[:out-ep:in-ep]]     e.g.  1d6b:0f17   or   1d6b:0f17:0:0x02:0x81
//
// vid and pid exactly four hex digits each, endpoint addresses one or two hex digits, each
// with at most one "0x" in front; the interface number in decimal. Without an interface the
// first vendor-specific one with a bulk OUT and a bulk IN endpoint is used; without
// endpoint addresses "PIPE00" and "PIPE01" are the interface's first two endpoints in
// descriptor order. '#' starts a comment. The variable's entry comes first.
//
// A line "detach-driver" (or $EDOG_USB_DETACH_DRIVER=1, which edogtool's --detach-driver
// sets) lets the library take a vendor-specific interface from a kernel driver bound to it.
// An interface of a standard class is never taken, whatever is configured.
//
// The file is read only when it is a regular file of at most kUsbConfigMaxBytes: a FIFO or
// device named there would block every program that looks for the device.
#include <cstdint>
#include <string>
#include <vector>

namespace edog {

constexpr const char* kUsbIdEnv = "EDOG_USB_ID";
constexpr const char* kUsbDetachEnv = "EDOG_USB_DETACH_DRIVER";
constexpr const char* kUsbDetachKey = "detach-driver";
constexpr uint64_t kUsbConfigMaxBytes = 64 * 1024;

struct UsbDeviceEntry {
  uint16_t vendor = 0, product = 0;
  int interfaceNumber = -1;  // -1: the first vendor-specific interface with bulk OUT and IN
  int outEndpoint = -1;      // -1: by descriptor order
  int inEndpoint = -1;
  std::string origin;        // "EDOG_USB_ID" or "<file>:<line>", for messages
};

struct UsbConfig {
  std::vector<UsbDeviceEntry> devices;
  std::vector<std::string> problems;  // what could not be read, with where it is
  bool detachDriver = false;          // a kernel driver may be detached from the interface
  bool Configured() const { return !devices.empty(); }
};

// One entry as written above; false with the reason in `error`.
bool ParseUsbDeviceEntry(const std::string& text, UsbDeviceEntry& entry, std::string* error);
// The configuration file's path.
std::string UsbConfigPath();
// $EDOG_USB_ID, then the file (a missing file is no problem).
UsbConfig LoadUsbConfig();
// Tells a user with nothing configured, in one sentence, how to name their device and (on
// Linux) let users open it.
std::string UsbConfigHint();
// How a user lets the library detach a kernel driver, for messages.
std::string UsbDetachHint();
// The udev rule template installed beside the programs (share/edog/udev/ next to bin/; the
// build copies it to the same place in the build folder).
std::string UdevRuleTemplatePath();

}  // namespace edog
