#include "tools/PathFunctions.h"

#include "common/Paths.h"

namespace edog {

SplitPath SplitFilePath(const std::string& path) {
  SplitPath s;
  std::string rest = path;
  if (rest.size() >= 2 && rest[1] == ':') {
    s.drive = rest.substr(0, 2);
    rest = rest.substr(2);
  }
  const size_t nameStart = FileNameStart(rest);
  s.folder = rest.substr(0, nameStart);
  rest = rest.substr(nameStart);
  const auto dot = rest.rfind('.');
  if (dot != std::string::npos) {
    s.extension = rest.substr(dot);
    rest = rest.substr(0, dot);
  }
  s.name = rest;
  return s;
}

std::string ExtractFileName(const std::string& path) {
  const SplitPath s = SplitFilePath(path);
  if (s.name.empty()) return {};
  return s.name + s.extension;
}

std::string ExtractFileTitle(const std::string& path, bool upper) {
  std::string title = SplitFilePath(path).name;
  if (upper) {
    for (char& c : title)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return title;
}

std::string ReplaceExtension(const std::string& path, const std::string& extension) {
  const SplitPath s = SplitFilePath(path);
  return s.drive + s.folder + s.name + "." + extension;
}

}  // namespace edog
