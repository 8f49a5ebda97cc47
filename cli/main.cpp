// edogtool: the command-line front end. Dispatches to the registered commands and maps
// an escaping exception to an exit status; nothing else lives here.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "cli/Command.h"
#include "common/StandardOutput.h"
#include "cli/ConsoleOutput.h"
#include "cli/Utf8Args.h"
#include "common/Version.h"

namespace edog::cli {

std::vector<Command>& Commands() {
  static std::vector<Command> commands;
  return commands;
}

namespace {
void PrintUsage(FILE* out) {
  std::fprintf(out,
               "Usage: edogtool COMMAND [OPTIONS] [ARGS]\n\n"
               "Update tool and developer tools for the GPS speed-camera warning device.\n\n"
               "Commands:\n");
  auto cmds = Commands();
  std::sort(cmds.begin(), cmds.end(),
            [](const Command& a, const Command& b) { return std::strcmp(a.name, b.name) < 0; });
  for (const auto& c : cmds) std::fprintf(out, "  %-12s %s\n", c.name, c.summary);
  std::fprintf(out,
               "\nRun 'edogtool COMMAND --help' for a command's options, 'edogtool --version' for\n"
               "the version.\n"
               "Exit status: 0 success, 1 refused or failed, 2 usage error, 130 interrupted.\n");
}
}  // namespace
}  // namespace edog::cli

int main(int argc, char** argv) {
  using namespace edog::cli;
  edog::GuardStandardStreams();
  RouteUtf8ToConsole();
  std::vector<std::string> args = Utf8Arguments(argc, argv);
  std::vector<char*> utf8;
  for (std::string& a : args) utf8.push_back(a.data());
  utf8.push_back(nullptr);
  argv = utf8.data();
  if (argc < 2) {
    PrintUsage(stderr);
    return kExitUsage;
  }
  const std::string name = argv[1];
  if (name == "-h" || name == "--help" || name == "help") {
    PrintUsage(stdout);
    return edog::FinishStandardOutput(kExitOk);
  }
  if (name == "-V" || name == "--version") {
    std::printf("edogtool %s\n", edog::kVersion);
    return edog::FinishStandardOutput(kExitOk);
  }
  for (const auto& c : Commands()) {
    if (name == c.name) {
      int status = kExitFailed;
      try {
        status = c.run(argc - 1, argv + 1);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "edogtool %s: %s\n", c.name, e.what());
      }
      return edog::FinishStandardOutput(status);
    }
  }
  std::fprintf(stderr, "edogtool: unknown command '%s'\n", name.c_str());
  PrintUsage(stderr);
  return kExitUsage;
}
