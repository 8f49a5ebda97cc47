#pragma once
// Setting up a real USB device for the libusb device library: which attached devices can be
// the device (those the library's listing offers a line for: a vendor-specific interface
// with a bulk OUT and a bulk IN endpoint, never one of a standard class), writing the
// chosen one into usb.conf, and the udev rule that lets users open it, with the command
// that installs the rule. One code path for `edogtool usb-setup`, the window's setup
// dialog and the tests; no window here.
#include <cstdint>
#include <string>
#include <vector>

namespace edog {

struct UsbSetupCandidate {
  uint16_t vendor = 0, product = 0;
  std::string entry;  // the usb.conf line, e.g. "1d6b:0f17:0:0x02:0x81"
  std::string place;  // "Bus 001 Device 007"
  std::string Id() const;  // "1d6b:0f17"
};

// The candidates in a device listing (UsbLibrary::ListDevices): each device under which
// the listing offers an "EDOG_USB_ID=" line.
std::vector<UsbSetupCandidate> UsbSetupCandidates(const std::string& listing);

// The candidates attached now, as the real device's library (HaldenUSB-usb) lists them.
// False with the reason when the library cannot be loaded or cannot list.
bool ListUsbSetupCandidates(std::vector<UsbSetupCandidate>& candidates, std::string* why);

// The candidate that `choice` names: its number in the list (from 1) or its vid:pid.
// -1 with the reason in `why` when it names none, or more than one.
int ChooseUsbSetupCandidate(const std::vector<UsbSetupCandidate>& candidates,
                            const std::string& choice, std::string* why);

// Makes `entry` the configuration file's device: lines naming other devices, comments and
// "detach-driver" stay; a line for the same vid:pid is replaced; the new line goes last.
// Written whole or not at all; its folder is made when missing. False with the reason.
bool WriteUsbConfigEntry(const std::string& path, const UsbSetupCandidate& device,
                         std::string* why);

// The installed rule's name and folder.
constexpr const char* kUdevRulesDir = "/etc/udev/rules.d";
constexpr const char* kUdevRuleName = "60-edog-usb.rules";

// The udev rule for the device: the template (UdevRuleTemplatePath) with its ids filled
// in, or the template's rule line when the template cannot be read.
std::string UdevRuleText(uint16_t vendor, uint16_t product,
                         const std::string& templateText);
std::string UdevRuleText(uint16_t vendor, uint16_t product);  // the installed template

// Whether a rules file's text lets users open the device: a line that names both ids.
bool UdevRuleMatches(const std::string& rulesText, uint16_t vendor, uint16_t product);

// The one shell command that installs the rule file saved at `ruleFile` and applies it to
// the attached device: through pkexec when `pkexec` is true, else sudo.
std::string UdevInstallCommand(const std::string& ruleFile, uint16_t vendor, uint16_t product,
                               bool pkexec);
// Whether pkexec is installed (a graphical password prompt for the window's user).
bool PkexecInstalled();

struct UsbSetupResult {
  std::string configPath;   // usb.conf, now naming the device
  std::string ruleFile;     // the rule, saved beside usb.conf for the command to install
  std::string ruleText;
  std::string command;      // installs it (empty on Windows, which has no udev)
  std::string Report() const;  // what the user reads: where it went, the rule, the command
};

// Writes usb.conf and the rule file for `device`. False with the reason.
bool SetUpUsbDevice(const UsbSetupCandidate& device, UsbSetupResult& result, std::string* why);

}  // namespace edog
