#include "update/PackageLookup.h"

#include <cstdlib>

#include "common/DynamicLibrary.h"
#include "common/Files.h"
#include "update/Package.h"

namespace edog {

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

bool IsAbsolute(const std::string& path) {
  if (path.empty()) return false;
  if (path[0] == '/' || path[0] == '\\') return true;
  return path.size() > 2 && path[1] == ':';  // a Windows drive
}

std::string Folder(const std::string& path) {
  if (path.empty() || path.find_last_of(FolderSeparators()) == path.size() - 1) return path;
  return path + PathSeparator();
}

}  // namespace

PackagePlaces PackagePlacesHere(const std::string& chosen) {
  PackagePlaces places;
  places.chosen = chosen;
  places.programDir = ProgramDirectory();
  places.dataHome = Env("XDG_DATA_HOME");
  places.home = Env("HOME");
  return places;
}

std::vector<std::string> PackageCandidates(const PackagePlaces& places) {
  if (!places.chosen.empty()) return {places.chosen};
  const std::string sep(1, PathSeparator());
  std::vector<std::string> out;
  out.push_back(Folder(places.programDir) + kPackageFileName);
  // As the XDG base directory rules say, a relative $XDG_DATA_HOME is ignored.
  if (IsAbsolute(places.dataHome))
    out.push_back(Folder(places.dataHome) + "edog" + sep + kPackageFileName);
  else if (IsAbsolute(places.home))
    out.push_back(Folder(places.home) + ".local" + sep + "share" + sep + "edog" + sep +
                  kPackageFileName);
  if (!places.programDir.empty())
    out.push_back(Folder(places.programDir) + ".." + sep + "share" + sep + "edog" + sep +
                  kPackageFileName);
  return out;
}

PackageLookup FindPackage(const PackagePlaces& places, FileTest isFile) {
  if (!isFile) isFile = FileExists;
  PackageLookup lookup;
  lookup.candidates = PackageCandidates(places);
  for (const std::string& c : lookup.candidates) {
    if (isFile(c)) {
      lookup.path = c;
      lookup.found = true;
      return lookup;
    }
  }
  lookup.path = lookup.candidates.front();
  return lookup;
}

std::string PackageLookupText(const PackageLookup& lookup) {
  if (lookup.found) return "更新包: " + lookup.path + "\r\n";
  std::string places;
  for (const std::string& c : lookup.candidates) places += (places.empty() ? "" : ", ") + c;
  return "找不到更新包: " + places + "\r\n";
}

}  // namespace edog
