#pragma once
// The seam around time: long jobs take a Clock so tests of their waits and retries run fast.
#include <chrono>
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

// Readings of the steady clock since an arbitrary start, for code that keeps real time
// itself (the simulator, the stand-in device library). Inline: plug-ins use them too.
inline int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
inline int64_t NowUs() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace edog
