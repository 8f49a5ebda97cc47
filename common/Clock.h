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
  // Microseconds on the same clock, for pauses shorter than a few ticks. By default the
  // ticks in microseconds.
  virtual uint64_t NowUs() { return uint64_t{TickMs()} * 1000; }
  // Sleeps until NowUs() has reached `deadlineUs`; returns at once when it already has.
  // By default SleepMs of the time left, rounded up.
  virtual void SleepUntilUs(uint64_t deadlineUs) {
    const uint64_t now = NowUs();
    if (deadlineUs > now) SleepMs(static_cast<uint32_t>((deadlineUs - now + 999) / 1000));
  }
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
