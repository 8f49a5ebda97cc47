#include <windows.h>

#include <cstring>

#include "device/DeviceSocket.h"
#include "device/HandleIo.h"

namespace edog {
namespace {

// The device library's own pipes for the host-to-device direction: the client end of a
// duplex message-mode named pipe, on which the library answers every block (a vendor
// driver's handle is no named pipe, and its writes complete only once the device has the
// data).
bool IsAnsweringPipe(HANDLE handle) {
  DWORD flags = 0;
  return ::GetNamedPipeInfo(handle, &flags, nullptr, nullptr, nullptr) &&
         (flags & PIPE_SERVER_END) == 0 && (flags & PIPE_TYPE_MESSAGE) != 0;
}

// Errors of a handle whose device end is gone for good (pipe closed, device unplugged).
bool PeerGone(DWORD error) {
  return error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA || error == ERROR_PIPE_NOT_CONNECTED ||
         error == ERROR_DEVICE_NOT_CONNECTED || error == ERROR_DEV_NOT_EXIST;
}

// The device's answer to the block just written (device/DeviceSocket.h): true when it
// took it. The library ends the pipe when the device goes or stays silent past its wait,
// which ends this read too (`gone` is set then). A pipe that cannot be read from (a library
// that does not answer) has nothing to wait for.
bool BlockTaken(HANDLE handle, bool& gone) {
  char answer[64] = {};
  DWORD got = 0;
  if (!::ReadFile(handle, answer, sizeof answer - 1, &got, nullptr)) {
    const DWORD error = ::GetLastError();
    gone = PeerGone(error);
    return error == ERROR_ACCESS_DENIED;
  }
  const size_t word = std::strlen(kDeviceBlockTaken);
  return got > word && std::memcmp(answer, kDeviceBlockTaken, word) == 0 && answer[word] == ' ';
}

}  // namespace

// USB_INVALID_HANDLE is also the current process's pseudo-handle, which the calls below
// would accept: refuse it first.

bool HandleWrite(UsbHandle handle, const void* data, uint32_t size, uint32_t* written,
                 bool* gone) {
  if (written) *written = 0;
  if (gone) *gone = false;
  if (handle == USB_INVALID_HANDLE) return false;
  DWORD n = 0;
  if (!::WriteFile(handle, data, size, &n, nullptr)) {
    if (gone) *gone = PeerGone(::GetLastError());
    return false;
  }
  if (n != size) {
    // Part of the block went: sending it again would store those bytes twice.
    if (written) *written = n;
    if (gone) *gone = n > 0;
    return false;
  }
  // Like a bulk write, done only once the device has the block, not when a buffer does.
  bool lost = false;
  if (IsAnsweringPipe(handle) && !BlockTaken(handle, lost)) {
    if (gone) *gone = lost;
    return false;
  }
  if (written) *written = size;
  return true;
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
