// The simulator's parts on their own (flash model, journal, options) and its USB side
// through the real stand-in library.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "common/DynamicLibrary.h"
#include "common/Files.h"
#include "device/DeviceSocket.h"
#include "device/HandleIo.h"
#include "device/UsbLibrary.h"
#include "sim/Sha256.h"
#include "sim/SimProgram.h"
#include "sim/Simulator.h"
#include "robust/RobustFiles.h"
#include "support/TestSupport.h"
#include "update/HeaderedImage.h"

namespace edog::sim {
namespace {

using test::TempDir;

TEST(Sha256, KnownDigests) {
  EXPECT_EQ(Sha256::Hex(nullptr, 0),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  const std::string abc = "abc";
  EXPECT_EQ(Sha256::Hex(reinterpret_cast<const uint8_t*>(abc.data()), abc.size()),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // Fed in uneven pieces across block boundaries gives the same digest as in one piece.
  const auto data = test::RandomBytes(1000, 7);
  Sha256 pieces;
  for (size_t i = 0; i < data.size(); i += 37) pieces.Update(data.data() + i, std::min<size_t>(37, data.size() - i));
  EXPECT_EQ(pieces.HexDigest(), Sha256::Hex(data.data(), data.size()));
}

TEST(FlashModel, KeepsBytesAtTheirAddressAndDropsWhatDoesNotFit) {
  TempDir dir;
  const uint64_t eflash = FlashSizes{}.eflash;
  FlashModel flash(dir / "state");
  std::string error;
  ASSERT_TRUE(flash.Open(&error)) << error;
  const auto data = test::RandomBytes(3000, 1);
  EXPECT_EQ(flash.Write(kFlashSerial, 0x12345, data.data(), data.size()), data.size());
  EXPECT_EQ(flash.Read(kFlashSerial, 0x12345, data.size()), data);
  EXPECT_EQ(flash.Read(kFlashSerial, 0x12345 - 4, 4), std::vector<uint8_t>(4, 0));
  // e-flash ends at 64 KiB: only the first 100 bytes of a write at 64 KiB - 100 land.
  EXPECT_EQ(flash.Write(kFlashE, eflash - 100, data.data(), data.size()), 100u);
  EXPECT_EQ(flash.Write(kFlashE, eflash, data.data(), 1), 0u);
  EXPECT_EQ(flash.Write(7, 0, data.data(), 1), 0u);
  EXPECT_EQ(test::ReadFile(flash.FilePath(kFlashE)).size(), eflash);
  // NAND start fields count 512-byte blocks.
  EXPECT_EQ(FlashModel::ByteAddress(kFlashNand, 0x200), 0x40000u);
  EXPECT_EQ(FlashModel::ByteAddress(kFlashSerial, 0x200), 0x200u);
  // Contents survive a reopen (the state folder is the device's memory), also by a
  // device of other sizes: its writes end at its own sizes.
  flash.Close();
  FlashModel again(dir / "state", FlashSizes{1024, 0x12345 + 16, 1 << 20});
  ASSERT_TRUE(again.Open(&error));
  EXPECT_EQ(again.Read(kFlashSerial, 0x12345, data.size()), data);
  EXPECT_EQ(again.Capacity(kFlashNand), 1u << 20);
  EXPECT_EQ(again.Write(kFlashSerial, 0x12345, data.data(), data.size()), 16u);
  EXPECT_EQ(again.Write(kFlashE, 1000, data.data(), data.size()), 24u);
}

TEST(Journal, WritesFlatJsonLinesAndReadsThemBack) {
  TempDir dir;
  Journal journal(dir / "journal.jsonl");
  std::vector<std::string> echoed;
  journal.SetListener([&](const std::string& line) { echoed.push_back(line); });
  JournalRecord r;
  r.Set("kind", "download").Set("received", uint64_t(4096)).Set("note", "quote \" back\\slash\r\n");
  ASSERT_TRUE(journal.Append(r));
  ASSERT_TRUE(journal.Append(JournalRecord().Set("kind", "text-request")));
  EXPECT_TRUE(journal.WaitForAppended(2, 0));
  const auto records = journal.ReadAll();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].Text("kind"), "download");
  EXPECT_EQ(records[0].Number("received"), 4096u);
  EXPECT_EQ(records[0].Text("note"), "quote \" back\\slash\r\n");
  EXPECT_FALSE(records[0].Text("time").empty());
  EXPECT_EQ(test::ReadText(dir / "journal.jsonl").find("{\"time\":"), 0u);
  ASSERT_EQ(echoed.size(), 2u);
  EXPECT_EQ(echoed[1], records[1].ToJson());
  EXPECT_FALSE(JournalRecord::Parse("{\"a\":1").has_value());
  EXPECT_FALSE(JournalRecord::Parse("{\"a\":x}").has_value());
}

TEST(SimulatorOptions, ParsesFaultsSpeedAndRefusesNonsense) {
  std::vector<std::string> words = {"edog-sim", "--state", "/s", "--socket=/x.sock", "--speed", "1M",
                                    "--refuse-after", "64K", "--refuse-for", "300",
                                    "--vanish-after", "10", "--stall-after", "0", "--stall-for", "50",
                                    "--nand-size", "4K", "--eflash-size=1M"};
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  SimulatorOptions o;
  ASSERT_EQ(ParseSimulatorArgs(static_cast<int>(argv.size()), argv.data(), "edog-sim", o), -1);
  EXPECT_EQ(o.stateDir, "/s");
  EXPECT_EQ(o.socketPath, "/x.sock");
  EXPECT_EQ(o.bytesPerSecond, 1024u * 1024u);
  EXPECT_TRUE(o.faults.refuse.enabled);
  EXPECT_EQ(o.faults.refuse.afterBytes, 65536u);
  EXPECT_EQ(o.faults.refuse.forMs, 300u);
  EXPECT_TRUE(o.faults.vanish.enabled);
  EXPECT_EQ(o.faults.vanish.forMs, 0u);
  EXPECT_TRUE(o.faults.stall.enabled);
  EXPECT_EQ(o.faults.stall.afterBytes, 0u);
  EXPECT_EQ(o.flashSizes.nand, 4096u);
  EXPECT_EQ(o.flashSizes.eflash, 1024u * 1024u);
  EXPECT_EQ(o.flashSizes.serial, FlashSizes{}.serial);  // the default stays

  // Refused, with the reason when a number does not fit its field (it would wrap around:
  // 2^54 K is 2^64 bytes, which used to become 0, "unlimited").
  struct Bad {
    std::vector<std::string> words;
    std::string said;
  };
  for (Bad bad : std::vector<Bad>{{{"--speed", "fast"}, "bad value 'fast' for --speed\n"},
                                  {{"--bogus"}, "unknown option '--bogus'"},
                                  {{"--refuse-for"}, "--refuse-for needs a value MS"},
                                  {{"--speed", "18014398509481984K"}, "too large, at most 18446744073709551615"},
                                  {{"--speed=17592186044416M"}, "too large, at most 18446744073709551615"},
                                  {{"--refuse-after", "18446744073709551616"}, "too large, at most 18446744073709551615"},
                                  {{"--vanish-after", "99999999999999999999K"}, "too large, at most 18446744073709551615"},
                                  {{"--text-interval", "4294967296"}, "too large, at most 4294967295"},
                                  {{"--serial-nak-every", "99999999999"}, "too large, at most 4294967295"},
                                  {{"--serial-corrupt", "4294967296"}, "too large, at most 4294967295"},
                                  {{"--tcp-port", "65536"}, "too large, at most 65535"},
                                  {{"--nand-size", "8589934592G"}, "bad value '8589934592G' for --nand-size"},
                                  {{"--serial-flash-size", "9223372036854775808"}, "too large, at most 9223372036854775807"}}) {
    bad.words.insert(bad.words.begin(), "edog-sim");
    std::vector<char*> a;
    for (auto& w : bad.words) a.push_back(w.data());
    SimulatorOptions ignored;
    testing::internal::CaptureStderr();
    EXPECT_EQ(ParseSimulatorArgs(static_cast<int>(a.size()), a.data(), "edog-sim", ignored), 2) << bad.words[1];
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(bad.said), std::string::npos) << err;
  }
  // The largest values that fit are taken exactly.
  std::vector<std::string> edge = {"edog-sim", "--speed", "17592186044415M", "--stall-after",
                                   "18446744073709551615", "--stall-for", "4294967295"};
  argv.clear();
  for (auto& w : edge) argv.push_back(w.data());
  SimulatorOptions e;
  ASSERT_EQ(ParseSimulatorArgs(static_cast<int>(argv.size()), argv.data(), "edog-sim", e), -1);
  EXPECT_EQ(e.bytesPerSecond, 17592186044415ull << 20);
  EXPECT_EQ(e.faults.stall.afterBytes, UINT64_MAX);
  EXPECT_EQ(e.faults.stall.forMs, UINT32_MAX);
  EXPECT_NE(SimulatorHelp("edog-sim").find("--vanish-after"), std::string::npos);
}

TEST(DeviceSocketPath, FollowsTheEnvironmentRule) {
  const char* saved = std::getenv(kDeviceSocketEnv);
  const std::string keep = saved ? saved : "";
  setenv(kDeviceSocketEnv, "/somewhere/dev.sock", 1);
  EXPECT_EQ(DefaultDeviceSocketPath(), "/somewhere/dev.sock");
  unsetenv(kDeviceSocketEnv);
  setenv("XDG_RUNTIME_DIR", "/run/user/77", 1);
  EXPECT_EQ(DefaultDeviceSocketPath(), "/run/user/77/edog-device.sock");
  unsetenv("XDG_RUNTIME_DIR");
  setenv("TMPDIR", "/scratch", 1);
  EXPECT_EQ(DefaultDeviceSocketPath(), "/scratch/edog-" + std::to_string(getuid()) + "/device.sock");
  unsetenv("TMPDIR");
  EXPECT_EQ(DefaultDeviceSocketPath(), "/tmp/edog-" + std::to_string(getuid()) + "/device.sock");
  if (saved) setenv(kDeviceSocketEnv, keep.c_str(), 1);
}

using test::StandInLibrary;

TEST(SimulatorPresence, OpenDevFollowsTheSimulatorAndAnswersQuickly) {
  TempDir dir;
  setenv(kDeviceSocketEnv, (dir / "dev.sock").c_str(), 1);
  const auto lib = UsbLibrary::Load(StandInLibrary());
  ASSERT_TRUE(lib) << StandInLibrary();

  EXPECT_EQ(lib->OpenDev(), USB_INVALID_HANDLE);
  SimulatorOptions o;
  o.stateDir = dir / "state";
  {
    Simulator sim(o);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    EXPECT_EQ(sim.SocketPath(), dir / "dev.sock");
    UsbHandle h = USB_INVALID_HANDLE;
    ASSERT_TRUE(test::ProbeWithRetries([&] { return (h = lib->OpenDev()) != USB_INVALID_HANDLE; }));
    EXPECT_TRUE(HandleClose(h));
    EXPECT_EQ(lib->OpenFile("PIPE99"), USB_INVALID_HANDLE);

    // A second simulator does not take over a socket that is answered.
    Simulator other(o);
    EXPECT_FALSE(other.Start(&error));
    EXPECT_NE(error.find("already"), std::string::npos);

    // A hung device: the probe gives up after its 40 ms budget instead of hanging (the
    // bound is loose so a busy machine cannot fail it).
    FaultOptions f;
    f.stall = {true, 0, 0};
    sim.SetFaults(f);
    UsbPipe trigger(lib->OpenFile(USB_PIPE_OUT));  // the stall strikes as this pipe opens
    ASSERT_TRUE(trigger.IsOpen());
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(lib->OpenDev(), USB_INVALID_HANDLE);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(500));
    sim.SetFaults(FaultOptions{});
  }
  EXPECT_EQ(lib->OpenDev(), USB_INVALID_HANDLE);
  EXPECT_EQ(FileSize(dir / "state/serial-flash.bin"), FlashSizes{}.serial);
}

}  // namespace
}  // namespace edog::sim

namespace edog::sim {
namespace {

// Blocks written straight to "PIPE00", as a misbehaving host would.
class RawPipeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv(kDeviceSocketEnv, (dir_ / "dev.sock").c_str(), 1);
    StartSim({});
    lib_ = UsbLibrary::Load(StandInLibrary());
    ASSERT_TRUE(lib_);
  }
  void StartSim(const FlashSizes& sizes) {
    sim_.reset();
    SimulatorOptions o;
    o.stateDir = dir_ / "state";
    o.flashSizes = sizes;
    o.serial.enabled = false;
    sim_ = std::make_unique<Simulator>(o);
    jobs_ = 0;
    std::string error;
    ASSERT_TRUE(sim_->Start(&error)) << error;
  }
  // Sends the blocks, ends the pipe and keeps the device's word on it in `stored_`.
  JournalRecord SendBlocks(const std::vector<std::vector<uint8_t>>& blocks) {
    {
      UsbPipe pipe(lib_->OpenFile(USB_PIPE_OUT));
      EXPECT_TRUE(pipe.IsOpen());
      for (const auto& b : blocks) EXPECT_TRUE(pipe.Write(b.data(), static_cast<uint32_t>(b.size())));
      stored_ = pipe.ConfirmStored();
    }
    EXPECT_TRUE(sim_->WaitForJournal(++jobs_, 5000));
    return sim_->JournalRecords().back();
  }
  // A headered image as the USB transfer sends it: the command block, then everything
  // after the header block in blocks of at most 2048 bytes.
  JournalRecord SendImage(const std::vector<uint8_t>& file) {
    std::vector<std::vector<uint8_t>> blocks = {
        std::vector<uint8_t>(file.begin(), file.begin() + kCommandBlockSize)};
    for (size_t at = kHeaderBlockSize; at < file.size(); at += 2048)
      blocks.emplace_back(file.begin() + at, file.begin() + std::min(file.size(), at + 2048));
    return SendBlocks(blocks);
  }
  static std::vector<uint8_t> Command(uint8_t flash, uint32_t start, uint32_t size) {
    const auto h = BuildHeaderBlock(Port::Usb, flash, start, size, size / 64);
    return std::vector<uint8_t>(h.begin(), h.begin() + kCommandBlockSize);
  }
  TempDir dir_;
  std::unique_ptr<Simulator> sim_;
  std::shared_ptr<UsbLibrary> lib_;
  size_t jobs_ = 0;
  bool stored_ = false;
};

TEST_F(RawPipeTest, OutcomesNameWhatWentWrong) {
  auto rec = SendBlocks({{'h', 'e', 'l', 'l', 'o'}, {1, 2, 3}});
  EXPECT_EQ(rec.Text("outcome"), "bad-command");
  EXPECT_EQ(rec.Text("command"), "68656c6c6f");
  EXPECT_EQ(rec.Number("received"), 3u);
  EXPECT_FALSE(stored_);

  // 512 bytes at 64 KiB - 256 of the e-flash: only 256 fit.
  const uint64_t eflash = FlashSizes{}.eflash;
  const auto data = test::RandomBytes(512, 4);
  rec = SendBlocks({Command(kFlashE, static_cast<uint32_t>(eflash - 256), 512), data});
  EXPECT_EQ(rec.Text("outcome"), "out-of-range");
  EXPECT_FALSE(stored_);
  EXPECT_EQ(sim_->ReadFlash(kFlashE, eflash - 256, 256),
            std::vector<uint8_t>(data.begin(), data.begin() + 256));

  // A payload longer than its size field is stored whole; a shorter one is not complete.
  rec = SendBlocks({Command(kFlashSerial, 0, 64), std::vector<uint8_t>(100, 7)});
  EXPECT_EQ(rec.Text("outcome"), "complete");
  EXPECT_TRUE(stored_);
  EXPECT_EQ(sim_->ReadFlash(kFlashSerial, 0, 100), std::vector<uint8_t>(100, 7));
  rec = SendBlocks({Command(kFlashSerial, 0, 640), std::vector<uint8_t>(100, 7)});
  EXPECT_EQ(rec.Text("outcome"), "short");
  EXPECT_FALSE(stored_);
  EXPECT_EQ(rec.Number("writes"), 2u);
  EXPECT_EQ(rec.Number("size"), 640u);
}

// The NAND writers at a start address inside a block: the header names the block, the
// size field counts from the address asked for, so the payload is longer than the field.
// The device stores all of it from the block's start.
TEST_F(RawPipeTest, NandImagesAtAnAddressInsideABlockAreStoredWhole) {
  test::WriteFile(dir_ / "p.bmp", test::SmallBmp(40, 30));
  test::WriteFile(dir_ / "w.wav", test::MonoWave(8000, 4000));
  const std::vector<std::vector<std::string>> commands = {
      {"images", "--flash", "nand", "--address", "40100", "-o", "images.hdr", "p.bmp"},
      {"voice", "--flash", "nand", "--address", "40100", "-o", "voice.hdr", "w.wav"}};
  for (const auto& args : commands) {
    SCOPED_TRACE(args[0]);
    const auto run = test::RunTool(args, dir_.Path());
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const auto file = test::ReadFile(dir_ / (args[0] + ".hdr"));
    ASSERT_GT(file.size(), kHeaderBlockSize);
    const HeaderFields h = ParseHeaderFields(file.data());
    const uint64_t payload = file.size() - kHeaderBlockSize;
    EXPECT_EQ(h.flash, kFlashNand);
    EXPECT_EQ(h.startAddress, 0x200u);
    EXPECT_EQ(h.fileSize, payload - 0x100) << "the writers' size field";

    const JournalRecord rec = SendImage(file);
    EXPECT_EQ(rec.Text("outcome"), "complete");
    EXPECT_TRUE(stored_);
    EXPECT_EQ(rec.Number("received"), payload);
    EXPECT_EQ(rec.Number("address"), 0x40000u);
    EXPECT_EQ(sim_->ReadFlash(kFlashNand, 0x40000, payload),
              std::vector<uint8_t>(file.begin() + kHeaderBlockSize, file.end()));
  }
}

// The device's memories are its own: a small NAND flash answers a write past its end
// with failure, whatever the tool thought of the image.
TEST_F(RawPipeTest, AWritePastTheDevicesFlashFails) {
  FlashSizes sizes;
  sizes.nand = 4096;
  StartSim(sizes);
  const auto data = test::RandomBytes(2048, 5);
  auto rec = SendBlocks({Command(kFlashNand, 4, 2048), data});  // bytes 2048..4095
  EXPECT_EQ(rec.Text("outcome"), "complete");
  EXPECT_TRUE(stored_);
  rec = SendBlocks({Command(kFlashNand, 6, 2048), data});  // bytes 3072..5119
  EXPECT_EQ(rec.Text("outcome"), "out-of-range");
  EXPECT_FALSE(stored_);
  EXPECT_EQ(sim_->ReadFlash(kFlashNand, 3072, 1024),
            std::vector<uint8_t>(data.begin(), data.begin() + 1024));
}

}  // namespace
}  // namespace edog::sim
