#include "sim/UsbSide.h"

#include <fcntl.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "common/Clock.h"
#include "common/Format.h"
#include "common/ThreadStart.h"
#include "common/UniqueFd.h"
#include "device/DeviceEndStatus.h"
#include "device/DeviceSocket.h"
#include "device/UsbLibraryApi.h"
#include "sim/PeerAdmission.h"
#include "sim/Sha256.h"
#include "sim/SocketListener.h"
#include "update/HeaderedImage.h"

namespace edog::sim {
namespace {

using Micros = int64_t;
constexpr Micros kForever = std::numeric_limits<Micros>::max();
constexpr size_t kTextBlock = 64;          // device text leaves in blocks of at most 64 bytes
constexpr size_t kMaxPendingText = 4096;   // blocks kept while no "PIPE01" reader is open
constexpr size_t kRecentJobs = 5;          // jobs listed in the banner
constexpr int kMessagesPerWake = 32;       // fairness between pipes
constexpr size_t kReceiveBuffer = 256 * 1024;
constexpr Micros kLateReadUs = 10000;      // lateness of a paced read put down to our wake-up
constexpr uint8_t kTextRequest = 0x40;

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

bool SendAll(int fd, const std::string& s) {
  return ::send(fd, s.data(), s.size(), MSG_NOSIGNAL | MSG_DONTWAIT) == static_cast<ssize_t>(s.size());
}

struct Job {
  bool started = false;
  bool badCommand = false;
  HeaderFields header;
  uint64_t byteAddress = 0;
  uint64_t received = 0;
  uint64_t writes = 0;
  uint64_t dropped = 0;  // bytes beyond the flash memory's end
  uint64_t number = 0;
  std::string commandHex;
  Sha256 sha;
  bool refuseStruck = false;
  std::string fault;
};

struct Conn {
  enum Kind { kHello, kProbe, kOut, kIn };
  int fd = -1;
  Kind kind = kHello;
  Micros helloDeadline = 0;  // a peer that has not said which pipe by then is closed
  Job job;
  bool refusedForGood = false;
  Micros refuseUntil = 0;
  Micros nextReadUs = 0;
  bool peerClosed = false;
  bool opened = false;  // "OK" went: from here on the host waits for an answer per block
  std::deque<std::string> outbox;
  bool dead = false;
};

}  // namespace

struct UsbSide::Impl {
  Impl(const SimulatorOptions& o, std::string path, FlashModel& f, Journal& j)
      : options(o), socketPath(std::move(path)), flash(f), journal(j), faults(o.faults) {}

  const SimulatorOptions options;
  const std::string socketPath;
  FlashModel& flash;
  Journal& journal;

  std::mutex faultsMutex;
  FaultOptions faults;
  bool faultsChanged = false;

  SocketListener listener;
  int listenFd = -1;
  int wake[2] = {-1, -1};
  std::atomic<bool> stop{false};
  std::atomic<bool> running{false};
  std::thread thread;

  std::vector<std::unique_ptr<Conn>> conns;  // in the order they came
  size_t maxPending = 1;
  Micros acceptPausedUntil = 0;
  Micros stallUntil = 0;
  bool stallStruck = false;
  bool vanishStruck = false;
  bool vanished = false;
  Micros vanishUntil = 0;
  bool textMode = false;
  Micros nextTextUs = 0;
  std::deque<std::string> pendingText;
  std::deque<std::string> recentJobs;
  uint64_t jobCount = 0;
  Micros startUs = 0;
  std::vector<uint8_t> buffer = std::vector<uint8_t>(kReceiveBuffer);

  // What stands at the path decides (SocketListener.h): a stale socket of ours is
  // replaced, a live one or anything else is refused and left alone.
  bool Listen(std::string* error) {
    listenFd = listener.Listen(socketPath, error);
    return listenFd >= 0;
  }

  void Unlisten() {
    listener.Close();
    listenFd = -1;
  }

  bool Stalled() const { return stallUntil != 0; }

  bool CanRead(const Conn& c, Micros now) const {
    return !Stalled() && !c.refusedForGood && now >= c.refuseUntil && now >= c.nextReadUs;
  }

  // A pipe refusing for a while still reads its blocks, to drop them and say so.
  bool Refusing(const Conn& c, Micros now) const {
    return !Stalled() && !c.refusedForGood && now < c.refuseUntil;
  }

  // --- device text -------------------------------------------------------------------

  void QueueText(const std::string& text) {
    std::vector<std::string> blocks;
    for (size_t i = 0; i < text.size(); i += kTextBlock) blocks.push_back(text.substr(i, kTextBlock));
    bool delivered = false;
    for (auto& c : conns) {
      if (c->kind == Conn::kIn && !c->dead) {
        c->outbox.insert(c->outbox.end(), blocks.begin(), blocks.end());
        delivered = true;
      }
    }
    if (!delivered) {
      pendingText.insert(pendingText.end(), blocks.begin(), blocks.end());
      while (pendingText.size() > kMaxPendingText) pendingText.pop_front();
    }
  }

  void OnTextRequest(Micros now) {
    std::string text = Format("EDOG-SIM firmware %s, database %s\r\n", options.firmwareVersion.c_str(),
                              options.databaseVersion.c_str());
    if (recentJobs.empty()) {
      text += "no jobs yet\r\n";
    } else {
      text += "last jobs:\r\n";
      for (const auto& line : recentJobs) text += line;
    }
    QueueText(text);
    textMode = true;
    nextTextUs = now + Micros(options.textIntervalMs) * 1000;
    JournalRecord r;
    r.Set("kind", "text-request").Set("pipe", USB_PIPE_OUT);
    journal.Append(std::move(r));
  }

  void PeriodicText(Micros now) {
    bool receiving = false;
    for (const auto& c : conns) receiving |= c->kind == Conn::kOut && c->job.started;
    QueueText(Format("uptime %llu s, %llu jobs, %s\r\n",
                     static_cast<unsigned long long>((now - startUs) / 1000000),
                     static_cast<unsigned long long>(jobCount), receiving ? "receiving" : "idle"));
    nextTextUs = now + Micros(std::max<uint32_t>(options.textIntervalMs, 1)) * 1000;
  }

  // --- download jobs -----------------------------------------------------------------

  static const char* Outcome(const Job& j) {
    if (!j.started) return "no-command";
    if (j.badCommand) return "bad-command";
    if (j.dropped > 0) return "out-of-range";
    // More than the size field is stored too: the NAND writers' size field falls short of
    // the payload when the start address is not a whole block.
    return j.received < j.header.fileSize ? "short" : "complete";
  }

  void FinishJob(Conn& c, const char* ended) {
    Job& j = c.job;
    // A pipe that carried nothing is no job, unless a fault kept its command block out.
    if (!j.started && j.fault.empty()) return;
    if (!j.started) j.number = ++jobCount;
    JournalRecord r;
    r.Set("kind", "download").Set("job", j.number).Set("pipe", USB_PIPE_OUT);
    if (j.badCommand) {
      r.Set("command", j.commandHex);
    } else if (j.started) {
      r.Set("magic", j.header.magic)
          .Set("port", j.header.port)
          .Set("flash", j.header.flash)
          .Set("start", j.header.startAddress)
          .Set("size", j.header.fileSize)
          .Set("packets", j.header.packetCount)
          .Set("address", j.byteAddress);
    }
    r.Set("received", j.received).Set("writes", j.writes).Set("sha256", j.sha.HexDigest());
    r.Set("outcome", Outcome(j)).Set("ended", ended);
    if (!j.fault.empty()) r.Set("fault", j.fault);
    journal.Append(std::move(r));

    recentJobs.push_back(
        !j.started || j.badCommand
            ? Format("#%llu %s, %s\r\n", static_cast<unsigned long long>(j.number), Outcome(j), ended)
            : Format("#%llu %s 0x%08llX %llu/%u bytes %s\r\n",
                     static_cast<unsigned long long>(j.number), FlashModel::Name(j.header.flash),
                     static_cast<unsigned long long>(j.byteAddress),
                     static_cast<unsigned long long>(j.received), j.header.fileSize, Outcome(j)));
    while (recentJobs.size() > kRecentJobs) recentJobs.pop_front();
    j = Job{};
  }

  void OnBlock(Conn& c, const uint8_t* data, size_t n, Micros now) {
    if (options.bytesPerSecond > 0) {
      // A read a little after its slot is late by our own wake-up (poll counts whole
      // milliseconds, and every sleep overshoots): the next slot follows this one's, so
      // the emulated link keeps its rate. A link idle for longer starts afresh from now.
      const Micros base = now - c.nextReadUs <= kLateReadUs ? c.nextReadUs : now;
      c.nextReadUs = base + static_cast<Micros>(n * 1000000ull / options.bytesPerSecond);
    }
    Job& j = c.job;
    if (!j.started) {
      if (n == 1 && data[0] == kTextRequest) {
        OnTextRequest(now);
        return;
      }
      if (n == 0) return;  // an empty block before any command carries nothing
      j.started = true;
      j.number = ++jobCount;
      j.writes = 1;
      if (n == kCommandBlockSize && data[0] == kHeaderMagic) {
        j.header = ParseHeaderFields(data);
        j.byteAddress = FlashModel::ByteAddress(j.header.flash, j.header.startAddress);
      } else {
        j.badCommand = true;
        j.commandHex.clear();
        for (size_t i = 0; i < std::min<size_t>(n, 32); ++i) j.commandHex += Format("%02x", data[i]);
      }
      return;
    }
    ++j.writes;
    j.sha.Update(data, n);
    if (!j.badCommand) {
      const size_t written = flash.Write(j.header.flash, j.byteAddress + j.received, data, n);
      j.dropped += n - written;
    }
    j.received += n;
  }

  // Lets a due fault strike on this pipe. True when the device vanished (all pipes gone).
  bool StrikeFaults(Conn& c, Micros now) {
    FaultOptions f;
    {
      std::lock_guard<std::mutex> lock(faultsMutex);
      f = faults;
    }
    Job& j = c.job;
    if (f.refuse.enabled && !j.refuseStruck && j.received >= f.refuse.afterBytes) {
      j.refuseStruck = true;
      j.fault = "refuse";
      if (f.refuse.forMs == 0) {
        // The peer's writes now fail at once (EPIPE), like a device that stopped taking data;
        // a block already on its way is answered as dropped.
        ::shutdown(c.fd, SHUT_RD);
        c.refusedForGood = true;
        if (c.opened) SendAll(c.fd, kDeviceBlockBusy);
      } else {
        c.refuseUntil = now + Micros(f.refuse.forMs) * 1000;
      }
    }
    if (f.stall.enabled && !stallStruck && j.received >= f.stall.afterBytes) {
      stallStruck = true;
      j.fault = "stall";
      stallUntil = f.stall.forMs ? now + Micros(f.stall.forMs) * 1000 : kForever;
    }
    if (f.vanish.enabled && !vanishStruck && j.received >= f.vanish.afterBytes) {
      vanishStruck = true;
      j.fault = "vanish";
      Vanish(now, f.vanish.forMs);
      return true;
    }
    return false;
  }

  void Vanish(Micros now, uint32_t forMs) {
    for (auto& c : conns) {
      if (c->kind == Conn::kOut) FinishJob(*c, "vanished");
      CloseFd(c->fd);
    }
    conns.clear();
    Unlisten();
    vanished = true;
    vanishUntil = forMs ? now + Micros(forMs) * 1000 : kForever;
  }

  // --- connections ---------------------------------------------------------------------

  void Close(Conn& c, const char* ended) {
    if (c.kind == Conn::kOut) {
      // The host that ended its side waits for the word on what is in flash now.
      const Job& j = c.job;
      const std::string status =
          std::strcmp(Outcome(j), "complete") == 0
              ? Format("%s %llu", kDeviceStoredWord, static_cast<unsigned long long>(j.received))
              : Format("%s %s %llu", kDeviceFailedWord, Outcome(j),
                       static_cast<unsigned long long>(j.received));
      FinishJob(c, ended);
      if (c.fd >= 0) SendAll(c.fd, status);
    }
    CloseFd(c.fd);
    c.dead = true;
  }

  // Returns true when the device vanished (every connection, `c` included, is gone).
  bool OnHello(Conn& c) {
    char msg[64];
    const ssize_t n = ::recv(c.fd, msg, sizeof(msg), MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return false;
    const std::string prefix = kDeviceOpenPrefix;
    const std::string text = n > 0 ? std::string(msg, static_cast<size_t>(n)) : std::string();
    if (text.compare(0, prefix.size(), prefix) != 0) {
      Close(c, "closed");
      return false;
    }
    const std::string name = text.substr(prefix.size());
    if (name == kDeviceProbeName) {
      c.kind = Conn::kProbe;
    } else if (name == USB_PIPE_OUT) {
      c.kind = Conn::kOut;
      // A fault due at 0 bytes is in place before the host holds the pipe.
      if (StrikeFaults(c, NowUs())) return true;
    } else if (name == USB_PIPE_IN) {
      c.kind = Conn::kIn;
      c.outbox.swap(pendingText);
    } else {
      SendAll(c.fd, kDeviceAnswerNo);
      Close(c, "closed");
      return false;
    }
    if (!SendAll(c.fd, kDeviceAnswerOk)) {
      Close(c, "closed");
    } else {
      c.opened = true;
    }
    return false;
  }

  // True when the peer has closed (or ended its sending side) and nothing is left to read.
  static bool AtEnd(int fd) {
    pollfd p{fd, POLLRDHUP, 0};
    if (::poll(&p, 1, 0) <= 0 || !(p.revents & (POLLHUP | POLLERR | POLLRDHUP))) return false;
    int queued = 0;
    return ::ioctl(fd, SIOCINQ, &queued) != 0 || queued == 0;
  }

  // Returns true when the device vanished while reading.
  bool ReadBlocks(Conn& c) {
    for (int k = 0; k < kMessagesPerWake && !c.dead; ++k) {
      const Micros now = NowUs();
      if (StrikeFaults(c, now)) return true;
      const bool refusing = Refusing(c, now);
      if (!refusing && !CanRead(c, now)) return false;
      const ssize_t n = ::recv(c.fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
      if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) Close(c, "closed");
        return false;
      }
      if (n == 0 && AtEnd(c.fd)) {
        Close(c, "closed");
        return false;
      }
      if (refusing) {
        SendAll(c.fd, kDeviceBlockBusy);
        continue;
      }
      // Taken: the host's write returns only now. The answer goes before the block is
      // hashed and stored, so the host sends its next block meanwhile; the job's count,
      // journal and end status still follow the store (a block before the command block
      // is not payload).
      const uint64_t taken = c.job.started ? c.job.received + static_cast<uint64_t>(n) : 0;
      SendAll(c.fd, Format("%s %llu", kDeviceBlockTaken, static_cast<unsigned long long>(taken)));
      OnBlock(c, buffer.data(), static_cast<size_t>(n), now);
    }
    return false;
  }

  void FlushText(Conn& c) {
    while (!c.outbox.empty()) {
      const std::string& block = c.outbox.front();
      const ssize_t n = ::send(c.fd, block.data(), block.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) Close(c, "closed");
        return;
      }
      c.outbox.pop_front();
    }
  }

  // The oldest connection that has not said which pipe, if any.
  Conn* OldestHello() {
    for (auto& c : conns) {
      if (c->kind == Conn::kHello && !c->dead) return c.get();
    }
    return nullptr;
  }

  // Takes the waiting peers (PeerAdmission.h): a full table of unopened connections, or
  // of descriptors, costs the oldest unopened one its place.
  void AcceptPeers(Micros now) {
    size_t hellos = 0;
    for (const auto& c : conns) hellos += c->kind == Conn::kHello && !c->dead;
    for (int k = 0; k < kAcceptsPerWake; ++k) {
      int fd = -1;
      const Admission a = AcceptPeer(listenFd, SOCK_NONBLOCK | SOCK_CLOEXEC, &fd);
      if (a == Admission::kNoneWaiting) return;
      if (a == Admission::kOutOfDescriptors) {
        Conn* oldest = OldestHello();
        if (!oldest) {
          acceptPausedUntil = now + kAcceptPauseUs;
          return;
        }
        Close(*oldest, "closed");
        --hellos;
        continue;
      }
      if (hellos >= maxPending) {
        Close(*OldestHello(), "closed");
        --hellos;
      }
      auto c = std::make_unique<Conn>();
      c->fd = fd;
      c->helloDeadline = now + kPendingPeerWaitUs;
      conns.push_back(std::move(c));
      ++hellos;
    }
  }

  // --- the loop ------------------------------------------------------------------------

  void Run() {
    startUs = NowUs();
    std::vector<pollfd> fds;
    std::vector<Conn*> owners;
    while (!stop.load()) {
      Micros now = NowUs();
      {
        std::lock_guard<std::mutex> lock(faultsMutex);
        if (faultsChanged) {
          faultsChanged = false;
          stallStruck = vanishStruck = false;
          stallUntil = 0;
        }
      }
      if (vanished && now >= vanishUntil) {
        vanished = !Listen(nullptr);
        if (vanished) vanishUntil = now + 100000;  // try again shortly
      }
      if (stallUntil != kForever && now >= stallUntil) stallUntil = 0;
      if (textMode && now >= nextTextUs) PeriodicText(now);

      // Faults due before the next read (a fault "after 0 bytes" strikes at once).
      for (size_t i = 0; i < conns.size(); ++i) {
        if (conns[i]->kind == Conn::kOut && StrikeFaults(*conns[i], now)) break;
      }
      // A peer that never says which pipe holds no descriptor for long.
      for (auto& c : conns) {
        if (c->kind == Conn::kHello && !c->dead && now >= c->helloDeadline) Close(*c, "closed");
      }
      conns.erase(std::remove_if(conns.begin(), conns.end(), [](const auto& c) { return c->dead; }),
                  conns.end());

      fds.clear();
      owners.clear();
      fds.push_back({wake[0], POLLIN, 0});
      owners.push_back(nullptr);
      Micros wakeAt = now + 500000;
      if (listenFd >= 0 && now >= acceptPausedUntil) {
        fds.push_back({listenFd, POLLIN, 0});
        owners.push_back(nullptr);
      } else if (listenFd >= 0) {
        wakeAt = std::min(wakeAt, acceptPausedUntil);
      }
      if (textMode) wakeAt = std::min(wakeAt, nextTextUs);
      if (stallUntil) wakeAt = std::min(wakeAt, stallUntil);
      if (vanished) wakeAt = std::min(wakeAt, vanishUntil);
      for (auto& c : conns) {
        short events = 0;
        switch (c->kind) {
          case Conn::kHello:
            wakeAt = std::min(wakeAt, c->helloDeadline);
            if (Stalled()) continue;  // a hung device answers no opens
            events = POLLIN;
            break;
          case Conn::kProbe:
            events = POLLIN;
            break;
          case Conn::kOut:
            if (CanRead(*c, now) || Refusing(*c, now)) {
              events = POLLIN;
            } else {
              if (!Stalled() && !c->refusedForGood) {
                wakeAt = std::min(wakeAt, std::max(c->refuseUntil, c->nextReadUs));
              }
              if (c->peerClosed && !c->refusedForGood) continue;  // read the rest when allowed
            }
            break;
          case Conn::kIn:
            if (!c->outbox.empty()) events = POLLOUT;
            break;
        }
        fds.push_back({c->fd, events, 0});
        owners.push_back(c.get());
      }
      const Micros waitUs = std::max<Micros>(0, wakeAt - now);
      const int timeoutMs = static_cast<int>(std::min<Micros>((waitUs + 999) / 1000, 500));
      const int ready = ::poll(fds.data(), fds.size(), timeoutMs);
      if (ready < 0 && errno != EINTR) break;
      if (ready <= 0) continue;

      if (fds[0].revents) {
        char drain[64];
        while (::read(wake[0], drain, sizeof(drain)) > 0) {
        }
      }
      bool vanishedNow = false;
      for (size_t i = 1; i < fds.size() && !vanishedNow; ++i) {
        const short rev = fds[i].revents;
        if (!rev) continue;
        Conn* c = owners[i];
        if (!c) {
          AcceptPeers(NowUs());
          continue;
        }
        if (c->dead) continue;
        switch (c->kind) {
          case Conn::kHello:
            vanishedNow = OnHello(*c);
            break;
          case Conn::kProbe: {
            char b[64];
            const ssize_t n = ::recv(c->fd, b, sizeof(b), MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) Close(*c, "closed");
            break;
          }
          case Conn::kOut:
            if (c->refusedForGood) {
              if (rev & (POLLHUP | POLLERR)) Close(*c, "closed");
            } else if (rev & POLLIN) {
              vanishedNow = ReadBlocks(*c);
            } else if (rev & (POLLHUP | POLLERR)) {
              c->peerClosed = true;
            }
            break;
          case Conn::kIn:
            if (rev & POLLOUT) FlushText(*c);
            if (!c->dead && (rev & (POLLHUP | POLLERR))) Close(*c, "closed");
            break;
        }
      }
      conns.erase(std::remove_if(conns.begin(), conns.end(), [](const auto& c) { return c->dead; }),
                  conns.end());
    }
    for (auto& c : conns) Close(*c, "stopped");
    conns.clear();
    Unlisten();
  }
};

UsbSide::UsbSide(const SimulatorOptions& options, std::string socketPath, FlashModel& flash,
                 Journal& journal)
    : impl_(std::make_unique<Impl>(options, std::move(socketPath), flash, journal)) {}

UsbSide::~UsbSide() { Stop(); }

bool UsbSide::Start(std::string* error) {
  Impl& d = *impl_;
  if (d.running.load()) return true;
  if (::pipe2(d.wake, O_NONBLOCK | O_CLOEXEC) != 0) {
    if (error) *error = std::string("cannot create a pipe: ") + std::strerror(errno);
    return false;
  }
  if (!d.Listen(error)) {
    CloseFd(d.wake[0]);
    CloseFd(d.wake[1]);
    return false;
  }
  d.stop = false;
  d.maxPending = MaxPendingPeers();
  const std::string why = StartThread(d.thread, "the simulator's USB side", [&d] { d.Run(); });
  if (!why.empty()) {
    d.Unlisten();
    CloseFd(d.wake[0]);
    CloseFd(d.wake[1]);
    if (error) *error = why;
    return false;
  }
  d.running = true;
  return true;
}

void UsbSide::Stop() {
  Impl& d = *impl_;
  if (!d.running.load()) return;
  d.stop = true;
  const char b = 1;
  (void)!::write(d.wake[1], &b, 1);
  d.thread.join();
  d.running = false;
  CloseFd(d.wake[0]);
  CloseFd(d.wake[1]);
}

bool UsbSide::IsRunning() const { return impl_->running.load(); }

void UsbSide::FeedPipeOut(const std::vector<std::vector<uint8_t>>& blocks) {
  Impl& d = *impl_;
  if (d.running.load()) return;
  Conn c;
  c.kind = Conn::kOut;
  for (const auto& b : blocks) d.OnBlock(c, b.data(), b.size(), NowUs());
  d.FinishJob(c, "closed");
}

void UsbSide::SetFaults(const FaultOptions& faults) {
  Impl& d = *impl_;
  {
    std::lock_guard<std::mutex> lock(d.faultsMutex);
    d.faults = faults;
    d.faultsChanged = true;
  }
  if (d.wake[1] >= 0) {
    const char b = 1;
    (void)!::write(d.wake[1], &b, 1);
  }
}

}  // namespace edog::sim
