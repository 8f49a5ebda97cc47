// scripts/run.sh as a user starts it: the simulator it starts in the background is the
// one the window's serial port box offers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <wx/combobox.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "GuiTestSupport.h"
#include "MainWindowTestPeer.h"
#include "app/RS232TestDlg.h"
#include "common/Version.h"
#include "sim/Simulator.h"
#include "support/TestSupport.h"
#include "widgets/WxText.h"

namespace edog {
namespace {

namespace fs = std::filesystem;

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool WaitForFile(const fs::path& path, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!fs::exists(path)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

TEST(RunScript, TheDeveloperComBoxListsTheSerialLineOfTheSimulatorItStarted) {
  test::TempDir dir;
  const fs::path bin = dir / "bin";
  fs::create_directories(bin);
  fs::create_symlink(test::BinDir() + "/edog-sim", bin / "edog-sim");
  // Stands in for the window program: it hands the environment run.sh gave it to this
  // test, which then opens the real window with it, and waits until the test is done.
  const fs::path seen = dir / "seen-state", done = dir / "done";
  {
    std::ofstream script(bin / "edog");
    script << "#!/bin/sh\nprintf '%s' \"${EDOG_SIM_STATE:-unset}\" > '" << seen.string()
           << "'\ni=0\nwhile [ ! -e '" << done.string() << "' ] && [ $i -lt 600 ]; do sleep 0.05; "
           << "i=$((i+1)); done\n";
  }
  fs::permissions(bin / "edog", fs::perms::owner_all);
  const std::string command = "unset EDOG_SIM_STATE; EDOG_BIN_DIR='" + bin.string() +
                              "' EDOG_DEVICE_SOCKET='" + (dir / "device.sock") + "' '" +
                              EDOG_SOURCE_DIR "/scripts/run.sh' --no-build > '" +
                              (dir / "run.log") + "' 2>&1";
  int status = -1;
  std::thread run([&] { status = std::system(command.c_str()); });
  struct Finish {
    std::thread& run;
    fs::path done;
    ~Finish() {
      std::ofstream{done};
      run.join();
    }
  } finish{run, done};

  ASSERT_TRUE(WaitForFile(seen, 10000)) << ReadWhole(dir / "run.log");
  const std::string state = ReadWhole(seen);
  ASSERT_NE(state, "unset") << "run.sh did not tell the window where the simulator keeps its state";
  ASSERT_TRUE(WaitForFile(fs::path(state) / "serial-line", 10000)) << ReadWhole(dir / "run.log");
  std::string line = ReadWhole(fs::path(state) / "serial-line");
  while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();

  setenv("EDOG_SIM_STATE", state.c_str(), 1);
  MainWindowOptions options;
  options.developerControls = true;
  std::unique_ptr<CRS232TestDlg, guitest::DestroyWindow> dlg(new CRS232TestDlg(nullptr, options));
  dlg->Show();
  unsetenv("EDOG_SIM_STATE");
  wxComboBox* box = CRS232TestDlgTestPeer(*dlg).ComPortBox();
  EXPECT_TRUE(box->IsShown());
  EXPECT_NE(box->FindString(U8(line)), wxNOT_FOUND) << line;
}

// run.sh as a second copy or beside a refused start: what it says about the device the
// window will use, and that it never claims a start that failed.
TEST(RunScript, SaysWhichDeviceTheWindowUsesAndNeverClaimsAFailedStart) {
  enum class Before { kNothing, kSimulatorAnswering, kFileAtSocket };
  struct Case {
    Before before;
    const char* says;
    const char* neverSays;
  };
  const Case cases[] = {
      {Before::kNothing, "device simulator started", "did not start"},
      {Before::kSimulatorAnswering, "a device is already answering on ", "device simulator started"},
      {Before::kFileAtSocket, "the device simulator did not start: ", "device simulator started"},
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    const fs::path bin = dir / "bin", socket = dir / "device.sock", seen = dir / "seen";
    fs::create_directories(bin);
    fs::create_symlink(test::BinDir() + "/edog-sim", bin / "edog-sim");
    {
      // Stands in for the window: records the device socket it would use.
      std::ofstream script(bin / "edog");
      script << "#!/bin/sh\nprintf '%s' \"$EDOG_DEVICE_SOCKET\" > '" << seen.string() << "'\n";
    }
    fs::permissions(bin / "edog", fs::perms::owner_all);
    sim::Simulator other([&] {
      sim::SimulatorOptions o;
      o.stateDir = dir / "other-state";
      o.socketPath = socket;
      o.serial.enabled = false;
      return o;
    }());
    if (c.before == Before::kSimulatorAnswering) {
      ASSERT_TRUE(other.Start());
    }
    if (c.before == Before::kFileAtSocket) test::WriteFile(socket, std::vector<uint8_t>{'x'});

    const std::string command = "unset EDOG_SIM_STATE; EDOG_BIN_DIR='" + bin.string() +
                                "' EDOG_SIM_STATE='" + (dir / "state") +
                                "' EDOG_DEVICE_SOCKET='" + socket.string() + "' '" +
                                EDOG_SOURCE_DIR "/scripts/run.sh' --no-build > '" +
                                (dir / "run.log") + "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
    const std::string said = ReadWhole(dir / "run.log");
    EXPECT_NE(said.find(c.says), std::string::npos) << said;
    EXPECT_EQ(said.find(c.neverSays), std::string::npos) << said;
    if (c.before == Before::kSimulatorAnswering) {
      EXPECT_NE(said.find(socket.string()), std::string::npos) << said;
    }
    EXPECT_EQ(ReadWhole(seen), socket.string()) << "the window was not started on that socket";
    if (c.before == Before::kFileAtSocket) {
      EXPECT_EQ(test::ReadFile(socket), std::vector<uint8_t>{'x'}) << "the file at the socket changed";
    }
  }
}

TEST(RunScript, EdogAnswersVersionAndHelpWithoutADisplay) {
  for (const std::string option : {"--version", "--help"}) {
    test::TempDir dir;
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY '" + test::BinDir() + "/edog' " +
                                option + " > '" + (dir / "out") + "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << option;
    const std::string out = ReadWhole(dir / "out");
    if (option == "--version")
      EXPECT_EQ(out, std::string("edog ") + kVersion + "\n");
    else
      EXPECT_EQ(out.rfind("Usage: edog", 0), 0u) << out;
  }
}

}  // namespace
}  // namespace edog
