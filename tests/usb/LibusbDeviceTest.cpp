// The libusb device library end to end: edogtool with --device usb against a USB device
// that umockdev emulates in this process (sysfs entry, device node, usbfs ioctls).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <optional>
#include <utility>
#include <vector>

#include "common/Files.h"
#include "device/UsbConfig.h"
#include "device/UsbLibrary.h"
#include "support/HeaderedContent.h"
#include "support/TestSupport.h"
#include "update/Package.h"
#include "usb/MockUsbDevice.h"

namespace edog {
namespace {

using test::MockUsbDevice;
using test::MockUsbFaults;
using test::MockUsbInterface;

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
  std::string ConfigFile() {
    std::filesystem::create_directories(dir_.Path() + "/config/edog");
    return dir_.Path() + "/config/edog/usb.conf";
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
    // Sized first: gcc 12 warns wrongly about an insert behind the 20 bytes.
    std::vector<uint8_t> wire(20 + c.payload.size());
    std::copy(c.file.begin(), c.file.begin() + 20, wire.begin());
    std::copy(c.payload.begin(), c.payload.end(), wire.begin() + 20);
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
  int minSeconds = 0;  // a silent device is owed the whole retry window of one block
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
  EXPECT_GE(seconds, c.minSeconds);
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
        FaultCase{"NeverAnswers", {-1, -1, true}, kMockId, 1, "has not taken any data for", 90,
                  46},
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
  EXPECT_EQ(Count(r.err, "no USB device is configured: with the device attached, run 'edogtool usb-setup'"), 1u)
      << r.err;
  // The one sentence names the udev rule template, and the build folder has it there.
  const std::string rule = std::filesystem::path(test::BinDir()).parent_path().string() +
                           "/share/edog/udev/60-edog-usb.rules.in";
  EXPECT_NE(r.err.find("gives the udev rule (" + rule + " "), std::string::npos) << r.err;
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

// usb-setup offers the emulated vendor-class device, writes it into usb.conf and gives its
// rule; a library loaded before finds it from then on, and doctor sees it set up.
TEST_F(LibusbDevice, UsbSetupMakesTheDevicePresentWithoutARestart) {
  test::UnsetEnv(kUsbIdEnv);
  // The programs get folders of their own (XDG_CONFIG_HOME is the fixture's).
  struct OwnEnv {
    std::vector<std::pair<std::string, std::optional<std::string>>> old;
    OwnEnv(std::initializer_list<std::pair<const char*, std::string>> vars) {
      for (const auto& [name, value] : vars) {
        old.emplace_back(name, EnvironmentValue(name));
        test::SetEnv(name, value);
      }
    }
    ~OwnEnv() {
      for (const auto& [name, value] : old)
        value ? test::SetEnv(name, *value) : test::UnsetEnv(name);
    }
  } env{{"HOME", dir_.Path()}, {"XDG_RUNTIME_DIR", tmp_.Path()}, {"TMPDIR", tmp_.Path()}};
  MockUsbDevice device;
  ASSERT_TRUE(device.Ok()) << device.Error();
  const auto library = UsbLibrary::Load(test::PluginPath("HaldenUSB-usb"));
  ASSERT_TRUE(library);
  EXPECT_FALSE(library->DevicePresent());
  const auto list = test::RunTool({"usb-setup"});
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_EQ(list.out, "1  1d6b:0f17  Bus 001 Device 007\n"
                      "set one up with 'edogtool usb-setup N' or 'edogtool usb-setup VID:PID'\n");
  const auto setup = test::RunTool({"usb-setup", "1d6b:0f17"});
  ASSERT_EQ(setup.status, 0) << setup.err;
  EXPECT_EQ(test::ReadText(ConfigFile()), "1d6b:0f17:0:0x02:0x81\n");
  EXPECT_NE(setup.out.find("ATTR{idVendor}==\"1d6b\", ATTR{idProduct}==\"0f17\""), std::string::npos)
      << setup.out;
  EXPECT_NE(setup.out.find("sh -c 'install -m 0644 '\\''" + dir_.Path() + "/config/edog/60-edog-usb.rules"),
            std::string::npos) << setup.out;
  EXPECT_TRUE(test::ProbeWithRetries([&] { return library->DevicePresent(); }));
  const auto doctor = test::RunTool({"doctor", "--device", "usb"});
  EXPECT_NE(doctor.out.find("OK   USB ids: 1d6b:0f17 (" + ConfigFile() + ":1)\n"), std::string::npos) << doctor.out;
  EXPECT_NE(doctor.out.find("OK   USB device attached: 1d6b:0f17 at /dev/bus/usb/001/007\n"), std::string::npos)
      << doctor.out;
  EXPECT_NE(doctor.out.find("OK   device: answers through "), std::string::npos) << doctor.out;
  EXPECT_TRUE(device.Received().empty());
}

TEST_F(LibusbDevice, ReadUsbCopiesTheDeviceText) {
  MockUsbDevice device;
  ASSERT_TRUE(device.Ok()) << device.Error();
  const auto r = test::RunTool({"read-usb", "--device", "usb", "--seconds", "1"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "mock device ready\r\n");
  EXPECT_EQ(device.Received(), std::vector<uint8_t>{0x40});
}

// Never the wrong device: an interface of a standard class is never written to and never
// taken from its kernel driver, however it is named, and usb-list does not offer it; a
// vendor-specific one bound to a driver is taken only when the user said so; endpoints the
// pipes cannot use are refused before anything is sent.
struct SafetyCase {
  const char* name;
  MockUsbInterface interface;
  const char* usbId;
  const char* configFile;  // usb.conf, or null for none
  bool detachOption;       // --detach-driver
  int status;
  const char* text;        // said on stdout or stderr
  bool written;            // the image reached the device
  int detaches;
  bool offered;            // usb-list prints a line to configure it
};
void PrintTo(const SafetyCase& c, std::ostream* os) { *os << c.name; }

class LibusbSafety : public LibusbDevice, public ::testing::WithParamInterface<SafetyCase> {};

TEST_P(LibusbSafety, WritesOnlyTheVendorInterface) {
  const SafetyCase& c = GetParam();
  test::SetEnv(kUsbIdEnv, c.usbId);
  if (c.configFile) test::WriteFile(ConfigFile(), std::string(c.configFile));
  MockUsbDevice device({}, c.interface);
  ASSERT_TRUE(device.Ok()) << device.Error();
  const auto image = test::MakeHeaderedContent(Port::Usb, kFlashSerial, 0x10000, 20480, 5);
  test::WriteFile(dir_ / "image.hdr", image.file);
  std::vector<std::string> args = {"send-usb", "--device", "usb", dir_ / "image.hdr"};
  if (c.detachOption) args.insert(args.begin() + 3, "--detach-driver");
  const auto start = std::chrono::steady_clock::now();
  const auto r = test::RunTool(args);
  EXPECT_LE(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(r.status, c.status) << r.out << r.err;
  EXPECT_NE((r.out + r.err).find(c.text), std::string::npos) << r.out << r.err;
  EXPECT_EQ(device.Received(), c.written ? OnTheWire(image) : std::vector<uint8_t>{});
  EXPECT_EQ(device.Detaches(), c.detaches);
  const auto list = test::RunTool({"usb-list"});
  EXPECT_EQ(list.out.find("EDOG_USB_ID=1d6b:0f17") != std::string::npos, c.offered) << list.out;
}

constexpr MockUsbInterface kMassStorage{0x08, 0x06, 0x50, 2, 2, "usb-storage"};
constexpr MockUsbInterface kBoundVendor{0xff, 0, 0, 2, 2, "vendor_serial"};

INSTANTIATE_TEST_SUITE_P(
    Interfaces, LibusbSafety,
    ::testing::Values(
        SafetyCase{"MassStorageByIds", kMassStorage, kMockId, nullptr, false, 1,
                   "interface 0 is a mass storage (class 08) interface", false, 0, false},
        SafetyCase{"MassStorageNamedWithDetachKey", kMassStorage, "1d6b:0f17:0:0x02:0x81",
                   "detach-driver\n", false, 1, "mass storage (class 08)", false, 0, false},
        SafetyCase{"HidWithDetachOption", {0x03, 0, 0, 2, 2, "usbhid"}, kMockId, nullptr, true,
                   1, "HID (class 03)", false, 0, false},
        SafetyCase{"UnboundVendor", {}, kMockId, nullptr, false, 0, "sent 20480 bytes", true, 0,
                   true},
        SafetyCase{"BoundVendorNotToldSo", kBoundVendor, kMockId, nullptr, false, 1,
                   "is bound to a kernel driver, which edog leaves alone unless told", false, 0,
                   true},
        SafetyCase{"BoundVendorWithDetachOption", kBoundVendor, kMockId, nullptr, true, 0,
                   "sent 20480 bytes", true, 1, true},
        SafetyCase{"BoundVendorWithDetachKey", kBoundVendor, kMockId, "detach-driver # mine\n",
                   false, 0, "sent 20480 bytes", true, 1, true},
        SafetyCase{"IsochronousOut", {0xff, 0, 0, 1, 2, ""}, "1d6b:0f17:0:0x02:0x81", nullptr,
                   false, 1, "endpoint 0x02 of interface 0 is an isochronous endpoint", false, 0,
                   false},
        SafetyCase{"InterruptEndpointsNamed", {0xff, 0, 0, 3, 3, ""}, "1d6b:0f17:0:0x02:0x81",
                   nullptr, false, 0, "sent 20480 bytes", true, 0, false}),
    [](const auto& info) { return std::string(info.param.name); });

// The configuration file: a FIFO, a file too large or a malformed id ends every command
// that reads it within a second with what is wrong, and names no device.
struct ConfigCase {
  const char* name;
  bool fifo;
  std::string text;               // the file's content when it is no FIFO
  std::vector<std::string> args;  // "{image}", "{package}": the files the test made
  int status;
  const char* message;
};
void PrintTo(const ConfigCase& c, std::ostream* os) { *os << c.name; }

class UsbConfigFile : public LibusbDevice, public ::testing::WithParamInterface<ConfigCase> {};

TEST_P(UsbConfigFile, AnswersWithinASecond) {
  const ConfigCase& c = GetParam();
  test::UnsetEnv(kUsbIdEnv);
  const std::string conf = ConfigFile();
  if (c.fifo) {
    ASSERT_EQ(mkfifo(conf.c_str(), 0600), 0);
  } else {
    test::WriteFile(conf, c.text);
  }
  MockUsbDevice device;
  ASSERT_TRUE(device.Ok()) << device.Error();
  const auto image = test::MakeHeaderedContent(Port::Usb, kFlashSerial, 0, 3000, 6);
  test::WriteFile(dir_ / "image.hdr", image.file);
  std::vector<std::string> args = c.args;
  for (std::string& a : args) {
    if (a == "{image}") a = dir_ / "image.hdr";
    if (a == "{package}") a = Pack(image);
  }
  auto run = std::async(std::launch::async, [&] { return test::RunTool(args); });
  const bool inTime = run.wait_for(std::chrono::seconds(1)) == std::future_status::ready;
  // A run that waits for a writer is let go with an empty file, so the test ends.
  while (run.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
    const int fd = open(conf.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) close(fd);
  }
  const auto r = run.get();
  EXPECT_TRUE(inTime) << "still running after a second";
  EXPECT_EQ(r.status, c.status) << r.out << r.err;
  EXPECT_NE(r.err.find(c.message), std::string::npos) << r.out << r.err;
  EXPECT_TRUE(device.Received().empty());
}

// A line that straddles the 64 KiB limit: cut there it would name 1d6b:00f1.
std::string Oversized() {
  constexpr size_t kLimit = 64 * 1024;
  std::string text;
  while (text.size() < kLimit - 8) text += "# padding\n";
  text.resize(kLimit - 8);
  text.back() = '\n';
  return text + "1d6b:0f17\n";
}

const std::vector<std::string> kUpdateUsb = {"update", "--voice", "--device", "usb", "--package",
                                             "{package}"};
constexpr const char* kNotRegular = "usb.conf is not a regular file";

INSTANTIATE_TEST_SUITE_P(
    Files, UsbConfigFile,
    ::testing::Values(
        ConfigCase{"FifoUsbList", true, "", {"usb-list"}, 0, kNotRegular},
        ConfigCase{"FifoUpdate", true, "", kUpdateUsb, 1, kNotRegular},
        ConfigCase{"FifoSendUsb", true, "", {"send-usb", "--device", "usb", "{image}"}, 1,
                   kNotRegular},
        ConfigCase{"FifoUpdateByDefault", true, "", {"update", "--voice", "--package", "{package}"},
                   1, kNotRegular},
        ConfigCase{"TooLarge", false, Oversized(), kUpdateUsb, 1,
                   "usb.conf is too large: 65538 bytes, at most 65536 fit"},
        ConfigCase{"DoubledHexPrefix", false, "0x0x1d6b:0f17\n", kUpdateUsb, 1,
                   "bad vendor id (4 hex digits) '0x0x1d6b'"},
        ConfigCase{"ThreeDigitProduct", false, "1d6b:f17\n",
                   {"send-usb", "--device", "usb", "{image}"}, 1,
                   "bad product id (4 hex digits) 'f17'"}),
    [](const auto& info) { return std::string(info.param.name); });

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
                      EntryCase{"g:0f17", false}, EntryCase{"", false},
                      EntryCase{"0x0x1d6b:0f17", false},
                      EntryCase{"1d6b:f17", false},
                      EntryCase{"01d6b:0f17", false},
                      EntryCase{"1d6b:0x:0", false},
                      EntryCase{"1d6b:0f17: 1 :0x0x02:0x81", false},
                      EntryCase{"1d6b:0f17:0:0x102:0x81", false},
                      EntryCase{"1d6b:0f17:0:2:81", true, 0x1d6b, 0x0f17, 0, 2, 0x81}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

}  // namespace
}  // namespace edog
