// edogtool doctor's checks against a setup built in a scratch folder: each broken part
// gives one FIX, in its own check, naming the fix; a whole setup passes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>

#include "common/DynamicLibrary.h"
#include "common/Files.h"
#include "device/Doctor.h"
#include "device/UsbConfig.h"
#include "support/TestSupport.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace edog {
namespace {

// A scratch setup that holds: a device library that always answers (the null device), the
// encoder, a package, and on Linux a configured device with its rule, node and sysfs entry.
struct Scratch {
  test::TempDir dir;
  DoctorInputs in;
  std::optional<std::string> oldTmp = EnvironmentValue("TMP");
  Scratch() {
    test::SetEnv("XDG_CONFIG_HOME", dir / "config");
    test::SetEnv(kUsbIdEnv, "1d6b:0f17");
    in.deviceLibrary = EMPTY_BLOCK_DEVICE;
    in.encoderLibrary = test::PluginPath("Kova100");
    test::WriteFile(dir / "qzkt.dll", std::string("package"));
    in.packagePlaces.chosen = dir / "qzkt.dll";
    namespace fs = std::filesystem;
    fs::create_directories(dir / "sys/1-1/1-1:1.0");
    for (const auto& [file, text] : {std::pair{"idVendor", "1d6b\n"}, {"idProduct", "0f17\n"},
                                     {"busnum", "1\n"}, {"devnum", "7\n"}})
      test::WriteFile(dir / "sys/1-1/" + file, std::string(text));
    test::WriteFile(dir / "sys/1-1/1-1:1.0/bInterfaceClass", std::string("ff\n"));
    test::WriteFile(dir / "sys/1-1/1-1:1.0/bInterfaceNumber", std::string("00\n"));
    in.sysfsUsbDevices = dir / "sys";
    fs::create_directories(dir / "rules");
    test::WriteFile(dir / "rules/60-edog-usb.rules",
                    std::string("SUBSYSTEM==\"usb\", ATTR{idVendor}==\"1d6b\", "
                                "ATTR{idProduct}==\"0f17\", MODE=\"0660\", TAG+=\"uaccess\"\n"));
    in.udevRuleDirs = {dir / "rules"};
    fs::create_directories(dir / "dev/001");
    test::WriteFile(dir / "dev/001/007", std::string());
    in.usbDeviceNodes = dir / "dev";
    in.canReadWrite = [](const std::string&) { return true; };
    in.serialPorts = [] { return std::vector<std::string>{"/dev/ttyUSB0"}; };
    in.serialAccess = [](const std::string&) { return SerialAccess{true, ""}; };
  }
  ~Scratch() {
    if (oldTmp) test::SetEnv("TMP", *oldTmp); else test::UnsetEnv("TMP");
    test::UnsetEnv(kUsbIdEnv);
    test::UnsetEnv("XDG_CONFIG_HOME");
  }
};

struct Broken {
  const char* name;
  std::function<void(Scratch&)> breakIt;
  const char* check;  // the one check that fails
  const char* fix;    // what its text says
};
void PrintTo(const Broken& b, std::ostream* os) { *os << b.name; }

class DoctorNamesTheFix : public ::testing::TestWithParam<Broken> {};

TEST_P(DoctorNamesTheFix, InTheCheckThatFails) {
  Scratch s;
  GetParam().breakIt(s);
  const auto checks = RunDoctor(s.in);
  std::vector<std::string> failed;
  for (const DoctorCheck& c : checks)
    if (!c.ok) failed.push_back(c.what + ": " + c.text);
  ASSERT_EQ(failed.size(), 1u) << DoctorReport(checks);
  EXPECT_EQ(failed[0].rfind(std::string(GetParam().check) + ": ", 0), 0u) << failed[0];
  EXPECT_NE(failed[0].find(GetParam().fix), std::string::npos) << failed[0];
  EXPECT_FALSE(DoctorPassed(checks));
  EXPECT_NE(DoctorReport(checks).find("FIX  " + failed[0] + "\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Setups, DoctorNamesTheFix,
    ::testing::Values(
        Broken{"MissingDeviceLibrary", [](Scratch& s) { s.in.deviceLibrary = "NoSuchDeviceLibrary"; },
               "device library", "belongs beside the program"},
        Broken{"EncoderWithoutItsExport", [](Scratch& s) { s.in.encoderLibrary = EMPTY_BLOCK_DEVICE; },
               "voice encoder library", "has no export \"Encoder\""},
#ifndef _WIN32
        Broken{"LibraryOfTheOtherWordSize",
               [](Scratch& s) {
                 // An ELF header of the other class, as a 32-bit build's library has.
                 std::string elf(64, '\0');
                 elf.replace(0, 5, sizeof(void*) == 8 ? "\x7f" "ELF\x01" : "\x7f" "ELF\x02");
                 elf[5] = 1;
                 elf[6] = 1;
                 test::WriteFile(s.dir / "libOther.so", elf);
                 s.in.deviceLibrary = s.dir / "libOther.so";
               },
               "device library", sizeof(void*) == 8 ? "it is a 32-bit library and this program is 64-bit"
                                                    : "it is a 64-bit library and this program is 32-bit"},
        Broken{"RefusedPackage",
               [](Scratch& s) {
                 // Found in the data folder, where another user could have put it.
                 s.in.packagePlaces = PackagePlaces{"", s.dir / "prog/", s.dir / "data", s.dir.Path()};
                 std::filesystem::create_directories(s.dir / "data/edog");
                 test::WriteFile(s.dir / "data/edog/qzkt.dll", std::string("package"));
                 ::chmod((s.dir / "data/edog/qzkt.dll").c_str(), 0666);
               },
               "update package", "refused: "},
        Broken{"NoIds", [](Scratch&) { test::UnsetEnv(kUsbIdEnv); }, "USB ids", "'edogtool usb-setup'"},
        Broken{"NoUdevRule", [](Scratch& s) { s.in.udevRuleDirs = {s.dir / "none"}; }, "udev rule",
               "run 'edogtool usb-setup 1d6b:0f17' and the command it prints"},
        Broken{"NodeNotOpenable",
               [](Scratch& s) { s.in.canReadWrite = [](const std::string&) { return false; }; },
               "USB device node", "replug the device so that the rule"},
        Broken{"KernelDriverOnTheInterface",
               [](Scratch& s) {
                 std::filesystem::create_directory_symlink(s.dir / "rules",
                                                           s.dir / "sys/1-1/1-1:1.0/driver");
               },
               "kernel driver", "write the line 'detach-driver'"},
        Broken{"DialoutPortWithoutTheGroup",
               [](Scratch& s) { s.in.serialAccess = [](const std::string&) { return SerialAccess{false, "dialout"}; }; },
               "serial port /dev/ttyUSB0", "\"sudo usermod -aG dialout $USER\""},
        Broken{"RootOnlyPort",
               [](Scratch& s) { s.in.serialAccess = [](const std::string&) { return SerialAccess{false, ""}; }; },
               "serial port /dev/ttyUSB0", "ask for read and write access"},
        Broken{"TempFolderOthersMayWrite",
               [](Scratch& s) {
                 std::filesystem::create_directory(s.dir / "open");
                 ::chmod((s.dir / "open").c_str(), 0777);  // not sticky
                 test::SetEnv("TMP", s.dir / "open");
               },
               "temp folder", "set TMP to a folder of your own"},
#else
        Broken{"DllOfTheOtherProcessor",
               [](Scratch& s) {
                 // A PE header of the other word size, as the wrong build's DLL has.
                 std::vector<uint8_t> pe(0x88, 0);
                 pe[0] = 'M';
                 pe[1] = 'Z';
                 pe[0x3C] = 0x80;
                 std::copy_n("PE\0\0", 4, pe.begin() + 0x80);
                 const uint16_t machine = sizeof(void*) == 8 ? 0x014C : 0x8664;
                 pe[0x84] = static_cast<uint8_t>(machine);
                 pe[0x85] = static_cast<uint8_t>(machine >> 8);
                 test::WriteFile(s.dir / "Other.dll", pe);
                 s.in.deviceLibrary = s.dir / "Other.dll";
               },
               "device library", sizeof(void*) == 8 ? "it is a 32-bit DLL and this program is 64-bit"
                                                    : "it is a 64-bit DLL and this program is 32-bit"},
#endif
        Broken{"NoPackage", [](Scratch& s) { s.in.packagePlaces.chosen = s.dir / "none/qzkt.dll"; },
               "update package", "not found; looked at"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Doctor, AWholeSetupPassesInTheOrderAUserMeetsIt) {
  Scratch s;
  const auto checks = RunDoctor(s.in);
  std::string order;
  for (const DoctorCheck& c : checks) order += c.what + "; ";
#ifdef _WIN32
  EXPECT_EQ(order.rfind("device library; voice encoder library; update package; device; ", 0), 0u) << order;
#else
  EXPECT_EQ(order, "device library; voice encoder library; update package; USB ids; USB device "
                   "attached; udev rule; USB device node; kernel driver; device; serial port "
                   "/dev/ttyUSB0; temp folder; ")
      << DoctorReport(checks);
#endif
  EXPECT_TRUE(DoctorPassed(checks)) << DoctorReport(checks);
  EXPECT_NE(DoctorReport(checks).find("all checks passed"), std::string::npos);
}

TEST(Doctor, ElfWordSize) {
  EXPECT_EQ(ElfBits(reinterpret_cast<const uint8_t*>("\x7f" "ELF\x01"), 5), 32);
  EXPECT_EQ(ElfBits(reinterpret_cast<const uint8_t*>("\x7f" "ELF\x02"), 5), 64);
  EXPECT_EQ(ElfBits(reinterpret_cast<const uint8_t*>("MZ\x90\0\x03"), 5), 0);
}

}  // namespace
}  // namespace edog
