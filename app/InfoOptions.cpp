#include "app/InfoOptions.h"

#include <cstring>

#include "common/Version.h"

namespace edog {

namespace {

constexpr const char kHelpText[] =
    "Usage: edog [--help] [--version]\n"
    "Opens the update window of the GPS speed-camera warning device (GPS更新服务).\n"
    "The update package qzkt.dll and the device library are taken from the program's folder.\n"
    "Environment: EDOG_DEVELOPER=1 shows the developer controls; EDOG_DEVICE_SOCKET names\n"
    "the simulator's socket (edog-sim plays the device).\n"
    "  --help     print this text and exit\n"
    "  --version  print the version and exit\n";

}  // namespace

std::optional<int> AnswerInfoOptions(int argc, const char* const* argv, std::FILE* out) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kHelpText, out);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::fprintf(out, "edog %s\n", kVersion);
      return 0;
    }
  }
  return std::nullopt;
}

}  // namespace edog
