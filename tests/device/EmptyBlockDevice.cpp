// A device library whose handles are the null device: every PIPE01 read succeeds at once
// with no bytes, as a device with nothing to say may answer. For the text reader's pace.
#ifdef _WIN32
#include <windows.h>
#define EMPTY_EXPORT extern "C" __declspec(dllexport)
#else
#include <fcntl.h>
#define EMPTY_EXPORT extern "C" __attribute__((visibility("default")))
#endif

#include "device/UsbLibraryApi.h"

namespace {
UsbHandle OpenNull() {
#ifdef _WIN32
  return CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, OPEN_EXISTING, 0, nullptr);
#else
  const int fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  return fd < 0 ? USB_INVALID_HANDLE : static_cast<UsbHandle>(fd);
#endif
}
}  // namespace

EMPTY_EXPORT UsbHandle USB_LIBRARY_CALL open_dev(void) { return OpenNull(); }
EMPTY_EXPORT UsbHandle USB_LIBRARY_CALL open_file(const char*) { return OpenNull(); }
