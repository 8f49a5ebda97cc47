#pragma once
// The simulator's door for Windows builds of the device library, which have no local
// socket to reach: a listener on 127.0.0.1:<port> that turns every TCP connection into a
// connection to the simulator's own local socket, one length-prefixed TCP message per
// socket message (device/DeviceTcp.h), both ways. Only a peer whose first message carries
// the bridge's token is let through; one that has not sent it within two seconds, or
// the oldest of too many waiting, is closed (PeerAdmission.h). Serves from one accepting
// thread plus one thread per let-through connection.
#include <cstdint>
#include <memory>
#include <string>

namespace edog::sim {

class TcpBridge {
 public:
  // `token`: what a peer must send first ("TOKEN <token>"); see NewToken.
  TcpBridge(uint16_t port, std::string localSocketPath, std::string token);
  ~TcpBridge();
  TcpBridge(const TcpBridge&) = delete;
  TcpBridge& operator=(const TcpBridge&) = delete;

  // Listens on the loopback address only and starts the accepting thread. Port 0 takes
  // a free port, which Port() then tells.
  bool Start(std::string* error);
  uint16_t Port() const;
  // 64 hexadecimal digits from the system's random source.
  static std::string NewToken();
  // Closes the listener and every bridged connection, and waits for their threads.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace edog::sim
