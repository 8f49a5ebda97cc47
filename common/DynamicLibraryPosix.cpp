#include "common/DynamicLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <vector>

namespace edog {

DynamicLibrary::~DynamicLibrary() {
  if (handle_) dlclose(handle_);
}

std::string DynamicLibrary::PlatformFileName(const std::string& baseName) {
#if defined(__APPLE__)
  return "lib" + baseName + ".dylib";
#else
  return "lib" + baseName + ".so";
#endif
}

std::unique_ptr<DynamicLibrary> DynamicLibrary::Load(const std::string& nameOrPath) {
  std::vector<std::string> candidates;
  if (nameOrPath.find('/') != std::string::npos) {
    candidates.push_back(nameOrPath);
  } else {
    const std::string file = PlatformFileName(nameOrPath);
    candidates.push_back(ProgramDirectory() + file);
    candidates.push_back(file);  // the system's search path
  }
  for (const auto& c : candidates) {
    if (void* h = dlopen(c.c_str(), RTLD_NOW | RTLD_LOCAL)) {
      return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(h, c));
    }
  }
  return nullptr;
}

void* DynamicLibrary::Symbol(const char* name) const { return dlsym(handle_, name); }

std::string ProgramDirectory() {
  std::vector<char> buf(PATH_MAX + 1);
  const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return "./";
  std::string path(buf.data(), static_cast<size_t>(n));
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

}  // namespace edog
