// The window program's command line, read before any window exists.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/WindowProgramOptions.h"
#include "common/Version.h"

namespace edog {
namespace {

struct OptionsCase {
  std::vector<const char*> args;  // after the program name
  WindowProgramOptions::Action action;
  const char* package;
  const char* textStart;  // what the printed text begins with
};

TEST(WindowProgramOptions, ParsesEachForm) {
  const std::string version = std::string("edog ") + kVersion + "\n";
  const OptionsCase cases[] = {
      {{}, WindowProgramOptions::kRun, "", ""},
      {{"--package", "/p/q.dll"}, WindowProgramOptions::kRun, "/p/q.dll", ""},
      {{"--package=/p/q.dll"}, WindowProgramOptions::kRun, "/p/q.dll", ""},
      {{"--help", "--bogus"}, WindowProgramOptions::kHelp, "", "Usage: edog [--package PATH]"},
      {{"-V"}, WindowProgramOptions::kVersion, "", version.c_str()},
      {{"--package"}, WindowProgramOptions::kUsageError, "", "edog: --package needs a value"},
      {{"--package="}, WindowProgramOptions::kUsageError, "", "edog: --package needs a value"},
      {{"file.dll"}, WindowProgramOptions::kUsageError, "", "edog: unknown argument 'file.dll'"},
  };
  for (const OptionsCase& c : cases) {
    std::vector<const char*> argv = {"edog"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(argv.size() > 1 ? argv[1] : "(none)");
    const WindowProgramOptions o = ParseWindowProgramOptions(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(o.action, c.action);
    EXPECT_EQ(o.packagePath, c.package);
    EXPECT_EQ(o.text.rfind(c.textStart, 0), 0u) << o.text;
    EXPECT_EQ(WindowProgramExitCode(o.action), c.action == WindowProgramOptions::kUsageError ? 2 : 0);
  }
}

}  // namespace
}  // namespace edog
