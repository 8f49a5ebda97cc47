#pragma once
// The row the voice data generator's wave list gets for one file (Name, Freq, N bit Comp,
// Size, Dir), or why the file is refused. The dialog and edogtool wavinfo share it.
#include <string>

#include "tools/WaveInfo.h"

namespace edog {

struct WaveListRow {
  std::string name, freq, bits, size, dir;
};

struct WaveListEntry {
  enum Kind { kAdded, kStereo, kUnreadable };
  Kind kind = kUnreadable;
  WaveListRow row;      // filled for kAdded only
  std::string message;  // the refusal text otherwise
};

// Re-targets `working` at the file (SetFile), refuses stereo files, and builds the row
// from the working object. Read and format errors become a kUnreadable entry whose message
// names the file; no row is half filled.
WaveListEntry MakeWaveListEntry(CWaveInfo& working, const std::string& path);

}  // namespace edog
