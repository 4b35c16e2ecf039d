#include <gtest/gtest.h>

#include <ctime>

#include "core/clock.h"
#include "fakes/fake_clock.h"

namespace loadwing {
namespace {

TEST(ClockTest, SystemClockCountsWholeSecondsLikeTime) {
  SystemClock clock;
  const std::int64_t before = static_cast<std::int64_t>(std::time(nullptr));
  const std::int64_t now = clock.Now();
  const std::int64_t after = static_cast<std::int64_t>(std::time(nullptr));
  EXPECT_LE(before, now);
  EXPECT_LE(now, after);
}

TEST(ClockTest, FakeClockTurnsMillisecondsIntoWholeSeconds) {
  testing::FakeClock clock(100);
  clock.AdvanceMs(999);
  EXPECT_EQ(clock.Now(), 100);
  clock.AdvanceMs(1);
  EXPECT_EQ(clock.Now(), 101);
}

}  // namespace
}  // namespace loadwing
