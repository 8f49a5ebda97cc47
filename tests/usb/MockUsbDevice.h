#pragma once
// An emulated USB device for the libusb device library: umockdev builds its sysfs entry and
// device node, and an ioctl handler in this process plays usbfs for it (bulk OUT gathered
// in order, text on bulk IN after the 0x40 request). Programs started from the test see it
// when the test runs under umockdev-wrapper (the preload library must be in the process).
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace edog::test {

struct MockUsbFaults {
  int stallOutUrb = -1;           // this OUT URB (0-based) is stalled once, then taken
  int64_t unplugAfterBytes = -1;  // the device goes once this many OUT bytes arrived
  bool neverAnswer = false;       // OUT URBs are never completed (only cancelled)
};

// The device's one interface: its class and endpoint types (by default a vendor-specific
// interface with a bulk OUT 0x02 and a bulk IN 0x81) and the kernel driver bound to it.
struct MockUsbInterface {
  uint8_t interfaceClass = 0xff, subClass = 0, protocol = 0;
  uint8_t outType = 2, inType = 2;  // 1 isochronous, 2 bulk, 3 interrupt
  const char* driver = "";          // e.g. "usb-storage"; empty: none bound
};

class MockUsbDevice {
 public:
  static constexpr uint16_t kVendor = 0x1d6b, kProduct = 0x0f17;
  static constexpr uint8_t kOutEp = 0x02, kInEp = 0x81;

  // Empty when umockdev can run here, else why not (the tests skip with it).
  static std::string WhyUnavailable();

  explicit MockUsbDevice(MockUsbFaults faults = {}, MockUsbInterface interface = {});
  ~MockUsbDevice();
  MockUsbDevice(const MockUsbDevice&) = delete;
  MockUsbDevice& operator=(const MockUsbDevice&) = delete;

  bool Ok() const { return ok_; }
  const std::string& Error() const { return error_; }
  // Every OUT byte in arrival order, and how many OUT URBs were stalled.
  std::vector<uint8_t> Received() const;
  int Stalls() const;
  // How often a kernel driver was taken from the interface (disconnect requests).
  int Detaches() const;
  // True once the device has gone (an unplug fault fired); waits up to `ms`.
  bool WaitUnplugged(int ms) const;
  // Takes the device out of sysfs and tells the system, as a real unplug would.
  void RemoveFromSystem();

  struct State;

 private:
  std::shared_ptr<State> state_;
  bool ok_ = false;
  std::string error_;
};

}  // namespace edog::test
