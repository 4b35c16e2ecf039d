#pragma once
#include <cstdint>

#include "core/clock.h"

namespace loadwing::testing {

// A clock that only moves when a test or a fake moves it. Kept in milliseconds so that fakes
// can charge realistic costs (a silent one-byte serial read costs 15 ms); Now() gives whole
// seconds like time().
class FakeClock final : public Clock {
 public:
  explicit FakeClock(std::int64_t startSeconds = 1'700'000'000) : ms_(startSeconds * 1000) {}
  std::int64_t Now() override {
    ms_ += stepMsPerRead;
    return ms_ / 1000;
  }
  void AdvanceMs(std::int64_t ms) { ms_ += ms; }
  void AdvanceSeconds(std::int64_t s) { ms_ += s * 1000; }
  std::int64_t Millis() const { return ms_; }

  // Moves the clock on at every reading: with no link open nothing else moves it, and the
  // waits bounded by it would never end.
  int stepMsPerRead = 0;

 private:
  std::int64_t ms_;
};

}  // namespace loadwing::testing
