#include "cli/StandardOutput.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/Command.h"

namespace edog::cli {

bool StandardOutputFailed() { return std::ferror(stdout) != 0; }

int FinishStandardOutput(int status) {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  if (flushed && !std::ferror(stdout)) return status;
  // A failed write leaves its bytes in the buffer, so the flush above meets the same
  // reason; an earlier failure whose bytes are gone has none left to name.
  const int reason = !flushed && errno != 0 ? errno : EIO;
  if (reason == EPIPE) return status;
  std::fprintf(stderr, "write error: %s\n", std::strerror(reason));
  return status == kExitOk ? kExitFailed : status;
}

}  // namespace edog::cli
