#pragma once
// A fine system timer for as long as the object lives. Windows wakes sleepers and timed
// waits on its scheduler tick, 15.6 ms unless a program asks for less, so a 1 ms pause
// would last up to 15.6 ms; the serial download (a 1 ms pause per block) and the
// window's short message-pump waits hold one of these. Asking raises the whole system's
// timer rate, costing power, so it is held only while it is needed and always given back.
// On Linux the holding thread asks for no timer slack instead (its waits may otherwise end
// 50 us late); elsewhere nothing is asked. Hold it on the thread that waits, and drop it there.
namespace edog {

class FineTimerResolution {
 public:
  FineTimerResolution();
  ~FineTimerResolution();
  FineTimerResolution(const FineTimerResolution&) = delete;
  FineTimerResolution& operator=(const FineTimerResolution&) = delete;
  // Whether the system took the request (always false where nothing is asked).
  bool Held() const { return held_; }

 private:
  bool held_ = false;
};

}  // namespace edog
