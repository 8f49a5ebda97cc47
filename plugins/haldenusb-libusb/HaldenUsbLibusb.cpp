// The device library for a real device on Linux: the two exports of the stand-in, over
// libusb, plus the handle calls the core looks up (device/UsbLibraryApi.h), since a libusb
// handle is no file descriptor. Which device is configured: device/UsbConfig.h.
#include <algorithm>
#include <cstring>
#include <string>

#include "device/UsbLibraryApi.h"
#include "plugins/haldenusb-libusb/UsbLink.h"

#define EDOG_EXPORT extern "C" __attribute__((visibility("default")))

using edog::usb::UsbLink;

namespace {
uint32_t CopyText(const std::string& text, char* out, uint32_t size) {
  if (out && size > 0) {
    const size_t n = std::min<size_t>(text.size(), size - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
  }
  return static_cast<uint32_t>(text.size());
}
}  // namespace

EDOG_EXPORT UsbHandle open_dev(void) { return UsbLink::Instance().OpenDev(); }

EDOG_EXPORT UsbHandle open_file(const char* pipeName) {
  return UsbLink::Instance().OpenPipe(pipeName);
}

EDOG_EXPORT int edog_handle_write(UsbHandle handle, const void* data, uint32_t size,
                                  uint32_t* written) {
  return UsbLink::Instance().Write(handle, data, size, written);
}

EDOG_EXPORT int edog_handle_read(UsbHandle handle, void* data, uint32_t size, uint32_t* got) {
  return UsbLink::Instance().Read(handle, data, size, got);
}

EDOG_EXPORT int edog_handle_close(UsbHandle handle) { return UsbLink::Instance().Close(handle); }

EDOG_EXPORT uint32_t edog_usb_problem(char* text, uint32_t size) {
  return CopyText(UsbLink::Instance().Problem(), text, size);
}

EDOG_EXPORT uint32_t edog_usb_list(char* text, uint32_t size) {
  return CopyText(UsbLink::Instance().DeviceList(), text, size);
}
