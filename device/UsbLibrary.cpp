#include "device/UsbLibrary.h"

#include "device/DeviceEndStatus.h"
#include "device/HandleIo.h"

namespace edog {

UsbLibrary::UsbLibrary(std::unique_ptr<DynamicLibrary> lib) : lib_(std::move(lib)) {
  openDev_ = lib_->Function<UsbOpenDevFn>("open_dev");
  openFile_ = lib_->Function<UsbOpenFileFn>("open_file");
}

std::shared_ptr<UsbLibrary> UsbLibrary::Load(const std::string& nameOrPath) {
  auto lib = DynamicLibrary::Load(nameOrPath);
  if (!lib) return nullptr;
  return std::shared_ptr<UsbLibrary>(new UsbLibrary(std::move(lib)));
}

UsbHandle UsbLibrary::OpenDev() const { return openDev_ ? openDev_() : USB_INVALID_HANDLE; }

UsbHandle UsbLibrary::OpenFile(const char* pipeName) const {
  return openFile_ ? openFile_(pipeName) : USB_INVALID_HANDLE;
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
}

UsbPipe OpenUsbPipe(const char* pipeName, const std::string& library) {
  const auto lib = UsbLibrary::Load(library);
  return UsbPipe(lib ? lib->OpenFile(pipeName) : USB_INVALID_HANDLE);
}

}  // namespace edog
