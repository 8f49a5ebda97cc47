// The whole serial stack on a real pseudo-terminal: CComm with its reader suspended, the
// download on its own thread, and a device loader written here, independently, that
// checks each block and records the bytes the download put on the line.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <optional>
#include <thread>

#include "device/Comm.h"
#include "device/SerialDownload.h"
#include "device/SerialTestSupport.h"
#include "device/UsbTransfer.h"
#include "support/TestSupport.h"

namespace edog {
namespace {
using test::PeerResult;
using test::PlayLoader;
using test::ReaderResumer;
using test::TextCollector;

class DownloadOverPty : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(Connect(pty_, comm_, console_)); }
  // Opens `comm` on the pty's far end at 115200 8N1, its text going to `console`.
  static void Connect(test::PtyPair& pty, CComm& comm, TextCollector& console) {
    comm.SetParams(pty.SlavePath(), 115200, 8, kOneStopBit, kNoParity);
    ASSERT_EQ(comm.CreateEvents(), 1);
    comm.SetNotifyWnd(&console);
    ASSERT_NE(comm.Open(), 0);
  }
  // Runs one download of `data` against the loader as the update job does it.
  SerialDownloadResult Download(const std::vector<uint8_t>& data, PeerResult& peer,
                                std::function<bool(size_t)> refuse = [](size_t) { return false; },
                                size_t silentAfter = SIZE_MAX, SerialDownloadOptions options = {},
                                const std::string& hello = {}) {
    test::LoaderScript script;
    script.refuse = std::move(refuse);
    script.silentAfter = silentAfter;
    script.hello = hello;
    return Download(data, peer, script, options);
  }
  SerialDownloadResult Download(const std::vector<uint8_t>& data, PeerResult& peer,
                                const test::LoaderScript& script, SerialDownloadOptions options = {}) {
    test::WriteFile(dir_ / "file.bin", data);
    std::thread device([&] { peer = PlayLoader(pty_, script); });
    comm_.SuspendReader();
    SerialDownload dl(comm_, observer_, clock_, options);
    dl.Start(true, dir_ / "file.bin");
    const SerialDownloadResult result = dl.Wait();
    device.join();
    return result;
  }
  void ExpectBlocksOf(const std::vector<uint8_t>& data, const PeerResult& peer) {
    const size_t count = (data.size() + 1023) / 1024;
    ASSERT_EQ(peer.blocks.size(), count);
    for (size_t i = 0; i < count; ++i) {
      const size_t n = std::min<size_t>(1024, data.size() - i * 1024);
      ASSERT_EQ(peer.blocks[i], test::ExpectedBlock(static_cast<unsigned>(i), &data[i * 1024], n))
          << "block " << i;
    }
  }
  test::TempDir dir_;
  test::PtyPair pty_;
  test::FastClock clock_;
  TextCollector console_;  // outlives the port, whose reader calls it
  CComm comm_;
  ReaderResumer observer_{comm_};
};

const std::vector<uint8_t> kTail = {0x04, 0x00, 'q'};

TEST_F(DownloadOverPty, File2500BytesGoesOutInThreeCheckedBlocks) {
  const auto data = test::RandomBytes(2500, 21);
  PeerResult peer;
  EXPECT_EQ(Download(data, peer, [](size_t) { return false; }, SIZE_MAX, {}, "loader> done\n"),
            SerialDownloadResult::kDone);
  EXPECT_EQ(peer.problem, "");
  ExpectBlocksOf(data, peer);
  EXPECT_EQ(peer.tail, kTail);
  EXPECT_EQ(observer_.rec.List(), (std::vector<std::string>{"File Size: 2500 bytes", "Code Download Start...",
                                                            "Download Size... 3072 bytes",
                                                            "Code Download End..."}));
  EXPECT_EQ(observer_.rec.Percents(), (std::vector<unsigned>{0, 40, 81, 122, 100}));
  // The port was asked for low latency; a pty refuses, and the refusal says nothing.
  EXPECT_EQ(comm_.LowLatencyState(), CComm::LowLatency::kRefused);
  const auto timing = observer_.rec.Timing();
  ASSERT_TRUE(timing.has_value());
  EXPECT_EQ(timing->blocks, 3u);
  EXPECT_EQ(timing->baud, 115200u);
  EXPECT_EQ(timing->lineUs, uint64_t{1029} * 10 * 1000000 / 115200);
  // Every block's CRC as Python's binascii.crc_hqx computes it.
  std::vector<std::vector<uint8_t>> fields;
  for (const auto& b : peer.blocks) fields.emplace_back(b.begin() + 3, b.begin() + 1027);
  const auto crcs = test::PythonCrcs(fields);
  ASSERT_EQ(crcs.size(), peer.blocks.size());
  for (size_t i = 0; i < crcs.size(); ++i)
    EXPECT_EQ(crcs[i], peer.blocks[i][1027] << 8 | peer.blocks[i][1028]) << "block " << i;
  // The reader was resumed at the end: the loader's text after the download reaches us.
  std::unique_lock<std::mutex> lock(console_.m);
  EXPECT_TRUE(console_.arrived.wait_for(lock, std::chrono::seconds(5),
                                        [&] { return console_.text.size() >= 14; }));
  EXPECT_EQ(console_.text, "loader> done\r\n");
}

TEST_F(DownloadOverPty, EmptyFileSendsOnlyTheEnd) {
  PeerResult peer;
  EXPECT_EQ(Download({}, peer), SerialDownloadResult::kDone);
  EXPECT_TRUE(peer.blocks.empty());
  EXPECT_EQ(peer.tail, kTail);
  EXPECT_EQ(observer_.rec.List().front(), "File Size: 0 bytes");
}

TEST_F(DownloadOverPty, HeaderedImageOf257BlocksWrapsTheNumber) {
  // A headered image made for the serial port: header block plus whole 1024-byte packets.
  auto data = test::RandomBytes(257 * 1024, 9);
  data[0] = '$';
  data[1] = 0;
  PeerResult peer;
  EXPECT_EQ(Download(data, peer), SerialDownloadResult::kDone);
  ExpectBlocksOf(data, peer);
  ASSERT_EQ(peer.blocks.size(), 257u);
  EXPECT_EQ(peer.blocks[256][1], 0x00);
  EXPECT_EQ(peer.blocks[256][2], 0xFF);
  EXPECT_EQ(observer_.rec.List()[2], "Download Size... 263168 bytes");
}

TEST_F(DownloadOverPty, RefusedFirstBlockGoesAgainUnchanged) {
  const auto data = test::RandomBytes(3000, 4);
  PeerResult peer;
  EXPECT_EQ(Download(data, peer, [](size_t i) { return i == 0; }), SerialDownloadResult::kDone);
  ASSERT_EQ(peer.blocks.size(), 4u);
  EXPECT_EQ(peer.blocks[0], peer.blocks[1]);
  EXPECT_EQ(peer.blocks[1], test::ExpectedBlock(0, data.data(), 1024));
  EXPECT_EQ(peer.blocks[2], test::ExpectedBlock(1, data.data() + 1024, 1024));
  EXPECT_EQ(peer.blocks[3], test::ExpectedBlock(2, data.data() + 2048, 952));
}

TEST_F(DownloadOverPty, SilentLoaderEndsWithErrorWithinTheTimeOut) {
  const auto data = test::RandomBytes(4096, 2);
  PeerResult peer;
  SerialDownloadOptions quick;
  quick.answerTimeoutMs = 300;
  const uint32_t start = clock_.TickMs();
  EXPECT_EQ(Download(data, peer, [](size_t) { return false; }, 1, quick),
            SerialDownloadResult::kNoAnswer);
  EXPECT_GE(clock_.TickMs() - start, 300u);
  EXPECT_EQ(peer.blocks.size(), 2u);
  EXPECT_EQ(observer_.rec.List().back(), "Error...");
  const auto events = observer_.rec.Events();
  EXPECT_EQ(events.back(), "enable");
}

// Loaders that take their time, talk before they answer or refuse blocks for a while must
// still receive every block whole: only an ACK or a NAK answers a block, the "C" may come
// late, and a NAK repeats the block until the device takes it.
TEST_F(DownloadOverPty, PatientWithLoadersThatTalkWaitOrRefuse) {
  struct Case {
    const char* what;
    int startDelayMs;
    std::string beforeAnswer;
    uint32_t refuseForMs;  // every block received in this time (on the download's clock) is refused
  } cases[] = {
      {"a dot before each ACK", 0, ".", 0},
      {"a text line before each ACK", 0, "\r\nblock ok\r\n", 0},
      {"the C only after 2.5 s", 2500, "", 0},
      {"every block refused for 5 s, then taken", 0, "", 5000},
  };
  const auto data = test::RandomBytes(5000, 13);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::PtyPair pty;
    TextCollector console;
    CComm comm;
    ASSERT_NO_FATAL_FAILURE(Connect(pty, comm, console));
    test::LoaderScript script;
    script.startDelayMs = c.startDelayMs;
    script.beforeAnswer = c.beforeAnswer;
    if (c.refuseForMs > 0) {
      // Time on the download's clock, which the refusal window is measured on; the peer
      // thread is the only one that touches `since`.
      script.refuse = [this, c, since = std::optional<uint32_t>()](size_t) mutable {
        if (!since) since = clock_.TickMs();
        return clock_.TickMs() - *since < c.refuseForMs;
      };
    }
    test::WriteFile(dir_ / "file.bin", data);
    PeerResult peer;
    std::thread device([&] { peer = PlayLoader(pty, script); });
    ReaderResumer observer(comm);
    comm.SuspendReader();
    SerialDownload dl(comm, observer, clock_);
    dl.Start(true, dir_ / "file.bin");
    EXPECT_EQ(dl.Wait(), SerialDownloadResult::kDone);
    device.join();
    EXPECT_EQ(peer.problem, "");
    ASSERT_EQ(peer.accepted.size(), 5u);
    for (size_t i = 0; i < 5; ++i) {
      const size_t n = std::min<size_t>(1024, data.size() - i * 1024);
      EXPECT_EQ(peer.accepted[i], test::ExpectedBlock(static_cast<unsigned>(i), &data[i * 1024], n))
          << "block " << i;
    }
    EXPECT_EQ(peer.tail, kTail);
    EXPECT_EQ(observer.rec.List().back(), "Code Download End...");
    const auto events = observer.rec.Events();
    const auto notices = std::count(events.begin(), events.end(),
                                    std::string("refusing:") + kDeviceRefusingText);
    EXPECT_EQ(notices, c.refuseForMs > 0 ? 1 : 0) << "once for the one refused stretch";
    if (c.refuseForMs > 0) {
      EXPECT_GT(peer.blocks.size(), 5u);
    }
  }
}

// Cancel ends the long waits (for the "C", for an answer) at once: the download reports
// kCancelled, not the time-out it would have reached otherwise.
TEST_F(DownloadOverPty, CancelEndsTheLongWaits) {
  for (const size_t answered : {size_t{0}, size_t{1}}) {
    SCOPED_TRACE(answered == 0 ? "waiting for the C" : "waiting for an answer");
    test::PtyPair pty;
    TextCollector console;
    CComm comm;
    ASSERT_NO_FATAL_FAILURE(Connect(pty, comm, console));
    test::WriteFile(dir_ / "file.bin", test::RandomBytes(4096, 3));
    ReaderResumer observer(comm);
    comm.SuspendReader();
    SerialDownload dl(comm, observer, clock_);
    std::thread device;
    dl.Start(true, dir_ / "file.bin");
    if (answered == 0) {
      ASSERT_EQ(pty.Receive(8).size(), 8u);  // the command; no "C" follows
    } else {
      // Block 0 is answered, block 1 never: the loader falls silent, then gives up itself.
      device = std::thread([&] { PlayLoader(pty, [](size_t) { return false; }, 1); });
      const auto blockOneSent = [&] {
        const auto list = observer.rec.List();
        return list.size() >= 3 && list[2] == "Download Size... 2048 bytes";
      };
      for (int i = 0; i < 2000 && !blockOneSent(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      EXPECT_TRUE(blockOneSent());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    dl.Cancel();
    EXPECT_EQ(dl.Wait(), SerialDownloadResult::kCancelled);
    if (device.joinable()) device.join();
  }
}

}  // namespace
}  // namespace edog
