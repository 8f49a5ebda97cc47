#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <vector>

#include "common/DynamicLibrary.h"
#include "common/DynamicLibraryOs.h"

namespace edog {

std::string DynamicLibrary::PlatformFileName(const std::string& baseName) {
#if defined(__APPLE__)
  return "lib" + baseName + ".dylib";
#else
  return "lib" + baseName + ".so";
#endif
}

namespace dl_os {

void* OpenLibrary(const std::string& path, std::string& reason) {
  dlerror();
  void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    const char* e = dlerror();
    reason = e ? e : "unknown error";
    // dlerror names the file first; LoadFailureText does that already.
    if (reason.compare(0, path.size() + 2, path + ": ") == 0) reason.erase(0, path.size() + 2);
  }
  return h;
}

void CloseLibrary(void* handle) { dlclose(handle); }

void* LibrarySymbol(void* handle, const char* name) { return dlsym(handle, name); }

std::string ExecutablePath() {
  std::vector<char> buf(PATH_MAX + 1);
  const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return {};
  return std::string(buf.data(), static_cast<size_t>(n));
}

// dlopen's own search (LD_LIBRARY_PATH, the cache, the system folders), which never
// includes the current folder for a bare name.
std::vector<std::string> SystemLibraryFolders() { return {""}; }
// bin/edog finds lib/edog/libHaldenUSB.so: the plug-ins are not on the linker's path.
std::string InstalledPluginFolder(const std::string& programFolder) {
  return programFolder + "../lib/edog/";
}

}  // namespace dl_os
}  // namespace edog
