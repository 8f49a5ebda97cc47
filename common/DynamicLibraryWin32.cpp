#include <windows.h>

#include <vector>

#include "common/DynamicLibrary.h"
#include "common/DynamicLibraryOs.h"

namespace edog {

std::string DynamicLibrary::PlatformFileName(const std::string& baseName) {
  return baseName + ".dll";
}

namespace dl_os {

void* OpenLibrary(const std::string& path) {
  return reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
}

void CloseLibrary(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }

void* LibrarySymbol(void* handle, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

std::string ExecutablePath() {
  std::vector<char> buf(32768);
  const DWORD n = GetModuleFileNameA(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
  return std::string(buf.data(), n);
}

// The shipped folder holds the plug-ins beside the programs; there is no installed layout.
std::string InstalledPluginFolder(const std::string&) { return {}; }

}  // namespace dl_os
}  // namespace edog
