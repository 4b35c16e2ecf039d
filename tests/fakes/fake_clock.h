#pragma once
#include <cstdint>

#include "core/clock.h"

namespace loadwing::testing {

// A clock that only moves when a test or a fake moves it. Kept in microseconds (fakes charge in
// milliseconds) so that fakes can charge realistic costs (a silent one-byte serial read costs 15
// ms); Now() gives whole seconds like time().
class FakeClock final : public Clock, public FineClock {
 public:
  explicit FakeClock(std::int64_t startSeconds = 1'700'000'000) : us_(startSeconds * 1'000'000) {}
  std::int64_t Now() override {
    us_ += stepMsPerRead * 1000;
    return us_ / 1'000'000;
  }
  // The same time in microseconds, for the line's own measurements; reading it moves nothing.
  std::int64_t NowMicros() override { return us_; }
  void AdvanceMs(std::int64_t ms) { us_ += ms * 1000; }
  void AdvanceMicros(std::int64_t us) { us_ += us; }
  void AdvanceSeconds(std::int64_t s) { us_ += s * 1'000'000; }
  std::int64_t Millis() const { return us_ / 1000; }

  // Moves the clock on at every reading: with no link open nothing else moves it, and the
  // waits bounded by it would never end.
  int stepMsPerRead = 0;

 private:
  std::int64_t us_;
};

}  // namespace loadwing::testing
