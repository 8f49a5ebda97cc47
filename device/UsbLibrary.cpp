#include "device/UsbLibrary.h"

#include <algorithm>

#include "common/Format.h"
#include "common/VendorCall.h"
#include "device/DeviceEndStatus.h"
#include "device/HandleIo.h"

namespace edog {

UsbLibrary::UsbLibrary(std::unique_ptr<DynamicLibrary> lib) : lib_(std::move(lib)) {
  openDev_ = lib_->Function<UsbOpenDevFn>("open_dev");
  openFile_ = lib_->Function<UsbOpenFileFn>("open_file");
  UsbHandleOps ops;
  ops.write = lib_->Function<UsbHandleWriteFn>("edog_handle_write");
  ops.read = lib_->Function<UsbHandleReadFn>("edog_handle_read");
  ops.close = lib_->Function<UsbHandleCloseFn>("edog_handle_close");
  if (ops.Own()) ops_ = ops;
  problem_ = lib_->Function<UsbTextFn>("edog_usb_problem");
  list_ = lib_->Function<UsbTextFn>("edog_usb_list");
  standIn_ = lib_->Function<UsbStandInFn>(USB_STAND_IN_EXPORT) != nullptr;
}

namespace {
std::string TextOf(UsbTextFn fn) {
  std::string text(1024, '\0');
  uint32_t n = fn(text.data(), static_cast<uint32_t>(text.size()));
  if (n >= text.size() && n < (1u << 24)) {
    text.assign(n + 1, '\0');
    n = fn(text.data(), static_cast<uint32_t>(text.size()));
  }
  text.resize(std::min<size_t>(n, text.size() - 1));
  return text;
}
}  // namespace

UsbPipe UsbLibrary::OpenPipe(const char* pipeName) const {
  // The pipe holds the library: a vendor library may close its handles when it goes.
  return UsbPipe(OpenFile(pipeName), ops_, weak_from_this().lock());
}

std::string UsbLibrary::Problem() const { return problem_ ? TextOf(problem_) : std::string(); }

bool UsbLibrary::ListDevices(std::string& text) const {
  if (!list_) return false;
  text = TextOf(list_);
  return true;
}

std::shared_ptr<UsbLibrary> UsbLibrary::Load(const std::string& nameOrPath, std::string* why) {
  std::string reason;
  auto lib = DynamicLibrary::Load(nameOrPath, &reason);
  std::shared_ptr<UsbLibrary> usb;
  if (lib) {
    usb.reset(new UsbLibrary(std::move(lib)));
    const char* missing = !usb->openDev_ ? "open_dev" : !usb->openFile_ ? "open_file" : nullptr;
    if (missing) reason = Format("%s has no export \"%s\"", usb->Path().c_str(), missing);
  }
  if (why) *why = reason;
  return usb;
}

UsbHandle UsbLibrary::OpenDev() const {
  return openDev_ ? CallVendor(openDev_) : USB_INVALID_HANDLE;
}

UsbHandle UsbLibrary::OpenFile(const char* pipeName) const {
  return openFile_ ? CallVendor(openFile_, pipeName) : USB_INVALID_HANDLE;
}

bool UsbLibrary::DevicePresent() const {
  // Closed the library's way when it has its own.
  UsbPipe device(OpenDev(), ops_);
  return device.IsOpen();
}

UsbPipe& UsbPipe::operator=(UsbPipe&& o) noexcept {
  if (this != &o) {
    Close();
    handle_ = o.handle_;
    ops_ = o.ops_;
    library_ = std::move(o.library_);
    gone_ = o.gone_;
    partlyTaken_ = o.partlyTaken_;
    o.handle_ = USB_INVALID_HANDLE;
  }
  return *this;
}

bool UsbPipe::Write(const uint8_t* data, uint32_t size) {
  uint32_t written = 0;
  partlyTaken_ = 0;
  bool ok = false;
  if (!ops_.Own()) {
    bool gone = false;
    ok = HandleWrite(handle_, data, size, &written, &gone);
    if (gone) gone_ = true;
  } else {
    if (handle_ == USB_INVALID_HANDLE || gone_) return false;
    const int r = ops_.write(handle_, data, size, &written);
    gone_ = r == USB_IO_GONE;
    ok = r == USB_IO_DONE && written == size;
  }
  if (!ok && written > 0 && written < size) {
    // Sending the block again would store its first bytes twice.
    partlyTaken_ = written;
    gone_ = true;
  }
  return ok;
}

bool UsbPipe::AnswersPresenceProbe() {
  return !library_ || library_->DevicePresent();
}

bool UsbPipe::ConfirmStored() {
  // A bulk pipe has no word after the data: every block it took was acknowledged by the
  // device, so a device still there has what was written.
  if (ops_.Own()) return handle_ != USB_INVALID_HANDLE && !gone_;
  return HandleConfirmStored(handle_, kDeviceEndStatusQuietMs);
}

bool UsbPipe::Read(uint8_t* data, uint32_t size, uint32_t* got) {
  if (!ops_.Own()) return HandleRead(handle_, data, size, got);
  if (got) *got = 0;
  if (handle_ == USB_INVALID_HANDLE || gone_) return false;
  const int r = ops_.read(handle_, data, size, got);
  gone_ = r == USB_IO_GONE;
  return r == USB_IO_DONE;
}

void UsbPipe::Close() {
  if (handle_ != USB_INVALID_HANDLE) {
    if (ops_.Own()) ops_.close(handle_);
    else HandleClose(handle_);
  }
  handle_ = USB_INVALID_HANDLE;
  library_.reset();  // after the close: the library may take its handles with it
}

UsbPipe OpenUsbPipe(const char* pipeName, const std::string& library) {
  const auto lib = UsbLibrary::Load(library);
  return lib ? lib->OpenPipe(pipeName) : UsbPipe();
}

}  // namespace edog
