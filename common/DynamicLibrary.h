#pragma once
// Run-time loading of the plug-in libraries (device library, voice encoder) by their
// Windows base name: "HaldenUSB" is libHaldenUSB.so here and HaldenUSB.dll on Windows.
// A base name is looked for by full path only: the program's own folder first, then
// (installed on Linux) ../lib/edog/ from it, then the system's library folder (on POSIX the
// system's search path), never the current folder, so that a library planted where the
// user happens to stand is never run.
#include <memory>
#include <string>

namespace edog {

class DynamicLibrary {
 public:
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;
  ~DynamicLibrary();

  // Loads by base name ("HaldenUSB") or by a path (contains a folder separator).
  // Returns null when the library cannot be loaded; `why` (when given) then says why a
  // library that is there could not be loaded, naming the file (LoadFailureText), and is
  // left empty when there is none to load.
  static std::unique_ptr<DynamicLibrary> Load(const std::string& nameOrPath,
                                              std::string* why = nullptr);

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

// The one shape of every "present but unusable" message, on every platform.
std::string LoadFailureText(const std::string& path, const std::string& reason);

// Folder of the running program, ending with a separator ('/' here, '\\' on Windows).
std::string ProgramDirectory();

}  // namespace edog
