#pragma once
#include <chrono>
#include <cstdint>
#include <stdexcept>

#include "core/clock.h"

namespace loadwing::cli {

// Thrown out of the transfer when the user interrupts it: the transfer reads the clock in every
// wait, so this is the one point where it can be stopped promptly without a check of its own.
// Unwinding runs every destructor, so the port is closed and the simulated machine stopped.
class Interrupted : public std::runtime_error {
 public:
  Interrupted() : std::runtime_error("interrupted") {}
};

// Installs the handlers for Ctrl-C (and on POSIX SIGTERM and SIGHUP). The first request only
// marks it, for the transfer to stop at its next clock reading; a second one ends the process
// at once (the operating system still closes the port).
void InstallInterruptHandlers();
bool InterruptRequested();
// For tests: mark or clear the request as the handler would.
void SetInterruptRequested(bool requested);
// For the platform's handler: marks the request; true when one was marked already.
bool NoteInterruptRequest();

// The transfer's wall clock in whole seconds. A scale above 1 makes seconds pass that many times
// faster than real time: only for the simulated machine, so that its long time limits can be
// shown and tested quickly. Every reading throws Interrupted once an interrupt is requested.
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
