#pragma once
/* Where the stand-in device library finds the device simulator, and the few words they
 * exchange when a pipe is opened. Shared, header-only, by the stand-in library, the
 * simulator and the core, so the three can never disagree on the path.
 *
 * Path rule: $EDOG_DEVICE_SOCKET, else $XDG_RUNTIME_DIR/edog-device.sock, else
 * "device.sock" in a private per-user folder of the temp folder ($TMPDIR or /tmp,
 * "edog-<uid>", mode 0700). A fixed name in a folder every user may write would let
 * another user listen there first and take the images; the simulator creates the private
 * folder, and both sides check owners and modes before use (DeviceSocketTrust.h).
 *
 * Opening: the library connects a SOCK_SEQPACKET socket and sends one message
 * "OPEN <name>" (name "DEV" for the presence probe, or a pipe name). The device answers
 * "OK" or "NO"; a device that does not answer in time counts as absent. After "OK" every
 * message on the socket is one pipe block.
 *
 * On "PIPE00" the device answers every block, as a bulk transfer completes only once the
 * device has the data: "TOOK <bytes>" when it took the block (<bytes> it holds of this
 * job's payload so far), "BUSY" when it had no room and dropped it (the host tries the
 * same block again). The host sends the next block only after the answer, so what it
 * counts as sent is what the device holds. */
#include <cstdlib>
#include <string>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace edog {

constexpr const char* kDeviceSocketEnv = "EDOG_DEVICE_SOCKET";
constexpr const char* kDeviceSocketName = "edog-device.sock";
constexpr const char* kPrivateSocketName = "device.sock";
constexpr const char* kDeviceOpenPrefix = "OPEN ";
constexpr const char* kDeviceProbeName = "DEV";
constexpr const char* kDeviceAnswerOk = "OK";
constexpr const char* kDeviceAnswerNo = "NO";
constexpr const char* kDeviceBlockTaken = "TOOK";
constexpr const char* kDeviceBlockBusy = "BUSY";
// How long a host waits for the answer to one block before it gives the pipe up.
constexpr unsigned kDeviceBlockAnswerMs = 5000;

// The private per-user folder of the last rule: "<temp>/edog-<uid>" (on Windows, where
// the socket is not used, "<TEMP>\\edog-<user>").
inline std::string PrivateDeviceSocketFolder() {
#ifdef _WIN32
  const char* tmp = std::getenv("TEMP");
  const char* user = std::getenv("USERNAME");
  return std::string(tmp && *tmp ? tmp : ".") + "\\edog-" + (user ? user : "user");
#else
  const char* tmp = std::getenv("TMPDIR");
  return std::string(tmp && *tmp ? tmp : "/tmp") + "/edog-" +
         std::to_string(static_cast<unsigned long>(getuid()));
#endif
}

inline std::string DefaultDeviceSocketPath() {
  if (const char* p = std::getenv(kDeviceSocketEnv); p && *p) return p;
  if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run) {
    return std::string(run) + "/" + kDeviceSocketName;
  }
#ifdef _WIN32
  return PrivateDeviceSocketFolder() + "\\" + kPrivateSocketName;
#else
  return PrivateDeviceSocketFolder() + "/" + kPrivateSocketName;
#endif
}

}  // namespace edog
