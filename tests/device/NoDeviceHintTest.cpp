// What edogtool says when no device answered, for each kind of device library on each
// platform: only the stand-in points at edog-sim.
#include <gtest/gtest.h>

#include "device/NoDeviceHint.h"
#include "device/UsbLibrary.h"
#include "support/TestSupport.h"

namespace edog {
namespace {

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(NoDeviceHint, OnlyTheStandInPointsAtTheSimulator) {
  struct Case {
    const char* what;
    NoDeviceFacts facts;
    std::vector<std::string> says;
  };
  const Case cases[] = {
      {"Linux stand-in, no simulator", {"libHaldenUSB.so", "/bin/libHaldenUSB.so", true, false, false},
       {"no device answered through /bin/libHaldenUSB.so", "edogtool sim", "run again"}},
      {"Linux stand-in missing", {"libHaldenUSB.so", "", true, false, false},
       {"libHaldenUSB.so could not be loaded", "beside the program"}},
      {"Linux real device", {"libHaldenUSB-usb.so", "/bin/libHaldenUSB-usb.so", false, false, false},
       {"no USB device answered through /bin/libHaldenUSB-usb.so"}},
      {"Linux real device's library missing", {"libHaldenUSB-usb.so", "", false, false, false},
       {"libHaldenUSB-usb.so could not be loaded"}},
      {"Windows user build, no device", {"HaldenUSB.dll", "C:\\e\\HaldenUSB.dll", false, true, true},
       {"no USB device answered through C:\\e\\HaldenUSB.dll", "device maker", "attach the device"}},
      {"Windows user build, DLL missing", {"HaldenUSB.dll", "", false, true, true},
       {"device maker's HaldenUSB.dll", "system folder"}},
      {"Windows developer zip, no simulator", {"HaldenUSB.dll", "C:\\e\\HaldenUSB.dll", true, true, true},
       {"no device answered through C:\\e\\HaldenUSB.dll", "--tcp", "run again"}},
  };
  for (const Case& c : cases) {
    const std::string text = NoDeviceHint(c.facts);
    for (const std::string& part : c.says) EXPECT_TRUE(Has(text, part)) << c.what << ": " << text;
    EXPECT_EQ(Has(text, "edog-sim"), c.facts.standIn) << c.what << ": " << text;
    EXPECT_EQ(Has(text, "device maker"), c.facts.makersFile && !c.facts.standIn) << c.what << ": " << text;
    // Windows has no "edogtool sim": its stand-in reaches the simulator on its TCP port.
    if (c.facts.simOverTcp) {
      EXPECT_FALSE(Has(text, "edogtool sim")) << c.what << ": " << text;
    }
  }
  // The built stand-in says what it is; a library the device answers through does not.
  const auto standIn = UsbLibrary::Load(test::StandInLibrary());
  ASSERT_TRUE(standIn);
  EXPECT_TRUE(NoDeviceFactsOf(standIn.get(), USB_LIBRARY_NAME).standIn);
  EXPECT_FALSE(NoDeviceFactsOf(nullptr, "HaldenUSB-usb").standIn);
}

}  // namespace
}  // namespace edog
