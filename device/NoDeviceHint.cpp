#include "device/NoDeviceHint.h"

#include "common/DynamicLibrary.h"
#include "device/UsbLibrary.h"
#include "device/UsbLibraryApi.h"

namespace edog {

NoDeviceFacts NoDeviceFactsOf(const UsbLibrary* library, const std::string& name) {
  NoDeviceFacts facts;
  facts.file = DynamicLibrary::PlatformFileName(name);
#ifdef _WIN32
  // HaldenUSB.dll is the device maker's file; only a loaded stand-in says it is one.
  facts.makersFile = name == USB_LIBRARY_NAME;
  facts.simOverTcp = true;
  facts.standIn = library && library->StandIn();
#else
  // Here the name tells: libHaldenUSB.so is the stand-in, the real device has its own.
  facts.standIn = library ? library->StandIn() : name == USB_LIBRARY_NAME;
#endif
  if (library) facts.loadedPath = library->Path();
  return facts;
}

std::string NoDeviceHint(const NoDeviceFacts& facts) {
  if (facts.loadedPath.empty()) {
    if (facts.makersFile && !facts.standIn)
      return "the device maker's " + facts.file +
             " is neither beside the program nor in the system folder: unpack the program "
             "into the folder that holds it";
    return "the device library " + facts.file +
           " could not be loaded (it belongs beside the program)" +
           (facts.standIn ? "; edog-sim plays the device behind it" : "");
  }
  if (facts.standIn)
    return "no device answered through " + facts.loadedPath +
           "; edog-sim plays the device: start it " +
           (facts.simOverTcp ? "with --tcp" : "(edog-sim, or edogtool sim)") + " and run again";
  return "no USB device answered through " + facts.loadedPath +
         (facts.makersFile ? " (the device maker's library): attach the device and run again"
                           : "");
}

}  // namespace edog
