#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "device/HandleIo.h"

namespace edog {
namespace {
int Fd(UsbHandle h) { return static_cast<int>(h); }
}  // namespace

bool HandleWrite(UsbHandle handle, const void* data, uint32_t size, uint32_t* written) {
  if (written) *written = 0;
  if (handle == USB_INVALID_HANDLE) return false;
  // send() so a pipe the device has shut answers EPIPE instead of raising SIGPIPE.
  ssize_t n = ::send(Fd(handle), data, size, MSG_NOSIGNAL);
  if (n < 0 && errno == ENOTSOCK) n = ::write(Fd(handle), data, size);
  if (n < 0 || static_cast<uint32_t>(n) != size) return false;
  if (written) *written = size;
  return true;
}

bool HandleRead(UsbHandle handle, void* data, uint32_t size, uint32_t* got) {
  if (got) *got = 0;
  if (handle == USB_INVALID_HANDLE) return false;
  const ssize_t n = ::read(Fd(handle), data, size);
  if (n < 0) return false;
  if (n == 0) {
    // An empty block, unless the other side has gone (then reads fail, as on a broken pipe).
    pollfd p{Fd(handle), 0, 0};
    if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR))) return false;
  }
  if (got) *got = static_cast<uint32_t>(n);
  return true;
}

bool HandleClose(UsbHandle handle) {
  if (handle == USB_INVALID_HANDLE) return false;
  return ::close(Fd(handle)) == 0;
}

}  // namespace edog
