// The simulator's TCP bridge is reachable by every local user: it lets a connection reach
// the device only after the token from the simulator's private state folder.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <optional>

#include "device/DeviceTcp.h"
#include "sim/Simulator.h"
#include "sim/TcpBridge.h"
#include "support/SimDevice.h"
#include "support/TestSupport.h"

namespace edog::test {
namespace {

// Connects, sends `messages` one by one, and returns the first answer (nothing when the
// bridge closed the connection or 6 s passed).
std::optional<std::string> Exchange(uint16_t port, const std::vector<std::string>& messages) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return std::nullopt;
  for (const std::string& m : messages) {
    std::string frame(4, '\0');
    PutMessageLength(reinterpret_cast<uint8_t*>(frame.data()), static_cast<uint32_t>(m.size()));
    frame += m;
    ::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
  }
  std::string got;
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    char buf[64];
    const ssize_t n = ::poll(&p, 1, 6000) > 0 ? ::recv(fd, buf, sizeof buf, 0) : -1;
    if (n <= 0) break;
    got.append(buf, static_cast<size_t>(n));
    if (got.size() >= 4 && got.size() >= 4 + GetMessageLength(reinterpret_cast<const uint8_t*>(got.data()))) break;
  }
  ::close(fd);
  if (got.size() < 4) return std::nullopt;
  return got.substr(4);
}

TEST(TcpToken, OnlyAPeerWithTheTokenReachesTheDevice) {
  TempDir dir;
  sim::Simulator device(UsbOnlyDevice(dir / "state", dir / "dev.sock"));
  std::string error;
  ASSERT_TRUE(device.Start(&error)) << error;
  const std::string token = sim::TcpBridge::NewToken();
  ASSERT_EQ(token.size(), 64u);
  EXPECT_NE(token, sim::TcpBridge::NewToken());
  sim::TcpBridge bridge(0, device.SocketPath(), token);
  ASSERT_TRUE(bridge.Start(&error)) << error;

  const std::string proof = std::string(kDeviceTcpTokenPrefix) + token;
  std::string wrong = proof;
  wrong.back() = wrong.back() == '0' ? '1' : '0';
  const struct {
    std::vector<std::string> messages;
    std::optional<std::string> answer;
  } rows[] = {
      {{"OPEN DEV"}, std::nullopt},                       // no token at all
      {{wrong, "OPEN DEV"}, std::nullopt},                // one digit off
      {{proof.substr(0, proof.size() - 1), "OPEN DEV"}, std::nullopt},  // cut short
      {{"TOKEN ", "OPEN DEV"}, std::nullopt},             // an empty token file
      {{proof, "OPEN DEV"}, std::string("OK")},
  };
  for (const auto& row : rows)
    EXPECT_EQ(Exchange(bridge.Port(), row.messages), row.answer) << row.messages[0];
  bridge.Stop();
  device.Stop();
}

TEST(TcpToken, TheSimulatorKeepsItsTokenPrivateAndRemovesIt) {
  TempDir dir;
  const std::string port = std::to_string(20000 + ::getpid() % 20000);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execl((BinDir() + "/edog-sim").c_str(), "edog-sim", "--state", (dir / "state").c_str(),
            "--socket", (dir / "dev.sock").c_str(), "--tcp-port", port.c_str(), "--no-serial", nullptr);
    ::_exit(127);
  }
  const std::string file = dir / "state/tcp-token";
  struct stat st {};
  for (int i = 0; i < 200 && (::stat(file.c_str(), &st) != 0 || st.st_size == 0); ++i) ::usleep(20000);
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(ReadText(file).size(), 65u);  // 64 digits and a line end
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_NE(::stat(file.c_str(), &st), 0);
}

}  // namespace
}  // namespace edog::test
