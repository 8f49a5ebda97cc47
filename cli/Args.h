#pragma once
// A small option parser shared by every edogtool command: flags, options with a value,
// positionals, and --help built from the declarations.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace edog::cli {

class Args {
 public:
  Args(std::string usage, std::string description)
      : usage_(std::move(usage)), description_(std::move(description)) {}

  // names: "-o,--output" (any number of spellings, comma separated).
  void Flag(const std::string& names, bool* target, const std::string& help);
  // A flag that stores `value` into `target` (for choice groups like -C / -I / -N).
  void Choice(const std::string& names, std::string* target, const std::string& value,
              const std::string& help);
  void Option(const std::string& names, std::string* target, const std::string& metavar,
              const std::string& help);
  void Positionals(std::vector<std::string>* target, const std::string& metavar,
                   size_t min, size_t max, const std::string& help);
  // Extra text after the option list (examples, notes).
  void Epilog(const std::string& text) { epilog_ = text; }

  enum Result { kOk, kHelpShown, kUsageError };
  // argv[0] is the command name. Help goes to stdout, errors to stderr.
  Result Parse(int argc, char** argv);
  // Exit status for a result other than kOk.
  static int ExitCode(Result r);
  void PrintHelp() const;
  // Whether the command line gave the option (by any spelling), also with an empty value.
  bool Given(const std::string& name) const;
  // Prints "edogtool <cmd>: <message>" and the usage line to stderr; returns kExitUsage.
  int UsageError(const std::string& message) const;
  // "edogtool <cmd>", for messages.
  const std::string& Command() const { return command_; }

 private:
  struct Opt {
    std::vector<std::string> names;
    std::string metavar;  // empty for flags
    std::string help;
    std::function<void(const std::string&)> set;
  };
  const Opt* Find(const std::string& name) const;
  std::string usage_, description_, epilog_;
  std::string command_ = "edogtool";
  std::vector<Opt> opts_;
  std::vector<const Opt*> given_;
  std::vector<std::string>* positionals_ = nullptr;
  std::string posMetavar_, posHelp_;
  size_t posMin_ = 0, posMax_ = 0;
};

// The one reading of a number in an option value, for every command: digits only (no
// sign, space, suffix or fraction), at most `max`; hexadecimal takes an optional "0x".
// False for anything else, so that no value wraps or is read half.
enum class NumberBase { kDecimal, kHex };
bool ParseNumber(const std::string& text, NumberBase base, uint64_t max, uint64_t& out);
// Decimal of at most 32 bits.
bool ParseUnsigned(const std::string& text, uint32_t& out);
// Hexadecimal of at most 32 bits, with or without "0x".
bool ParseHex(const std::string& text, uint32_t& out);

}  // namespace edog::cli
