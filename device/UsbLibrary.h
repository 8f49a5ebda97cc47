#pragma once
// The USB device library as the program uses it: loaded at run time by base name (program
// folder first, then the system's search path), its two exports looked up once. A missing
// library or export makes every open fail (-1), as the callers expect.
#include <cstdint>
#include <memory>
#include <string>

#include "common/DynamicLibrary.h"
#include "device/UsbLibraryApi.h"

namespace edog {

class UsbLibrary {
 public:
  // Null when the library cannot be loaded.
  static std::shared_ptr<UsbLibrary> Load(const std::string& nameOrPath = USB_LIBRARY_NAME);

  UsbHandle OpenDev() const;
  UsbHandle OpenFile(const char* pipeName) const;
  // The presence probe: open_dev, and a valid handle is closed at once.
  bool DevicePresent() const;
  const std::string& Path() const { return lib_->Path(); }

 private:
  explicit UsbLibrary(std::unique_ptr<DynamicLibrary> lib);
  std::unique_ptr<DynamicLibrary> lib_;
  UsbOpenDevFn openDev_ = nullptr;
  UsbOpenFileFn openFile_ = nullptr;
};

// Where a transfer writes its blocks: the "PIPE00" handle, or a stand-in in tests.
class UsbBlockSink {
 public:
  virtual ~UsbBlockSink() = default;
  // True only when the device took the whole block.
  virtual bool Write(const uint8_t* data, uint32_t size) = 0;
  // After the last block: true once the device confirms it stored everything written.
  virtual bool ConfirmStored() { return true; }
};

// Owns one pipe handle of the library and closes it when done.
class UsbPipe final : public UsbBlockSink {
 public:
  explicit UsbPipe(UsbHandle handle = USB_INVALID_HANDLE) : handle_(handle) {}
  ~UsbPipe() override { Close(); }
  UsbPipe(const UsbPipe&) = delete;
  UsbPipe& operator=(const UsbPipe&) = delete;
  UsbPipe(UsbPipe&& o) noexcept : handle_(o.handle_) { o.handle_ = USB_INVALID_HANDLE; }
  UsbPipe& operator=(UsbPipe&& o) noexcept;

  bool IsOpen() const { return handle_ != USB_INVALID_HANDLE; }
  UsbHandle Get() const { return handle_; }
  bool Write(const uint8_t* data, uint32_t size) override;
  bool ConfirmStored() override;
  bool Read(uint8_t* data, uint32_t size, uint32_t* got);
  void Close();

 private:
  UsbHandle handle_;
};

// Loads the library, opens one pipe and lets go of this reference to the library again,
// as the status window does; the pipe stays usable.
UsbPipe OpenUsbPipe(const char* pipeName, const std::string& library = USB_LIBRARY_NAME);

}  // namespace edog
