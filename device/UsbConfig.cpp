#include "device/UsbConfig.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "common/DynamicLibrary.h"
#include "common/FileChecks.h"

namespace edog {

namespace {

// The fields of an entry in their order: how each is written and what it may hold. Ids
// are strict, so that a typing slip ("0x0x1d6b", "1d6b:f17") names no device at all
// instead of another one.
struct Field {
  const char* name;
  bool hex;           // hex digits after at most one "0x", else decimal digits
  size_t minDigits, maxDigits;
  unsigned long max;
};
constexpr Field kFields[] = {
    {"vendor id (4 hex digits)", true, 4, 4, 0xffff},
    {"product id (4 hex digits)", true, 4, 4, 0xffff},
    {"interface number", false, 1, 3, 255},
    {"OUT endpoint address", true, 1, 2, 0x0f},
    {"IN endpoint address", true, 1, 2, 0x8f},
};

bool ParseField(const std::string& text, const Field& f, unsigned long& value, std::string* error) {
  std::string digits = text;
  if (f.hex && digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
    digits.erase(0, 2);
  const bool allDigits = std::all_of(digits.begin(), digits.end(), [&](char c) {
    return f.hex ? std::isxdigit(static_cast<unsigned char>(c)) != 0
                 : std::isdigit(static_cast<unsigned char>(c)) != 0;
  });
  value = 0;
  if (allDigits && digits.size() >= f.minDigits && digits.size() <= f.maxDigits)
    value = std::strtoul(digits.c_str(), nullptr, f.hex ? 16 : 10);
  if (!allDigits || digits.size() < f.minDigits || digits.size() > f.maxDigits || value > f.max) {
    if (error) *error = std::string("bad ") + f.name + " '" + text + "'";
    return false;
  }
  return true;
}

std::string Trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  const auto e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

}  // namespace

bool ParseUsbDeviceEntry(const std::string& text, UsbDeviceEntry& entry, std::string* error) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t colon = text.find(':', start);
    parts.push_back(Trim(text.substr(start, colon - start)));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  if (parts.size() != 2 && parts.size() != 3 && parts.size() != 5) {
    if (error) *error = "'" + text + "' is not vid:pid[:interface[:out-ep:in-ep]]";
    return false;
  }
  unsigned long v[5] = {0, 0, 0, 0, 0};
  for (size_t i = 0; i < parts.size(); ++i)
    if (!ParseField(parts[i], kFields[i], v[i], error)) return false;
  if (parts.size() == 5 && ((v[3] & 0x80) || !(v[4] & 0x80))) {
    if (error) *error = "'" + text + "': the OUT endpoint has bit 7 clear, the IN endpoint set";
    return false;
  }
  entry = UsbDeviceEntry{};
  entry.vendor = static_cast<uint16_t>(v[0]);
  entry.product = static_cast<uint16_t>(v[1]);
  if (parts.size() >= 3) entry.interfaceNumber = static_cast<int>(v[2]);
  if (parts.size() == 5) {
    entry.outEndpoint = static_cast<int>(v[3]);
    entry.inEndpoint = static_cast<int>(v[4]);
  }
  return true;
}

std::string UsbConfigPath() {
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) return std::string(x) + "/edog/usb.conf";
#ifdef _WIN32
  if (const char* a = std::getenv("APPDATA"); a && *a) return std::string(a) + "\\edog\\usb.conf";
#endif
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : ".") + "/.config/edog/usb.conf";
}

UsbConfig LoadUsbConfig() {
  UsbConfig config;
  const auto add = [&](const std::string& text, const std::string& origin) {
    UsbDeviceEntry e;
    std::string why;
    if (ParseUsbDeviceEntry(text, e, &why)) {
      e.origin = origin;
      config.devices.push_back(e);
    } else {
      config.problems.push_back(origin + ": " + why);
    }
  };
  if (const char* id = std::getenv(kUsbIdEnv); id && *id) add(id, kUsbIdEnv);
  if (const char* d = std::getenv(kUsbDetachEnv); d && *d && std::string(d) != "0")
    config.detachDriver = true;
  const std::string path = UsbConfigPath();
  // A few lines are expected: a larger file is refused whole, as a cut one could end in
  // the middle of an id and name another device.
  const BoundedRead file = ReadRegularFile(path, kUsbConfigMaxBytes);
  if (file.status != BoundedRead::kOk) {
    if (!(file.status == BoundedRead::kCannotOpen && file.error == ENOENT))
      config.problems.push_back(BoundedReadMessage(file, path, kUsbConfigMaxBytes));
    return config;
  }
  std::istringstream in(std::string(file.data.begin(), file.data.end()));
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (const size_t hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    line = Trim(line);
    const std::string origin = path + ":" + std::to_string(number);
    if (line.size() > 200) {
      config.problems.push_back(origin + ": line too long");
    } else if (line == kUsbDetachKey) {
      config.detachDriver = true;
    } else if (!line.empty()) {
      add(line, origin);
    }
  }
  return config;
}

std::string UdevRuleTemplatePath() {
  std::string folder = ProgramDirectory();
  // bin/ and share/ are siblings: /usr/bin/ gives /usr/share/edog/udev/.
  const std::string bin = "/bin/";
  if (folder.size() >= bin.size() && folder.compare(folder.size() - bin.size(), bin.size(), bin) == 0)
    folder.erase(folder.size() - bin.size() + 1);
  else
    folder += "../";
  return folder + "share/edog/udev/60-edog-usb.rules.in";
}

std::string UsbConfigHint() {
  std::string hint = std::string("no USB device is configured: with the device attached, run "
                                 "'edogtool usb-setup', which writes its id into ") +
                     UsbConfigPath() + " (or set " + kUsbIdEnv + "=vid:pid)";
#ifndef _WIN32
  hint += " and gives the udev rule (" + UdevRuleTemplatePath() +
          " with its ids) that lets users open it";
#endif
  return hint;
}

std::string UsbDetachHint() {
  return std::string("write the line '") + kUsbDetachKey + "' into " + UsbConfigPath() +
         " or give edogtool --detach-driver";
}

}  // namespace edog
