#include "cli/SharedOptions.h"

#include "cli/SerialSend.h"
#include "device/DeviceLibraryChoice.h"

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

void AddDeviceOption(Args& args, std::string* text) {
  args.Option("--device", text, "usb|sim",
              "device library: 'usb' a real device over libusb, 'sim' the simulator's stand-in "
              "(default: $EDOG_DEVICE_LIBRARY, else usb; sim in the build folder while no USB device "
              "is configured)");
}

bool ReadDeviceOption(const Args& args, const std::string& text, std::string& library) {
  const DeviceLibraryChoice choice = ChooseDeviceLibrary(text);
  if (choice.error.empty()) {
    library = choice.library;
    return true;
  }
  args.UsageError(choice.error);
  return false;
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
