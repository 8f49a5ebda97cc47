#pragma once
// Texts the image table and voice data generators share, word for word.
#include <string>

#include "common/AtomicFile.h"

namespace edog {

constexpr const char kTmpFileErrorText[] = "Tmp File could not be opened !\n";
// The same for an output that could not be created, with the reason on the next line
// ("... is a folder, not a regular file"): the box's words alone leave the user guessing.
inline std::string TmpFileErrorText(const AtomicFileWriter& output) {
  return kTmpFileErrorText + output.OpenFailureText();
}
// A tool window's Cancel or Esc during a run: the run stopped and left nothing behind.
constexpr const char kRunCancelledText[] =
    "Converting cancelled!!\n\nThe files this run had written were removed.";

}  // namespace edog
