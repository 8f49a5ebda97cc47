#include "common/DynamicLibrary.h"

#include <vector>

#include "common/DynamicLibraryOs.h"
#include "common/Files.h"
#include "common/Format.h"
#include "common/Paths.h"

namespace edog {

DynamicLibrary::~DynamicLibrary() {
  if (handle_) dl_os::CloseLibrary(handle_);
}

std::unique_ptr<DynamicLibrary> DynamicLibrary::Load(const std::string& nameOrPath,
                                                     std::string* why) {
  std::vector<std::string> candidates;
  if (nameOrPath.find_first_of(FolderSeparators()) != std::string::npos) {
    candidates.push_back(nameOrPath);
  } else {
    const std::string file = PlatformFileName(nameOrPath);
    // No folder of its own known: better none than the current folder.
    const std::string own = FolderPart(dl_os::ExecutablePath(), FolderSeparators());
    if (!own.empty()) {
      candidates.push_back(own + file);
      if (const std::string installed = dl_os::InstalledPluginFolder(own); !installed.empty())
        candidates.push_back(installed + file);
    }
    for (const std::string& folder : dl_os::SystemLibraryFolders())
      candidates.push_back(folder + file);
  }
  std::string first;  // the first present library that failed: the one the user put there
  for (const auto& c : candidates) {
    // A bare name is the system loader's own search: what it does not find is not there.
    const bool byPath = c.find_first_of(FolderSeparators()) != std::string::npos;
    if (byPath && !FileExists(c)) continue;
    std::string reason;
    if (void* h = dl_os::OpenLibrary(c, reason)) {
      return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(h, c));
    }
    if (byPath && first.empty()) first = LoadFailureText(c, reason);
  }
  if (why) *why = first;
  return nullptr;
}

void* DynamicLibrary::Symbol(const char* name) const {
  return dl_os::LibrarySymbol(handle_, name);
}

std::string LoadFailureText(const std::string& path, const std::string& reason) {
  return Format("%s cannot be loaded: %s", path.c_str(), reason.c_str());
}

std::string ProgramDirectory() {
  const std::string folder = FolderPart(dl_os::ExecutablePath(), FolderSeparators());
  return folder.empty() ? std::string(".") + PathSeparator() : folder;
}

}  // namespace edog
