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
  // What the pipes' bulk transfers can run on: usbfs sends them to an interrupt endpoint
  // as interrupt transfers, and refuses them on an isochronous one.
  bool Streams() const { return Bulk() || type == LIBUSB_TRANSFER_TYPE_INTERRUPT; }
};

const char* TypeName(uint8_t type) {
  switch (type) {
    case LIBUSB_TRANSFER_TYPE_CONTROL: return "a control";
    case LIBUSB_TRANSFER_TYPE_ISOCHRONOUS: return "an isochronous";
    case LIBUSB_TRANSFER_TYPE_BULK: return "a bulk";
    default: return "an interrupt";
  }
}

// The standard interface classes by name. Only a vendor-specific interface is ever the
// device's: every other class belongs to a kernel driver and to data of its own (a stick's
// file system, a keyboard, a modem), so it is never written and never detached.
struct InterfaceClass {
  uint8_t code;
  const char* name;
};
constexpr InterfaceClass kInterfaceClasses[] = {
    {0x01, "audio"},          {0x02, "CDC communications"},
    {0x03, "HID"},            {0x05, "physical"},
    {0x06, "still image"},    {0x07, "printer"},
    {0x08, "mass storage"},   {0x09, "hub"},
    {0x0a, "CDC data"},       {0x0b, "smart card"},
    {0x0d, "content security"}, {0x0e, "video"},
    {0x0f, "personal healthcare"}, {0x10, "audio/video"},
    {0x11, "billboard"},      {0x12, "USB Type-C bridge"},
    {0xdc, "diagnostic"},     {0xe0, "wireless controller"},
    {0xef, "miscellaneous"},  {0xfe, "application-specific"},
};

std::string ClassText(uint8_t code) {
  char s[64];
  const char* name = "unknown";
  for (const InterfaceClass& c : kInterfaceClasses)
    if (c.code == code) name = c.name;
  std::snprintf(s, sizeof s, "%s (class %02x)", name, code);
  return s;
}

std::vector<Endpoint> EndpointsOf(const libusb_interface_descriptor& alt) {
  std::vector<Endpoint> eps;
  for (int i = 0; i < alt.bNumEndpoints; ++i) {
    const auto& e = alt.endpoint[i];
    eps.push_back({e.bEndpointAddress, static_cast<uint8_t>(e.bmAttributes & 3), e.wMaxPacketSize});
  }
  return eps;
}

std::string Hex2(unsigned v) {
  char s[8];
  std::snprintf(s, sizeof s, "0x%02x", v & 0xff);
  return s;
}

// The pipes of one interface, or false with the reason.
bool ChooseIn(const libusb_interface_descriptor& alt, const UsbDeviceEntry& entry,
              EndpointChoice& choice, std::string& why) {
  const std::string interface = "interface " + std::to_string(alt.bInterfaceNumber);
  if (alt.bInterfaceClass != kVendorSpecificClass) {
    why = interface + " is a " + ClassText(alt.bInterfaceClass) +
          " interface, not a vendor-specific one (class ff): it belongs to its kernel driver "
          "and is never written to or detached";
    return false;
  }
  const std::vector<Endpoint> eps = EndpointsOf(alt);
  const Endpoint* out = nullptr;
  const Endpoint* in = nullptr;
  if (entry.outEndpoint >= 0) {
    for (const Endpoint& e : eps) {
      if (e.address == entry.outEndpoint) out = &e;
      if (e.address == entry.inEndpoint) in = &e;
    }
    if (!out || !in) {
      why = interface + " has no endpoint " + Hex2(!out ? entry.outEndpoint : entry.inEndpoint);
      return false;
    }
    for (const Endpoint* e : {out, in}) {
      if (!e->Streams()) {
        why = "endpoint " + Hex2(e->address) + " of " + interface + " is " + TypeName(e->type) +
              " endpoint; the pipes need bulk (or interrupt) endpoints";
        return false;
      }
    }
  } else {
    if (eps.size() < 2 || eps[0].In() || !eps[0].Bulk() || !eps[1].In() || !eps[1].Bulk()) {
      why = interface + " does not begin with a bulk OUT and a bulk IN endpoint";
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
      text += "  interface " + std::to_string(alt.bInterfaceNumber) + ": bulk" + bulk;
      // Standard interfaces are shown for what they are, and never offered.
      if (alt.bInterfaceClass != kVendorSpecificClass)
        text += " (" + ClassText(alt.bInterfaceClass) + ": not usable)";
      text += "\n";
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
