#pragma once
// Run-time loading of the plug-in libraries (device library, voice encoder) by their
// Windows base name: "HaldenUSB" is libHaldenUSB.so here and HaldenUSB.dll on Windows.
// The program's own folder is searched first, then (installed on Linux) ../lib/edog/
// from it, then the system's search path; never the current folder.
#include <memory>
#include <string>

namespace edog {

class DynamicLibrary {
 public:
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;
  ~DynamicLibrary();

  // Loads by base name ("HaldenUSB") or by a path (contains a folder separator).
  // Returns null when the library cannot be loaded.
  static std::unique_ptr<DynamicLibrary> Load(const std::string& nameOrPath);

  // The exported symbol, or null.
  void* Symbol(const char* name) const;
  template <typename Fn>
  Fn Function(const char* name) const {
    return reinterpret_cast<Fn>(Symbol(name));
  }
  const std::string& Path() const { return path_; }

  // "HaldenUSB" -> "libHaldenUSB.so" (POSIX) / "HaldenUSB.dll" (Windows).
  static std::string PlatformFileName(const std::string& baseName);

 private:
  DynamicLibrary(void* handle, std::string path) : handle_(handle), path_(std::move(path)) {}
  void* handle_;
  std::string path_;
};

// Folder of the running program, ending with a separator ('/' here, '\\' on Windows).
std::string ProgramDirectory();

}  // namespace edog
