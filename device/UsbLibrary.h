#pragma once
// The USB device library as the program uses it: loaded at run time by base name (program
// folder first, then the system's library folder), its two exports looked up once and
// called through CallVendor (either calling convention). A missing library or export
// makes every open fail (-1), as the callers expect. A library whose handles are not file
// handles also exports its own read, write and close (UsbHandleOps); its pipes then go
// through those. A pipe holds the library until it is closed: a vendor library may close
// its handles when it goes.
#include <cstdint>
#include <memory>
#include <string>

#include "common/DynamicLibrary.h"
#include "device/UsbLibraryApi.h"

namespace edog {

class UsbPipe;

// The calls on one library's handles: its own exports when it has all three, else the
// file-handle layer (device/HandleIo.h).
struct UsbHandleOps {
  UsbHandleWriteFn write = nullptr;
  UsbHandleReadFn read = nullptr;
  UsbHandleCloseFn close = nullptr;
  bool Own() const { return write && read && close; }
};

class UsbLibrary : public std::enable_shared_from_this<UsbLibrary> {
 public:
  // Null when the library cannot be loaded. `why` (when given) gets what the user should
  // know: why a library that is there cannot be loaded, or which export it lacks (the
  // library is returned then, and its opens fail); empty when there is no library at all.
  static std::shared_ptr<UsbLibrary> Load(const std::string& nameOrPath = USB_LIBRARY_NAME,
                                          std::string* why = nullptr);

  UsbHandle OpenDev() const;
  UsbHandle OpenFile(const char* pipeName) const;
  // OpenFile as a pipe that keeps this library loaded while it is open, closed the
  // library's way when it has its own.
  UsbPipe OpenPipe(const char* pipeName) const;
  // The presence probe: open_dev, and a valid handle is closed at once.
  bool DevicePresent() const;
  const std::string& Path() const { return lib_->Path(); }
  // The library's word on why it found no device (empty: nothing to say).
  std::string Problem() const;
  // The attached devices with their bulk endpoints; false when the library cannot list.
  bool ListDevices(std::string& text) const;
  // The stand-in that edog-sim answers (its marker export), not a real device's library.
  bool StandIn() const { return standIn_; }

 private:
  explicit UsbLibrary(std::unique_ptr<DynamicLibrary> lib);
  std::unique_ptr<DynamicLibrary> lib_;
  UsbOpenDevFn openDev_ = nullptr;
  UsbOpenFileFn openFile_ = nullptr;
  UsbHandleOps ops_;
  UsbTextFn problem_ = nullptr;
  UsbTextFn list_ = nullptr;
  bool standIn_ = false;
};

// Where a transfer writes its blocks: the "PIPE00" handle, or a stand-in in tests.
class UsbBlockSink {
 public:
  virtual ~UsbBlockSink() = default;
  // True only when the device took the whole block.
  virtual bool Write(const uint8_t* data, uint32_t size) = 0;
  // After the last block: true once the device confirms it stored everything written.
  virtual bool ConfirmStored() { return true; }
  // The system says the device has gone (or the pipe can carry nothing more): no retry of
  // a write can succeed.
  virtual bool Gone() const { return false; }
  // After a failed write: how many bytes of that block the device kept (0: none). A block
  // partly taken is never sent again; Gone() is true then.
  virtual uint32_t PartlyTaken() const { return 0; }
  // While a block is refused: whether the library's presence probe (open_dev) still finds
  // the device. Only a hint: a driver that allows one open handle fails it while this pipe
  // is held, so a miss proves nothing.
  virtual bool AnswersPresenceProbe() { return true; }
};

// Owns one pipe handle of the library and closes it when done; `owner` (the library that
// made the handle) is let go only after the handle is closed.
class UsbPipe final : public UsbBlockSink {
 public:
  explicit UsbPipe(UsbHandle handle = USB_INVALID_HANDLE, UsbHandleOps ops = {},
                   std::shared_ptr<const UsbLibrary> library = nullptr)
      : handle_(handle), ops_(ops), library_(std::move(library)) {}
  ~UsbPipe() override { Close(); }
  UsbPipe(const UsbPipe&) = delete;
  UsbPipe& operator=(const UsbPipe&) = delete;
  UsbPipe(UsbPipe&& o) noexcept
      : handle_(o.handle_), ops_(o.ops_), library_(std::move(o.library_)), gone_(o.gone_),
        partlyTaken_(o.partlyTaken_) {
    o.handle_ = USB_INVALID_HANDLE;
  }
  UsbPipe& operator=(UsbPipe&& o) noexcept;

  bool IsOpen() const { return handle_ != USB_INVALID_HANDLE; }
  UsbHandle Get() const { return handle_; }
  bool Write(const uint8_t* data, uint32_t size) override;
  bool ConfirmStored() override;
  bool Read(uint8_t* data, uint32_t size, uint32_t* got);
  bool Gone() const override { return gone_; }
  uint32_t PartlyTaken() const override { return partlyTaken_; }
  bool AnswersPresenceProbe() override;
  void Close();

 private:
  UsbHandle handle_;
  UsbHandleOps ops_;
  std::shared_ptr<const UsbLibrary> library_;  // set when ops_ point into it
  bool gone_ = false;
  uint32_t partlyTaken_ = 0;  // of the last failed write
};

// Loads the library and opens one pipe, as the status window does; the pipe holds the
// library until it is closed.
UsbPipe OpenUsbPipe(const char* pipeName, const std::string& library = USB_LIBRARY_NAME);

}  // namespace edog
