#include "common/DynamicLibrary.h"

#include <windows.h>

#include <vector>

namespace edog {

DynamicLibrary::~DynamicLibrary() {
  if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
}

std::string DynamicLibrary::PlatformFileName(const std::string& baseName) {
  return baseName + ".dll";
}

std::unique_ptr<DynamicLibrary> DynamicLibrary::Load(const std::string& nameOrPath) {
  std::vector<std::string> candidates;
  if (nameOrPath.find_first_of("\\/") != std::string::npos) {
    candidates.push_back(nameOrPath);
  } else {
    const std::string file = PlatformFileName(nameOrPath);
    candidates.push_back(ProgramDirectory() + file);
    candidates.push_back(file);
  }
  for (const auto& c : candidates) {
    if (HMODULE h = LoadLibraryA(c.c_str())) {
      return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(h, c));
    }
  }
  return nullptr;
}

void* DynamicLibrary::Symbol(const char* name) const {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

std::string ProgramDirectory() {
  std::vector<char> buf(32768);
  const DWORD n = GetModuleFileNameA(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
  std::string path(buf.data(), n);
  const auto slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string(".\\") : path.substr(0, slash + 1);
}

}  // namespace edog
