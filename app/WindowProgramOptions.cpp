#include "app/WindowProgramOptions.h"

#include <cstdio>

#include "common/Version.h"

namespace edog {

namespace {

constexpr const char* kHelpText =
    "Usage: edog [--package PATH] [--device usb|sim]\n"
    "\n"
    "Opens the update window of the GPS speed-camera warning device: tick what to renew\n"
    "(语音, 数据, 软件) and press 更新.\n"
    "\n"
    "Options:\n"
    "  --package PATH        the update package to send (default: the first qzkt.dll\n"
    "                        found beside the program, in $XDG_DATA_HOME/edog/ (default\n"
    "                        ~/.local/share/edog/), then in the installed share/edog/)\n"
    "  --device usb|sim      the device library: 'usb' a real device over libusb, 'sim'\n"
    "                        the simulator's stand-in (default: $EDOG_DEVICE_LIBRARY, else\n"
    "                        usb; sim in the build folder while no USB device is\n"
    "                        configured)\n"
    "  -h, --help            this text\n"
    "  -V, --version         the version\n"
    "\n"
    "Environment: EDOG_DEVELOPER=1 shows the developer controls and tools;\n"
    "EDOG_DEVICE_SOCKET names the simulator's socket (edog-sim plays the device).\n";

}  // namespace

WindowProgramOptions ParseWindowProgramOptions(int argc, const char* const* argv) {
  WindowProgramOptions o;
  auto usage = [&o](const std::string& why) {
    o.action = WindowProgramOptions::kUsageError;
    o.text = "edog: " + why + " (see --help)\n";
    return o;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      o.action = WindowProgramOptions::kHelp;
      o.text = kHelpText;
      return o;
    }
    if (arg == "-V" || arg == "--version") {
      o.action = WindowProgramOptions::kVersion;
      o.text = std::string("edog ") + kVersion + "\n";
      return o;
    }
    if (arg == "--device" || arg.rfind("--device=", 0) == 0) {
      if (arg == "--device") {
        if (i + 1 >= argc) return usage("--device needs a value usb or sim");
        o.device = argv[++i];
      } else {
        o.device = arg.substr(9);
      }
      continue;
    }
    std::string value;
    if (arg == "--package") {
      if (i + 1 >= argc) return usage("--package needs a value PATH");
      value = argv[++i];
    } else if (arg.rfind("--package=", 0) == 0) {
      value = arg.substr(10);
    } else {
      return usage("unknown argument '" + arg + "'");
    }
    if (value.empty()) return usage("--package needs a value PATH");
    o.packagePath = value;
  }
  return o;
}

int WindowProgramExitCode(WindowProgramOptions::Action action) {
  return action == WindowProgramOptions::kUsageError ? 2 : 0;
}

int AnswerWithoutWindow(const WindowProgramOptions& options) {
  std::fputs(options.text.c_str(),
             options.action == WindowProgramOptions::kUsageError ? stderr : stdout);
  return WindowProgramExitCode(options.action);
}

}  // namespace edog
