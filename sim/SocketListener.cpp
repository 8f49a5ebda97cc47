#include "sim/SocketListener.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "device/DeviceSocketTrust.h"
#include "sim/PeerAdmission.h"

namespace edog::sim {
namespace {

constexpr const char* kFix =
    "remove it, or choose another socket with --socket PATH (or EDOG_DEVICE_SOCKET)";

}  // namespace

int SocketListener::Listen(const std::string& path, std::string* error) {
  Close();
  const auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return -1;
  };
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof(addr.sun_path))
    return fail("socket path empty or too long: " + path);
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  const auto* sa = reinterpret_cast<const sockaddr*>(&addr);

  if (const std::string why = PrepareDeviceSocketFolder(path); !why.empty())
    return fail("cannot listen on " + path + ": " + why + "; " + kFix);
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode))
      return fail(path + " is " + FileKindText(st.st_mode) + ", not a socket: left as it is; " + kFix);
    if (st.st_uid != ::getuid())
      return fail(path + " is a socket of user " + std::to_string(static_cast<unsigned long>(st.st_uid)) +
                  ", not yours: left as it is; " + kFix);
    // A socket of ours that nobody answers on was left by a simulator that died.
    const UniqueFd probe(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    if (!probe.IsValid()) return fail(std::string("cannot make a socket: ") + std::strerror(errno));
    if (::connect(probe.Get(), sa, sizeof(addr)) == 0)
      return fail("another device already answers on " + path);
    if (errno != ECONNREFUSED)
      return fail("cannot tell whether a device still answers on " + path + ": " + std::strerror(errno));
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
      return fail("cannot replace the stale socket " + path + ": " + std::strerror(errno));
  }

  UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.IsValid() || ::bind(fd.Get(), sa, sizeof(addr)) != 0)
    return fail("cannot listen on " + path + ": " + std::strerror(errno));
  // Only the user may connect, whatever the umask made of the new file.
  if (::chmod(path.c_str(), 0600) != 0 || ::listen(fd.Get(), kListenBacklog) != 0 ||
      ::lstat(path.c_str(), &st) != 0) {
    const int err = errno;
    ::unlink(path.c_str());
    return fail("cannot listen on " + path + ": " + std::strerror(err));
  }
  path_ = path;
  dev_ = st.st_dev;
  ino_ = st.st_ino;
  fd_ = std::move(fd);
  return fd_.Get();
}

void SocketListener::Close() {
  if (!fd_.IsValid()) return;
  fd_.Reset();
  struct stat st {};
  if (::lstat(path_.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_dev == dev_ && st.st_ino == ino_)
    ::unlink(path_.c_str());
}

}  // namespace edog::sim
