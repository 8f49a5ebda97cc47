#include <errno.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "common/Clock.h"
#include "device/DeviceEndStatus.h"
#include "device/DeviceSocket.h"
#include "device/HandleIo.h"

namespace edog {
namespace {
int Fd(UsbHandle h) { return static_cast<int>(h); }

// A pipe of the device library: a packet socket connected to the device's named socket
// (a socket pair or a plain pipe has no device behind it to answer).
bool IsDevicePipe(int fd) {
  int type = 0;
  socklen_t len = sizeof type;
  if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) != 0 || type != SOCK_SEQPACKET)
    return false;
  sockaddr_un peer{};
  len = sizeof peer;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len) != 0) return false;
  return peer.sun_family == AF_UNIX && len > offsetof(sockaddr_un, sun_path) + 1 &&
         peer.sun_path[0] != '\0';
}

// Whether a write's error means the device end is gone for good (closed, reset, unplugged).
// EPIPE alone does not: a device that stops taking data shuts only its reading side, and
// still answers; it is gone when the socket has nothing more to read either.
bool PeerGone(int fd, int error) {
  if (error == ECONNRESET || error == ENOTCONN || error == ENODEV || error == ESHUTDOWN) return true;
  if (error != EPIPE) return false;
  char byte;
  const ssize_t n = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  if (n < 0 && errno == ENOTSOCK) return true;  // a plain pipe whose reader has closed
  return n == 0 || (n < 0 && errno == ECONNRESET);
}

enum class BlockAnswer { kTaken, kRefused, kGone };

// The device's answer to the block just sent (device/DeviceSocket.h). A device that drops
// the block has refused it (it may take the next try); one that closed the pipe, or stays
// silent (the pipe is shut then, so that the block cannot arrive after its retry), is gone.
BlockAnswer BlockTaken(int fd) {
  const int64_t deadline = NowMs() + kDeviceBlockAnswerMs;
  for (;;) {
    const int64_t left = deadline - NowMs();
    if (left <= 0) break;
    pollfd p{fd, POLLIN, 0};
    const int r = ::poll(&p, 1, static_cast<int>(left));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    char answer[64];
    const ssize_t n = ::recv(fd, answer, sizeof answer, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
    if (n == 0 || (n < 0 && (errno == ECONNRESET || errno == ENOTCONN))) return BlockAnswer::kGone;
    const size_t word = std::strlen(kDeviceBlockTaken);
    return n > static_cast<ssize_t>(word) && std::memcmp(answer, kDeviceBlockTaken, word) == 0 &&
                   answer[word] == ' '
               ? BlockAnswer::kTaken
               : BlockAnswer::kRefused;
  }
  ::shutdown(fd, SHUT_RDWR);
  return BlockAnswer::kGone;
}
}  // namespace

bool HandleWrite(UsbHandle handle, const void* data, uint32_t size, uint32_t* written,
                 bool* gone) {
  if (written) *written = 0;
  if (gone) *gone = false;
  if (handle == USB_INVALID_HANDLE) return false;
  // send() so a pipe the device has shut answers EPIPE instead of raising SIGPIPE.
  ssize_t n = ::send(Fd(handle), data, size, MSG_NOSIGNAL);
  if (n < 0 && errno == ENOTSOCK) n = ::write(Fd(handle), data, size);
  if (n < 0) {
    if (gone) *gone = PeerGone(Fd(handle), errno);
    return false;
  }
  if (static_cast<uint32_t>(n) != size) {
    // Part of the block went: sending it again would store those bytes twice.
    if (written) *written = static_cast<uint32_t>(n);
    if (gone) *gone = n > 0;
    return false;
  }
  // Like a bulk write, done only once the device has the block, not when a buffer does.
  if (IsDevicePipe(Fd(handle))) {
    const BlockAnswer answer = BlockTaken(Fd(handle));
    if (answer != BlockAnswer::kTaken) {
      if (gone) *gone = answer == BlockAnswer::kGone;
      return false;
    }
  }
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
