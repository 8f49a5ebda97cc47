#pragma once
/* C interface of the USB device library ("HaldenUSB"): loaded at run time by name, two
 * exports with C linkage. On POSIX a handle is a file descriptor widened to intptr_t; on
 * Windows it is a HANDLE. Both use -1 for "no device / no pipe". */
#include <stdint.h>

#ifdef _WIN32
typedef void* UsbHandle;
#define USB_LIBRARY_CALL __cdecl
#else
typedef intptr_t UsbHandle;
#define USB_LIBRARY_CALL
#endif

#define USB_INVALID_HANDLE ((UsbHandle)(intptr_t)-1)

#define USB_LIBRARY_NAME "HaldenUSB"
#define USB_PIPE_OUT "PIPE00" /* host to device, written only */
#define USB_PIPE_IN "PIPE01"  /* device to host, read only */

#ifdef __cplusplus
extern "C" {
#endif
/* A handle to the attached device, or USB_INVALID_HANDLE. Answers promptly. */
typedef UsbHandle(USB_LIBRARY_CALL* UsbOpenDevFn)(void);
/* A handle on a named pipe for synchronous reads/writes, or USB_INVALID_HANDLE. */
typedef UsbHandle(USB_LIBRARY_CALL* UsbOpenFileFn)(const char* pipeName);
#ifdef __cplusplus
}
#endif
