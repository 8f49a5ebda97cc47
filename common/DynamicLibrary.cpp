#include "common/DynamicLibrary.h"

#include <vector>

#include "common/DynamicLibraryOs.h"
#include "common/Files.h"
#include "common/Paths.h"

namespace edog {

DynamicLibrary::~DynamicLibrary() {
  if (handle_) dl_os::CloseLibrary(handle_);
}

std::unique_ptr<DynamicLibrary> DynamicLibrary::Load(const std::string& nameOrPath) {
  std::vector<std::string> candidates;
  if (nameOrPath.find_first_of(FolderSeparators()) != std::string::npos) {
    candidates.push_back(nameOrPath);
  } else {
    const std::string file = PlatformFileName(nameOrPath);
    candidates.push_back(ProgramDirectory() + file);
    if (const std::string installed = dl_os::InstalledPluginFolder(ProgramDirectory());
        !installed.empty())
      candidates.push_back(installed + file);
    candidates.push_back(file);  // the system's search path
  }
  for (const auto& c : candidates) {
    if (void* h = dl_os::OpenLibrary(c)) {
      return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(h, c));
    }
  }
  return nullptr;
}

void* DynamicLibrary::Symbol(const char* name) const {
  return dl_os::LibrarySymbol(handle_, name);
}

std::string ProgramDirectory() {
  const std::string folder = FolderPart(dl_os::ExecutablePath(), FolderSeparators());
  return folder.empty() ? std::string(".") + PathSeparator() : folder;
}

}  // namespace edog
