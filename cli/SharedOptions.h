#pragma once
// Options more than one command takes, registered and read with one wording.
#include <cstdint>
#include <string>

#include "cli/Args.h"

namespace edog::cli {

// -m,--method N: the package's encryption method, 0..7.
void AddMethodOption(Args& args, std::string* text);
// False after the usage error has been shown.
bool ReadMethodOption(const Args& args, const std::string& text, int& method);

// The epilog of the commands that reach the device.
constexpr const char* kDeviceLibraryEpilog =
    "The device is reached through a device library beside the program: with --device sim\n"
    "libHaldenUSB, which talks to edog-sim (see 'edogtool sim --help'); with --device usb\n"
    "libHaldenUSB-usb, a real device over libusb, its ids from $EDOG_USB_ID or\n"
    "~/.config/edog/usb.conf (see 'edogtool usb-list --help').";

// --device usb|sim: the device library (device/DeviceLibraryChoice.h), and --detach-driver.
struct DeviceOptions {
  std::string device;
  bool detachDriver = false;
};
void AddDeviceOption(Args& args, DeviceOptions* options);
// The library's base name; false after the usage error has been shown. --detach-driver
// reaches the device library as $EDOG_USB_DETACH_DRIVER (device/UsbConfig.h), so it is
// read before any thread starts.
bool ReadDeviceOption(const Args& args, const DeviceOptions& options, std::string& library);

// -b,--baud RATE: 115200 or 57600.
void AddBaudOption(Args& args, std::string* text);
// False after the usage error has been shown.
bool ReadBaudOption(const Args& args, const std::string& text, uint32_t& baud);

}  // namespace edog::cli
