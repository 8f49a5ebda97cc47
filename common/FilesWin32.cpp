#include <direct.h>

#include <cerrno>
#include <cstdlib>

#include "common/Files.h"
#include "common/FilesOs.h"
#include "common/FsPath.h"

namespace edog {

bool RemoveDirectory(const std::string& path) { return _rmdir(path.c_str()) == 0; }

char PathSeparator() { return '\\'; }

const char* FolderSeparators() { return "\\/"; }

bool FileNamesIgnoreCase() { return true; }

namespace files_os {

FILE* OpenFile(const std::string& path, const char* mode) {
  const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
  return _wfopen(FsPath(path).c_str(), wideMode.c_str());
}

std::string MakeFreshDirectory(const std::string& base) {
  // No mkdtemp: try fresh names until one can be created.
  for (unsigned i = 0; i < 100000; ++i) {
    const std::string dir = JoinPath(base, "tmp" + std::to_string(std::rand()) + std::to_string(i));
    if (_mkdir(dir.c_str()) == 0) return dir;
    if (errno != EEXIST) return {};
  }
  return {};
}

}  // namespace files_os
}  // namespace edog
