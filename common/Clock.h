#pragma once
// The seam around time: long jobs take a Clock so tests of their waits and retries run fast.
#include <cstdint>

namespace edog {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary start, wrapping like a 32-bit tick count.
  virtual uint32_t TickMs() = 0;
  virtual void SleepMs(uint32_t ms) = 0;
};

// The real clock (steady, not wall time).
Clock& SystemClock();

}  // namespace edog
