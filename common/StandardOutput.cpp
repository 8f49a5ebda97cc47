#include "common/StandardOutput.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace edog {
namespace {

// The reason of the first failed flush, as the stream keeps only that one failed.
std::atomic<int> firstFlushError{0};

}  // namespace

bool StandardOutputFailed() { return std::ferror(stdout) != 0; }

bool FlushStandardOutput() {
  errno = 0;
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
  int none = 0;
  firstFlushError.compare_exchange_strong(none, errno != 0 ? errno : EIO);
  return false;
}

int FinishStandardOutput(int status) {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  if (flushed && !std::ferror(stdout)) return status;
  // A failed write leaves its bytes in the buffer, so the flush above meets the same
  // reason; bytes a flush before dropped left theirs in FlushStandardOutput.
  const int reason = firstFlushError.load() != 0 ? firstFlushError.load()
                     : !flushed && errno != 0     ? errno
                                                  : EIO;
  if (reason == EPIPE) return status;
  std::fprintf(stderr, "write error: %s\n", std::strerror(reason));
  return status == 0 ? 1 : status;
}

}  // namespace edog
