// The transfer and the text reader against the real simulator through the real stand-in
// library: what arrives in the device's flash, and how faults look from the host.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <sstream>

#include "UsbTestSupport.h"
#include "common/DynamicLibrary.h"
#include "device/DeviceSocket.h"
#include "device/DeviceTextReader.h"
#include "device/UsbTransfer.h"
#include "sim/Sha256.h"
#include "sim/Simulator.h"
#include "support/TestSupport.h"

namespace edog {
namespace {

using sim::JournalRecord;
using test::FakeClock;
using test::MakeImage;
using test::UsbRecordingObserver;

using test::StandInLibrary;

class UsbSim : public ::testing::Test {
 protected:
  void SetUp() override { setenv(kDeviceSocketEnv, (dir_ / "dev.sock").c_str(), 1); }

  sim::Simulator& StartSim(const std::function<void(sim::SimulatorOptions&)>& tweak = {}) {
    sim::SimulatorOptions o;
    o.stateDir = dir_ / "state";
    if (tweak) tweak(o);
    sim_ = std::make_unique<sim::Simulator>(o);
    std::string error;
    EXPECT_TRUE(sim_->Start(&error)) << error;
    return *sim_;
  }

  // Prepares and runs one transfer of `image` on this thread.
  UsbTransferResult Send(const Bytes& image, UsbRecordingObserver& observer, Clock& clock,
                         const std::atomic<int>& cancel) {
    const std::string path = dir_ / "image.hdr";
    test::WriteFile(path, image);
    UsbTransferJob job;
    EXPECT_EQ(PrepareUsbTransfer(path, "image", job, StandInLibrary()).status, UsbSetupStatus::kReady);
    return RunUsbTransfer(std::move(job), cancel, observer, clock);
  }
  UsbTransferResult Send(const Bytes& image, UsbRecordingObserver& observer, Clock& clock) {
    std::atomic<int> cancel{0};
    return Send(image, observer, clock, cancel);
  }

  // For faults: each "1 ms" retry lets 20 us of real time pass, so a block's retry window
  // (about 47000 such retries) gives the simulator's thread time to strike without making
  // the test slow.
  UsbTransferResult SendPaced(const Bytes& image, UsbRecordingObserver& observer) {
    FakeClock paced(20);
    return Send(image, observer, paced);
  }

  // The one download journaled after the host closed its pipe.
  JournalRecord LastDownload() {
    EXPECT_TRUE(sim_->WaitForJournal(1, 5000));
    const auto records = sim_->JournalRecords();
    EXPECT_FALSE(records.empty());
    return records.empty() ? JournalRecord() : records.back();
  }

  // The device holds exactly the first `n` payload bytes, and nothing after them.
  void ExpectPrefixOnDevice(uint8_t flash, uint64_t address, const Bytes& payload, uint64_t n) {
    ASSERT_LE(n, payload.size());
    EXPECT_EQ(sim_->ReadFlash(flash, address, n), Bytes(payload.begin(), payload.begin() + n));
    if (n < payload.size()) {
      EXPECT_EQ(sim_->ReadFlash(flash, address + n, 16), Bytes(16, 0));
    }
  }

  test::TempDir dir_;
  std::unique_ptr<sim::Simulator> sim_;
};

std::string Sha(const Bytes& b) { return sim::Sha256::Hex(b.data(), b.size()); }

TEST_F(UsbSim, PayloadLandsByteExactInSerialAndNandFlash) {
  struct Case {
    uint8_t flash;
    uint32_t startField;
    uint64_t byteAddress;
    uint32_t size;
    uint32_t finalPercent;
  };
  const Case cases[] = {
      {kFlashSerial, 0x1000, 0x1000, 9900, 100},
      {kFlashNand, 0x200, 0x40000, 9999, 101},  // NAND start counts 512-byte blocks
      {kFlashE, 0x100, 0x100, 150, 150},
  };
  StartSim();
  size_t jobs = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    const Bytes payload = test::RandomBytes(c.size, c.size);
    UsbRecordingObserver observer;
    const auto r = Send(MakeImage(c.flash, c.startField, payload), observer, SystemClock());
    EXPECT_EQ(r.outcome, UsbTransferResult::kCompleted);
    EXPECT_EQ(r.percent, c.finalPercent);
    ASSERT_TRUE(sim_->WaitForJournal(++jobs, 5000));
    const JournalRecord rec = sim_->JournalRecords().back();
    EXPECT_EQ(rec.Text("outcome"), "complete");
    EXPECT_EQ(rec.Number("flash"), c.flash);
    EXPECT_EQ(rec.Number("address"), c.byteAddress);
    EXPECT_EQ(rec.Number("received"), c.size);
    EXPECT_EQ(rec.Text("sha256"), Sha(payload));
    EXPECT_EQ(sim_->ReadFlash(c.flash, c.byteAddress, c.size), payload);
    // Nothing spilled in front of the start address.
    EXPECT_EQ(sim_->ReadFlash(c.flash, c.byteAddress - 16, 16), Bytes(16, 0));
  }
}

// The header's size field, flash code and address are the device's to judge: the sender
// sends the file length minus the header block, whatever they say. Each file is handed
// over open, and its opener lets it go before the transfer runs (the update job cleans up
// while a worker may still be reading).
TEST_F(UsbSim, HeaderFieldsAreTheDevicesToJudgeTheWholeFileGoes) {
  struct Case {
    const char* name;
    uint8_t flash;
    uint32_t start;
    uint32_t sizeField;
    uint32_t payload;
  };
  const Case cases[] = {
      {"size field above the payload", kFlashSerial, 0x1000, 8192, 4096},
      {"size field below the payload", kFlashSerial, 0x1000, 1024, 4096},
      {"flash code 7", 7, 0, 4096, 4096},
      {"start beyond any flash", kFlashSerial, 0xFFFFFFC0, 64, 64},
  };
  StartSim();
  size_t jobs = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes payload = test::RandomBytes(c.payload, c.payload + c.flash);
    Bytes image = MakeImage(kFlashSerial, 0, payload);
    const HeaderBlock header =
        BuildHeaderBlock(Port::Usb, c.flash, c.start, c.sizeField, c.sizeField / kUsbPacketSize);
    std::copy(header.begin(), header.end(), image.begin());
    const std::string path = dir_ / "image.hdr";
    test::WriteFile(path, image);
    UsbTransferJob job;
    {
      KeptFile opened = KeptFile::OpenRegular(path);
      ASSERT_TRUE(opened.IsOpen());
      ASSERT_EQ(PrepareUsbTransfer(opened, "x", job, StandInLibrary()).status, UsbSetupStatus::kReady);
    }
    std::remove(path.c_str());
    UsbRecordingObserver observer;
    FakeClock clock;
    const std::atomic<int> cancel{0};
    const auto r = RunUsbTransfer(std::move(job), cancel, observer, clock);
    EXPECT_TRUE(r.commandBlockAccepted);
    EXPECT_EQ(r.outcome, UsbTransferResult::kCompleted);
    EXPECT_EQ(r.sent, c.payload);
    uint64_t written = 0;
    for (const auto& w : observer.Writes())
      if (w.kind == UsbWriteKind::kPayload && w.accepted) written += w.size;
    EXPECT_EQ(written, c.payload);
    // What arrived is the payload, byte for byte (the device's verdict on it is its own).
    ASSERT_TRUE(sim_->WaitForJournal(++jobs, 5000));
    const JournalRecord rec = sim_->JournalRecords().back();
    EXPECT_EQ(rec.Number("received"), c.payload);
    EXPECT_EQ(rec.Text("sha256"), Sha(payload));
  }
}

TEST_F(UsbSim, EmptyPayloadIsACompleteJobOfNothing) {
  StartSim();
  UsbRecordingObserver observer;
  const auto r = Send(MakeImage(kFlashSerial, 0, {}), observer, SystemClock());
  EXPECT_EQ(r.outcome, UsbTransferResult::kCompleted);
  EXPECT_EQ(observer.EventsOf("count"), (std::vector<std::string>{"0K/0K", "0K/0K"}));
  const auto writes = observer.Writes();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[1].size, 0u);
  EXPECT_TRUE(writes[1].accepted);
  const auto rec = LastDownload();
  EXPECT_EQ(rec.Number("received"), 0u);
  EXPECT_EQ(rec.Text("outcome"), "complete");
}

TEST_F(UsbSim, OneMebibyteGoesIn512Blocks) {
  StartSim();
  const Bytes payload = test::RandomBytes(1 << 20, 11);
  UsbRecordingObserver observer;
  const auto r = Send(MakeImage(kFlashNand, 8, payload), observer, SystemClock());
  EXPECT_EQ(r.outcome, UsbTransferResult::kCompleted);
  EXPECT_EQ(r.percent, 100u);
  size_t accepted = 0;
  for (const auto& w : observer.Writes()) accepted += w.kind == UsbWriteKind::kPayload && w.accepted;
  EXPECT_EQ(accepted, 512u);
  EXPECT_EQ(observer.EventsOf("count").back(), "1024K/1024K");
  EXPECT_EQ(observer.Events().back(), "close");
  const auto rec = LastDownload();
  EXPECT_EQ(rec.Text("sha256"), Sha(payload));
  EXPECT_EQ(rec.Number("writes"), 513u);
  EXPECT_EQ(sim_->ReadFlash(kFlashNand, 8 * 512, payload.size()), payload);
}

TEST_F(UsbSim, EmulatedSpeedBoundsTheMeasuredSpeed) {
  StartSim([](sim::SimulatorOptions& o) { o.bytesPerSecond = 256 * 1024; });
  const Bytes payload = test::RandomBytes(320 * 1024, 12);
  UsbRecordingObserver observer;
  const auto r = Send(MakeImage(kFlashSerial, 0, payload), observer, SystemClock());
  EXPECT_EQ(r.outcome, UsbTransferResult::kCompleted);
  // The device's buffer lets the first few blocks through early; the rest is paced.
  EXPECT_GE(r.elapsedMs, 1000u * (320 - 48) / 256);
  const auto speeds = observer.EventsOf("speed");
  ASSERT_FALSE(speeds.empty());
  EXPECT_LE(std::stoi(speeds.front()), 256 + 48);
  EXPECT_EQ(LastDownload().Text("outcome"), "complete");
}

TEST_F(UsbSim, RefusedFromTheStartCommandBlockThenPayloadAreGivenUp) {
  StartSim([](sim::SimulatorOptions& o) { o.faults.refuse = {true, 0, 0}; });
  FakeClock clock(0);
  UsbRecordingObserver observer;
  const auto r = Send(MakeImage(kFlashSerial, 0, test::RandomBytes(5000, 2)), observer, clock);
  const auto writes = observer.Writes();
  // Each block is tried for the whole retry window (5 ms and 1 ms apart).
  const size_t commandAttempts = (kUsbRetryWindowMs + 4) / 5;
  ASSERT_EQ(writes.size(), commandAttempts + kUsbRetryWindowMs);
  EXPECT_EQ(writes[commandAttempts - 1].kind, UsbWriteKind::kCommandBlock);
  EXPECT_EQ(writes[commandAttempts].kind, UsbWriteKind::kPayload);  // the payload goes anyway
  EXPECT_TRUE(std::none_of(writes.begin(), writes.end(), [](const auto& w) { return w.accepted; }));
  EXPECT_FALSE(r.commandBlockAccepted);
  EXPECT_EQ(r.outcome, UsbTransferResult::kAborted);
  EXPECT_EQ(r.sent, 0u);
  EXPECT_EQ(sim_->ReadFlash(kFlashSerial, 0, 16), Bytes(16, 0));
  const auto rec = LastDownload();
  EXPECT_EQ(rec.Text("outcome"), "no-command");
  EXPECT_EQ(rec.Text("fault"), "refuse");
  EXPECT_EQ(rec.Number("received"), 0u);
}

TEST_F(UsbSim, PayloadRefusedForGoodLeavesAPrefixOnTheDevice) {
  StartSim([](sim::SimulatorOptions& o) { o.faults.refuse = {true, 64 * 1024, 0}; });
  const Bytes payload = test::RandomBytes(256 * 1024, 3);
  UsbRecordingObserver observer;
  const auto r = SendPaced(MakeImage(kFlashSerial, 0x2000, payload), observer);
  EXPECT_EQ(r.outcome, UsbTransferResult::kAborted);
  EXPECT_GE(observer.Writes().back().attempt, kUsbWriteAttempts);
  const auto rec = LastDownload();
  const uint64_t got = rec.Number("received");
  EXPECT_EQ(rec.Text("outcome"), "short");
  EXPECT_EQ(rec.Text("fault"), "refuse");
  EXPECT_GE(got, 64u * 1024);
  EXPECT_LE(got, r.sent);  // what the device kept never exceeds what the host was told
  EXPECT_LT(r.sent, payload.size());
  ExpectPrefixOnDevice(kFlashSerial, 0x2000, payload, got);
}

TEST_F(UsbSim, RefusalForAWhileIsRiddenOutByTheRetries) {
  StartSim([](sim::SimulatorOptions& o) { o.faults.refuse = {true, 32 * 1024, 300}; });
  const Bytes payload = test::RandomBytes(128 * 1024, 4);
  UsbRecordingObserver observer;
  const auto r = Send(MakeImage(kFlashSerial, 0, payload), observer, SystemClock());
  EXPECT_EQ(r.outcome, UsbTransferResult::kCompleted);
  const auto writes = observer.Writes();
  EXPECT_TRUE(std::any_of(writes.begin(), writes.end(), [](const auto& w) { return !w.accepted; }));
  const auto rec = LastDownload();
  EXPECT_EQ(rec.Text("outcome"), "complete");
  EXPECT_EQ(sim_->ReadFlash(kFlashSerial, 0, payload.size()), payload);
}

TEST_F(UsbSim, VanishingDeviceBreaksThePipeAndGoesAbsent) {
  StartSim([](sim::SimulatorOptions& o) { o.faults.vanish = {true, 16 * 1024, 0}; });
  const Bytes payload = test::RandomBytes(200 * 1024, 8);
  UsbRecordingObserver observer;
  EXPECT_EQ(SendPaced(MakeImage(kFlashNand, 0, payload), observer).outcome, UsbTransferResult::kAborted);
  const auto rec = LastDownload();
  EXPECT_EQ(rec.Text("ended"), "vanished");
  ExpectPrefixOnDevice(kFlashNand, 0, payload, rec.Number("received"));
  const auto lib = UsbLibrary::Load(StandInLibrary());
  ASSERT_TRUE(lib);
  EXPECT_EQ(lib->OpenDev(), USB_INVALID_HANDLE);
}

TEST_F(UsbSim, CancelMidTransferLeavesAPrefixAndEndsTheWorker) {
  StartSim([](sim::SimulatorOptions& o) { o.bytesPerSecond = 4 << 20; });
  const Bytes payload = test::RandomBytes(1 << 20, 5);
  const std::string path = dir_ / "image.hdr";
  test::WriteFile(path, MakeImage(kFlashSerial, 0, payload));
  UsbTransferJob job;
  ASSERT_EQ(PrepareUsbTransfer(path, "voice", job, StandInLibrary()).status, UsbSetupStatus::kReady);

  struct CancellingObserver : UsbRecordingObserver {
    UsbTransferWorker* worker = nullptr;
    void OnPercent(uint32_t p) override {
      UsbRecordingObserver::OnPercent(p);
      if (p >= 30 && worker) worker->Cancel();  // Esc in the window
    }
  };
  auto observer = std::make_shared<CancellingObserver>();
  UsbTransferTurns turns;
  UsbTransferWorker worker(turns, std::move(job), observer);
  observer->worker = &worker;
  worker.Start();
  const auto r = worker.Wait();
  EXPECT_EQ(r.outcome, UsbTransferResult::kCancelled);
  EXPECT_TRUE(observer->Finished());
  EXPECT_EQ(observer->EventsOf("label"), std::vector<std::string>{"voice"});
  EXPECT_EQ(std::stoi(observer->EventsOf("percent").back()), 30);
  const auto rec = LastDownload();
  EXPECT_EQ(rec.Text("outcome"), "short");
  EXPECT_EQ(rec.Number("received"), r.sent);
  ExpectPrefixOnDevice(kFlashSerial, 0, payload, r.sent);
}

TEST_F(UsbSim, SetupRefusesMissingDeviceMissingFileAndShortFile) {
  UsbTransferJob job;
  test::WriteFile(dir_ / "short.hdr", Bytes(1023, 0x24));
  EXPECT_EQ(PrepareUsbTransfer(dir_ / "short.hdr", "x", job, StandInLibrary()).status, UsbSetupStatus::kNoDevice);
  EXPECT_EQ(UsbSetupMessage(UsbSetupStatus::kNoDevice, "x"), "Can't open USB device.\n");
  EXPECT_EQ(PrepareUsbTransfer(dir_ / "short.hdr", "x", job, dir_ / "nolib.so").status, UsbSetupStatus::kNoDevice);
  StartSim();
  EXPECT_EQ(PrepareUsbTransfer(dir_ / "short.hdr", "x", job, StandInLibrary()).status, UsbSetupStatus::kTooShort);
  EXPECT_EQ(PrepareUsbTransfer(dir_ / "absent.hdr", "x", job, StandInLibrary()).status, UsbSetupStatus::kCannotRead);
  EXPECT_FALSE(job.pipe);
  EXPECT_NE(UsbSetupMessage(UsbSetupStatus::kTooShort, "short.hdr").find("1024-byte header"), std::string::npos);
  // The refused setups closed their pipes: the device saw no job.
  sim_->Stop();
  EXPECT_TRUE(sim_->JournalRecords().empty());
}

TEST_F(UsbSim, TextReaderCopiesTheBannerAndStatusLinesUntilDisconnected) {
  const auto lib = UsbLibrary::Load(StandInLibrary());
  ASSERT_TRUE(lib);
  EXPECT_FALSE(RequestDeviceText(*lib));  // no device: the message box case
  StartSim([](sim::SimulatorOptions& o) {
    o.textIntervalMs = 20;
    o.firmwareVersion = "9.87";
  });
  UsbRecordingObserver observer;
  Send(MakeImage(kFlashSerial, 0, test::RandomBytes(3000, 1)), observer, SystemClock());
  ASSERT_TRUE(sim_->WaitForJournal(1, 5000));

  ASSERT_TRUE(RequestDeviceText(*lib));
  std::string text;
  size_t blocks = 0, longest = 0;
  RunDeviceTextReader(
      *lib, [&] { return text.find("uptime") == std::string::npos; },
      [&](const std::string& block) {
        text += block;
        ++blocks;
        longest = std::max(longest, block.size());
      },
      SystemClock());
  EXPECT_EQ(text.find("EDOG-SIM firmware 9.87"), 0u);
  EXPECT_NE(text.find("#1 Serial flash 0x00000000 3000/3000 bytes complete\r\n"), std::string::npos);
  EXPECT_LE(longest, 64u);
  EXPECT_GT(blocks, 1u);

  // The threaded reader ends when the device goes away.
  DeviceTextReader reader(lib);
  std::atomic<bool> connected{true};
  std::atomic<size_t> got{0};
  ASSERT_TRUE(reader.Start([&] { return connected.load(); }, [&](const std::string& b) { got += b.size(); }));
  EXPECT_TRUE(reader.Reading());
  EXPECT_FALSE(reader.Start([] { return true; }, [](const std::string&) {}));  // one at a time
  while (got.load() == 0) std::this_thread::yield();
  sim_->Stop();
  connected = false;
  reader.Stop();
  EXPECT_FALSE(reader.Reading());
}

}  // namespace
}  // namespace edog

namespace edog {
namespace {

// The path of a loaded shared library that has no device exports (the C++ runtime).
std::string SomeLibraryWithoutDeviceExports() {
  std::istringstream maps(test::ReadText("/proc/self/maps"));
  std::string line;
  while (std::getline(maps, line)) {
    const auto at = line.find('/');
    if (at != std::string::npos && line.find("libstdc++") != std::string::npos) return line.substr(at);
  }
  return {};
}

TEST(UsbLibraryLoad, MissingLibraryOrExportsMeanNoDevice) {
  EXPECT_EQ(UsbLibrary::Load("/nonexistent/libHaldenUSB.so"), nullptr);
  const std::string path = SomeLibraryWithoutDeviceExports();
  ASSERT_FALSE(path.empty());
  const auto lib = UsbLibrary::Load(path);
  ASSERT_TRUE(lib);
  EXPECT_EQ(lib->OpenDev(), USB_INVALID_HANDLE);
  EXPECT_EQ(lib->OpenFile(USB_PIPE_OUT), USB_INVALID_HANDLE);
  EXPECT_FALSE(lib->DevicePresent());
  EXPECT_FALSE(RequestDeviceText(*lib));
}

size_t OpenDescriptors() {
  size_t n = 0;
  for (int fd = 0; fd < 4096; ++fd) n += fcntl(fd, F_GETFD) != -1;
  return n;
}

TEST_F(UsbSim, TextRequestsAndProbesLeaveNoHandleOpen) {
  StartSim();
  const auto lib = UsbLibrary::Load(StandInLibrary());
  ASSERT_TRUE(lib);
  ASSERT_TRUE(RequestDeviceText(*lib));
  ASSERT_TRUE(test::ProbeWithRetries([&] { return lib->DevicePresent(); }));
  const size_t before = OpenDescriptors();
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(RequestDeviceText(*lib));
    ASSERT_TRUE(test::ProbeWithRetries([&] { return lib->DevicePresent(); }));
  }
  // The in-process simulator may still hold a few of its own ends; a leak would be 50+.
  EXPECT_LT(OpenDescriptors(), before + 10);
}

TEST_F(UsbSim, DeviceThatVanishesForAWhileComesBack) {
  StartSim([](sim::SimulatorOptions& o) { o.faults.vanish = {true, 0, 150}; });
  const auto lib = UsbLibrary::Load(StandInLibrary());
  ASSERT_TRUE(lib);
  ASSERT_TRUE(test::ProbeWithRetries([&] { return lib->DevicePresent(); }));
  // Opening a pipe strikes the fault: the open itself fails and the device is gone.
  EXPECT_EQ(lib->OpenFile(USB_PIPE_OUT), USB_INVALID_HANDLE);
  EXPECT_FALSE(lib->DevicePresent());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!lib->DevicePresent() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  EXPECT_TRUE(lib->DevicePresent());
}

}  // namespace
}  // namespace edog
