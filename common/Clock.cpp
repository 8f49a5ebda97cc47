#include "common/Clock.h"

#include <chrono>
#include <thread>

namespace edog {
namespace {

class RealClock final : public Clock {
 public:
  uint32_t TickMs() override { return static_cast<uint32_t>(NowMs()); }
  void SleepMs(uint32_t ms) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
  uint64_t NowUs() override { return static_cast<uint64_t>(edog::NowUs()); }
  // An absolute point on the steady clock: time spent before the sleep (building the next
  // block, reporting) counts toward the pause instead of adding to it. A sleeper wakes
  // 50 to 150 us late on an idle machine, which is a tenth of a 1 ms pause: the last
  // stretch is spun instead (a yield would hand a busy machine's other work a whole slice).
  void SleepUntilUs(uint64_t deadlineUs) override {
    constexpr uint64_t kSpinUs = 150;
    if (deadlineUs > kSpinUs) {
      std::this_thread::sleep_until(std::chrono::steady_clock::time_point(
          std::chrono::microseconds(deadlineUs - kSpinUs)));
    }
    while (NowUs() < deadlineUs) {
    }
  }
};

}  // namespace

Clock& SystemClock() {
  static RealClock clock;
  return clock;
}

}  // namespace edog
