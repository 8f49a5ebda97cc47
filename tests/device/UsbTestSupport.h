#pragma once
// Shared pieces of the USB tests: a clock the tests drive, an observer that records every
// report in order, and headered images built in memory.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "common/Clock.h"
#include "device/UsbTransfer.h"
#include "update/HeaderedImage.h"

namespace edog::test {

// Time moves only when slept on or advanced by hand. `realUsPerMs` > 0 also lets real time
// pass on each sleep (for tests against the simulator's own thread), scaled down.
class FakeClock final : public Clock {
 public:
  explicit FakeClock(uint32_t realUsPerMs = 0) : realUsPerMs_(realUsPerMs) {}
  uint32_t TickMs() override { return now_.load(); }
  void SleepMs(uint32_t ms) override;
  void Advance(uint32_t ms) { now_ += ms; }
  uint32_t Now() const { return now_.load(); }
  std::vector<uint32_t> Sleeps() const;

 private:
  std::atomic<uint32_t> now_{100000};
  uint32_t realUsPerMs_;
  mutable std::mutex mutex_;
  std::vector<uint32_t> sleeps_;
};

// Every report as "kind:value" in arrival order, and every write attempt.
class UsbRecordingObserver : public UsbTransferObserver {
 public:
  struct Write {
    UsbWriteKind kind;
    uint32_t offset, size, attempt;
    bool accepted;
  };
  void OnCountText(const std::string& t) override { Add("count:" + t); }
  void OnSpeedText(const std::string& t) override { Add("speed:" + t); }
  void OnPercent(uint32_t p) override { Add("percent:" + std::to_string(p)); }
  void OnInfoText(const std::string& t) override { Add("info:" + t); }
  void OnLabel(const std::string& t) override { Add("label:" + t); }
  void OnDeviceRefusing(const std::string& t) override { Add("refusing:" + t); }
  void OnPresenceProbeMissed(const std::string& t) override { Add("probe:" + t); }
  void OnWrite(UsbWriteKind kind, uint32_t offset, uint32_t size, uint32_t attempt, bool ok) override;
  void OnFinished(const UsbTransferResult& r) override;
  void OnFullPercent() override { Add("close"); }

  std::vector<std::string> Events() const;
  std::vector<Write> Writes() const;
  std::vector<std::string> EventsOf(const std::string& kind) const;  // values only
  bool Finished() const { return finished_.load(); }
  UsbTransferResult Result() const;

 protected:
  void Add(const std::string& e);
  mutable std::mutex mutex_;
  std::vector<std::string> events_;
  std::vector<Write> writes_;
  std::atomic<bool> finished_{false};
  UsbTransferResult result_;
};

// A headered image: header fields for the payload, then the payload itself.
Bytes MakeImage(uint8_t flash, uint32_t startField, const Bytes& payload);

}  // namespace edog::test
