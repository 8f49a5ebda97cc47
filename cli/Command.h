#pragma once
// Command registry of edogtool: each Cmd*.cpp registers one command with EDOG_COMMAND.
#include <string>
#include <vector>

namespace edog::cli {

// Exit statuses, mapped in one place for every command.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;     // refused or failed
constexpr int kExitUsage = 2;      // bad command line
constexpr int kExitInterrupted = 130;

// argv[0] is the command's name; the command parses the rest itself (see Args.h).
using CommandFn = int (*)(int argc, char** argv);

struct Command {
  const char* name;
  const char* summary;
  CommandFn run;
};

std::vector<Command>& Commands();

struct CommandRegistrar {
  CommandRegistrar(const char* name, const char* summary, CommandFn run) {
    Commands().push_back({name, summary, run});
  }
};

}  // namespace edog::cli

#define EDOG_COMMAND(name, summary, fn) \
  static ::edog::cli::CommandRegistrar edogCommand_##fn(name, summary, fn)
