#pragma once
// The Windows stand-in device library's link to the device simulator: loopback TCP with
// length-prefixed messages (device/DeviceTcp.h).
#include <winsock2.h>

#include <cstdint>
#include <vector>

namespace halden {

// Connects to the simulator and asks for `name`; the connected socket on "OK", else
// INVALID_SOCKET. Gives up after `budgetMs` in all.
SOCKET TcpOpenNamed(const char* name, int budgetMs);
// One message, whole. False when the link is gone.
bool TcpSendMessage(SOCKET s, const void* data, uint32_t size);
// Waits up to `timeoutMs` for the next message: 1 with it in `out`, 0 when none came,
// -1 when the link is gone or broken.
int TcpReceiveMessage(SOCKET s, std::vector<uint8_t>& out, int timeoutMs);

}  // namespace halden
