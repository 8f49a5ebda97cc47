#pragma once
// Terminal helpers shared by the long-running commands: progress output, and the stop
// requests of cli/Interrupt.h.
#include <cstdint>
#include <string>

#include "cli/Interrupt.h"

namespace edog::cli {

// On a terminal: one bar redrawn in place. Otherwise: one plain line per 10 % step, so
// logs stay short. Percent values above 100 are shown as they are.
class ProgressDisplay {
 public:
  explicit ProgressDisplay(std::string label);
  ~ProgressDisplay();
  // `detail` is shown after the percent (e.g. "512K/1024K 980KB/s 0:01 left").
  void Update(unsigned percent, const std::string& detail = {});
  // Ends the bar's line (a no-op for plain output).
  void Finish();
  static bool IsTerminal();

 private:
  std::string label_;
  bool tty_;
  bool drawn_ = false;
  int lastStep_ = -1;
  unsigned lastPercent_ = 0;
};

// Time stamp for --trace lines: seconds since the first call, with microseconds.
std::string TraceStamp();

}  // namespace edog::cli
