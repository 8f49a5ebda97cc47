#include "device/Doctor.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "common/AtomicFile.h"
#include "common/DynamicLibrary.h"
#include "common/FileChecks.h"
#include "common/Files.h"
#include "common/FsPath.h"
#include "common/Paths.h"
#include "common/TempFolder.h"
#include "common/VendorPath.h"
#include "device/NoDeviceHint.h"
#include "device/SerialPorts.h"
#include "device/UsbConfig.h"
#include "device/UsbLibrary.h"
#include "device/UsbSetup.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace edog {

int ElfBits(const uint8_t* data, size_t size) {
  if (size < 5 || std::memcmp(data, "\x7f" "ELF", 4) != 0) return 0;
  return data[4] == 1 ? 32 : data[4] == 2 ? 64 : 0;
}

namespace {

constexpr int kProgramBits = static_cast<int>(sizeof(void*) * 8);

std::string FileNameOf(const std::string& path) { return path.substr(FileNameStart(path)); }

DoctorCheck Ok(const std::string& what, const std::string& text) { return {what, true, text}; }
DoctorCheck Fix(const std::string& what, const std::string& text) { return {what, false, text}; }

// Where a library named by base name would be found first: the program's folder, then the
// installed ../lib/edog/ (a path is itself). Empty when neither holds it.
std::string LibraryFile(const std::string& nameOrPath) {
  if (nameOrPath.find_first_of(FolderSeparators()) != std::string::npos) return nameOrPath;
  const std::string file = DynamicLibrary::PlatformFileName(nameOrPath);
  for (const std::string& folder : {ProgramDirectory(), ProgramDirectory() + "../lib/edog/"})
    if (FileExists(folder + file)) return folder + file;
  return {};
}

// A library that is there but does not load: its reason, and where the word sizes differ
// (which the loader's own words leave to guess on Linux), what to use instead.
std::string LoadFix(const std::string& nameOrPath, const std::string& why) {
  std::string text = why;
  const std::string path = LibraryFile(nameOrPath);
  const BoundedRead head = path.empty() ? BoundedRead{} : ReadRegularFile(path, 256 * 1024 * 1024);
  if (head.status == BoundedRead::kOk) {
    if (const int bits = ElfBits(head.data.data(), head.data.size()); bits && bits != kProgramBits)
      text += "; it is a " + std::to_string(bits) + "-bit library and this program is " +
              std::to_string(kProgramBits) + "-bit: put the " + std::to_string(kProgramBits) +
              "-bit " + FileNameOf(path) +
              " of this build in its place";
  }
  return text;
}

DoctorCheck DeviceLibraryCheck(const DoctorInputs& in, std::shared_ptr<UsbLibrary>& library) {
  const char* what = "device library";
  if (!in.deviceChoiceError.empty()) return Fix(what, in.deviceChoiceError);
  std::string why;
  library = UsbLibrary::Load(in.deviceLibrary, &why);
  if (!library && why.empty()) return Fix(what, NoDeviceHint(NoDeviceFactsOf(nullptr, in.deviceLibrary)));
  if (!library) return Fix(what, LoadFix(in.deviceLibrary, why));
  if (!why.empty()) {
    library.reset();
    return Fix(what, why + ": it is not the device library; put the one of this build in its place");
  }
  return Ok(what, library->Path() + " (open_dev, open_file" +
                      (library->StandIn() ? "; edog-sim plays the device behind it)" : ")"));
}

DoctorCheck EncoderCheck(const DoctorInputs& in) {
  const char* what = "voice encoder library";
  std::string why;
  const auto lib = DynamicLibrary::Load(in.encoderLibrary, &why);
  const std::string file = DynamicLibrary::PlatformFileName(in.encoderLibrary);
  if (!lib && why.empty())
    return Fix(what, file + " is neither beside the program nor in the system's library folder: "
                            "only KOVA Data Generation needs it; put it beside the program");
  if (!lib) return Fix(what, LoadFix(in.encoderLibrary, why));
  if (!lib->Symbol(in.encoderExport.c_str()))
    return Fix(what, lib->Path() + " has no export \"" + in.encoderExport +
                         "\": it is not the voice encoder; put the right " + file + " in its place");
  return Ok(what, lib->Path() + " (" + in.encoderExport + ")");
}

DoctorCheck PackageCheck(const DoctorInputs& in) {
  const char* what = "update package";
  const PackageLookup lookup = FindPackage(in.packagePlaces);
  if (lookup.found) {
    std::string why;
    if (!in.packagePlaces.chosen.empty())
      why = "named on the command line: your own choice";
    else if (FolderPart(lookup.path) == in.packagePlaces.programDir)
      why = "beside the program: trusted as the program is";
    else
      why = "no other user than you or root can change it or its folder";
    return Ok(what, lookup.path + " (" + why + ")");
  }
  if (!lookup.refusal.empty())
    return Fix(what, "refused: " + lookup.refusal);
  std::string places;
  for (const std::string& c : lookup.candidates) places += (places.empty() ? "" : ", ") + c;
  return Fix(what, "not found; looked at " + places + ": put the update package into the first of them");
}

#ifndef _WIN32
std::string Hex4(unsigned v) {
  char s[8];
  std::snprintf(s, sizeof s, "%04x", v & 0xffff);
  return s;
}

SerialAccess SystemSerialAccess(const std::string& port) {
  SerialAccess a;
  a.canOpen = ::access(port.c_str(), R_OK | W_OK) == 0;
  a.group = GroupThatMayOpen(port);
  return a;
}

std::string ReadSmall(const std::string& path) {
  const BoundedRead r = ReadRegularFile(path, 4096);
  std::string s = r.status == BoundedRead::kOk ? std::string(r.data.begin(), r.data.end()) : "";
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

// The configured device as sysfs shows it.
struct UsbNode {
  std::string sysfs;  // its folder
  std::string node;   // /dev/bus/usb/BBB/DDD
  UsbDeviceEntry entry;
};

bool FindAttached(const DoctorInputs& in, const UsbConfig& config, UsbNode& found) {
  std::error_code ec;
  for (const UsbDeviceEntry& e : config.devices) {
    for (const auto& dir : std::filesystem::directory_iterator(FsPath(in.sysfsUsbDevices), ec)) {
      const std::string d = dir.path().string();
      if (d.find(':') != std::string::npos) continue;  // an interface
      if (ReadSmall(d + "/idVendor") != Hex4(e.vendor) || ReadSmall(d + "/idProduct") != Hex4(e.product))
        continue;
      char node[16];
      std::snprintf(node, sizeof node, "/%03d/%03d", std::atoi(ReadSmall(d + "/busnum").c_str()),
                    std::atoi(ReadSmall(d + "/devnum").c_str()));
      found = {d, in.usbDeviceNodes + node, e};
      return true;
    }
  }
  return false;
}

// Kernel drivers bound to the device's vendor-specific interfaces: "interface N (driver)".
std::string BoundVendorInterfaces(const UsbNode& dev) {
  std::string bound;
  std::error_code ec;
  const std::string base = FileNameOf(dev.sysfs) + ":";
  for (const auto& dir : std::filesystem::directory_iterator(FsPath(dev.sysfs), ec)) {
    const std::string name = dir.path().filename().string();
    if (name.rfind(base, 0) != 0) continue;
    const std::string d = dir.path().string();
    if (ReadSmall(d + "/bInterfaceClass") != "ff") continue;
    std::error_code le;
    const auto driver = std::filesystem::read_symlink(dir.path() / "driver", le);
    if (le) continue;
    bound += (bound.empty() ? "" : ", ") + std::string("interface ") +
             std::to_string(std::atoi(ReadSmall(d + "/bInterfaceNumber").c_str())) + " (" +
             driver.filename().string() + ")";
  }
  return bound;
}

std::string InstalledRuleFor(const DoctorInputs& in, const UsbDeviceEntry& e) {
  std::error_code ec;
  for (const std::string& folder : in.udevRuleDirs) {
    for (const auto& f : std::filesystem::directory_iterator(FsPath(folder), ec)) {
      if (f.path().extension() != ".rules") continue;
      const BoundedRead r = ReadRegularFile(f.path().string(), 1024 * 1024);
      if (r.status == BoundedRead::kOk &&
          UdevRuleMatches(std::string(r.data.begin(), r.data.end()), e.vendor, e.product))
        return f.path().string();
    }
  }
  return {};
}

// The real device's setup on Linux, before its presence: ids, attached, rule, node, driver.
// False once a step fails that the later ones depend on.
bool LinuxUsbChecks(const DoctorInputs& in, std::vector<DoctorCheck>& out) {
  const UsbConfig config = LoadUsbConfig();
  std::string problems;
  for (const std::string& p : config.problems) problems += (problems.empty() ? "" : "; ") + p;
  if (!config.Configured()) {
    out.push_back(Fix("USB ids", (problems.empty() ? "" : problems + "; ") +
                                     "none configured: attach the device and run 'edogtool "
                                     "usb-setup' (or USB设备设置... in the window's right-click menu), "
                                     "which writes its ids into " + UsbConfigPath()));
    return false;
  }
  std::string ids;
  for (const UsbDeviceEntry& e : config.devices)
    ids += (ids.empty() ? "" : ", ") + Hex4(e.vendor) + ":" + Hex4(e.product) + " (" + e.origin + ")";
  if (!problems.empty()) {
    out.push_back(Fix("USB ids", ids + "; but " + problems + ": correct or remove those lines"));
  } else {
    out.push_back(Ok("USB ids", ids));
  }
  UsbNode dev;
  if (!FindAttached(in, config, dev)) {
    out.push_back(Fix("USB device attached", "none of " + ids +
                                                 " is attached: attach the device ('edogtool "
                                                 "usb-list' shows what is)"));
    return false;
  }
  const std::string id = Hex4(dev.entry.vendor) + ":" + Hex4(dev.entry.product);
  out.push_back(Ok("USB device attached", id + " at " + dev.node));
  const std::string rule = InstalledRuleFor(in, dev.entry);
  if (rule.empty()) {
    out.push_back(Fix("udev rule", "no installed udev rule names " + id +
                                       ": run 'edogtool usb-setup " + id +
                                       "' and the command it prints"));
  } else {
    out.push_back(Ok("udev rule", rule));
  }
  const bool canOpen = in.canReadWrite ? in.canReadWrite(dev.node)
                                        : ::access(dev.node.c_str(), R_OK | W_OK) == 0;
  if (canOpen) {
    out.push_back(Ok("USB device node", dev.node + ": read and write"));
  } else if (const std::string group = rule.empty() ? "" : GroupThatMayOpen(dev.node);
             !group.empty()) {
    out.push_back(Fix("USB device node", dev.node + " belongs to group " + group +
                                             ", which you are not a member of: add yourself with "
                                             "\"sudo usermod -aG " + group + " $USER\" and log in again"));
  } else {
    out.push_back(Fix("USB device node",
                      "you may not open " + dev.node +
                          (rule.empty() ? ": install the udev rule (above)"
                                        : ": replug the device so that the rule " + rule + " applies")));
  }
  const std::string bound = BoundVendorInterfaces(dev);
  if (bound.empty()) {
    out.push_back(Ok("kernel driver", "none on the device's vendor-specific interface"));
  } else if (config.detachDriver) {
    out.push_back(Ok("kernel driver", bound + ": the library detaches it (detach-driver is set)"));
  } else {
    out.push_back(Fix("kernel driver", bound + " holds the device's interface: " + UsbDetachHint()));
  }
  return true;
}
#endif

DoctorCheck PresenceCheck(const std::shared_ptr<UsbLibrary>& library, const DoctorInputs& in) {
  const char* what = "device";
  if (library->DevicePresent()) return Ok(what, "answers through " + library->Path());
  const std::string problem = library->Problem();
  if (!problem.empty()) return Fix(what, problem);
  return Fix(what, NoDeviceHint(NoDeviceFactsOf(library.get(), in.deviceLibrary)));
}

void SerialChecks(const DoctorInputs& in, std::vector<DoctorCheck>& out) {
  const std::vector<std::string> ports = in.serialPorts ? in.serialPorts() : SystemSerialPorts();
  if (ports.empty()) {
    out.push_back(Ok("serial ports", "none (only a file for the serial line needs one)"));
    return;
  }
  for (const std::string& port : ports) {
#ifdef _WIN32
    // Windows lets every user open a free COM port.
    (void)in;
    out.push_back(Ok("serial port " + port, "listed by the system"));
#else
    const SerialAccess a = in.serialAccess ? in.serialAccess(port) : SystemSerialAccess(port);
    if (a.canOpen)
      out.push_back(Ok("serial port " + port, "read and write"));
    else
      out.push_back(Fix("serial port " + port, SerialPermissionText(port, a.group)));
#endif
  }
}

DoctorCheck TempCheck(std::string* folderOut) {
  const char* what = "temp folder";
  const TempFolderChoice t = ChooseTempFolder();
  if (t.folder.empty()) return Fix(what, "there is none: set TMP to a folder of yours");
  if (!t.problem.empty()) return Fix(what, t.problem);
  AtomicFileWriter probe;
  if (!probe.Open(JoinPath(t.folder, "edog-doctor"))) {
    return Fix(what, "cannot create files in " + t.folder + " (" + probe.OpenFailureText() +
                         "): set TMP to a folder you may write");
  }
  probe.Discard();
  *folderOut = t.folder;
  return Ok(what, t.folder + (t.note.empty() ? "" : " (" + t.note + ")"));
}

}  // namespace

std::vector<DoctorCheck> RunDoctor(const DoctorInputs& in) {
  std::vector<DoctorCheck> out;
  std::shared_ptr<UsbLibrary> library;
  out.push_back(DeviceLibraryCheck(in, library));
  out.push_back(EncoderCheck(in));
  out.push_back(PackageCheck(in));
  if (library) {
    bool go = true;
#ifndef _WIN32
    if (!library->StandIn()) go = LinuxUsbChecks(in, out);
#endif
    if (go) out.push_back(PresenceCheck(library, in));
  }
  SerialChecks(in, out);
  std::string temp;
  out.push_back(TempCheck(&temp));
#ifdef _WIN32
  // The closed libraries take paths in the ANSI code page: the temp folder's must convert.
  const NarrowPathSystem system = SystemNarrowPaths();
  if (!temp.empty()) {
    const NarrowPath p = NarrowInputPath(temp, system);
    if (p.ok)
      out.push_back(Ok("code page", system.codePage + ": the temp folder's path reaches the closed libraries"));
    else
      out.push_back(Fix("code page", p.why + "; set TMP to a folder whose path code page " +
                                         system.codePage + " can hold (plain ASCII)"));
  }
#else
  (void)temp;
#endif
  return out;
}

std::string DoctorReport(const std::vector<DoctorCheck>& checks) {
  std::string text;
  for (const DoctorCheck& c : checks) text += (c.ok ? "OK   " : "FIX  ") + c.what + ": " + c.text + "\n";
  text += DoctorPassed(checks) ? "all checks passed\n" : "some checks need a fix (FIX lines)\n";
  return text;
}

bool DoctorPassed(const std::vector<DoctorCheck>& checks) {
  for (const DoctorCheck& c : checks)
    if (!c.ok) return false;
  return true;
}

}  // namespace edog
