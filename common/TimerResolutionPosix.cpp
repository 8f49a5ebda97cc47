#include "common/TimerResolution.h"

namespace edog {

FineTimerResolution::FineTimerResolution() = default;
FineTimerResolution::~FineTimerResolution() = default;

}  // namespace edog
