// Stand-in device library: "open_dev" and "open_file" with C linkage. The device is the
// simulator listening on a local SOCK_SEQPACKET socket (path rule in DeviceSocket.h);
// every handle is a connected socket, so one write is one device block, taken whole or
// not at all, and answered by the device once taken. A socket that another user could
// have put there, or that another user's process listens on, is refused: the device is
// absent then (DeviceSocketTrust.h).
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "common/Clock.h"
#include "common/UniqueFd.h"
#include "device/DeviceSocket.h"
#include "device/DeviceSocketTrust.h"
#include "device/UsbLibraryApi.h"

#define EDOG_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using edog::NowMs;
using edog::UniqueFd;

constexpr int kProbeBudgetMs = 40;      // open_dev must answer within 50 ms, with room to spare
constexpr int kOpenBudgetMs = 1000;     // a pipe open may wait a little longer
constexpr int kOutBufferBytes = 16384;  // the device's receive buffer: small, like an endpoint FIFO
constexpr int kReadTimeoutMs = 200;     // a read with nothing to read fails after this

// Connects to the simulator and asks for `name`; the socket on "OK", else none.
UniqueFd OpenNamed(const char* name, int budgetMs) {
  const int64_t deadline = NowMs() + budgetMs;
  const std::string path = edog::DefaultDeviceSocketPath();
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof(addr.sun_path)) return UniqueFd();
  if (!edog::DeviceSocketPathProblem(path).empty()) return UniqueFd();
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);

  UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.IsValid()) return UniqueFd();
  // A local connect either completes at once or fails (no listener, backlog full).
  if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0)
    return UniqueFd();
  // Checked on the connection itself: whatever the path showed a moment ago, this is who
  // would receive the blocks.
  if (!edog::DeviceSocketPeerProblem(fd.Get(), path).empty()) return UniqueFd();
  const std::string request = std::string(edog::kDeviceOpenPrefix) + name;
  if (::send(fd.Get(), request.data(), request.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(request.size()))
    return UniqueFd();
  char answer[16];
  for (;;) {
    const int64_t left = deadline - NowMs();
    if (left <= 0) break;
    pollfd p{fd.Get(), POLLIN, 0};
    const int r = ::poll(&p, 1, static_cast<int>(left));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    const ssize_t n = ::recv(fd.Get(), answer, sizeof(answer), 0);
    if (n == static_cast<ssize_t>(std::strlen(edog::kDeviceAnswerOk)) &&
        std::memcmp(answer, edog::kDeviceAnswerOk, static_cast<size_t>(n)) == 0) {
      return fd;
    }
    break;
  }
  return UniqueFd();
}

bool SetBlocking(int fd, bool blocking) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  return ::fcntl(fd, F_SETFL, blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK)) == 0;
}

}  // namespace

// Tells the programs that edog-sim plays the device behind this library.
EDOG_EXPORT int edog_stand_in(void) { return 1; }

EDOG_EXPORT UsbHandle open_dev(void) {
  UniqueFd fd = OpenNamed(edog::kDeviceProbeName, kProbeBudgetMs);
  return fd.IsValid() ? static_cast<UsbHandle>(fd.Release()) : USB_INVALID_HANDLE;
}

EDOG_EXPORT UsbHandle open_file(const char* pipeName) {
  if (!pipeName || !*pipeName) return USB_INVALID_HANDLE;
  UniqueFd fd = OpenNamed(pipeName, kOpenBudgetMs);
  if (!fd.IsValid()) return USB_INVALID_HANDLE;
  if (std::strcmp(pipeName, USB_PIPE_IN) == 0) {
    // Reads wait a while for the next device block, then fail so the caller can look
    // at its own flags again.
    timeval tv{kReadTimeoutMs / 1000, (kReadTimeoutMs % 1000) * 1000};
    if (!SetBlocking(fd.Get(), true) ||
        ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv)) != 0)
      return USB_INVALID_HANDLE;
  } else {
    // Writes never wait for room: a block the device has no room for fails at once. The
    // device answers each block it takes, and the handle layer's write returns only with
    // that answer (device/DeviceSocket.h).
    const int size = kOutBufferBytes;
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_SNDBUF, &size, sizeof(size));
  }
  return static_cast<UsbHandle>(fd.Release());
}
