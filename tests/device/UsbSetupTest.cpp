// The USB device setup's logic: which listed devices are offered, choosing one, writing
// usb.conf, and the udev rule with its install command.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "device/UsbConfig.h"
#include "device/UsbSetup.h"
#include "support/TestSupport.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace edog {
namespace {

// As the libusb library lists devices: a standard-class device gets no line to configure.
constexpr const char* kListing =
    "Bus 001 Device 002: ID 0781:5581\n"
    "  interface 0: bulk OUT 0x02 IN 0x81 (mass storage (class 08): not usable)\n"
    "Bus 001 Device 007: ID 1d6b:0f17\n"
    "  interface 0: bulk OUT 0x02 IN 0x81\n"
    "  EDOG_USB_ID=1d6b:0f17:0:0x02:0x81\n"
    "Bus 002 Device 003: ID 1d6b:0f17\n"
    "  interface 1: bulk OUT 0x01 IN 0x82\n"
    "  EDOG_USB_ID=1d6b:0f17:1:0x01:0x82\n"
    "Bus 002 Device 004: ID 04b4:00f3\n"
    "  interface 0: bulk OUT 0x01 IN 0x81\n"
    "  EDOG_USB_ID=04b4:00f3:0:0x01:0x81\n";

TEST(UsbSetup, OffersOnlyTheDevicesTheListingGivesALineFor) {
  const auto c = UsbSetupCandidates(kListing);
  ASSERT_EQ(c.size(), 3u);
  EXPECT_EQ(c[0].entry, "1d6b:0f17:0:0x02:0x81");
  EXPECT_EQ(c[0].place, "Bus 001 Device 007");
  EXPECT_EQ(c[2].Id(), "04b4:00f3");
  EXPECT_TRUE(UsbSetupCandidates("no USB devices are attached\n").empty());
}

struct ChoiceCase {
  const char* choice;
  int index;
  const char* why;
};

TEST(UsbSetup, ChoosesByNumberOrIds) {
  const auto c = UsbSetupCandidates(kListing);
  for (const ChoiceCase& k : {ChoiceCase{"1", 0, ""}, ChoiceCase{"3", 2, ""},
                              ChoiceCase{"04B4:00F3", 2, ""}, ChoiceCase{" 04b4:00f3 ", 2, ""},
                              ChoiceCase{"0", -1, "choose 1 to 3"},
                              ChoiceCase{"4", -1, "there is no device 4"},
                              ChoiceCase{"1d6b:0f17", -1, "choose it by number"},
                              ChoiceCase{"0781:5581", -1, "no attached device with a vendor-specific interface"},
                              ChoiceCase{"usb", -1, "neither a number nor vid:pid"}}) {
    std::string why;
    EXPECT_EQ(ChooseUsbSetupCandidate(c, k.choice, &why), k.index) << k.choice;
    EXPECT_NE(why.find(k.why), std::string::npos) << k.choice << ": " << why;
  }
}

TEST(UsbSetup, WritesTheDeviceKeepingTheOtherLines) {
  test::TempDir dir;
  const std::string path = dir / "edog/usb.conf";  // its folder is made
  const auto c = UsbSetupCandidates(kListing);
  std::string why;
  ASSERT_TRUE(WriteUsbConfigEntry(path, c[2], &why)) << why;
  EXPECT_EQ(test::ReadText(path), "04b4:00f3:0:0x01:0x81\n");
  test::WriteFile(path, std::string("# mine\ndetach-driver\n1d6b:0f17 # old\n04b4:00f3:0:0x01:0x81\n"));
  ASSERT_TRUE(WriteUsbConfigEntry(path, c[0], &why)) << why;
  EXPECT_EQ(test::ReadText(path), "# mine\ndetach-driver\n04b4:00f3:0:0x01:0x81\n1d6b:0f17:0:0x02:0x81\n");
  // What the library reads from it.
  test::SetEnv("XDG_CONFIG_HOME", dir.Path());
  test::UnsetEnv(kUsbIdEnv);
  const UsbConfig config = LoadUsbConfig();
  test::UnsetEnv("XDG_CONFIG_HOME");
  ASSERT_EQ(config.devices.size(), 2u);
  EXPECT_EQ(config.devices[1].interfaceNumber, 0);
  EXPECT_TRUE(config.detachDriver);
#ifndef _WIN32
  // A pipe in its place is refused, not read.
  const std::string fifo = dir / "fifo.conf";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(WriteUsbConfigEntry(fifo, c[0], &why));
  EXPECT_NE(why.find("not a regular file"), std::string::npos) << why;
#endif
}

TEST(UsbSetup, RuleForTheDeviceMatchesItAndNoOther) {
  const std::string tmpl =
      test::ReadText(test::SourceDir() + "/packaging/udev/60-edog-usb.rules.in");
  const std::string rule = UdevRuleText(0x1d6b, 0x0f17, tmpl);
  EXPECT_EQ(rule.find("@VID@"), std::string::npos);
  EXPECT_NE(rule.find("ATTR{idVendor}==\"1d6b\", ATTR{idProduct}==\"0f17\""), std::string::npos) << rule;
  EXPECT_TRUE(UdevRuleMatches(rule, 0x1d6b, 0x0f17));
  EXPECT_FALSE(UdevRuleMatches(rule, 0x1d6b, 0x0f18));
  EXPECT_FALSE(UdevRuleMatches(tmpl, 0x1d6b, 0x0f17));
  EXPECT_FALSE(UdevRuleMatches("# ATTR{idVendor}==\"1d6b\", ATTR{idProduct}==\"0f17\"\n", 0x1d6b,
                               0x0f17));  // commented out
  // The template's instructions are done, not copied: one comment, then its rule.
  EXPECT_EQ(rule.find("Replace"), std::string::npos) << rule;
  EXPECT_EQ(rule.find("\nSUBSYSTEM==\"usb\""), rule.find('\n')) << rule;
  // Without a template the rule line is the same.
  EXPECT_TRUE(UdevRuleMatches(UdevRuleText(0x1d6b, 0x0f17, ""), 0x1d6b, 0x0f17));
}

TEST(UsbSetup, InstallCommandQuotesTheRuleFileAndAppliesToTheDevice) {
  const std::string command = UdevInstallCommand("/home/a b/it's.rules", 0x1d6b, 0x0f17, false);
  EXPECT_EQ(command.rfind("sudo sh -c '", 0), 0u) << command;
  EXPECT_NE(command.find("udevadm trigger --action=add --subsystem-match=usb "
                         "--attr-match=idVendor=1d6b --attr-match=idProduct=0f17"),
            std::string::npos) << command;
  EXPECT_EQ(UdevInstallCommand("/r", 1, 2, true).rfind("pkexec sh -c '", 0), 0u);
#ifndef _WIN32
  // What a shell makes of it: install gets the file as one word, whatever it is called.
  test::TempDir dir;
  test::WriteFile(dir / "run.sh", "udevadm() { :; }\ninstall() { printf '[%s]' \"$@\"; }\n"
                                  "sudo() { shift 2; eval \"$1\"; }\n" + command + "\n");
  FILE* sh = ::popen(("sh " + (dir / "run.sh")).c_str(), "r");
  ASSERT_NE(sh, nullptr);
  char out[512] = {};
  const size_t n = std::fread(out, 1, sizeof out - 1, sh);
  ::pclose(sh);
  EXPECT_EQ(std::string(out, n),
            "[-m][0644][/home/a b/it's.rules][/etc/udev/rules.d/60-edog-usb.rules]");
#endif
}

}  // namespace
}  // namespace edog
