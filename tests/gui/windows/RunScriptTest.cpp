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

}  // namespace
}  // namespace edog
