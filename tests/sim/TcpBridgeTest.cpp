// The simulator's loopback TCP bridge seen from a plain TCP client, as the Windows
// stand-in device library sees it: length-prefixed messages, the local socket's exchange.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "device/DeviceTcp.h"
#include "sim/Simulator.h"
#include "sim/TcpBridge.h"
#include "support/TestSupport.h"

namespace edog::sim {
namespace {

const std::string kToken = "t0ken";

// A connection that has shown the bridge its token, as the stand-in library's does.
int Connect(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  const std::string proof = kDeviceTcpTokenPrefix + kToken;
  uint8_t head[4];
  PutMessageLength(head, static_cast<uint32_t>(proof.size()));
  ::send(fd, head, 4, MSG_NOSIGNAL);
  ::send(fd, proof.data(), proof.size(), MSG_NOSIGNAL);
  return fd;
}

void Send(int fd, const std::string& message) {
  uint8_t head[4];
  PutMessageLength(head, static_cast<uint32_t>(message.size()));
  ASSERT_EQ(::send(fd, head, 4, MSG_NOSIGNAL), 4);
  if (!message.empty()) {
    ASSERT_EQ(::send(fd, message.data(), message.size(), MSG_NOSIGNAL), ssize_t(message.size()));
  }
}

// The next message, or nothing when the connection ended or 5 s passed.
std::optional<std::string> Receive(int fd) {
  auto exact = [fd](void* to, size_t n) {
    for (size_t done = 0; done < n;) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 5000) <= 0) return false;
      const ssize_t r = ::recv(fd, static_cast<char*>(to) + done, n - done, 0);
      if (r <= 0) return false;
      done += size_t(r);
    }
    return true;
  };
  uint8_t head[4];
  if (!exact(head, 4)) return std::nullopt;
  std::string m(GetMessageLength(head), '\0');
  if (!m.empty() && !exact(m.data(), m.size())) return std::nullopt;
  return m;
}

TEST(TcpBridge, CarriesOpensAndBlocksBothWaysAndDropsBrokenStreams) {
  test::TempDir dir;
  SimulatorOptions o;
  o.stateDir = dir / "state";
  o.socketPath = dir / "dev.sock";
  o.serial.enabled = false;
  o.textIntervalMs = 20;
  Simulator sim(o);
  std::string error;
  ASSERT_TRUE(sim.Start(&error)) << error;
  TcpBridge bridge(0, sim.SocketPath(), kToken);
  ASSERT_TRUE(bridge.Start(&error)) << error;
  ASSERT_NE(bridge.Port(), 0);

  // The opening exchange passes through word for word.
  const struct {
    const char* request;
    std::optional<std::string> answer;
  } opens[] = {{"OPEN DEV", "OK"}, {"OPEN PIPE00", "OK"}, {"OPEN PIPE01", "OK"}, {"OPEN PIPE99", "NO"}};
  for (const auto& c : opens) {
    const int fd = Connect(bridge.Port());
    ASSERT_GE(fd, 0);
    Send(fd, c.request);
    EXPECT_EQ(Receive(fd), c.answer) << c.request;
    ::close(fd);
  }

  // A text request on PIPE00, then the device's text in blocks on PIPE01.
  const int out = Connect(bridge.Port());
  Send(out, "OPEN PIPE00");
  ASSERT_EQ(Receive(out), std::string("OK"));
  Send(out, std::string(1, '\x40'));
  ::close(out);
  const int in = Connect(bridge.Port());
  Send(in, "OPEN PIPE01");
  ASSERT_EQ(Receive(in), std::string("OK"));
  std::string text;
  while (text.find('\n') == std::string::npos) {
    const auto block = Receive(in);
    ASSERT_TRUE(block) << text;
    EXPECT_LE(block->size(), 64u);
    text += *block;
  }
  ::close(in);

  // A length beyond any block ends the connection instead of a huge allocation.
  const int broken = Connect(bridge.Port());
  Send(broken, "OPEN PIPE00");
  ASSERT_EQ(Receive(broken), std::string("OK"));
  const uint8_t huge[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  ASSERT_EQ(::send(broken, huge, 4, MSG_NOSIGNAL), 4);
  EXPECT_EQ(Receive(broken), std::nullopt);
  ::close(broken);

  const uint16_t port = bridge.Port();
  bridge.Stop();
  EXPECT_EQ(Connect(port), -1);
  sim.Stop();
}

}  // namespace
}  // namespace edog::sim
