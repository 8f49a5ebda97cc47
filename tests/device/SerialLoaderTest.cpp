// The serial code download against the simulator's serial loader, through a real
// pseudo-terminal: what the device's flash holds afterwards, its journal, its faults.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "common/Files.h"
#include "device/Comm.h"
#include "device/SerialDownload.h"
#include "device/SerialTestSupport.h"
#include "sim/Sha256.h"
#include "sim/SimProgram.h"
#include "sim/Simulator.h"
#include "support/TestSupport.h"
#include "update/HeaderedImage.h"

namespace edog {
namespace {

using sim::JournalRecord;
using test::ReaderResumer;
using test::TextCollector;

// A headered image for the serial port: header block, payload padded to whole packets.
std::vector<uint8_t> UartImage(uint8_t flash, uint32_t startField, const std::vector<uint8_t>& payload) {
  const SizeAndPackets sp = PacketRoundedSize(Port::Uart, static_cast<uint32_t>(payload.size()));
  const HeaderBlock h = BuildHeaderBlock(Port::Uart, flash, startField, sp.fileSize, sp.packetCount);
  std::vector<uint8_t> image(h.begin(), h.end());
  image.insert(image.end(), payload.begin(), payload.end());
  image.resize(kHeaderBlockSize + sp.fileSize, 0);
  return image;
}

class SerialLoaderTest : public ::testing::Test {
 protected:
  void StartSimulator(sim::SerialLoaderOptions serial = {}) {
    sim::SimulatorOptions o;
    o.stateDir = dir_ / "state";
    o.socketPath = dir_ / "dev.sock";
    o.serial = serial;
    sim_ = std::make_unique<sim::Simulator>(o);
    std::string error;
    ASSERT_TRUE(sim_->Start(&error)) << error;
    ASSERT_FALSE(sim_->SerialLinePath().empty());
    comm_.SetParams(sim_->SerialLinePath(), 115200, 8, kOneStopBit, kNoParity);
    ASSERT_EQ(comm_.CreateEvents(), 1);
    comm_.SetNotifyWnd(&console_);
    ASSERT_NE(comm_.Open(), 0);
  }
  static sim::SerialLoaderOptions Fast() {
    sim::SerialLoaderOptions s;
    s.baud = 0;
    return s;
  }
  SerialDownloadResult Send(const std::vector<uint8_t>& file, SerialDownloadOptions options = {}) {
    test::WriteFile(dir_ / "file.hdr", file);
    comm_.SuspendReader();  // as the update job does before it starts the download
    SerialDownload dl(comm_, observer_, clock_, options);
    dl.Start(true, dir_ / "file.hdr");
    return dl.Wait();
  }
  JournalRecord LastJob() {
    EXPECT_TRUE(sim_->WaitForJournal(1, 5000));
    const auto records = sim_->JournalRecords();
    return records.empty() ? JournalRecord() : records.back();
  }

  test::TempDir dir_;
  std::unique_ptr<sim::Simulator> sim_;
  TextCollector console_;  // outlives the port, whose reader calls it
  CComm comm_;
  test::FastClock clock_;
  ReaderResumer observer_{comm_};
};

TEST_F(SerialLoaderTest, ImageOf258BlocksLandsInSerialFlash) {
  StartSimulator(Fast());
  const auto payload = test::RandomBytes(257 * 1024 - 100, 31);
  const auto image = UartImage(kFlashSerial, 0x2000, payload);
  ASSERT_EQ(image.size(), 258u * 1024);
  EXPECT_EQ(Send(image), SerialDownloadResult::kDone);
  const JournalRecord job = LastJob();
  EXPECT_EQ(job.Text("kind"), "serial-download");
  EXPECT_EQ(job.Text("outcome"), "complete");
  EXPECT_EQ(job.Number("blocks"), 258u);
  EXPECT_EQ(job.Number("naks"), 0u);
  EXPECT_EQ(job.Number("address"), 0x2000u);
  const std::vector<uint8_t> padded(image.begin() + 1024, image.end());
  EXPECT_EQ(job.Text("sha256"), sim::Sha256::Hex(padded.data(), padded.size()));
  EXPECT_EQ(sim_->ReadFlash(kFlashSerial, 0x2000, padded.size()), padded);
  EXPECT_EQ(observer_.rec.List()[2], "Download Size... 264192 bytes");
}

TEST_F(SerialLoaderTest, File2500BytesShortLastBlockAndNandAddress) {
  StartSimulator(Fast());
  // A 2500-byte file whose header names 1476 payload bytes at NAND block 0x200.
  const auto payload = test::RandomBytes(1476, 8);
  const HeaderBlock h = BuildHeaderBlock(Port::Uart, kFlashNand, 0x200, 1476, 2);
  std::vector<uint8_t> file(h.begin(), h.end());
  file.insert(file.end(), payload.begin(), payload.end());
  ASSERT_EQ(file.size(), 2500u);
  EXPECT_EQ(Send(file), SerialDownloadResult::kDone);
  EXPECT_EQ(observer_.rec.List(), (std::vector<std::string>{"File Size: 2500 bytes", "Code Download Start...",
                                                            "Download Size... 3072 bytes",
                                                            "Code Download End..."}));
  EXPECT_EQ(observer_.rec.Percents(), (std::vector<unsigned>{0, 40, 81, 122, 100}));
  const JournalRecord job = LastJob();
  EXPECT_EQ(job.Text("outcome"), "complete");
  EXPECT_EQ(job.Number("address"), 0x40000u);
  EXPECT_EQ(sim_->ReadFlash(kFlashNand, 0x40000, payload.size()), payload);
}

TEST_F(SerialLoaderTest, RefusedAndDamagedBlocksAreSentAgainUntilTheImageIsWhole) {
  auto s = Fast();
  s.faults.nakFirst = true;
  s.faults.nakEvery = 4;
  s.faults.corruptBlock = 2;
  StartSimulator(s);
  const auto payload = test::RandomBytes(6000, 12);
  const auto image = UartImage(kFlashSerial, 0, payload);
  EXPECT_EQ(Send(image), SerialDownloadResult::kDone);
  const JournalRecord job = LastJob();
  EXPECT_EQ(job.Text("outcome"), "complete");
  EXPECT_EQ(job.Number("blocks"), 7u);
  // Receptions 0 (first), 2 (damaged), 3, 7 (every 4th): four refusals.
  EXPECT_EQ(job.Number("naks"), 4u);
  EXPECT_EQ(sim_->ReadFlash(kFlashSerial, 0, payload.size()), payload);
  EXPECT_EQ(observer_.rec.List()[2], "Download Size... 7168 bytes");
}

TEST_F(SerialLoaderTest, SilentLoaderEndsTheDownloadWithErrorAndTheJobIsAbandoned) {
  auto s = Fast();
  s.faults.silentAfter = 2;
  s.abandonMs = 300;
  StartSimulator(s);
  SerialDownloadOptions quick;
  quick.answerTimeoutMs = 300;
  EXPECT_EQ(Send(UartImage(kFlashSerial, 0, test::RandomBytes(5000, 1)), quick),
            SerialDownloadResult::kNoAnswer);
  EXPECT_EQ(observer_.rec.List().back(), "Error...");
  const JournalRecord job = LastJob();
  EXPECT_EQ(job.Text("outcome"), "abandoned");
  EXPECT_EQ(job.Number("blocks"), 2u);
  EXPECT_EQ(sim_->ReadFlash(kFlashSerial, 0, 16), std::vector<uint8_t>(16, 0)) << "nothing written";
}

TEST_F(SerialLoaderTest, ConsoleTextReachesTheReaderBeforeAndAfterADownload) {
  auto s = Fast();
  s.consoleIntervalMs = 50;
  StartSimulator(s);
  ASSERT_TRUE(console_.WaitFor([](const std::string& t) { return t.find("idle") != std::string::npos; }));
  const std::string before = console_.Text();
  EXPECT_NE(before.find("edog loader: idle, firmware 1.00, database 2026.12"), std::string::npos);
  // Every line feed of the console arrives as CR LF.
  for (size_t i = before.find('\n'); i != std::string::npos; i = before.find('\n', i + 1))
    EXPECT_EQ(before[i - 1], '\r');
  EXPECT_EQ(before.find('C'), std::string::npos);

  comm_.Write("hello\r", 6);
  ASSERT_TRUE(console_.WaitFor([](const std::string& t) {
    return t.find("unknown command 'hello'") != std::string::npos;
  }));
  const auto payload = test::RandomBytes(100, 2);
  EXPECT_EQ(Send(UartImage(kFlashSerial, 0x100, payload)), SerialDownloadResult::kDone);
  ASSERT_TRUE(console_.WaitFor([](const std::string& t) {
    return t.find("edog loader: complete (2048 bytes)") != std::string::npos;
  }));
}

TEST_F(SerialLoaderTest, PacedLineTakesAtLeastTheTimeOfItsBits) {
  StartSimulator();  // 115200 baud, the default
  const auto image = UartImage(kFlashSerial, 0, test::RandomBytes(2048, 3));
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(Send(image), SerialDownloadResult::kDone);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_GE(ms, 3 * 1029 * 10 * 1000 / 115200) << "3 blocks of 1029 bytes at 10 bits a byte";
  EXPECT_EQ(LastJob().Text("outcome"), "complete");
}

TEST_F(SerialLoaderTest, EdogtoolFindsAndUsesTheSimulatorsLine) {
  StartSimulator(Fast());
  const std::string line = sim_->SerialLinePath();
  comm_.Close();  // the command opens the line itself
  EXPECT_EQ(test::ReadText(dir_ / "state/serial-line"), line + "\n");
  auto r = test::RunTool({"ports", "--state", dir_ / "state"});
  EXPECT_NE(r.out.find(line + "\n"), std::string::npos) << r.out;

  const auto payload = test::RandomBytes(3000, 5);
  test::WriteFile(dir_ / "fw.hdr", UartImage(kFlashSerial, 0x800, payload));
  r = test::RunTool({"send-serial", "--port", line, dir_ / "fw.hdr"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Code Download End...\nFile Transfer is completed!\n"), std::string::npos);
  EXPECT_EQ(LastJob().Text("outcome"), "complete");
  EXPECT_EQ(sim_->ReadFlash(kFlashSerial, 0x800, payload.size()), payload);

  sim_->Stop();
  EXPECT_FALSE(FileExists(dir_ / "state/serial-line"));
  r = test::RunTool({"ports", "--state", dir_ / "state"});
  EXPECT_EQ(r.out.find(line + "\n"), std::string::npos);
}

// The loader plays a USB adapter's latency timer: send-serial ends with where the blocks'
// time went and, only when the answers come late, the likely cause and its fix.
TEST_F(SerialLoaderTest, AdapterLatencyTimerIsNamedWithItsFix) {
  const auto payload = test::RandomBytes(7 * 1024, 6);
  test::WriteFile(dir_ / "fw.hdr", UartImage(kFlashSerial, 0, payload));
  // With the timer the line is paced at the port's 115200 baud; without it the loader
  // answers as soon as it has a block, unpaced, so that a busy machine's late wake-ups
  // cannot pass for an adapter's timer.
  for (const uint32_t latencyUs : {16000u, 0u}) {
    sim::SerialLoaderOptions serial;
    serial.answerLatencyUs = latencyUs;
    if (latencyUs == 0) serial.baud = 0;
    StartSimulator(serial);
    comm_.Close();  // the command opens the line itself
    const auto r = test::RunTool({"send-serial", "--port", sim_->SerialLinePath(), dir_ / "fw.hdr"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    const size_t summary = r.out.find("File Transfer is completed!\nSerial line: ");
    ASSERT_NE(summary, std::string::npos) << r.out;
    EXPECT_NE(r.out.find("% of 115200 baud used, 8 blocks, per block ", summary), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n  line 89.32 ms, pause 1.00 ms, device's answer ", summary),
              std::string::npos) << r.out;
    const bool advised = r.out.find("latency timer", summary) != std::string::npos;
    EXPECT_EQ(advised, latencyUs != 0) << r.out;
    if (advised) {
      EXPECT_NE(r.out.find("setserial /dev/ttyUSBn low_latency", summary), std::string::npos);
    }
    EXPECT_EQ(LastJob().Text("outcome"), "complete");
  }
}

TEST(SerialLoaderStart, UsbSideRunsOnWhenTheLineCannotBeAnnounced) {
  test::TempDir dir;
  ASSERT_TRUE(MakeDirectory(dir / "state"));
  ASSERT_TRUE(MakeDirectory(dir / "state/serial-line"));  // in the way of the announcement
  sim::SimulatorOptions o;
  o.stateDir = dir / "state";
  o.socketPath = dir / "dev.sock";
  sim::Simulator s(o);
  std::string error;
  ASSERT_TRUE(s.Start(&error)) << error;
  EXPECT_TRUE(s.IsRunning());
  EXPECT_TRUE(s.SerialLinePath().empty());
  EXPECT_NE(s.SerialLineError().find("serial-line"), std::string::npos) << s.SerialLineError();
}

TEST(SerialLoaderOptions, ParsedFromTheSimulatorsCommandLine) {
  std::vector<std::string> words = {"edog-sim", "--serial-baud", "57600", "--serial-nak-first",
                                    "--serial-nak-every=3", "--serial-corrupt", "2",
                                    "--serial-silent-after", "9", "--serial-console", "250",
                                    "--answer-latency", "16ms"};
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  sim::SimulatorOptions o;
  ASSERT_EQ(sim::ParseSimulatorArgs(static_cast<int>(argv.size()), argv.data(), "edog-sim", o), -1);
  EXPECT_TRUE(o.serial.enabled);
  EXPECT_EQ(o.serial.baud, 57600u);
  EXPECT_TRUE(o.serial.faults.nakFirst);
  EXPECT_EQ(o.serial.faults.nakEvery, 3u);
  EXPECT_EQ(o.serial.faults.corruptBlock, 2);
  EXPECT_EQ(o.serial.faults.silentAfter, 9);
  EXPECT_EQ(o.serial.consoleIntervalMs, 250u);
  EXPECT_EQ(o.serial.answerLatencyUs, 16000u);

  for (std::vector<std::string> bad : {std::vector<std::string>{"edog-sim", "--serial-nak-first=1"},
                                       {"edog-sim", "--serial-corrupt", "x"},
                                       {"edog-sim", "--serial-console", "0"},
                                       {"edog-sim", "--answer-latency", "16s"}}) {
    std::vector<char*> a;
    for (auto& w : bad) a.push_back(w.data());
    sim::SimulatorOptions ignored;
    EXPECT_EQ(sim::ParseSimulatorArgs(static_cast<int>(a.size()), a.data(), "edog-sim", ignored), 2)
        << bad[1];
  }
  std::vector<std::string> off = {"edog-sim", "--no-serial"};
  std::vector<char*> a = {off[0].data(), off[1].data()};
  sim::SimulatorOptions none;
  ASSERT_EQ(sim::ParseSimulatorArgs(2, a.data(), "edog-sim", none), -1);
  EXPECT_FALSE(none.serial.enabled);
}

}  // namespace
}  // namespace edog
