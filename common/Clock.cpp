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
};

}  // namespace

Clock& SystemClock() {
  static RealClock clock;
  return clock;
}

}  // namespace edog
