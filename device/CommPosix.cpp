// CComm over termios and poll(). Works the same on a real port and on a pseudo-terminal.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>  // serial_struct, ASYNC_LOW_LATENCY
#endif

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "common/UniqueFd.h"
#include "device/Comm.h"
#include "device/SerialPorts.h"

namespace edog {

struct CComm::Os {
  int fd = -1;
  int wake[2] = {-1, -1};  // self-pipe: Close and SuspendReader end the reader's poll()
  bool lowLatencyHeld = false;  // we set the driver's low-latency flag and owe it back
  ~Os() {
    if (fd >= 0) ::close(fd);
    for (int& w : wake)
      if (w >= 0) ::close(w);
  }
};

namespace {

bool SpeedCode(uint32_t baud, speed_t& code) {
  switch (baud) {
    case 1200: code = B1200; return true;
    case 2400: code = B2400; return true;
    case 4800: code = B4800; return true;
    case 9600: code = B9600; return true;
    case 19200: code = B19200; return true;
    case 38400: code = B38400; return true;
    case 57600: code = B57600; return true;
    case 115200: code = B115200; return true;
    case 230400: code = B230400; return true;
#ifdef B460800
    case 460800: code = B460800; return true;
#endif
#ifdef B921600
    case 921600: code = B921600; return true;
#endif
    default: return false;
  }
}

void Drain(int fd) {
  char sink[64];
  while (::read(fd, sink, sizeof sink) > 0) {
  }
}

// poll() that retries when a signal interrupts it.
int PollRetry(pollfd* fds, nfds_t n, int timeoutMs) {
  for (;;) {
    const int r = ::poll(fds, n, timeoutMs);
    if (r >= 0 || errno != EINTR) return r;
  }
}

}  // namespace

CComm::CComm() : os_(std::make_unique<Os>()) {}

CComm::~CComm() {
  if (IsOpen()) Close();
}

int CComm::CreateEvents() {
  if (os_->wake[0] >= 0) {
    Drain(os_->wake[0]);
    return 1;
  }
  int p[2];
  if (::pipe(p) != 0) return 0;
  for (int fd : p) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  os_->wake[0] = p[0];
  os_->wake[1] = p[1];
  return 1;
}

std::string GroupThatMayOpen(const std::string& path) {
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0) return {};
  if ((st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP) || st.st_gid == 0) return {};
  std::vector<char> buf(16384);
  group g{};
  group* found = nullptr;
  if (::getgrgid_r(st.st_gid, &g, buf.data(), buf.size(), &found) != 0 || !found) return {};
  return found->gr_name;
}

bool CComm::OpenPort() {
  if (os_->wake[0] < 0 || portName_.empty()) return false;
  UniqueFd fd(::open(portName_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.IsValid()) {
    if (errno == EACCES || errno == EPERM)
      openFailure_ = SerialPermissionText(portName_, GroupThatMayOpen(portName_));
    return false;
  }
  if (!::isatty(fd.Get())) return false;
  // No sharing: refuse a port another program holds, and keep others out while open.
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
    openFailure_ = portName_ + " is in use by another program";
    return false;
  }
  ::ioctl(fd.Get(), TIOCEXCL);
  ::tcflush(fd.Get(), TCIOFLUSH);
  os_->fd = fd.Release();
  return true;
}

int CComm::Configure() {
  const int fd = os_->fd;
  termios tio{};
  if (fd < 0 || ::tcgetattr(fd, &tio) != 0) return 0;
  speed_t speed;
  if (!SpeedCode(baudRate_, speed)) return 0;
  tcflag_t size;
  switch (byteSize_) {
    case 5: size = CS5; break;
    case 6: size = CS6; break;
    case 7: size = CS7; break;
    case 8: size = CS8; break;
    default: return 0;
  }
  // Raw bytes both ways: no line editing, no translation, no echo, no signals.
  tio.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                           IXOFF | IXANY | INPCK);
  tio.c_oflag &= ~tcflag_t(OPOST);
  tio.c_lflag &= ~tcflag_t(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
#ifdef CMSPAR
  tio.c_cflag &= ~tcflag_t(CMSPAR);
#endif
  tio.c_cflag |= size | CREAD | CLOCAL;
  switch (parity_) {
    case kNoParity: break;
    case kOddParity: tio.c_cflag |= PARENB | PARODD; break;
    case kEvenParity: tio.c_cflag |= PARENB; break;
#ifdef CMSPAR
    case kMarkParity: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case kSpaceParity: tio.c_cflag |= PARENB | CMSPAR; break;
#endif
    default: return 0;
  }
  if (parity_ != kNoParity) tio.c_iflag |= INPCK;  // parity checking on
  switch (stopBits_) {
    case kOneStopBit: break;
    case kOne5StopBits:  // 1.5 exists only on the wire of 5-bit frames; CSTOPB gives it there
    case kTwoStopBits: tio.c_cflag |= CSTOPB; break;
    default: return 0;
  }
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  ::cfsetispeed(&tio, speed);
  ::cfsetospeed(&tio, speed);
  if (::tcsetattr(fd, TCSANOW, &tio) != 0) return 0;
  // DTR and RTS on; a pseudo-terminal has no modem lines, which is fine.
  int lines = TIOCM_DTR | TIOCM_RTS;
  ::ioctl(fd, TIOCMBIS, &lines);
  return 1;
}

int CComm::Read(void* buffer, int maxCount) {
  const int fd = os_->fd;
  if (fd < 0 || maxCount <= 0) return 0;
  int waiting = 0;
  if (::ioctl(fd, FIONREAD, &waiting) != 0 || waiting <= 0) return 0;
  const int n = waiting < maxCount ? waiting : maxCount;
  const ssize_t got = ::read(fd, buffer, static_cast<size_t>(n));
  if (got <= 0) return 0;
  bytesRead_ = static_cast<int>(got);
  return bytesRead_;
}

int CComm::Write(const void* data, size_t length) {
  const int fd = os_->fd;
  if (fd < 0) return 0;
  const auto* p = static_cast<const uint8_t*>(data);
  size_t done = 0;
  while (done < length) {
    const ssize_t n = ::write(fd, p + done, length - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return 0;
    // Output queue full: wait for room, but not for ever.
    pollfd pfd{fd, POLLOUT, 0};
    if (PollRetry(&pfd, 1, static_cast<int>(kWriteTimeoutMs)) <= 0) return 0;
    if (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) return 0;
  }
  return 1;
}

bool CComm::WaitReadable(uint32_t ms) {
  const int fd = os_->fd;
  if (fd < 0) return false;
  pollfd pfd{fd, POLLIN, 0};
  const int r = PollRetry(&pfd, 1, static_cast<int>(ms));
  if (r <= 0) return false;
  int waiting = 0;
  if (::ioctl(fd, FIONREAD, &waiting) == 0 && waiting > 0) return true;
  // Readable with nothing to read: a hung-up line, which reports at once and for ever.
  // Spend the time rather than spin.
  PollRetry(nullptr, 0, static_cast<int>(ms));
  return false;
}

void CComm::WakeReader() {
  if (os_->wake[1] >= 0) {
    const char b = 1;
    [[maybe_unused]] const ssize_t n = ::write(os_->wake[1], &b, 1);
  }
}

void CComm::ReaderThread() {
  constexpr int kHangupPauseMs = 200;
  bool hungUp = false;
  while (open_) {
    if (!WaitWhileSuspended()) break;
    pollfd fds[2] = {{os_->wake[0], POLLIN, 0}, {os_->fd, POLLIN, 0}};
    // After a hang-up the port reports at once and for ever: look at it again only now
    // and then, and meanwhile listen to the wake-up pipe alone.
    const int r = PollRetry(fds, hungUp ? 1 : 2, hungUp ? kHangupPauseMs : -1);
    if (r < 0) break;
    if (fds[0].revents & POLLIN) Drain(os_->wake[0]);
    if (hungUp) {
      hungUp = false;
      continue;
    }
    if (fds[1].revents == 0) continue;
    int taken = 0;
    for (;;) {
      const int n = ReaderRead();
      if (n <= 0) break;
      taken += n;
      PutText(readBuf_, n);
    }
    // Readable or in error, yet nothing to take: a line gone away (or a suspend, which
    // the next round honours before it looks at the port again).
    if (taken == 0) hungUp = true;
  }
}

void CComm::HoldLowLatency(bool on) {
  const int fd = os_->fd;
  if (fd < 0) return;
#ifdef __linux__
  serial_struct ss{};
  if (!on) {
    if (!os_->lowLatencyHeld) return;
    os_->lowLatencyHeld = false;
    if (::ioctl(fd, TIOCGSERIAL, &ss) != 0) return;
    ss.flags &= ~ASYNC_LOW_LATENCY;
    ::ioctl(fd, TIOCSSERIAL, &ss);
    return;
  }
  if (os_->lowLatencyHeld) return;
  // A pseudo-terminal or a driver without the setting refuses: the download runs as it is.
  if (::ioctl(fd, TIOCGSERIAL, &ss) != 0) {
    lowLatency_ = LowLatency::kRefused;
    return;
  }
  if (ss.flags & ASYNC_LOW_LATENCY) {
    lowLatency_ = LowLatency::kAlreadyOn;  // the user's setting: nothing to give back
    return;
  }
  ss.flags |= ASYNC_LOW_LATENCY;
  if (::ioctl(fd, TIOCSSERIAL, &ss) != 0) {
    lowLatency_ = LowLatency::kRefused;
    return;
  }
  lowLatency_ = LowLatency::kGranted;
  os_->lowLatencyHeld = true;
#else
  (void)on;
  lowLatency_ = LowLatency::kRefused;
#endif
}

void CComm::ClosePort() {
  const int fd = os_->fd;
  if (fd < 0) return;
  HoldLowLatency(false);
  int dtr = TIOCM_DTR;
  ::ioctl(fd, TIOCMBIC, &dtr);
  ::tcflush(fd, TCIOFLUSH);
  ::close(fd);
  os_->fd = -1;
}

}  // namespace edog
