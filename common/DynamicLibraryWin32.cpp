#include <windows.h>

#include <filesystem>
#include <vector>

#include "common/DynamicLibrary.h"
#include "common/DynamicLibraryOs.h"
#include "common/Files.h"
#include "common/FsPath.h"
#include "common/LibraryMachine.h"

namespace edog {

std::string DynamicLibrary::PlatformFileName(const std::string& baseName) {
  return baseName + ".dll";
}

namespace dl_os {
namespace {

std::string Utf8(const std::wstring& wide) { return std::filesystem::path(wide).u8string(); }

std::string SystemMessage(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = n && text ? std::wstring(text, n) : std::wstring();
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                              message.back() == L' ' || message.back() == L'.'))
    message.pop_back();
  return (message.empty() ? std::string("system error") : Utf8(message)) + " (error " +
         std::to_string(error) + ")";
}

std::string Reason(const std::string& path, DWORD error) {
  switch (error) {
    case ERROR_BAD_EXE_FORMAT: {
      uint8_t head[4096];
      StdFile f(path, "rb");
      const size_t got = f.Read(head, sizeof head);
      const LibraryMachine machine = PeMachine(head, got);
      return WrongMachineReason(machine, sizeof(void*) == 8) + " (error 193)";
    }
    case ERROR_MOD_NOT_FOUND:
      // The file is there (looked at before): what is missing is a DLL it needs.
      return "a DLL it depends on is missing (error 126)";
    default: return SystemMessage(error);
  }
}

// The path made absolute: the search flags below want a full path, and the older loader's
// altered search is defined only for one.
std::wstring FullPath(const std::wstring& path) {
  const DWORD need = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (need == 0) return path;
  std::wstring full(need, L'\0');
  const DWORD n = GetFullPathNameW(path.c_str(), need, full.data(), nullptr);
  if (n == 0 || n >= need) return path;
  full.resize(n);
  return full;
}

}  // namespace

void* OpenLibrary(const std::string& path, std::string& reason) {
  const std::wstring wide = FullPath(FsPath(path).wstring());
  // The library's own dependencies come from its folder and the system's, never from the
  // current folder. Windows 7 without the 2011 loader update (KB2533623) refuses these flags
  // (ERROR_INVALID_PARAMETER): there the same full path is loaded with the DLL's folder
  // searched first for its dependencies, never by bare name, and the current folder is
  // taken out of the process's search (an empty DLL directory) before.
  HMODULE h = LoadLibraryExW(wide.c_str(), nullptr,
                             LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
  if (!h && GetLastError() == ERROR_INVALID_PARAMETER) {
    SetDllDirectoryW(L"");
    h = LoadLibraryExW(wide.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
  if (!h) reason = Reason(path, GetLastError());
  return reinterpret_cast<void*>(h);
}

void CloseLibrary(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }

void* LibrarySymbol(void* handle, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

std::string ExecutablePath() {
  // Wide, so that a folder outside the ANSI code page keeps its name.
  std::vector<wchar_t> buf(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) return Utf8(std::wstring(buf.data(), n));
    if (buf.size() >= 32768) return {};
    buf.resize(buf.size() * 2);
  }
}

std::vector<std::string> SystemLibraryFolders() {
  wchar_t dir[MAX_PATH];
  const UINT n = GetSystemDirectoryW(dir, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  std::string folder = Utf8(std::wstring(dir, n));
  if (folder.back() != '\\') folder += '\\';
  return {folder};
}

// The shipped folder holds the plug-ins beside the programs; there is no installed layout.
std::string InstalledPluginFolder(const std::string&) { return {}; }

}  // namespace dl_os
}  // namespace edog
