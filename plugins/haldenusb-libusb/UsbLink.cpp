#include "plugins/haldenusb-libusb/UsbLink.h"

#include <libusb.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "plugins/haldenusb-libusb/UsbEndpoints.h"

namespace edog::usb {

namespace {

std::string Hex4(unsigned v) {
  char s[8];
  std::snprintf(s, sizeof s, "%04x", v & 0xffff);
  return s;
}

std::string DeviceName(libusb_device* dev, const UsbDeviceEntry& e) {
  return Hex4(e.vendor) + ":" + Hex4(e.product) + " at bus " +
         std::to_string(libusb_get_bus_number(dev)) + " device " +
         std::to_string(libusb_get_device_address(dev));
}

std::string NodePath(libusb_device* dev) {
  char s[40];
  std::snprintf(s, sizeof s, "/dev/bus/usb/%03u/%03u", libusb_get_bus_number(dev),
                libusb_get_device_address(dev));
  return s;
}

// A device the user may not open: what to do about it.
std::string PermissionText(libusb_device* dev, const UsbDeviceEntry& e) {
  const std::string id = Hex4(e.vendor) + ":" + Hex4(e.product);
  return "no permission to open the USB device " + DeviceName(dev, e) + " (" + NodePath(dev) +
         "): install the udev rule for these ids ('edogtool usb-setup " + id +
         "' writes it and prints the command that installs it; 'edogtool doctor' checks it), " +
         "or join the group that owns the device node (often 'plugdev') and log in again";
}

bool Unplugged(int r) { return r == LIBUSB_ERROR_NO_DEVICE; }

// The pipes the entry names on the device, checked against its active configuration
// before anything is claimed or written; false with the problem to report.
bool ChooseOnDevice(libusb_device* dev, const UsbDeviceEntry& e, EndpointChoice& choice,
                    std::string& problem) {
  libusb_config_descriptor* config = nullptr;
  const int r = libusb_get_active_config_descriptor(dev, &config);
  if (r != 0) {
    problem = "cannot read the configuration of the USB device " + DeviceName(dev, e) + ": " +
              libusb_strerror(static_cast<libusb_error>(r));
    return false;
  }
  std::string why;
  const bool chosen = ChooseEndpoints(*config, e, choice, why);
  libusb_free_config_descriptor(config);
  if (!chosen)
    problem = "the USB device " + DeviceName(dev, e) + " (named by " + e.origin + "): " + why +
              "; check the ids against 'edogtool usb-list', which shows the device's "
              "vendor-specific interface";
  return chosen;
}

}  // namespace

OpenDevice::~OpenDevice() {
  if (!handle) return;
  if (interfaceNumber >= 0 && !gone) libusb_release_interface(handle, interfaceNumber);
  libusb_close(handle);
}

UsbLink& UsbLink::Instance() {
  // Never destroyed: handles may still be closed while the process ends.
  static UsbLink* link = new UsbLink;
  return *link;
}

void UsbLink::SetProblem(const std::string& text) { problem_ = text; }

bool UsbLink::Start() {
  if (context_) return true;
  if (!startError_.empty()) {
    SetProblem(startError_);
    return false;
  }
  const int r = libusb_init(&context_);
  if (r != 0) {
    context_ = nullptr;
    startError_ = std::string("libusb cannot start: ") + libusb_strerror(static_cast<libusb_error>(r));
    SetProblem(startError_);
    return false;
  }
  return true;
}

libusb_device* UsbLink::FindConfigured(UsbDeviceEntry& entry, bool* detachDriver) {
  const UsbConfig config = LoadUsbConfig();
  if (detachDriver) *detachDriver = config.detachDriver;
  if (!config.problems.empty()) {
    std::string text = "the USB configuration has errors:";
    for (const auto& p : config.problems) text += " " + p + ";";
    SetProblem(text + (config.Configured() ? "" : " " + UsbConfigHint()));
    if (!config.Configured()) return nullptr;
  } else if (!config.Configured()) {
    SetProblem(UsbConfigHint());
    return nullptr;
  }
  libusb_device** list = nullptr;
  const ssize_t n = libusb_get_device_list(context_, &list);
  libusb_device* found = nullptr;
  for (const UsbDeviceEntry& e : config.devices) {
    for (ssize_t i = 0; i < n && !found; ++i) {
      libusb_device_descriptor d{};
      if (libusb_get_device_descriptor(list[i], &d) != 0) continue;
      if (d.idVendor == e.vendor && d.idProduct == e.product) {
        found = libusb_ref_device(list[i]);
        entry = e;
      }
    }
    if (found) break;
  }
  if (n >= 0) libusb_free_device_list(list, 1);
  if (!found) {
    std::string ids;
    for (const UsbDeviceEntry& e : config.devices)
      ids += (ids.empty() ? "" : ", ") + Hex4(e.vendor) + ":" + Hex4(e.product) + " (" + e.origin + ")";
    SetProblem("no configured USB device is attached: looked for " + ids +
               "; 'edogtool usb-list' shows the attached devices");
  }
  return found;
}

std::shared_ptr<OpenDevice> UsbLink::OpenConfigured() {
  if (auto open = device_.lock(); open && !open->gone) return open;
  if (!Start()) return nullptr;
  UsbDeviceEntry entry;
  bool detachDriver = false;
  libusb_device* dev = FindConfigured(entry, &detachDriver);
  if (!dev) return nullptr;
  // The descriptors decide before the device node is even opened.
  EndpointChoice choice;
  std::string problem;
  if (!ChooseOnDevice(dev, entry, choice, problem)) {
    SetProblem(problem);
    libusb_unref_device(dev);
    return nullptr;
  }
  auto open = std::make_shared<OpenDevice>();
  open->entry = entry;
  open->name = DeviceName(dev, entry);
  int r = libusb_open(dev, &open->handle);
  if (r != 0) {
    open->handle = nullptr;
    SetProblem(r == LIBUSB_ERROR_ACCESS
                   ? PermissionText(dev, entry)
                   : "cannot open the USB device " + open->name + ": " +
                         libusb_strerror(static_cast<libusb_error>(r)));
    libusb_unref_device(dev);
    return nullptr;
  }
  libusb_unref_device(dev);
  // A kernel driver bound to the (vendor-specific) interface is taken away only when the
  // user said so; libusb gives it back when the interface is released.
  if (libusb_kernel_driver_active(open->handle, choice.interfaceNumber) == 1) {
    if (!detachDriver) {
      SetProblem("interface " + std::to_string(choice.interfaceNumber) + " of the USB device " +
                 open->name + " is bound to a kernel driver, which edog leaves alone unless told: "
                 "if this is the warning device, " + UsbDetachHint());
      return nullptr;
    }
    libusb_set_auto_detach_kernel_driver(open->handle, 1);
  }
  r = libusb_claim_interface(open->handle, choice.interfaceNumber);
  if (r != 0) {
    SetProblem(r == LIBUSB_ERROR_BUSY
                   ? "interface " + std::to_string(choice.interfaceNumber) + " of the USB device " +
                         open->name + " is in use by another program"
                   : "cannot claim interface " + std::to_string(choice.interfaceNumber) +
                         " of the USB device " + open->name + ": " +
                         libusb_strerror(static_cast<libusb_error>(r)));
    return nullptr;
  }
  open->interfaceNumber = choice.interfaceNumber;
  open->outEndpoint = choice.outEndpoint;
  open->inEndpoint = choice.inEndpoint;
  open->inPacketSize = std::max<uint16_t>(choice.inPacketSize, 64);
  device_ = open;
  SetProblem({});
  return open;
}

UsbHandle UsbLink::Add(std::shared_ptr<Pipe> pipe) {
  const intptr_t h = nextHandle_++;
  pipes_[h] = std::move(pipe);
  return static_cast<UsbHandle>(h);
}

std::shared_ptr<UsbLink::Pipe> UsbLink::Find(UsbHandle handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = pipes_.find(static_cast<intptr_t>(handle));
  return it == pipes_.end() ? nullptr : it->second;
}

UsbHandle UsbLink::OpenDev() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (auto open = device_.lock(); open && !open->gone) return Add(std::make_shared<Pipe>());
  if (!Start()) return USB_INVALID_HANDLE;
  // Present means attached, with an interface the pipes may use, and openable by this user:
  // a device that fails these would only fail later, in the middle of an update.
  UsbDeviceEntry entry;
  libusb_device* dev = FindConfigured(entry, nullptr);
  if (!dev) return USB_INVALID_HANDLE;
  // A device whose named interface the pipes may not use is not the warning device.
  EndpointChoice choice;
  std::string problem;
  if (!ChooseOnDevice(dev, entry, choice, problem)) {
    SetProblem(problem);
    libusb_unref_device(dev);
    return USB_INVALID_HANDLE;
  }
  libusb_device_handle* h = nullptr;
  const int r = libusb_open(dev, &h);
  if (r == 0) {
    libusb_close(h);
    SetProblem({});
  } else {
    SetProblem(r == LIBUSB_ERROR_ACCESS ? PermissionText(dev, entry)
                                        : "cannot open the USB device " + DeviceName(dev, entry) +
                                              ": " + libusb_strerror(static_cast<libusb_error>(r)));
  }
  libusb_unref_device(dev);
  return r == 0 ? Add(std::make_shared<Pipe>()) : USB_INVALID_HANDLE;
}

UsbHandle UsbLink::OpenPipe(const char* pipeName) {
  if (!pipeName) return USB_INVALID_HANDLE;
  const bool out = std::strcmp(pipeName, USB_PIPE_OUT) == 0;
  if (!out && std::strcmp(pipeName, USB_PIPE_IN) != 0) return USB_INVALID_HANDLE;
  std::lock_guard<std::mutex> lock(mutex_);
  auto device = OpenConfigured();
  if (!device) return USB_INVALID_HANDLE;
  auto pipe = std::make_shared<Pipe>();
  pipe->device = std::move(device);
  pipe->out = out;
  return Add(std::move(pipe));
}

int UsbLink::Write(UsbHandle handle, const void* data, uint32_t size, uint32_t* written) {
  if (written) *written = 0;
  const auto pipe = Find(handle);
  if (!pipe || !pipe->device || !pipe->out) return USB_IO_FAILED;
  std::lock_guard<std::mutex> io(pipe->io);
  OpenDevice& dev = *pipe->device;
  if (dev.gone || pipe->broken || pipe->silentMs >= kSilentLimitMs) return USB_IO_GONE;
  int done = 0;
  const int r = libusb_bulk_transfer(dev.handle, dev.outEndpoint,
                                     static_cast<unsigned char*>(const_cast<void*>(data)),
                                     static_cast<int>(size), &done, kWriteTimeoutMs);
  if (r == 0 && static_cast<uint32_t>(done) == size) {
    pipe->silentMs = 0;
    if (written) *written = size;
    return USB_IO_DONE;
  }
  if (Unplugged(r)) {
    dev.gone = true;
    std::lock_guard<std::mutex> lock(mutex_);
    SetProblem("the USB device " + dev.name + " has gone");
    return USB_IO_GONE;
  }
  if (r == LIBUSB_ERROR_PIPE) libusb_clear_halt(dev.handle, dev.outEndpoint);
  if (done > 0) {
    // Part of the block is in the device: sending it again would double those bytes.
    pipe->broken = true;
    if (written) *written = static_cast<uint32_t>(done);  // what the device has, for the count
    std::lock_guard<std::mutex> lock(mutex_);
    SetProblem("the USB device " + dev.name + " took only part of a block; the transfer cannot go on");
    return USB_IO_GONE;
  }
  if (r == LIBUSB_ERROR_TIMEOUT) {
    pipe->silentMs += kWriteTimeoutMs;
    if (pipe->silentMs >= kSilentLimitMs) {
      std::lock_guard<std::mutex> lock(mutex_);
      SetProblem("the USB device " + dev.name + " has not taken any data for " +
                 std::to_string(kSilentLimitMs / 1000) + " s");
      return USB_IO_GONE;
    }
  }
  return USB_IO_FAILED;  // stalled or timed out with nothing taken: the caller tries again
}

int UsbLink::Read(UsbHandle handle, void* data, uint32_t size, uint32_t* got) {
  if (got) *got = 0;
  const auto pipe = Find(handle);
  if (!pipe || !pipe->device || pipe->out) return USB_IO_FAILED;
  std::lock_guard<std::mutex> io(pipe->io);
  OpenDevice& dev = *pipe->device;
  if (dev.gone) return USB_IO_GONE;
  if (pipe->pending.empty()) {
    // A whole packet each time, so a device block longer than the caller asked for is kept.
    std::vector<uint8_t> packet(std::max<uint32_t>(dev.inPacketSize, size));
    int n = 0;
    const int r = libusb_bulk_transfer(dev.handle, dev.inEndpoint, packet.data(),
                                       static_cast<int>(packet.size()), &n, kReadTimeoutMs);
    if (Unplugged(r)) {
      dev.gone = true;
      return USB_IO_GONE;
    }
    if (r == LIBUSB_ERROR_PIPE) libusb_clear_halt(dev.handle, dev.inEndpoint);
    if (r != 0 && n <= 0) return USB_IO_FAILED;
    packet.resize(static_cast<size_t>(std::max(n, 0)));
    if (packet.size() <= size) {
      if (!packet.empty()) std::memcpy(data, packet.data(), packet.size());
      if (got) *got = static_cast<uint32_t>(packet.size());
      return USB_IO_DONE;
    }
    pipe->pending = std::move(packet);
  }
  const size_t n = std::min<size_t>(size, pipe->pending.size());
  std::memcpy(data, pipe->pending.data(), n);
  pipe->pending.erase(pipe->pending.begin(), pipe->pending.begin() + static_cast<ptrdiff_t>(n));
  if (got) *got = static_cast<uint32_t>(n);
  return USB_IO_DONE;
}

int UsbLink::Close(UsbHandle handle) {
  std::shared_ptr<Pipe> pipe;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = pipes_.find(static_cast<intptr_t>(handle));
    if (it == pipes_.end()) return 0;
    pipe = std::move(it->second);
    pipes_.erase(it);
  }
  // A transfer still running on it (another thread) ends first; the device closes with
  // its last pipe.
  std::lock_guard<std::mutex> io(pipe->io);
  std::shared_ptr<OpenDevice> device = std::move(pipe->device);
  std::lock_guard<std::mutex> lock(mutex_);
  device.reset();
  return 1;
}

std::string UsbLink::Problem() {
  std::lock_guard<std::mutex> lock(mutex_);
  return problem_;
}

std::string UsbLink::DeviceList() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!Start()) return problem_ + "\n";
  return ListDevices(context_);
}

}  // namespace edog::usb
