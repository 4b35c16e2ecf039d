#include "core/clock.h"

#include <chrono>
#include <ctime>

namespace loadwing {

std::int64_t SystemClock::Now() {
  return static_cast<std::int64_t>(std::time(nullptr));
}

std::int64_t SteadyFineClock::NowMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace loadwing
