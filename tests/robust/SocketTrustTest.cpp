// The device socket as a hostile local user would plant it: another user listening where
// the library looks, a socket or folder open to others' changes, a file or link at the
// simulator's path. The library and the tools refuse the socket and say why with its path;
// the simulator replaces nothing but a stale socket of the user's. Rows that need a second
// user (a process of "nobody") run only as root.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "device/DeviceSocket.h"
#include "device/UsbLibrary.h"
#include "sim/Simulator.h"
#include "support/SimDevice.h"
#include "support/TestSupport.h"

namespace edog::test {
namespace {

namespace fs = std::filesystem;
constexpr uid_t kOther = 65534;  // "nobody"

void Env(const char* name, const std::string& value) {
  if (value.empty()) unsetenv(name);
  else setenv(name, value.c_str(), 1);
}
// Puts back the variables that the rows change.
class SavedEnv {
 public:
  SavedEnv() {
    for (const char* n : {"TMPDIR", "XDG_RUNTIME_DIR", kDeviceSocketEnv})
      saved_.emplace_back(n, std::getenv(n) ? std::getenv(n) : "");
  }
  ~SavedEnv() {
    for (const auto& [name, value] : saved_) Env(name, value);
  }

 private:
  std::vector<std::pair<const char*, std::string>> saved_;
};
std::string FolderOf(const std::string& path) { return path.substr(0, path.find_last_of('/')); }
mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

int BindSocket(const std::string& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
  return fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 ? fd : -1;
}

std::unique_ptr<sim::Simulator> StartDevice(const std::string& socket, const std::string& state) {
  auto device = std::make_unique<sim::Simulator>(UsbOnlyDevice(state, socket));
  std::string error;
  EXPECT_TRUE(device->Start(&error)) << error;
  return device;
}

// A hijacker: a child process as "nobody" that makes the socket's folder when asked,
// listens and answers "OK" to every open.
class ForeignDevice {
 public:
  ForeignDevice(const std::string& path, bool makeFolder) {
    const std::string folder = FolderOf(path);  // nothing is allocated after the fork
    int ready[2];
    if (::pipe(ready) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      if (::setgid(kOther) != 0 || ::setuid(kOther) != 0) ::_exit(1);
      if (makeFolder) ::mkdir(folder.c_str(), 0777);
      const int listener = BindSocket(path);
      if (listener < 0 || ::listen(listener, 16) != 0) ::_exit(1);
      (void)!::write(ready[1], "r", 1);
      for (char request[64];;) {
        const int c = ::accept(listener, nullptr, nullptr);
        if (c >= 0 && ::recv(c, request, sizeof request, 0) > 0)
          (void)!::send(c, "OK", 2, MSG_NOSIGNAL);
      }
    }
    ::close(ready[1]);
    pollfd p{ready[0], POLLIN, 0};
    char b = 0;
    listening_ = ::poll(&p, 1, 5000) == 1 && ::read(ready[0], &b, 1) == 1;
    ::close(ready[0]);
  }
  ~ForeignDevice() {
    if (pid_ > 0 && ::kill(pid_, SIGKILL) == 0) ::waitpid(pid_, nullptr, 0);
  }
  bool listening_ = false;

 private:
  pid_t pid_ = -1;
};

TEST(SocketTrust, TheLibraryAndTheToolsRefuseASocketTheUserDoesNotControl) {
  const SavedEnv env;
  TempDir dir;
  ASSERT_EQ(::chmod(dir.Path().c_str(), 01777), 0);  // like /tmp: others may make files here
  const auto library = UsbLibrary::Load(StandInLibrary());
  ASSERT_TRUE(library);
  Env("XDG_RUNTIME_DIR", "");
  Env("TMPDIR", dir.Path());
  const std::string named = dir / "named.sock", own = dir / "own", ownSocket = own + "/d.sock";
  struct Row {
    const char* name;
    std::string socket;  // EDOG_DEVICE_SOCKET; empty: the fallback
    bool foreign;         // played by "nobody"; else the user's own simulator
    std::string changed;  // then chmod'ed to `mode` (chown'ed to root for a foreign one)
    mode_t mode;
    std::string said;
  };
  const std::vector<Row> rows = {
      {"another user listens first where the fallback puts the socket", "", true, "", 0,
       "belongs to user 65534, not to you"},
      {"another user's socket, named", named, true, "", 0,
       "the device socket " + named + " belongs to user 65534"},
      {"a socket handed to root, served by another user", named, true, named, 0,
       "the device on " + named + " runs as user 65534"},
      {"the user's socket opened to others", ownSocket, false, ownSocket, 0666,
       "the device socket " + ownSocket + " lets other users in (mode 0666)"},
      {"the user's device in a folder anyone may change", ownSocket, false, own, 0777,
       "folder " + own + " lets other users replace the socket (mode 0777"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.foreign && ::geteuid() != 0) continue;  // no second user to play the intruder
    Env(kDeviceSocketEnv, row.socket);
    const std::string path = DefaultDeviceSocketPath();
    std::unique_ptr<ForeignDevice> intruder;
    std::unique_ptr<sim::Simulator> device;
    if (row.foreign) {
      intruder = std::make_unique<ForeignDevice>(path, FolderOf(path) != dir.Path());
      ASSERT_TRUE(intruder->listening_);
      if (!row.changed.empty()) {
        ASSERT_EQ(::chown(row.changed.c_str(), 0, 0), 0);
      }
    } else {
      fs::create_directory(own);
      ::chmod(own.c_str(), 0700);
      device = StartDevice(path, own + "/state");
      ::chmod(row.changed.c_str(), row.mode);
    }
    EXPECT_FALSE(library->DevicePresent());
    const ProgramResult r = RunTool({"read-usb", "--seconds", "1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("refusing the device socket: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(row.said), std::string::npos) << r.err;
    intruder.reset();
    device.reset();
    for (const std::string& p : {named, own, FolderOf(path)})
      if (p != dir.Path()) fs::remove_all(p);
  }

  // The fallback as it should be: a private folder of the user's, a socket only they reach.
  Env(kDeviceSocketEnv, "");
  const auto device = StartDevice("", dir / "state");
  EXPECT_EQ(device->SocketPath(), dir / ("edog-" + std::to_string(::getuid())) + "/device.sock");
  EXPECT_EQ(ModeOf(FolderOf(device->SocketPath())) & 07777, 0700u);
  EXPECT_EQ(ModeOf(device->SocketPath()) & 07777, 0600u);
  EXPECT_TRUE(ProbeWithRetries([&] { return library->DevicePresent(); }));
}

TEST(SocketTrust, TheSimulatorReplacesOnlyAStaleSocketOfTheUsers) {
  const SavedEnv env;
  TempDir dir;
  const std::string path = dir / "d.sock", live = dir / "live.sock";
  const std::string privateFolder = dir / ("edog-" + std::to_string(::getuid()));
  const auto liveDevice = StartDevice(live, dir / "live-state");
  Env("TMPDIR", dir.Path());
  struct Row {
    const char* name;
    bool needsRoot;
    std::function<std::string()> plant;  // the socket path to start on
    std::string said;                    // empty: starts
  };
  const std::vector<Row> rows = {
      {"a regular file", false, [&] { WriteFile(path, std::string("keep me")); return path; },
       path + " is a regular file, not a socket: left as it is; remove it, or choose another "
              "socket with --socket PATH"},
      {"a link", false, [&] { fs::create_symlink(dir / "target", path); return path; },
       path + " is a symbolic link, not a socket"},
      {"another user's stale socket", true,
       [&] {
         ::close(BindSocket(path));
         EXPECT_EQ(::chown(path.c_str(), kOther, kOther), 0);
         return path;
       },
       path + " is a socket of user 65534, not yours: left as it is"},
      {"a device of the user's that still answers", false, [&] { return live; },
       "another device already answers on " + live},
      {"the private folder open to others", false,
       [&] {
         fs::create_directory(privateFolder);
         ::chmod(privateFolder.c_str(), 0755);
         return privateFolder + "/device.sock";
       },
       "the device socket's folder " + privateFolder +
           " is open to other users (mode 0755); it must be 0700"},
      {"the private folder made by another user", true,
       [&] {
         fs::create_directory(privateFolder);
         EXPECT_EQ(::chown(privateFolder.c_str(), kOther, kOther), 0);
         return privateFolder + "/device.sock";
       },
       "the device socket's folder " + privateFolder + " belongs to user 65534"},
      {"a stale socket of the user's (a simulator that died)", false,
       [&] { ::close(BindSocket(path)); return path; }, ""},
  };
  WriteFile(dir / "target", std::string("keep me"));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.needsRoot && ::geteuid() != 0) continue;
    const sim::SimulatorOptions o = UsbOnlyDevice(dir / "state", row.plant());
    const mode_t before = ModeOf(o.socketPath);
    sim::Simulator device(o);
    std::string error;
    EXPECT_EQ(device.Start(&error), row.said.empty()) << error;
    if (!row.said.empty()) {
      EXPECT_NE(error.find(row.said), std::string::npos) << error;
      EXPECT_EQ(ModeOf(o.socketPath), before);  // whatever stood there still does
      if (S_ISREG(before)) {
        EXPECT_EQ(ReadText(o.socketPath), "keep me");
      }
    }
    device.Stop();
    fs::remove_all(path);
    fs::remove_all(privateFolder);
  }
  EXPECT_EQ(ReadText(dir / "target"), "keep me");
}

}  // namespace
}  // namespace edog::test
