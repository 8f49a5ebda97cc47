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

/* Optional exports of a library whose handles are not the system's file handles (the
 * libusb library). When "edog_handle_write", "edog_handle_read" and "edog_handle_close" are
 * all present, every handle of the library goes through them instead of the file calls.
 * Write and read answer USB_IO_DONE, USB_IO_FAILED (try again) or USB_IO_GONE (the device
 * has gone or stopped answering: no retry will help). A write the device took only in part
 * answers USB_IO_GONE with `written` set to the part it took. */
#define USB_IO_DONE 1
#define USB_IO_FAILED 0
#define USB_IO_GONE (-1)
typedef int(USB_LIBRARY_CALL* UsbHandleWriteFn)(UsbHandle handle, const void* data,
                                                uint32_t size, uint32_t* written);
typedef int(USB_LIBRARY_CALL* UsbHandleReadFn)(UsbHandle handle, void* data, uint32_t size,
                                               uint32_t* got);
typedef int(USB_LIBRARY_CALL* UsbHandleCloseFn)(UsbHandle handle);
/* Optional: why the last open found no device, as one line of text for the user (empty when
 * there is nothing to say); and the attached devices with their bulk endpoints, one a line.
 * Both copy at most `size` bytes with a terminating zero and answer the full length. */
typedef uint32_t(USB_LIBRARY_CALL* UsbTextFn)(char* text, uint32_t size);
/* Exported only by the stand-in that edog-sim answers: the programs then point at the
 * simulator when no device answers, and otherwise speak of the device alone (on Windows the
 * stand-in and the device maker's library share the file name). Answers 1. */
#define USB_STAND_IN_EXPORT "edog_stand_in"
typedef int(USB_LIBRARY_CALL* UsbStandInFn)(void);
#ifdef __cplusplus
}
#endif
