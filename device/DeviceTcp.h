#pragma once
/* Where a Windows build of the stand-in device library finds the device simulator: the
 * simulator's loopback TCP bridge, 127.0.0.1 on $EDOG_SIM_TCP_PORT (default 53117).
 *
 * TCP carries a byte stream, the device's pipes carry blocks: every message travels as a
 * 4-byte little-endian length and then that many bytes. The exchange is the local
 * socket's one (DeviceSocket.h): "OPEN <name>", then "OK" or "NO", then pipe blocks.
 *
 * Any local user can reach a loopback port, so the first message must prove that its
 * sender may read the simulator's private files: "TOKEN <token>", the random token the
 * simulator writes into the 0600 file "tcp-token" of its state folder. The library reads
 * the file that $EDOG_SIM_TOKEN_FILE names (under wine e.g. Z:/home/me/edog-sim-state/
 * tcp-token), else "tcp-token" in $EDOG_SIM_STATE, else in ./edog-sim-state. A connection
 * without the right token, or without all of it within two seconds of connecting, is
 * closed before it reaches the device. */
#include <stdint.h>
#include <stdlib.h>

namespace edog {

constexpr const char* kDeviceTcpPortEnv = "EDOG_SIM_TCP_PORT";
constexpr uint16_t kDefaultDeviceTcpPort = 53117;
constexpr uint32_t kDeviceTcpMaxMessage = 16u << 20;  // larger lengths mean a broken stream
constexpr const char* kDeviceTcpTokenFile = "tcp-token";
constexpr const char* kDeviceTcpTokenFileEnv = "EDOG_SIM_TOKEN_FILE";
constexpr const char* kDeviceTcpTokenPrefix = "TOKEN ";

inline uint16_t DeviceTcpPort() {
  const char* v = getenv(kDeviceTcpPortEnv);
  if (!v || !*v) return kDefaultDeviceTcpPort;
  char* end = nullptr;
  const long port = strtol(v, &end, 10);
  return (*end == '\0' && port > 0 && port < 65536) ? static_cast<uint16_t>(port)
                                                     : kDefaultDeviceTcpPort;
}

inline void PutMessageLength(uint8_t out[4], uint32_t n) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(n >> (8 * i));
}

inline uint32_t GetMessageLength(const uint8_t in[4]) {
  return uint32_t(in[0]) | uint32_t(in[1]) << 8 | uint32_t(in[2]) << 16 | uint32_t(in[3]) << 24;
}

}  // namespace edog
