// edogtool send-usb / read-usb / sim and the edog-sim program, run as programs against a
// simulator started in this process.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <sstream>
#include <sys/stat.h>
#include <thread>

#include "device/DeviceSocket.h"
#include "sim/Simulator.h"
#include "support/TestSupport.h"
#include "update/HeaderedImage.h"

namespace edog {
namespace {

using test::RunTool;

std::vector<uint8_t> Image(uint8_t flash, uint32_t start, const std::vector<uint8_t>& payload) {
  const auto h = BuildHeaderBlock(Port::Usb, flash, start, static_cast<uint32_t>(payload.size()),
                                  static_cast<uint32_t>((payload.size() + 63) / 64));
  std::vector<uint8_t> image(kHeaderBlockSize + payload.size());
  std::copy(h.begin(), h.end(), image.begin());
  std::copy(payload.begin(), payload.end(), image.begin() + kHeaderBlockSize);
  return image;
}

class UsbCommands : public ::testing::Test {
 protected:
  void SetUp() override { setenv(kDeviceSocketEnv, (dir_ / "dev.sock").c_str(), 1); }
  sim::Simulator& StartSim(uint64_t speed = 0, sim::FaultOptions faults = {}) {
    sim::SimulatorOptions o;
    o.stateDir = dir_ / "state";
    o.bytesPerSecond = speed;
    o.faults = faults;
    sim_ = std::make_unique<sim::Simulator>(o);
    std::string error;
    EXPECT_TRUE(sim_->Start(&error)) << error;
    return *sim_;
  }
  test::TempDir dir_;
  std::unique_ptr<sim::Simulator> sim_;
};

TEST_F(UsbCommands, SendUsbDeliversTheFileWithPlainProgressLines) {
  StartSim();
  const auto payload = test::RandomBytes(100 * 1024, 21);
  test::WriteFile(dir_ / "voice.hdr", Image(kFlashSerial, 0x8000, payload));
  const auto r = RunTool({"send-usb", dir_ / "voice.hdr"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Serial Flash, Packet num: 1600, Tx size: 2048\n"), std::string::npos);
  // One plain line per 10 % step, 0 % to 100 %.
  std::regex line("send voice\\.hdr (\\d+)% (\\d+)K/100K");
  std::vector<int> steps;
  for (auto it = std::sregex_iterator(r.out.begin(), r.out.end(), line); it != std::sregex_iterator(); ++it) {
    steps.push_back(std::stoi((*it)[1]) / 10);
  }
  EXPECT_EQ(steps, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  EXPECT_TRUE(std::regex_search(r.out, std::regex("\\d+ms, \\d+KB/s\n")));
  ASSERT_TRUE(sim_->WaitForJournal(1, 5000));
  EXPECT_EQ(sim_->JournalRecords().back().Text("outcome"), "complete");
  EXPECT_EQ(sim_->ReadFlash(kFlashSerial, 0x8000, payload.size()), payload);
}

TEST_F(UsbCommands, SendUsbTracesEveryWrite) {
  StartSim();
  test::WriteFile(dir_ / "f.hdr", Image(kFlashNand, 2, test::RandomBytes(5000, 2)));
  const auto r = RunTool({"send-usb", "--trace", dir_ / "f.hdr"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::regex traceLine("\\d+\\.\\d{6} PIPE00 (command|payload) offset (\\d+) size (\\d+) attempt \\d+ (accepted|refused)");
  std::vector<std::string> accepted;
  for (auto it = std::sregex_iterator(r.err.begin(), r.err.end(), traceLine); it != std::sregex_iterator(); ++it) {
    if ((*it)[4] == "accepted") accepted.push_back((*it)[1].str() + " " + (*it)[2].str() + " " + (*it)[3].str());
  }
  EXPECT_EQ(accepted, (std::vector<std::string>{"command 0 20", "payload 0 2048", "payload 2048 2048",
                                                "payload 4096 904"}));
}

TEST_F(UsbCommands, SendUsbRefusesWithoutDeviceAndShortFiles) {
  test::WriteFile(dir_ / "f.hdr", Image(kFlashSerial, 0, test::RandomBytes(100, 1)));
  auto r = RunTool({"send-usb", dir_ / "f.hdr"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Can't open USB device."), std::string::npos);
  StartSim();
  test::WriteFile(dir_ / "short.hdr", std::vector<uint8_t>(500, 0x24));
  r = RunTool({"send-usb", dir_ / "short.hdr"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("shorter than the 1024-byte header block"), std::string::npos);
  EXPECT_EQ(RunTool({"send-usb"}).status, 2);
  EXPECT_EQ(RunTool({"send-usb", "--help"}).status, 0);
}

TEST_F(UsbCommands, SendUsbFailsWhenTheDeviceStopsTakingData) {
  sim::FaultOptions f;
  f.refuse = {true, 8 * 1024, 0};
  StartSim(0, f);
  test::WriteFile(dir_ / "f.hdr", Image(kFlashSerial, 0, test::RandomBytes(64 * 1024, 3)));
  const auto r = RunTool({"send-usb", dir_ / "f.hdr"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("the device stopped taking data after"), std::string::npos);
}

TEST_F(UsbCommands, SendUsbCountsOnlyWhatTheDeviceTook) {
  // The device goes after 20 000 bytes: what the command reports is what it holds.
  sim::FaultOptions f;
  f.vanish = {true, 20000, 0};
  StartSim(0, f);
  const auto payload = test::RandomBytes(42 * 1024, 5);
  test::WriteFile(dir_ / "f.hdr", Image(kFlashSerial, 0, payload));
  const auto r = RunTool({"send-usb", dir_ / "f.hdr"});
  EXPECT_EQ(r.status, 1);
  ASSERT_TRUE(sim_->WaitForJournal(1, 5000));
  const uint64_t took = sim_->JournalRecords().back().Number("received");
  EXPECT_GE(took, 20000u);
  EXPECT_LT(took, payload.size());
  EXPECT_NE(r.err.find("after " + std::to_string(took) + " of " + std::to_string(payload.size()) + " bytes"),
            std::string::npos)
      << r.err;
  // The summary rates the whole payload, as the window's does; beside it what the device took.
  EXPECT_TRUE(std::regex_search(r.out, std::regex("\\d+ms, \\d+KB/s \\(the device took " + std::to_string(took) +
                                                  " of " + std::to_string(payload.size()) +
                                                  " bytes, \\d+KB/s\\)\n")))
      << r.out;
  std::regex line("send f\\.hdr (\\d+)% (\\d+)K/42K");
  int lines = 0;
  for (auto it = std::sregex_iterator(r.out.begin(), r.out.end(), line); it != std::sregex_iterator(); ++it) {
    ++lines;
    EXPECT_LE(std::stoul((*it)[1]), took * 100 / payload.size()) << it->str();
    EXPECT_LE(std::stoul((*it)[2]), took >> 10) << it->str();
  }
  EXPECT_GT(lines, 1) << r.out;
}

TEST_F(UsbCommands, SendUsbSpeedAndTimeLeftFollowTheDevicesPace) {
  // 160 KiB at 64 KiB/s: two and a half seconds of a steady device.
  StartSim(64 * 1024);
  test::WriteFile(dir_ / "f.hdr", Image(kFlashSerial, 0, test::RandomBytes(160 * 1024, 6)));
  const auto r = RunTool({"send-usb", dir_ / "f.hdr"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::smatch end;
  ASSERT_TRUE(std::regex_search(r.out, end, std::regex("(\\d+)ms, (\\d+)KB/s\n"))) << r.out;
  const double endRate = std::stod(end[2]);
  EXPECT_NEAR(endRate, 64, 64 * 0.25) << r.out;
  std::regex line("send f\\.hdr (\\d+)% \\d+K/160K(?: (\\d+)KB/s)?(?: (\\d+):(\\d\\d) left)?\n");
  int speeds = 0, estimates = 0;
  for (auto it = std::sregex_iterator(r.out.begin(), r.out.end(), line); it != std::sregex_iterator(); ++it) {
    const int percent = std::stoi((*it)[1]);
    if ((*it)[2].matched) {
      ++speeds;
      EXPECT_NEAR(std::stod((*it)[2]), endRate, endRate * 0.25) << it->str();
    }
    if (percent > 0 && percent < 100) {
      // The rest of 2.5 s at the pace seen: never "0:00" while bytes are left.
      ASSERT_TRUE((*it)[3].matched) << it->str();
      const int left = std::stoi((*it)[3]) * 60 + std::stoi((*it)[4]);
      const double expected = 2.5 * (100 - percent) / 100;
      EXPECT_GE(left, 1) << it->str();
      EXPECT_LE(left, expected + 1.5) << it->str();
      ++estimates;
    }
  }
  EXPECT_GE(speeds, 3) << r.out;
  EXPECT_GE(estimates, 5) << r.out;
}

TEST_F(UsbCommands, CtrlCCancelsAfterTheCurrentBlockAndExits130) {
  StartSim(256 * 1024);
  const auto payload = test::RandomBytes(1 << 20, 4);
  test::WriteFile(dir_ / "f.hdr", Image(kFlashSerial, 0, payload));
  const std::string out = dir_ / "out.txt";
  const std::string exe = test::BinDir() + "/edogtool";
  const std::string file = dir_ / "f.hdr";
  const pid_t pid = fork();
  if (pid == 0) {
    if (!freopen(out.c_str(), "wb", stdout) || !freopen("/dev/null", "wb", stderr)) _exit(127);
    execl(exe.c_str(), exe.c_str(), "send-usb", file.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  // Wait (bounded) until the transfer is under way, then press Ctrl-C.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (test::ReadText(out).find(" 10% ") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
  ASSERT_TRUE(sim_->WaitForJournal(1, 5000));
  const auto rec = sim_->JournalRecords().back();
  EXPECT_EQ(rec.Text("outcome"), "short");
  const uint64_t got = rec.Number("received");
  EXPECT_GT(got, 0u);
  EXPECT_EQ(sim_->ReadFlash(kFlashSerial, 0, got), std::vector<uint8_t>(payload.begin(), payload.begin() + got));
}

// doctor on the build against the simulator: every line OK or FIX, the device's line
// following the simulator, and the exit status saying whether all hold.
TEST_F(UsbCommands, DoctorSeesTheSimulatorAndNamesTheFixWithout) {
  // Folders of its own for the program (the device socket is the fixture's).
  std::vector<std::pair<std::string, const char*>> old;
  for (const char* name : {"XDG_RUNTIME_DIR", "TMP", "TMPDIR", "XDG_CONFIG_HOME", "HOME"}) {
    const char* value = std::getenv(name);
    old.emplace_back(name, value ? strdup(value) : nullptr);
    ::mkdir((dir_ / name).c_str(), 0700);
    setenv(name, (dir_ / name).c_str(), 1);
  }
  test::WriteFile(dir_ / "qzkt.dll", std::string("package"));
  const std::vector<std::string> args = {"doctor", "--device", "sim", "--package", dir_ / "qzkt.dll"};
  const auto absent = RunTool(args);
  EXPECT_EQ(absent.status, 1) << absent.out;
  EXPECT_NE(absent.out.find("\nFIX  device: no device answered through "), std::string::npos) << absent.out;
  EXPECT_NE(absent.out.find("start it (edog-sim, or edogtool sim) and run again\n"), std::string::npos);
  StartSim();
  const auto r = RunTool(args);
  EXPECT_NE(r.out.find("OK   device library: "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("OK   update package: " + (dir_ / "qzkt.dll") + " (named on the command line"),
            std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nOK   device: answers through "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("OK   temp folder: " + (dir_ / "TMP")), std::string::npos) << r.out;
  std::regex line("(OK   |FIX  )[^:\n]+: .+");
  size_t fixes = 0, lines = 0;
  std::istringstream in(r.out);
  for (std::string l; std::getline(in, l);) {
    if (l == "all checks passed" || l == "some checks need a fix (FIX lines)") continue;
    ++lines;
    EXPECT_TRUE(std::regex_match(l, line)) << l;
    if (l.rfind("FIX", 0) == 0) ++fixes;
  }
  EXPECT_GE(lines, 5u);
  // This machine's serial ports may need a fix of their own; nothing else may.
  EXPECT_EQ(r.status, fixes == 0 ? 0 : 1) << r.out;
  EXPECT_EQ(r.out.find("FIX  device"), std::string::npos) << r.out;
  for (auto& [name, value] : old) {
    value ? setenv(name.c_str(), value, 1) : unsetenv(name.c_str());
    std::free(const_cast<char*>(value));
  }
}

TEST_F(UsbCommands, ReadUsbPrintsTheDeviceText) {
  auto r = RunTool({"read-usb", "--seconds", "1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Can't open USB device."), std::string::npos);
  StartSim();
  r = RunTool({"read-usb", "--seconds", "1"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("EDOG-SIM firmware 1.00, database 2026.12\r\nno jobs yet\r\n"), 0u);
  EXPECT_EQ(RunTool({"read-usb", "--seconds", "soon"}).status, 2);
}

TEST_F(UsbCommands, ReadUsbEndsWhenTheDeviceGoes) {
  StartSim();
  // Unplug the device once it has been asked for text.
  std::thread unplug([&] {
    EXPECT_TRUE(sim_->WaitForJournal(1, 10000));
    sim_->Stop();
  });
  const auto r = RunTool({"read-usb"});
  unplug.join();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("the device has gone"), std::string::npos);
}

TEST(SimulatorProgram, HelpAndUsageErrors) {
  auto r = test::RunProgram("edog-sim", {"--help"});
  EXPECT_EQ(r.status, 0);
  for (const char* opt : {"--state", "--socket", "--speed", "--refuse-after", "--vanish-after", "--stall-after"}) {
    EXPECT_NE(r.out.find(opt), std::string::npos) << opt;
  }
  EXPECT_EQ(test::RunProgram("edog-sim", {"--speed", "-3"}).status, 2);
  EXPECT_EQ(RunTool({"sim", "--help"}).status, 0);
}

TEST(SimulatorProgram, StopsCleanlyOnSigterm) {
  test::TempDir dir;
  const std::string exe = test::BinDir() + "/edog-sim";
  const std::string sock = dir / "d.sock", state = dir / "state", out = dir / "out.txt";
  const pid_t pid = fork();
  if (pid == 0) {
    if (!freopen(out.c_str(), "wb", stdout)) _exit(127);
    execl(exe.c_str(), exe.c_str(), "--socket", sock.c_str(), "--state", state.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (test::ReadText(out).find("device ready") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(access(sock.c_str(), F_OK), 0);
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_NE(test::ReadText(out).find("stopped"), std::string::npos);
  EXPECT_NE(access(sock.c_str(), F_OK), 0);  // the socket is removed
}

// Without --state the simulator keeps its state where the tools look for it: a serial line
// it announces under $EDOG_SIM_STATE is listed by `edogtool ports`.
TEST(SimulatorProgram, TakesItsStateFolderFromTheEnvironmentAsTheToolsDo) {
  test::TempDir dir;
  const std::string exe = test::BinDir() + "/edog-sim";
  const std::string sock = dir / "d.sock", state = dir / "state", out = dir / "out.txt";
  const pid_t pid = fork();
  if (pid == 0) {
    // In a folder of its own, so a simulator that ignored the variable leaves nothing here.
    if (chdir(dir.Path().c_str()) != 0 || !freopen(out.c_str(), "wb", stdout)) _exit(127);
    setenv("EDOG_SIM_STATE", state.c_str(), 1);
    execl(exe.c_str(), exe.c_str(), "--socket", sock.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (test::ReadText(out).find("device ready") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const std::string line = test::ReadText(state + "/serial-line");
  setenv("EDOG_SIM_STATE", state.c_str(), 1);
  const auto r = RunTool({"ports"});
  unsetenv("EDOG_SIM_STATE");
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_FALSE(line.empty()) << test::ReadText(out);
  EXPECT_NE(r.out.find(line.substr(0, line.find('\n')) + "\n"), std::string::npos) << r.out;
  EXPECT_NE(test::ReadText(out).find("(state " + state), std::string::npos) << test::ReadText(out);
}

}  // namespace
}  // namespace edog
