#include "device/UsbLibrary.h"

#include "common/Format.h"
#include "common/VendorCall.h"
#include "device/DeviceEndStatus.h"
#include "device/HandleIo.h"

namespace edog {

UsbLibrary::UsbLibrary(std::unique_ptr<DynamicLibrary> lib) : lib_(std::move(lib)) {
  openDev_ = lib_->Function<UsbOpenDevFn>("open_dev");
  openFile_ = lib_->Function<UsbOpenFileFn>("open_file");
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

UsbPipe UsbLibrary::OpenPipe(const char* pipeName) const {
  return UsbPipe(OpenFile(pipeName), weak_from_this().lock());
}

bool UsbLibrary::DevicePresent() const {
  const UsbHandle h = OpenDev();
  if (h == USB_INVALID_HANDLE) return false;
  HandleClose(h);
  return true;
}

UsbPipe& UsbPipe::operator=(UsbPipe&& o) noexcept {
  if (this != &o) {
    Close();
    handle_ = o.handle_;
    owner_ = std::move(o.owner_);
    o.handle_ = USB_INVALID_HANDLE;
  }
  return *this;
}

bool UsbPipe::Write(const uint8_t* data, uint32_t size) {
  uint32_t written = 0;
  return HandleWrite(handle_, data, size, &written);
}

bool UsbPipe::ConfirmStored() { return HandleConfirmStored(handle_, kDeviceEndStatusQuietMs); }

bool UsbPipe::Read(uint8_t* data, uint32_t size, uint32_t* got) {
  return HandleRead(handle_, data, size, got);
}

void UsbPipe::Close() {
  if (handle_ != USB_INVALID_HANDLE) HandleClose(handle_);
  handle_ = USB_INVALID_HANDLE;
  owner_.reset();  // after the close: the library may take its handles with it
}

UsbPipe OpenUsbPipe(const char* pipeName, const std::string& library) {
  const auto lib = UsbLibrary::Load(library);
  return lib ? lib->OpenPipe(pipeName) : UsbPipe();
}

}  // namespace edog
