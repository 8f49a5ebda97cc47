#pragma once
// The libusb side of the device library: one libusb context for the process, the configured
// device opened once however many pipes use it, and a table of the handles given out.
// Handles are small numbers, never reused, so a stale or doubled close does no harm.
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/UsbConfig.h"
#include "device/UsbLibraryApi.h"

struct libusb_context;
struct libusb_device;
struct libusb_device_handle;

namespace edog::usb {

// Bounded waits: a write the device does not take within kWriteTimeoutMs fails (the
// caller retries it); a device that has taken nothing for kSilentLimitMs counts as gone.
// That limit is no shorter than the caller's own retry window for one block (3002 refusals
// of 15.625 ms each), so a busy device is never given up on before the caller would.
constexpr unsigned kWriteTimeoutMs = 1000;
constexpr unsigned kSilentLimitMs = 46907;
constexpr unsigned kReadTimeoutMs = 200;  // as the stand-in: a read with nothing fails

// The configured device, opened and its interface claimed; closed with its last pipe.
struct OpenDevice {
  libusb_device_handle* handle = nullptr;
  UsbDeviceEntry entry;
  int interfaceNumber = -1;
  uint8_t outEndpoint = 0, inEndpoint = 0;
  uint16_t inPacketSize = 64;
  std::string name;                 // "1d6b:0f17 at bus 1 device 7", for messages
  std::atomic<bool> gone{false};    // unplugged: every pipe fails at once
  ~OpenDevice();
};

class UsbLink {
 public:
  static UsbLink& Instance();

  UsbHandle OpenDev();
  UsbHandle OpenPipe(const char* pipeName);
  int Write(UsbHandle handle, const void* data, uint32_t size, uint32_t* written);
  int Read(UsbHandle handle, void* data, uint32_t size, uint32_t* got);
  int Close(UsbHandle handle);
  std::string Problem();
  std::string DeviceList();

 private:
  struct Pipe {
    std::shared_ptr<OpenDevice> device;  // null for a presence handle
    bool out = true;
    unsigned silentMs = 0;               // consecutive time-outs without a byte taken
    bool broken = false;                 // a block went only in part: the stream is lost
    std::vector<uint8_t> pending;        // IN bytes beyond what the last read asked for
    std::mutex io;                       // one transfer at a time on a pipe
  };

  UsbLink() = default;
  bool Start();  // the context; false with the problem set
  // The first attached device the configuration names, referenced; null with the problem
  // set. `detachDriver`, when given, says whether the user lets a kernel driver go.
  libusb_device* FindConfigured(UsbDeviceEntry& entry, bool* detachDriver);
  std::shared_ptr<OpenDevice> OpenConfigured();
  UsbHandle Add(std::shared_ptr<Pipe> pipe);
  std::shared_ptr<Pipe> Find(UsbHandle handle);
  void SetProblem(const std::string& text);

  std::mutex mutex_;
  libusb_context* context_ = nullptr;
  std::string startError_;
  std::weak_ptr<OpenDevice> device_;
  std::map<intptr_t, std::shared_ptr<Pipe>> pipes_;
  intptr_t nextHandle_ = 1;
  std::string problem_;
};

}  // namespace edog::usb
