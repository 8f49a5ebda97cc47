#include "device/DeviceLibraryChoice.h"

#include <cstdlib>

#include "device/UsbConfig.h"
#include "device/UsbLibraryApi.h"

namespace edog {

DeviceLibraryChoice ChooseDeviceLibrary(const std::string& option) {
  std::string name = option;
  std::string from = "--device";
  if (name.empty()) {
    const char* env = std::getenv(kDeviceLibraryEnv);
    name = env ? env : "";
    from = kDeviceLibraryEnv;
  }
  if (name.empty()) name = LoadUsbConfig().Configured() ? "usb" : "sim";
  if (name == "sim") return {USB_LIBRARY_NAME, {}};
#ifdef _WIN32
  // The vendor's own library takes the stand-in's place there.
  if (name == "usb") return {USB_LIBRARY_NAME, {}};
#else
  if (name == "usb") return {kUsbDeviceLibraryName, {}};
#endif
  return {{}, from + " takes 'usb' or 'sim', not '" + name + "'"};
}

}  // namespace edog
