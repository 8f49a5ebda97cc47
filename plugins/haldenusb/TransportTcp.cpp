#include "TransportTcp.h"

#include <ws2tcpip.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "device/DeviceSocket.h"
#include "device/DeviceTcp.h"

namespace halden {
namespace {

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool WaitSocket(SOCKET s, bool forWrite, int timeoutMs) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  fd_set err;
  FD_ZERO(&err);
  FD_SET(s, &err);
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  const int r = ::select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, &err, &tv);
  return r > 0 && FD_ISSET(s, &set);
}

// Exactly `size` bytes; false on a closed or broken link.
bool ReceiveAll(SOCKET s, uint8_t* data, uint32_t size) {
  while (size > 0) {
    const int n = ::recv(s, reinterpret_cast<char*>(data), static_cast<int>(size), 0);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<uint32_t>(n);
  }
  return true;
}

bool WinsockReady() {
  static const bool ready = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return ready;
}

// The simulator's token: the first line of the token file (see DeviceTcp.h). Empty when
// there is none, which the bridge refuses like a wrong one.
std::string BridgeToken() {
  std::string path;
  if (const char* file = std::getenv(edog::kDeviceTcpTokenFileEnv); file && *file) {
    path = file;
  } else {
    const char* state = std::getenv("EDOG_SIM_STATE");
    path = std::string(state && *state ? state : "edog-sim-state") + "\\" +
           edog::kDeviceTcpTokenFile;
  }
  std::string token;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[256];
    const size_t n = std::fread(buf, 1, sizeof buf, f);
    std::fclose(f);
    token.assign(buf, n);
  }
  const size_t end = token.find_first_of("\r\n");
  if (end != std::string::npos) token.resize(end);
  return token;
}

}  // namespace

SOCKET TcpOpenNamed(const char* name, int budgetMs) {
  if (!WinsockReady()) return INVALID_SOCKET;
  const int64_t deadline = NowMs() + budgetMs;
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return s;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(edog::DeviceTcpPort());
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  // Connect without blocking, so that a missing simulator costs at most the budget.
  u_long nonBlocking = 1;
  ::ioctlsocket(s, FIONBIO, &nonBlocking);
  bool connected = ::connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
  if (!connected && ::WSAGetLastError() == WSAEWOULDBLOCK) {
    const int64_t left = deadline - NowMs();
    connected = left > 0 && WaitSocket(s, true, static_cast<int>(left));
  }
  nonBlocking = 0;
  ::ioctlsocket(s, FIONBIO, &nonBlocking);
  const int noDelay = 1;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
  const std::string request = std::string(edog::kDeviceOpenPrefix) + name;
  std::vector<uint8_t> answer;
  const std::string proof = std::string(edog::kDeviceTcpTokenPrefix) + BridgeToken();
  if (connected && TcpSendMessage(s, proof.data(), static_cast<uint32_t>(proof.size())) &&
      TcpSendMessage(s, request.data(), static_cast<uint32_t>(request.size()))) {
    const int64_t left = deadline - NowMs();
    if (left > 0 && TcpReceiveMessage(s, answer, static_cast<int>(left)) == 1 &&
        answer.size() == std::strlen(edog::kDeviceAnswerOk) &&
        std::memcmp(answer.data(), edog::kDeviceAnswerOk, answer.size()) == 0) {
      return s;
    }
  }
  ::closesocket(s);
  return INVALID_SOCKET;
}

bool TcpSendMessage(SOCKET s, const void* data, uint32_t size) {
  std::vector<char> frame(4 + size);
  edog::PutMessageLength(reinterpret_cast<uint8_t*>(frame.data()), size);
  if (size) std::memcpy(frame.data() + 4, data, size);
  size_t done = 0;
  while (done < frame.size()) {
    const int n = ::send(s, frame.data() + done, static_cast<int>(frame.size() - done), 0);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

int TcpReceiveMessage(SOCKET s, std::vector<uint8_t>& out, int timeoutMs) {
  if (!WaitSocket(s, false, timeoutMs)) {
    // Nothing to read, or the link broke: select reports the latter as an error.
    fd_set err;
    FD_ZERO(&err);
    FD_SET(s, &err);
    timeval zero{0, 0};
    return ::select(0, nullptr, nullptr, &err, &zero) > 0 ? -1 : 0;
  }
  uint8_t head[4];
  if (!ReceiveAll(s, head, 4)) return -1;
  const uint32_t size = edog::GetMessageLength(head);
  if (size > edog::kDeviceTcpMaxMessage) return -1;
  out.resize(size);
  return size == 0 || ReceiveAll(s, out.data(), size) ? 1 : -1;
}

}  // namespace halden
