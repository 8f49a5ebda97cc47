#include "update/PackageLookup.h"

#include <cstdlib>

#include "common/DynamicLibrary.h"
#include "common/Files.h"
#include "common/Paths.h"
#include "common/TempFolder.h"
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

std::string PackageTrustProblem(const std::string& path) { return PackageTrustProblem(path, {}); }

std::string PackageTrustProblem(const std::string& path, const GroupLookup& groups) {
  const TrustWords words{"the folder of the update package", "send content of their own to your device",
                         "keep the package in a folder of your own, or name it with --package"};
  const TrustRule rule{true, groups};
  const std::string folder = path.substr(0, FileNameStart(path));
  if (std::string why = FolderTrustProblem(folder.empty() ? "." : folder, words, rule);
      !why.empty())
    return why;
  return FileTrustProblem(path, {"the update package", words.harm, words.fix}, rule);
}

PackageLookup FindPackage(const PackagePlaces& places, FileTest isFile, TrustTest trust) {
  if (!isFile) isFile = FileExists;
  if (!trust) trust = PackageTrustProblem;
  PackageLookup lookup;
  lookup.candidates = PackageCandidates(places);
  for (size_t i = 0; i < lookup.candidates.size(); ++i) {
    const std::string& c = lookup.candidates[i];
    if (!isFile(c)) continue;
    lookup.path = c;
    // The package beside the program is as safe as the program: whoever may replace the one
    // may replace the other. Only the other places are checked.
    const bool besideProgram = places.chosen.empty() && i == 0;
    if (places.chosen.empty() && !besideProgram) lookup.refusal = trust(c);
    lookup.found = lookup.refusal.empty();
    return lookup;
  }
  lookup.path = lookup.candidates.front();
  return lookup;
}

std::string PackageLookupText(const PackageLookup& lookup) {
  if (lookup.found) return "更新包: " + lookup.path + "\r\n";
  if (!lookup.refusal.empty()) return "拒绝使用更新包: " + lookup.refusal + "\r\n";
  std::string places;
  for (const std::string& c : lookup.candidates) places += (places.empty() ? "" : ", ") + c;
  return "找不到更新包: " + places + "\r\n";
}

}  // namespace edog
