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

// time() of the C library, on every platform.
class SystemClock final : public Clock {
 public:
  std::int64_t Now() override;
};

}  // namespace loadwing
