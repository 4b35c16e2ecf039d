#include "cli/session_clock.h"

#include <cmath>
#include <csignal>
#include <ctime>

namespace loadwing::cli {

namespace {
volatile std::sig_atomic_t gInterruptCount = 0;
}  // namespace

bool InterruptRequested() {
  return gInterruptCount != 0;
}

void SetInterruptRequested(bool requested) {
  gInterruptCount = requested ? 1 : 0;
}

// Called by the platform's handler; returns true when this is a repeated request.
bool NoteInterruptRequest() {
  const bool repeated = gInterruptCount != 0;
  gInterruptCount = 1;
  return repeated;
}

SessionClock::SessionClock(double scale)
    : scale_(scale < 1.0 ? 1.0 : scale),
      base_(static_cast<std::int64_t>(std::time(nullptr))),
      start_(std::chrono::steady_clock::now()) {}

std::int64_t SessionClock::Now() {
  if (InterruptRequested()) throw Interrupted();
  if (scale_ == 1.0) return static_cast<std::int64_t>(std::time(nullptr));
  const std::chrono::duration<double> real = std::chrono::steady_clock::now() - start_;
  return base_ + static_cast<std::int64_t>(std::floor(real.count() * scale_));
}

}  // namespace loadwing::cli
