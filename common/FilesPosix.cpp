#include <unistd.h>

#include <cstdlib>

#include "common/Files.h"
#include "common/FilesOs.h"
#include "common/FsPath.h"

namespace edog {

std::filesystem::path FsPath(const std::string& path) { return std::filesystem::path(path); }

bool RemoveDirectory(const std::string& path) { return rmdir(path.c_str()) == 0; }

char PathSeparator() { return '/'; }

const char* FolderSeparators() { return "/"; }

// Case matters: a lower-cased path would name another file (or none).
bool FileNamesIgnoreCase() { return false; }

std::optional<std::string> EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  if (!value) return std::nullopt;
  return std::string(value);
}

bool SetEnvironmentValue(const char* name, const std::string& value) {
  return ::setenv(name, value.c_str(), 1) == 0;
}

namespace files_os {

FILE* OpenFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

std::string MakeFreshDirectory(const std::string& base) {
  std::string templ = JoinPath(base, "tmpXXXXXX");
  if (!mkdtemp(templ.data())) return {};
  return templ;
}

}  // namespace files_os
}  // namespace edog
