#pragma once
// Paths handed to a closed vendor library, which opens them with the narrow (ANSI) calls:
// our paths are UTF-8, and a name the ANSI code page cannot hold must reach it another
// way. In order: the ANSI code page when every character converts exactly (no best-fit
// look-alikes, which would name another file); else the 8.3 short path; else a refusal
// that names the file and says why. The choice is pure, over the system's conversions
// (NarrowPathSystem), so it is tested on every platform.
#include <functional>
#include <optional>
#include <string>

namespace edog {

struct NarrowPathSystem {
  // The text in the ANSI code page when it converts exactly; nullopt otherwise.
  std::function<std::optional<std::string>(const std::string& utf8)> exactAnsi;
  // The 8.3 short form (UTF-8) of a file or folder that exists; nullopt when it has none.
  std::function<std::optional<std::string>(const std::string& utf8)> shortPath;
  std::string codePage;  // for messages: "936", "1252"
};

// This system's conversions: on Windows the ANSI code page and GetShortPathNameW; elsewhere
// the bytes as they are (the libraries there take UTF-8).
NarrowPathSystem SystemNarrowPaths();

struct NarrowPath {
  bool ok = false;
  std::string narrow;  // what the library gets
  std::string actual;  // the file it names, UTF-8 (an output may get another name)
  std::string why;     // the refusal, when !ok
};

// An existing input file.
NarrowPath NarrowInputPath(const std::string& utf8, const NarrowPathSystem& system);
// An output file the library will create beside `input` (same folder): the folder's short
// path plus the name when the name converts; else the input's short name with the
// output's extension (`actual` says which file that is).
NarrowPath NarrowOutputPath(const std::string& utf8, const std::string& input,
                            const NarrowPathSystem& system);

}  // namespace edog
