// The serial code download against a device that answers with any bytes: the input is
// everything the line delivers, in order. The download ends (no hang: time runs on the
// injected clock), enables the update button last, and reports success only when the
// last block it sent was answered with an ACK: the first ACK or NAK after it.
#include <vector>

#include "common/Clock.h"
#include "device/SerialDownload.h"
#include "fuzz/FuzzSupport.h"

namespace {

class StepClock final : public edog::Clock {
 public:
  uint32_t TickMs() override { return now; }
  void SleepMs(uint32_t ms) override { now += ms; }
  uint32_t now = 0;
};

// Hands out the input a byte at a time; when it is used up the line stays quiet.
class ScriptedLine final : public edog::SerialLink {
 public:
  ScriptedLine(const uint8_t* d, size_t n, StepClock& clock) : data_(d), size_(n), clock_(clock) {}
  int Write(const void*, size_t length) override {
    if (length == edog::kSerialBlockSize) {
      ++blocks;
      awaiting = true;
      answered = false;
    }
    return 1;
  }
  int Read(void* buffer, int maxCount) override {
    if (maxCount < 1 || pos_ >= size_) return 0;
    const uint8_t b = data_[pos_++];
    *static_cast<uint8_t*>(buffer) = b;
    clock_.now += 1;
    // The first ACK or NAK after a block answers it; other bytes are dropped.
    if (awaiting && (b == edog::kAck || b == edog::kNak)) {
      awaiting = false;
      answered = b == edog::kAck;
      if (answered) ++acks;
    }
    return 1;
  }
  bool WaitReadable(uint32_t ms) override {
    if (pos_ < size_) return true;
    clock_.now += ms;
    return false;
  }
  unsigned blocks = 0, acks = 0;
  bool awaiting = false;  // a block went out and no ACK or NAK has been read since
  bool answered = true;   // the answer to the last block was an ACK

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  StepClock& clock_;
};

class Recorder final : public edog::SerialDownloadObserver {
 public:
  void AppendLine(const std::string& line) override { FUZZ_CHECK(!enabled); lines.push_back(line); }
  void DeleteLastLine() override { FUZZ_CHECK(!lines.empty()); lines.pop_back(); }
  void SetProgress(unsigned) override { FUZZ_CHECK(!enabled); }
  void OnFileUnreadable() override { boxes.push_back(edog::kFileOpenErrorText); }
  void OnTransferCompleted() override { boxes.push_back(edog::kTransferDoneText); }
  void ResumeReader() override {}
  void OnEnded() override { FUZZ_CHECK(!enabled); enabled = true; }
  std::vector<std::string> lines, boxes;
  bool enabled = false;
};

const std::string& PayloadFile() {
  static const std::string path = [] {
    std::vector<uint8_t> bytes(3 * 1024 + 100);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
    return edog::fuzz::WriteScratch("payload.hdr", bytes.data(), bytes.size());
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace edog;
  StepClock clock;
  ScriptedLine line(data, size, clock);
  Recorder recorder;
  SerialDownload download(line, recorder, clock);
  const SerialDownloadResult result = download.Run(true, PayloadFile());
  FUZZ_CHECK(recorder.enabled);
  if (result == SerialDownloadResult::kDone) {
    FUZZ_CHECK(line.blocks >= 4 && line.answered);
    FUZZ_CHECK(recorder.boxes.size() == 1 && recorder.boxes[0] == kTransferDoneText);
  } else {
    FUZZ_CHECK(recorder.boxes.empty() || recorder.boxes[0] != kTransferDoneText);
  }
  return 0;
}
