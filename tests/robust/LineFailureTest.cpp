// Results that must never read as success: a serial line that stops taking bytes, and a
// USB transfer the device did not take whole.
#include <gtest/gtest.h>

#include <deque>

#include "device/SerialDownload.h"
#include "device/UsbTransfer.h"
#include "support/TestSupport.h"

namespace edog {
namespace {

class StepClock final : public Clock {
 public:
  uint32_t TickMs() override { return now; }
  void SleepMs(uint32_t ms) override { now += ms; }
  uint32_t now = 0;
};

// A loader that answers "C" and ACKs every block; its line takes `writesBeforeFailure`
// writes (the command included) and refuses every one after.
class FailingLine final : public SerialLink {
 public:
  FailingLine(StepClock& clock, int writesBeforeFailure)
      : clock_(clock), left_(writesBeforeFailure) {}
  int Write(const void* data, size_t length) override {
    if (left_-- <= 0) return 0;
    const auto* p = static_cast<const uint8_t*>(data);
    if (length == 8 && p[0] == 'u') incoming_.push_back(kStartChar);
    if (length == kSerialBlockSize) incoming_.push_back(kAck);
    return 1;
  }
  int Read(void* buffer, int maxCount) override {
    if (maxCount < 1 || incoming_.empty()) return 0;
    *static_cast<uint8_t*>(buffer) = incoming_.front();
    incoming_.pop_front();
    return 1;
  }
  bool WaitReadable(uint32_t ms) override {
    if (incoming_.empty()) clock_.now += ms;
    return !incoming_.empty();
  }

 private:
  StepClock& clock_;
  int left_;
  std::deque<uint8_t> incoming_;
};

class Reports final : public SerialDownloadObserver {
 public:
  void AppendLine(const std::string& l) override { events.push_back("list " + l); }
  void DeleteLastLine() override {}
  void SetProgress(unsigned) override {}
  void OnFileUnreadable() override { events.push_back(std::string("box ") + kFileOpenErrorText); }
  void OnTransferCompleted() override { events.push_back(std::string("box ") + kTransferDoneText); }
  void ResumeReader() override { events.push_back("resume"); }
  void OnEnded() override { events.push_back("enable"); }
  std::vector<std::string> events;
};

class SerialLineFailure : public ::testing::TestWithParam<int> {
 protected:
  SerialDownloadResult Run(int writesBeforeFailure) {
    FailingLine line(clock_, writesBeforeFailure);
    SerialDownload download(line, reports_, clock_);
    const std::string path = dir_ / "image.bin";
    test::WriteFile(path, test::RandomBytes(3 * 1024, 5));  // three blocks
    return download.Run(true, path);
  }
  test::TempDir dir_;
  StepClock clock_;
  Reports reports_;
};

// Writes: 1 the command, 2..4 the blocks, 5 the EOT. A failure at any block or at the
// EOT ends with "Error..." at once, never with the completion box.
TEST_P(SerialLineFailure, EndsWithAnErrorAtOnce) {
  const int writesBeforeFailure = GetParam();
  EXPECT_EQ(Run(writesBeforeFailure), SerialDownloadResult::kLineFailed);
  const auto& e = reports_.events;
  ASSERT_GE(e.size(), 3u);
  EXPECT_EQ(e[e.size() - 3], std::string("list ") + kDownloadErrorLine);
  EXPECT_EQ(e[e.size() - 2], "resume");
  EXPECT_EQ(e.back(), "enable");
  for (const auto& ev : e) EXPECT_NE(ev, std::string("box ") + kTransferDoneText);
  // No wait for an answer that cannot come: well inside one answer time-out.
  EXPECT_LT(clock_.now, SerialDownloadOptions{}.answerTimeoutMs);
}
INSTANTIATE_TEST_SUITE_P(AtEachBlockAndTheEot, SerialLineFailure, ::testing::Values(1, 2, 3, 4));

TEST(DeviceTookWholeFile, OnlyACompletedTransferWithItsCommandBlockAndEveryByte) {
  UsbTransferResult whole;
  whole.outcome = UsbTransferResult::kCompleted;
  whole.commandBlockAccepted = true;
  whole.payloadSize = whole.sent = 4096;
  whole.stored = true;
  EXPECT_TRUE(DeviceTookWholeFile(whole));

  UsbTransferResult unconfirmed = whole;
  unconfirmed.stored = false;  // every byte went, but the device never said it stored them
  EXPECT_FALSE(DeviceTookWholeFile(unconfirmed));

  UsbTransferResult noCommand = whole;
  noCommand.commandBlockAccepted = false;  // the payload went, but without its header
  EXPECT_FALSE(DeviceTookWholeFile(noCommand));

  UsbTransferResult aborted = whole;
  aborted.outcome = UsbTransferResult::kAborted;
  aborted.sent = 2048;
  EXPECT_FALSE(DeviceTookWholeFile(aborted));

  UsbTransferResult cancelled = whole;
  cancelled.outcome = UsbTransferResult::kCancelled;
  cancelled.sent = 2048;
  EXPECT_FALSE(DeviceTookWholeFile(cancelled));

  UsbTransferResult empty = whole;
  empty.payloadSize = empty.sent = 0;
  EXPECT_TRUE(DeviceTookWholeFile(empty));
}

}  // namespace
}  // namespace edog
