#include "device/DeviceTextReader.h"

#include <chrono>

#include "common/ThreadStart.h"

namespace edog {

bool RequestDeviceText(const UsbLibrary& library) {
  UsbPipe pipe = library.OpenPipe(USB_PIPE_OUT);
  if (!pipe.IsOpen()) return false;
  const uint8_t request = kDeviceTextRequest;
  pipe.Write(&request, 1);
  return true;  // the pipe closes here; it is not needed after the request
}

void RunDeviceTextReader(const UsbLibrary& library, const std::function<bool()>& connected,
                         const std::function<void(const std::string&)>& onText, Clock& clock,
                         BlockingReadBreaker* breaker) {
  constexpr uint32_t kReopenMs = 100;
  constexpr uint32_t kRetryMs = 1;
  // A device with nothing to say may answer at once with an empty block; asking again at
  // once would spin a core.
  constexpr uint32_t kEmptyBlockMs = 5;
  UsbPipe pipe = library.OpenPipe(USB_PIPE_IN);
  uint8_t block[kDeviceTextBlock];
  while (connected()) {
    if (!pipe.IsOpen()) {
      clock.SleepMs(kReopenMs);
      pipe = library.OpenPipe(USB_PIPE_IN);
      continue;
    }
    uint32_t got = 0;
    if (breaker) breaker->Watch(pipe.Get());
    const bool read = pipe.Read(block, sizeof(block), &got);
    if (breaker) breaker->Watch(USB_INVALID_HANDLE);
    if (read) {
      onText(std::string(reinterpret_cast<const char*>(block), got));
      if (got == 0) clock.SleepMs(kEmptyBlockMs);
    } else if (pipe.Gone()) {
      pipe.Close();  // opened again once the device is back
    } else {
      clock.SleepMs(kRetryMs);  // no busy loop while the device has nothing to say
    }
  }
}

DeviceTextReader::~DeviceTextReader() { Stop(); }

bool DeviceTextReader::Start(std::function<bool()> connected,
                             std::function<void(const std::string&)> onText) {
  if (!library_ || reading_.load()) return false;
  if (thread_.joinable()) thread_.join();
  if (!RequestDeviceText(*library_)) return false;
  stop_ = false;
  reading_ = true;
  startError_ = StartThread(thread_, "the device text reader",
                            [this, connected = std::move(connected), onText = std::move(onText)] {
    RunDeviceTextReader(*library_, [&] { return !stop_.load() && connected(); }, onText, clock_,
                        &breaker_);
    reading_ = false;
  });
  if (!startError_.empty()) reading_ = false;
  return startError_.empty();
}

void DeviceTextReader::Stop() {
  stop_ = true;
  // Until the loop has seen the flag: a break that came before its read began is lost.
  while (reading_.load()) {
    breaker_.Break();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (thread_.joinable()) thread_.join();
}

}  // namespace edog
