#pragma once
// Texts the image table and voice data generators share, word for word.

namespace edog {

constexpr const char kTmpFileErrorText[] = "Tmp File could not be opened !\n";
// A tool window's Cancel or Esc during a run: the run stopped and left nothing behind.
constexpr const char kRunCancelledText[] =
    "Converting cancelled!!\n\nThe files this run had written were removed.";

}  // namespace edog
