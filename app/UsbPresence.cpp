#include "app/UsbPresence.h"

#include "device/UsbLibraryApi.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace edog {

namespace {

void CloseDeviceHandle(UsbHandle handle) {
#ifdef _WIN32
  CloseHandle(handle);
#else
  ::close(static_cast<int>(handle));
#endif
}

}  // namespace

bool UsbPresence::Load(const std::string& nameOrPath) {
  library_ = DynamicLibrary::Load(nameOrPath);
  return Loaded();
}

bool UsbPresence::Probe() const {
  if (!library_) return false;
  const auto openDev = library_->Function<UsbOpenDevFn>("open_dev");
  if (!openDev) return false;
  const UsbHandle handle = openDev();
  if (handle == USB_INVALID_HANDLE) return false;
  CloseDeviceHandle(handle);
  return true;
}

}  // namespace edog
