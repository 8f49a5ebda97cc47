#include "usb/MockUsbDevice.h"

#include <errno.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>

namespace edog::test {

namespace {
constexpr const char* kSysPath = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-3";
constexpr const char* kDevNode = "/dev/bus/usb/001/007";
constexpr const char* kTextAnswer = "mock device ready\r\n";

// Device, configuration, one interface with an OUT then an IN endpoint.
std::string DescriptorHex(const MockUsbInterface& i) {
  char hex[160];
  std::snprintf(hex, sizeof hex,
                "12010002000000406b1d170f000100000001"
                "0902200001010080fa"
                "09040000 02%02x%02x%02x00"
                "070502%02x0002 01"
                "070581%02x0002 01",
                i.interfaceClass, i.subClass, i.protocol, i.outType, i.inType);
  std::string s;
  for (const char* p = hex; *p; ++p)
    if (*p != ' ') s += *p;
  return s;
}

struct Urb {
  UMockdevIoctlData* data;  // the client's usbdevfs_urb, resolved, with its buffer
  int status = 0;
  int actual = 0;
};

}  // namespace

struct MockUsbDevice::State {
  MockUsbFaults faults;
  MockUsbInterface interface;
  bool driverBound = false;
  int detaches = 0;
  UMockdevTestbed* testbed = nullptr;
  UMockdevIoctlBase* handler = nullptr;
  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  std::vector<uint8_t> received;
  std::deque<Urb> pending, done;  // IN URBs wait in `pending` for text; stuck OUT ones too
  std::string textToSend;
  int outUrbs = 0, stalls = 0;
  bool gone = false, removed = false;

  ~State() {
    for (auto* q : {&pending, &done})
      for (Urb& u : *q) g_object_unref(u.data);
    if (handler) g_object_unref(handler);
    if (testbed) g_object_unref(testbed);
  }

  usbdevfs_urb* Of(const Urb& u) { return reinterpret_cast<usbdevfs_urb*>(u.data->data); }

  // Hands waiting IN URBs what the device has to say.
  void FeedInUrbs() {
    for (auto it = pending.begin(); it != pending.end() && !textToSend.empty();) {
      usbdevfs_urb* urb = Of(*it);
      if (!(urb->endpoint & 0x80)) { ++it; continue; }
      UMockdevIoctlData* buf = umockdev_ioctl_data_resolve(
          it->data, offsetof(usbdevfs_urb, buffer), static_cast<gsize>(urb->buffer_length), nullptr);
      const size_t n = std::min(textToSend.size(), static_cast<size_t>(urb->buffer_length));
      if (buf) std::memcpy(buf->data, textToSend.data(), n);
      textToSend.erase(0, n);
      it->actual = static_cast<int>(n);
      done.push_back(*it);
      it = pending.erase(it);
    }
  }

  // The device has gone: what was under way ends with "no device", as the kernel reports.
  void Unplug() {
    gone = true;
    for (Urb& u : pending) {
      u.status = -ENODEV;
      done.push_back(u);
    }
    pending.clear();
    changed.notify_all();
  }

  void Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    UMockdevIoctlData* data = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
    if (!data) return umockdev_ioctl_client_complete(client, -1, EFAULT);
    auto* urb = reinterpret_cast<usbdevfs_urb*>(data->data);
    if (urb->type != USBDEVFS_URB_TYPE_BULK || urb->buffer_length < 0)
      return umockdev_ioctl_client_complete(client, -1, EINVAL);
    // As usbfs: a bulk URB runs on a bulk or interrupt endpoint, never an isochronous one,
    // and only on a claimed interface.
    const uint8_t type = (urb->endpoint & 0x80) ? interface.inType : interface.outType;
    if (type != 2 && type != 3) return umockdev_ioctl_client_complete(client, -1, EINVAL);
    if (driverBound) return umockdev_ioctl_client_complete(client, -1, EBUSY);
    Urb u{static_cast<UMockdevIoctlData*>(g_object_ref(data))};
    if (urb->endpoint & 0x80) {
      pending.push_back(u);
      FeedInUrbs();
      return umockdev_ioctl_client_complete(client, 0, 0);
    }
    const int index = outUrbs++;
    if (faults.neverAnswer) {
      pending.push_back(u);
      return umockdev_ioctl_client_complete(client, 0, 0);
    }
    if (index == faults.stallOutUrb) {
      ++stalls;
      u.status = -EPIPE;
      done.push_back(u);
      return umockdev_ioctl_client_complete(client, 0, 0);
    }
    UMockdevIoctlData* buf = urb->buffer_length == 0
                                 ? nullptr
                                 : umockdev_ioctl_data_resolve(data, offsetof(usbdevfs_urb, buffer),
                                                               urb->buffer_length, nullptr);
    int take = urb->buffer_length;
    if (faults.unplugAfterBytes >= 0) {
      const int64_t room = faults.unplugAfterBytes - static_cast<int64_t>(received.size());
      if (room < take) take = static_cast<int>(std::max<int64_t>(room, 0));
    }
    if (buf) received.insert(received.end(), buf->data, buf->data + take);
    if (take == 1 && buf && buf->data[0] == 0x40) {
      textToSend += kTextAnswer;
      FeedInUrbs();
    }
    u.actual = take;
    if (take < urb->buffer_length) {
      u.status = -ENODEV;
      done.push_back(u);
      Unplug();
    } else {
      done.push_back(u);
    }
    changed.notify_all();
    umockdev_ioctl_client_complete(client, 0, 0);
  }

  void Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    if (done.empty()) return umockdev_ioctl_client_complete(client, -1, gone ? ENODEV : EAGAIN);
    UMockdevIoctlData* slot = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
    if (!slot) return umockdev_ioctl_client_complete(client, -1, EFAULT);
    Urb u = done.front();
    done.pop_front();
    usbdevfs_urb* urb = Of(u);
    urb->status = u.status;
    urb->actual_length = u.actual;
    umockdev_ioctl_data_set_ptr(slot, 0, u.data);
    g_object_unref(u.data);
    umockdev_ioctl_client_complete(client, 0, 0);
  }

  // A driver request passed through usbfs: disconnect takes the driver away, connect binds
  // it again (as a release after an automatic detach does).
  void Driver(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_ioctl), nullptr);
    if (!d) return umockdev_ioctl_client_complete(client, -1, EFAULT);
    const auto* io = reinterpret_cast<const usbdevfs_ioctl*>(d->data);
    if (io->ioctl_code == static_cast<int>(USBDEVFS_DISCONNECT)) {
      if (!driverBound) return umockdev_ioctl_client_complete(client, -1, ENODATA);
      ++detaches;
      driverBound = false;
      return umockdev_ioctl_client_complete(client, 0, 0);
    }
    if (io->ioctl_code == static_cast<int>(USBDEVFS_CONNECT)) {
      driverBound = *interface.driver != '\0';
      return umockdev_ioctl_client_complete(client, 0, 0);
    }
    umockdev_ioctl_client_complete(client, -1, ENOTTY);
  }

  // The URB named by its address in the client is given back as cancelled.
  void Discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    gulong addr = 0;
    if (arg->data_len >= static_cast<gint>(sizeof addr)) std::memcpy(&addr, arg->data, sizeof addr);
    for (auto it = pending.begin(); it != pending.end(); ++it) {
      if (it->data->client_addr != addr) continue;
      it->status = -ENOENT;
      done.push_back(*it);
      pending.erase(it);
      return umockdev_ioctl_client_complete(client, 0, 0);
    }
    umockdev_ioctl_client_complete(client, -1, EINVAL);
  }

  gboolean Handle(UMockdevIoctlClient* client) {
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::lock_guard<std::mutex> lock(mutex);
    if (gone && request != USBDEVFS_REAPURB && request != USBDEVFS_REAPURBNDELAY) {
      umockdev_ioctl_client_complete(client, -1, ENODEV);
      return TRUE;
    }
    switch (request) {
      case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(uint32_t), nullptr);
        if (!d) {
          umockdev_ioctl_client_complete(client, -1, EFAULT);
          break;
        }
        const uint32_t caps = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                              USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
        std::memcpy(d->data, &caps, sizeof caps);
        umockdev_ioctl_client_complete(client, 0, 0);
        break;
      }
      case USBDEVFS_CLAIMINTERFACE:
        umockdev_ioctl_client_complete(client, driverBound ? -1 : 0, driverBound ? EBUSY : 0);
        break;
      case USBDEVFS_DISCONNECT_CLAIM:
        if (driverBound) ++detaches;
        driverBound = false;
        umockdev_ioctl_client_complete(client, 0, 0);
        break;
      case USBDEVFS_IOCTL: Driver(client, arg); break;
      case USBDEVFS_RELEASEINTERFACE:
      case USBDEVFS_CLEAR_HALT:
      case USBDEVFS_RESETEP:
        umockdev_ioctl_client_complete(client, 0, 0);
        break;
      case USBDEVFS_GETDRIVER: {
        UMockdevIoctlData* d =
            umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_getdriver), nullptr);
        if (!d || !driverBound) {
          umockdev_ioctl_client_complete(client, -1, d ? ENODATA : EFAULT);
          break;
        }
        auto* g = reinterpret_cast<usbdevfs_getdriver*>(d->data);
        std::snprintf(g->driver, sizeof g->driver, "%s", interface.driver);
        umockdev_ioctl_client_complete(client, 0, 0);
        break;
      }
      case USBDEVFS_SUBMITURB: Submit(client, arg); break;
      case USBDEVFS_REAPURB:
      case USBDEVFS_REAPURBNDELAY: Reap(client, arg); break;
      case USBDEVFS_DISCARDURB: Discard(client, arg); break;
      default:
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
    }
    return TRUE;
  }
};

namespace {
gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
  return static_cast<MockUsbDevice::State*>(self)->Handle(client);
}
}  // namespace

std::string MockUsbDevice::WhyUnavailable() {
  const char* preload = std::getenv("LD_PRELOAD");
  if (!preload || !std::strstr(preload, "umockdev"))
    return "not run under umockdev-wrapper (the umockdev preload library is not loaded)";
  return {};
}

MockUsbDevice::MockUsbDevice(MockUsbFaults faults, MockUsbInterface interface)
    : state_(std::make_shared<State>()) {
  state_->faults = faults;
  state_->interface = interface;
  state_->driverBound = *interface.driver != '\0';
  if (std::string why = WhyUnavailable(); !why.empty()) {
    error_ = why;
    return;
  }
  state_->testbed = umockdev_testbed_new();
  const std::string description =
      std::string("P: ") + (kSysPath + 4) + "\n" +
      "N: " + (kDevNode + 5) + "\n"
      "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\n"
      "E: BUSNUM=001\nE: DEVNUM=007\nE: DEVNAME=" + kDevNode + "\n"
      "E: PRODUCT=1d6b/f17/100\n"
      "A: busnum=1\nA: devnum=7\nA: idVendor=1d6b\nA: idProduct=0f17\nA: speed=480\n"
      "A: bConfigurationValue=1\nA: bNumConfigurations=1\nA: bNumInterfaces= 1\n"
      "A: dev=189:6\n"
      "H: descriptors=" + DescriptorHex(interface) + "\n";
  GError* err = nullptr;
  if (!umockdev_testbed_add_from_string(state_->testbed, description.c_str(), &err)) {
    error_ = std::string("umockdev refused the device description: ") + (err ? err->message : "?");
    if (err) g_error_free(err);
    return;
  }
  state_->handler = umockdev_ioctl_base_new();
  g_signal_connect(state_->handler, "handle-ioctl", G_CALLBACK(OnIoctl), state_.get());
  if (!umockdev_testbed_attach_ioctl(state_->testbed, kDevNode, state_->handler, &err)) {
    error_ = std::string("umockdev cannot play the device node: ") + (err ? err->message : "?");
    if (err) g_error_free(err);
    return;
  }
  ok_ = true;
}

MockUsbDevice::~MockUsbDevice() {
  if (state_->testbed && ok_) umockdev_testbed_detach_ioctl(state_->testbed, kDevNode, nullptr);
}

std::vector<uint8_t> MockUsbDevice::Received() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->received;
}

int MockUsbDevice::Stalls() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->stalls;
}

int MockUsbDevice::Detaches() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->detaches;
}

bool MockUsbDevice::WaitUnplugged(int ms) const {
  std::unique_lock<std::mutex> lock(state_->mutex);
  return state_->changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return state_->gone; });
}

void MockUsbDevice::RemoveFromSystem() {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->removed || !ok_) return;
    state_->removed = true;
    state_->Unplug();
  }
  umockdev_testbed_uevent(state_->testbed, kSysPath, "remove");
  umockdev_testbed_remove_device(state_->testbed, kSysPath);
}

}  // namespace edog::test
