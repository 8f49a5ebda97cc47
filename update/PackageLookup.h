#pragma once
// Where the update package is looked for. A system install puts the programs in a folder
// the user cannot write, so besides the program's own folder the user's data folder and
// the installed data folder are searched too; the window and edogtool use the same order.
#include <string>
#include <vector>

#include "common/TempFolder.h"

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
  bool found = false;                   // whether `path` is a regular file that may be used
  std::string refusal;                  // why the package found at `path` may not be used
  std::vector<std::string> candidates;  // every place looked at, in order
};

// Why a package found in the user's data folder or the installed one may not be used:
// another user could have put it there or could change it (its folder or the file is
// another user's, or others may write to them; a sticky folder such as a shared 1777
// $XDG_DATA_HOME is fine for the user's own files, and so is a group-writable one whose group
// is the user's private group, as `umask 002` leaves them). Empty when nothing is wrong.
// `groups` looks groups up (tests fake it); empty: the system's group database.
std::string PackageTrustProblem(const std::string& path);
std::string PackageTrustProblem(const std::string& path, const GroupLookup& groups);

// The first candidate that is a file is the package. The package beside the program is
// trusted as the program is; one found in a later place that fails `trust` (default
// PackageTrustProblem) is refused: the lookup stops there with `refusal` set rather than
// take a package from a later place the user did not mean. The package named with
// --package is the user's own choice and is not checked.
using FileTest = bool (*)(const std::string& path);
using TrustTest = std::string (*)(const std::string& path);
PackageLookup FindPackage(const PackagePlaces& places, FileTest isFile = nullptr,
                          TrustTest trust = nullptr);

// One line for the update log and edogtool: which package is used, why it is refused, or
// where it was missing.
std::string PackageLookupText(const PackageLookup& lookup);

}  // namespace edog
