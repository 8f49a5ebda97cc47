// The simulator's state folder tells the tools where the device is (serial-line) and holds
// the flash images and the bridge's token: another user's folder, or one others may
// change, is refused, and a serial-line another user planted is not listed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "common/Files.h"
#include "device/SerialPorts.h"
#include "sim/Simulator.h"
#include "support/SimDevice.h"
#include "support/TestSupport.h"

namespace edog::test {
namespace {

constexpr uid_t kOther = 65534;  // "nobody"

TEST(StateFolderTrust, TheSimulatorRefusesAFolderOthersControl) {
  // (A folder writable only by the user's own private group, as a umask of 002 makes it,
  // is the user's: the simulator tests all make theirs that way under such a umask.)
  const struct {
    bool foreign, sharedGroup;
    mode_t mode;
    const char* message;
  } rows[] = {
      {true, false, 0700, "belongs to user 65534"},
      {false, false, 0777, "lets other users replace its files (mode 0777"},
      {false, true, 0775, "lets other users replace its files (mode 0775"},
  };
  for (const auto& row : rows) {
    if ((row.foreign || row.sharedGroup) && ::geteuid() != 0) continue;  // no second user to play the intruder
    TempDir dir;
    const std::string state = dir / "state";
    std::filesystem::create_directory(state);
    ASSERT_EQ(::chmod(state.c_str(), row.mode), 0);
    if (row.foreign || row.sharedGroup) {
      ASSERT_EQ(::chown(state.c_str(), row.foreign ? kOther : ::getuid(), kOther), 0);
    }
    sim::Simulator device(UsbOnlyDevice(state, dir / "dev.sock"));
    std::string error;
    EXPECT_FALSE(device.Start(&error)) << row.message;
    EXPECT_NE(error.find("the state folder " + state), std::string::npos) << error;
    EXPECT_NE(error.find(row.message), std::string::npos) << error;
    EXPECT_TRUE(std::filesystem::is_empty(state)) << row.message;
  }
}

TEST(StateFolderTrust, OnlyTheUsersOwnSerialLineIsListed) {
  const struct {
    bool foreignFile, foreignFolder;
    mode_t fileMode, folderMode;
    bool listed;
  } rows[] = {
      {false, false, 0600, 0700, true},
      {true, false, 0600, 0700, false},
      {false, true, 0600, 0755, false},
      {false, false, 0666, 0700, false},
      {false, false, 0600, 0777, false},
  };
  for (const auto& row : rows) {
    if ((row.foreignFile || row.foreignFolder) && ::geteuid() != 0) continue;
    TempDir dir;
    const std::string state = dir / "state";
    std::filesystem::create_directory(state);
    const std::string line = JoinPath(state, kSerialLineFile);
    WriteFile(line, std::string("/dev/null\n"));  // a character device, as a pty is
    ASSERT_EQ(::chmod(line.c_str(), row.fileMode), 0);
    ASSERT_EQ(::chmod(state.c_str(), row.folderMode), 0);
    if (row.foreignFile) {
      ASSERT_EQ(::chown(line.c_str(), kOther, kOther), 0);
    }
    if (row.foreignFolder) {
      ASSERT_EQ(::chown(state.c_str(), kOther, kOther), 0);
    }
    EXPECT_EQ(AnnouncedSerialLine(state).has_value(), row.listed)
        << row.foreignFile << row.foreignFolder << " " << row.fileMode << " " << row.folderMode;
    const ProgramResult ports = RunTool({"ports", "--state", state});
    EXPECT_EQ(ports.out.find("/dev/null") != std::string::npos, row.listed) << ports.out;
  }
}

}  // namespace
}  // namespace edog::test
