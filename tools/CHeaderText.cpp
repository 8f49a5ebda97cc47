#include "tools/CHeaderText.h"

#include <set>

namespace edog {
namespace {

bool IsIdentifierChar(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

}  // namespace

std::string CStringLiteralBody(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  char previous = 0;
  for (char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c == '?' && previous == '?') {
      out += "\\?";
    } else if (c < 0x20 || c >= 0x7F) {
      // Always three digits, so a digit that follows cannot join the escape.
      out += '\\';
      out += static_cast<char>('0' + (c >> 6));
      out += static_cast<char>('0' + ((c >> 3) & 7));
      out += static_cast<char>('0' + (c & 7));
    } else {
      out += ch;
    }
    previous = ch;
  }
  return out;
}

std::string CIdentifier(const std::string& name) {
  std::string out;
  out.reserve(name.size() + 1);
  if (name.empty() || !IsIdentifierChar(static_cast<unsigned char>(name[0])) ||
      (name[0] >= '0' && name[0] <= '9'))
    out += 'N';
  for (char ch : name) out += IsIdentifierChar(static_cast<unsigned char>(ch)) ? ch : '_';
  return out;
}

std::vector<std::string> UniqueCIdentifiers(const std::vector<std::string>& names) {
  std::vector<std::string> out;
  out.reserve(names.size());
  std::set<std::string> wanted, used;
  for (const std::string& n : names) wanted.insert(CIdentifier(n));
  for (const std::string& n : names) {
    std::string id = CIdentifier(n);
    if (used.count(id)) {
      for (unsigned k = 2;; ++k) {
        const std::string candidate = id + "_" + std::to_string(k);
        if (!used.count(candidate) && !wanted.count(candidate)) {
          id = candidate;
          break;
        }
      }
    }
    used.insert(id);
    out.push_back(id);
  }
  return out;
}

}  // namespace edog
