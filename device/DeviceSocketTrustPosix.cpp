#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/PrivateGroup.h"
#include "common/UniqueFd.h"
#include "device/DeviceSocket.h"
#include "device/DeviceSocketTrust.h"

namespace edog {
namespace {

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The user's own, or root's: root can reach everything of the user's anyway.
bool Trusted(uid_t owner) { return owner == ::getuid() || owner == 0; }

std::string User(uid_t uid) { return "user " + std::to_string(static_cast<unsigned long>(uid)); }
std::string You() { return "you (" + User(::getuid()) + ")"; }

std::string Mode(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// Others may write (or, for a socket, connect): everyone, or a group that is not the
// user's own private group (a umask of 002 gives that group write).
bool OthersMayWrite(const struct stat& st) {
  if (st.st_mode & S_IWOTH) return true;
  return (st.st_mode & S_IWGRP) && !IsOwnPrivateGroup(st.st_gid);
}

// `label` and `entries` name the folder and what others could swap in it.
std::string CheckFolder(const std::string& folder, const char* label = "the device socket's folder ",
                        const char* entries = "the socket") {
  const std::string what = label + folder;
  struct stat st {};
  // The private folder is taken as it stands, never through a link; a folder the user
  // named may be reached through links (a /tmp that points elsewhere).
  if (folder == PrivateDeviceSocketFolder()) {
    if (::lstat(folder.c_str(), &st) != 0) return {};
    if (S_ISLNK(st.st_mode)) return what + " is a symbolic link, not a private folder";
    if (!S_ISDIR(st.st_mode)) return what + " is " + FileKindText(st.st_mode) + ", not a folder";
    if (st.st_uid != ::getuid()) return what + " belongs to " + User(st.st_uid) + ", not to " + You();
    if (st.st_mode & 077)
      return what + " is open to other users (mode " + Mode(st.st_mode) + "); it must be 0700";
    return {};
  }
  if (::stat(folder.c_str(), &st) != 0) return {};
  if (!S_ISDIR(st.st_mode)) return what + " is " + FileKindText(st.st_mode) + ", not a folder";
  if (!Trusted(st.st_uid))
    return what + " belongs to " + User(st.st_uid) + ", not to " + You() + " or root";
  if (OthersMayWrite(st) && !(st.st_mode & S_ISVTX))
    return what + " lets other users replace " + entries + " (mode " + Mode(st.st_mode) +
           ": writable by others and not sticky)";
  return {};
}

}  // namespace

std::string DeviceSocketFolderProblem(const std::string& socketPath) {
  return CheckFolder(FolderOf(socketPath));
}

std::string StateFolderProblem(const std::string& dir) {
  if (std::string why = CheckFolder(dir, "the state folder ", "its files"); !why.empty())
    return why + "; choose a state folder of your own (--state DIR, or EDOG_SIM_STATE)";
  return {};
}

std::string StateFileProblem(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return {};
  if (!S_ISREG(st.st_mode)) return path + " is " + FileKindText(st.st_mode) + ", not a regular file";
  if (!Trusted(st.st_uid)) return path + " belongs to " + User(st.st_uid) + ", not to " + You();
  if (OthersMayWrite(st))
    return path + " may be changed by other users (mode " + Mode(st.st_mode) + ")";
  return {};
}

std::string DeviceSocketPathProblem(const std::string& socketPath) {
  if (std::string why = DeviceSocketFolderProblem(socketPath); !why.empty()) return why;
  struct stat st {};
  if (::lstat(socketPath.c_str(), &st) != 0) return {};
  const std::string what = "the device socket " + socketPath;
  if (!S_ISSOCK(st.st_mode)) return what + " is " + FileKindText(st.st_mode) + ", not a socket";
  if (!Trusted(st.st_uid)) return what + " belongs to " + User(st.st_uid) + ", not to " + You();
  if (OthersMayWrite(st))
    return what + " lets other users in (mode " + Mode(st.st_mode) + ")";
  return {};
}

std::string DeviceSocketPeerProblem(int fd, const std::string& socketPath) {
  uid_t peer = 0;
#ifdef SO_PEERCRED
  ucred cred{};
  socklen_t size = sizeof cred;
  const bool known = ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) == 0;
  peer = cred.uid;
#else
  gid_t group = 0;
  const bool known = ::getpeereid(fd, &peer, &group) == 0;
#endif
  if (!known)
    return "cannot tell who listens on the device socket " + socketPath + ": " + std::strerror(errno);
  if (!Trusted(peer))
    return "the device on " + socketPath + " runs as " + User(peer) + ", not as " + You();
  return {};
}

std::string DeviceSocketRefusal(const std::string& socketPath) {
  if (std::string why = DeviceSocketPathProblem(socketPath); !why.empty()) return why;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (socketPath.empty() || socketPath.size() >= sizeof addr.sun_path) return {};
  std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
  const UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.IsValid() || ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
    return {};
  return DeviceSocketPeerProblem(fd.Get(), socketPath);
}

std::string PrepareDeviceSocketFolder(const std::string& socketPath) {
  const std::string folder = FolderOf(socketPath);
  if (folder == PrivateDeviceSocketFolder() && ::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
    return "cannot create the device socket's folder " + folder + ": " + std::strerror(errno);
  return CheckFolder(folder);
}

const char* FileKindText(unsigned mode) {
  if (S_ISREG(mode)) return "a regular file";
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISLNK(mode)) return "a symbolic link";
  if (S_ISFIFO(mode)) return "a named pipe";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "something else";
}

}  // namespace edog
