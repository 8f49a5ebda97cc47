#pragma once
// Which device library the programs load: "sim", the stand-in that talks to the device
// simulator, or "usb", the library that reaches a real device over libusb. Chosen by
// --device, else $EDOG_DEVICE_LIBRARY, else "usb" when a USB device is configured
// (device/UsbConfig.h) and "sim" when none is.
#include <string>

namespace edog {

constexpr const char* kDeviceLibraryEnv = "EDOG_DEVICE_LIBRARY";
constexpr const char* kUsbDeviceLibraryName = "HaldenUSB-usb";

struct DeviceLibraryChoice {
  std::string library;  // base name for UsbLibrary::Load; empty when `error` says why
  std::string error;
  std::string notice;   // what in the USB configuration the default choice could not read
};

// `option` is the --device value ("" when not given).
DeviceLibraryChoice ChooseDeviceLibrary(const std::string& option);

}  // namespace edog
