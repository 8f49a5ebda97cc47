#pragma once
// What edogtool adds to the not-connected message: which device library answered nothing,
// or was not there, and what plays the device behind it. Only the stand-in points at
// edog-sim. The device maker's library (on Windows the stand-in bears its file name, and
// the user's folder holds no simulator) and the real device's library speak of the device.
#include <string>

namespace edog {

class UsbLibrary;

struct NoDeviceFacts {
  std::string file;         // the library's file name: libHaldenUSB.so, HaldenUSB.dll
  std::string loadedPath;   // where it was loaded from; empty when it could not be
  bool standIn = false;     // edog-sim plays the device behind it
  bool makersFile = false;  // the file name is the device maker's (Windows)
  bool simOverTcp = false;  // the stand-in reaches edog-sim on its TCP port (Windows)
};

// This build's facts: `library` is the loaded library (null when it could not be loaded),
// `name` the base name it was chosen by (device/DeviceLibraryChoice.h).
NoDeviceFacts NoDeviceFactsOf(const UsbLibrary* library, const std::string& name);

std::string NoDeviceHint(const NoDeviceFacts& facts);

}  // namespace edog
