// TMP naming a file, a missing folder or nothing: the tools say that TMP is unusable and
// extract into the system temp folder, never into the current folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/TestSupport.h"
#include "update/Package.h"

namespace edog::test {
namespace {

namespace fs = std::filesystem;

TEST(UnusableTmp, FallsBackToTheSystemTempFolderAndSaysSo) {
  TempDir dir, cwd, system;
  ASSERT_EQ(WritePackage(dir / "p.dll", {{"a", {1}}, {"b", {2}}, {"c", {3}}}, KeyForMethod(3)), "");
  WriteFile(dir / "plain", std::string("x"));
  const struct {
    std::string tmp;
    const char* why;
  } rows[] = {
      {dir / "plain", "TMP names a file"},
      {dir / "missing", "TMP names no folder"},
      {"", "TMP is empty"},
  };
  SetEnv("TMPDIR", system.Path());  // the system folder, as this machine names it
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    SetEnv("TMP", row.tmp);
    const auto r = RunTool({"unpack", dir / "p.dll"}, cwd.Path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("TMP is unusable (" + std::string(row.why)), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("using the system temp folder " + system.Path()), std::string::npos) << r.err;
    EXPECT_EQ(r.out.rfind(system.Path() + "/tmp", 0), 0u) << r.out;
    EXPECT_TRUE(fs::is_empty(cwd.Path()));
  }
  UnsetEnv("TMP");
  UnsetEnv("TMPDIR");
}

}  // namespace
}  // namespace edog::test
