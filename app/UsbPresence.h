#pragma once
// The main window's hold on the USB device library and its presence probe: "open_dev"
// answers a handle while a device is attached, and the handle is closed again at once.
#include <memory>
#include <string>

#include "common/DynamicLibrary.h"

namespace edog {

class UsbPresence {
 public:
  // Loads the library by base name ("HaldenUSB", program folder first) or by path.
  // A failed load is not an error here: every probe then answers "absent".
  bool Load(const std::string& nameOrPath);
  bool Loaded() const { return library_ != nullptr; }
  // Drops the library (the exit button does this before closing the window).
  void Release() { library_.reset(); }

  // True when the device answered. A missing library or export counts as absent.
  bool Probe() const;

 private:
  std::unique_ptr<DynamicLibrary> library_;
};

}  // namespace edog
