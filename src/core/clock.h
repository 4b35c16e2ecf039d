#pragma once
#include <cstdint>

namespace loadwing {

// The wall clock in whole seconds since 1970-01-01 UTC. Every wait in the core reads it, so
// tests can run the long time limits instantly with a fake.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::int64_t Now() = 0;
};

// Microseconds of a monotonic clock, for measuring the line itself (latency, round trips) and
// stamping traces. Tests use a fake that moves only when told.
class FineClock {
 public:
  virtual ~FineClock() = default;
  virtual std::int64_t NowMicros() = 0;
};

// The standard library's steady clock.
class SteadyFineClock final : public FineClock {
 public:
  std::int64_t NowMicros() override;
};

// time() of the C library, on every platform.
class SystemClock final : public Clock {
 public:
  std::int64_t Now() override;
};

}  // namespace loadwing
