// Linux lets each timed wait of a thread end up to its timer slack late (50 us by
// default) so that wake-ups can be merged; the serial line's 1 ms pause and its waits for
// a one-byte answer add that on every block, so the thread asks for none while it holds
// this and gets its own value back after.
#include "common/TimerResolution.h"

#if defined(__linux__)
#include <sys/prctl.h>
#endif

namespace edog {
namespace {
#if defined(__linux__)
thread_local unsigned long savedSlackNs = 0;
thread_local int holders = 0;
#endif
}  // namespace

FineTimerResolution::FineTimerResolution() {
#if defined(__linux__)
  if (holders == 0) {
    const int old = ::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    if (old <= 0 || ::prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0) != 0) return;
    savedSlackNs = static_cast<unsigned long>(old);
  }
  ++holders;
  held_ = true;
#endif
}

FineTimerResolution::~FineTimerResolution() {
#if defined(__linux__)
  if (held_ && --holders == 0) ::prctl(PR_SET_TIMERSLACK, savedSlackNs, 0, 0, 0);
#endif
}

}  // namespace edog
