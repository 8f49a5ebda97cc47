#include "cli/Args.h"

#include <cstdio>
#include <sstream>

#include "cli/Command.h"

namespace edog::cli {
namespace {
std::vector<std::string> SplitNames(const std::string& names) {
  std::vector<std::string> out;
  std::stringstream ss(names);
  std::string item;
  while (std::getline(ss, item, ',')) out.push_back(item);
  return out;
}
}  // namespace

void Args::Flag(const std::string& names, bool* target, const std::string& help) {
  opts_.push_back({SplitNames(names), "", help, [target](const std::string&) { *target = true; }});
}

void Args::Choice(const std::string& names, std::string* target, const std::string& value,
                  const std::string& help) {
  opts_.push_back(
      {SplitNames(names), "", help, [target, value](const std::string&) { *target = value; }});
}

void Args::Option(const std::string& names, std::string* target, const std::string& metavar,
                  const std::string& help) {
  opts_.push_back(
      {SplitNames(names), metavar, help, [target](const std::string& v) { *target = v; }});
}

void Args::Positionals(std::vector<std::string>* target, const std::string& metavar, size_t min,
                       size_t max, const std::string& help) {
  positionals_ = target;
  posMetavar_ = metavar;
  posMin_ = min;
  posMax_ = max;
  posHelp_ = help;
}

const Args::Opt* Args::Find(const std::string& name) const {
  for (const auto& o : opts_)
    for (const auto& n : o.names)
      if (n == name) return &o;
  return nullptr;
}

Args::Result Args::Parse(int argc, char** argv) {
  if (argc > 0) command_ = std::string("edogtool ") + argv[0];
  std::vector<std::string> pos;
  bool onlyPositionals = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (!onlyPositionals && a == "--") {
      onlyPositionals = true;
      continue;
    }
    if (!onlyPositionals && (a == "-h" || a == "--help")) {
      PrintHelp();
      return kHelpShown;
    }
    if (!onlyPositionals && a.size() > 1 && a[0] == '-') {
      std::string value;
      bool hasInline = false;
      if (a.rfind("--", 0) == 0) {
        const auto eq = a.find('=');
        if (eq != std::string::npos) {
          value = a.substr(eq + 1);
          a = a.substr(0, eq);
          hasInline = true;
        }
      }
      const Opt* o = Find(a);
      if (!o) {
        UsageError("unknown option " + a);
        return kUsageError;
      }
      if (o->metavar.empty()) {
        if (hasInline) {
          UsageError("option " + a + " takes no value");
          return kUsageError;
        }
        o->set({});
      } else {
        if (!hasInline) {
          if (i + 1 >= argc) {
            UsageError("option " + a + " needs a value (" + o->metavar + ")");
            return kUsageError;
          }
          value = argv[++i];
        }
        o->set(value);
      }
      given_.push_back(o);
      continue;
    }
    pos.push_back(a);
  }
  if (!positionals_ && !pos.empty()) {
    UsageError("unexpected argument " + pos.front());
    return kUsageError;
  }
  if (positionals_) {
    if (pos.size() < posMin_) {
      UsageError("missing " + posMetavar_);
      return kUsageError;
    }
    if (pos.size() > posMax_) {
      UsageError("too many arguments");
      return kUsageError;
    }
    *positionals_ = pos;
  }
  return kOk;
}

bool Args::Given(const std::string& name) const {
  const Opt* o = Find(name);
  for (const Opt* g : given_)
    if (g == o) return true;
  return false;
}

int Args::ExitCode(Result r) { return r == kHelpShown ? kExitOk : kExitUsage; }

void Args::PrintHelp() const {
  std::printf("Usage: %s\n\n%s\n", usage_.c_str(), description_.c_str());
  if (positionals_ && !posHelp_.empty()) std::printf("\n  %-24s %s\n", posMetavar_.c_str(), posHelp_.c_str());
  std::printf("\nOptions:\n");
  for (const auto& o : opts_) {
    std::string names;
    for (const auto& n : o.names) names += (names.empty() ? "" : ", ") + n;
    if (!o.metavar.empty()) names += " " + o.metavar;
    std::printf("  %-24s %s\n", names.c_str(), o.help.c_str());
  }
  std::printf("  %-24s %s\n", "-h, --help", "show this help and exit");
  if (!epilog_.empty()) std::printf("\n%s\n", epilog_.c_str());
}

int Args::UsageError(const std::string& message) const {
  std::fprintf(stderr, "%s: %s\nUsage: %s\nTry '%s --help'.\n", command_.c_str(), message.c_str(),
               usage_.c_str(), command_.c_str());
  return kExitUsage;
}

bool ParseNumber(const std::string& text, NumberBase base, uint64_t max, uint64_t& out) {
  size_t at = 0;
  if (base == NumberBase::kHex && text.size() > 2 && text[0] == '0' &&
      (text[1] == 'x' || text[1] == 'X'))
    at = 2;
  if (at == text.size()) return false;  // empty, or "0x" alone
  const uint64_t radix = base == NumberBase::kHex ? 16 : 10;
  uint64_t value = 0;
  for (; at < text.size(); ++at) {
    const char c = text[at];
    uint64_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint64_t>(c - '0');
    } else if (radix == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<uint64_t>(c - 'a' + 10);
    } else if (radix == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<uint64_t>(c - 'A' + 10);
    } else {
      return false;  // a sign, a space, a suffix or a second "0x"
    }
    // Checked before it is taken, so that no number wraps into range.
    if (value > (max - digit) / radix) return false;
    value = value * radix + digit;
  }
  out = value;
  return true;
}

bool ParseUnsigned(const std::string& text, uint32_t& out) {
  uint64_t v = 0;
  if (!ParseNumber(text, NumberBase::kDecimal, UINT32_MAX, v)) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

bool ParseHex(const std::string& text, uint32_t& out) {
  uint64_t v = 0;
  if (!ParseNumber(text, NumberBase::kHex, UINT32_MAX, v)) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

}  // namespace edog::cli
