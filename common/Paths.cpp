#include "common/Paths.h"

namespace edog {

size_t FileNameStart(const std::string& path, const char* separators) {
  const size_t sep = path.find_last_of(separators);
  return sep == std::string::npos ? 0 : sep + 1;
}

std::string FolderPart(const std::string& path, const char* separators) {
  return path.substr(0, FileNameStart(path, separators));
}

size_t ExtensionDot(const std::string& path) {
  const size_t dot = path.rfind('.');
  return dot == std::string::npos || dot < FileNameStart(path) ? std::string::npos : dot;
}

}  // namespace edog
