// Inputs that never end (a device such as /dev/zero, a FIFO without a writer) or that are
// far larger than the format allows are refused at once, before anything is read into
// memory: a picture cannot exceed 255 x 255 pixels, a package entry its 32-bit size field,
// and a USB payload the transfer's 32-bit count.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "device/DeviceSocket.h"
#include "robust/RobustFiles.h"
#include "sim/Simulator.h"
#include "support/TestSupport.h"

namespace edog::test {
namespace {

TEST(EndlessInput, DevicesPipesAndHugeFilesAreRefused) {
  TempDir dir;
  setenv(kDeviceSocketEnv, (dir / "dev.sock").c_str(), 1);
  sim::SimulatorOptions o;
  o.stateDir = dir / "state";
  sim::Simulator device(o);  // send-usb reads its file once the device is there
  std::string error;
  ASSERT_TRUE(device.Start(&error)) << error;

  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  // 4 GiB of holes: a regular file far past every limit, costing no disk.
  WriteFile(dir / "huge", std::string("BM"));
  std::filesystem::resize_file(dir / "huge", 4ull << 30);
  for (const char* f : {"b", "c"}) WriteFile(dir / f, std::string(f));

  struct Case {
    std::vector<std::string> args;
    std::string said;
  };
  std::vector<Case> cases;
  for (const std::string& in : {std::string("/dev/zero"), dir / "fifo"}) {
    cases.push_back({{"images", "-o", dir / "i.hdr", in}, in + "\" cannot be used as a picture: "
                                                            "it is not a regular file"});
    cases.push_back({{"pack", "-o", dir / "p.dll", in, dir / "b", dir / "c"},
                     in + " is not a regular file"});
    cases.push_back({{"send-usb", in}, in + " is not a regular file"});
  }
  const std::string huge = dir / "huge";
  cases.push_back({{"images", "-o", dir / "i.hdr", huge}, "too large for a picture (4294967296"});
  cases.push_back({{"pack", "-o", dir / "p.dll", huge, dir / "b", dir / "c"},
                   huge + " is too large: 4294967296 bytes, at most 4294967295 fit"});
  // One byte of payload past the 32-bit count the transfer keeps.
  const std::string beyond = dir / "beyond";
  WriteFile(beyond, std::string("$"));
  std::filesystem::resize_file(beyond, (4ull << 30) + 1024);
  cases.push_back({{"send-usb", beyond}, beyond + " is too large"});

  for (const Case& c : cases) {
    const auto r = RunTool(c.args);
    EXPECT_EQ(r.status, 1) << c.args[0] << " " << c.args.back() << ": " << r.err;
    EXPECT_NE(r.err.find(c.said), std::string::npos) << c.said << " not in: " << r.err;
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "i.hdr"));
  EXPECT_FALSE(std::filesystem::exists(dir / "p.dll"));
  unsetenv(kDeviceSocketEnv);
}

}  // namespace
}  // namespace edog::test
