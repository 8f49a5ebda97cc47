#include "device/DeviceLibraryChoice.h"

#include <cstdlib>

#include "common/DynamicLibrary.h"
#include "common/Files.h"
#include "device/UsbConfig.h"
#include "device/UsbLibraryApi.h"

namespace edog {

std::string ProgramFolderDefaultDevice() {
  return FileExists(ProgramDirectory() + kSimulatorFolderMark) ? "sim" : "usb";
}

DeviceLibraryChoice ChooseDeviceLibrary(const std::string& option) {
  return ChooseDeviceLibrary(option, ProgramFolderDefaultDevice());
}

DeviceLibraryChoice ChooseDeviceLibrary(const std::string& option, const std::string& folderDefault) {
  std::string name = option;
  std::string from = "--device";
  if (name.empty()) {
    const char* env = std::getenv(kDeviceLibraryEnv);
    name = env ? env : "";
    from = kDeviceLibraryEnv;
  }
  std::string notice;
  if (name.empty()) {
    const UsbConfig config = LoadUsbConfig();
    name = config.Configured() ? "usb" : folderDefault;
    // A configuration that could not be read must not pass for none without a word.
    for (const std::string& p : config.problems) notice += (notice.empty() ? "" : "; ") + p;
    if (!notice.empty()) notice = "the USB configuration has errors: " + notice;
  }
  if (name == "sim") return {USB_LIBRARY_NAME, {}, notice};
#ifdef _WIN32
  // The vendor's own library takes the stand-in's place there.
  if (name == "usb") return {USB_LIBRARY_NAME, {}, notice};
#else
  if (name == "usb") return {kUsbDeviceLibraryName, {}, notice};
#endif
  return {{}, from + " takes 'usb' or 'sim', not '" + name + "'", {}};
}

}  // namespace edog
