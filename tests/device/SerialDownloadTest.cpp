// The serial code download against a scripted device on an injected clock: exact reports,
// pauses and time-outs without waiting for them.
#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>

#include "device/SerialDownload.h"
#include "device/SerialTestSupport.h"
#include "device/UsbTransfer.h"
#include "support/TestSupport.h"

namespace edog {
namespace {

// Time in microseconds that moves only when the download sleeps or the test says so.
class FakeClock final : public Clock {
 public:
  uint32_t TickMs() override { return static_cast<uint32_t>(nowUs_ / 1000); }
  void SleepMs(uint32_t ms) override {
    AdvanceMs(ms);
    sleeps_.push_back(ms);
  }
  uint64_t NowUs() override { return nowUs_; }
  void SleepUntilUs(uint64_t deadlineUs) override {
    if (deadlineUs <= nowUs_) return;
    sleeps_.push_back(static_cast<uint32_t>((deadlineUs - nowUs_ + 999) / 1000));
    nowUs_ = deadlineUs;
  }
  void AdvanceMs(uint32_t ms) { nowUs_ += uint64_t{ms} * 1000; }
  void AdvanceUs(uint64_t us) { nowUs_ += us; }
  std::atomic<uint64_t> nowUs_{0};
  std::vector<uint32_t> sleeps_;  // in milliseconds, rounded up
};

// Plays the device's loader on the injected clock: "C" after the command, then one
// answer per block from the script (ACK once the script is used up); silent on request.
class ScriptedDevice final : public SerialLink {
 public:
  explicit ScriptedDevice(FakeClock& clock) : clock_(clock) {}
  int Write(const void* data, size_t length) override {
    std::lock_guard<std::mutex> lock(m_);
    const auto* p = static_cast<const uint8_t*>(data);
    if (keepWrites) writes_.emplace_back(p, p + length);
    writeTimesUs_.push_back(clock_.NowUs());
    if (std::string(p, p + length) == "upgrade\r") {
      for (uint8_t b : beforeStart) incoming_.push_back(b);
      if (answerStart) incoming_.push_back('C');
    } else if (length == kSerialBlockSize) {
      clock_.AdvanceMs(answerDelayMs);
      const int answer = blocksSeen_ < answers.size() ? answers[blocksSeen_] : kAck;
      ++blocksSeen_;
      for (uint8_t b : noise) incoming_.push_back(b);
      if (answer >= 0) {
        incoming_.push_back(static_cast<uint8_t>(answer));
        for (uint8_t b : trailing) incoming_.push_back(b);
      }
    }
    return 1;
  }
  int Read(void* buffer, int maxCount) override {
    std::lock_guard<std::mutex> lock(m_);
    if (maxCount <= 0) return 0;
    if (incoming_.empty() && chatter) {
      clock_.AdvanceMs(1);  // a byte a millisecond, for ever
      *static_cast<uint8_t*>(buffer) = 'x';
      return 1;
    }
    if (incoming_.empty()) return 0;
    *static_cast<uint8_t*>(buffer) = incoming_.front();
    incoming_.pop_front();
    return 1;
  }
  bool WaitReadable(uint32_t ms) override {
    std::lock_guard<std::mutex> lock(m_);
    if (incoming_.empty()) clock_.AdvanceMs(ms);  // nothing will come: the time passes
    return !incoming_.empty();
  }
  std::vector<std::vector<uint8_t>> Writes() {
    std::lock_guard<std::mutex> lock(m_);
    return writes_;
  }
  std::vector<uint64_t> WriteTimesUs() {
    std::lock_guard<std::mutex> lock(m_);
    return writeTimesUs_;
  }

  bool keepWrites = true;
  bool chatter = false;              // endless console text when nothing else is queued
  bool answerStart = true;
  std::vector<uint8_t> beforeStart;  // console text ahead of the "C"
  std::vector<uint8_t> noise;        // bytes ahead of every answer
  std::vector<uint8_t> trailing;     // bytes after every answer given (before the next block)
  std::vector<int> answers;          // per block: kAck, kNak or -1 (silence)
  uint32_t answerDelayMs = 0;        // how long the device takes over each block

 private:
  FakeClock& clock_;
  std::mutex m_;
  std::deque<uint8_t> incoming_;
  std::vector<std::vector<uint8_t>> writes_;
  std::vector<uint64_t> writeTimesUs_;
  size_t blocksSeen_ = 0;
};

class DownloadOnScript : public ::testing::Test {
 protected:
  std::string File(size_t n, uint32_t seed = 1) {
    data_ = test::RandomBytes(n, seed);
    const std::string path = dir_ / "image.bin";
    test::WriteFile(path, data_);
    return path;
  }
  SerialDownloadResult Run(const std::string& path, bool connected = true) {
    SerialDownload dl(device_, observer_, clock_);
    return dl.Run(connected, path);
  }
  std::vector<uint8_t> Block(unsigned index, unsigned number) const {
    const size_t off = index * 1024;
    return test::ExpectedBlock(number, data_.data() + off, std::min<size_t>(1024, data_.size() - off));
  }
  test::TempDir dir_;
  std::vector<uint8_t> data_;
  FakeClock clock_;
  ScriptedDevice device_{clock_};
  test::DownloadRecordingObserver observer_;
};

const std::vector<uint8_t> kUpgrade = {'u', 'p', 'g', 'r', 'a', 'd', 'e', 0x0D};
const std::vector<uint8_t> kEnd = {0x04, 0x00};
const std::vector<uint8_t> kQuit = {'q'};

TEST_F(DownloadOnScript, File2500BytesReportsAndWireInOrder) {
  EXPECT_EQ(Run(File(2500)), SerialDownloadResult::kDone);
  EXPECT_EQ(observer_.Events(),
            (std::vector<std::string>{
                "progress:0", "append:File Size: 2500 bytes", "append:Code Download Start...",
                "progress:40", "append:Download Size... 1024 bytes",
                "progress:81", "delete", "append:Download Size... 2048 bytes",
                "progress:122", "delete", "append:Download Size... 3072 bytes",
                "append:Code Download End...", "progress:100",
                "box:File Transfer is completed!", "resume", "enable"}));
  EXPECT_EQ(device_.Writes(), (std::vector<std::vector<uint8_t>>{
                                  kUpgrade, Block(0, 0), Block(1, 1), Block(2, 2), kEnd, kQuit}));
  // The last block: 452 data bytes, 572 zero bytes.
  const auto last = device_.Writes()[3];
  EXPECT_TRUE(std::all_of(last.begin() + 3 + 452, last.begin() + 1027, [](uint8_t b) { return b == 0; }));
  // 100 ms after the start line, 700 ms before block 0, 1 ms before each block, 500 ms before "q".
  EXPECT_EQ(clock_.sleeps_, (std::vector<uint32_t>{100, 700, 1, 1, 1, 500}));
}

TEST_F(DownloadOnScript, EmptyAndOneBlockFiles) {
  EXPECT_EQ(Run(File(0)), SerialDownloadResult::kDone);
  EXPECT_EQ(observer_.List(), (std::vector<std::string>{"File Size: 0 bytes", "Code Download Start...",
                                                        "Code Download End..."}));
  EXPECT_EQ(device_.Writes(), (std::vector<std::vector<uint8_t>>{kUpgrade, kEnd, kQuit}));
  EXPECT_EQ(clock_.sleeps_, (std::vector<uint32_t>{100, 700, 500}));

  test::DownloadRecordingObserver second;
  ScriptedDevice device(clock_);
  SerialDownload dl(device, second, clock_);
  EXPECT_EQ(dl.Run(true, File(1024)), SerialDownloadResult::kDone);
  EXPECT_EQ(device.Writes(), (std::vector<std::vector<uint8_t>>{kUpgrade, Block(0, 0), kEnd, kQuit}));
  EXPECT_EQ(second.Percents(), (std::vector<unsigned>{0, 100, 100}));
}

TEST_F(DownloadOnScript, EarlyEndsTouchOnlyWhatTheyMust) {
  EXPECT_EQ(Run(File(10), false), SerialDownloadResult::kNotConnected);
  EXPECT_EQ(observer_.Events(), (std::vector<std::string>{"enable"}));
  EXPECT_TRUE(device_.Writes().empty());

  test::DownloadRecordingObserver empty;
  SerialDownload a(device_, empty, clock_);
  EXPECT_EQ(a.Run(true, ""), SerialDownloadResult::kNoFile);
  EXPECT_EQ(empty.Events(), (std::vector<std::string>{"progress:0", "resume", "enable"}));

  test::DownloadRecordingObserver missing;
  SerialDownload b(device_, missing, clock_);
  EXPECT_EQ(b.Run(true, dir_ / "nothing-here.bin"), SerialDownloadResult::kFileOpenError);
  EXPECT_EQ(missing.Events(), (std::vector<std::string>{"progress:0", "box:File Open Error!", "resume", "enable"}));
  test::DownloadRecordingObserver folder;
  SerialDownload c(device_, folder, clock_);
  EXPECT_EQ(c.Run(true, dir_.Path()), SerialDownloadResult::kFileOpenError);
  EXPECT_TRUE(device_.Writes().empty());
}

TEST_F(DownloadOnScript, NoStartCharacterEndsWithErrorAfterTheBoundedWait) {
  device_.answerStart = false;
  device_.beforeStart = {'c', 'o', 'n', 's', 'o', 'l', 'e', '\n'};  // dropped, not a "C"
  EXPECT_EQ(Run(File(3000)), SerialDownloadResult::kNoStart);
  EXPECT_EQ(observer_.Events(), (std::vector<std::string>{"progress:0", "append:File Size: 3000 bytes",
                                                          "append:Error...", "resume", "enable"}));
  EXPECT_EQ(device_.Writes(), (std::vector<std::vector<uint8_t>>{kUpgrade}));
  // At least the 1002 polls of a 15.625 ms tick the device was once given.
  EXPECT_GE(clock_.TickMs(), 1002u * 15625u / 1000u);
  EXPECT_LT(clock_.TickMs(), 1002u * 15625u / 1000u + 60u);
}

TEST_F(DownloadOnScript, StartCharacterAfterConsoleTextIsFound) {
  device_.beforeStart = {'>', ' ', 'u', 'p', 'g', 'r', 'a', 'd', 'e', '\r', '\n'};
  EXPECT_EQ(Run(File(100)), SerialDownloadResult::kDone);
}

TEST_F(DownloadOnScript, SilentDeviceEndsWithErrorAfterTheRefusalWindow) {
  device_.answers = {kAck, -1};  // answers block 0, then nothing
  EXPECT_EQ(Run(File(5000)), SerialDownloadResult::kNoAnswer);
  const auto events = observer_.Events();
  EXPECT_EQ(std::vector<std::string>(events.end() - 3, events.end()),
            (std::vector<std::string>{"append:Error...", "resume", "enable"}));
  EXPECT_EQ(observer_.List().back(), "Error...");
  EXPECT_EQ(device_.Writes().size(), 3u) << "command, block 0, block 1; no end of file";
  // A busy device gets as long as a refusing one: 3002 polls of a 15.625 ms tick after
  // block 1 went out (before it: 100 + 700 + 1 + 1 of pauses).
  EXPECT_GE(clock_.TickMs(), 802u + 3002u * 15625u / 1000u);
  EXPECT_LT(clock_.TickMs(), 802u + 3002u * 15625u / 1000u + 60u);
}

TEST_F(DownloadOnScript, ChatteringLineEndsTheWaitsOnTime) {
  device_.chatter = true;
  device_.answers = std::vector<int>(20, -1);
  device_.answers[0] = kAck;  // answers block 0, then only chatters
  // Chatter where block 1's answer belongs is dropped: the answer wait runs out.
  EXPECT_EQ(Run(File(5000)), SerialDownloadResult::kNoAnswer);
  EXPECT_EQ(observer_.List().back(), "Error...");

  ScriptedDevice noStart(clock_);
  noStart.chatter = true;
  noStart.answerStart = false;
  test::DownloadRecordingObserver second;
  SerialDownload dl(noStart, second, clock_);
  EXPECT_EQ(dl.Run(true, File(10)), SerialDownloadResult::kNoStart);
}

TEST_F(DownloadOnScript, NakRepeatsTheBlockUnderItsNumberWithoutCountingItTwice) {
  device_.answers = {kNak, kAck, kNak, kAck};  // block 0 refused once, block 1 once
  device_.trailing = {'x', 0x00, 0x43};        // after every answer: dropped before the next block
  EXPECT_EQ(Run(File(2048)), SerialDownloadResult::kDone);
  EXPECT_EQ(device_.Writes(), (std::vector<std::vector<uint8_t>>{kUpgrade, Block(0, 0), Block(0, 0),
                                                                 Block(1, 1), Block(1, 1), kEnd, kQuit}));
  EXPECT_EQ(observer_.List(), (std::vector<std::string>{"File Size: 2048 bytes", "Code Download Start...",
                                                        "Download Size... 2048 bytes",
                                                        "Code Download End..."}));
  EXPECT_EQ(observer_.Percents(), (std::vector<unsigned>{0, 50, 100, 100}));
}

// The first ACK or NAK after a block answers it; every other byte is dropped, and what
// came before the block was written never answers it.
TEST_F(DownloadOnScript, OnlyAnAckOrANakAfterABlockAnswersIt) {
  std::vector<uint8_t> random = test::RandomBytes(64, 7);
  random.erase(std::remove_if(random.begin(), random.end(), [](uint8_t b) { return b == kAck || b == kNak; }),
               random.end());
  struct Case {
    const char* what;
    std::vector<uint8_t> noise, trailing;
    std::vector<int> answers;  // per block; ACK once used up, -1 silence
    SerialDownloadResult result;
    size_t blocksWritten;
  } cases[] = {
      {"a dot and a text line before each ACK", {'.', '\r', '\n', 'o', 'k', '\r', '\n'}, {}, {},
       SerialDownloadResult::kDone, 3},
      {"an ACK behind bytes holding C and NUL", {'x', 0x00, 0x43, 0x7F}, {}, {}, SerialDownloadResult::kDone, 3},
      {"a NAK behind noise", {0x18}, {}, {kNak}, SerialDownloadResult::kDone, 4},
      {"random bytes and no answer", random, {}, {-1}, SerialDownloadResult::kNoAnswer, 1},
      {"a late second ACK before a silent block", {}, {kAck}, {kAck, -1}, SerialDownloadResult::kNoAnswer, 2},
      {"console text, repeated C and a NAK between blocks", {}, {'C', 'C', '\r', '\n', kNak}, {},
       SerialDownloadResult::kDone, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedDevice device(clock_);
    device.noise = c.noise;
    device.trailing = c.trailing;
    device.answers = c.answers;
    test::DownloadRecordingObserver observer;
    SerialDownload dl(device, observer, clock_);
    EXPECT_EQ(dl.Run(true, File(2500)), c.result);
    const auto writes = device.Writes();
    EXPECT_EQ(static_cast<size_t>(std::count_if(writes.begin(), writes.end(),
                                                [](const auto& w) { return w.size() == kSerialBlockSize; })),
              c.blocksWritten);
    const bool ended = std::find(writes.begin(), writes.end(), kEnd) != writes.end();
    EXPECT_EQ(ended, c.result == SerialDownloadResult::kDone) << "the end of file goes only after every block's ACK";
  }
}

// The 1 ms pause after each answer is a deadline: building the next block and reporting its
// progress (a window may take a while) happen inside it, so a block follows its
// predecessor's answer after max(1 ms, that work), never 1 ms plus it.
TEST_F(DownloadOnScript, PauseBetweenBlocksRunsFromTheAnswer) {
  class SlowBar final : public SerialDownloadObserver {
   public:
    SlowBar(FakeClock& clock, uint64_t us) : clock_(clock), us_(us) {}
    void AppendLine(const std::string&) override {}
    void DeleteLastLine() override {}
    void SetProgress(unsigned) override { clock_.AdvanceUs(us_); }
    void OnFileUnreadable() override {}
    void OnTransferCompleted() override {}
    void ResumeReader() override {}
    void OnEnded() override {}

   private:
    FakeClock& clock_;
    uint64_t us_;
  };
  for (const uint64_t reportUs : {0u, 300u, 999u, 1000u, 2500u}) {
    SCOPED_TRACE(reportUs);
    ScriptedDevice device(clock_);  // answers each block at once
    SlowBar bar(clock_, reportUs);
    SerialDownload dl(device, bar, clock_);
    ASSERT_EQ(dl.Run(true, File(10 * 1024)), SerialDownloadResult::kDone);  // 10 % a block
    const auto times = device.WriteTimesUs();
    ASSERT_EQ(times.size(), 1u + 10u + 2u);
    for (size_t i = 2; i <= 10; ++i) EXPECT_EQ(times[i] - times[i - 1], std::max<uint64_t>(1000, reportUs)) << i;
  }
}

// A NAK repeats the block for as long as the device refuses it, up to 3002 polls of a
// 15.625 ms tick without a break; the notice comes once per refused stretch.
TEST_F(DownloadOnScript, RefusalsEndTheDownloadOnlyAfterTheWholeWindow) {
  const uint32_t windowMs = 3002u * 15625u / 1000u;
  const std::string notice = std::string("refusing:") + kDeviceRefusingText;
  device_.answerDelayMs = 1000;  // a device busy for a second over each block
  device_.answers = std::vector<int>(100, kNak);
  EXPECT_EQ(Run(File(1500)), SerialDownloadResult::kRefused);
  const auto writes = device_.Writes();
  ASSERT_GT(writes.size(), 1u + windowMs / 1001u) << "block 0 and a repeat a second";
  for (size_t i = 1; i < writes.size(); ++i) EXPECT_EQ(writes[i], Block(0, 0));
  // Refused from its first NAK, a second after block 0 went out, until the end.
  EXPECT_GE(clock_.NowUs() - device_.WriteTimesUs()[1] - 1000000u, uint64_t{windowMs} * 1000u);
  EXPECT_EQ(observer_.List().back(), "Error...");
  auto events = observer_.Events();
  EXPECT_EQ(std::count(events.begin(), events.end(), notice), 1);
  EXPECT_EQ(events.back(), "enable");
  EXPECT_EQ(events[events.size() - 2], "resume");

  // Refused stretches of different blocks do not add up, each just short of the window.
  test::DownloadRecordingObserver spread;
  ScriptedDevice device(clock_);
  device.answerDelayMs = 1000;
  for (int b = 0; b < 3; ++b) {
    for (uint32_t i = 0; i < windowMs / 1001u; ++i) device.answers.push_back(kNak);
    device.answers.push_back(kAck);
  }
  SerialDownload dl(device, spread, clock_);
  EXPECT_EQ(dl.Run(true, File(3072)), SerialDownloadResult::kDone);
  events = spread.Events();
  EXPECT_EQ(std::count(events.begin(), events.end(), notice), 3);
}

TEST_F(DownloadOnScript, Block257CarriesNumberZeroAgain) {
  EXPECT_EQ(Run(File(258 * 1024 + 10)), SerialDownloadResult::kDone);
  const auto writes = device_.Writes();
  ASSERT_EQ(writes.size(), 1u + 259u + 2u);
  EXPECT_EQ(writes[1 + 255][1], 0xFF);
  EXPECT_EQ(writes[1 + 256][1], 0x00);
  EXPECT_EQ(writes[1 + 256][2], 0xFF);
  EXPECT_EQ(writes[1 + 256], Block(256, 0));
  EXPECT_EQ(writes[1 + 258], Block(258, 2));
  EXPECT_EQ(observer_.List()[2], "Download Size... 265216 bytes");
}

// No device size bounds the file: one past 128 MiB and a header block goes whole. Its
// percent (100 x 1024 per block exceeds 32 bits past 42 MB) still rises to 100 with the
// last block, not falling back to stay at 99.
TEST_F(DownloadOnScript, FileBeyondAnyFlashGoesWholeAndItsPercentDoesNotWrap) {
  const uint64_t size = (uint64_t{128} << 20) + 1024 + 1;
  {
    std::ofstream(dir_ / "big.bin", std::ios::binary).put('\x5A');
  }
  std::filesystem::resize_file(dir_ / "big.bin", size);  // sparse: zeros after the first byte
  device_.keepWrites = false;
  EXPECT_EQ(Run(dir_ / "big.bin"), SerialDownloadResult::kDone);
  const auto percents = observer_.Percents();
  ASSERT_EQ(percents.size(), 102u) << "0, 1 .. 100 as the blocks go, and the final 100";
  for (unsigned p = 0; p <= 100; ++p) ASSERT_EQ(percents[p], p);
  const uint64_t blocks = (size + 1023) / 1024;
  EXPECT_EQ(device_.WriteTimesUs().size(), 1u + blocks + 2u);
  EXPECT_EQ(observer_.List()[0], "File Size: " + std::to_string(size) + " bytes");
  EXPECT_EQ(observer_.List()[2], "Download Size... " + std::to_string(blocks * 1024) + " bytes");
}

TEST_F(DownloadOnScript, CancelStopsWithoutErrorLineOrEndOfFile) {
  device_.answers = {kAck, -1};
  SerialDownload dl(device_, observer_, clock_);
  dl.Cancel();
  EXPECT_EQ(dl.Run(true, File(5000)), SerialDownloadResult::kCancelled);
  for (const auto& w : device_.Writes()) EXPECT_NE(w, kEnd);
  const auto list = observer_.List();
  EXPECT_EQ(std::count(list.begin(), list.end(), "Error..."), 0);
  const auto events = observer_.Events();
  EXPECT_EQ(std::vector<std::string>(events.end() - 2, events.end()),
            (std::vector<std::string>{"resume", "enable"}));
}

// A message box that stays up until the test closes it, as the real one does.
class BlockingBoxObserver final : public SerialDownloadObserver {
 public:
  void AppendLine(const std::string& l) override { inner.AppendLine(l); }
  void DeleteLastLine() override { inner.DeleteLastLine(); }
  void SetProgress(unsigned p) override { inner.SetProgress(p); }
  void OnFileUnreadable() override {
    inner.OnFileUnreadable();
    StayUp();
  }
  void OnTransferCompleted() override {
    inner.OnTransferCompleted();
    StayUp();
  }
  void ResumeReader() override { inner.ResumeReader(); }
  void OnEnded() override { inner.OnEnded(); }
  void StayUp() {
    std::unique_lock<std::mutex> lock(m);
    shown = true;
    cv.notify_all();
    cv.wait(lock, [&] { return closed; });
  }
  test::DownloadRecordingObserver inner;
  std::mutex m;
  std::condition_variable cv;
  bool shown = false, closed = false;
};

TEST_F(DownloadOnScript, SecondDownloadWaitsForTheFirst) {
  const std::string path = File(3000);
  BlockingBoxObserver first;
  test::DownloadRecordingObserver second;
  SerialDownload a(device_, first, clock_), b(device_, second, clock_);
  a.Start(true, path);
  {
    std::unique_lock<std::mutex> lock(first.m);
    ASSERT_TRUE(first.cv.wait_for(lock, std::chrono::seconds(10), [&] { return first.shown; }));
  }
  b.Start(true, path);
  // While the first one's box is up, the second has not started: it reports nothing.
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(second.Events().empty());
    std::this_thread::yield();
  }
  {
    std::lock_guard<std::mutex> lock(first.m);
    first.closed = true;
  }
  first.cv.notify_all();
  EXPECT_EQ(a.Wait(), SerialDownloadResult::kDone);
  EXPECT_EQ(b.Wait(), SerialDownloadResult::kDone);
  const auto writes = device_.Writes();
  ASSERT_EQ(writes.size(), 2u * 6u);
  EXPECT_EQ(writes[6], kUpgrade) << "the second starts after the first's last byte";
  EXPECT_EQ(writes[5], kQuit);
}

}  // namespace
}  // namespace edog
