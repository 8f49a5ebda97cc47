// The libusb device library end to end: edogtool with --device usb against a USB device
// that umockdev emulates in this process (sysfs entry, device node, usbfs ioctls).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>

#include "device/UsbConfig.h"
#include "support/HeaderedContent.h"
#include "support/TestSupport.h"
#include "update/Package.h"
#include "usb/MockUsbDevice.h"

namespace edog {
namespace {

using test::MockUsbDevice;
using test::MockUsbFaults;

constexpr const char* kMockId = "1d6b:0f17";

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class LibusbDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string why = MockUsbDevice::WhyUnavailable(); !why.empty())
      GTEST_SKIP() << "umockdev cannot emulate the USB device here: " << why;
    // The user's own configuration must not take part.
    test::SetEnv("XDG_CONFIG_HOME", dir_.Path() + "/config");
    test::SetEnv("TMP", tmp_.Path());
    test::SetEnv(kUsbIdEnv, kMockId);
    test::UnsetEnv("EDOG_DEVICE_LIBRARY");
  }
  void TearDown() override {
    test::UnsetEnv(kUsbIdEnv);
    test::UnsetEnv("XDG_CONFIG_HOME");
  }
  std::string Pack(const test::HeaderedContent& voice) {
    const std::string path = dir_.Path() + "/qzkt.dll";
    const auto other = test::MakeHeaderedContent(Port::Usb, kFlashE, 0x1000, 100, 9);
    EXPECT_EQ(WritePackage(path,
                           {{"edogvoice.hdr", voice.file},
                            {"edogmap.hdr", other.file},
                            {"edogsoftware.hdr", other.file}},
                           KeyForMethod(3)),
              "");
    return path;
  }
  // What the device must have received: the 20-byte command block, then the payload.
  static std::vector<uint8_t> OnTheWire(const test::HeaderedContent& c) {
    std::vector<uint8_t> wire(c.file.begin(), c.file.begin() + 20);
    wire.insert(wire.end(), c.payload.begin(), c.payload.end());
    return wire;
  }
  test::TempDir dir_, tmp_;
};

TEST_F(LibusbDevice, UpdateOverUsbLandsByteExact) {
  MockUsbDevice device;
  ASSERT_TRUE(device.Ok()) << device.Error();
  const auto voice = test::MakeHeaderedContent(Port::Usb, kFlashNand, 0x200, 30000, 1);
  const auto r = test::RunTool({"update", "--voice", "--device", "usb", "--package", Pack(voice)});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("语音文件更新成功!"), std::string::npos) << r.out;
  EXPECT_EQ(device.Received(), OnTheWire(voice));
}

// Each fault ends with its clear message, in bounded time.
struct FaultCase {
  const char* name;
  MockUsbFaults faults;
  const char* usbId;
  int status;
  const char* text;  // said once, on stdout or stderr
  int maxSeconds;
};
void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class LibusbFaults : public LibusbDevice, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(LibusbFaults, EndClearlyWithoutHanging) {
  const FaultCase& c = GetParam();
  test::SetEnv(kUsbIdEnv, c.usbId);
  MockUsbDevice device(c.faults);
  ASSERT_TRUE(device.Ok()) << device.Error();
  const auto voice = test::MakeHeaderedContent(Port::Usb, kFlashSerial, 0x10000, 20000, 2);
  const std::string package = Pack(voice);
  const auto start = std::chrono::steady_clock::now();
  auto run = std::async(std::launch::async, [&] {
    return test::RunTool({"update", "--voice", "--device", "usb", "--trace", "--package", package});
  });
  // An unplug also leaves the system's device list, as the kernel's would.
  if (c.faults.unplugAfterBytes >= 0 && device.WaitUnplugged(c.maxSeconds * 1000))
    device.RemoveFromSystem();
  const auto r = run.get();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
      std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(r.status, c.status) << r.out << r.err;
  EXPECT_EQ(Count(r.out + r.err, c.text), 1u) << r.out << r.err;
  EXPECT_LE(seconds, c.maxSeconds);
  const std::vector<uint8_t> wire = OnTheWire(voice);
  const std::vector<uint8_t> got = device.Received();
  if (c.status == 0) {
    EXPECT_EQ(got, wire);
  } else {
    // Whatever arrived is the start of the file, never doubled or out of order.
    ASSERT_LT(got.size(), wire.size());
    EXPECT_TRUE(std::equal(got.begin(), got.end(), wire.begin()));
  }
  if (c.faults.stallOutUrb >= 0) {
    EXPECT_EQ(device.Stalls(), 1);
    EXPECT_NE(r.err.find("attempt 1 refused"), std::string::npos) << r.err;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, LibusbFaults,
    ::testing::Values(
        // A stalled block is a failed write; the retry puts it through.
        FaultCase{"StallOnce", {3, -1, false}, kMockId, 0, "语音文件更新成功", 30},
        FaultCase{"UnplugMidTransfer", {-1, 9000, false}, kMockId, 1,
                  "has gone or stopped answering after", 30},
        FaultCase{"NeverAnswers", {-1, -1, true}, kMockId, 1, "has not taken any data for", 40},
        FaultCase{"WrongIds", {}, "1234:5678", 1,
                  "no configured USB device is attached: looked for 1234:5678", 30},
        FaultCase{"BadIds", {}, "1d6b", 1, "is not vid:pid", 30}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LibusbDevice, WithoutConfigurationSaysOnceHowToConfigure) {
  test::UnsetEnv(kUsbIdEnv);
  MockUsbDevice device;
  ASSERT_TRUE(device.Ok()) << device.Error();
  const auto voice = test::MakeHeaderedContent(Port::Usb, kFlashSerial, 0, 100, 3);
  const auto r = test::RunTool({"update", "--voice", "--device", "usb", "--package", Pack(voice)});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Count(r.err, "no USB device is configured: with the device attached, run 'edogtool usb-list'"), 1u)
      << r.err;
  // The one sentence names the udev rule template, and the build folder has it there.
  const std::string rule = std::filesystem::path(test::BinDir()).parent_path().string() +
                           "/share/edog/udev/60-edog-usb.rules.in";
  EXPECT_NE(r.err.find("with the udev rule " + rule + " "), std::string::npos) << r.err;
  EXPECT_TRUE(std::filesystem::is_regular_file(rule)) << rule;
  EXPECT_TRUE(device.Received().empty());
}

TEST_F(LibusbDevice, ConfigurationFileNamesTheDevice) {
  test::UnsetEnv(kUsbIdEnv);
  std::filesystem::create_directories(dir_.Path() + "/config/edog");
  test::WriteFile(dir_.Path() + "/config/edog/usb.conf",
                  std::string("# the device\n  1d6b:0f17:0:0x02:0x81  # its pipes\n"));
  MockUsbDevice device;
  ASSERT_TRUE(device.Ok()) << device.Error();
  const auto voice = test::MakeHeaderedContent(Port::Usb, kFlashSerial, 0, 5000, 4);
  // No --device: a configured device makes usb the default.
  const auto r = test::RunTool({"update", "--voice", "--package", Pack(voice)});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(device.Received(), OnTheWire(voice));
}

TEST_F(LibusbDevice, UsbListShowsTheDeviceAndTheLineToConfigure) {
  MockUsbDevice device;
  ASSERT_TRUE(device.Ok()) << device.Error();
  const auto r = test::RunTool({"usb-list"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Bus 001 Device 007: ID 1d6b:0f17\n  interface 0: bulk OUT 0x02 IN 0x81\n"
                       "  EDOG_USB_ID=1d6b:0f17:0:0x02:0x81\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("configured: 1d6b:0f17 (EDOG_USB_ID)"), std::string::npos) << r.out;
}

TEST_F(LibusbDevice, ReadUsbCopiesTheDeviceText) {
  MockUsbDevice device;
  ASSERT_TRUE(device.Ok()) << device.Error();
  const auto r = test::RunTool({"read-usb", "--device", "usb", "--seconds", "1"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "mock device ready\r\n");
  EXPECT_EQ(device.Received(), std::vector<uint8_t>{0x40});
}

// The entry syntax, without a device.
struct EntryCase {
  const char* text;
  bool ok;
  uint16_t vendor = 0, product = 0;
  int interfaceNumber = -1, out = -1, in = -1;
};
void PrintTo(const EntryCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class UsbEntry : public ::testing::TestWithParam<EntryCase> {};

TEST_P(UsbEntry, ParsesAsWritten) {
  const EntryCase& c = GetParam();
  UsbDeviceEntry e;
  std::string why;
  ASSERT_EQ(ParseUsbDeviceEntry(c.text, e, &why), c.ok) << why;
  if (!c.ok) {
    EXPECT_FALSE(why.empty());
    return;
  }
  EXPECT_EQ(e.vendor, c.vendor);
  EXPECT_EQ(e.product, c.product);
  EXPECT_EQ(e.interfaceNumber, c.interfaceNumber);
  EXPECT_EQ(e.outEndpoint, c.out);
  EXPECT_EQ(e.inEndpoint, c.in);
}

INSTANTIATE_TEST_SUITE_P(
    Syntax, UsbEntry,
    ::testing::Values(EntryCase{"1d6b:0f17", true, 0x1d6b, 0x0f17, -1, -1, -1},
                      EntryCase{"0x1D6B:0X0F17:2", true, 0x1d6b, 0x0f17, 2, -1, -1},
                      EntryCase{" 1d6b : 0f17 : 1 : 0x01 : 0x82 ", true, 0x1d6b, 0x0f17, 1, 1, 0x82},
                      EntryCase{"1d6b", false},
                      EntryCase{"1d6b:0f17:0:0x01", false},
                      EntryCase{"1d6b:10000", false},
                      EntryCase{"1d6b:-1", false},
                      EntryCase{"1d6b:0f17:256", false},
                      EntryCase{"1d6b:0f17:0:0x81:0x02", false},  // directions swapped
                      EntryCase{"g:0f17", false}, EntryCase{"", false}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

}  // namespace
}  // namespace edog
