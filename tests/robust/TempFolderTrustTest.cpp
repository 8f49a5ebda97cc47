// A temp folder another user may change: he could rename the fresh extraction folder and
// put his own images in its place. Such a folder is refused before anything is extracted,
// naming it and the fix; a sticky or private one is used. Rows with a second user's folder
// run only as root.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "device/DeviceSocket.h"
#include "sim/Simulator.h"
#include "support/HeaderedContent.h"
#include "support/SimDevice.h"
#include "support/TestSupport.h"
#include "update/Package.h"

namespace edog::test {
namespace {

namespace fs = std::filesystem;
constexpr uid_t kOther = 65534;  // "nobody"

struct FolderRow {
  const char* what;
  mode_t mode;
  uid_t owner;        // 0 here stands for the test's own user
  const char* refusal;  // empty: the folder is used
};

TEST(TempFolderTrust, FoldersOthersMayChangeAreRefusedWithTheFix) {
  const FolderRow rows[] = {
      {"open to all, not sticky", 0777, 0, "writable by others and not sticky"},
      {"group-writable, not sticky", 0770, 0, "writable by others and not sticky"},
      {"another user's", 0755, kOther, "belongs to user 65534"},
      {"open to all and sticky", 01777, 0, ""},
      {"private", 0700, 0, ""},
  };
  TempDir dir;
  const auto key = KeyForMethod(3);
  ASSERT_EQ(WritePackage(dir / "p.dll", {{"a", {1}}, {"b", {2}}, {"c", {3}}}, key), "");
  for (const FolderRow& row : rows) {
    SCOPED_TRACE(row.what);
    if (row.owner != 0 && ::getuid() != 0) continue;  // needs root to give a folder away
    const std::string tmp = dir / (std::string("t") + std::to_string(&row - rows));
    fs::create_directory(tmp);
    ::chmod(tmp.c_str(), row.mode);
    if (row.owner) {
      ASSERT_EQ(::chown(tmp.c_str(), row.owner, row.owner), 0);
    }
    SetEnv("TMP", tmp);
    const auto r = RunTool({"unpack", dir / "p.dll"});
    if (*row.refusal) {
      EXPECT_EQ(r.status, 1);
      EXPECT_NE(r.err.find("the temp folder " + tmp), std::string::npos) << r.err;
      EXPECT_NE(r.err.find(row.refusal), std::string::npos) << r.err;
      EXPECT_NE(r.err.find("set TMP to a folder of your own"), std::string::npos) << r.err;
      EXPECT_TRUE(fs::is_empty(tmp));
    } else {
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.out.rfind(tmp + "/tmp", 0), 0u) << r.out;
    }
  }
  UnsetEnv("TMP");
}

TEST(TempFolderTrust, TheUpdateJobSaysWhichFolderAndSendsNothing) {
  TempDir dir, tmp;
  SetEnv(kDeviceSocketEnv, dir / "dev.sock");
  sim::Simulator device(UsbOnlyDevice(dir / "state"));
  std::string error;
  ASSERT_TRUE(device.Start(&error)) << error;
  const auto c = MakeHeaderedContent(Port::Usb, kFlashE, 0x1000, 4000, 1);
  ASSERT_EQ(WriteUpdatePackage(dir / "qzkt.dll", c.file), "");
  ::chmod(tmp.Path().c_str(), 0777);
  SetEnv("TMP", tmp.Path());
  const auto r = RunTool({"update", "--voice", "--package", dir / "qzkt.dll"});
  UnsetEnv("TMP");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("the temp folder " + tmp.Path() + " lets other users rename"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("无法写入临时文件夹，升级数据未能解压！"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::is_empty(tmp.Path()));
  EXPECT_TRUE(device.JournalRecords().empty());
}

}  // namespace
}  // namespace edog::test
