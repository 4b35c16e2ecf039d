#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>

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
    if (us_ != lastReadUs_) {
      lastReadUs_ = us_;
      stillReads_ = 0;
    } else if (++stillReads_ > kMaxStillReads) {
      // A loop that waits on this clock while nothing moves it would never end: fail instead.
      throw std::logic_error("the fake clock was read " + std::to_string(kMaxStillReads) +
                             " times without moving: a wait under it never ends");
    }
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

  // Far more readings than any wait makes while no time passes.
  static constexpr int kMaxStillReads = 100'000;

 private:
  std::int64_t us_;
  std::int64_t lastReadUs_ = -1;
  int stillReads_ = 0;
};

}  // namespace loadwing::testing
