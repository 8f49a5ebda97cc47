// Any local user can reach the simulator's loopback port, and every connection costs the
// simulator a descriptor. Peers that connect, send one byte that is no token and hold on
// must not lock the owner out, neither on the TCP bridge nor on the local socket.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "common/UniqueFd.h"
#include "device/DeviceSocket.h"
#include "device/DeviceTcp.h"
#include "support/HeaderedContent.h"
#include "support/TestSupport.h"

namespace edog::test {
namespace {

constexpr int kIntruders = 1100;
using Clock = std::chrono::steady_clock;

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

// A loopback port nobody listens on right now.
uint16_t FreePort() {
  const UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in a = Loopback(0);
  socklen_t len = sizeof a;
  if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&a), &len) != 0)
    return 0;
  return ntohs(a.sin_port);
}

// edog-sim as a program of its own, allowed `fdLimit` descriptors.
pid_t StartSim(const std::string& dir, uint16_t port, rlim_t fdLimit) {
  const std::string sim = BinDir() + "/edog-sim";
  const std::string state = dir + "/state", socket = dir + "/dev.sock", log = dir + "/sim.log";
  const std::string portText = std::to_string(port);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlives a test that stopped half-way
    const rlimit r{fdLimit, fdLimit};
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (::setrlimit(RLIMIT_NOFILE, &r) != 0 || out < 0 || ::dup2(out, 1) < 0 || ::dup2(out, 2) < 0)
      ::_exit(126);
    ::execl(sim.c_str(), "edog-sim", "--state", state.c_str(), "--socket", socket.c_str(),
            "--tcp-port", portText.c_str(), "--no-serial", nullptr);
    ::_exit(127);
  }
  return pid;
}

// A connection to the port, or -1 when none was made within 5 s.
int ConnectWithin5s(uint16_t port) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  const sockaddr_in a = Loopback(port);
  if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    pollfd p{fd.Get(), POLLOUT, 0};
    int error = 0;
    socklen_t len = sizeof error;
    if (errno != EINPROGRESS || ::poll(&p, 1, 5000) != 1 ||
        ::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0)
      return -1;
  }
  ::fcntl(fd.Get(), F_SETFL, 0);
  return fd.Release();
}

// Waits up to 5 s for the program to end after SIGTERM; true when it ended with 0.
bool StopsCleanly(pid_t pid) {
  ::kill(pid, SIGTERM);
  int status = 0;
  for (int i = 0; i < 250; ++i) {
    if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    ::usleep(20000);
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  return false;
}

bool SendMessage(int fd, const std::string& message) {
  std::string frame(4, '\0');
  PutMessageLength(reinterpret_cast<uint8_t*>(frame.data()), static_cast<uint32_t>(message.size()));
  frame += message;
  return ::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(frame.size());
}

// Sends one message and returns the answer, or "-" when none came within 5 s.
std::string Ask(int fd, const std::string& message) {
  if (!SendMessage(fd, message)) return "-";
  std::string got;
  const auto end = Clock::now() + std::chrono::seconds(5);
  while (got.size() < 4 || got.size() < 4 + GetMessageLength(reinterpret_cast<const uint8_t*>(got.data()))) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    pollfd p{fd, POLLIN, 0};
    char buf[256];
    if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) return "-";
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return "-";
    got.append(buf, static_cast<size_t>(n));
  }
  return got.substr(4);
}

// The owner over TCP: the token (which gets no answer), then the pipe, a command block and
// a block of payload, each answered as the device answers. The answers, joined.
std::string OwnerOverTcp(uint16_t port, const std::string& token) {
  const UniqueFd fd(ConnectWithin5s(port));
  if (!fd.IsValid() || !SendMessage(fd.Get(), kDeviceTcpTokenPrefix + token)) return "no connection";
  const auto content = MakeHeaderedContent(Port::Usb, kFlashSerial, 0, 64, 34);
  std::string answers = Ask(fd.Get(), "OPEN PIPE00");
  answers += "|" + Ask(fd.Get(), std::string(content.file.begin(), content.file.begin() + kCommandBlockSize));
  answers += "|" + Ask(fd.Get(), std::string(content.payload.begin(), content.payload.end()));
  return answers;
}

TEST(OwnerLockOut, TheOwnerIsServedWhileTokenlessPeersConnectAndHold) {
  rlimit own{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &own), 0);
  if (own.rlim_max != RLIM_INFINITY && own.rlim_max < kIntruders + 200)
    GTEST_SKIP() << "this test needs " << kIntruders + 200 << " descriptors, the hard limit is "
                 << own.rlim_max;
  rlimit raised = own;
  raised.rlim_cur = own.rlim_max == RLIM_INFINITY ? 4096 : std::min<rlim_t>(own.rlim_max, 4096);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &raised), 0);

  const struct {
    const char* what;
    rlim_t simDescriptors;
  } rows[] = {{"256 descriptors", 256}, {"64 descriptors", 64}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    TempDir dir;
    const uint16_t port = FreePort();
    ASSERT_NE(port, 0);
    const pid_t sim = StartSim(dir.Path(), port, row.simDescriptors);
    ASSERT_GT(sim, 0);
    const std::string tokenFile = dir / "state/tcp-token";
    struct stat st {};
    for (int i = 0; i < 250 && (::stat(tokenFile.c_str(), &st) != 0 || st.st_size < 64); ++i) ::usleep(20000);
    const std::string token = ReadText(tokenFile).substr(0, 64);
    ASSERT_EQ(token.size(), 64u);

    // The intruders connect all at once and, once in, send their byte; 15 s at most.
    std::vector<UniqueFd> intruders;
    std::vector<pollfd> waiting;
    const sockaddr_in a = Loopback(port);
    for (int i = 0; i < kIntruders; ++i) {
      intruders.emplace_back(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
      ASSERT_TRUE(intruders.back().IsValid());
      if (::connect(intruders.back().Get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0 ||
          errno == EINPROGRESS)
        waiting.push_back({intruders.back().Get(), POLLOUT, 0});
    }
    const auto end = Clock::now() + std::chrono::seconds(15);
    while (!waiting.empty() && Clock::now() < end) {
      if (::poll(waiting.data(), waiting.size(), 100) <= 0) continue;
      for (auto& p : waiting) {
        if (!p.revents) continue;
        ::send(p.fd, "T", 1, MSG_NOSIGNAL);  // connected (or refused): done either way
        p.fd = -1;
      }
      waiting.erase(std::remove_if(waiting.begin(), waiting.end(), [](const pollfd& p) { return p.fd < 0; }),
                    waiting.end());
    }

    // The simulator has taken what it can of them by now.
    std::this_thread::sleep_for(std::chrono::seconds(1));

    // While they hold on: the owner's token, pipe and blocks over TCP, and a whole
    // transfer through the stand-in library on the local socket.
    EXPECT_EQ(OwnerOverTcp(port, token), "OK|TOOK 0|TOOK 64");
    const auto content = MakeHeaderedContent(Port::Usb, kFlashSerial, 0x1000, 4096, 35);
    WriteFile(dir / "owner.hdr", content.file);
    SetEnv(kDeviceSocketEnv, dir / "dev.sock");
    const auto sent = RunTool({"send-usb", dir / "owner.hdr"});
    UnsetEnv(kDeviceSocketEnv);
    EXPECT_EQ(sent.status, 0) << sent.err;
    EXPECT_NE(ReadText(dir / "state/journal.jsonl").find("\"received\":4096"), std::string::npos);

    intruders.clear();
    EXPECT_TRUE(StopsCleanly(sim));
  }
  ::setrlimit(RLIMIT_NOFILE, &own);
}

// The owner's token is already waiting when a burst of silent peers, more than the
// door keeps waiting, lands in the listen queue with it: the owner is let in, not pushed
// out by the newcomers behind it. The simulator is held stopped while they all queue.
TEST(OwnerLockOut, AnOwnerWhoseTokenWaitsIsNotPushedOutByABurstBehindIt) {
  TempDir dir;
  const uint16_t port = FreePort();
  ASSERT_NE(port, 0);
  const pid_t sim = StartSim(dir.Path(), port, 64);  // 8 waiting peers at most
  ASSERT_GT(sim, 0);
  const std::string tokenFile = dir / "state/tcp-token";
  struct stat st {};
  for (int i = 0; i < 250 && (::stat(tokenFile.c_str(), &st) != 0 || st.st_size < 64); ++i) ::usleep(20000);
  const std::string token = ReadText(tokenFile).substr(0, 64);
  ASSERT_EQ(token.size(), 64u);

  ASSERT_EQ(::kill(sim, SIGSTOP), 0);
  const UniqueFd owner(ConnectWithin5s(port));
  ASSERT_TRUE(owner.IsValid());
  ASSERT_TRUE(SendMessage(owner.Get(), kDeviceTcpTokenPrefix + token));
  std::vector<UniqueFd> burst;
  for (int i = 0; i < 100; ++i) {
    burst.emplace_back(ConnectWithin5s(port));
    ASSERT_TRUE(burst.back().IsValid()) << i;
  }
  ASSERT_EQ(::kill(sim, SIGCONT), 0);
  EXPECT_EQ(Ask(owner.Get(), "OPEN PIPE00"), "OK");
  burst.clear();
  EXPECT_TRUE(StopsCleanly(sim));
}

}  // namespace
}  // namespace edog::test
