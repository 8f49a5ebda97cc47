#pragma once
/* The end of a download on "PIPE00" between the stand-in device library's handles and the
 * simulator. Each block is answered once the device took it (DeviceSocket.h), but only the
 * end tells that flash holds the whole payload; success must mean stored. Once the last
 * block is written the host shuts its sending side and waits; the device, having read
 * everything up to that end and written it to flash, answers one message and closes:
 *   "STORED <bytes>"            the whole payload its command block announced is in flash;
 *   "FAILED <outcome> <bytes>"  anything else (short, out-of-range, bad-command, ...).
 * A device that closes without a word, or says nothing for a while, stored nothing sure. */
#include <cstring>

namespace edog {

constexpr const char* kDeviceStoredWord = "STORED";
constexpr const char* kDeviceFailedWord = "FAILED";
// How long the host waits for the status while the device takes no more bytes.
constexpr unsigned kDeviceEndStatusQuietMs = 5000;

inline bool IsDeviceStoredStatus(const char* message, size_t size) {
  const size_t n = std::strlen(kDeviceStoredWord);
  return size > n && std::memcmp(message, kDeviceStoredWord, n) == 0 && message[n] == ' ';
}

}  // namespace edog
