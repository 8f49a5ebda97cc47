#pragma once
// The few file-handle calls the device code makes on pipe handles of the device library,
// one file per OS behind this header (a file descriptor here, a HANDLE on Windows).
#include <cstdint>
#include <mutex>

#include "device/UsbLibraryApi.h"

namespace edog {

// True only when the whole block was accepted; `written` gets the count accepted. A failed
// write sets `gone` (when given) where no retry can succeed: the device end has closed or
// broken the pipe, or stayed silent until the pipe was shut, or took only part of the block
// (`written` then says how much; the block must not be sent again).
bool HandleWrite(UsbHandle handle, const void* data, uint32_t size, uint32_t* written,
                 bool* gone = nullptr);
// One device block of at most `size` bytes; true with its length (which may be 0).
// A peer that has gone away is a failure, not an empty block.
bool HandleRead(UsbHandle handle, void* data, uint32_t size, uint32_t* got);
bool HandleClose(UsbHandle handle);
// After the last block of a download: ends the host-to-device stream and waits for the
// device's word that it stored everything (device/DeviceEndStatus.h). True when it did;
// false when it says otherwise, goes away, or takes nothing more and stays silent for
// `quietMs`. A handle with no device end to ask (not a device socket) counts as true.
// The handle stays open; close it as usual.
bool HandleConfirmStored(UsbHandle handle, uint32_t quietMs);

// Lets another thread end a read that waits on a library handle: a vendor's "PIPE01" may
// block until the device says something, and a reader asked to stop must still end.
// Windows: CancelSynchronousIo on the reading thread and CancelIoEx on the handle. POSIX:
// nothing to break (the device library's reads end after their time-out).
class BlockingReadBreaker {
 public:
  BlockingReadBreaker() = default;
  ~BlockingReadBreaker();
  BlockingReadBreaker(const BlockingReadBreaker&) = delete;
  BlockingReadBreaker& operator=(const BlockingReadBreaker&) = delete;
  // On the reading thread: the handle it is about to read (USB_INVALID_HANDLE after the
  // read, before the handle may be closed).
  void Watch(UsbHandle handle);
  // From any thread: ends the watched read, if one is waiting.
  void Break();

 private:
  std::mutex mutex_;
  UsbHandle handle_ = USB_INVALID_HANDLE;
  void* thread_ = nullptr;  // Windows: the reading thread's handle
};

}  // namespace edog
