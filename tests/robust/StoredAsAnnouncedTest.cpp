// Success means stored: a transfer counts only once the device says at its end that it
// stored everything. Against the simulator, through the stand-in device library.
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

namespace edog {
namespace {

using test::TempDir;

Bytes Image(uint8_t flash, uint32_t start, uint32_t sizeField, size_t payload) {
  const HeaderBlock h = BuildHeaderBlock(Port::Usb, flash, start, sizeField, sizeField / kUsbPacketSize);
  Bytes image = test::RandomBytes(h.size() + payload, 7);
  std::copy(h.begin(), h.end(), image.begin());
  return image;
}

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
      // Sent in full: the device stores less than the header announced.
      {"device stored it short", kPayload + 4096, 0, 0, false, "short"},
      // The NAND writers' size field at an address inside a block: all of it is stored.
      {"size field short of the payload", kPayload - 256, 0, 0, true, "complete"},
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
