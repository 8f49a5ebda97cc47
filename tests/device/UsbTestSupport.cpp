#include "UsbTestSupport.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace edog::test {

void FakeClock::SleepMs(uint32_t ms) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    sleeps_.push_back(ms);
  }
  now_ += ms;
  if (realUsPerMs_) std::this_thread::sleep_for(std::chrono::microseconds(ms * realUsPerMs_));
}

std::vector<uint32_t> FakeClock::Sleeps() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sleeps_;
}

void UsbRecordingObserver::Add(const std::string& e) {
  std::lock_guard<std::mutex> lock(mutex_);
  events_.push_back(e);
}

void UsbRecordingObserver::OnWrite(UsbWriteKind kind, uint32_t offset, uint32_t size, uint32_t attempt,
                                bool ok) {
  std::lock_guard<std::mutex> lock(mutex_);
  writes_.push_back({kind, offset, size, attempt, ok});
}

void UsbRecordingObserver::OnFinished(const UsbTransferResult& r) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back("finished");
    result_ = r;
  }
  finished_ = true;
}

std::vector<std::string> UsbRecordingObserver::Events() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}

std::vector<UsbRecordingObserver::Write> UsbRecordingObserver::Writes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return writes_;
}

std::vector<std::string> UsbRecordingObserver::EventsOf(const std::string& kind) const {
  std::vector<std::string> out;
  for (const auto& e : Events()) {
    if (e.compare(0, kind.size() + 1, kind + ":") == 0) out.push_back(e.substr(kind.size() + 1));
  }
  return out;
}

UsbTransferResult UsbRecordingObserver::Result() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return result_;
}

Bytes MakeImage(uint8_t flash, uint32_t startField, const Bytes& payload) {
  const uint32_t size = static_cast<uint32_t>(payload.size());
  const HeaderBlock h = BuildHeaderBlock(Port::Usb, flash, startField, size, (size + 63) / 64);
  Bytes image(kHeaderBlockSize + payload.size());
  std::copy(h.begin(), h.end(), image.begin());
  std::copy(payload.begin(), payload.end(), image.begin() + kHeaderBlockSize);
  return image;
}

}  // namespace edog::test
