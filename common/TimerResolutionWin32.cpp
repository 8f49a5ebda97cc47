// timeBeginPeriod/timeEndPeriod (winmm, on every Windows the build targets): requests nest
// per process, so each object gives back exactly the request it made.
#include <windows.h>
#include <mmsystem.h>

#include "common/TimerResolution.h"

namespace edog {
namespace {
constexpr UINT kPeriodMs = 1;
}  // namespace

FineTimerResolution::FineTimerResolution() : held_(timeBeginPeriod(kPeriodMs) == TIMERR_NOERROR) {}

FineTimerResolution::~FineTimerResolution() {
  if (held_) timeEndPeriod(kPeriodMs);
}

}  // namespace edog
