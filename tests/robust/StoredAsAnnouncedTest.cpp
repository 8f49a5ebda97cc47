// Success means stored: an image the device would not store as its header announces is
// never sent, and a transfer counts only once the device says at its end that it stored
// everything. Against the simulator, through the stand-in device library.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "device/DeviceSocket.h"
#include "device/UsbLibrary.h"
#include "device/UsbTransfer.h"
#include "sim/Simulator.h"
#include "support/TestSupport.h"
#include "update/HeaderedImage.h"
#include "update/Package.h"
#include "update/UpdateJob.h"

namespace edog {
namespace {

using test::TempDir;

Bytes Image(uint8_t flash, uint32_t start, uint32_t sizeField, size_t payload) {
  const HeaderBlock h = BuildHeaderBlock(Port::Usb, flash, start, sizeField, sizeField / kUsbPacketSize);
  Bytes image = test::RandomBytes(h.size() + payload, 7);
  std::copy(h.begin(), h.end(), image.begin());
  return image;
}

// The main window as the job sees it, with the real transfer behind it.
class Host final : public UpdateHost {
 public:
  bool Connected() override {
    return test::ProbeWithRetries([&] { return library_ && library_->DevicePresent(); });
  }
  void AppendLog(const std::string& t) override { log += t; }
  void AddProgressLine(const std::string&) override {}
  void OnFailure(const std::string&) override {}
  void OnSummary(const std::string&) override {}
  void PumpWait(uint32_t) override {}
  void OnBusyChanged(bool) override {}
  void SetPath(ContentKind, const std::string&) override {}
  void Reset() override {}
  TransferOutcome RunUsbTransfer(const KeptFile& file, const std::string& label) override {
    UsbTransferJob job;
    if (!PrepareUsbTransfer(file, label, job, test::StandInLibrary()).Ok())
      return TransferOutcome::kFailed;
    UsbTransferWorker worker(turns_, std::move(job), nullptr);
    worker.Start();
    return DeviceTookWholeFile(worker.Wait()) ? TransferOutcome::kCompleted : TransferOutcome::kFailed;
  }
  bool SerialOpen() override { return false; }
  void StartSerialDownload(const KeptFile*) override {}
  std::string log;

 private:
  std::shared_ptr<UsbLibrary> library_ = UsbLibrary::Load(test::StandInLibrary());
  UsbTransferTurns turns_;
};

class StoredAsAnnounced : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv(kDeviceSocketEnv, (dir_ / "dev.sock").c_str(), 1);
    setenv("TMP", tmp_.Path().c_str(), 1);
  }
  void TearDown() override { unsetenv("TMP"); }

  void StartSim(const std::string& state, uint64_t bytesPerSecond = 0,
                sim::FaultOptions faults = {}) {
    sim::SimulatorOptions o;
    o.stateDir = dir_ / state;
    o.bytesPerSecond = bytesPerSecond;
    o.faults = faults;
    o.serial.enabled = false;
    sim_ = std::make_unique<sim::Simulator>(o);
    std::string error;
    ASSERT_TRUE(sim_->Start(&error)) << error;
  }
  // The outcome of the device's download job, or "" when nothing reached it.
  std::string DownloadOutcome() {
    sim_->Stop();
    for (const auto& rec : sim_->JournalRecords())
      if (rec.Text("kind") == "download") return rec.Text("outcome");
    return "";
  }

  TempDir dir_, tmp_;
  std::unique_ptr<sim::Simulator> sim_;
};

TEST_F(StoredAsAnnounced, ImagesTheDeviceWouldNotStoreAsAnnouncedAreNeverSent) {
  struct Case {
    const char* name;
    Bytes image;
    const char* reason;  // why it is refused (empty: valid)
    const char* log;     // in the update log
  };
  const uint32_t nandBlocks = static_cast<uint32_t>(kLargestFlashBytes / kNandBlockSize);
  const Case cases[] = {
      {"valid", Image(kFlashSerial, 0x1000, 4096, 4096), "", ""},
      {"size field above the payload", Image(kFlashSerial, 0x1000, 8192, 4096),
       "announces 8192 payload bytes but 4096 follow", "文件头写明8192字节，实际数据4096字节"},
      {"size field below the payload", Image(kFlashSerial, 0x1000, 1024, 4096),
       "announces 1024 payload bytes but 4096 follow", "文件头写明1024字节，实际数据4096字节"},
      {"past the e-flash", Image(kFlashE, 0xF000, 8192, 8192),
       "8192 bytes at 0x0000F000 run past the end of the e-flash (65536 bytes)", "超出e-flash容量"},
      {"past the NAND flash", Image(kFlashNand, nandBlocks - 2, 2048, 2048),
       "run past the end of the NAND flash", "超出NAND flash容量"},
      {"start beyond the Serial flash", Image(kFlashSerial, 0xFFFFFFC0, 64, 64),
       "64 bytes at 0xFFFFFFC0 run past the end of the Serial flash", "超出Serial flash容量"},
      {"flash code 0", Image(0, 0, 64, 64), "names flash memory 0", "存储器代码0无效"},
      {"flash code 4", Image(4, 0, 64, 64), "names flash memory 4", "存储器代码4无效"},
      {"flash code 255", Image(255, 0, 64, 64), "names flash memory 255", "存储器代码255无效"},
  };
  int round = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const bool valid = *c.reason == 0;
    StartSim("state" + std::to_string(round++));
    // The update job lists it as that content's failure, sending nothing.
    ASSERT_EQ(WritePackage(dir_ / kPackageFileName,
                           {{"edogvoice.hdr", c.image}, {"edogmap.hdr", {}}, {"edogsoftware.hdr", {}}},
                           KeyForMethod(kDefaultEncryptionMethod)),
              "");
    Host host;
    UpdateSelection selection;
    selection.voice = true;
    UpdateSettings settings;
    settings.packagePath = dir_ / kPackageFileName;
    const UpdateResult r = UpdateJob(host).Run(selection, settings);
    EXPECT_EQ(r.summary, valid ? "语音文件更新成功!\r\n" : "语音文件更新失败!\r\n");
    EXPECT_NE(host.log.find(c.log), std::string::npos) << host.log;
    EXPECT_EQ(DownloadOutcome(), valid ? "complete" : "");
  }
}

TEST_F(StoredAsAnnounced, TransfersSucceedOnlyWithTheDevicesWordThatItStored) {
  constexpr uint32_t kPayload = 64 * 1024;
  struct Case {
    const char* name;
    uint32_t sizeField;                // in the command block the device goes by
    uint64_t bytesPerSecond;
    uint64_t vanishAfter;              // 0: the device stays
    bool stored;
    const char* outcome;               // the device's journal
  };
  const Case cases[] = {
      {"stored whole", kPayload, 256 * 1024, 0, true, "complete"},
      // The host has written its last blocks; they still sit in the pipe when the device goes.
      {"device gone with bytes in the pipe", kPayload, 256 * 1024, kPayload - 4096, false, "short"},
      // Sent in full past the checks: the device stores what it announced it would not.
      {"device stored it short", kPayload + 4096, 0, 0, false, "short"},
  };
  int round = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::FaultOptions faults;
    if (c.vanishAfter) faults.vanish = {true, c.vanishAfter, 0};
    StartSim("state" + std::to_string(round++), c.bytesPerSecond, faults);
    UsbTransferJob job;
    const Bytes image = Image(kFlashSerial, 0x2000, c.sizeField, kPayload);
    job.file = test::KeptBytes(image);
    job.size = image.size();
    job.pipe = std::make_unique<UsbPipe>(OpenUsbPipe(USB_PIPE_OUT, test::StandInLibrary()));
    ASSERT_TRUE(static_cast<UsbPipe&>(*job.pipe).IsOpen());
    UsbTransferObserver quiet;
    const std::atomic<int> cancel{0};
    const UsbTransferResult r = RunUsbTransfer(std::move(job), cancel, quiet, SystemClock());
    EXPECT_EQ(DeviceTookWholeFile(r), c.stored);
    EXPECT_EQ(r.stored, c.stored);
    EXPECT_EQ(DownloadOutcome(), c.outcome);
  }
}

}  // namespace
}  // namespace edog
