#include "sim/TcpBridge.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <iterator>
#include <list>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "common/Clock.h"
#include "common/ThreadStart.h"
#include "device/DeviceTcp.h"
#include "sim/PeerAdmission.h"

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

// A peer that has not shown its token yet: read without blocking, within its wait.
struct PendingPeer {
  int fd = -1;
  int64_t deadline = 0;
  std::string got;  // the first message so far, its length included
};

enum class Proof { kProven, kMore, kRefused };

// Reads no further than the first message: what follows it belongs to the device.
Proof ReadProof(PendingPeer& p, const std::string& expected) {
  const size_t total = 4 + expected.size();
  while (p.got.size() < total) {
    char buf[128];
    const ssize_t n = ::recv(p.fd, buf, std::min(sizeof buf, total - p.got.size()), MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Proof::kMore;
    if (n <= 0) return Proof::kRefused;
    const bool hadLength = p.got.size() >= 4;
    p.got.append(buf, static_cast<size_t>(n));
    if (!hadLength && p.got.size() >= 4 &&
        GetMessageLength(reinterpret_cast<const uint8_t*>(p.got.data())) != expected.size())
      return Proof::kRefused;
  }
  // Every byte compared, whatever the first difference, so timing tells nothing.
  unsigned char diff = 0;
  for (size_t i = 0; i < expected.size(); ++i)
    diff |= static_cast<unsigned char>(p.got[4 + i] ^ expected[i]);
  return diff == 0 ? Proof::kProven : Proof::kRefused;
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
  std::string token;
  int listenFd = -1;
  int wake[2] = {-1, -1};  // stop, or a connection finished
  std::atomic<bool> stopping{false};
  std::thread acceptor;

  // The acceptor's own: peers yet to show the token, oldest first.
  std::deque<PendingPeer> pending;
  size_t maxPending = 1;
  int64_t acceptPausedUntil = 0;

  struct Connection {
    int tcp = -1;
    int local = -1;
    std::thread thread;
    bool done = false;
  };
  std::mutex mutex;  // the connections' descriptors and done flags
  std::list<Connection> connections;

  void Wake() {
    const char b = 1;
    (void)!::write(wake[1], &b, 1);
  }

  void DropPending(size_t i) {
    ::close(pending[i].fd);
    pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
  }

  // Joins the threads of connections that ended; their descriptors are closed already.
  void Reap() {
    std::list<Connection> ended;
    {
      std::lock_guard<std::mutex> lock(mutex);
      for (auto it = connections.begin(); it != connections.end();) {
        const auto next = std::next(it);
        if (it->done) ended.splice(ended.end(), connections, it);
        it = next;
      }
    }
    for (auto& c : ended) c.thread.join();
  }

  // A proven peer gets a thread that carries its messages to the device and back.
  void Bridge(int tcp) {
    const int flags = ::fcntl(tcp, F_GETFL);
    if (flags >= 0) ::fcntl(tcp, F_SETFL, flags & ~O_NONBLOCK);
    const int one = 1;
    ::setsockopt(tcp, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::lock_guard<std::mutex> lock(mutex);
    Connection& c = connections.emplace_back();
    c.tcp = tcp;
    const std::string why = StartThread(c.thread, "a TCP bridge connection", [&c, this] {
      const int local = ConnectLocal(localPath);
      {
        std::lock_guard<std::mutex> lock(mutex);
        c.local = local;
      }
      // No device: the library sees the connection end, not "OK".
      if (local >= 0 && !stopping) Pump(c.tcp, local);
      // Closed at once, so an ended connection holds no descriptor.
      std::lock_guard<std::mutex> lock(mutex);
      ::close(c.tcp);
      if (c.local >= 0) ::close(c.local);
      c.tcp = c.local = -1;
      c.done = true;
      Wake();
    });
    if (!why.empty()) {
      // This peer is turned away; the bridge serves the others.
      std::fprintf(stderr, "edog-sim: %s\n", why.c_str());
      ::close(tcp);
      connections.pop_back();
    }
  }

  // Takes the waiting peers (PeerAdmission.h): a full table of pending peers, or of
  // descriptors, costs the oldest pending peer its place.
  void AcceptPeers(int64_t now, const std::string& expected) {
    for (int k = 0; k < kAcceptsPerWake; ++k) {
      int fd = -1;
      const Admission a = AcceptPeer(listenFd, SOCK_NONBLOCK | SOCK_CLOEXEC, &fd);
      if (a == Admission::kNoneWaiting) return;
      if (a == Admission::kOutOfDescriptors) {
        if (pending.empty()) {
          acceptPausedUntil = now + kAcceptPauseUs;
          return;
        }
        DropPending(0);
        continue;
      }
      // A peer sends its token at once, so it is often here already: one that has it (or
      // has gone) is settled now, before a flood of newcomers can push it out of the table.
      PendingPeer peer{fd, now + kPendingPeerWaitUs, {}};
      const Proof proof = ReadProof(peer, expected);
      if (proof == Proof::kProven) {
        Bridge(fd);
        continue;
      }
      if (proof == Proof::kRefused) {
        ::close(fd);
        continue;
      }
      if (pending.size() >= maxPending) DropPending(0);
      pending.push_back(std::move(peer));
    }
  }

  void Accept() {
    const std::string expected = kDeviceTcpTokenPrefix + token;
    std::vector<pollfd> fds;
    while (!stopping) {
      Reap();
      int64_t now = NowUs();
      while (!pending.empty() && pending.front().deadline <= now) DropPending(0);
      const bool listening = now >= acceptPausedUntil;
      fds.clear();
      fds.push_back({wake[0], POLLIN, 0});
      fds.push_back({listening ? listenFd : -1, POLLIN, 0});
      for (const auto& p : pending) fds.push_back({p.fd, POLLIN, 0});
      int64_t wakeAt = pending.empty() ? -1 : pending.front().deadline;
      if (!listening && (wakeAt < 0 || acceptPausedUntil < wakeAt)) wakeAt = acceptPausedUntil;
      const int timeoutMs =
          wakeAt < 0 ? -1 : static_cast<int>(std::max<int64_t>(0, wakeAt - now + 999) / 1000);
      if (::poll(fds.data(), fds.size(), timeoutMs) < 0) {
        if (errno == EINTR) continue;
        break;
      }
      if (fds[0].revents) {
        char drain[64];
        while (::read(wake[0], drain, sizeof drain) > 0) {
        }
      }
      if (stopping) break;
      // The pending peers first: a newcomer must not push out one whose token is here.
      now = NowUs();
      for (size_t i = pending.size(); i-- > 0;) {
        if (!fds[2 + i].revents) continue;
        const Proof proof = ReadProof(pending[i], expected);
        if (proof == Proof::kMore) continue;
        if (proof == Proof::kRefused) {
          DropPending(i);
          continue;
        }
        const int tcp = pending[i].fd;
        pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
        Bridge(tcp);
      }
      if (fds[1].revents) AcceptPeers(now, expected);
    }
    for (const auto& p : pending) ::close(p.fd);
    pending.clear();
  }
};

TcpBridge::TcpBridge(uint16_t port, std::string localSocketPath, std::string token)
    : impl_(std::make_unique<Impl>()) {
  impl_->port = port;
  impl_->localPath = std::move(localSocketPath);
  impl_->token = std::move(token);
}

std::string TcpBridge::NewToken() {
  std::random_device random;  // the kernel's random source on Linux
  std::string token;
  for (int i = 0; i < 8; ++i) {
    char word[9];
    std::snprintf(word, sizeof word, "%08x", static_cast<unsigned>(random()));
    token += word;
  }
  return token;
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
  // Non-blocking: a peer gone between poll and accept must not hold the acceptor in accept.
  impl_->listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (impl_->listenFd < 0) return fail("TCP socket");
  const int one = 1;
  ::setsockopt(impl_->listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(impl_->port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // never reachable from another machine
  if (::bind(impl_->listenFd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
    return fail(("TCP port 127.0.0.1:" + std::to_string(impl_->port)).c_str());
  if (::listen(impl_->listenFd, kListenBacklog) != 0) return fail("TCP listen");
  socklen_t len = sizeof addr;
  if (::getsockname(impl_->listenFd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
    impl_->port = ntohs(addr.sin_port);
  if (::pipe2(impl_->wake, O_CLOEXEC | O_NONBLOCK) != 0) return fail("pipe");
  impl_->maxPending = MaxPendingPeers();
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
  impl_->stopping = true;
  impl_->Wake();
  impl_->acceptor.join();
  {
    // Each connection's thread sees its end and closes its descriptors.
    std::lock_guard<std::mutex> lock(impl_->mutex);
    for (auto& c : impl_->connections) {
      if (c.tcp >= 0) ::shutdown(c.tcp, SHUT_RDWR);
      if (c.local >= 0) ::shutdown(c.local, SHUT_RDWR);
    }
  }
  for (auto& c : impl_->connections) c.thread.join();
  impl_->connections.clear();
  ::close(impl_->listenFd);
  ::close(impl_->wake[0]);
  ::close(impl_->wake[1]);
  impl_->listenFd = impl_->wake[0] = impl_->wake[1] = -1;
}

}  // namespace edog::sim
