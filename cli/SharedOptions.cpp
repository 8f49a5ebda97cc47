#include "cli/SharedOptions.h"

#include <cstdio>

#include "cli/SerialSend.h"
#include "common/Files.h"
#include "device/DeviceLibraryChoice.h"
#include "device/UsbConfig.h"

namespace edog::cli {

void AddMethodOption(Args& args, std::string* text) {
  args.Option("-m,--method", text, "N", "encryption method 0..7 (default 3)");
}

bool ReadMethodOption(const Args& args, const std::string& text, int& method) {
  uint32_t m = 0;
  if (!ParseUnsigned(text, m) || m > 7) {
    args.UsageError("--method takes a number from 0 to 7");
    return false;
  }
  method = static_cast<int>(m);
  return true;
}

void AddDeviceOption(Args& args, DeviceOptions* options) {
  args.Option("--device", &options->device, "usb|sim",
              "device library: 'usb' a real device over libusb, 'sim' the simulator's stand-in "
              "(default: $EDOG_DEVICE_LIBRARY, else usb; sim in the build folder while no USB device "
              "is configured)");
  args.Flag("--detach-driver", &options->detachDriver,
            "with --device usb: take the device's vendor-specific interface from a kernel driver "
            "bound to it (never a standard one such as mass storage)");
}

bool ReadDeviceOption(const Args& args, const DeviceOptions& options, std::string& library) {
  if (options.detachDriver) SetEnvironmentValue(kUsbDetachEnv, "1");
  const DeviceLibraryChoice choice = ChooseDeviceLibrary(options.device);
  if (!choice.error.empty()) {
    args.UsageError(choice.error);
    return false;
  }
  if (!choice.notice.empty()) std::fprintf(stderr, "%s: %s\n", args.Command().c_str(), choice.notice.c_str());
  library = choice.library;
  return true;
}

void AddBaudOption(Args& args, std::string* text) {
  args.Option("-b,--baud", text, "RATE", "115200 (default) or 57600");
}

bool ReadBaudOption(const Args& args, const std::string& text, uint32_t& baud) {
  if (ParseBaud(text, baud)) return true;
  args.UsageError("--baud takes 115200 or 57600");
  return false;
}

}  // namespace edog::cli
