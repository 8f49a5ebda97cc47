// The device socket as a hostile local user would plant it. Another user listening where
// the library looks (first at the fallback name, or at a named path), a socket open to
// others' changes, a file or link at the simulator's path: the library and the tools
// refuse the socket and say why with its path, and the simulator neither starts on
// something it does not own nor removes anything but a stale socket of the user's.
// Rows that need a second user (a process of "nobody") run only as root.
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
#include <memory>
#include <optional>

#include "device/DeviceSocket.h"
#include "device/DeviceSocketTrust.h"
#include "device/UsbLibrary.h"
#include "sim/Simulator.h"
#include "support/TestSupport.h"

namespace edog::test {
namespace {

constexpr uid_t kOther = 65534;  // "nobody"

// Sets or clears an environment variable for the scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) setenv(name, value, 1);
    else unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_) setenv(name_, old_->c_str(), 1);
    else unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
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
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return -1;
  return fd;
}

// A device played by another user: a child process that becomes "nobody", makes the
// socket's folder when asked, listens and answers "OK" to every open, as a hijacker would.
class ForeignDevice {
 public:
  ForeignDevice(const std::string& path, bool makeFolder) {
    const std::string folder = FolderOf(path);  // nothing is allocated after the fork
    int ready[2];
    if (::pipe(ready) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      if (::setgid(kOther) != 0 || ::setuid(kOther) != 0) ::_exit(1);
      if (makeFolder) ::mkdir(folder.c_str(), 0777);
      const int listener = BindSocket(path);
      if (listener < 0 || ::listen(listener, 16) != 0) ::_exit(1);
      (void)!::write(ready[1], "r", 1);
      for (;;) {
        const int c = ::accept(listener, nullptr, nullptr);
        if (c < 0) continue;
        char request[64];
        if (::recv(c, request, sizeof request, 0) > 0) (void)!::send(c, "OK", 2, MSG_NOSIGNAL);
        // Kept open: a device that took the open.
      }
    }
    ::close(ready[1]);
    pollfd p{ready[0], POLLIN, 0};
    char b = 0;
    listening_ = ::poll(&p, 1, 5000) == 1 && ::read(ready[0], &b, 1) == 1;
    ::close(ready[0]);
  }
  ~ForeignDevice() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  bool Listening() const { return listening_; }

 private:
  pid_t pid_ = -1;
  bool listening_ = false;
};

// The private fallback: no socket named, no runtime folder, the temp folder `tmp`.
struct FallbackEnv {
  explicit FallbackEnv(const std::string& tmp)
      : socket(kDeviceSocketEnv, nullptr), runtime("XDG_RUNTIME_DIR", nullptr), temp("TMPDIR", tmp.c_str()) {}
  ScopedEnv socket, runtime, temp;
};

TEST(SocketTrust, TheLibraryAndTheToolsRefuseASocketTheUserDoesNotControl) {
  TempDir dir;
  ASSERT_EQ(::chmod(dir.Path().c_str(), 01777), 0);  // like /tmp: others may make files here
  const auto library = UsbLibrary::Load(StandInLibrary());
  ASSERT_TRUE(library);
  const bool root = ::geteuid() == 0;

  // Each row plants a device and returns what the refusal must say; `keep` holds it.
  struct Row {
    const char* name;
    bool needsOtherUser;
    std::function<std::string(std::vector<std::shared_ptr<void>>& keep)> plant;
  };
  const std::string named = dir / "named.sock";
  const auto ownDevice = [&](const std::string& folder, std::vector<std::shared_ptr<void>>& keep) {
    std::filesystem::create_directories(folder);
    ::chmod(folder.c_str(), 0700);
    sim::SimulatorOptions o;
    o.stateDir = folder + "/state";
    o.socketPath = folder + "/d.sock";
    o.serial.enabled = false;
    auto device = std::make_shared<sim::Simulator>(o);
    std::string error;
    EXPECT_TRUE(device->Start(&error)) << error;
    keep.push_back(device);
    return o.socketPath;
  };
  const std::vector<Row> rows = {
      {"another user listens first where the fallback puts the socket", true,
       [&](auto& keep) {
         keep.push_back(std::make_shared<FallbackEnv>(dir.Path()));
         const std::string path = DefaultDeviceSocketPath();
         auto foreign = std::make_shared<ForeignDevice>(path, FolderOf(path) != dir.Path());
         EXPECT_TRUE(foreign->Listening());
         keep.push_back(foreign);
         return "belongs to user 65534";
       }},
      {"another user's socket named by EDOG_DEVICE_SOCKET", true,
       [&](auto& keep) {
         keep.push_back(std::make_shared<ScopedEnv>(kDeviceSocketEnv, named.c_str()));
         auto foreign = std::make_shared<ForeignDevice>(named, false);
         EXPECT_TRUE(foreign->Listening());
         keep.push_back(foreign);
         return "the device socket " + named + " belongs to user 65534";
       }},
      {"a socket handed to root, served by another user", true,
       [&](auto& keep) {
         keep.push_back(std::make_shared<ScopedEnv>(kDeviceSocketEnv, named.c_str()));
         auto foreign = std::make_shared<ForeignDevice>(named, false);
         EXPECT_TRUE(foreign->Listening());
         EXPECT_EQ(::chown(named.c_str(), 0, 0), 0);
         keep.push_back(foreign);
         return "the device on " + named + " runs as user 65534";
       }},
      {"the user's device in a folder anyone may change", false,
       [&](auto& keep) {
         const std::string path = ownDevice(dir / "open", keep);
         keep.push_back(std::make_shared<ScopedEnv>(kDeviceSocketEnv, path.c_str()));
         ::chmod((dir / "open").c_str(), 0777);
         return "folder " + dir / "open" + " lets other users replace the socket (mode 0777";
       }},
      {"the user's socket opened to others", false,
       [&](auto& keep) {
         const std::string path = ownDevice(dir / "own", keep);
         keep.push_back(std::make_shared<ScopedEnv>(kDeviceSocketEnv, path.c_str()));
         ::chmod(path.c_str(), 0666);
         return "the device socket " + path + " lets other users in (mode 0666)";
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.needsOtherUser && !root) continue;  // no second user to play the intruder
    std::vector<std::shared_ptr<void>> keep;
    const std::string said = row.plant(keep);
    EXPECT_FALSE(library->DevicePresent());
    EXPECT_NE(DeviceSocketRefusal(DefaultDeviceSocketPath()).find(said), std::string::npos)
        << DeviceSocketRefusal(DefaultDeviceSocketPath());
    const ProgramResult r = RunTool({"read-usb", "--seconds", "1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("refusing the device socket: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
    while (!keep.empty()) keep.pop_back();  // in reverse: the device before its environment
    ::unlink(named.c_str());
    std::filesystem::remove_all(dir / ("edog-" + std::to_string(::getuid())));
  }

  // The fallback as it should be: a private folder of the user's, a socket only they reach.
  FallbackEnv fallback(dir.Path());
  sim::SimulatorOptions o;
  o.stateDir = dir / "state";
  o.serial.enabled = false;
  sim::Simulator device(o);
  std::string error;
  ASSERT_TRUE(device.Start(&error)) << error;
  EXPECT_EQ(device.SocketPath(), dir / ("edog-" + std::to_string(::getuid())) + "/device.sock");
  EXPECT_EQ(ModeOf(FolderOf(device.SocketPath())) & 07777, 0700u);
  EXPECT_EQ(ModeOf(device.SocketPath()) & 07777, 0600u);
  EXPECT_TRUE(ProbeWithRetries([&] { return library->DevicePresent(); }));
  EXPECT_EQ(DeviceSocketRefusal(device.SocketPath()), "");
}

TEST(SocketTrust, TheSimulatorReplacesOnlyAStaleSocketOfTheUsers) {
  TempDir dir;
  const bool root = ::geteuid() == 0;
  const std::string path = dir / "d.sock";
  sim::SimulatorOptions live;
  live.stateDir = dir / "live-state";
  live.socketPath = dir / "live.sock";
  live.serial.enabled = false;
  sim::Simulator liveDevice(live);
  ASSERT_TRUE(liveDevice.Start());

  struct Row {
    const char* name;
    bool needsRoot;
    std::function<std::string()> plant;  // the socket path to start on
    std::string said;                    // empty: starts
  };
  const std::string privateFolder = dir / ("edog-" + std::to_string(::getuid()));
  const std::vector<Row> rows = {
      {"a regular file", false, [&] { WriteFile(path, std::string("keep me")); return path; },
       path + " is a regular file, not a socket: left as it is; remove it, or choose another "
              "socket with --socket PATH"},
      {"a link to a file", false,
       [&] {
         WriteFile(dir / "target", std::string("keep me"));
         std::filesystem::create_symlink(dir / "target", path);
         return path;
       },
       path + " is a symbolic link, not a socket"},
      {"a folder", false, [&] { std::filesystem::create_directory(path); return path; },
       path + " is a folder, not a socket"},
      {"another user's stale socket", true,
       [&] {
         ::close(BindSocket(path));
         EXPECT_EQ(::chown(path.c_str(), kOther, kOther), 0);
         return path;
       },
       path + " is a socket of user 65534, not yours: left as it is"},
      {"a device of the user's that still answers", false, [&] { return live.socketPath; },
       "another device already answers on " + live.socketPath},
      {"the private folder open to others", false,
       [&] {
         std::filesystem::create_directory(privateFolder);
         ::chmod(privateFolder.c_str(), 0755);
         return privateFolder + "/device.sock";
       },
       "the device socket's folder " + privateFolder + " is open to other users (mode 0755); it must be 0700"},
      {"the private folder made by another user", true,
       [&] {
         std::filesystem::create_directory(privateFolder);
         ::chmod(privateFolder.c_str(), 0700);
         EXPECT_EQ(::chown(privateFolder.c_str(), kOther, kOther), 0);
         return privateFolder + "/device.sock";
       },
       "the device socket's folder " + privateFolder + " belongs to user 65534"},
      {"a stale socket of the user's (a simulator that died)", false,
       [&] {
         ::close(BindSocket(path));
         return path;
       },
       ""},
  };
  ScopedEnv temp("TMPDIR", dir.Path().c_str());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.needsRoot && !root) continue;
    sim::SimulatorOptions o;
    o.stateDir = dir / "state";
    o.socketPath = row.plant();
    o.serial.enabled = false;
    const auto before = ModeOf(o.socketPath);
    sim::Simulator device(o);
    std::string error;
    const bool started = device.Start(&error);
    EXPECT_EQ(started, row.said.empty()) << error;
    if (!started) {
      EXPECT_NE(error.find(row.said), std::string::npos) << error;
      EXPECT_EQ(ModeOf(o.socketPath), before);  // whatever stood there still does
    }
    device.Stop();
    std::filesystem::remove_all(path);
    std::filesystem::remove_all(privateFolder);
  }
  EXPECT_EQ(ReadText(dir / "target"), "keep me");
}

}  // namespace
}  // namespace edog::test
