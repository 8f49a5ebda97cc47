// The fault-injection matrix: the update job, run through a host whose USB transfer and
// serial download are the real core classes, against the device simulator with one fault
// per test. Every cell ends on its own (no hang), with a clear message, the update button
// enabled again, and a success reported only for a payload the device stored whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "common/DynamicLibrary.h"
#include "device/Comm.h"
#include "device/DeviceSocket.h"
#include "device/SerialDownload.h"
#include "device/SerialTestSupport.h"
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

constexpr const char* kVoiceSuccess = "语音文件更新成功!\r\n";
constexpr const char* kVoiceFailure = "语音文件更新失败!\r\n";
constexpr uint32_t kVoiceAddress = 0x10000;     // Serial flash, bytes
constexpr uint32_t kSoftwareAddress = 0x80000;  // Serial flash, bytes
constexpr size_t kVoicePayload = 128 * 1024;  // well past what the pipe buffers
constexpr size_t kSoftwarePayload = 6 * 1024;

// Time on the transfer's retries runs fast: each "1 ms" sleep counts a millisecond but lets
// only `realUsPerMs` of real time pass, so 3002 retries cover a fraction of a second in
// which the simulator's thread can act.
class PacedClock final : public Clock {
 public:
  explicit PacedClock(uint32_t realUsPerMs) : realUsPerMs_(realUsPerMs) {}
  uint32_t TickMs() override { return now_.load(); }
  void SleepMs(uint32_t ms) override {
    now_ += ms;
    std::this_thread::sleep_for(std::chrono::microseconds(ms * realUsPerMs_));
  }

 private:
  uint32_t realUsPerMs_;
  std::atomic<uint32_t> now_{0};
};

using test::StandInLibrary;

Bytes HeaderedImage(Port port, uint32_t address, const Bytes& payload) {
  const HeaderBlock h = BuildHeaderBlock(port, kFlashSerial, address,
                                         static_cast<uint32_t>(payload.size()),
                                         static_cast<uint32_t>(payload.size() / PacketSize(port)));
  Bytes image(h.size() + payload.size());
  std::copy(h.begin(), h.end(), image.begin());
  std::copy(payload.begin(), payload.end(), image.begin() + h.size());
  return image;
}

class Console final : public CommNotifySink {
 public:
  void OnSerialText(const CComm&) override {}
};

// The main window as the update job sees it, with the real transfer and download behind it.
class MatrixHost final : public UpdateHost, public SerialDownloadObserver {
 public:
  MatrixHost(CComm& comm, const SerialDownloadOptions& serialOptions)
      : comm_(comm), download_(comm, *this, serialClock_, serialOptions) {
    library_ = UsbLibrary::Load(StandInLibrary());
  }

  // UpdateHost
  bool Connected() override {
    return library_ && test::ProbeWithRetries([&] { return library_->DevicePresent(); });
  }
  void AppendLog(const std::string& t) override { Record("log " + t); }
  void AddProgressLine(const std::string& l) override { Record("line " + l); }
  void OnFailure(const std::string& t) override { ShowMessage(t); }
  void OnSummary(const std::string& t) override { ShowMessage(t); }
  void PumpWait(uint32_t) override {}
  void OnBusyChanged(bool busy) override { SetUpdateButtonEnabled(!busy); }
  void SetPath(ContentKind k, const std::string& p) override {
    if (k == ContentKind::kSoftware) softwarePath_ = p;
  }
  void Reset() override { softwarePath_.clear(); }
  // The window's message box and update button.
  void ShowMessage(const std::string& t) {
    Record("box " + t);
    std::lock_guard<std::mutex> lock(m_);
    boxes_.push_back(t);
  }
  void SetUpdateButtonEnabled(bool e) {
    Record(e ? "button on" : "button off");
    std::lock_guard<std::mutex> lock(m_);
    buttonEnabled_ = e;
  }
  TransferOutcome RunUsbTransfer(const KeptFile& file, const std::string& label) override {
    UsbTransferJob job;
    const Result<UsbSetupStatus> setup = PrepareUsbTransfer(file, label, job, StandInLibrary());
    if (setup.status != UsbSetupStatus::kReady) {
      ShowMessage(setup.message);
      return TransferOutcome::kFailed;
    }
    auto observer = std::make_shared<TransferEnd>(*this);
    UsbTransferWorker worker(usbTurns_, std::move(job), observer, usbClock_);
    worker.Start();
    usbResult_ = worker.Wait();
    return DeviceTookWholeFile(usbResult_) ? TransferOutcome::kCompleted : TransferOutcome::kFailed;
  }
  bool SerialOpen() override { return comm_.IsOpen(); }
  void StartSerialDownload(const KeptFile* software) override {
    comm_.SuspendReader();
    if (software) download_.Start(true, *software);
    else download_.Start(true, softwarePath_);
  }

  // SerialDownloadObserver
  void AppendLine(const std::string& line) override { Record("list " + line); }
  void DeleteLastLine() override {}
  void SetProgress(unsigned) override {}
  void OnFileUnreadable() override { ShowMessage(kFileOpenErrorText); }
  void OnTransferCompleted() override { ShowMessage(kTransferDoneText); }
  void ResumeReader() override { comm_.ResumeReader(); }
  void OnEnded() override {
    SetUpdateButtonEnabled(true);
    Record("download ended");  // the download's very last report
  }

  SerialDownloadResult WaitForSerial() { return download_.Wait(); }
  bool ButtonEnabled() {
    std::lock_guard<std::mutex> lock(m_);
    return buttonEnabled_;
  }
  std::vector<std::string> Boxes() {
    std::lock_guard<std::mutex> lock(m_);
    return boxes_;
  }
  std::vector<std::string> Events() {
    std::lock_guard<std::mutex> lock(m_);
    return events_;
  }
  bool Saw(const std::string& event) {
    const auto e = Events();
    return std::find(e.begin(), e.end(), event) != e.end();
  }
  const UsbTransferResult& UsbResult() const { return usbResult_; }

 private:
  // The transfer worker's end message enables the update button, as the window does.
  class TransferEnd final : public UsbTransferObserver {
   public:
    explicit TransferEnd(MatrixHost& host) : host_(host) {}
    void OnFinished(const UsbTransferResult&) override { host_.SetUpdateButtonEnabled(true); }

   private:
    MatrixHost& host_;
  };

  void Record(const std::string& e) {
    std::lock_guard<std::mutex> lock(m_);
    events_.push_back(e);
  }

  CComm& comm_;
  std::shared_ptr<UsbLibrary> library_;
  std::shared_ptr<PacedClock> usbClock_ = std::make_shared<PacedClock>(100);
  UsbTransferTurns usbTurns_;
  test::FastClock serialClock_;  // real waits on the line, the fixed pauses skipped
  SerialDownload download_;
  std::string softwarePath_;
  UsbTransferResult usbResult_;
  std::mutex m_;
  std::vector<std::string> events_, boxes_;
  bool buttonEnabled_ = true;
};

class FaultMatrix : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv(kDeviceSocketEnv, (dir_ / "dev.sock").c_str(), 1);
    if (const char* t = std::getenv("TMP")) oldTmp_ = t;
    setenv("TMP", tmp_.Path().c_str(), 1);  // where the job makes its extraction folder
    voice_ = test::RandomBytes(kVoicePayload, 11);
    software_ = test::RandomBytes(kSoftwarePayload, 12);
    const std::string error = WritePackage(
        dir_ / kPackageFileName,
        {{"edogvoice.hdr", HeaderedImage(Port::Usb, kVoiceAddress, voice_)},
         {"edogmap.hdr", HeaderedImage(Port::Usb, 0, Bytes(64, 1))},
         {"edogsoftware.hdr", HeaderedImage(Port::Uart, kSoftwareAddress, software_)}},
        KeyForMethod(kDefaultEncryptionMethod));
    ASSERT_EQ(error, "");
  }

  void TearDown() override {
    if (comm_.IsOpen()) comm_.Close();
    if (oldTmp_) setenv("TMP", oldTmp_->c_str(), 1);
    else unsetenv("TMP");
  }

  void StartSim(const std::function<void(sim::SimulatorOptions&)>& tweak) {
    sim::SimulatorOptions o;
    o.stateDir = dir_ / "state";
    o.serial.baud = 0;
    o.serial.consoleIntervalMs = 60000;
    o.serial.blockGapMs = 200;
    o.serial.abandonMs = 2000;
    tweak(o);
    sim_ = std::make_unique<sim::Simulator>(o);
    std::string error;
    ASSERT_TRUE(sim_->Start(&error)) << error;
  }

  void OpenLine(const std::string& path) {
    comm_.SetParams(path, 115200, 8, kOneStopBit, kNoParity);
    ASSERT_EQ(comm_.CreateEvents(), 1);
    comm_.SetNotifyWnd(&console_);
    ASSERT_NE(comm_.Open(), 0);
  }

  UpdateResult RunJob(bool voice, bool software) {
    host_ = std::make_unique<MatrixHost>(comm_, serialOptions_);
    UpdateJob job(*host_);
    UpdateSelection selection;
    selection.voice = voice;
    selection.software = software;
    UpdateSettings settings;
    settings.packagePath = dir_ / kPackageFileName;
    return job.Run(selection, settings);
  }

  // The voice content over USB under the simulator's fault.
  UpdateResult RunVoice(const std::function<void(sim::SimulatorOptions&)>& fault) {
    StartSim(fault);
    return RunJob(true, false);
  }

  // The software content over the serial line under the loader's fault.
  SerialDownloadResult RunSoftware(const std::function<void(sim::SerialFaults&)>& fault) {
    StartSim([&](sim::SimulatorOptions& o) { fault(o.serial.faults); });
    OpenLine(sim_->SerialLinePath());
    return RunSoftwareJob();
  }
  SerialDownloadResult RunSoftwareJob() {
    const UpdateResult r = RunJob(false, true);
    EXPECT_EQ(r.serialDownloadsStarted, 1);
    return host_->WaitForSerial();
  }

  bool VoiceOnDevice() {
    return sim_->ReadFlash(kFlashSerial, kVoiceAddress, voice_.size()) == voice_;
  }
  bool SoftwareOnDevice() {
    return sim_->ReadFlash(kFlashSerial, kSoftwareAddress, software_.size()) == software_;
  }

  // A USB cell that must fail: the failure text, never the success text, the button back.
  void ExpectVoiceFailed(const UpdateResult& r) {
    EXPECT_EQ(r.usbCompleted, 0);
    EXPECT_EQ(r.failed, 1);
    EXPECT_EQ(r.summary, kVoiceFailure);
    EXPECT_EQ(host_->Boxes().back(), kVoiceFailure);
    EXPECT_TRUE(host_->ButtonEnabled());
    sim_->Stop();  // a device still hanging ends its job now
    EXPECT_NE(VoiceJobOutcome(), "complete");
    EXPECT_FALSE(VoiceOnDevice());
  }
  void ExpectVoiceUpdated(const UpdateResult& r) {
    EXPECT_EQ(r.usbCompleted, 1);
    EXPECT_EQ(r.summary, kVoiceSuccess);
    EXPECT_TRUE(host_->ButtonEnabled());
    // A slow device may still be taking in what the pipe holds when the host is done.
    EXPECT_EQ(VoiceJobOutcome(), "complete");
    EXPECT_TRUE(VoiceOnDevice());
  }
  // How the device journaled the voice download once its pipe was closed.
  std::string VoiceJobOutcome() {
    EXPECT_TRUE(sim_->WaitForJournal(1, 10000));
    for (const auto& rec : sim_->JournalRecords())
      if (rec.Text("kind") == "download") return rec.Text("outcome");
    return "";
  }
  // The job's own end may come before or after the download's (they run on two threads);
  // the download enables the button as its last report, and the button ends enabled.
  void ExpectButtonBackAfterDownload() {
    const std::vector<std::string> e = host_->Events();
    const auto ended = std::find(e.begin(), e.end(), "download ended");
    ASSERT_NE(ended, e.end());
    for (auto it = ended; it != e.end(); ++it) EXPECT_NE(it->rfind("list ", 0), 0u) << *it;
    EXPECT_TRUE(host_->ButtonEnabled());
  }

  // A serial cell that must fail: "Error..." in the list, no completion box, button back.
  void ExpectSoftwareFailed(SerialDownloadResult r, SerialDownloadResult expected) {
    EXPECT_EQ(r, expected);
    EXPECT_TRUE(host_->Saw(std::string("list ") + kDownloadErrorLine));
    EXPECT_FALSE(host_->Saw(std::string("box ") + kTransferDoneText));
    ExpectButtonBackAfterDownload();
    EXPECT_FALSE(SoftwareOnDevice());
  }
  void ExpectSoftwareUpdated(SerialDownloadResult r) {
    EXPECT_EQ(r, SerialDownloadResult::kDone);
    EXPECT_TRUE(host_->Saw(std::string("box ") + kTransferDoneText));
    ExpectButtonBackAfterDownload();
    // The loader writes the image, then journals the job, once the EOT has arrived.
    ASSERT_TRUE(sim_->WaitForJournal(1, 10000));
    EXPECT_EQ(sim_->JournalRecords().back().Text("outcome"), "complete");
    EXPECT_TRUE(SoftwareOnDevice());
  }

  TempDir dir_, tmp_;
  std::optional<std::string> oldTmp_;
  std::unique_ptr<sim::Simulator> sim_;
  CComm comm_;
  Console console_;
  SerialDownloadOptions serialOptions_{1002, 500, 500};  // "C", answer, refusals
  std::unique_ptr<MatrixHost> host_;
  Bytes voice_, software_;
};

// --- USB -------------------------------------------------------------------------------

TEST_F(FaultMatrix, UsbWritesRefusedBrieflyAreRiddenOut) {
  ExpectVoiceUpdated(RunVoice([](sim::SimulatorOptions& o) { o.faults.refuse = {true, 16 * 1024, 60}; }));
}

TEST_F(FaultMatrix, UsbWritesRefusedForGoodMidPayloadFail) {
  ExpectVoiceFailed(RunVoice([](sim::SimulatorOptions& o) { o.faults.refuse = {true, 16 * 1024, 0}; }));
  EXPECT_EQ(host_->UsbResult().outcome, UsbTransferResult::kAborted);
}

TEST_F(FaultMatrix, UsbWritesRefusedFromTheStartFail) {
  ExpectVoiceFailed(RunVoice([](sim::SimulatorOptions& o) { o.faults.refuse = {true, 0, 0}; }));
  EXPECT_FALSE(host_->UsbResult().commandBlockAccepted);
}

TEST_F(FaultMatrix, UsbDeviceDisappearingMidTransferFails) {
  ExpectVoiceFailed(RunVoice([](sim::SimulatorOptions& o) { o.faults.vanish = {true, 16 * 1024, 0}; }));
}

TEST_F(FaultMatrix, UsbDeviceStallingForGoodFails) {
  ExpectVoiceFailed(RunVoice([](sim::SimulatorOptions& o) { o.faults.stall = {true, 16 * 1024, 0}; }));
}

TEST_F(FaultMatrix, UsbDeviceStallingBrieflyIsRiddenOut) {
  ExpectVoiceUpdated(RunVoice([](sim::SimulatorOptions& o) { o.faults.stall = {true, 16 * 1024, 60}; }));
}

TEST_F(FaultMatrix, UsbSlowLinkStillCompletes) {
  ExpectVoiceUpdated(RunVoice([](sim::SimulatorOptions& o) { o.bytesPerSecond = 256 * 1024; }));
}

TEST_F(FaultMatrix, UsbDeviceGoneBeforeTheTransferSaysSo) {
  StartSim([](sim::SimulatorOptions&) {});
  sim_->Stop();
  const UpdateResult r = RunJob(true, false);
  EXPECT_FALSE(r.started);
  EXPECT_EQ(host_->Boxes(), std::vector<std::string>{kNotConnectedText});
  EXPECT_TRUE(host_->ButtonEnabled());
}

// --- serial ----------------------------------------------------------------------------

TEST_F(FaultMatrix, SerialNakOnEveryBlockGivesUp) {
  ExpectSoftwareFailed(RunSoftware([](sim::SerialFaults& f) { f.nakEvery = 1; }),
                       SerialDownloadResult::kRefused);
}

TEST_F(FaultMatrix, SerialCorruptedBlockIsSentAgain) {
  ExpectSoftwareUpdated(RunSoftware([](sim::SerialFaults& f) { f.corruptBlock = 2; }));
}

TEST_F(FaultMatrix, SerialSilentDeviceTimesOut) {
  ExpectSoftwareFailed(RunSoftware([](sim::SerialFaults& f) { f.silentAfter = 0; }),
                       SerialDownloadResult::kNoAnswer);
}

TEST_F(FaultMatrix, SerialDeviceThatNeverSaysCTimesOut) {
  StartSim([](sim::SimulatorOptions&) {});
  test::PtyPair nobody;  // a line with no loader behind it
  OpenLine(nobody.SlavePath());
  ExpectSoftwareFailed(RunSoftwareJob(), SerialDownloadResult::kNoStart);
  comm_.Close();
}

TEST_F(FaultMatrix, SerialGarbageBeforeTheCIsSkipped) {
  ExpectSoftwareUpdated(RunSoftware([](sim::SerialFaults& f) { f.noiseBeforeStart = 600; }));
}

TEST_F(FaultMatrix, SerialLineClosedMidDownloadFails) {
  // The device hangs up as block 2 arrives: no answer comes, and nothing is stored.
  ExpectSoftwareFailed(RunSoftware([](sim::SerialFaults& f) { f.hangUpAfter = 2; }),
                       SerialDownloadResult::kNoAnswer);
}

// The update job deletes its extracted files right after starting the serial download;
// the download opened the file when it was started and sends it whole all the same.
TEST_F(FaultMatrix, SerialDownloadOutlivesTheJobsCleanUp) {
  const SerialDownloadResult r = RunSoftware([](sim::SerialFaults&) {});
  EXPECT_TRUE(std::filesystem::is_empty(tmp_.Path()));  // the extracted files are gone
  ExpectSoftwareUpdated(r);
  EXPECT_FALSE(host_->Saw(std::string("box ") + kFileOpenErrorText));
}

}  // namespace
}  // namespace edog
