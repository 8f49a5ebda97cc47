// A temp folder another user may change: he could rename the fresh extraction folder and
// put his own images in its place. Such a folder is refused before anything is extracted,
// naming it and the fix; a sticky or private one is used. Rows with a second user's folder
// run only as root. The update package found on its lookup path is held to the same rule.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/TempFolder.h"
#include "device/DeviceSocket.h"
#include "sim/Simulator.h"
#include "support/HeaderedContent.h"
#include "support/SimDevice.h"
#include "support/TestSupport.h"
#include "update/Package.h"
#include "update/PackageLookup.h"

namespace edog::test {
namespace {

namespace fs = std::filesystem;
constexpr uid_t kOther = 65534;  // "nobody"

struct FolderRow {
  const char* what;
  mode_t mode;
  uid_t owner;        // 0 here stands for the test's own user
  gid_t group;        // 0: the test's own primary group
  const char* refusal;  // empty: the folder is used
};

TEST(TempFolderTrust, FoldersOthersMayChangeAreRefusedWithTheFix) {
  const FolderRow rows[] = {
      {"open to all, not sticky", 0777, 0, 0, "writable by others and not sticky"},
      {"writable by a shared group, not sticky", 0770, 0, kOther,
       "which is not your own private group, and not sticky"},
      {"writable by the user's private group (umask 002)", 0775, 0, 0, ""},
      {"another user's", 0755, kOther, kOther, "belongs to user 65534"},
      {"open to all and sticky", 01777, 0, 0, ""},
      {"private", 0700, 0, 0, ""},
  };
  TempDir dir;
  const auto key = KeyForMethod(3);
  ASSERT_EQ(WritePackage(dir / "p.dll", {{"a", {1}}, {"b", {2}}, {"c", {3}}}, key), "");
  for (const FolderRow& row : rows) {
    SCOPED_TRACE(row.what);
    if ((row.owner != 0 || row.group != 0) && ::getuid() != 0) continue;  // needs root to give it away
    if (row.group == 0 && row.mode & S_IWGRP && !IsOwnPrivateGroup(::getgid())) continue;
    const std::string tmp = dir / (std::string("t") + std::to_string(&row - rows));
    fs::create_directory(tmp);
    ::chmod(tmp.c_str(), row.mode);
    if (row.owner || row.group) {
      ASSERT_EQ(::chown(tmp.c_str(), row.owner ? row.owner : ::getuid(),
                        row.group ? row.group : ::getgid()), 0);
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

// The package found through $XDG_DATA_HOME (a shared 1777 folder, say): when another user
// could have put it there or could change it, it is refused, naming the place and the fix,
// and the lookup stops there rather than take the installed package the user did not mean.
// A sticky shared folder holding a folder and package of the user's own is fine.
TEST(TempFolderTrust, APackageOthersCouldHavePlacedIsRefused) {
  struct PackageRow {
    const char* what;
    mode_t dataMode, edogMode, fileMode;
    uid_t edogOwner, fileOwner;  // 0: the test's own user
    const char* refusal;         // empty: the package is used
  };
  const PackageRow rows[] = {
      {"another user's folder in a shared data folder", 01777, 0755, 0644, kOther, kOther,
       "the folder of the update package DIR belongs to user 65534, not to you"},
      {"a folder open to all, not sticky", 0755, 0777, 0644, 0, 0,
       "the folder of the update package DIR lets other users rename what is in it (mode 0777"},
      {"another user's package in a sticky folder", 0755, 01777, 0644, 0, kOther,
       "the update package DIR/qzkt.dll belongs to user 65534"},
      {"a package others may change", 0755, 0755, 0666, 0, 0,
       "the update package DIR/qzkt.dll may be changed by other users (mode 0666)"},
      {"the user's folder in a shared sticky data folder", 01777, 0755, 0644, 0, 0, ""},
      {"private", 0700, 0700, 0600, 0, 0, ""},
  };
  for (const PackageRow& row : rows) {
    SCOPED_TRACE(row.what);
    if ((row.edogOwner || row.fileOwner) && ::getuid() != 0) continue;
    TempDir dir;
    const std::string data = dir / "data", edog = data + "/edog/", package = edog + "qzkt.dll";
    fs::create_directories(dir / "bin");
    fs::create_directories(dir / "share/edog");
    WriteFile(dir / "share/edog/qzkt.dll", std::string("installed"));
    fs::create_directories(edog);
    WriteFile(package, std::string("mine?"));
    ASSERT_EQ(::chmod(package.c_str(), row.fileMode), 0);
    ASSERT_EQ(::chmod(edog.c_str(), row.edogMode), 0);
    ASSERT_EQ(::chmod(data.c_str(), row.dataMode), 0);
    if (row.fileOwner) ASSERT_EQ(::chown(package.c_str(), row.fileOwner, row.fileOwner), 0);
    if (row.edogOwner) ASSERT_EQ(::chown(edog.c_str(), row.edogOwner, row.edogOwner), 0);

    const PackageLookup lookup = FindPackage({"", dir / "bin/", data, "/nonexistent"});
    EXPECT_EQ(lookup.path, package);
    std::string refusal = row.refusal;
    if (const size_t at = refusal.find("DIR"); at != std::string::npos)
      refusal.replace(at, 3, refusal.find("qzkt.dll") == std::string::npos ? edog : data + "/edog");
    EXPECT_EQ(lookup.found, refusal.empty()) << lookup.refusal;
    if (refusal.empty()) continue;
    EXPECT_EQ(lookup.refusal.rfind(refusal, 0), 0u) << lookup.refusal;
    const std::string line = PackageLookupText(lookup);
    EXPECT_EQ(line.rfind("拒绝使用更新包: " + refusal, 0), 0u) << line;
    EXPECT_NE(line.find("keep the package in a folder of your own, or name it with --package"),
              std::string::npos)
        << line;
    // Named by the user, the same package is the user's choice.
    EXPECT_TRUE(FindPackage({package, dir / "bin/", data, ""}).found);
  }
}

// Beside the program the package is trusted as the program is: a bin folder open to all
// and a package anyone may change are used without a word (whoever may replace the one may
// replace the other), where the same modes elsewhere are refused.
TEST(TempFolderTrust, ThePackageBesideTheProgramIsNotChecked) {
  TempDir dir;
  const std::string bin = dir / "bin/";
  fs::create_directories(bin);
  WriteFile(bin + "qzkt.dll", std::string("beside"));
  ASSERT_EQ(::chmod((bin + "qzkt.dll").c_str(), 0666), 0);
  ASSERT_EQ(::chmod(bin.c_str(), 0777), 0);
  const PackageLookup lookup = FindPackage({"", bin, "", ""});
  EXPECT_TRUE(lookup.found) << lookup.refusal;
  EXPECT_EQ(lookup.path, bin + "qzkt.dll");
  EXPECT_NE(PackageTrustProblem(bin + "qzkt.dll"), "");
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

// A folder or package writable by its group, as `umask 002` leaves them, is the user's alone
// when that group is his user-private group: his primary group, named as he is, listing no
// other member. Any other group may hold other users. The group database is faked here.
TEST(TempFolderTrust, AGroupOfTheUsersOwnCountsAsTheUser) {
  const struct passwd* pw = ::getpwuid(::getuid());
  ASSERT_NE(pw, nullptr);
  const std::string me = pw->pw_name;
  const gid_t primary = pw->pw_gid;
  struct GroupRow {
    const char* what;
    mode_t folderMode, fileMode;
    gid_t gid;  // 0: the user's primary group
    GroupEntry group;
    const char* refusal;  // empty: used; <dir> the package's folder, <me> the user's name
  };
  const GroupRow rows[] = {
      {"a private group: folder 0775, package 0664", 0775, 0664, 0, {me, {}}, ""},
      {"a private group that lists its user", 0775, 0664, 0, {me, {me}}, ""},
      {"a group with another member", 0775, 0644, 0, {me, {me, "bob"}},
       "the folder of the update package <dir> lets other users rename what is in it (mode 0775: "
       "writable by group <me>, which is not your own private group, and not sticky), so they "
       "could send content of their own to your device; keep the package in a folder of your "
       "own, or name it with --package, or take their write permission away (chmod go-w <dir>)"},
      {"a group not named as the user", 0755, 0664, 0, {"staff", {}},
       "the update package <dir>qzkt.dll may be changed by other users (mode 0664: writable by "
       "group staff, which is not your own private group), who could send content of their own "
       "to your device; keep the package in a folder of your own, or name it with --package, "
       "or take their write permission away (chmod go-w <dir>qzkt.dll)"},
      {"not the user's primary group", 0755, 0664, 65534, {me, {}},
       "the update package <dir>qzkt.dll may be changed by other users (mode 0664: writable by "
       "group <me>"},
      {"writable by all, whatever the group", 0755, 0666, 0, {me, {}},
       "the update package <dir>qzkt.dll may be changed by other users (mode 0666)"},
  };
  for (const GroupRow& row : rows) {
    SCOPED_TRACE(row.what);
    if (row.gid && ::getuid() != 0) continue;  // needs root to give a file another group
    TempDir dir;
    const std::string folder = dir / "edog/", package = folder + "qzkt.dll";
    fs::create_directories(folder);
    WriteFile(package, std::string("mine?"));
    ASSERT_EQ(::chown(folder.c_str(), static_cast<uid_t>(-1), primary), 0);
    ASSERT_EQ(::chown(package.c_str(), static_cast<uid_t>(-1), row.gid ? row.gid : primary), 0);
    ASSERT_EQ(::chmod(package.c_str(), row.fileMode), 0);
    ASSERT_EQ(::chmod(folder.c_str(), row.folderMode), 0);
    std::vector<unsigned long> asked;
    const std::string why = PackageTrustProblem(package, [&](unsigned long gid) {
      asked.push_back(gid);
      return std::optional<GroupEntry>(row.group);
    });
    std::string refusal = row.refusal;
    ReplaceAll(refusal, "<me>", me);
    ReplaceAll(refusal, "<dir>", folder);
    if (refusal.empty()) {
      EXPECT_EQ(why, "");
      EXPECT_FALSE(asked.empty());  // the group was looked at, not passed over
    } else {
      EXPECT_EQ(why.rfind(refusal, 0), 0u) << why;
    }
  }
}

}  // namespace
}  // namespace edog::test
