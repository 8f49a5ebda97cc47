#include "device/UsbSetup.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <system_error>

#include "common/AtomicFile.h"
#include "common/FileChecks.h"
#include "common/Files.h"
#include "common/FsPath.h"
#include "common/Paths.h"
#include "common/DynamicLibrary.h"
#include "device/DeviceLibraryChoice.h"
#include "device/UsbConfig.h"
#include "device/UsbLibrary.h"

namespace edog {

namespace {

std::string Hex4(unsigned v) {
  char s[8];
  std::snprintf(s, sizeof s, "%04x", v & 0xffff);
  return s;
}

std::string Trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// A word for a POSIX shell, in single quotes.
std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// The template's rule line, should the installed template be missing.
constexpr const char* kRuleLine =
    "SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"@VID@\", "
    "ATTR{idProduct}==\"@PID@\", MODE=\"0660\", GROUP=\"plugdev\", TAG+=\"uaccess\"\n";

std::string Replace(std::string text, const std::string& what, const std::string& with) {
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
  return text;
}

}  // namespace

std::string UsbSetupCandidate::Id() const { return Hex4(vendor) + ":" + Hex4(product); }

std::vector<UsbSetupCandidate> UsbSetupCandidates(const std::string& listing) {
  std::vector<UsbSetupCandidate> found;
  std::istringstream in(listing);
  std::string line, place;
  const std::string offer = "EDOG_USB_ID=";
  while (std::getline(in, line)) {
    if (line.rfind("Bus ", 0) == 0) {
      place = line.substr(0, line.find(':'));
      continue;
    }
    const std::string text = Trim(line);
    if (text.rfind(offer, 0) != 0) continue;
    UsbDeviceEntry e;
    const std::string entry = text.substr(offer.size());
    if (!ParseUsbDeviceEntry(entry, e, nullptr)) continue;
    found.push_back({e.vendor, e.product, entry, place});
  }
  return found;
}

bool ListUsbSetupCandidates(std::vector<UsbSetupCandidate>& candidates, std::string* why) {
  candidates.clear();
  std::string listing;
  const auto library = UsbLibrary::Load(kUsbDeviceLibraryName);
  if (!library || !library->ListDevices(listing)) {
    if (why)
      *why = "the USB device library " + DynamicLibrary::PlatformFileName(kUsbDeviceLibraryName) +
             " cannot be loaded";
    return false;
  }
  candidates = UsbSetupCandidates(listing);
  return true;
}

int ChooseUsbSetupCandidate(const std::vector<UsbSetupCandidate>& candidates,
                            const std::string& choice, std::string* why) {
  const std::string c = Lower(Trim(choice));
  const auto fail = [&](const std::string& text) {
    if (why) *why = text;
    return -1;
  };
  if (candidates.empty()) return fail("no attached USB device has a vendor-specific interface");
  if (!c.empty() && c.find_first_not_of("0123456789") == std::string::npos) {
    const unsigned long n = c.size() > 4 ? 0 : std::strtoul(c.c_str(), nullptr, 10);
    if (n < 1 || n > candidates.size())
      return fail("there is no device " + c + ": choose 1 to " + std::to_string(candidates.size()));
    return static_cast<int>(n - 1);
  }
  UsbDeviceEntry e;
  std::string bad;
  if (!ParseUsbDeviceEntry(c, e, &bad)) return fail("'" + choice + "' is neither a number nor vid:pid");
  int at = -1;
  for (size_t i = 0; i < candidates.size(); ++i) {
    if (candidates[i].vendor != e.vendor || candidates[i].product != e.product) continue;
    if (at >= 0)
      return fail("more than one attached device is " + candidates[i].Id() + ": choose it by number");
    at = static_cast<int>(i);
  }
  if (at < 0) return fail("no attached device with a vendor-specific interface is " + c);
  return at;
}

bool WriteUsbConfigEntry(const std::string& path, const UsbSetupCandidate& device,
                         std::string* why) {
  std::string kept;
  const BoundedRead old = ReadRegularFile(path, kUsbConfigMaxBytes);
  if (old.status == BoundedRead::kOk) {
    std::istringstream in(std::string(old.data.begin(), old.data.end()));
    std::string line;
    while (std::getline(in, line)) {
      std::string bare = line.substr(0, line.find('#'));
      UsbDeviceEntry e;
      if (ParseUsbDeviceEntry(Trim(bare), e, nullptr) && e.vendor == device.vendor &&
          e.product == device.product)
        continue;  // the same device, written anew below
      kept += line + "\n";
    }
  } else if (!(old.status == BoundedRead::kCannotOpen && old.error == ENOENT)) {
    if (why) *why = BoundedReadMessage(old, path, kUsbConfigMaxBytes);
    return false;
  }
  std::error_code ec;
  std::filesystem::create_directories(FsPath(FolderPart(path)), ec);
  const std::string text = kept + device.entry + "\n";
  AtomicFileWriter out;
  if (!out.Open(path)) {
    if (why) *why = out.OpenFailureText();
    return false;
  }
  if (!out.Write(text.data(), text.size()) || !out.Commit()) {
    if (why) *why = "cannot write " + path + ": " + std::strerror(out.Error());
    return false;
  }
  return true;
}

std::string UdevRuleText(uint16_t vendor, uint16_t product, const std::string& templateText) {
  // The template's rule lines; its comments tell how to fill it in, which is done here.
  std::string rules;
  std::istringstream in(templateText);
  for (std::string line; std::getline(in, line);)
    if (line.find("@VID@") != std::string::npos && Trim(line)[0] != '#') rules += line + "\n";
  if (rules.empty()) rules = kRuleLine;
  return "# Lets the users at the seat, and the members of the plugdev group, open the USB device " +
         Hex4(vendor) + ":" + Hex4(product) + " for edog's updates.\n" +
         Replace(Replace(rules, "@VID@", Hex4(vendor)), "@PID@", Hex4(product));
}

std::string UdevRuleText(uint16_t vendor, uint16_t product) {
  const BoundedRead t = ReadRegularFile(UdevRuleTemplatePath(), 64 * 1024);
  return UdevRuleText(vendor, product,
                      t.status == BoundedRead::kOk ? std::string(t.data.begin(), t.data.end())
                                                   : std::string());
}

bool UdevRuleMatches(const std::string& rulesText, uint16_t vendor, uint16_t product) {
  std::istringstream in(rulesText);
  std::string line;
  const std::string v = "ATTR{idVendor}==\"" + Hex4(vendor) + "\"";
  const std::string p = "ATTR{idProduct}==\"" + Hex4(product) + "\"";
  while (std::getline(in, line)) {
    line = Lower(line.substr(0, line.find('#')));
    if (line.find(Lower(v)) != std::string::npos && line.find(Lower(p)) != std::string::npos)
      return true;
  }
  return false;
}

std::string UdevInstallCommand(const std::string& ruleFile, uint16_t vendor, uint16_t product,
                               bool pkexec) {
  const std::string target = std::string(kUdevRulesDir) + "/" + kUdevRuleName;
  // Installed, read again, and applied to the device that is attached now: no replug.
  const std::string steps =
      "install -m 0644 " + ShellQuote(ruleFile) + " " + target +
      " && udevadm control --reload && udevadm trigger --action=add --subsystem-match=usb"
      " --attr-match=idVendor=" + Hex4(vendor) + " --attr-match=idProduct=" + Hex4(product);
  if (pkexec) return "pkexec sh -c " + ShellQuote(steps);
  return "sudo sh -c " + ShellQuote(steps);
}

bool PkexecInstalled() {
#ifdef _WIN32
  return false;
#else
  for (const char* p : {"/usr/bin/pkexec", "/bin/pkexec", "/usr/local/bin/pkexec"})
    if (FileExists(p)) return true;
  return false;
#endif
}

std::string UsbSetupResult::Report() const {
  std::string text = "wrote the device into " + configPath + "\n";
  if (command.empty()) return text;
  text += "the udev rule that lets users open it, saved as " + ruleFile + ":\n" + ruleText;
  if (!ruleText.empty() && ruleText.back() != '\n') text += "\n";
  text += "install it as " + std::string(kUdevRulesDir) + "/" + kUdevRuleName +
          " with this command (it asks for an administrator's password):\n" + command + "\n";
  return text;
}

bool SetUpUsbDevice(const UsbSetupCandidate& device, UsbSetupResult& result, std::string* why) {
  result = UsbSetupResult{};
  result.configPath = UsbConfigPath();
  if (!WriteUsbConfigEntry(result.configPath, device, why)) return false;
#ifndef _WIN32
  result.ruleFile = FolderPart(result.configPath) + kUdevRuleName;
  result.ruleText = UdevRuleText(device.vendor, device.product);
  AtomicFileWriter out;
  if (!out.Open(result.ruleFile) || !out.Write(result.ruleText.data(), result.ruleText.size()) ||
      !out.Commit()) {
    if (why) *why = "cannot write " + result.ruleFile + ": " + std::strerror(out.Error());
    return false;
  }
  result.command = UdevInstallCommand(result.ruleFile, device.vendor, device.product,
                                      PkexecInstalled());
#endif
  return true;
}

}  // namespace edog
