// The order in which the update package is looked for, and what the user is told.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "update/PackageLookup.h"

namespace edog {
namespace {

// The places are spelt with the platform's separator; these cases use POSIX paths.
#ifdef _WIN32
#define SKIP_ON_WINDOWS() GTEST_SKIP() << "POSIX paths"
#else
#define SKIP_ON_WINDOWS() (void)0
#endif

std::set<std::string>* gPresent = nullptr;
bool Present(const std::string& path) { return gPresent->count(path) != 0; }

constexpr const char* kBeside = "/opt/x/bin/qzkt.dll";
constexpr const char* kXdg = "/data/edog/qzkt.dll";
constexpr const char* kHomeDefault = "/home/u/.local/share/edog/qzkt.dll";
constexpr const char* kInstalled = "/opt/x/bin/../share/edog/qzkt.dll";

struct LookupCase {
  const char* name;
  const char* chosen;
  const char* dataHome;
  std::set<std::string> present;
  const char* expected;
  bool found;
};

TEST(PackageLookup, FirstPlaceThatHoldsThePackageWins) {
  SKIP_ON_WINDOWS();
  const LookupCase cases[] = {
      {"beside the program first", "", "/data", {kBeside, kXdg, kInstalled}, kBeside, true},
      {"then the user's data folder", "", "/data", {kXdg, kInstalled}, kXdg, true},
      {"then the installed folder", "", "/data", {kInstalled, kHomeDefault}, kInstalled, true},
      {"no XDG_DATA_HOME: ~/.local/share", "", "", {kHomeDefault, kInstalled}, kHomeDefault, true},
      {"a relative XDG_DATA_HOME is ignored", "", "data", {kHomeDefault}, kHomeDefault, true},
      {"a trailing separator is not doubled", "", "/data/", {kXdg}, kXdg, true},
      {"the chosen package is the only place", "/p/my.dll", "/data", {kBeside}, "/p/my.dll",
       false},
      {"the chosen package when present", "/p/my.dll", "/data", {"/p/my.dll"}, "/p/my.dll", true},
      {"none: the first place is named", "", "/data", {}, kBeside, false},
  };
  for (const LookupCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::set<std::string> present = c.present;
    gPresent = &present;
    const PackageLookup lookup = FindPackage({c.chosen, "/opt/x/bin/", c.dataHome, "/home/u"}, Present);
    EXPECT_EQ(lookup.path, c.expected);
    EXPECT_EQ(lookup.found, c.found);
  }
  gPresent = nullptr;
}

std::vector<std::string>* gChecked = nullptr;
std::string RefuseAll(const std::string& path) {
  gChecked->push_back(path);
  return "refused";
}

// Whoever may replace the package beside the program may replace the program itself, so
// that place is never checked; the user's data folder and the installed one are, and a
// refusal there ends the lookup. The package named with --package is the user's choice.
TEST(PackageLookup, OnlyThePlacesBesideTheProgramAndChosenGoUnchecked) {
  SKIP_ON_WINDOWS();
  struct TrustCase {
    const char* name;
    const char* chosen;
    std::set<std::string> present;
    const char* expected;
    bool found;
    std::vector<std::string> checked;
  };
  const TrustCase cases[] = {
      {"beside the program", "", {kBeside, kXdg, kInstalled}, kBeside, true, {}},
      {"the user's data folder", "", {kXdg, kInstalled}, kXdg, false, {kXdg}},
      {"the installed folder", "", {kInstalled}, kInstalled, false, {kInstalled}},
      {"the chosen package", "/p/my.dll", {"/p/my.dll"}, "/p/my.dll", true, {}},
  };
  for (const TrustCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::set<std::string> present = c.present;
    std::vector<std::string> checked;
    gPresent = &present;
    gChecked = &checked;
    const PackageLookup lookup =
        FindPackage({c.chosen, "/opt/x/bin/", "/data", "/home/u"}, Present, RefuseAll);
    EXPECT_EQ(lookup.path, c.expected);
    EXPECT_EQ(lookup.found, c.found);
    EXPECT_EQ(lookup.refusal, c.found ? "" : "refused");
    EXPECT_EQ(checked, c.checked);
  }
  gPresent = nullptr;
  gChecked = nullptr;
}

TEST(PackageLookup, TheLogNamesThePackageOrEveryPlaceLookedAt) {
  SKIP_ON_WINDOWS();
  std::set<std::string> present = {kInstalled};
  gPresent = &present;
  const PackagePlaces places{"", "/opt/x/bin/", "/data", "/home/u"};
  EXPECT_EQ(PackageLookupText(FindPackage(places, Present)),
            std::string("更新包: ") + kInstalled + "\r\n");
  present.clear();
  EXPECT_EQ(PackageLookupText(FindPackage(places, Present)),
            std::string("找不到更新包: ") + kBeside + ", " + kXdg + ", " + kInstalled + "\r\n");
  gPresent = nullptr;
}

TEST(PackageLookup, RealFilesThroughTheDefaultTest) {
  SKIP_ON_WINDOWS();
  test::TempDir dir;
  const std::string bin = dir / "bin/";
  const std::string share = dir / "share/edog";
  std::filesystem::create_directories(share);
  // A folder named like the package does not count: only a regular file does.
  std::filesystem::create_directories(bin + "qzkt.dll");
  test::WriteFile(share + "/qzkt.dll", "x");
  const PackageLookup lookup = FindPackage({"", bin, "", ""});
  EXPECT_TRUE(lookup.found);
  EXPECT_EQ(lookup.path, bin + "../share/edog/qzkt.dll");
}

}  // namespace
}  // namespace edog
