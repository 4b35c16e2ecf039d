#pragma once
#include <chrono>
#include <cstdint>

#include "core/clock.h"

namespace loadwing::cli {

// The transfer's wall clock in whole seconds. A scale above 1 makes seconds pass that many times
// faster than real time: only for the simulated machine, so that its long time limits can be
// shown and tested quickly.
class SessionClock final : public Clock {
 public:
  explicit SessionClock(double scale = 1.0);
  std::int64_t Now() override;

 private:
  double scale_;
  std::int64_t base_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace loadwing::cli
