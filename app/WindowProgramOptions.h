#pragma once
// The command line of the window program `edog`, read before any window exists so that
// --help and --version work without a display. Display-free: part of the core.
#include <string>

namespace edog {

struct WindowProgramOptions {
  enum Action { kRun, kHelp, kVersion, kUsageError };
  Action action = kRun;
  std::string packagePath;  // --package PATH; empty: looked up (update/PackageLookup.h)
  std::string device;       // --device usb|sim; empty: the environment or configuration
  std::string text;         // what to print for kHelp, kVersion and kUsageError
};

WindowProgramOptions ParseWindowProgramOptions(int argc, const char* const* argv);

// The exit status of an action that ends the program before the window opens.
int WindowProgramExitCode(WindowProgramOptions::Action action);

// Answers such an action: its text on standard output (a usage error on standard error);
// returns the exit status.
int AnswerWithoutWindow(const WindowProgramOptions& options);

}  // namespace edog
