#pragma once
// The device text reader behind "Read USB": one byte 0x40 on "PIPE00" asks the device for
// text, which then arrives on "PIPE01" in blocks of at most 64 bytes while the device stays
// connected.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "common/Clock.h"
#include "device/HandleIo.h"
#include "device/UsbLibrary.h"

namespace edog {

constexpr uint8_t kDeviceTextRequest = 0x40;
constexpr uint32_t kDeviceTextBlock = 64;

// The button's part: opens "PIPE00", writes 0x40 (its result is not looked at) and closes
// the pipe again. False when the pipe cannot be opened ("Can't open USB device.\n").
bool RequestDeviceText(const UsbLibrary& library);

// The reader thread's loop, run on the calling thread: while `connected()` holds, reads up
// to 64 bytes from "PIPE01" and hands each block (possibly empty) to `onText`. A failed read
// is tried again after 1 ms, the read after an empty block after 5 ms; a "PIPE01" that
// cannot be opened is tried again every 100 ms.
// The pipe is closed when the loop ends. With `breaker`, another thread may end a read
// that waits (then `connected()` decides whether the loop goes on).
void RunDeviceTextReader(const UsbLibrary& library, const std::function<bool()>& connected,
                         const std::function<void(const std::string&)>& onText, Clock& clock,
                         BlockingReadBreaker* breaker = nullptr);

// The reader on its own thread, for the window. Reading() is the reading flag.
class DeviceTextReader {
 public:
  explicit DeviceTextReader(std::shared_ptr<const UsbLibrary> library, Clock& clock = SystemClock())
      : library_(std::move(library)), clock_(clock) {}
  ~DeviceTextReader();  // stops and waits
  DeviceTextReader(const DeviceTextReader&) = delete;
  DeviceTextReader& operator=(const DeviceTextReader&) = delete;

  // The button press: false (and nothing started) when "PIPE00" cannot be opened, a
  // reader is already running, or its thread cannot start (StartError() says why).
  bool Start(std::function<bool()> connected, std::function<void(const std::string&)> onText);
  const std::string& StartError() const { return startError_; }
  bool Reading() const { return reading_.load(); }
  // Ends the loop, breaking a read that waits for the device, and waits for it.
  void Stop();

 private:
  std::shared_ptr<const UsbLibrary> library_;
  Clock& clock_;
  std::atomic<bool> reading_{false};
  std::atomic<bool> stop_{false};
  BlockingReadBreaker breaker_;
  std::thread thread_;
  std::string startError_;
};

}  // namespace edog
