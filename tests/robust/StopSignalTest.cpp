// Stop requests as a service stop, `timeout` or a closed terminal send them: SIGTERM and
// SIGHUP end a transfer after its current block, remove the unscrambled images and exit
// 128 + the signal, as Ctrl-C does; the simulator stops cleanly and takes its socket along.
// After a SIGKILL the next run clears the killed run's marked folder and nothing else.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "common/Files.h"
#include "common/TempFolder.h"
#include "device/DeviceSocket.h"
#include "sim/Simulator.h"
#include "support/HeaderedContent.h"
#include "support/TestSupport.h"
#include "update/Package.h"

namespace edog::test {
namespace {

namespace fs = std::filesystem;
constexpr uid_t kOther = 65534;  // "nobody"

// A program of the build started in the background, its output in a file.
class Background {
 public:
  Background(const std::string& program, const std::vector<std::string>& args,
             const std::string& out) {
    const std::string exe = BinDir() + "/" + program;
    std::vector<std::string> all{exe};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      if (!std::freopen(out.c_str(), "wb", stdout) || !std::freopen("/dev/null", "wb", stderr)) _exit(127);
      ::execv(exe.c_str(), argv.data());
      _exit(127);
    }
  }
  ~Background() {
    if (pid_ > 0) Stop(SIGKILL);
  }
  // Sends `signal` and returns the exit status, or 128 + the signal that ended it.
  int Stop(int signal) {
    ::kill(pid_, signal);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t pid_ = -1;
};

bool WaitForText(const std::string& path, const std::string& text) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (ReadText(path).find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class StopSignal : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv(kDeviceSocketEnv, (dir_ / "dev.sock").c_str(), 1);
    setenv("TMP", tmp_.Path().c_str(), 1);
    sim::SimulatorOptions o;
    o.stateDir = dir_ / "state";
    o.bytesPerSecond = 256 * 1024;  // a 2 MiB image takes seconds: time to stop it midway
    o.serial.enabled = false;
    sim_ = std::make_unique<sim::Simulator>(o);
    std::string error;
    ASSERT_TRUE(sim_->Start(&error)) << error;
    const auto big = MakeHeaderedContent(Port::Usb, kFlashSerial, 0, 2 << 20, 7);
    const auto small = MakeHeaderedContent(Port::Usb, kFlashE, 0x1000, 4000, 8);
    WriteFile(image_, big.file);
    ASSERT_EQ(WritePackage(package_,
                           {{"edogvoice.hdr", big.file}, {"edogmap.hdr", small.file},
                            {"edogsoftware.hdr", small.file}},
                           KeyForMethod(3)),
              "");
  }
  void TearDown() override { unsetenv("TMP"); }
  TempDir dir_, tmp_;
  const std::string package_ = dir_ / "qzkt.dll", image_ = dir_ / "big.hdr", out_ = dir_ / "out.txt";
  std::unique_ptr<sim::Simulator> sim_;
};

struct StopRow {
  const char* command;
  int signal;
  int status;
};

TEST_F(StopSignal, EndsAfterTheCurrentBlockCleansUpAndExitsWithTheSignal) {
  const StopRow rows[] = {{"update", SIGTERM, 143}, {"update", SIGHUP, 129},
                          {"update", SIGINT, 130},  {"send-usb", SIGTERM, 143},
                          {"send-usb", SIGHUP, 129}};
  size_t jobs = 0;
  for (const StopRow& row : rows) {
    SCOPED_TRACE(std::string(row.command) + " " + strsignal(row.signal));
    const bool update = std::string(row.command) == "update";
    fs::remove(out_);  // the last row's progress must not count for this one
    Background tool("edogtool",
                    update ? std::vector<std::string>{"update", "--voice", "--package", package_}
                           : std::vector<std::string>{"send-usb", image_},
                    out_);
    ASSERT_TRUE(WaitForText(out_, " 10% ")) << ReadText(out_);
    if (update) {
      EXPECT_EQ(Entries(tmp_.Path()).size(), 1u);  // the extraction folder
    }
    EXPECT_EQ(tool.Stop(row.signal), row.status);
    EXPECT_TRUE(Entries(tmp_.Path()).empty()) << "extraction folder left behind";
    // The device saw the transfer end short, not cut off inside a block.
    ASSERT_TRUE(sim_->WaitForJournal(++jobs, 5000));
    EXPECT_EQ(sim_->JournalRecords().back().Text("outcome"), "short");
  }
}

TEST(SimulatorStop, HangupStopsCleanlyAndRemovesTheSocket) {
  TempDir dir;
  const std::string sock = dir / "d.sock", out = dir / "out.txt";
  Background device("edog-sim", {"--socket", sock, "--state", dir / "state"}, out);
  ASSERT_TRUE(WaitForText(out, "device ready"));
  EXPECT_EQ(::access(sock.c_str(), F_OK), 0);
  EXPECT_EQ(device.Stop(SIGHUP), 0);
  EXPECT_NE(ReadText(out).find("stopped"), std::string::npos);
  EXPECT_NE(::access(sock.c_str(), F_OK), 0);
}

// A folder as a killed run would leave it: a mark and a file.
std::string Plant(const std::string& base, const std::string& name, const std::string& mark) {
  const std::string dir = JoinPath(base, name);
  fs::create_directory(dir);
  ::chmod(dir.c_str(), 0700);
  WriteFile(JoinPath(dir, "edogvoice.hdr"), std::string("image"));
  if (!mark.empty()) WriteFile(JoinPath(dir, kOwnerMarkName), mark);
  return dir;
}

TEST_F(StopSignal, AfterAKillTheNextRunRemovesOnlyTheDeadOwnersMarkedFolders) {
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  const std::string self = "edog " + std::to_string(::getpid()) + " " + host + "\n";
  Plant(tmp_.Path(), "tmpNoMark", "");                               // not ours
  Plant(tmp_.Path(), "tmpLiving", self);                             // its owner runs
  Plant(tmp_.Path(), "tmpOtherM", "edog 999999 another-host\n");     // another machine's
  Plant(tmp_.Path(), "tmpWithSu", "edog 999999 " + std::string(host) + "\n");
  fs::create_directory(tmp_ / "tmpWithSu/sub");                  // holds more than files
  WriteFile(tmp_ / "tmpAFile0", std::string("x"));
  const bool root = ::getuid() == 0;
  if (root) {
    const std::string foreign = Plant(tmp_.Path(), "tmpNobody", "edog 999999 " + std::string(host) + "\n");
    for (const auto& e : fs::recursive_directory_iterator(foreign)) ::lchown(e.path().c_str(), kOther, kOther);
    ::lchown(foreign.c_str(), kOther, kOther);
  }
  const auto before = Entries(tmp_.Path());

  Background tool("edogtool", {"update", "--voice", "--package", package_}, out_);
  ASSERT_TRUE(WaitForText(out_, " 10% ")) << ReadText(out_);
  EXPECT_EQ(tool.Stop(SIGKILL), 128 + SIGKILL);
  ASSERT_EQ(Entries(tmp_.Path()).size(), before.size() + 1);  // the killed run's folder stays

  const auto r = RunTool({"unpack", package_});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string kept = fs::path(r.out.substr(0, r.out.find('\n'))).parent_path().string();
  auto after = Entries(tmp_.Path());
  after.erase(std::find(after.begin(), after.end(), fs::path(kept).filename().string()));
  EXPECT_EQ(after, before);
  // What unpack hands over is the user's now: unmarked, so no later run removes it.
  EXPECT_FALSE(fs::exists(fs::path(kept) / kOwnerMarkName));
  EXPECT_EQ(RunTool({"unpack", package_}).status, 0);
  EXPECT_TRUE(fs::exists(kept));
}

}  // namespace
}  // namespace edog::test
