// Small faults with large effects: a sample rate that does not fit an int, a full temp
// folder during an update that was blamed on the package, and a device refusing data for
// a long retry without a word to the user.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "device/DeviceSocket.h"
#include "device/UsbTransfer.h"
#include "robust/RobustFiles.h"
#include "sim/Simulator.h"
#include "support/SimDevice.h"
#include "support/TestSupport.h"
#include "update/HeaderedImage.h"
#include "update/Package.h"
#include "update/UpdateJob.h"

namespace edog::test {
namespace {

TEST(SmallFaults, SampleRatesBeyondAnIntAreRefused) {
  TempDir dir;
  WriteFile(dir / "max.wav", MonoWave(0x7FFFFFFFu, 8));
  EXPECT_NE(RunTool({"wavinfo", dir / "max.wav"}).out.find("\t2147483647\t"), std::string::npos);
  for (uint32_t rate : {0x80000000u, 0xFFFFFFFFu}) {
    WriteFile(dir / "w.wav", MonoWave(rate, 8));
    for (const char* command : {"wavinfo", "voice"}) {
      const auto r = RunTool({command, dir / "w.wav"});
      EXPECT_EQ(r.status, 1) << command;
      EXPECT_NE(r.err.find("sample rate " + std::to_string(rate) + " Hz is out of range"),
                std::string::npos) << r.err;
    }
  }
}

// Records the job's message boxes; the device is always there.
struct Host : UpdateHost {
  std::vector<std::string> boxes;
  bool Connected() override { return true; }
  void AppendLog(const std::string&) override {}
  void AddProgressLine(const std::string&) override {}
  void OnFailure(const std::string& text) override { boxes.push_back(text); }
  void OnSummary(const std::string& text) override { boxes.push_back(text); }
  void PumpWait(uint32_t) override {}
  void OnBusyChanged(bool) override {}
  void SetPath(ContentKind, const std::string&) override {}
  void Reset() override {}
  TransferOutcome RunUsbTransfer(const KeptFile&, const std::string&) override {
    return TransferOutcome::kFailed;
  }
  bool SerialOpen() override { return false; }
  void StartSerialDownload(const KeptFile*) override {}
};

TEST(SmallFaults, AFullTempFolderIsNotCalledAPackageMismatch) {
  TempDir dir;
  const auto entry = RandomBytes(100 * 1024, 9);
  ASSERT_EQ(WriteUpdatePackage(dir / "qzkt.dll", entry), "");
  WriteFile(dir / "short.dll", std::string(50, 'x'));
  std::filesystem::create_directory(dir / "tmp");
  setenv("TMP", (dir / "tmp").c_str(), 1);
  struct Case {
    std::string package;
    bool full;
    const char* text;
  };
  for (const Case& c : {Case{"qzkt.dll", true, kExtractDiskFullText},
                        Case{"short.dll", false, kPackageMismatchText}}) {
    Host host;
    UpdateSelection selection;
    selection.voice = true;
    UpdateSettings settings;
    settings.packagePath = dir / c.package;
    UpdateResult result;
    {
      std::unique_ptr<FileSizeLimit> full;
      if (c.full) full = std::make_unique<FileSizeLimit>(64 * 1024);
      result = UpdateJob(host).Run(selection, settings);
    }
    EXPECT_FALSE(result.extracted);
    EXPECT_EQ(host.boxes, std::vector<std::string>{c.text}) << c.package;
    EXPECT_TRUE(std::filesystem::is_empty(dir / "tmp")) << c.package;
  }
  unsetenv("TMP");
}

// The retries keep their count; a second of refusals is said once, and a short one is not.
TEST(SmallFaults, ADeviceRefusingForASecondIsNamedOnce) {
  TempDir dir;
  setenv(kDeviceSocketEnv, (dir / "dev.sock").c_str(), 1);
  const HeaderBlock h = BuildHeaderBlock(Port::Usb, kFlashSerial, 0, 64 * 1024, 1024);
  Bytes image = RandomBytes(h.size() + 64 * 1024, 4);
  std::copy(h.begin(), h.end(), image.begin());
  WriteFile(dir / "v.hdr", image);
  const std::string notice = "设备拒绝接收数据，正在重试...\n";
  const std::pair<uint32_t, size_t> rows[] = {{1500, 1}, {100, 0}};  // refusal ms, notices
  for (const auto& [refuseMs, notices] : rows) {
    SCOPED_TRACE(refuseMs);
    sim::SimulatorOptions o;
    o.stateDir = dir / ("state" + std::to_string(refuseMs));
    o.serial.enabled = false;
    o.faults.refuse = {true, 16 * 1024, refuseMs};
    sim::Simulator device(o);
    ASSERT_TRUE(device.Start());
    const auto r = RunTool({"send-usb", dir / "v.hdr"});
    EXPECT_EQ(r.status, 0) << r.err;
    size_t seen = 0;
    for (size_t at = r.out.find(notice); at != std::string::npos; at = r.out.find(notice, at + 1)) ++seen;
    EXPECT_EQ(seen, notices) << r.out;
  }
  unsetenv(kDeviceSocketEnv);
}

}  // namespace
}  // namespace edog::test
