#include "plugins/haldenusb-libusb/UsbEndpoints.h"

#include <libusb.h>

#include <cstdio>
#include <vector>

namespace edog::usb {

namespace {

struct Endpoint {
  uint8_t address;
  uint8_t type;  // LIBUSB_TRANSFER_TYPE_*
  uint16_t packetSize;
  bool In() const { return address & LIBUSB_ENDPOINT_IN; }
  bool Bulk() const { return type == LIBUSB_TRANSFER_TYPE_BULK; }
};

std::vector<Endpoint> EndpointsOf(const libusb_interface_descriptor& alt) {
  std::vector<Endpoint> eps;
  for (int i = 0; i < alt.bNumEndpoints; ++i) {
    const auto& e = alt.endpoint[i];
    eps.push_back({e.bEndpointAddress, static_cast<uint8_t>(e.bmAttributes & 3), e.wMaxPacketSize});
  }
  return eps;
}

// The pipes of one interface, or false with the reason.
bool ChooseIn(const libusb_interface_descriptor& alt, const UsbDeviceEntry& entry,
              EndpointChoice& choice, std::string& why) {
  const std::vector<Endpoint> eps = EndpointsOf(alt);
  const Endpoint* out = nullptr;
  const Endpoint* in = nullptr;
  if (entry.outEndpoint >= 0) {
    for (const Endpoint& e : eps) {
      if (e.address == entry.outEndpoint) out = &e;
      if (e.address == entry.inEndpoint) in = &e;
    }
    if (!out || !in) {
      char s[120];
      std::snprintf(s, sizeof s, "interface %d has no endpoint 0x%02x", alt.bInterfaceNumber,
                    !out ? entry.outEndpoint : entry.inEndpoint);
      why = s;
      return false;
    }
  } else {
    if (eps.size() < 2 || eps[0].In() || !eps[0].Bulk() || !eps[1].In() || !eps[1].Bulk()) {
      why = "interface " + std::to_string(alt.bInterfaceNumber) +
            " does not begin with a bulk OUT and a bulk IN endpoint";
      return false;
    }
    out = &eps[0];
    in = &eps[1];
  }
  choice.interfaceNumber = alt.bInterfaceNumber;
  choice.outEndpoint = out->address;
  choice.inEndpoint = in->address;
  choice.inPacketSize = in->packetSize;
  return true;
}

std::string Hex2(unsigned v) {
  char s[8];
  std::snprintf(s, sizeof s, "0x%02x", v & 0xff);
  return s;
}

}  // namespace

bool ChooseEndpoints(const libusb_config_descriptor& config, const UsbDeviceEntry& entry,
                     EndpointChoice& choice, std::string& why) {
  std::string firstWhy;
  for (int i = 0; i < config.bNumInterfaces; ++i) {
    if (config.interface[i].num_altsetting < 1) continue;
    const libusb_interface_descriptor& alt = config.interface[i].altsetting[0];
    if (entry.interfaceNumber >= 0 && alt.bInterfaceNumber != entry.interfaceNumber) continue;
    if (ChooseIn(alt, entry, choice, why)) return true;
    if (firstWhy.empty()) firstWhy = why;
  }
  if (!firstWhy.empty()) {
    why = firstWhy;
  } else {
    why = entry.interfaceNumber >= 0 ? "it has no interface " + std::to_string(entry.interfaceNumber)
                                     : "it has no interface";
  }
  return false;
}

std::string ListDevices(libusb_context* context) {
  libusb_device** list = nullptr;
  const ssize_t n = libusb_get_device_list(context, &list);
  if (n < 0) return std::string("cannot list USB devices: ") + libusb_strerror(static_cast<libusb_error>(n)) + "\n";
  std::string text;
  for (ssize_t i = 0; i < n; ++i) {
    libusb_device_descriptor d{};
    if (libusb_get_device_descriptor(list[i], &d) != 0) continue;
    char line[96];
    std::snprintf(line, sizeof line, "Bus %03u Device %03u: ID %04x:%04x\n",
                  libusb_get_bus_number(list[i]), libusb_get_device_address(list[i]), d.idVendor,
                  d.idProduct);
    text += line;
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(list[i], &config) != 0 &&
        libusb_get_config_descriptor(list[i], 0, &config) != 0)
      continue;
    std::string suggestion;
    for (int k = 0; k < config->bNumInterfaces; ++k) {
      if (config->interface[k].num_altsetting < 1) continue;
      const auto& alt = config->interface[k].altsetting[0];
      std::string bulk;
      for (const Endpoint& e : EndpointsOf(alt))
        if (e.Bulk()) bulk += std::string(" ") + (e.In() ? "IN " : "OUT ") + Hex2(e.address);
      if (bulk.empty()) continue;
      text += "  interface " + std::to_string(alt.bInterfaceNumber) + ": bulk" + bulk + "\n";
      UsbDeviceEntry any;
      any.interfaceNumber = alt.bInterfaceNumber;
      EndpointChoice c;
      std::string why;
      if (suggestion.empty() && ChooseIn(alt, any, c, why)) {
        std::snprintf(line, sizeof line, "  EDOG_USB_ID=%04x:%04x:%d:%s:%s\n", d.idVendor,
                      d.idProduct, c.interfaceNumber, Hex2(c.outEndpoint).c_str(),
                      Hex2(c.inEndpoint).c_str());
        suggestion = line;
      }
    }
    text += suggestion;
    libusb_free_config_descriptor(config);
  }
  libusb_free_device_list(list, 1);
  if (n == 0) text = "no USB devices are attached\n";
  return text;
}

}  // namespace edog::usb
