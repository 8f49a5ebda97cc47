#pragma once
// Whether the device socket may be trusted. Whoever listens on it receives every image the
// tools send and answers for the device, so the stand-in library, the tools and the
// simulator check it before use: the socket file and its folder must belong to the user
// (or root) and be closed to other users' changes, and the process listening on it must
// run as the user (or root). Each check gives the reason in plain words, naming the path,
// or an empty string when there is nothing to object to. One file per OS behind this
// header; the Windows device travels over loopback TCP, where these checks do not apply.
//
// Compiled into the core and into the stand-in device library alike, so it depends on
// nothing but the system.
#include <string>

namespace edog {

// The folder of `socketPath`: the private per-user folder (PrivateDeviceSocketFolder) must
// be a real folder of the user's with mode 0700; any other must belong to the user or root
// and, when others may write to it, be sticky (/tmp), so that nobody else can replace the
// socket. A folder that does not exist is no objection (there is no device then).
std::string DeviceSocketFolderProblem(const std::string& socketPath);

// The folder and the file at `socketPath`: a socket (not a link, file or anything else) of
// the user's or root's, writable by nobody else. Nothing at the path is no objection.
std::string DeviceSocketPathProblem(const std::string& socketPath);

// The process on the other end of `fd`, a socket connected to `socketPath`: it must run as
// the user or as root.
std::string DeviceSocketPeerProblem(int fd, const std::string& socketPath);

// For the tools when the device cannot be reached: the path checks, then a connection and
// the peer check. Empty when nothing is wrong with the socket (no device, or a trusted one).
std::string DeviceSocketRefusal(const std::string& socketPath);

// For the device side before it listens: creates the private per-user folder (mode 0700)
// when `socketPath` lies in it, then checks the folder as DeviceSocketFolderProblem does.
std::string PrepareDeviceSocketFolder(const std::string& socketPath);

// The simulator's state folder, whose files tell the tools where the device is (the
// serial line) and hold the TCP bridge's token: it must belong to the user (or root) and,
// when others may write to it, be sticky; a missing folder is no objection.
std::string StateFolderProblem(const std::string& dir);
// A file read from the state folder: a regular file (not a link) of the user's or root's
// that nobody else may write; nothing at the path is no objection.
std::string StateFileProblem(const std::string& path);

// What stands at a path, in words for a message ("a regular file", "a folder", ...), from
// its stat mode. POSIX only: the simulator's listener names what it refuses with it too.
const char* FileKindText(unsigned mode);

// What the user can do about a refused socket, for the end of a message.
constexpr const char* kDeviceSocketFix =
    "remove it, or choose a socket of your own with EDOG_DEVICE_SOCKET (or XDG_RUNTIME_DIR)";

}  // namespace edog
