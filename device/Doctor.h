#pragma once
// edogtool doctor and the window's 诊断...: what a user needs for an update, checked in the
// order the user meets it, each with OK or the one fix that applies. One code path for the
// command, the window and the tests; the system is reached through DoctorInputs, whose
// defaults are this process's own and which the tests replace.
#include <functional>
#include <string>
#include <vector>

#include "update/PackageLookup.h"

namespace edog {

struct DoctorCheck {
  std::string what;  // "device library", "serial port /dev/ttyS0"
  bool ok = false;
  std::string text;  // OK: what was found; else the fix
};

// What a serial port lets this user do, as the system says.
struct SerialAccess {
  bool canOpen = false;   // read and write allowed
  std::string group;      // the group whose members may read and write it; empty: none
};

struct DoctorInputs {
  std::string deviceLibrary;      // base name or path (device/DeviceLibraryChoice.h)
  std::string deviceChoiceError;  // why no device library could be chosen
  std::string encoderLibrary = "Kova100";  // tools/VoiceGeneration.h names it
  std::string encoderExport = "Encoder";
  PackagePlaces packagePlaces = PackagePlacesHere({});
  // Where installed udev rules and the USB devices' sysfs entries are (Linux).
  std::vector<std::string> udevRuleDirs = {"/etc/udev/rules.d", "/usr/lib/udev/rules.d",
                                           "/lib/udev/rules.d"};
  std::string sysfsUsbDevices = "/sys/bus/usb/devices";
  std::string usbDeviceNodes = "/dev/bus/usb";
  // Whether this user may read and write a device node; default: the system's answer.
  std::function<bool(const std::string& node)> canReadWrite;
  std::function<std::vector<std::string>()> serialPorts;             // default: the system's
  std::function<SerialAccess(const std::string& port)> serialAccess;  // default: the system's
};

std::vector<DoctorCheck> RunDoctor(const DoctorInputs& inputs);
// One line a check: "OK   what: text" or "FIX  what: text", then a last line that says
// whether all hold.
std::string DoctorReport(const std::vector<DoctorCheck>& checks);
bool DoctorPassed(const std::vector<DoctorCheck>& checks);

// A Linux library's word size from its ELF header (32 or 64); 0 when it is no ELF file.
int ElfBits(const uint8_t* data, size_t size);

}  // namespace edog
