#include <windows.h>

#include "device/HandleIo.h"

namespace edog {

bool HandleWrite(UsbHandle handle, const void* data, uint32_t size, uint32_t* written) {
  DWORD n = 0;
  const BOOL ok = ::WriteFile(handle, data, size, &n, nullptr);
  if (written) *written = n;
  return ok && n == size;
}

bool HandleRead(UsbHandle handle, void* data, uint32_t size, uint32_t* got) {
  DWORD n = 0;
  const BOOL ok = ::ReadFile(handle, data, size, &n, nullptr);
  if (got) *got = n;
  return ok != FALSE;
}

bool HandleClose(UsbHandle handle) { return ::CloseHandle(handle) != FALSE; }

}  // namespace edog
