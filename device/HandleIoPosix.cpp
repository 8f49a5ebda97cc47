#include <errno.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "common/Clock.h"
#include "device/DeviceEndStatus.h"
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

bool HandleConfirmStored(UsbHandle handle, uint32_t quietMs) {
  if (handle == USB_INVALID_HANDLE) return false;
  const int fd = Fd(handle);
  if (::shutdown(fd, SHUT_WR) != 0) return errno == ENOTSOCK;
  // A slow device is still reading what the socket holds: the wait is for its silence, so
  // it starts again whenever the bytes not yet taken shrink.
  int pending = -1;
  int64_t quietUntil = 0;
  for (;;) {
    const int64_t now = NowMs();
    int queued = 0;
    if (::ioctl(fd, SIOCOUTQ, &queued) != 0) queued = 0;
    if (pending < 0 || queued < pending) quietUntil = now + quietMs;
    pending = queued;
    if (now >= quietUntil) return false;
    pollfd p{fd, POLLIN, 0};
    const int r = ::poll(&p, 1, static_cast<int>(std::min<int64_t>(quietUntil - now, 100)));
    if (r < 0 && errno != EINTR) return false;
    if (r <= 0) continue;
    char message[64];
    const ssize_t n = ::recv(fd, message, sizeof message, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
    // The device's one answer, or its end without one (nothing stored for sure).
    return n > 0 && IsDeviceStoredStatus(message, static_cast<size_t>(n));
  }
}

BlockingReadBreaker::~BlockingReadBreaker() = default;

void BlockingReadBreaker::Watch(UsbHandle handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  handle_ = handle;
}

void BlockingReadBreaker::Break() {}

}  // namespace edog
