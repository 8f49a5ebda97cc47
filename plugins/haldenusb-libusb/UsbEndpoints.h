#pragma once
// Reading a device's descriptors: which interface and endpoints the two pipes use, and the
// listing of every attached device with its bulk endpoints (edogtool usb-list).
#include <cstdint>
#include <string>

#include "device/UsbConfig.h"

struct libusb_config_descriptor;
struct libusb_context;

namespace edog::usb {

// The only interface class the device's pipes may be on.
constexpr uint8_t kVendorSpecificClass = 0xff;

struct EndpointChoice {
  int interfaceNumber = -1;
  uint8_t outEndpoint = 0, inEndpoint = 0;
  uint16_t inPacketSize = 64;
};

// "PIPE00" and "PIPE01" are the interface's first and second endpoints in descriptor order
// (a bulk OUT, then a bulk IN) unless the entry names the addresses, which must then be
// bulk or interrupt endpoints. Only a vendor-specific interface fits; without an interface
// number the first that fits is taken. False with the reason.
bool ChooseEndpoints(const libusb_config_descriptor& config, const UsbDeviceEntry& entry,
                     EndpointChoice& choice, std::string& why);

// One line per attached device, then one per interface with bulk endpoints (a standard
// class marked as not usable), and a line to copy into the configuration for each device
// whose vendor-specific interface has a bulk OUT and IN pair.
std::string ListDevices(libusb_context* context);

}  // namespace edog::usb
