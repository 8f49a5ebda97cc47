#include <windows.h>
#undef RemoveDirectory  // windows.h macro: ours is edog::RemoveDirectory

#include <cstdlib>
#include <cwchar>

#include "common/Files.h"
#include "common/FilesOs.h"
#include "common/FsPath.h"

namespace edog {

// Every call here is the wide one: the narrow ones read and write the ANSI code page,
// which cannot hold every name (a Chinese user name on a Western system, for one).

std::filesystem::path FsPath(const std::string& path) {
  if (path.empty()) return {};
  const int n8 = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(),
                                     static_cast<int>(path.size()), nullptr, 0);
  const UINT codePage = n8 > 0 ? CP_UTF8 : CP_ACP;
  const DWORD flags = n8 > 0 ? MB_ERR_INVALID_CHARS : 0;
  const int n = MultiByteToWideChar(codePage, flags, path.data(), static_cast<int>(path.size()),
                                    nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(codePage, flags, path.data(), static_cast<int>(path.size()), wide.data(), n);
  return std::filesystem::path(wide);
}

bool RemoveDirectory(const std::string& path) {
  const std::filesystem::path p = FsPath(path);
  return !p.empty() && ::RemoveDirectoryW(p.c_str()) != FALSE;
}

char PathSeparator() { return '\\'; }

const char* FolderSeparators() { return "\\/"; }

bool FileNamesIgnoreCase() { return true; }

std::optional<std::string> EnvironmentValue(const char* name) {
  const std::wstring wideName(name, name + std::char_traits<char>::length(name));
  const wchar_t* value = _wgetenv(wideName.c_str());
  if (!value) return std::nullopt;
  return std::filesystem::path(value).u8string();
}

bool SetEnvironmentValue(const char* name, const std::string& value) {
  const std::wstring wideName(name, name + std::char_traits<char>::length(name));
  return _wputenv_s(wideName.c_str(), FsPath(value).wstring().c_str()) == 0;
}

namespace files_os {

FILE* OpenFile(const std::string& path, const char* mode) {
  const std::filesystem::path p = FsPath(path);
  if (p.empty()) return nullptr;
  const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
  return _wfopen(p.c_str(), wideMode.c_str());
}

std::string MakeFreshDirectory(const std::string& base) {
  // No mkdtemp: try fresh names until one can be created.
  for (unsigned i = 0; i < 100000; ++i) {
    const std::string dir = JoinPath(base, "tmp" + std::to_string(std::rand()) + std::to_string(i));
    const std::filesystem::path p = FsPath(dir);
    if (p.empty()) return {};
    if (CreateDirectoryW(p.c_str(), nullptr)) return dir;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return {};
  }
  return {};
}

}  // namespace files_os
}  // namespace edog
