#include <windows.h>

#include "device/HandleIo.h"

namespace edog {

// USB_INVALID_HANDLE is also the current process's pseudo-handle, which the calls below
// would accept: refuse it first.

bool HandleWrite(UsbHandle handle, const void* data, uint32_t size, uint32_t* written) {
  if (written) *written = 0;
  if (handle == USB_INVALID_HANDLE) return false;
  DWORD n = 0;
  const BOOL ok = ::WriteFile(handle, data, size, &n, nullptr);
  if (written) *written = n;
  return ok && n == size;
}

bool HandleRead(UsbHandle handle, void* data, uint32_t size, uint32_t* got) {
  if (got) *got = 0;
  if (handle == USB_INVALID_HANDLE) return false;
  DWORD n = 0;
  const BOOL ok = ::ReadFile(handle, data, size, &n, nullptr);
  if (got) *got = n;
  return ok != FALSE;
}

bool HandleClose(UsbHandle handle) {
  return handle != USB_INVALID_HANDLE && ::CloseHandle(handle) != FALSE;
}

// A vendor driver completes a write only once the device took it; the stand-in's named
// pipes carry no status back, so there is nothing further to ask here.
bool HandleConfirmStored(UsbHandle handle, uint32_t /*quietMs*/) {
  return handle != USB_INVALID_HANDLE;
}

BlockingReadBreaker::~BlockingReadBreaker() {
  if (thread_) CloseHandle(thread_);
}

void BlockingReadBreaker::Watch(UsbHandle handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!thread_) {
    HANDLE self = nullptr;
    if (DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self,
                        THREAD_TERMINATE, FALSE, 0))
      thread_ = self;
  }
  handle_ = handle;
}

void BlockingReadBreaker::Break() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (handle_ == USB_INVALID_HANDLE) return;
  // Either may be what the handle's driver honours; a read not yet begun is caught by the
  // caller's next Break.
  if (thread_) CancelSynchronousIo(thread_);
  CancelIoEx(handle_, nullptr);
}

}  // namespace edog
