#include "cli/session_clock.h"

#include <cmath>
#include <ctime>

namespace loadwing::cli {

SessionClock::SessionClock(double scale)
    : scale_(scale < 1.0 ? 1.0 : scale),
      base_(static_cast<std::int64_t>(std::time(nullptr))),
      start_(std::chrono::steady_clock::now()) {}

std::int64_t SessionClock::Now() {
  if (scale_ == 1.0) return static_cast<std::int64_t>(std::time(nullptr));
  const std::chrono::duration<double> real = std::chrono::steady_clock::now() - start_;
  return base_ + static_cast<std::int64_t>(std::floor(real.count() * scale_));
}

}  // namespace loadwing::cli
