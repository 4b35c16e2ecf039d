#pragma once
#include <atomic>

namespace loadwing {

// A request to stop work in progress, set from anywhere (a signal handler, a console handler
// thread) and read by the work at each of its waits. The work decides where it can stop cleanly.
class CancellationToken {
 public:
  void Cancel() { cancelled_.store(true, std::memory_order_relaxed); }
  void Reset() { cancelled_.store(false, std::memory_order_relaxed); }
  bool Cancelled() const { return cancelled_.load(std::memory_order_relaxed); }

 private:
  // Lock-free, so that setting it is safe inside a signal handler.
  static_assert(std::atomic<bool>::is_always_lock_free);
  std::atomic<bool> cancelled_{false};
};

}  // namespace loadwing
