#pragma once
// The few file-handle calls the device code makes on pipe handles of the device library,
// one file per OS behind this header (a file descriptor here, a HANDLE on Windows).
#include <cstdint>

#include "device/UsbLibraryApi.h"

namespace edog {

// True only when the whole block was accepted; `written` gets the count accepted.
bool HandleWrite(UsbHandle handle, const void* data, uint32_t size, uint32_t* written);
// One device block of at most `size` bytes; true with its length (which may be 0).
// A peer that has gone away is a failure, not an empty block.
bool HandleRead(UsbHandle handle, void* data, uint32_t size, uint32_t* got);
bool HandleClose(UsbHandle handle);

}  // namespace edog
