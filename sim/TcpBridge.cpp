#include "sim/TcpBridge.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

#include "common/ThreadStart.h"
#include "device/DeviceTcp.h"

namespace edog::sim {
namespace {

bool SendAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool ReceiveAll(int fd, uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::recv(fd, data, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

int ConnectLocal(const std::string& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof(addr.sun_path)) return -1;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Moves messages both ways until either side ends.
void Pump(int tcp, int local) {
  std::vector<uint8_t> block;
  for (;;) {
    pollfd p[2] = {{tcp, POLLIN, 0}, {local, POLLIN, 0}};
    const int r = ::poll(p, 2, -1);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return;
    if (p[0].revents) {
      uint8_t head[4];
      if (!ReceiveAll(tcp, head, 4)) return;
      const uint32_t size = GetMessageLength(head);
      if (size > kDeviceTcpMaxMessage) return;
      block.resize(size);
      if (size && !ReceiveAll(tcp, block.data(), size)) return;
      if (::send(local, block.data(), size, MSG_NOSIGNAL) != static_cast<ssize_t>(size)) return;
    }
    if (p[1].revents) {
      // The message's true size first, so that no block is cut short.
      const ssize_t size = ::recv(local, nullptr, 0, MSG_PEEK | MSG_TRUNC);
      if (size < 0) return;
      if (size == 0 && (p[1].revents & (POLLHUP | POLLERR))) return;  // closed, not an empty block
      block.resize(static_cast<size_t>(size) + 4);
      if (::recv(local, block.data() + 4, static_cast<size_t>(size), 0) != size) return;
      PutMessageLength(block.data(), static_cast<uint32_t>(size));
      if (!SendAll(tcp, block.data(), block.size())) return;
    }
  }
}

}  // namespace

struct TcpBridge::Impl {
  uint16_t port;
  std::string localPath;
  int listenFd = -1;
  int wake[2] = {-1, -1};
  std::thread acceptor;
  struct Connection {
    int tcp = -1;
    int local = -1;
    std::thread thread;
    std::atomic<bool> done{false};
  };
  std::mutex mutex;
  std::list<Connection> connections;

  void Accept() {
    for (;;) {
      pollfd p[2] = {{listenFd, POLLIN, 0}, {wake[0], POLLIN, 0}};
      if (::poll(p, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (p[1].revents) return;
      const int tcp = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
      if (tcp < 0) continue;
      const int one = 1;
      ::setsockopt(tcp, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      const int local = ConnectLocal(localPath);
      if (local < 0) {
        ::close(tcp);  // no device: the library sees the connection end, not "OK"
        continue;
      }
      std::lock_guard<std::mutex> lock(mutex);
      for (auto it = connections.begin(); it != connections.end();) {
        if (it->done) {
          it->thread.join();
          ::close(it->tcp);
          ::close(it->local);
          it = connections.erase(it);
        } else {
          ++it;
        }
      }
      Connection& c = connections.emplace_back();
      c.tcp = tcp;
      c.local = local;
      const std::string why = StartThread(c.thread, "a TCP bridge connection", [&c] {
        Pump(c.tcp, c.local);
        // Both sides see the end; the descriptors are closed by whoever joins.
        ::shutdown(c.tcp, SHUT_RDWR);
        ::shutdown(c.local, SHUT_RDWR);
        c.done = true;
      });
      if (!why.empty()) {
        // This peer is turned away; the bridge serves the others.
        std::fprintf(stderr, "edog-sim: %s\n", why.c_str());
        ::close(c.tcp);
        ::close(c.local);
        connections.pop_back();
      }
    }
  }
};

TcpBridge::TcpBridge(uint16_t port, std::string localSocketPath) : impl_(std::make_unique<Impl>()) {
  impl_->port = port;
  impl_->localPath = std::move(localSocketPath);
}

TcpBridge::~TcpBridge() { Stop(); }

uint16_t TcpBridge::Port() const { return impl_->port; }

bool TcpBridge::Start(std::string* error) {
  auto fail = [&](const char* what) {
    if (error) *error = std::string(what) + ": " + std::strerror(errno);
    if (impl_->listenFd >= 0) ::close(impl_->listenFd);
    impl_->listenFd = -1;
    return false;
  };
  impl_->listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (impl_->listenFd < 0) return fail("TCP socket");
  const int one = 1;
  ::setsockopt(impl_->listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(impl_->port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // never reachable from another machine
  if (::bind(impl_->listenFd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
    return fail(("TCP port 127.0.0.1:" + std::to_string(impl_->port)).c_str());
  if (::listen(impl_->listenFd, 16) != 0) return fail("TCP listen");
  socklen_t len = sizeof addr;
  if (::getsockname(impl_->listenFd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
    impl_->port = ntohs(addr.sin_port);
  if (::pipe2(impl_->wake, O_CLOEXEC) != 0) return fail("pipe");
  const std::string why = StartThread(impl_->acceptor, "the TCP bridge", [this] { impl_->Accept(); });
  if (!why.empty()) {
    ::close(impl_->wake[0]);
    ::close(impl_->wake[1]);
    fail("");  // closes the listener
    if (error) *error = why;
    return false;
  }
  return true;
}

void TcpBridge::Stop() {
  if (!impl_->acceptor.joinable()) return;
  const char stop = 1;
  if (::write(impl_->wake[1], &stop, 1) != 1) {
    // The acceptor would not wake: closing the listener ends its poll with an error.
    ::shutdown(impl_->listenFd, SHUT_RDWR);
  }
  impl_->acceptor.join();
  std::lock_guard<std::mutex> lock(impl_->mutex);
  for (auto& c : impl_->connections) {
    ::shutdown(c.tcp, SHUT_RDWR);
    ::shutdown(c.local, SHUT_RDWR);
    c.thread.join();
    ::close(c.tcp);
    ::close(c.local);
  }
  impl_->connections.clear();
  ::close(impl_->listenFd);
  ::close(impl_->wake[0]);
  ::close(impl_->wake[1]);
  impl_->listenFd = impl_->wake[0] = impl_->wake[1] = -1;
}

}  // namespace edog::sim
