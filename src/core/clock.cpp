#include "core/clock.h"

#include <ctime>

namespace loadwing {

std::int64_t SystemClock::Now() {
  return static_cast<std::int64_t>(std::time(nullptr));
}

}  // namespace loadwing
