#pragma once
// Where the update package is looked for. A system install puts the programs in a folder
// the user cannot write, so besides the program's own folder the user's data folder and
// the installed data folder are searched too; the window and edogtool use the same order.
#include <string>
#include <vector>

namespace edog {

struct PackagePlaces {
  std::string chosen;      // --package PATH: when given, the only place looked at
  std::string programDir;  // the program's folder, ending with a separator
  std::string dataHome;    // $XDG_DATA_HOME (used only when absolute)
  std::string home;        // $HOME, for the default ~/.local/share
};

// The places of this process: its own folder and environment, plus `chosen`.
PackagePlaces PackagePlacesHere(const std::string& chosen);

// In order: `chosen` alone; else beside the program, $XDG_DATA_HOME/edog/ (default
// ~/.local/share/edog/), then the installed share/edog/ (../share/edog/ from the program).
std::vector<std::string> PackageCandidates(const PackagePlaces& places);

struct PackageLookup {
  std::string path;                     // the package to use (the first candidate if none)
  bool found = false;                   // whether `path` is a regular file
  std::vector<std::string> candidates;  // every place looked at, in order
};

using FileTest = bool (*)(const std::string& path);
PackageLookup FindPackage(const PackagePlaces& places, FileTest isFile = nullptr);

// One line for the update log and edogtool: which package is used, or where it was missing.
std::string PackageLookupText(const PackageLookup& lookup);

}  // namespace edog
