#include "device/DeviceTextReader.h"

#include "common/ThreadStart.h"

namespace edog {

bool RequestDeviceText(const UsbLibrary& library) {
  UsbPipe pipe(library.OpenFile(USB_PIPE_OUT));
  if (!pipe.IsOpen()) return false;
  const uint8_t request = kDeviceTextRequest;
  pipe.Write(&request, 1);
  return true;  // the pipe closes here; it is not needed after the request
}

void RunDeviceTextReader(const UsbLibrary& library, const std::function<bool()>& connected,
                         const std::function<void(const std::string&)>& onText, Clock& clock) {
  constexpr uint32_t kReopenMs = 100;
  constexpr uint32_t kRetryMs = 1;
  UsbPipe pipe(library.OpenFile(USB_PIPE_IN));
  uint8_t block[kDeviceTextBlock];
  while (connected()) {
    if (!pipe.IsOpen()) {
      clock.SleepMs(kReopenMs);
      pipe = UsbPipe(library.OpenFile(USB_PIPE_IN));
      continue;
    }
    uint32_t got = 0;
    if (pipe.Read(block, sizeof(block), &got)) {
      onText(std::string(reinterpret_cast<const char*>(block), got));
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
    RunDeviceTextReader(*library_, [&] { return !stop_.load() && connected(); }, onText, clock_);
    reading_ = false;
  });
  if (!startError_.empty()) reading_ = false;
  return startError_.empty();
}

void DeviceTextReader::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

}  // namespace edog
