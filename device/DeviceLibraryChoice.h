#pragma once
// Which device library the programs load: "sim", the stand-in that talks to the device
// simulator, or "usb", the library that reaches a real device over libusb. Chosen by
// --device, else $EDOG_DEVICE_LIBRARY, else "usb" when a USB device is configured
// (device/UsbConfig.h), else the program folder's default: "sim" where the build marked the
// folder as its own (kSimulatorFolderMark: the build tree's runs and tests talk to
// edog-sim), "usb" everywhere else, so that an installed program reaches the real device.
#include <string>

namespace edog {

constexpr const char* kDeviceLibraryEnv = "EDOG_DEVICE_LIBRARY";
constexpr const char* kUsbDeviceLibraryName = "HaldenUSB-usb";
// A file of this name beside the program makes the simulator the folder's default device.
// The build writes it into its bin/ folder; nothing installs it.
constexpr const char* kSimulatorFolderMark = "edog-sim-default";

struct DeviceLibraryChoice {
  std::string library;  // base name for UsbLibrary::Load; empty when `error` says why
  std::string error;
  std::string notice;   // what in the USB configuration the default choice could not read
};

// `option` is the --device value ("" when not given).
DeviceLibraryChoice ChooseDeviceLibrary(const std::string& option);
// The same with the program folder's default given ("sim" or "usb"), for tests.
DeviceLibraryChoice ChooseDeviceLibrary(const std::string& option, const std::string& folderDefault);
// "sim" when the program's folder holds kSimulatorFolderMark, else "usb".
std::string ProgramFolderDefaultDevice();

}  // namespace edog
